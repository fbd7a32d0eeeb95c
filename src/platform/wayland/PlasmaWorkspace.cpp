#include "platform/wayland/PlasmaWorkspace.h"

#include "platform/wayland/WaylandConnection.h"

#include "plasma-window-management-client-protocol.h"

#include <QCoreApplication>
#include <QWindow>

#include <wayland-client.h>

namespace quillpost {

namespace {

constexpr quint32 keepAbove = ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_KEEP_ABOVE;

void ignoreOrder(void *, org_kde_plasma_window_management *, wl_array *) {}
void ignoreUuidOrder(void *, org_kde_plasma_window_management *, const char *) {}
void ignoreShowDesktop(void *, org_kde_plasma_window_management *, uint32_t) {}
void ignoreText(void *, org_kde_plasma_window *, const char *) {}
void ignoreNumber(void *, org_kde_plasma_window *, int32_t) {}
void ignoreEvent(void *, org_kde_plasma_window *) {}
void ignoreGeometry(void *, org_kde_plasma_window *, int32_t, int32_t, uint32_t, uint32_t) {}
void ignoreMenu(void *, org_kde_plasma_window *, const char *, const char *) {}

#ifdef ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STACKING_ORDER_CHANGED_2_SINCE_VERSION
void ignoreStackingOrder(void *, org_kde_plasma_window_management *) {}
#endif

} // namespace

PlasmaWorkspace::PlasmaWorkspace(WaylandConnection *connection, std::optional<QString> ownIdentifier, QObject *parent)
    : WaylandWorkspace(parent), m_connection(connection), m_ownIdentifier(std::move(ownIdentifier))
{
    if (!m_connection->plasmaWindowManagement())
        return;
    // The listeners are generated from the installed protocol description, to which newer
    // plasma-wayland-protocols add events: each event it describes gets a handler (those of
    // later versions where it has them), and WaylandConnection binds no newer version than the
    // one whose events are handled here.
    static const org_kde_plasma_window_management_listener listener = [] {
        org_kde_plasma_window_management_listener events{};
        events.show_desktop_changed = &ignoreShowDesktop;
        events.window = &PlasmaWorkspace::window;
        events.stacking_order_changed = &ignoreOrder;
        events.stacking_order_uuid_changed = &ignoreUuidOrder;
        events.window_with_uuid = &PlasmaWorkspace::windowWithUuid;
#ifdef ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STACKING_ORDER_CHANGED_2_SINCE_VERSION
        events.stacking_order_changed_2 = &ignoreStackingOrder;
#endif
        return events;
    }();
    org_kde_plasma_window_management_add_listener(m_connection->plasmaWindowManagement(), &listener, this);
    // KWin announces the windows that exist now, then each one's state: the active one counts
    // as activated.
    m_connection->roundtrip();
    m_connection->roundtrip();
}

PlasmaWorkspace::~PlasmaWorkspace()
{
    for (Window *window : std::as_const(m_windows)) {
        release(window->handle);
        delete window;
    }
    if (m_connection->plasmaWindowManagement())
        org_kde_plasma_window_management_set_user_data(m_connection->plasmaWindowManagement(), nullptr);
    m_connection->flush();
}

void PlasmaWorkspace::release(org_kde_plasma_window *handle)
{
    if (org_kde_plasma_window_get_version(handle) >= ORG_KDE_PLASMA_WINDOW_DESTROY_SINCE_VERSION)
        org_kde_plasma_window_destroy(handle);
    else
        wl_proxy_destroy(reinterpret_cast<wl_proxy *>(handle));
}

bool PlasmaWorkspace::isAvailable() const
{
    return m_connection->plasmaWindowManagement() && m_connection->isAlive();
}

void PlasmaWorkspace::window(void *data, org_kde_plasma_window_management *manager, uint32_t id)
{
    auto *self = static_cast<PlasmaWorkspace *>(data);
    if (self && !self->m_compositorIds.contains(id))
        self->addWindow(id, org_kde_plasma_window_management_get_window(manager, id));
}

void PlasmaWorkspace::windowWithUuid(void *data, org_kde_plasma_window_management *manager, uint32_t id,
                                     const char *uuid)
{
    auto *self = static_cast<PlasmaWorkspace *>(data);
    if (self && !self->m_compositorIds.contains(id))
        self->addWindow(id, org_kde_plasma_window_management_get_window_by_uuid(manager, uuid));
}

void PlasmaWorkspace::addWindow(uint32_t compositorId, org_kde_plasma_window *handle)
{
    static const org_kde_plasma_window_listener listener = [] {
        org_kde_plasma_window_listener events{};
        events.title_changed = &PlasmaWorkspace::titleChanged;
        events.app_id_changed = &PlasmaWorkspace::appIdChanged;
        events.state_changed = &PlasmaWorkspace::stateChanged;
        events.virtual_desktop_changed = &ignoreNumber;
        events.themed_icon_name_changed = &ignoreText;
        events.unmapped = &PlasmaWorkspace::unmapped;
        events.initial_state = &PlasmaWorkspace::initialState;
        events.parent_window = &PlasmaWorkspace::parentWindow;
        events.geometry = &ignoreGeometry;
        events.icon_changed = &ignoreEvent;
        events.pid_changed = &PlasmaWorkspace::pidChanged;
        events.virtual_desktop_entered = &PlasmaWorkspace::desktopEntered;
        events.virtual_desktop_left = &PlasmaWorkspace::desktopLeft;
        events.application_menu = &ignoreMenu;
        events.activity_entered = &ignoreText;
        events.activity_left = &ignoreText;
        events.resource_name_changed = &ignoreText;
#ifdef ORG_KDE_PLASMA_WINDOW_CLIENT_GEOMETRY_SINCE_VERSION
        events.client_geometry = &ignoreGeometry;
#endif
        return events;
    }();
    auto *window = new Window;
    window->workspace = this;
    window->handle = handle;
    window->id = m_nextId++;
    window->compositorId = compositorId;
    m_windows.insert(window->id, window);
    m_compositorIds.insert(compositorId);
    org_kde_plasma_window_add_listener(handle, &listener, window);
    m_connection->flush();
}

void PlasmaWorkspace::titleChanged(void *data, org_kde_plasma_window *, const char *title)
{
    static_cast<Window *>(data)->title = QString::fromUtf8(title);
}

void PlasmaWorkspace::appIdChanged(void *data, org_kde_plasma_window *, const char *appId)
{
    auto *window = static_cast<Window *>(data);
    const QString value = QString::fromUtf8(appId);
    window->appId = value.isEmpty() ? std::nullopt : std::optional(value);
}

void PlasmaWorkspace::pidChanged(void *data, org_kde_plasma_window *, uint32_t pid)
{
    static_cast<Window *>(data)->pid = qint64(pid);
}

void PlasmaWorkspace::desktopEntered(void *data, org_kde_plasma_window *, const char *id)
{
    auto *window = static_cast<Window *>(data);
    const QString desktop = QString::fromUtf8(id);
    if (!window->desktops.contains(desktop))
        window->desktops << desktop;
}

void PlasmaWorkspace::desktopLeft(void *data, org_kde_plasma_window *, const char *id)
{
    static_cast<Window *>(data)->desktops.removeAll(QString::fromUtf8(id));
}

void PlasmaWorkspace::parentWindow(void *data, org_kde_plasma_window *, org_kde_plasma_window *parent)
{
    static_cast<Window *>(data)->hasParent = parent != nullptr;
}

void PlasmaWorkspace::stateChanged(void *data, org_kde_plasma_window *, uint32_t flags)
{
    auto *window = static_cast<Window *>(data);
    const bool entered = (flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE)
                         && !(window->states & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE);
    window->states = flags;
    // Before initial_state the window's app_id and process may not be known yet: its
    // activation is reported then.
    if (entered && window->announced)
        emit window->workspace->applicationActivated(RunningApplication{window->id, window->pid, window->appId});
}

void PlasmaWorkspace::initialState(void *data, org_kde_plasma_window *)
{
    auto *window = static_cast<Window *>(data);
    window->announced = true;
    PlasmaWorkspace *self = window->workspace;
    if (self->m_pinned && self->matching(self->m_pinned).contains(window))
        self->applyPin(window, true);
    if (window->states & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE)
        emit self->applicationActivated(RunningApplication{window->id, window->pid, window->appId});
}

void PlasmaWorkspace::unmapped(void *data, org_kde_plasma_window *handle)
{
    auto *window = static_cast<Window *>(data);
    window->workspace->m_windows.remove(window->id);
    window->workspace->m_compositorIds.remove(window->compositorId);
    release(handle);
    delete window;
}

bool PlasmaWorkspace::isTerminated(const RunningApplication &application) const
{
    return !isAvailable() || !m_windows.contains(application.windowId);
}

bool PlasmaWorkspace::isActive(const RunningApplication &application) const
{
    const Window *window = m_windows.value(application.windowId);
    return isAvailable() && window && (window->states & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE);
}

std::optional<RunningApplication> PlasmaWorkspace::focusedApplication() const
{
    if (!isAvailable())
        return std::nullopt;
    for (const Window *window : m_windows) {
        if (window->announced && (window->states & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE))
            return RunningApplication{window->id, window->pid, window->appId};
    }
    return std::nullopt;
}

std::optional<quint32> PlasmaWorkspace::statesOf(const RunningApplication &application) const
{
    const Window *window = m_windows.value(application.windowId);
    return window && isAvailable() ? std::optional(window->states) : std::nullopt;
}

void PlasmaWorkspace::activate(const RunningApplication &application)
{
    const Window *window = m_windows.value(application.windowId);
    if (!isAvailable() || !window)
        return;
    org_kde_plasma_window_set_state(window->handle, ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE,
                                    ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE);
    m_connection->flush();
}

QList<PlasmaWorkspace::Window *> PlasmaWorkspace::matching(const QWindow *window) const
{
    QList<Window *> candidates;
    if (!window)
        return candidates;
    const qint64 ownPid = QCoreApplication::applicationPid();
    for (Window *candidate : std::as_const(m_windows)) {
        if (candidate->announced && candidate->pid == ownPid && !candidate->hasParent)
            candidates << candidate;
    }
    // Qt adds the application's name to a window's title; dialogs have a parent already.
    if (candidates.size() > 1 && !window->title().isEmpty()) {
        QList<Window *> titled;
        for (Window *candidate : std::as_const(candidates)) {
            if (candidate->title.startsWith(window->title()))
                titled << candidate;
        }
        if (!titled.isEmpty())
            return titled;
    }
    return candidates;
}

QList<RunningApplication> PlasmaWorkspace::handlesOf(const QWindow *window) const
{
    QList<RunningApplication> handles;
    for (const Window *found : matching(window))
        handles << RunningApplication{found->id, found->pid, found->appId};
    return handles;
}

void PlasmaWorkspace::applyPin(const Window *window, bool pinned)
{
    org_kde_plasma_window_set_state(window->handle, keepAbove, pinned ? keepAbove : 0);
    if (org_kde_plasma_window_get_version(window->handle)
        >= ORG_KDE_PLASMA_WINDOW_REQUEST_LEAVE_VIRTUAL_DESKTOP_SINCE_VERSION) {
        if (pinned) {
            // A window on no desktop in particular is on all of them.
            if (!window->desktops.isEmpty())
                m_desktopsBeforePin = window->desktops;
            for (const QString &desktop : window->desktops)
                org_kde_plasma_window_request_leave_virtual_desktop(window->handle, desktop.toUtf8().constData());
        } else if (window->desktops.isEmpty()) {
            for (const QString &desktop : std::as_const(m_desktopsBeforePin))
                org_kde_plasma_window_request_enter_virtual_desktop(window->handle, desktop.toUtf8().constData());
        }
    }
    m_connection->flush();
}

void PlasmaWorkspace::setPinned(QWindow *window, bool pinned)
{
    if (!window)
        return;
    if (pinned)
        m_pinned = window;
    else if (m_pinned == window)
        m_pinned = nullptr;
    if (!isAvailable())
        return;
    for (const Window *found : matching(window))
        applyPin(found, pinned);
}

} // namespace quillpost
