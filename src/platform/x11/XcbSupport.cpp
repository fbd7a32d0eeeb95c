#include "platform/x11/XcbSupport.h"

#include <QGuiApplication>
#include <QSysInfo>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace quillpost::x11 {

namespace {

struct FreeDeleter
{
    void operator()(void *pointer) const { std::free(pointer); }
};
template<typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

Reply<xcb_get_property_reply_t> getProperty(xcb_connection_t *connection, xcb_window_t window,
                                            xcb_atom_t property, xcb_atom_t type, uint32_t longLength)
{
    xcb_generic_error_t *error = nullptr;
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, false, window, property, type, 0, longLength), &error));
    std::free(error);
    if (!reply || reply->type == XCB_NONE)
        return nullptr;
    return reply;
}

} // namespace

xcb_connection_t *qtConnection()
{
    auto *application = qGuiApp;
    if (!application)
        return nullptr;
    auto *x11 = application->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return nullptr;
    xcb_connection_t *connection = x11->connection();
    if (!connection || xcb_connection_has_error(connection))
        return nullptr;
    return connection;
}

xcb_atom_t internAtom(xcb_connection_t *connection, const char *name)
{
    xcb_generic_error_t *error = nullptr;
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, false, uint16_t(std::strlen(name)), name), &error));
    std::free(error);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

std::optional<QByteArray> byteProperty(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t property)
{
    // 1024 longs (4 KiB) is far more than a class or host name needs.
    auto reply = getProperty(connection, window, property, XCB_GET_PROPERTY_TYPE_ANY, 1024);
    if (!reply || reply->format != 8)
        return std::nullopt;
    return QByteArray(static_cast<const char *>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

std::optional<quint32> cardinalProperty(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t property,
                                        xcb_atom_t type)
{
    auto reply = getProperty(connection, window, property, type, 1);
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4)
        return std::nullopt;
    return *static_cast<const quint32 *>(xcb_get_property_value(reply.get()));
}

QList<quint32> listProperty(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t property, xcb_atom_t type)
{
    // 4096 values are more than any client list or window state holds.
    auto reply = getProperty(connection, window, property, type, 4096);
    if (!reply || reply->format != 32)
        return {};
    const auto *data = static_cast<const quint32 *>(xcb_get_property_value(reply.get()));
    return QList<quint32>(data, data + xcb_get_property_value_length(reply.get()) / 4);
}

void sendToWindowManager(xcb_connection_t *connection, xcb_window_t root, xcb_window_t window, xcb_atom_t type,
                         std::initializer_list<quint32> data)
{
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    std::copy_n(data.begin(), std::min<std::size_t>(data.size(), 5), event.data.data32);
    xcb_send_event(connection, false, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
    xcb_flush(connection);
}

qint64 localProcessId(xcb_connection_t *connection, xcb_window_t window)
{
    const xcb_atom_t netWmPid = internAtom(connection, "_NET_WM_PID");
    const auto pid = cardinalProperty(connection, window, netWmPid, XCB_ATOM_CARDINAL);
    if (!pid || *pid == 0)
        return 0;
    if (const auto machine = byteProperty(connection, window, XCB_ATOM_WM_CLIENT_MACHINE)) {
        const QByteArray host = QByteArray(*machine).split('\0').value(0);
        if (!host.isEmpty() && QString::fromLatin1(host) != QSysInfo::machineHostName())
            return 0;
    }
    return qint64(*pid);
}

std::optional<TreePosition> treePosition(xcb_connection_t *connection, xcb_window_t window)
{
    xcb_generic_error_t *error = nullptr;
    Reply<xcb_query_tree_reply_t> reply(
        xcb_query_tree_reply(connection, xcb_query_tree(connection, window), &error));
    std::free(error);
    if (!reply)
        return std::nullopt;
    return TreePosition{reply->root, reply->parent};
}

} // namespace quillpost::x11
