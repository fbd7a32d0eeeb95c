#include "DevService.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

namespace quillpost::test {

QJsonObject HttpReply::json() const
{
    return QJsonDocument::fromJson(body).object();
}

QStringList testArguments(QStringList more)
{
    return QStringList{QStringLiteral("--fixed-code"), QStringLiteral("123456"), QStringLiteral("--faults")} + more;
}

DevService::DevService(QStringList arguments) : m_arguments(std::move(arguments))
{
    if (!m_arguments.contains(QStringLiteral("--db")))
        m_arguments << QStringLiteral("--db") << QStringLiteral(":memory:");
    m_process.setProgram(QStringLiteral(QUILLPOST_DEVSERVICE));
    m_process.setArguments(QStringList{QStringLiteral("--port"), QStringLiteral("0")} + m_arguments);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

DevService::~DevService()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_network.clearConnectionCache();
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool DevService::start()
{
    m_process.start();
    if (!m_process.waitForStarted(5000))
        return false;
    const QDeadlineTimer deadline(10000);
    while (!m_output.contains('\n') && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(int(deadline.remainingTime()));
        m_output += m_process.readAllStandardOutput();
    }
    const QString first = QString::fromUtf8(m_output.left(m_output.indexOf('\n')));
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^quillpost-devservice listening on http://127\\.0\\.0\\.1:(\\d+)/$")).match(first);
    m_port = match.hasMatch() ? match.captured(1).toUShort() : 0;
    return m_port != 0;
}

bool DevService::stop()
{
    // Closed connections let the service stop at once instead of after its grace period.
    m_network.clearConnectionCache();
    m_process.terminate();
    return m_process.waitForFinished(10000) && m_process.exitStatus() == QProcess::NormalExit
        && m_process.exitCode() == 0;
}

QUrl DevService::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(m_port) + path);
}

QStringList DevService::console()
{
    m_process.waitForReadyRead(50);
    m_output += m_process.readAllStandardOutput();
    return QString::fromUtf8(m_output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

namespace {

QList<QPair<QByteArray, QByteArray>> bearer(const QString &token)
{
    if (token.isEmpty())
        return {};
    return {{"Authorization", "Bearer " + token.toUtf8()}};
}

} // namespace

HttpReply DevService::request(const QByteArray &method, const QString &path, const QByteArray &body,
                              const QList<QPair<QByteArray, QByteArray>> &headers)
{
    QNetworkRequest request(url(path));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    QNetworkReply *reply = m_network.sendCustomRequest(request, method, body);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    HttpReply result;
    if (!reply->isFinished() && !finished.wait(15000)) {
        reply->abort();
        result.error = QNetworkReply::TimeoutError;
    } else {
        result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        result.error = reply->error();
        result.body = reply->readAll();
    }
    reply->deleteLater();
    return result;
}

HttpReply DevService::get(const QString &path, const QString &token)
{
    return request("GET", path, {}, bearer(token));
}

HttpReply DevService::send(const QByteArray &method, const QString &path, const QJsonObject &body,
                           const QString &token)
{
    return request(method, path, QJsonDocument(body).toJson(QJsonDocument::Compact), bearer(token));
}

HttpReply DevService::sendRaw(const QByteArray &method, const QString &path, const QByteArray &body,
                              const QString &token)
{
    return request(method, path, body, bearer(token));
}

QString DevService::signIn(const QString &phone, const QString &nickname)
{
    send("POST", QStringLiteral("api/auth/sms/send"), {{"phone", phone}});
    const HttpReply reply =
        send("POST", QStringLiteral("api/auth/phone"), {{"phone", phone}, {"code", "123456"}, {"nickname", nickname}});
    return reply.json().value(QStringLiteral("token")).toString();
}

} // namespace quillpost::test
