#pragma once

#include "platform/DesktopPlatform.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WaylandSeams.h"
#include "platform/x11/ClipboardPasteboard.h"

#include <memory>

namespace quillpost {

class DataControlPasteboard;

// Key presses may be sent where the compositor lets us follow the windows, type, and hold the
// clipboard while another window has the focus (data control): without the last, the keys
// would paste whatever the clipboard held before, so the text is only copied. There is no
// permission prompt: KWin's permission is the installed desktop file (see the README).
// `dataControl` is null where the compositor offers no data control.
class WaylandAccessibility final : public Accessibility
{
public:
    WaylandAccessibility(const WaylandWorkspace *workspace, const WaylandKeystroke *keystroke,
                         const DataControlPasteboard *dataControl);
    bool isTrusted() const override;
    void requestTrust() override {}
    // NotOffered where we cannot type into other windows, else NoClipboardOwner.
    MissingTrust missingTrust() const override;

private:
    bool canType() const { return m_workspace->isAvailable() && m_keystroke->isAvailable(); }

    const WaylandWorkspace *m_workspace;
    const WaylandKeystroke *m_keystroke;
    const DataControlPasteboard *m_dataControl;
};

// The desktop seams of a Wayland session, over a connection of their own to the compositor.
// The protocols the compositor offers decide which seams: KWin's plasma window management and
// fake input where it offers them (KDE Plasma), else foreign toplevel management and a virtual
// keyboard (wlroots compositors); the clipboard through data control where offered (both),
// else through Qt (while a window of ours has the focus). Where neither family or no data
// control is offered there is no delivery (Accessibility is not trusted): texts are only
// copied. Create it after the QApplication, which must run on Qt's Wayland platform.
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
    std::unique_ptr<DataControlPasteboard> m_dataControl; // null without data control
    WaylandAccessibility m_accessibility;
    std::unique_ptr<ClipboardPasteboard> m_clipboard;
    Pasteboard *m_pasteboard;
};

} // namespace quillpost
