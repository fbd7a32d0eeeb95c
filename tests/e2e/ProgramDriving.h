#pragma once

// What the end-to-end test needs around the built program: a screen reader that operates it
// through the accessibility bus, and a relay between the program and the local clip service.

#include "PasteTargetProcess.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

namespace quillpost::test {

// A control as a screen reader names it: its accessible name and, optionally, its role, states
// it must have, its whole text and the control (a card, say) it lies in.
struct Control
{
    QJsonObject json;

    Control &role(const char *role) { return set("role", QString::fromLatin1(role)); }
    Control &in(const QString &container) { return set("within", container); }
    Control &text(const QString &text) { return set("text", text); }
    Control &name(const QString &name) { return set("name", name); }
    Control &state(const char *state)
    {
        QJsonArray states = json.value(QLatin1String("states")).toArray();
        states.append(QString::fromLatin1(state));
        return set("states", states);
    }
    Control &set(const char *key, const QJsonValue &value)
    {
        json.insert(QLatin1String(key), value);
        return *this;
    }
};
inline Control named(const QString &name) { return Control().name(name); }
inline Control button(const QString &name) { return named(name).role("push button").state("showing"); }
inline Control field(const QString &name) { return named(name).role("text"); }
inline Control label(const QString &name) { return named(name).role("label").state("showing"); }
// A control remembered with ScreenReader::watch().
inline Control watched(const QString &id) { return Control().set("id", id); }

// tests/e2e/atspi-driver.py in a process of its own: finds controls of one application on the
// accessibility bus and operates them. Every call waits for its control (20 s unless the
// control says otherwise) and tells whether it succeeded; why() says what went wrong.
class ScreenReader
{
public:
    ~ScreenReader()
    {
        m_process.closeWriteChannel(); // it ends at the end of its input
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished();
    }

    bool start()
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(QUILLPOST_ATSPI_DRIVER)});
        return m_process.waitForStarted(10000);
    }

    bool attach(qint64 pid) { return run({{"op", "attach"}, {"pid", pid}}); }
    bool wait(const Control &control) { return run(control, "wait"); }
    bool absent(const Control &control) { return run(control, "absent"); }
    bool focused(const QString &name) { return run({{"op", "focused"}, {"name", name}}); }
    // Runs `control`'s action and waits until a pop-up menu has been shown.
    bool openMenu(const Control &control)
    {
        const int shown = m_menus;
        if (!act(control, "press") || !run({{"op", "menu"}, {"shown", shown}}))
            return false;
        m_menus = m_answer.value(QLatin1String("shown")).toInt();
        return true;
    }
    bool act(const Control &control, const char *action) { return run(Control(control).set("action", action), "act"); }
    bool setText(const Control &control, const QString &text) { return run(Control(control).set("value", text), "settext"); }
    bool watch(const Control &control, const QString &id) { return run(Control(control).set("as", id), "watch"); }

    // The controls of the given role that exist now, in the order a screen reader meets them.
    QJsonArray list(const char *role)
    {
        return run({{"op", "list"}, {"role", role}}) ? m_answer.value(QLatin1String("controls")).toArray() : QJsonArray();
    }

    // The last answer: the control's "name", "role", "states", "text" and "extents".
    const QJsonObject &answer() const { return m_answer; }
    const char *why() const { return m_why.constData(); }

private:
    bool run(Control control, const char *op) { return run(control.set("op", op).json); }
    bool run(const QJsonObject &command)
    {
        m_process.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n');
        const int timeoutMs = (command.value(QLatin1String("timeout")).toInt(20) + 20) * 1000;
        m_answer = PasteTargetProcess::waitFor([this] { return m_process.canReadLine(); }, timeoutMs)
            ? QJsonDocument::fromJson(m_process.readLine()).object()
            : QJsonObject{{"error", "the screen reader did not answer"}};
        m_why = m_answer.value(QLatin1String("error")).toString().toUtf8();
        return m_answer.value(QLatin1String("ok")).toBool();
    }

    QProcess m_process;
    QJsonObject m_answer;
    QByteArray m_why;
    int m_menus = 0;
};

// Stands between the program and the local clip service, passing bytes both ways and noting
// each request line. It can refuse connections, as a service that cannot be reached does,
// while the service and its data live on.
class ServiceRelay : public QObject
{
public:
    explicit ServiceRelay(quint16 servicePort) : m_servicePort(servicePort)
    {
        connect(&m_server, &QTcpServer::newConnection, this, &ServiceRelay::accept);
    }

    // Listens on a free loopback port, the same one again after refuse().
    bool listen()
    {
        if (!m_server.listen(QHostAddress::LocalHost, m_port))
            return false;
        m_port = m_server.serverPort();
        return true;
    }
    void refuse()
    {
        m_server.close();
        for (QTcpSocket *client : m_server.findChildren<QTcpSocket *>(QString(), Qt::FindDirectChildrenOnly))
            client->abort();
    }
    QString origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

    // How many requests so far began with `line` ("GET /api/clips", "PATCH").
    qsizetype count(const QString &line) const
    {
        return std::count_if(m_requests.cbegin(), m_requests.cend(), [&](const QString &r) { return r.startsWith(line); });
    }
    const QStringList &requests() const { return m_requests; }

    // Whether a request has waited at least `ms` for the first byte of its reply.
    bool stalled(qint64 ms) const
    {
        return std::any_of(m_waiting.cbegin(), m_waiting.cend(), [ms](const QElapsedTimer &t) { return t.hasExpired(ms); });
    }

private:
    void accept()
    {
        static const QRegularExpression requestLine(QStringLiteral("^([A-Z]+ /\\S*) HTTP/1\\.[01]\r\n"));
        while (QTcpSocket *client = m_server.nextPendingConnection()) {
            auto *service = new QTcpSocket(client);
            connect(client, &QTcpSocket::readyRead, service, [this, client, service] {
                const QByteArray data = client->readAll();
                if (const QRegularExpressionMatch line = requestLine.match(QString::fromLatin1(data)); line.hasMatch())
                    m_requests << line.captured(1);
                m_waiting[client].start();
                service->write(data);
            });
            connect(service, &QTcpSocket::readyRead, client, [this, client, service] {
                m_waiting.remove(client);
                client->write(service->readAll());
            });
            connect(service, &QTcpSocket::disconnected, client, [client] { client->disconnectFromHost(); });
            connect(service, &QTcpSocket::errorOccurred, client, [client] { client->disconnectFromHost(); });
            connect(client, &QTcpSocket::disconnected, this, [this, client] {
                m_waiting.remove(client);
                client->deleteLater();
            });
            service->connectToHost(QHostAddress::LocalHost, m_servicePort);
        }
    }

    quint16 m_servicePort;
    quint16 m_port = 0;
    QStringList m_requests; // "GET /api/clips?limit=50", in order
    QHash<QTcpSocket *, QElapsedTimer> m_waiting;
    QTcpServer m_server; // last: its connections go first, while the bookkeeping is still there
};

} // namespace quillpost::test
