#include "platform/gnome/GnomePlatform.h"

namespace quillpost {

GnomePlatform::GnomePlatform(SecretStore *restoreTokens, QObject *parent)
    : DesktopPlatform(parent), m_workspace(new GnomeWorkspace(this)),
      m_keystroke(new PortalKeystroke(m_workspace, restoreTokens, QDBusConnection::sessionBus(), this)),
      m_accessibility(m_keystroke)
{
}

} // namespace quillpost
