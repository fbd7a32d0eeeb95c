#pragma once

#include "platform/DesktopPlatform.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WlrKeystroke.h"
#include "platform/wayland/WlrWorkspace.h"
#include "platform/x11/ClipboardPasteboard.h"

#include <memory>

namespace quillpost {

class DataControlPasteboard;

// Key presses may be sent where the compositor lets us both follow the windows and type:
// foreign toplevel management and a virtual keyboard (wlroots compositors). There is no
// permission prompt.
class WaylandAccessibility final : public Accessibility
{
public:
    WaylandAccessibility(const WlrWorkspace *workspace, const WlrKeystroke *keystroke)
        : m_workspace(workspace), m_keystroke(keystroke) {}
    bool isTrusted() const override { return m_workspace->isAvailable() && m_keystroke->isAvailable(); }
    void requestTrust() override {}

private:
    const WlrWorkspace *m_workspace;
    const WlrKeystroke *m_keystroke;
};

// The desktop seams of a Wayland session, over a connection of their own to the compositor.
// What works depends on the protocols the compositor offers: on wlroots compositors,
// everything; elsewhere the clipboard (through Qt, while a window of ours has the focus) and
// no delivery (Accessibility is not trusted). Create it after the QApplication, which must run
// on Qt's Wayland platform.
class WaylandPlatform final : public DesktopPlatform
{
    Q_OBJECT

public:
    explicit WaylandPlatform(QObject *parent = nullptr);
    ~WaylandPlatform() override;

    Platform platform() override { return {m_pasteboard, m_workspace.get(), &m_accessibility, m_keystroke.get()}; }
    WaylandConnection *connection() const { return m_connection.get(); }
    WlrWorkspace *workspace() const { return m_workspace.get(); }
    WlrKeystroke *keystroke() const { return m_keystroke.get(); }

private:
    // Declared in the order of their dependencies: destroyed users first, the connection last.
    std::unique_ptr<WaylandConnection> m_connection;
    std::unique_ptr<WlrWorkspace> m_workspace;
    std::unique_ptr<WlrKeystroke> m_keystroke;
    WaylandAccessibility m_accessibility;
    std::unique_ptr<DataControlPasteboard> m_dataControl;
    std::unique_ptr<ClipboardPasteboard> m_clipboard;
    Pasteboard *m_pasteboard;
};

} // namespace quillpost
