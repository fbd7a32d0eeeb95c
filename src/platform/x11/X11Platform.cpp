#include "platform/x11/X11Platform.h"

namespace quillpost {

X11Platform::X11Platform(QObject *parent)
    : DesktopPlatform(parent), m_workspace(new X11Workspace(QStringLiteral("Quillpost"), this)),
      m_keystroke(new X11Keystroke(this))
{
}

} // namespace quillpost
