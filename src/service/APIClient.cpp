#include "service/APIClient.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <memory>

namespace quillpost {

namespace {

bool isLoopbackHost(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

// Errors of the connection itself, as opposed to the errors that Qt derives from an HTTP status
// (a 400 reply, for example, is reported as ProtocolInvalidOperationError).
bool isTransportError(QNetworkReply::NetworkError error)
{
    return (error > QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied)
        || error == QNetworkReply::ProtocolUnknownError || error == QNetworkReply::ProtocolFailure;
}

// "." and ".." segments would be resolved away and address another endpoint; no path of the
// service has them, so a path that does (from a clip id, say) is refused.
bool hasDotSegment(const QUrl &relative)
{
    const QStringList segments = relative.path(QUrl::PrettyDecoded).split(QLatin1Char('/'));
    return segments.contains(QLatin1String(".")) || segments.contains(QLatin1String(".."));
}

Failure failureForStatus(int status, const QByteArray &body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (document.isObject()) {
        const QJsonValue error = document.object().value(QLatin1String("error"));
        if (error.isString())
            return APIError{error.toString(), status};
    }
    return APIError{QStringLiteral("请求失败（%1）").arg(status), status};
}

} // namespace

bool APIClient::fitsInHeader(const QString &token)
{
    // The token is copied into a header line: control characters there would end the header
    // early and let the rest be read as another header.
    return std::none_of(token.cbegin(), token.cend(),
                        [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

bool APIClient::isServicePath(const QString &path)
{
    // Paths are relative references without a leading slash: "//host/…" would leave the origin.
    const QUrl relative(path, QUrl::StrictMode);
    return !path.startsWith(QLatin1Char('/')) && relative.isValid() && relative.isRelative()
        && !hasDotSegment(relative);
}

std::optional<QUrl> makeServiceURL(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty() || url.hasQuery()
        || url.hasFragment() || !(url.path().isEmpty() || url.path() == QLatin1String("/")))
        return std::nullopt;
    const QString scheme = url.scheme();
    if (scheme != QLatin1String("https") && !(scheme == QLatin1String("http") && isLoopbackHost(url.host())))
        return std::nullopt;
    QUrl origin;
    origin.setScheme(scheme);
    origin.setHost(url.host());
    origin.setPort(url.port());
    return origin;
}

APIClient::APIClient(const QUrl &serviceURL, std::optional<QString> token, QObject *parent)
    : QObject(parent)
    , token(std::move(token))
    , m_serviceURL(serviceURL)
    , m_network(new QNetworkAccessManager(this))
{
}

APIClient::~APIClient() = default;

QString APIClient::savePath(const QString &clipId)
{
    return QStringLiteral("api/clips/") + QString::fromLatin1(QUrl::toPercentEncoding(clipId));
}

QByteArray APIClient::serializeBody(const RequestBody &body)
{
    QList<std::pair<QString, QJsonValue>> fields;
    for (const auto &[key, value] : body)
        fields.append({key, value});
    return orderedJsonObject(fields);
}

void APIClient::sendCode(const QString &phone, const QObject *receiver, std::function<void(Outcome<Done>)> done)
{
    call<Result>(QStringLiteral("api/auth/sms/send"), "POST", RequestBody{{QStringLiteral("phone"), phone}},
                 receiver, [done = std::move(done)](Outcome<Result> outcome) {
                     if (outcome.ok())
                         done(Done{});
                     else
                         done(outcome.failure());
                 });
}

void APIClient::login(const QString &phone, const QString &code, const QString &nickname, const QObject *receiver,
                      std::function<void(Outcome<LoginResponse>)> done)
{
    const RequestBody body{
        {QStringLiteral("phone"), phone},
        {QStringLiteral("code"), code},
        {QStringLiteral("nickname"), nickname},
    };
    call<LoginResponse>(QStringLiteral("api/auth/phone"), "POST", body, receiver, std::move(done));
}

void APIClient::save(const Clip &clip, const QObject *receiver, std::function<void(Outcome<Clip>)> done)
{
    const RequestBody body{
        {QStringLiteral("title"), clip.title},
        {QStringLiteral("rawText"), clip.rawText},
        {QStringLiteral("optimizedText"), clip.optimizedText},
    };
    call<ClipEnvelope>(savePath(clip.id), "PATCH", body, receiver,
                       [done = std::move(done)](Outcome<ClipEnvelope> outcome) {
                           if (outcome.ok())
                               done(outcome.value().clip);
                           else
                               done(outcome.failure());
                       });
}

void APIClient::send(const QString &path, const QByteArray &method, const std::optional<RequestBody> &body,
                     const QObject *receiver, std::function<void(Outcome<QByteArray>)> done)
{
    Q_ASSERT(receiver);
    // Failures found before anything is sent are still delivered asynchronously, like every
    // other outcome, so callers never see their callback run inside their own call.
    const auto failNow = [receiver, &done](Failure failure) {
        QMetaObject::invokeMethod(
            const_cast<QObject *>(receiver),
            [done = std::move(done), failure = std::move(failure)] { done(failure); }, Qt::QueuedConnection);
    };

    if (!isServicePath(path)) {
        failNow(APIError{QStringLiteral("请求地址无效")});
        return;
    }
    if (token && !fitsInHeader(*token)) {
        failNow(APIError{QStringLiteral("登录状态无效，请重新登录")});
        return;
    }

    QNetworkRequest request(m_serviceURL.resolved(QUrl(path, QUrl::StrictMode)));
    // Qt would follow a redirect to another origin and send the bearer token along.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(int(m_idleTimeout.count()));
    request.setRawHeader("Content-Type", "application/json");
    if (token)
        request.setRawHeader("Authorization", "Bearer " + token->toUtf8());

    QNetworkReply *reply = body ? m_network->sendCustomRequest(request, method, serializeBody(*body))
                                : m_network->sendCustomRequest(request, method);

    // The reply is read as it arrives so that its size can be capped: Qt itself would buffer
    // whatever the server sends.
    struct Transfer
    {
        QByteArray data;
        bool tooLarge = false;
    };
    auto transfer = std::make_shared<Transfer>();
    const auto abortTooLarge = [reply, transfer] {
        transfer->tooLarge = true;
        transfer->data.clear();
        reply->abort();
    };
    connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, abortTooLarge] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > maxReplyBytes)
            abortTooLarge();
    });
    connect(reply, &QNetworkReply::readyRead, reply, [reply, transfer, abortTooLarge] {
        if (transfer->tooLarge)
            return;
        if (transfer->data.size() + reply->bytesAvailable() > maxReplyBytes) {
            abortTooLarge();
            return;
        }
        transfer->data += reply->readAll();
    });
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    connect(reply, &QNetworkReply::finished, receiver, [reply, transfer, done = std::move(done)] {
        if (transfer->tooLarge) {
            done(APIError{QStringLiteral("服务器返回的内容过大")});
            return;
        }
        transfer->data += reply->readAll();
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (isTransportError(reply->error())) {
            if (reply->error() == QNetworkReply::OperationCanceledError)
                // Qt reports an expired idle timeout as a cancellation.
                done(TransportError{QNetworkReply::TimeoutError, QStringLiteral("服务器长时间没有响应，请稍后再试")});
            else
                done(TransportError{reply->error(), reply->errorString()});
            return;
        }
        if (!status.isValid()) {
            done(APIError{QStringLiteral("服务器没有响应")});
            return;
        }
        const int code = status.toInt();
        if (code >= 200 && code <= 299)
            done(std::move(transfer->data));
        else
            done(failureForStatus(code, transfer->data));
    });
}

} // namespace quillpost
