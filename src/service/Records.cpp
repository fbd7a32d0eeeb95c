#include "service/Records.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace quillpost {

namespace {

QString typeName(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Bool: return QStringLiteral("布尔值");
    case QJsonValue::Double: return QStringLiteral("数字");
    case QJsonValue::String: return QStringLiteral("文本");
    case QJsonValue::Array: return QStringLiteral("数组");
    case QJsonValue::Object: return QStringLiteral("对象");
    case QJsonValue::Null: return QStringLiteral("null");
    case QJsonValue::Undefined: break;
    }
    return QStringLiteral("空值");
}

// Reads the fields of one JSON object by the decoding rules shared by all records:
// a missing or null key takes the default (or fails when the field is required);
// a present value of another JSON type fails the whole decoding.
class FieldReader
{
public:
    FieldReader(const QJsonObject &object, QString where) : m_object(object), m_where(std::move(where)) {}

    QString text(const char *key, const QString &fallback) const
    {
        return optionalText(key).value_or(fallback);
    }

    QString requiredText(const char *key) const
    {
        const auto value = optionalText(key);
        if (!value)
            throw missing(key);
        return *value;
    }

    std::optional<QString> optionalText(const char *key) const
    {
        const QJsonValue value = m_object.value(QLatin1String(key));
        if (isAbsent(value))
            return std::nullopt;
        if (!value.isString())
            throw wrongType(key, QStringLiteral("文本"), value);
        return value.toString();
    }

    std::optional<bool> optionalFlag(const char *key) const
    {
        const QJsonValue value = m_object.value(QLatin1String(key));
        if (isAbsent(value))
            return std::nullopt;
        if (!value.isBool())
            throw wrongType(key, QStringLiteral("布尔值"), value);
        return value.toBool();
    }

    bool requiredFlag(const char *key) const
    {
        const auto value = optionalFlag(key);
        if (!value)
            throw missing(key);
        return *value;
    }

    std::optional<QJsonObject> optionalObject(const char *key) const
    {
        const QJsonValue value = m_object.value(QLatin1String(key));
        if (isAbsent(value))
            return std::nullopt;
        if (!value.isObject())
            throw wrongType(key, QStringLiteral("对象"), value);
        return value.toObject();
    }

    QJsonObject requiredObject(const char *key) const
    {
        const auto value = optionalObject(key);
        if (!value)
            throw missing(key);
        return *value;
    }

    QJsonArray requiredArray(const char *key) const
    {
        const QJsonValue value = m_object.value(QLatin1String(key));
        if (isAbsent(value))
            throw missing(key);
        if (!value.isArray())
            throw wrongType(key, QStringLiteral("数组"), value);
        return value.toArray();
    }

private:
    static bool isAbsent(const QJsonValue &value) { return value.isUndefined() || value.isNull(); }

    DecodingError missing(const char *key) const
    {
        return DecodingError(QStringLiteral("%1缺少字段“%2”").arg(m_where, QLatin1String(key)));
    }

    DecodingError wrongType(const char *key, const QString &expected, const QJsonValue &got) const
    {
        return DecodingError(QStringLiteral("%1的字段“%2”应为%3，实际是%4")
                                 .arg(m_where, QLatin1String(key), expected, typeName(got)));
    }

    const QJsonObject &m_object;
    QString m_where;
};

// The twelve fields of a clip with their keys, in declaration order.
QList<std::pair<QString, QJsonValue>> clipFields(const Clip &clip)
{
    return {
        {QStringLiteral("id"), clip.id},
        {QStringLiteral("title"), clip.title},
        {QStringLiteral("rawText"), clip.rawText},
        {QStringLiteral("optimizedText"), clip.optimizedText},
        {QStringLiteral("status"), clip.status},
        {QStringLiteral("optimizeStatus"), clip.optimizeStatus},
        {QStringLiteral("updatedAt"), clip.updatedAt},
        {QStringLiteral("deviceName"), clip.deviceName},
        {QStringLiteral("canEdit"), clip.canEdit},
        {QStringLiteral("favorite"), clip.favorite},
        {QStringLiteral("collaborationName"), clip.collaborationName},
        {QStringLiteral("collaborationColor"), clip.collaborationColor},
    };
}

} // namespace

