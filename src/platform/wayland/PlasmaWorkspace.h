#pragma once

#include "platform/wayland/WaylandSeams.h"

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QStringList>

struct org_kde_plasma_window;
struct org_kde_plasma_window_management;

namespace quillpost {

class WaylandConnection;

// The workspace of KWin (KDE Plasma), through plasma window management.
//
// Every mapped window is a handle; RunningApplication::windowId is a number given to each
// handle when it appears (never 0, never reused), processId is the process that KWin says owns
// the window, and the identifier is its app_id. An activation is a window entering the active
// state (or being active when it is first announced). A window is terminated once KWin says
// it is unmapped. activate() sets the window's active state, which KWin grants.
//
// Pinning keeps our own window above the others through the same states, and puts it on all
// desktops by making it leave each one it is on (KWin 5.27 ignores the on-all-desktops state
// when asked through set_state); unpinning returns it to the desktops it was on before.
// KWin announces our window as a handle like any other; it is told apart by its process id
// (ours), having no parent window, and, where that leaves several, its title. The wish is kept
// until unpinned and applied again to the new handle each time the window is mapped anew.
//
// KWin offers the protocol only to programs whose installed desktop file allows it (see the
// README). Without it (or the connection) it never reports an activation, reports every
// application as terminated, activates nothing and cannot pin.
class PlasmaWorkspace final : public WaylandWorkspace
{
    Q_OBJECT

public:
    // `ownIdentifier`: the app_id of this program's windows (WlrWorkspace::ownAppId()).
    PlasmaWorkspace(WaylandConnection *connection, std::optional<QString> ownIdentifier, QObject *parent = nullptr);
    ~PlasmaWorkspace() override;

    bool isAvailable() const override;
    std::optional<QString> ownIdentifier() const override { return m_ownIdentifier; }
    bool isTerminated(const RunningApplication &application) const override;
    // The window KWin last reported as the active one.
    std::optional<RunningApplication> focusedApplication() const override;
    void activate(const RunningApplication &application) override;
    bool canKeepWindowsAbove() const override { return isAvailable(); }
    void setPinned(QWindow *window, bool pinned) override;
    bool isActive(const RunningApplication &application) const override;

    // The states KWin last reported for the window (org_kde_plasma_window_management.state
    // flags); absent once it is unmapped.
    std::optional<quint32> statesOf(const RunningApplication &application) const;
    // The handles that stand for `window`, a window of this process, as they are now.
    QList<RunningApplication> handlesOf(const QWindow *window) const;

private:
    struct Window
    {
        PlasmaWorkspace *workspace = nullptr;
        org_kde_plasma_window *handle = nullptr;
        quint32 id = 0;
        uint32_t compositorId = 0;
        qint64 pid = 0;
        std::optional<QString> appId;
        QString title;
        QStringList desktops; // the virtual desktops it is on (none: all)
        quint32 states = 0;
        bool announced = false; // initial_state seen: app_id, pid and states are known
        bool hasParent = false;
    };

    static void window(void *data, org_kde_plasma_window_management *, uint32_t id);
    static void windowWithUuid(void *data, org_kde_plasma_window_management *, uint32_t id, const char *uuid);
    void addWindow(uint32_t compositorId, org_kde_plasma_window *handle);
    static void titleChanged(void *data, org_kde_plasma_window *, const char *title);
    static void appIdChanged(void *data, org_kde_plasma_window *, const char *appId);
    static void stateChanged(void *data, org_kde_plasma_window *, uint32_t flags);
    static void unmapped(void *data, org_kde_plasma_window *);
    static void initialState(void *data, org_kde_plasma_window *);
    static void parentWindow(void *data, org_kde_plasma_window *, org_kde_plasma_window *parent);
    static void pidChanged(void *data, org_kde_plasma_window *, uint32_t pid);
    static void desktopEntered(void *data, org_kde_plasma_window *, const char *id);
    static void desktopLeft(void *data, org_kde_plasma_window *, const char *id);

    QList<Window *> matching(const QWindow *window) const;
    void applyPin(const Window *window, bool pinned);
    static void release(org_kde_plasma_window *handle);

    WaylandConnection *m_connection;
    std::optional<QString> m_ownIdentifier;
    QHash<quint32, Window *> m_windows; // mapped windows only
    QSet<uint32_t> m_compositorIds;      // KWin's ids of those windows
    quint32 m_nextId = 1;
    QPointer<QWindow> m_pinned; // our window that is to stay above, if any
    QStringList m_desktopsBeforePin; // where our window was before it was put on all desktops
};

} // namespace quillpost
