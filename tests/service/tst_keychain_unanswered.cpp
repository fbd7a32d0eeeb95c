// The secret store when the secret service is missing, hangs or prompts. The test runs its own
// session bus (a private dbus-daemon) so that it can own the service's name with a scripted
// object; the bus address is set before the process first connects to a session bus.

#include "platform/secret/KeychainStore.h"
#include "platform/secret/SecretServiceTypes.h"
#include "support/StoreAnswers.h"

#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace quillpost;
using namespace quillpost::test;

namespace {

using Paths = QList<QDBusObjectPath>;

// A secret service with one item in a "login" collection that may be locked, and may be missing
// as the default collection. Unlocking it, or creating the default collection, needs a prompt,
// which the user accepts or dismisses, at once or after `lateAnswer`, or never answers. Silent,
// it takes every call and answers none, like a service that owns its name but hangs. Calls come
// on Qt D-Bus's own thread.
class ScriptedService final : public QDBusVirtualObject
{
public:
    enum class Answer { Accept, Dismiss, AcceptLate, DismissLate, Never, Silent };
    // Longer than the bound the tests give each call: lateAnswer / 3.
    static constexpr std::chrono::milliseconds lateAnswer{900};

    void reset(bool locked, bool hasDefault, Answer answer)
    {
        const QMutexLocker lock(&m_mutex);
        m_locked = locked;
        m_hasDefault = hasDefault;
        m_answer = answer;
        m_secret = QByteArray("stored");
        m_members.clear();
    }
    std::optional<QByteArray> secret() const { const QMutexLocker lock(&m_mutex); return m_secret; }
    QStringList members() const { const QMutexLocker lock(&m_mutex); return m_members; }

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        const QMutexLocker lock(&m_mutex);
        const QString member = message.member();
        m_members << member;
        if (m_answer == Answer::Silent)
            return true;
        const QDBusObjectPath none(QStringLiteral("/"));
        const QDBusObjectPath collection(QStringLiteral("/org/freedesktop/secrets/collection/login"));
        const QDBusObjectPath item(QStringLiteral("/org/freedesktop/secrets/collection/login/1"));
        const QDBusObjectPath prompt(QStringLiteral("/org/freedesktop/secrets/prompt/1"));
        const auto reply = [&](const QVariantList &arguments) { connection.send(message.createReply(arguments)); };
        const Paths items = m_secret ? Paths{item} : Paths{};
        if (member == QLatin1String("SearchItems")) {
            reply({QVariant::fromValue(m_locked ? Paths{} : items), QVariant::fromValue(m_locked ? items : Paths{})});
        } else if (member == QLatin1String("Unlock")) {
            m_creating = false;
            reply({QVariant::fromValue(m_locked ? Paths{} : qdbus_cast<Paths>(message.arguments().at(0))),
                   QVariant::fromValue(m_locked ? prompt : none)});
        } else if (member == QLatin1String("ReadAlias")) {
            reply({QVariant::fromValue(m_hasDefault ? collection : none)});
        } else if (member == QLatin1String("CreateCollection")) {
            m_creating = true;
            reply({QVariant::fromValue(none), QVariant::fromValue(prompt)});
        } else if (member == QLatin1String("Prompt")) {
            reply({});
            if (m_answer == Answer::Never)
                return true;
            const bool accept = m_answer == Answer::Accept || m_answer == Answer::AcceptLate;
            QVariant result = QVariant::fromValue(Paths{});
            if (accept && m_creating) {
                m_hasDefault = true;
                result = QVariant::fromValue(collection);
            } else if (accept) {
                // Names what it unlocked by its collection, not by the items asked for.
                m_locked = false;
                result = QVariant::fromValue(Paths{collection});
            }
            QDBusMessage completed = QDBusMessage::createSignal(prompt.path(), QStringLiteral("org.freedesktop.Secret.Prompt"),
                                                                QStringLiteral("Completed"));
            completed << !accept << QVariant::fromValue(QDBusVariant(result));
            if (m_answer == Answer::Accept || m_answer == Answer::Dismiss) {
                connection.send(completed);
                return true;
            }
            // The user answers while the test's main thread runs its event loop.
            QMetaObject::invokeMethod(qApp, [connection, completed] {
                QTimer::singleShot(lateAnswer, qApp, [connection, completed] { connection.send(completed); });
            });
        } else if (member == QLatin1String("OpenSession")) {
            reply({QVariant::fromValue(QDBusVariant(QString())),
                   QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/freedesktop/secrets/session/1")))});
        } else if (member == QLatin1String("GetSecret") && message.path() == item.path() && !m_locked && m_secret) {
            reply({QVariant::fromValue(secretservice::Secret{message.arguments().at(0).value<QDBusObjectPath>(), {}, *m_secret,
                                                  QStringLiteral("text/plain")})});
        } else if (member == QLatin1String("Delete") && message.path() == item.path() && !m_locked) {
            m_secret.reset();
            reply({QVariant::fromValue(none)});
        } else if (member == QLatin1String("CreateItem") && !m_locked && m_hasDefault) {
            m_secret = qdbus_cast<secretservice::Secret>(message.arguments().at(1)).value;
            reply({QVariant::fromValue(item), QVariant::fromValue(none)});
        } else if (member == QLatin1String("Dismiss") || member == QLatin1String("Close")) {
            reply({});
        } else {
            connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.Secret.Error.IsLocked"), member));
        }
        return true;
    }

private:
    mutable QMutex m_mutex;
    bool m_locked = false;
    bool m_hasDefault = true;
    bool m_creating = false;
    Answer m_answer = Answer::Accept;
    std::optional<QByteArray> m_secret;
    QStringList m_members;
};

// Counts how often the event loop ran a timer while `finished` was false.
template<typename Finished>
int ticksUntil(Finished finished)
{
    QTimer ticker;
    int ticks = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(20);
    return QTest::qWaitFor(finished, 20000) ? ticks : -1;
}

} // namespace

class KeychainUnansweredTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    ScriptedService m_scripted;
    bool m_serving = false;

private slots:
    void initTestCase() { qDBusRegisterMetaType<secretservice::Secret>(); }

