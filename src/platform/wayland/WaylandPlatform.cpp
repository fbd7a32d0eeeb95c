#include "platform/wayland/WaylandPlatform.h"

#include "platform/wayland/DataControlPasteboard.h"

namespace quillpost {

WaylandPlatform::WaylandPlatform(QObject *parent)
    : DesktopPlatform(parent), m_connection(std::make_unique<WaylandConnection>()),
      m_workspace(std::make_unique<WlrWorkspace>(m_connection.get(), WlrWorkspace::ownAppId())),
      // The virtual keyboard is made now, long before the first delivery.
      m_keystroke(std::make_unique<WlrKeystroke>(m_connection.get(), m_workspace.get())),
      m_accessibility(m_workspace.get(), m_keystroke.get())
{
    if (m_connection->dataControlManager() && m_connection->seat()) {
        m_dataControl = std::make_unique<DataControlPasteboard>(m_connection.get());
        m_pasteboard = m_dataControl.get();
    } else {
        m_clipboard = std::make_unique<ClipboardPasteboard>();
        m_pasteboard = m_clipboard.get();
    }
}

WaylandPlatform::~WaylandPlatform() = default;

} // namespace quillpost
