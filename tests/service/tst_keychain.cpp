#include "platform/secret/KeychainStore.h"

#include <QAbstractEventDispatcher>
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

// The store's operations, waited for (the store answers on the event loop).
std::optional<QString> readNow(KeychainStore &store)
{
    QObject context;
    std::optional<std::optional<QString>> token;
    store.read(&context, [&token](std::optional<QString> value) { token = value; });
    return QTest::qWaitFor([&token] { return token.has_value(); }, 10000) ? *token : std::nullopt;
}

bool saveNow(KeychainStore &store, const QString &token)
{
    QObject context;
    std::optional<bool> saved;
    store.save(token, &context, [&saved](bool value) { saved = value; });
    return QTest::qWaitFor([&saved] { return saved.has_value(); }, 10000) && *saved;
}

void removeNow(KeychainStore &store)
{
    store.remove();
    readNow(store); // runs after the remove
}

} // namespace

class KeychainTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { KeychainStore store; removeNow(store); }
    void initTestCase()
    {
        // The store relies on GLib's main loop; this test also runs without it (QT_NO_GLIB).
        const bool glib = QAbstractEventDispatcher::instance()->inherits("QEventDispatcherGlib");
        QCOMPARE(glib, qEnvironmentVariableIsEmpty("QT_NO_GLIB"));
    }

    void saveReplacesAndRemoveIsIdempotent()
    {
        KeychainStore store;
        QCOMPARE(readNow(store), std::nullopt);
        QVERIFY(saveNow(store, QStringLiteral("first")));
        QVERIFY(saveNow(store, QStringLiteral("第二个-token")));
        QCOMPARE(storedItems(), 1);
        // A fresh store object reads the same item: nothing is cached in the object.
        KeychainStore other;
        QCOMPARE(readNow(other), std::optional<QString>(QStringLiteral("第二个-token")));

        store.remove();
        removeNow(store);
        QCOMPARE(storedItems(), 0);
        QCOMPARE(readNow(store), std::nullopt);
    }

    // Another key keeps its secret in an item of its own beside the session's (the desktop
    // portal's restore token): neither replaces nor removes the other.
    void keysKeepTheirOwnItems()
    {
        KeychainStore session;
        KeychainStore consent(KeychainStore::remoteDesktopKey, "Quillpost 远程输入授权");
        removeNow(consent);
        QVERIFY(saveNow(session, QStringLiteral("session-token")));
        QVERIFY(saveNow(consent, QStringLiteral("restore-token")));
        QCOMPARE(storedItems(), 1);
        removeNow(session);
        QCOMPARE(readNow(consent), std::optional<QString>(QStringLiteral("restore-token")));
        removeNow(consent);
        QCOMPARE(readNow(consent), std::nullopt);
    }

    // Operations run in the order they were started, and a sign-out's remove is not overtaken by
    // the save before it.
    void removeRightAfterSaveLeavesNothing()
    {
        KeychainStore store;
        QObject context;
        std::optional<bool> saved;
        store.save(QStringLiteral("signed-out"), &context, [&saved](bool value) { saved = value; });
        store.remove();
        QCOMPARE(readNow(store), std::nullopt);
        QTRY_VERIFY(saved.has_value());
        QCOMPARE(storedItems(), 0);
    }

    void invalidUtf8ReadsAbsent()
    {
        storeRaw(QByteArray("\xff\xfe token", 8));
        QCOMPARE(storedItems(), 1);
        KeychainStore store;
        QCOMPARE(readNow(store), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(KeychainTest)
#include "tst_keychain.moc"
