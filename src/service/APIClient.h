#pragma once

#include "service/Outcome.h"
#include "service/Records.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

class QNetworkAccessManager;

namespace quillpost {

// A request body: text keys with text values, serialised in this order.
using RequestBody = QList<QPair<QString, QString>>;

// Checks a service origin: https, or http on a loopback host; scheme and host (and port) only.
// Returns the origin as a URL, or nothing when it is invalid or not allowed.
std::optional<QUrl> makeServiceURL(const QString &text);

// The program's one way to the clip service. Every request goes through one
// QNetworkAccessManager; every outcome is delivered on the GUI thread to a callback that is
// bound to a receiver object and is never run once that receiver is gone.
class APIClient : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds defaultIdleTimeout{20000};
    static constexpr qint64 maxReplyBytes = 8 * 1024 * 1024;

    APIClient(const QUrl &serviceURL, std::optional<QString> token, QObject *parent = nullptr);
    ~APIClient() override;

    // The session token sent as a bearer token while present. Read when a request is built.
    std::optional<QString> token;

    QUrl serviceURL() const { return m_serviceURL; }
    // The longest wait without any data before a request is given up (20 s in the program).
    void setIdleTimeout(std::chrono::milliseconds timeout) { m_idleTimeout = timeout; }

    // The generic request: `path` is relative to the service origin ("api/clips?limit=50").
    template<typename Record>
    void call(const QString &path, const QByteArray &method, const std::optional<RequestBody> &body,
              const QObject *receiver, std::function<void(Outcome<Record>)> done)
    {
        send(path, method, body, receiver, [done = std::move(done)](Outcome<QByteArray> raw) {
            if (!raw.ok()) {
                done(raw.failure());
                return;
            }
            try {
                done(decodeReply<Record>(raw.value()));
            } catch (const DecodingError &error) {
                done(Failure(error));
            }
        });
    }

    void sendCode(const QString &phone, const QObject *receiver, std::function<void(Outcome<Done>)> done);
    void login(const QString &phone, const QString &code, const QString &nickname, const QObject *receiver,
               std::function<void(Outcome<LoginResponse>)> done);
    // Sends the clip's title, rawText and optimizedText; gives back the clip the service returns.
    void save(const Clip &clip, const QObject *receiver, std::function<void(Outcome<Clip>)> done);

    // Whether `token` can be sent as the bearer token: no control characters. Requests with a
    // token that cannot are refused before anything is sent.
    static bool fitsInHeader(const QString &token);

    // Whether `path` can be sent: a relative reference without a leading slash and without "."
    // or ".." segments, so that it resolves to a path below the service origin. Requests with
    // any other path are refused before anything is sent.
    static bool isServicePath(const QString &path);

    // The save path of a clip: the id is one percent-encoded path segment.
    static QString savePath(const QString &clipId);
    static QByteArray serializeBody(const RequestBody &body);

private:
    void send(const QString &path, const QByteArray &method, const std::optional<RequestBody> &body,
              const QObject *receiver, std::function<void(Outcome<QByteArray>)> done);

    QUrl m_serviceURL;
    QNetworkAccessManager *m_network;
    std::chrono::milliseconds m_idleTimeout = defaultIdleTimeout;
};

} // namespace quillpost
