#pragma once

#include <QByteArray>
#include <QList>

#include <xcb/xcb.h>

#include <initializer_list>
#include <optional>

// Small synchronous helpers over an xcb connection. Every request that can fail takes the
// error back through its reply, so that a window that vanished in the meantime never shows up
// as an X error on Qt's connection.
namespace quillpost::x11 {

// Qt's own connection when the application runs on the xcb platform with a live connection;
// null otherwise (offscreen, Wayland, no GUI application).
xcb_connection_t *qtConnection();

xcb_atom_t internAtom(xcb_connection_t *connection, const char *name);

// The raw bytes of a property of 8-bit format, or absent when the window or property is missing.
std::optional<QByteArray> byteProperty(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t property);

// The first 32-bit value of a property of the given type, or absent.
std::optional<quint32> cardinalProperty(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t property,
                                        xcb_atom_t type);

// All 32-bit values (windows, atoms, cardinals) of a property of the given type; empty when the
// window or property is missing.
QList<quint32> listProperty(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t property, xcb_atom_t type);

// Sends a 32-bit client message about `window` to `root`, the way window-manager requests
// (EWMH, ICCCM) are made, and flushes the connection.
void sendToWindowManager(xcb_connection_t *connection, xcb_window_t root, xcb_window_t window, xcb_atom_t type,
                         std::initializer_list<quint32> data);

// The process of a window from _NET_WM_PID, or 0 when it has none or the window belongs to a
// client on another host (WM_CLIENT_MACHINE names another machine), where the number means
// nothing here.
qint64 localProcessId(xcb_connection_t *connection, xcb_window_t window);

// The parent and root of a window, or absent when the window is gone.
struct TreePosition
{
    xcb_window_t root;
    xcb_window_t parent;
};
std::optional<TreePosition> treePosition(xcb_connection_t *connection, xcb_window_t window);

} // namespace quillpost::x11
