#include "platform/x11/X11Platform.h"

namespace quillpost {

X11Platform::X11Platform(QObject *parent)
    : QObject(parent), m_workspace(new X11Workspace(QStringLiteral("Quillpost"), this)),
      m_keystroke(new X11Keystroke(this))
{
}

} // namespace quillpost
