#include "platform/secret/KeychainStore.h"

#include <QStringDecoder>

#include <libsecret/secret.h>

namespace quillpost {

namespace {

// Items are matched by the service attribute alone, whatever schema name they were stored with.
const SecretSchema *tokenSchema()
{
    static const SecretSchema schema = {
        "com.tallowmere.quillpost.Session",
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    return &schema;
}

} // namespace

std::optional<QString> KeychainStore::read()
{
    GError *error = nullptr;
    SecretValue *value = secret_password_lookup_binary_sync(tokenSchema(), nullptr, &error, "service", tokenKey,
                                                            nullptr);
    g_clear_error(&error);
    if (!value)
        return std::nullopt;
    gsize length = 0;
    const gchar *bytes = secret_value_get(value, &length);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString token = utf8.decode(QByteArrayView(bytes, qsizetype(length)));
    const bool valid = !utf8.hasError();
    secret_value_unref(value);
    if (!valid)
        return std::nullopt;
    return token;
}

void KeychainStore::save(const QString &token)
{
    remove();
    const QByteArray bytes = token.toUtf8();
    SecretValue *value = secret_value_new(bytes.constData(), bytes.size(), "text/plain");
    GError *error = nullptr;
    secret_password_store_binary_sync(tokenSchema(), SECRET_COLLECTION_DEFAULT, "Quillpost 登录状态", value,
                                      nullptr, &error, "service", tokenKey, nullptr);
    g_clear_error(&error);
    secret_value_unref(value);
}

void KeychainStore::remove()
{
    GError *error = nullptr;
    secret_password_clear_sync(tokenSchema(), nullptr, &error, "service", tokenKey, nullptr);
    g_clear_error(&error);
}

} // namespace quillpost
