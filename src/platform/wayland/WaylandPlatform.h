#pragma once

#include "platform/DesktopPlatform.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WaylandSeams.h"
#include "platform/x11/ClipboardPasteboard.h"

#include <memory>

namespace quillpost {

class DataControlPasteboard;

// Key presses may be sent where the compositor lets us both follow the windows and type. There
// is no permission prompt: KWin's permission is the installed desktop file (see the README).
class WaylandAccessibility final : public Accessibility
{
public:
    WaylandAccessibility(const WaylandWorkspace *workspace, const WaylandKeystroke *keystroke)
        : m_workspace(workspace), m_keystroke(keystroke) {}
    bool isTrusted() const override { return m_workspace->isAvailable() && m_keystroke->isAvailable(); }
    void requestTrust() override {}

private:
    const WaylandWorkspace *m_workspace;
    const WaylandKeystroke *m_keystroke;
};

// The desktop seams of a Wayland session, over a connection of their own to the compositor.
// The protocols the compositor offers decide which seams: KWin's plasma window management and
// fake input where it offers them (KDE Plasma), else foreign toplevel management and a virtual
// keyboard (wlroots compositors); the clipboard through data control where offered (both),
// else through Qt (while a window of ours has the focus). Where neither family is offered
// there is no delivery (Accessibility is not trusted). Create it after the QApplication, which
// must run on Qt's Wayland platform.
class WaylandPlatform final : public DesktopPlatform
{
    Q_OBJECT

public:
    enum class Seams { Wlroots, Plasma };

    explicit WaylandPlatform(QObject *parent = nullptr);
    ~WaylandPlatform() override;

    Platform platform() override { return {m_pasteboard, m_workspace.get(), &m_accessibility, m_keystroke.get()}; }
    WaylandConnection *connection() const { return m_connection.get(); }
    Seams seams() const { return m_seams; }
    WaylandWorkspace *workspace() const { return m_workspace.get(); }
    WaylandKeystroke *keystroke() const { return m_keystroke.get(); }

    // The seams for a compositor that offers what `connection` found.
    static Seams seamsFor(const WaylandConnection &connection);

private:
    // Declared in the order of their dependencies: destroyed users first, the connection last.
    std::unique_ptr<WaylandConnection> m_connection;
    Seams m_seams;
    std::unique_ptr<WaylandWorkspace> m_workspace;
    std::unique_ptr<WaylandKeystroke> m_keystroke;
    WaylandAccessibility m_accessibility;
    std::unique_ptr<DataControlPasteboard> m_dataControl; // null without data control
    std::unique_ptr<ClipboardPasteboard> m_clipboard;
    Pasteboard *m_pasteboard;
};

} // namespace quillpost
