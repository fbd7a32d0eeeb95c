#include "platform/wayland/WaylandPlatform.h"

#include "platform/wayland/DataControlPasteboard.h"
#include "platform/wayland/FakeInputKeystroke.h"
#include "platform/wayland/PlasmaWorkspace.h"
#include "platform/wayland/WlrKeystroke.h"
#include "platform/wayland/WlrWorkspace.h"

namespace quillpost {

namespace {

std::unique_ptr<WaylandWorkspace> makeWorkspace(WaylandConnection *connection, WaylandPlatform::Seams seams)
{
    if (seams == WaylandPlatform::Seams::Plasma)
        return std::make_unique<PlasmaWorkspace>(connection, WlrWorkspace::ownAppId());
    return std::make_unique<WlrWorkspace>(connection, WlrWorkspace::ownAppId());
}

// The keyboard is made now, long before the first delivery.
std::unique_ptr<WaylandKeystroke> makeKeystroke(WaylandConnection *connection, WaylandPlatform::Seams seams,
                                                WaylandWorkspace *workspace)
{
    if (seams == WaylandPlatform::Seams::Plasma)
        return std::make_unique<FakeInputKeystroke>(connection, workspace);
    return std::make_unique<WlrKeystroke>(connection, static_cast<WlrWorkspace *>(workspace));
}

// The data control pasteboard where the compositor offers data control, else null.
std::unique_ptr<DataControlPasteboard> makeDataControl()
{
    auto pasteboard = std::make_unique<DataControlPasteboard>();
    return pasteboard->isAvailable() ? std::move(pasteboard) : nullptr;
}

} // namespace

WaylandAccessibility::WaylandAccessibility(const WaylandWorkspace *workspace, const WaylandKeystroke *keystroke,
                                           const DataControlPasteboard *dataControl)
    : m_workspace(workspace), m_keystroke(keystroke), m_dataControl(dataControl)
{
}

bool WaylandAccessibility::isTrusted() const
{
    return canType() && m_dataControl && m_dataControl->isAvailable();
}

MissingTrust WaylandAccessibility::missingTrust() const
{
    return canType() ? MissingTrust::NoClipboardOwner : MissingTrust::NotOffered;
}

WaylandPlatform::Seams WaylandPlatform::seamsFor(const WaylandConnection &connection)
{
    // KWin offers no foreign toplevel management and wlroots compositors no plasma window
    // management; a compositor with both would be served fully by the wlroots seams.
    if (connection.plasmaWindowManagement() && !connection.toplevelManager())
        return Seams::Plasma;
    return Seams::Wlroots;
}

WaylandPlatform::WaylandPlatform(QObject *parent)
    : DesktopPlatform(parent), m_connection(std::make_unique<WaylandConnection>()),
      m_seams(seamsFor(*m_connection)), m_workspace(makeWorkspace(m_connection.get(), m_seams)),
      m_keystroke(makeKeystroke(m_connection.get(), m_seams, m_workspace.get())),
      m_dataControl(makeDataControl()), m_accessibility(m_workspace.get(), m_keystroke.get(), m_dataControl.get())
{
    if (m_dataControl) {
        m_pasteboard = m_dataControl.get();
    } else {
        m_clipboard = std::make_unique<ClipboardPasteboard>();
        m_pasteboard = m_clipboard.get();
    }
}

WaylandPlatform::~WaylandPlatform() = default;

} // namespace quillpost
