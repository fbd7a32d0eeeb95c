#include "platform/wayland/WaylandConnection.h"

#include "ext-data-control-v1-client-protocol.h"
#include "fake-input-client-protocol.h"
#include "plasma-window-management-client-protocol.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <QSocketNotifier>

#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quillpost {

namespace {

// The newest version of plasma window management whose events PlasmaWorkspace handles all of
// (versions 19 and 20 added none). Raise it only together with its listeners.
constexpr uint32_t plasmaWindowManagementHandled = 20;

template<typename T>
T *bind(wl_registry *registry, uint32_t name, const wl_interface *interface, uint32_t offered, uint32_t wanted)
{
    return static_cast<T *>(wl_registry_bind(registry, name, interface, std::min(offered, wanted)));
}

} // namespace

WaylandConnection::WaylandConnection(Role role, QObject *parent) : QObject(parent), m_role(role)
{
    // WAYLAND_DISPLAY, as Qt uses it.
    m_display = wl_display_connect(nullptr);
    if (!m_display)
        return;
    static const wl_registry_listener listener = {&WaylandConnection::global, &WaylandConnection::globalRemove};
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, &listener, this);
    roundtrip();
    // Every global has been announced now, in whatever order: the newer data control wins.
    if (m_extDataControl.name != 0)
        m_extDataControlManager = bind<ext_data_control_manager_v1>(
            m_registry, m_extDataControl.name, &ext_data_control_manager_v1_interface, m_extDataControl.version, 1);
    else if (m_wlrDataControl.name != 0)
        m_wlrDataControlManager = bind<zwlr_data_control_manager_v1>(
            m_registry, m_wlrDataControl.name, &zwlr_data_control_manager_v1_interface, m_wlrDataControl.version, 2);

    m_notifier = new QSocketNotifier(wl_display_get_fd(m_display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &WaylandConnection::dispatch);
}

WaylandConnection::~WaylandConnection()
{
    if (!m_display)
        return;
    if (m_extDataControlManager)
        ext_data_control_manager_v1_destroy(m_extDataControlManager);
    if (m_wlrDataControlManager)
        zwlr_data_control_manager_v1_destroy(m_wlrDataControlManager);
    if (m_plasmaWindowManagement)
        org_kde_plasma_window_management_destroy(m_plasmaWindowManagement);
    if (m_fakeInput)
        org_kde_kwin_fake_input_destroy(m_fakeInput);
    if (m_virtualKeyboardManager)
        zwp_virtual_keyboard_manager_v1_destroy(m_virtualKeyboardManager);
    if (m_toplevelManager)
        zwlr_foreign_toplevel_manager_v1_destroy(m_toplevelManager);
    if (m_seat)
        wl_seat_destroy(m_seat);
    wl_registry_destroy(m_registry);
    wl_display_flush(m_display);
    wl_display_disconnect(m_display);
}

void WaylandConnection::global(void *data, wl_registry *registry, uint32_t name, const char *interface,
                               uint32_t version)
{
    auto *self = static_cast<WaylandConnection *>(data);
    const auto is = [interface](const wl_interface &candidate) { return std::strcmp(interface, candidate.name) == 0; };
    if (is(wl_seat_interface) && !self->m_seat) {
        static const wl_seat_listener listener = {&WaylandConnection::seatCapabilitiesAnnounced,
                                                  &WaylandConnection::seatName};
        self->m_seat = bind<wl_seat>(registry, name, &wl_seat_interface, version, 1);
        wl_seat_add_listener(self->m_seat, &listener, self);
    } else if (self->m_role == Role::Clipboard) {
        if (is(ext_data_control_manager_v1_interface))
            self->m_extDataControl = {name, version};
        else if (is(zwlr_data_control_manager_v1_interface))
            self->m_wlrDataControl = {name, version};
    } else if (is(zwlr_foreign_toplevel_manager_v1_interface) && !self->m_toplevelManager) {
        self->m_toplevelManager = bind<zwlr_foreign_toplevel_manager_v1>(
            registry, name, &zwlr_foreign_toplevel_manager_v1_interface, version, 3);
    } else if (is(zwp_virtual_keyboard_manager_v1_interface) && !self->m_virtualKeyboardManager) {
        self->m_virtualKeyboardManager = bind<zwp_virtual_keyboard_manager_v1>(
            registry, name, &zwp_virtual_keyboard_manager_v1_interface, version, 1);
    } else if (is(org_kde_plasma_window_management_interface) && !self->m_plasmaWindowManagement) {
        // The newest version that both the protocol description this was built from and
        // PlasmaWorkspace know: its listeners then cover every event KWin may send.
        self->m_plasmaWindowManagement = bind<org_kde_plasma_window_management>(
            registry, name, &org_kde_plasma_window_management_interface, version,
            std::min<uint32_t>(org_kde_plasma_window_management_interface.version, plasmaWindowManagementHandled));
    } else if (is(org_kde_kwin_fake_input_interface) && !self->m_fakeInput) {
        self->m_fakeInput =
            bind<org_kde_kwin_fake_input>(registry, name, &org_kde_kwin_fake_input_interface, version, 4);
    }
}

void WaylandConnection::globalRemove(void *, wl_registry *, uint32_t)
{
    // Seats and managers are not expected to go away while the compositor runs.
}

void WaylandConnection::seatCapabilitiesAnnounced(void *data, wl_seat *, uint32_t capabilities)
{
    auto *self = static_cast<WaylandConnection *>(data);
    self->m_seatCapabilities = capabilities;
    emit self->seatCapabilitiesChanged();
}

void WaylandConnection::seatName(void *, wl_seat *, const char *)
{
    // Only sent from version 2 on; one seat is used, whatever its name.
}

void WaylandConnection::flush()
{
    if (isAlive() && wl_display_flush(m_display) < 0 && errno != EAGAIN)
        fail();
}

void WaylandConnection::roundtrip()
{
    if (isAlive() && wl_display_roundtrip(m_display) < 0)
        fail();
}

void WaylandConnection::fail()
{
    m_failed = true;
    if (m_notifier)
        m_notifier->setEnabled(false);
    emit failed();
}

void WaylandConnection::dispatch()
{
    if (!isAlive())
        return;
    // The socket is readable, so this reads without waiting, then dispatches what it read.
    if (wl_display_dispatch(m_display) < 0) {
        fail();
        return;
    }
    flush();
}

} // namespace quillpost
