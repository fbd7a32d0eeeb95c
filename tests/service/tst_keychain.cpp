#include "platform/secret/KeychainStore.h"

#include <QTest>

#include <libsecret/secret.h>

using namespace quillpost;

namespace {

const SecretSchema *anySchema()
{
    static const SecretSchema schema = {
        "org.example.Any", SECRET_SCHEMA_DONT_MATCH_NAME,
        {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    return &schema;
}

// The number of items the secret service holds under our service attribute.
int storedItems()
{
    GError *error = nullptr;
    GList *items = secret_password_search_sync(anySchema(), SECRET_SEARCH_ALL, nullptr, &error, "service",
                                               KeychainStore::tokenKey, nullptr);
    g_clear_error(&error);
    const int count = int(g_list_length(items));
    g_list_free_full(items, g_object_unref);
    return count;
}

void storeRaw(const QByteArray &bytes)
{
    SecretValue *value = secret_value_new(bytes.constData(), bytes.size(), "application/octet-stream");
    GError *error = nullptr;
    secret_password_store_binary_sync(anySchema(), SECRET_COLLECTION_DEFAULT, "raw", value, nullptr, &error,
                                      "service", KeychainStore::tokenKey, nullptr);
    QVERIFY2(!error, error ? error->message : "");
    secret_value_unref(value);
}

} // namespace

class KeychainTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { KeychainStore().remove(); }
    void saveReplacesAndRemoveIsIdempotent();
    void invalidUtf8ReadsAbsent();
};

void KeychainTest::saveReplacesAndRemoveIsIdempotent()
{
    KeychainStore store;
    QCOMPARE(store.read(), std::nullopt);
    store.save(QStringLiteral("first"));
    store.save(QStringLiteral("第二个-token"));
    QCOMPARE(storedItems(), 1);
    // A fresh store object reads the same item: nothing is cached in the object.
    QCOMPARE(KeychainStore().read(), std::optional<QString>(QStringLiteral("第二个-token")));

    store.remove();
    store.remove();
    QCOMPARE(storedItems(), 0);
    QCOMPARE(store.read(), std::nullopt);
}

void KeychainTest::invalidUtf8ReadsAbsent()
{
    storeRaw(QByteArray("\xff\xfe token", 8));
    QCOMPARE(storedItems(), 1);
    QCOMPARE(KeychainStore().read(), std::nullopt);
}

QTEST_GUILESS_MAIN(KeychainTest)
#include "tst_keychain.moc"
