#pragma once

#include <QObject>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct zwlr_foreign_toplevel_manager_v1;
struct zwp_virtual_keyboard_manager_v1;
struct zwlr_data_control_manager_v1;
struct ext_data_control_manager_v1;
struct org_kde_plasma_window_management;
struct org_kde_kwin_fake_input;

class QSocketNotifier;

namespace quillpost {

// A Wayland connection of this program's own to the compositor that Qt talks to, with the
// globals that its role needs, each null when the compositor does not offer it:
// - Delivery: the first seat, foreign toplevel management and the virtual keyboard manager
//   (wlroots compositors), plasma window management and fake input (KWin);
// - Clipboard: the first seat and data control, ext_data_control_manager_v1 wherever the
//   compositor offers it (wlroots 0.19, KWin 6), else zwlr_data_control_manager_v1, which it
//   replaces. Only one of the two is bound.
//
// Why not Qt's own wl_display: Qt 6.4 reads its connection on an event thread of its own and
// dispatches only its own queues; objects of ours there would need a private event queue that
// nothing in Qt dispatches. A second connection is read and dispatched by a QSocketNotifier
// like any other socket, in the thread the connection object lives in (the GUI thread, unless
// it is moved), and a protocol error on it (which ends a Wayland connection) disables what
// uses it instead of ending the program.
//
// The users of the globals add their listeners, send their requests, then call flush().
// Events are dispatched in the connection's thread as they arrive. Once the connection fails,
// every global stays as it is but no further events arrive; isAlive() tells, and failed() is
// emitted once.
class WaylandConnection final : public QObject
{
    Q_OBJECT

public:
    enum class Role { Delivery, Clipboard };

    explicit WaylandConnection(Role role = Role::Delivery, QObject *parent = nullptr);
    ~WaylandConnection() override;

    bool isAlive() const { return m_display != nullptr && !m_failed; }
    wl_display *display() const { return m_display; }
    wl_seat *seat() const { return m_seat; }
    // The seat's capabilities as last announced (wl_seat.capability bits).
    uint32_t seatCapabilities() const { return m_seatCapabilities; }
    zwlr_foreign_toplevel_manager_v1 *toplevelManager() const { return m_toplevelManager; }
    zwp_virtual_keyboard_manager_v1 *virtualKeyboardManager() const { return m_virtualKeyboardManager; }
    zwlr_data_control_manager_v1 *wlrDataControlManager() const { return m_wlrDataControlManager; }
    ext_data_control_manager_v1 *extDataControlManager() const { return m_extDataControlManager; }
    org_kde_plasma_window_management *plasmaWindowManagement() const { return m_plasmaWindowManagement; }
    org_kde_kwin_fake_input *fakeInput() const { return m_fakeInput; }

    // Sends the requests made so far.
    void flush();
    // Waits (blocking, for set-up only) until the compositor has handled every request so far
    // and every event it sent before has been dispatched.
    void roundtrip();

signals:
    void seatCapabilitiesChanged();
    void failed();

private:
    struct Offer
    {
        uint32_t name = 0;
        uint32_t version = 0;
    };

    void dispatch();
    void fail();
    static void global(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t version);
    static void globalRemove(void *data, wl_registry *registry, uint32_t name);
    static void seatCapabilitiesAnnounced(void *data, wl_seat *seat, uint32_t capabilities);
    static void seatName(void *data, wl_seat *seat, const char *name);

    Role m_role;
    wl_display *m_display = nullptr;
    wl_registry *m_registry = nullptr;
    wl_seat *m_seat = nullptr;
    uint32_t m_seatCapabilities = 0;
    zwlr_foreign_toplevel_manager_v1 *m_toplevelManager = nullptr;
    zwp_virtual_keyboard_manager_v1 *m_virtualKeyboardManager = nullptr;
    Offer m_wlrDataControl;
    Offer m_extDataControl;
    zwlr_data_control_manager_v1 *m_wlrDataControlManager = nullptr;
    ext_data_control_manager_v1 *m_extDataControlManager = nullptr;
    org_kde_plasma_window_management *m_plasmaWindowManagement = nullptr;
    org_kde_kwin_fake_input *m_fakeInput = nullptr;
    QSocketNotifier *m_notifier = nullptr;
    bool m_failed = false;
};

} // namespace quillpost
