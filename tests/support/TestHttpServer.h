#pragma once

#include "service/Records.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QPair>
#include <QTcpServer>
#include <QTest>
#include <QUrl>

#include <chrono>
#include <functional>

class QTcpSocket;

namespace quillpost::test {

// One request as the server received it.
struct RecordedRequest
{
    QByteArray method;
    QByteArray target; // path and query, as sent
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;

    bool hasHeader(const QByteArray &name) const { return headers.contains(name.toLower()); }
    QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
};

// How the server answers one request.
struct ScriptedReply
{
    enum class Mode {
        Normal, // status line, headers, Content-Length and body
        Chunked, // the body in chunks, without Content-Length
        Stall, // status line and headers, then silence with the connection open
        Drop, // close the connection without answering
    };

    int status = 200;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    std::chrono::milliseconds delay{0}; // before anything is written
    Mode mode = Mode::Normal;
    qint64 fillerBytes = 0; // when > 0, the body is this many bytes of filler instead
    // Not answered until the test calls TestHttpServer::releaseHeld(): for replies that must
    // come after something else, however slow the machine.
    bool held = false;

    static ScriptedReply json(int status, QByteArray body) { return {status, std::move(body), {{"Content-Type", "application/json"}}}; }
    static ScriptedReply redirect(int status, const QByteArray &location) { return {status, {}, {{"Location", location}}}; }
    ScriptedReply heldBack() const { ScriptedReply copy = *this; copy.held = true; return copy; }
};

// The clip service's answers: to a poll, {"clips": [...]}, and to a save, {"clip": {...}}.
ScriptedReply clipsReply(const QList<Clip> &clips, int status = 200);
ScriptedReply savedReply(const Clip &clip);

// A small HTTP/1.1 server on 127.0.0.1 with a port chosen by the system. It records every
// request and answers from a queue of scripted replies; when the queue is empty it asks the
// handler, and without a handler it answers 404.
class TestHttpServer : public QObject
{
    Q_OBJECT

public:
    explicit TestHttpServer(QObject *parent = nullptr);
    ~TestHttpServer() override;

    quint16 port() const { return m_port; }
    QUrl origin() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port)); }

    // Refuses connections, as a service that cannot be reached, until listen() takes the same
    // port again.
    void refuse() { m_server.close(); }
    bool listen() { return m_server.listen(QHostAddress::LocalHost, m_port); }

    void enqueue(const ScriptedReply &reply) { m_queue.append(reply); }
    void setHandler(std::function<ScriptedReply(const RecordedRequest &)> handler) { m_handler = std::move(handler); }

    // Answers every held reply, in the order their requests arrived.
    void releaseHeld();

    const QList<RecordedRequest> &requests() const { return m_requests; }
    // Waits (running the event loop) until at least `count` requests have arrived.
    bool waitForRequests(qsizetype count, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return m_requests.size() >= count; }, timeoutMs);
    }

private:
    struct Connection;
    void onNewConnection();
    void processBuffer(Connection *connection);
    void answer(Connection *connection, const ScriptedReply &reply);

    QTcpServer m_server;
    quint16 m_port = 0;
    QList<ScriptedReply> m_queue;
    std::function<ScriptedReply(const RecordedRequest &)> m_handler;
    QList<RecordedRequest> m_requests;
    QHash<QTcpSocket *, Connection *> m_connections;
    QList<std::pair<QPointer<QTcpSocket>, ScriptedReply>> m_held;
};

} // namespace quillpost::test

Q_DECLARE_METATYPE(quillpost::test::ScriptedReply)