    // No session bus at all, or a bus where nothing owns the service's name (and nothing can be
    // started): every operation fails at once, long before the store's own bound. A process
    // keeps the session bus it first connected to, or its failure to connect: the case without a
    // bus runs in a process of its own (tst_keychain_nobus), whose bus address leads nowhere.
    void withoutService()
    {
        if (!qgetenv("DBUS_SESSION_BUS_ADDRESS").startsWith("unix:path=/nonexistent/")) {
            QVERIFY(startBus());
            serve(false);
        }
        KeychainStore store;
        store.setTimeout(std::chrono::minutes(1));
        StoreAnswers answers;
        answers.saveTo(store, QStringLiteral("t")).readFrom(store);
        QTRY_VERIFY(answers.read.has_value());
        QCOMPARE(answers.saved, std::optional<bool>(false));
        QCOMPARE(*answers.read, std::nullopt);
    }

    // A service that takes calls and never answers: each operation gives up after the bound, and the
    // event loop goes on meanwhile.
    void hangingServiceIsGivenUp()
    {
        serveScripted(false, true, ScriptedService::Answer::Silent);
        KeychainStore store;
        store.setTimeout(std::chrono::milliseconds(300));
        StoreAnswers first, afterRemove;
        first.readFrom(store).saveTo(store, QStringLiteral("t"));
        QVERIFY(ticksUntil([&] { return first.read && first.saved; }) >= 5);
        QCOMPARE(*first.read, std::nullopt);
        QCOMPARE(first.saved, std::optional<bool>(false));
        store.remove();
        afterRemove.readFrom(store);
        QVERIFY(ticksUntil([&] { return afterRemove.read.has_value(); }) >= 5);
        QCOMPARE(*afterRemove.read, std::nullopt);
        QVERIFY(m_scripted.members().contains(QStringLiteral("SearchItems")));
    }

