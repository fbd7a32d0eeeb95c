#include "platform/secret/KeychainStore.h"
#include "platform/secret/SecretServiceTypes.h"
#include "support/StoreAnswers.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QProcess>
#include <QTest>

using namespace quillpost;
using namespace quillpost::test;

namespace {

using Paths = QList<QDBusObjectPath>;

// The number of items the secret service holds under our service attribute, locked or not.
int storedItems()
{
    QDBusMessage search = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
        QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("SearchItems"));
    search << QVariant::fromValue(QMap<QString, QString>{{QStringLiteral("service"), QLatin1String(KeychainStore::tokenKey)}});
    const QDBusMessage reply = QDBusConnection::sessionBus().call(search);
    if (reply.signature() != QLatin1String("aoao"))
        return -1;
    return int(qdbus_cast<Paths>(reply.arguments().at(0)).size() + qdbus_cast<Paths>(reply.arguments().at(1)).size());
}

// Stores an item under our service attribute as another program would, with further attributes
// (name, value, ...) beside it: through the desktop's own tool, or, for bytes that are not UTF-8
// (which secret-tool 0.21 refuses), through the Secret Service itself in a plain session.
void storeAsAnotherProgram(const QByteArray &bytes, const QStringList &attributes)
{
    if (QString::fromUtf8(bytes).toUtf8() == bytes) {
        QProcess tool;
        tool.start(QStringLiteral("secret-tool"),
                   QStringList{QStringLiteral("store"), QStringLiteral("--label=Quillpost"), QStringLiteral("service"),
                               QLatin1String(KeychainStore::tokenKey)}
                       + attributes);
        tool.write(bytes);
        tool.closeWriteChannel();
        QVERIFY(tool.waitForFinished(20000));
        QCOMPARE(tool.exitCode(), 0);
        return;
    }
    qDBusRegisterMetaType<secretservice::Secret>();
    qDBusRegisterMetaType<secretservice::Attributes>();
    const auto call = [](const QString &path, const QString &interface, const QString &method) {
        return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.secrets"), path, interface, method);
    };
    QDBusMessage open = call(QStringLiteral("/org/freedesktop/secrets"), QStringLiteral("org.freedesktop.Secret.Service"),
                             QStringLiteral("OpenSession"));
    open << QStringLiteral("plain") << QVariant::fromValue(QDBusVariant(QString()));
    const QDBusMessage opened = QDBusConnection::sessionBus().call(open);
    QCOMPARE(opened.type(), QDBusMessage::ReplyMessage);
    secretservice::Attributes lookup{{QStringLiteral("service"), QLatin1String(KeychainStore::tokenKey)}};
    for (qsizetype i = 0; i + 1 < attributes.size(); i += 2)
        lookup.insert(attributes.at(i), attributes.at(i + 1));
    const QVariantMap properties{{QStringLiteral("org.freedesktop.Secret.Item.Label"), QStringLiteral("Quillpost")},
                                 {QStringLiteral("org.freedesktop.Secret.Item.Attributes"), QVariant::fromValue(lookup)}};
    const secretservice::Secret secret{opened.arguments().at(1).value<QDBusObjectPath>(), {}, bytes,
                                       QStringLiteral("text/plain")};
    QDBusMessage create = call(QStringLiteral("/org/freedesktop/secrets/aliases/default"),
                               QStringLiteral("org.freedesktop.Secret.Collection"), QStringLiteral("CreateItem"));
    create << properties << QVariant::fromValue(secret) << true;
    QCOMPARE(QDBusConnection::sessionBus().call(create).type(), QDBusMessage::ReplyMessage);
}

void removeNow(KeychainStore &store)
{
    store.remove();
    storedToken(store); // runs after the remove
}

} // namespace

class KeychainTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { KeychainStore store; removeNow(store); }
    void initTestCase() { qDBusRegisterMetaType<QMap<QString, QString>>(); }

    void saveReplacesAndRemoveIsIdempotent()
    {
        KeychainStore store;
        QCOMPARE(storedToken(store), std::nullopt);
        QVERIFY(saveNow(store, QStringLiteral("first")));
        QVERIFY(saveNow(store, QStringLiteral("第二个-token")));
        QCOMPARE(storedItems(), 1);
        // A fresh store object reads the same item: nothing is cached in the object.
        KeychainStore other;
        QCOMPARE(storedToken(other), std::optional<QString>(QStringLiteral("第二个-token")));

        store.remove();
        removeNow(store);
        QCOMPARE(storedItems(), 0);
        QCOMPARE(storedToken(store), std::nullopt);
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
        QCOMPARE(storedToken(consent), std::optional<QString>(QStringLiteral("restore-token")));
        removeNow(consent);
        QCOMPARE(storedToken(consent), std::nullopt);
    }

    // Operations run in the order they were started, and a sign-out's remove is not overtaken by
    // the save before it.
    void removeRightAfterSaveLeavesNothing()
    {
        KeychainStore store;
        StoreAnswers answers;
        answers.saveTo(store, QStringLiteral("signed-out"));
        store.remove();
        QCOMPARE(storedToken(store), std::nullopt);
        QTRY_VERIFY(answers.saved.has_value());
        QCOMPARE(storedItems(), 0);
    }

    // Items that other programs stored under our service attribute, with other attributes beside
    // it (an older version of this program tagged its schema name): they are read, and a save
    // replaces all of them.
    void itemsStoredByOthers_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("attributes");
        QTest::addColumn<int>("copies");
        QTest::addColumn<std::optional<QString>>("expected");
        QTest::newRow("desktop tool, other attributes")
            << QStringLiteral("令牌-tok").toUtf8() << QStringList{QStringLiteral("user"), QStringLiteral("someone")} << 1
            << std::optional<QString>(QStringLiteral("令牌-tok"));
        QTest::newRow("older schema tag, twice")
            << QByteArray("tok") << QStringList{QStringLiteral("xdg:schema"), QStringLiteral("com.tallowmere.quillpost.Session")}
            << 2 << std::optional<QString>(QStringLiteral("tok"));
        QTest::newRow("not UTF-8") << QByteArray("\xff\xfe token", 8) << QStringList() << 1 << std::optional<QString>();
    }
    void itemsStoredByOthers()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, attributes);
        QFETCH(int, copies);
        QFETCH(std::optional<QString>, expected);
        for (int copy = 0; copy < copies; ++copy)
            storeAsAnotherProgram(bytes, attributes + QStringList{QStringLiteral("copy"), QString::number(copy)});
        QCOMPARE(storedItems(), copies);
        KeychainStore store;
        QCOMPARE(storedToken(store), expected);
        QVERIFY(saveNow(store, QStringLiteral("ours")));
        QCOMPARE(storedItems(), 1);
        QCOMPARE(storedToken(store), std::optional<QString>(QStringLiteral("ours")));
    }
};

QTEST_GUILESS_MAIN(KeychainTest)
#include "tst_keychain.moc"
