#include "platform/x11/X11Workspace.h"

#include "platform/x11/XcbSupport.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <signal.h>

namespace quillpost {

namespace {

// ICCCM WM_STATE values.
constexpr quint32 withdrawnState = 0;

// Sender of an EWMH request: 2 means a pager or similar tool acting for the user, which window
// managers honour without focus-stealing prevention.
constexpr quint32 sourceIndicationPager = 2;

bool processIsGone(qint64 pid)
{
    return pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

} // namespace

X11Workspace::X11Workspace(std::optional<QString> ownIdentifier, QObject *parent)
    : Workspace(parent), m_ownIdentifier(std::move(ownIdentifier))
{
    xcb_connection_t *connection = x11::qtConnection();
    if (!connection)
        return;
    m_netActiveWindow = x11::internAtom(connection, "_NET_ACTIVE_WINDOW");
    m_wmState = x11::internAtom(connection, "WM_STATE");

    // Qt already listens to property changes on the roots; add the bit if it ever stops, keeping
    // whatever else Qt selected.
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(connection)); it.rem; xcb_screen_next(&it)) {
        const xcb_window_t root = it.data->root;
        m_roots.push_back(root);
        xcb_generic_error_t *error = nullptr;
        xcb_get_window_attributes_reply_t *attributes = xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, root), &error);
        std::free(error);
        if (attributes && !(attributes->your_event_mask & XCB_EVENT_MASK_PROPERTY_CHANGE)) {
            const uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_PROPERTY_CHANGE;
            xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
        }
        std::free(attributes);
    }
    xcb_flush(connection);
    QCoreApplication::instance()->installNativeEventFilter(this);
    m_available = true;
}

bool X11Workspace::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
        return false;
    const auto *notify = static_cast<const xcb_property_notify_event_t *>(message);
    if (notify->atom == m_netActiveWindow && notify->state == XCB_PROPERTY_NEW_VALUE
        && std::find(m_roots.begin(), m_roots.end(), notify->window) != m_roots.end()) {
        if (const auto application = activeApplication(notify->window))
            emit applicationActivated(*application);
    }
    return false; // Qt handles the event as usual
}

std::optional<RunningApplication> X11Workspace::activeApplication(quint32 root) const
{
    xcb_connection_t *connection = x11::qtConnection();
    if (!connection)
        return std::nullopt;
    const auto window = x11::cardinalProperty(connection, root, m_netActiveWindow, XCB_ATOM_WINDOW);
    if (!window || *window == XCB_NONE)
        return std::nullopt;

    RunningApplication application;
    application.windowId = *window;
    application.processId = x11::localProcessId(connection, *window);
    // WM_CLASS holds two NUL-terminated Latin-1 strings: the instance name, then the class.
    if (const auto wmClass = x11::byteProperty(connection, *window, XCB_ATOM_WM_CLASS)) {
        const QList<QByteArray> parts = wmClass->split('\0');
        if (parts.size() >= 2 && !parts.at(1).isEmpty())
            application.identifier = QString::fromLatin1(parts.at(1));
    }
    return application;
}

std::optional<RunningApplication> X11Workspace::focusedApplication() const
{
    for (const quint32 root : m_roots) {
        if (auto application = activeApplication(root))
            return application;
    }
    return std::nullopt;
}

bool X11Workspace::isTerminated(const RunningApplication &application) const
{
    xcb_connection_t *connection = x11::qtConnection();
    if (!m_available || !connection)
        return true;
    if (processIsGone(application.processId))
        return true;
    // A destroyed window has no WM_STATE; a closed-but-kept window is withdrawn.
    const auto state = x11::cardinalProperty(connection, application.windowId, m_wmState, m_wmState);
    return !state || *state == withdrawnState;
}

void X11Workspace::activate(const RunningApplication &application)
{
    xcb_connection_t *connection = x11::qtConnection();
    if (!m_available || !connection)
        return;
    const auto position = x11::treePosition(connection, application.windowId);
    if (!position)
        return;
    x11::sendToWindowManager(connection, position->root, application.windowId, m_netActiveWindow,
                             {sourceIndicationPager, XCB_CURRENT_TIME, XCB_NONE});
}

} // namespace quillpost
