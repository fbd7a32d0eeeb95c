#include "support/TestHttpServer.h"

#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <utility>

namespace quillpost::test {

struct TestHttpServer::Connection
{
    QTcpSocket *socket = nullptr;
    QByteArray buffer;
    bool busy = false; // a reply is pending; later requests wait in the buffer
};

ScriptedReply clipsReply(const QList<Clip> &clips, int status)
{
    QByteArrayList items;
    for (const Clip &clip : clips)
        items << clip.toJsonBytes();
    return ScriptedReply::json(status, "{\"clips\":[" + items.join(',') + "]}");
}

ScriptedReply savedReply(const Clip &clip)
{
    return ScriptedReply::json(200, "{\"clip\":" + clip.toJsonBytes() + "}");
}

TestHttpServer::TestHttpServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &TestHttpServer::onNewConnection);
    if (!listen())
        qFatal("TestHttpServer: cannot listen on 127.0.0.1");
    m_port = m_server.serverPort();
}

TestHttpServer::~TestHttpServer()
{
    // The sockets are children of m_server and die after this body; they must not call back.
    for (auto it = m_connections.cbegin(); it != m_connections.cend(); ++it) {
        it.key()->disconnect(this);
        delete it.value();
    }
    m_connections.clear();
}

void TestHttpServer::releaseHeld()
{
    const auto held = std::exchange(m_held, {});
    for (const auto &[socket, reply] : held)
        if (socket)
            answer(m_connections.value(socket), reply);
}

void TestHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        auto *connection = new Connection{socket, {}, false};
        m_connections.insert(socket, connection);
        connect(socket, &QTcpSocket::readyRead, this, [this, connection] {
            connection->buffer += connection->socket->readAll();
            processBuffer(connection);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            delete m_connections.take(socket);
            socket->deleteLater();
        });
    }
}

void TestHttpServer::processBuffer(Connection *connection)
{
    while (!connection->busy) {
        const qsizetype headerEnd = connection->buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QList<QByteArray> lines = connection->buffer.left(headerEnd).split('\n');
        RecordedRequest request;
        const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
        request.method = requestLine.value(0);
        request.target = requestLine.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0) {
                // Only the separator blank and the line end are dropped: trailing blanks of a
                // value are significant for the tests.
                QByteArray value = lines[i].mid(colon + 1);
                if (value.endsWith('\r'))
                    value.chop(1);
                if (value.startsWith(' '))
                    value.remove(0, 1);
                request.headers.insert(lines[i].left(colon).trimmed().toLower(), value);
            }
        }
        const qsizetype length = request.header("content-length").toLongLong();
        if (connection->buffer.size() < headerEnd + 4 + length)
            return;
        request.body = connection->buffer.mid(headerEnd + 4, length);
        connection->buffer.remove(0, headerEnd + 4 + length);

        m_requests.append(request);
        ScriptedReply reply;
        if (!m_queue.isEmpty())
            reply = m_queue.takeFirst();
        else if (m_handler)
            reply = m_handler(request);
        else
            reply = ScriptedReply::json(404, R"({"error":"no scripted reply"})");

        connection->busy = true;
        if (reply.held) {
            m_held.append({connection->socket, reply});
        } else if (reply.delay.count() > 0) {
            QPointer<QTcpSocket> socket = connection->socket;
            QTimer::singleShot(reply.delay, this, [this, socket, reply] {
                if (socket)
                    answer(m_connections.value(socket), reply);
            });
        } else {
            QTcpSocket *socket = connection->socket;
            answer(connection, reply);
            // A dropped connection is closed at once, and its Connection is deleted with it.
            if (!m_connections.contains(socket))
                return;
        }
    }
}

void TestHttpServer::answer(Connection *connection, const ScriptedReply &reply)
{
    if (!connection)
        return;
    QTcpSocket *socket = connection->socket;
    if (reply.mode == ScriptedReply::Mode::Drop) {
        socket->abort();
        return;
    }
    const QByteArray body = reply.fillerBytes > 0 ? QByteArray(reply.fillerBytes, 'x') : reply.body;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + " Scripted\r\n";
    for (const auto &[name, value] : reply.headers)
        head += name + ": " + value + "\r\n";
    if (reply.mode == ScriptedReply::Mode::Chunked)
        head += "Transfer-Encoding: chunked\r\n";
    else if (reply.mode == ScriptedReply::Mode::Normal)
        head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    head += "\r\n";
    socket->write(head);

    switch (reply.mode) {
    case ScriptedReply::Mode::Normal:
        socket->write(body);
        break;
    case ScriptedReply::Mode::Chunked: {
        constexpr qsizetype chunk = 64 * 1024;
        for (qsizetype offset = 0; offset < body.size(); offset += chunk) {
            const QByteArray piece = body.mid(offset, chunk);
            socket->write(QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n");
        }
        socket->write("0\r\n\r\n");
        break;
    }
    case ScriptedReply::Mode::Stall:
        return; // stays busy: the connection never answers anything else
    case ScriptedReply::Mode::Drop:
        break;
    }
    connection->busy = false;
    processBuffer(connection);
}

} // namespace quillpost::test
