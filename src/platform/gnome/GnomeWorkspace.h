#pragma once

#include "platform/Workspace.h"

#include <QList>
#include <QPointer>
#include <QTimer>

namespace quillpost {

// The workspace of a GNOME Wayland session, where this program runs as an X11 client under
// XWayland. GNOME lets no program see or activate other applications' windows; all it can tell
// is whether one of our own windows is the active one.
//
// - When our program stops being the active application, the window that took the focus
//   becomes the target: it is reported as focusedWindow(), an application with no identifier,
//   process or window of its own, which never terminates. When ours becomes active, that is
//   reported as our own activation.
// - activate() cannot raise another window. While one of our windows is active, it hides all of
//   our windows instead, so that mutter gives the focus back to the window that had it before;
//   otherwise the focus stays where it is. The keystroke that follows shows them again without
//   taking the focus (restoreWindows()); a delivery that posts no keystroke gets them back
//   after restoreDelay.
// - Pinning is left to the window hints (mutter honours keep-above for X11 windows).
class GnomeWorkspace final : public Workspace
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds restoreDelay{2000};

    explicit GnomeWorkspace(QObject *parent = nullptr);

    // The window that has the focus, whichever it is.
    static RunningApplication focusedWindow();
    // True while one of this program's windows has the focus.
    static bool isOwnWindowActive();

    std::optional<QString> ownIdentifier() const override { return QStringLiteral("Quillpost"); }
    bool isTerminated(const RunningApplication &) const override { return false; }
    // focusedWindow() while none of our windows has the focus; nothing while one has it.
    std::optional<RunningApplication> focusedApplication() const override;
    void activate(const RunningApplication &application) override;

    // A keystroke takes over the hidden windows: they stay hidden until restoreWindows().
    void holdWindows();
    // Shows the windows that activate() hid, without giving them the focus.
    void restoreWindows();

private:
    void applicationStateChanged(Qt::ApplicationState state);

    QList<QPointer<QWindow>> m_hidden;
    QTimer m_restoreTimer;
    bool m_wasActive = false;
};

} // namespace quillpost
