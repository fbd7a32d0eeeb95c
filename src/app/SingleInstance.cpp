#include "app/SingleInstance.h"

#include <QDir>
#include <QEventLoop>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

#include <array>

namespace quillpost {

namespace {

constexpr int connectTimeoutMs = 500;
// Longer than any request; a peer that sends more without a line end is not one of ours.
constexpr qint64 maxRequestLength = 64;
const QByteArray showRequest = "show\n";
const QByteArray pasteLatestRequest = "paste-latest\n";

struct Answer
{
    PasteLatestResult result;
    const char *word;
};
constexpr std::array<Answer, 4> answers{{{PasteLatestResult::Pasted, "pasted"},
                                         {PasteLatestResult::SignedOut, "signed-out"},
                                         {PasteLatestResult::NoClip, "no-clip"},
                                         {PasteLatestResult::Refused, "refused"}}};

QString socketPath(const QString &name)
{
    // The runtime directory belongs to the user and lives as long as the session.
    QString directory = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (directory.isEmpty())
        directory = QDir::tempPath();
    return QDir(directory).filePath(name + QStringLiteral(".socket"));
}

// The answer's line, or nothing for results that only the asking side sees.
QByteArray encodeReply(const PasteLatestReply &reply)
{
    for (const Answer &answer : answers) {
        if (answer.result != reply.result)
            continue;
        QByteArray line = answer.word;
        const QString detail = reply.detail.simplified(); // one line, whatever it held
        if (!detail.isEmpty())
            line += ' ' + detail.toUtf8();
        return line + '\n';
    }
    return {};
}

PasteLatestReply decodeReply(QByteArray line)
{
    line.chop(1); // the line end
    const qsizetype space = line.indexOf(' ');
    const QByteArray word = space < 0 ? line : line.left(space);
    for (const Answer &answer : answers) {
        if (word == answer.word)
            return {answer.result, space < 0 ? QString() : QString::fromUtf8(line.mid(space + 1))};
    }
    return {PasteLatestResult::NoAnswer, {}};
}

} // namespace

SingleInstance::SingleInstance(const QString &name, QObject *parent) : QObject(parent), m_name(name) {}

bool SingleInstance::notifyRunningInstance()
{
    QLocalSocket socket;
    socket.connectToServer(socketPath(m_name));
    if (!socket.waitForConnected(connectTimeoutMs))
        return false;
    socket.write(showRequest);
    socket.waitForBytesWritten(connectTimeoutMs);
    socket.disconnectFromServer();
    return true;
}

PasteLatestReply SingleInstance::requestPasteLatest(std::chrono::milliseconds timeout)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath(m_name));
    if (!socket.waitForConnected(connectTimeoutMs))
        return {PasteLatestResult::NoInstance, {}};
    socket.write(pasteLatestRequest);

    // An event loop rather than the blocking waits: the instance may be served by this very
    // thread (as in tests).
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(&socket, &QLocalSocket::readyRead, &loop, [&socket, &loop] {
        if (socket.canReadLine())
            loop.quit();
    });
    connect(&socket, &QLocalSocket::disconnected, &loop, &QEventLoop::quit);
    deadline.start(timeout);
    loop.exec();
    return socket.canReadLine() ? decodeReply(socket.readLine()) : PasteLatestReply{};
}

bool SingleInstance::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    const QString path = socketPath(m_name);
    if (!m_server->listen(path)) {
        // A socket file left by an instance that crashed: nobody answered on it.
        QLocalServer::removeServer(path);
        if (!m_server->listen(path))
            return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { serve(socket); });
        }
    });
    return true;
}

void SingleInstance::setPasteLatestHandler(QObject *context, std::function<PasteLatestReply()> handler)
{
    m_handlerContext = context;
    m_pasteLatestHandler = std::move(handler);
}

void SingleInstance::serve(QLocalSocket *socket)
{
    while (socket->canReadLine()) {
        const QByteArray line = socket->readLine();
        if (line == showRequest) {
            emit activationRequested();
            continue;
        }
        const QByteArray answer = line == pasteLatestRequest && m_handlerContext && m_pasteLatestHandler
            ? encodeReply(m_pasteLatestHandler())
            : QByteArray();
        if (answer.isEmpty()) {
            socket->disconnectFromServer();
            return;
        }
        socket->write(answer);
    }
    if (socket->bytesAvailable() > maxRequestLength)
        socket->disconnectFromServer();
}

} // namespace quillpost