    // A locked collection, or none to store into: the store asks the service to unlock it or to
    // create it, and follows the prompt the service shows, for as long as the user takes to
    // answer it, longer than a call may take. A prompt that is dismissed fails the operation.
    void promptsAreFollowed_data()
    {
        QTest::addColumn<bool>("locked");
        QTest::addColumn<bool>("hasDefault");
        QTest::addColumn<ScriptedService::Answer>("answer");
        QTest::addColumn<std::optional<QString>>("read");
        QTest::addColumn<bool>("saved");
        using Answer = ScriptedService::Answer;
        const std::optional<QString> stored(QStringLiteral("stored"));
        QTest::newRow("unlocked") << false << true << Answer::Dismiss << stored << true;
        QTest::newRow("locked, unlocked at the prompt") << true << true << Answer::Accept << stored << true;
        QTest::newRow("locked, prompt dismissed") << true << true << Answer::Dismiss << std::optional<QString>() << false;
        QTest::newRow("locked, unlocked after the call bound") << true << true << Answer::AcceptLate << stored << true;
        QTest::newRow("locked, dismissed after the call bound") << true << true << Answer::DismissLate << std::optional<QString>() << false;
        QTest::newRow("no default collection, created") << false << false << Answer::Accept << stored << true;
        QTest::newRow("no default collection, prompt dismissed") << false << false << Answer::Dismiss << stored << false;
    }
    void promptsAreFollowed()
    {
        QFETCH(bool, locked);
        QFETCH(bool, hasDefault);
        QFETCH(ScriptedService::Answer, answer);
        QFETCH(bool, saved);
        serveScripted(locked, hasDefault, answer);
        KeychainStore store;
        store.setTimeout(ScriptedService::lateAnswer / 3);
        StoreAnswers answers;
        answers.readFrom(store).saveTo(store, QStringLiteral("new"));
        QTRY_VERIFY_WITH_TIMEOUT(answers.read && answers.saved, 20000);
        QTEST(*answers.read, "read");
        QCOMPARE(*answers.saved, saved);
        if (saved)
            QCOMPARE(m_scripted.secret(), std::optional<QByteArray>("new"));
        QVERIFY(!m_scripted.members().contains(QStringLiteral("Dismiss")));
    }

    // A store destroyed while its prompt is open (a prompt never answered): the prompt is taken
    // off the screen, and nothing reaches the store or the receiver afterwards.
    void destroyedStoreDismissesItsPrompt()
    {
        serveScripted(true, true, ScriptedService::Answer::Never);
        StoreAnswers answers;
        {
            KeychainStore store;
            answers.readFrom(store);
            QTRY_VERIFY(m_scripted.members().contains(QStringLiteral("Prompt")));
        }
        QTRY_VERIFY(m_scripted.members().contains(QStringLiteral("Dismiss")));
        QVERIFY(!answers.read);
    }

public:
    ~KeychainUnansweredTest() override
    {
        if (!m_address.isEmpty())
            QDBusConnection::disconnectFromBus(QStringLiteral("scripted-service"));
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.kill(); // our own child, by its process id
            m_daemon.waitForFinished();
        }
    }

private:
    // A session bus of the test's own, with no services to start: set as the session bus of this
    // process, which therefore must not have connected to another one yet.
    bool startBus()
    {
        if (!m_address.isEmpty())
            return true;
        QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        config.write("<busconfig><type>session</type><listen>unix:dir=" + m_dir.path().toUtf8()
                     + "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" "
                       "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
        config.close();
        m_daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=") + config.fileName(),
                                                       QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (!m_daemon.waitForStarted() || !QTest::qWaitFor([this] { return m_daemon.canReadLine(); }, 10000))
            return false;
        m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
        return QDBusConnection::sessionBus().isConnected();
    }
    // Owns the service's name with the scripted service, or leaves it without owner.
    void serve(bool owned)
    {
        if (owned == m_serving)
            return;
        QDBusConnection connection = QDBusConnection::connectToBus(m_address, QStringLiteral("scripted-service"));
        QVERIFY(connection.isConnected());
        if (owned) {
            QVERIFY(connection.registerVirtualObject(QStringLiteral("/"), &m_scripted, QDBusConnection::SubPath));
            QVERIFY(connection.registerService(QStringLiteral("org.freedesktop.secrets")));
        } else {
            QVERIFY(connection.unregisterService(QStringLiteral("org.freedesktop.secrets")));
            connection.unregisterObject(QStringLiteral("/"), QDBusConnection::UnregisterTree);
        }
        m_serving = owned;
    }
    void serveScripted(bool locked, bool hasDefault, ScriptedService::Answer answer)
    {
        QVERIFY(startBus());
        serve(true);
        m_scripted.reset(locked, hasDefault, answer);
    }
};

QTEST_MAIN(KeychainUnansweredTest)
#include "tst_keychain_unanswered.moc"
