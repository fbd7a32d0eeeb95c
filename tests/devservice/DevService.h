#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>

#include <memory>

#include <signal.h>
#include <sys/prctl.h>

namespace quillpost::test {

// One reply as a plain HTTP client sees it.
struct HttpReply
{
    int status = 0; // 0: no HTTP reply (see `error`)
    QNetworkReply::NetworkError error = QNetworkReply::TimeoutError;
    QByteArray body;
    const QJsonObject json() const { return QJsonDocument::fromJson(body).object(); } // empty when not an object
    QString errorText() const { return json().value(QStringLiteral("error")).toString(); }
};

// quillpost-devservice run as a child process on a free port, with a blocking HTTP client
// for it. Without "--db" in `arguments` it keeps its data in memory.
class DevService
{
public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    explicit DevService(QStringList arguments = {}) : m_arguments(std::move(arguments)) {}
    ~DevService() { stop(); }

    // Starts the process and reads its port from the first line of its output.
    bool start()
    {
        if (!m_arguments.contains(QStringLiteral("--db")))
            m_arguments << QStringLiteral("--db") << QStringLiteral(":memory:");
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // The service ends with the test process, also when a test crashes.
        m_process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_process.start(QStringLiteral(QUILLPOST_DEVSERVICE), QStringList{"--port", "0"} + m_arguments);
        while (!m_output.contains('\n') && m_process.waitForReadyRead(10000))
            m_output += m_process.readAllStandardOutput();
        const QRegularExpression first(QStringLiteral("^quillpost-devservice listening on http://127\\.0\\.0\\.1:(\\d+)/\n"));
        m_port = first.match(QString::fromUtf8(m_output)).captured(1).toUShort();
        return m_port != 0;
    }

    // Ends it with SIGTERM; true when it exited normally with code 0.
    bool stop()
    {
        // Closed connections let the service stop at once instead of after its grace period.
        m_network.clearConnectionCache();
        m_process.terminate();
        return m_process.waitForFinished(10000) && m_process.exitStatus() == QProcess::NormalExit && !m_process.exitCode();
    }

    QUrl url(const QString &path) const { return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(m_port) + path); }

    // Everything the service printed so far, one entry per line.
    QStringList console()
    {
        m_process.waitForReadyRead(50);
        m_output += m_process.readAllStandardOutput();
        return QString::fromUtf8(m_output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // Sends "Content-Type: application/json" and the given headers.
    HttpReply request(const QByteArray &method, const QString &path, const QByteArray &body = {},
                      const Headers &headers = {})
    {
        QNetworkRequest request(url(path));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        for (const auto &[name, value] : headers)
            request.setRawHeader(name, value);
        const std::unique_ptr<QNetworkReply> reply(m_network.sendCustomRequest(request, method, body));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        if (!reply->isFinished() && !finished.wait(15000))
            return {}; // deleting the reply aborts it
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->error(), reply->readAll()};
    }
    HttpReply get(const QString &path, const QString &token = {}) { return request("GET", path, {}, bearer(token)); }
    HttpReply send(const QByteArray &method, const QString &path, const QJsonObject &body, const QString &token = {})
    {
        return request(method, path, QJsonDocument(body).toJson(QJsonDocument::Compact), bearer(token));
    }
    // "Authorization: Bearer `token`", or nothing for an empty token.
    static Headers bearer(const QString &token)
    {
        return token.isEmpty() ? Headers() : Headers{{"Authorization", "Bearer " + token.toUtf8()}};
    }

    // Requests a code and signs in with "123456" (the service must run with --fixed-code 123456);
    // gives the token, or an empty text on failure.
    QString signIn(const QString &phone, const QString &nickname = QStringLiteral("测试用户"))
    {
        send("POST", QStringLiteral("api/auth/sms/send"), {{"phone", phone}});
        const QJsonObject body{{"phone", phone}, {"code", "123456"}, {"nickname", nickname}};
        return send("POST", QStringLiteral("api/auth/phone"), body).json().value(QStringLiteral("token")).toString();
    }

private:
    QStringList m_arguments;
    QProcess m_process;
    QNetworkAccessManager m_network;
    QByteArray m_output;
    quint16 m_port = 0;
};

// The standard arguments of tests that sign in: the code is always 123456 and the script
// endpoint is on.
inline QStringList testArguments(QStringList more = {})
{
    return QStringList{QStringLiteral("--fixed-code"), QStringLiteral("123456"), QStringLiteral("--faults")} + more;
}

// The demo account's clips, whose new clips get their optimized text 300 ms after they arrive.
inline QStringList demoArguments()
{
    return testArguments({QStringLiteral("--seed"), QStringLiteral("demo"), QStringLiteral("--optimize-delay-ms"),
                          QStringLiteral("300")});
}

} // namespace quillpost::test
