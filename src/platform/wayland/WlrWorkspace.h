#pragma once

#include "platform/wayland/WaylandSeams.h"

#include <QHash>

struct wl_array;
struct zwlr_foreign_toplevel_handle_v1;
struct zwlr_foreign_toplevel_manager_v1;

namespace quillpost {

class WaylandConnection;

// The workspace of a wlroots compositor (sway, Hyprland, river, Wayfire, labwc), through
// foreign toplevel management.
//
// Every toplevel window is a handle; RunningApplication::windowId is a number given to each
// handle when it appears (never 0, never reused), processId is 0 (the protocol has none), and
// the identifier is the window's app_id. An activation is a handle entering the activated
// state, seen when the compositor ends a batch of changes with `done`. A handle is terminated
// once the compositor says it is closed. activate() asks the compositor to focus the window on
// our seat.
//
// Without the protocol (or the connection) it never reports an activation, reports every
// application as terminated and activates nothing.
class WlrWorkspace final : public WaylandWorkspace
{
    Q_OBJECT

public:
    // `ownIdentifier`: the app_id of this program's windows (ownAppId()).
    WlrWorkspace(WaylandConnection *connection, std::optional<QString> ownIdentifier, QObject *parent = nullptr);
    ~WlrWorkspace() override;

    // The app_id that Qt gives this program's windows: the desktop file name without
    // ".desktop" when one is set, else the executable's name (after the reversed organisation
    // domain, when there is one).
    static QString ownAppId();

    bool isAvailable() const override;
    std::optional<QString> ownIdentifier() const override { return m_ownIdentifier; }
    bool isTerminated(const RunningApplication &application) const override;
    // The window in the activated state, as the compositor last told.
    std::optional<RunningApplication> focusedApplication() const override;
    void activate(const RunningApplication &application) override;
    bool canKeepWindowsAbove() const override { return false; }

    bool isActive(const RunningApplication &application) const override;

private:
    struct Toplevel
    {
        WlrWorkspace *workspace = nullptr;
        zwlr_foreign_toplevel_handle_v1 *handle = nullptr;
        quint32 id = 0;
        std::optional<QString> appId;
        bool activated = false;        // as of the last `done`
        bool pendingActivated = false; // as of the last `state`
    };

    static void toplevel(void *data, zwlr_foreign_toplevel_manager_v1 *, zwlr_foreign_toplevel_handle_v1 *handle);
    static void finished(void *data, zwlr_foreign_toplevel_manager_v1 *);
    static void handleAppId(void *data, zwlr_foreign_toplevel_handle_v1 *, const char *appId);
    static void handleState(void *data, zwlr_foreign_toplevel_handle_v1 *, wl_array *state);
    static void handleDone(void *data, zwlr_foreign_toplevel_handle_v1 *);
    static void handleClosed(void *data, zwlr_foreign_toplevel_handle_v1 *);

    WaylandConnection *m_connection;
    std::optional<QString> m_ownIdentifier;
    QHash<quint32, Toplevel *> m_toplevels; // open windows only
    quint32 m_nextId = 1;
    bool m_finished = false;
};

} // namespace quillpost