QString DecodingError::description() const
{
    return QStringLiteral("服务器返回的数据无法识别：") + m_detail;
}

Clip Clip::fromJson(const QJsonObject &object, const QString &where)
{
    const FieldReader in(object, where);
    Clip clip;
    clip.id = in.requiredText("id");
    clip.title = in.text("title", clip.title);
    clip.rawText = in.text("rawText", {});
    clip.optimizedText = in.text("optimizedText", {});
    clip.status = in.text("status", clip.status);
    clip.optimizeStatus = in.text("optimizeStatus", {});
    clip.updatedAt = in.text("updatedAt", {});
    clip.deviceName = in.text("deviceName", {});
    clip.canEdit = in.optionalFlag("canEdit").value_or(true);
    clip.favorite = in.optionalFlag("favorite").value_or(false);
    clip.collaborationName = in.text("collaborationName", {});
    clip.collaborationColor = in.text("collaborationColor", {});
    return clip;
}

QJsonObject Clip::toJson() const
{
    QJsonObject object;
    for (const auto &[key, value] : clipFields(*this))
        object.insert(key, value);
    return object;
}

QByteArray Clip::toJsonBytes() const
{
    return orderedJsonObject(clipFields(*this));
}

QByteArray orderedJsonObject(const QList<std::pair<QString, QJsonValue>> &fields)
{
    // Qt serialises no single value on its own: write [value] and keep what is inside.
    const auto compact = [](const QJsonValue &value) {
        const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
        return array.mid(1, array.size() - 2);
    };
    QByteArray out = "{";
    for (const auto &[key, value] : fields) {
        if (out.size() > 1)
            out += ',';
        out += compact(key) + ':' + compact(value);
    }
    out += '}';
    return out;
}

size_t qHash(const Clip &clip, size_t seed) noexcept
{
    return qHashMulti(seed, clip.id, clip.title, clip.rawText, clip.optimizedText, clip.status,
                      clip.optimizeStatus, clip.updatedAt, clip.deviceName, clip.canEdit, clip.favorite,
                      clip.collaborationName, clip.collaborationColor);
}

Profile Profile::fromJson(const QJsonObject &object, const QString &where)
{
    const FieldReader in(object, where);
    Profile profile;
    profile.phone = in.requiredText("phone");
    profile.nickname = in.requiredText("nickname");
    profile.avatarData = in.optionalText("avatarData");
    return profile;
}

LoginResponse LoginResponse::fromJson(const QJsonObject &object)
{
    const FieldReader in(object, QStringLiteral("登录回复"));
    LoginResponse response;
    response.token = in.optionalText("token");
    if (const auto user = in.optionalObject("user"))
        response.user = Profile::fromJson(*user, QStringLiteral("登录回复中的用户信息"));
    response.requiresNickname = in.optionalFlag("requiresNickname");
    return response;
}

ClipList ClipList::fromJson(const QJsonObject &object)
{
    const FieldReader in(object, QStringLiteral("内容列表"));
    const QJsonArray array = in.requiredArray("clips");
    ClipList list;
    list.clips.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QString where = QStringLiteral("第 %1 条内容").arg(i + 1);
        const QJsonValue element = array.at(i);
        if (!element.isObject())
            throw DecodingError(QStringLiteral("%1应为对象，实际是%2").arg(where, typeName(element)));
        list.clips.append(Clip::fromJson(element.toObject(), where));
    }
    return list;
}

ClipEnvelope ClipEnvelope::fromJson(const QJsonObject &object)
{
    const FieldReader in(object, QStringLiteral("保存回复"));
    return ClipEnvelope{Clip::fromJson(in.requiredObject("clip"), QStringLiteral("保存回复中的内容"))};
}

Result Result::fromJson(const QJsonObject &object)
{
    const FieldReader in(object, QStringLiteral("验证码回复"));
    return Result{in.requiredFlag("sent")};
}

QJsonObject parseJsonObject(const QByteArray &bytes)
{
    if (bytes.trimmed().isEmpty())
        throw DecodingError(QStringLiteral("回复内容为空"));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        throw DecodingError(QStringLiteral("回复不是有效的 JSON（第 %1 个字节附近）").arg(error.offset + 1));
    if (!document.isObject())
        throw DecodingError(QStringLiteral("回复应为 JSON 对象"));
    return document.object();
}

} // namespace quillpost
