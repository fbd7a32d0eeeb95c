#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

namespace quillpost {

// Thrown by the decoders below when a reply does not have the expected shape. Its description
// is meant for the user and names what was wrong and where (which field of which clip).
class DecodingError
{
public:
    explicit DecodingError(QString detail) : m_detail(std::move(detail)) {}
    QString detail() const { return m_detail; }
    QString description() const;

private:
    QString m_detail;
};

// The failure that the service client recognises itself: a sentence meant for the user, and the
// HTTP status of the service's reply that carried it (0 when no reply did).
struct APIError
{
    QString message;
    int status = 0;
    QString description() const { return message; }
};

// One text clip. JSON keys equal the field names; the order of the fields is the order of
// encoding, equality and hashing.
struct Clip
{
    QString id;
    QString title = QStringLiteral("未命名内容");
    QString rawText;
    QString optimizedText;
    QString status = QStringLiteral("ready");
    QString optimizeStatus;
    QString updatedAt;
    QString deviceName;
    bool canEdit = true;
    bool favorite = false;
    QString collaborationName;
    QString collaborationColor;

    // `where` names the clip in error descriptions, e.g. "第 3 条内容".
    static Clip fromJson(const QJsonObject &object, const QString &where = QStringLiteral("内容"));
    QJsonObject toJson() const;
    // Compact JSON with the twelve keys in declaration order (QJsonObject would sort them).
    QByteArray toJsonBytes() const;

    friend bool operator==(const Clip &, const Clip &) = default;
};

size_t qHash(const Clip &clip, size_t seed = 0) noexcept;

struct Profile
{
    QString phone;
    QString nickname;
    std::optional<QString> avatarData;

    static Profile fromJson(const QJsonObject &object, const QString &where = QStringLiteral("用户信息"));
    friend bool operator==(const Profile &, const Profile &) = default;
};

struct LoginResponse
{
    std::optional<QString> token;
    std::optional<Profile> user;
    std::optional<bool> requiresNickname;

    static LoginResponse fromJson(const QJsonObject &object);
};

struct ClipList
{
    QList<Clip> clips;

    static ClipList fromJson(const QJsonObject &object);
};

struct ClipEnvelope
{
    Clip clip;

    static ClipEnvelope fromJson(const QJsonObject &object);
};

// Reply of the send-code request. `sent` is required but nobody reads its value.
struct Result
{
    bool sent = false;

    static Result fromJson(const QJsonObject &object);
};

// Compact JSON of an object whose keys keep the given order (QJsonObject would sort them).
QByteArray orderedJsonObject(const QList<std::pair<QString, QJsonValue>> &fields);

// Parses a whole reply body as one JSON object and decodes it as `Record`.
// Throws DecodingError when the bytes are not a JSON object or the object does not fit.
QJsonObject parseJsonObject(const QByteArray &bytes);

template<typename Record>
Record decodeReply(const QByteArray &bytes)
{
    return Record::fromJson(parseJsonObject(bytes));
}

} // namespace quillpost
