#include "app/DesktopWindows.h"

#include "platform/x11/XcbSupport.h"

#include <QCoreApplication>
#include <QWindow>

namespace quillpost {

namespace {

xcb_window_t rootWindow(xcb_connection_t *connection)
{
    return xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
}

constexpr quint32 stateRemove = 0;
constexpr quint32 stateAdd = 1;
constexpr quint32 sourceApplication = 1;
constexpr quint32 iconicState = 3;
constexpr quint32 allDesktops = 0xFFFFFFFF;

} // namespace

void DesktopWindows::setPinned(QWidget *window, bool pinned)
{
    QWindow *handle = window ? window->windowHandle() : nullptr;
    if (!handle)
        return;
    // Qt keeps "above" across hiding and showing when it is one of the window's flags; changing
    // the flag on the QWindow (not the widget) does not re-create the window.
    handle->setFlag(Qt::WindowStaysOnTopHint, pinned);
    xcb_connection_t *connection = x11::qtConnection();
    if (!connection)
        return;
    const auto id = xcb_window_t(handle->winId());
    const xcb_window_t root = rootWindow(connection);
    // Window managers say "on every desktop" in one of two ways: the sticky state (KWin, Mutter,
    // Xfwm) or the desktop number 0xFFFFFFFF (openbox and most others); ask for both.
    x11::sendToWindowManager(connection, root, id, x11::internAtom(connection, "_NET_WM_STATE"),
                             {pinned ? stateAdd : stateRemove, x11::internAtom(connection, "_NET_WM_STATE_STICKY"), 0,
                              sourceApplication});
    const auto current = x11::cardinalProperty(connection, root, x11::internAtom(connection, "_NET_CURRENT_DESKTOP"),
                                               XCB_ATOM_CARDINAL);
    if (pinned || current)
        x11::sendToWindowManager(connection, root, id, x11::internAtom(connection, "_NET_WM_DESKTOP"),
                                 {pinned ? allDesktops : *current, sourceApplication});
}

void DesktopWindows::hideOthers(const QWidget *own)
{
    xcb_connection_t *connection = x11::qtConnection();
    if (!connection)
        return;
    const xcb_window_t root = rootWindow(connection);
    const auto current = x11::cardinalProperty(connection, root, x11::internAtom(connection, "_NET_CURRENT_DESKTOP"),
                                               XCB_ATOM_CARDINAL);
    const xcb_atom_t desktopAtom = x11::internAtom(connection, "_NET_WM_DESKTOP");
    const xcb_atom_t stateAtom = x11::internAtom(connection, "_NET_WM_STATE");
    const xcb_atom_t hiddenAtom = x11::internAtom(connection, "_NET_WM_STATE_HIDDEN");
    const xcb_atom_t changeState = x11::internAtom(connection, "WM_CHANGE_STATE");
    const auto ownId = own && own->windowHandle() ? quint32(own->windowHandle()->winId()) : 0u;
    const auto ownPid = qint64(QCoreApplication::applicationPid());

    const xcb_atom_t clientList = x11::internAtom(connection, "_NET_CLIENT_LIST");
    for (quint32 window : x11::listProperty(connection, root, clientList, XCB_ATOM_WINDOW)) {
        if (window == ownId || x11::localProcessId(connection, window) == ownPid)
            continue;
        const auto desktop = x11::cardinalProperty(connection, window, desktopAtom, XCB_ATOM_CARDINAL);
        if (current && desktop && *desktop != *current && *desktop != allDesktops)
            continue;
        if (x11::listProperty(connection, window, stateAtom, XCB_ATOM_ATOM).contains(hiddenAtom))
            continue;
        x11::sendToWindowManager(connection, root, window, changeState, {iconicState});
        if (!m_hidden.contains(window))
            m_hidden.append(window);
    }
}

void DesktopWindows::showAll()
{
    xcb_connection_t *connection = x11::qtConnection();
    if (!connection)
        return;
    const QList<quint32> clients = x11::listProperty(connection, rootWindow(connection),
                                                     x11::internAtom(connection, "_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
    for (quint32 window : std::as_const(m_hidden)) {
        // Mapping an iconified client asks the window manager to restore it.
        if (clients.contains(window))
            xcb_map_window(connection, window);
    }
    m_hidden.clear();
    xcb_flush(connection);
}

} // namespace quillpost
