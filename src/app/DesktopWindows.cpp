#include "app/DesktopWindows.h"

#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace quillpost {

namespace {

xcb_connection_t *x11Connection()
{
    const auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow(xcb_connection_t *connection)
{
    return xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
}

xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(strlen(name)), name), nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// Reads a property of 32-bit values (windows, cardinals, atoms).
QList<std::uint32_t> property32(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t name, xcb_atom_t type)
{
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection, xcb_get_property(connection, 0, window, name, type, 0, 4096), nullptr),
        &std::free);
    QList<std::uint32_t> values;
    if (!reply || reply->format != 32)
        return values;
    const auto *data = static_cast<const std::uint32_t *>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    values.reserve(count);
    for (int i = 0; i < count; ++i)
        values.append(data[i]);
    return values;
}

void sendToRoot(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t type,
                std::initializer_list<std::uint32_t> data)
{
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    int i = 0;
    for (std::uint32_t value : data)
        event.data.data32[i++] = value;
    xcb_send_event(connection, 0, rootWindow(connection),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
}

constexpr std::uint32_t stateRemove = 0;
constexpr std::uint32_t stateAdd = 1;
constexpr std::uint32_t sourceApplication = 1;
constexpr std::uint32_t iconicState = 3;
constexpr std::uint32_t allDesktops = 0xFFFFFFFF;

} // namespace

void DesktopWindows::setPinned(QWidget *window, bool pinned)
{
    QWindow *handle = window ? window->windowHandle() : nullptr;
    if (!handle)
        return;
    // Qt keeps "above" across hiding and showing when it is one of the window's flags; changing
    // the flag on the QWindow (not the widget) does not re-create the window.
    handle->setFlag(Qt::WindowStaysOnTopHint, pinned);
    xcb_connection_t *connection = x11Connection();
    if (!connection)
        return;
    const auto id = xcb_window_t(handle->winId());
    // Window managers say "on every desktop" in one of two ways: the sticky state (KWin, Mutter,
    // Xfwm) or the desktop number 0xFFFFFFFF (openbox and most others); ask for both.
    sendToRoot(connection, id, atom(connection, "_NET_WM_STATE"),
               {pinned ? stateAdd : stateRemove, atom(connection, "_NET_WM_STATE_STICKY"), 0, sourceApplication});
    const QList<std::uint32_t> current = property32(connection, rootWindow(connection),
                                                    atom(connection, "_NET_CURRENT_DESKTOP"), XCB_ATOM_CARDINAL);
    if (pinned || !current.isEmpty())
        sendToRoot(connection, id, atom(connection, "_NET_WM_DESKTOP"),
                   {pinned ? allDesktops : current.first(), sourceApplication});
    xcb_flush(connection);
}

void DesktopWindows::hideOthers(const QWidget *own)
{
    xcb_connection_t *connection = x11Connection();
    if (!connection)
        return;
    const xcb_window_t root = rootWindow(connection);
    const QList<std::uint32_t> current
        = property32(connection, root, atom(connection, "_NET_CURRENT_DESKTOP"), XCB_ATOM_CARDINAL);
    const xcb_atom_t desktopAtom = atom(connection, "_NET_WM_DESKTOP");
    const xcb_atom_t stateAtom = atom(connection, "_NET_WM_STATE");
    const xcb_atom_t hiddenAtom = atom(connection, "_NET_WM_STATE_HIDDEN");
    const xcb_atom_t pidAtom = atom(connection, "_NET_WM_PID");
    const xcb_atom_t changeState = atom(connection, "WM_CHANGE_STATE");
    const auto ownId = own && own->windowHandle() ? std::uint32_t(own->windowHandle()->winId()) : 0u;
    const auto ownPid = std::uint32_t(QCoreApplication::applicationPid());

    for (std::uint32_t window :
         property32(connection, root, atom(connection, "_NET_CLIENT_LIST"), XCB_ATOM_WINDOW)) {
        if (window == ownId || property32(connection, window, pidAtom, XCB_ATOM_CARDINAL).value(0) == ownPid)
            continue;
        const QList<std::uint32_t> desktop = property32(connection, window, desktopAtom, XCB_ATOM_CARDINAL);
        if (!current.isEmpty() && !desktop.isEmpty() && desktop.first() != current.first()
            && desktop.first() != allDesktops)
            continue;
        if (property32(connection, window, stateAtom, XCB_ATOM_ATOM).contains(hiddenAtom))
            continue;
        sendToRoot(connection, window, changeState, {iconicState});
        if (!m_hidden.contains(window))
            m_hidden.append(window);
    }
    xcb_flush(connection);
}

void DesktopWindows::showAll()
{
    xcb_connection_t *connection = x11Connection();
    if (!connection)
        return;
    const QList<std::uint32_t> clients
        = property32(connection, rootWindow(connection), atom(connection, "_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
    for (std::uint32_t window : std::as_const(m_hidden)) {
        // Mapping an iconified client asks the window manager to restore it.
        if (clients.contains(window))
            xcb_map_window(connection, window);
    }
    m_hidden.clear();
    xcb_flush(connection);
}

} // namespace quillpost
