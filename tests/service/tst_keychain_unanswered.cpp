// The secret store when the secret service is missing or hangs. The test runs its own session bus
// (a private dbus-daemon) so that it can own the service's name with an object that never
// answers; the bus address is set before the process first connects to a session bus.

#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "fakes/FakePlatform.h"
#include "platform/secret/KeychainStore.h"
#include "platform/secret/SecretServiceTypes.h"
#include "service/APIClient.h"
#include "signin/LoginViewController.h"
#include "support/TestHttpServer.h"

#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QLabel>
#include <QMainWindow>
#include <QMutex>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace quillpost;
using namespace quillpost::test;

namespace {

// Takes every call and answers none of them, like a service that owns its name but hangs.
class SilentService final : public QDBusVirtualObject
{
public:
    int calls = 0;
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &, const QDBusConnection &) override
    {
        ++calls;
        return true;
    }
};

using Paths = QList<QDBusObjectPath>;

// A secret service with one item in a "login" collection that may be locked, and may be missing
// as the default collection. Unlocking it, or creating the default collection, needs a prompt,
// which the user accepts or dismisses, at once or after `lateAnswer`, or never answers. Calls
// come on Qt D-Bus's own thread.
class ScriptedService final : public QDBusVirtualObject
{
public:
    enum class Answer { Accept, Dismiss, AcceptLate, DismissLate, Never };
    static constexpr std::chrono::milliseconds lateAnswer{1500};

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
    SilentService m_service;
    ScriptedService m_scripted;
    QDBusVirtualObject *m_serving = nullptr;

private slots:
    void initTestCase() { qDBusRegisterMetaType<secretservice::Secret>(); }

    // No session bus at all: every operation fails at once, long before the store's own bound.
    // A process keeps the session bus it first connected to, or its failure to connect: this
    // case runs in a process of its own (tst_keychain_nobus), whose bus address leads nowhere.
    void withoutBus()
    {
        if (!qgetenv("DBUS_SESSION_BUS_ADDRESS").startsWith("unix:path=/nonexistent/"))
            QSKIP("runs alone, with a bus address that leads nowhere (tst_keychain_nobus)");
        KeychainStore store;
        store.setTimeout(std::chrono::minutes(1));
        QObject context;
        std::optional<bool> stored;
        std::optional<std::optional<QString>> token;
        store.save(QStringLiteral("t"), &context, [&stored](bool ok) { stored = ok; });
        store.read(&context, [&token](std::optional<QString> value) { token = value; });
        QTRY_VERIFY(token.has_value());
        QCOMPARE(stored, std::optional<bool>(false));
        QCOMPARE(*token, std::nullopt);
    }

    // A bus where nothing owns the service's name (and nothing can be started): the same.
    void withoutService()
    {
        QVERIFY(startBus());
        serve(nullptr);
        KeychainStore store;
        store.setTimeout(std::chrono::minutes(1));
        QObject context;
        std::optional<std::optional<QString>> token;
        store.remove();
        store.read(&context, [&token](std::optional<QString> value) { token = value; });
        QTRY_VERIFY(token.has_value());
        QCOMPARE(*token, std::nullopt);
    }

    // A service that takes calls and never answers: each operation gives up after the bound, and the
    // event loop goes on meanwhile.
    void hangingServiceIsGivenUp()
    {
        QVERIFY(startBus());
        serve(&m_service);
        KeychainStore store;
        store.setTimeout(std::chrono::milliseconds(500));
        QObject context;
        std::optional<std::optional<QString>> token;
        std::optional<bool> saved;
        std::optional<std::optional<QString>> afterRemove;
        store.read(&context, [&token](std::optional<QString> value) { token = value; });
        store.save(QStringLiteral("t"), &context, [&saved](bool ok) { saved = ok; });
        QVERIFY(ticksUntil([&] { return token.has_value() && saved.has_value(); }) >= 5);
        QCOMPARE(*token, std::nullopt);
        QCOMPARE(*saved, false);
        store.remove();
        store.read(&context, [&afterRemove](std::optional<QString> value) { afterRemove = value; });
        QVERIFY(ticksUntil([&] { return afterRemove.has_value(); }) >= 5);
        QCOMPARE(*afterRemove, std::nullopt);
        QVERIFY(m_service.calls > 0);
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
        QFETCH(std::optional<QString>, read);
        QFETCH(bool, saved);
        QVERIFY(startBus());
        serve(&m_scripted);
        m_scripted.reset(locked, hasDefault, answer);
        KeychainStore store;
        store.setTimeout(ScriptedService::lateAnswer / 3);
        QObject context;
        std::optional<std::optional<QString>> token;
        std::optional<bool> stored;
        store.read(&context, [&token](std::optional<QString> value) { token = value; });
        store.save(QStringLiteral("new"), &context, [&stored](bool ok) { stored = ok; });
        QTRY_VERIFY_WITH_TIMEOUT(token.has_value() && stored.has_value(), 20000);
        QCOMPARE(*token, read);
        QCOMPARE(*stored, saved);
        if (saved)
            QCOMPARE(m_scripted.secret(), std::optional<QByteArray>("new"));
        QVERIFY(!m_scripted.members().contains(QStringLiteral("Dismiss")));
    }

    // A store destroyed while its prompt is open (a prompt never answered): the prompt is taken
    // off the screen, and nothing reaches the store or the receiver afterwards.
    void destroyedStoreDismissesItsPrompt()
    {
        QVERIFY(startBus());
        serve(&m_scripted);
        m_scripted.reset(true, true, ScriptedService::Answer::Never);
        QObject context;
        bool answered = false;
        {
            KeychainStore store;
            store.read(&context, [&answered](std::optional<QString>) { answered = true; });
            QTRY_VERIFY(m_scripted.members().contains(QStringLiteral("Prompt")));
        }
        QTRY_VERIFY(m_scripted.members().contains(QStringLiteral("Dismiss")));
        QVERIFY(!answered);
    }

    // The program with that service: the sign-in screen at once and no request; a sign-in still
    // opens the panel, after telling the user that the session will not be remembered.
    void programDoesNotWaitForIt()
    {
        QVERIFY(startBus());
        serve(&m_service);
        TestHttpServer server;
        server.setHandler([](const RecordedRequest &request) {
            return request.target == "/api/auth/phone"
                ? ScriptedReply::json(200, R"({"token":"tok","user":{"phone":"1","nickname":"n"}})")
                : ScriptedReply::json(200, R"({"clips":[]})");
        });
        KeychainStore store;
        // Longer than the wait for the sign-in screen below: that screen must not wait for the store.
        store.setTimeout(std::chrono::seconds(8));
        FakePlatform platform;
        AppDelegate delegate(server.origin(), &store, platform.platform());
        delegate.applicationDidFinishLaunching();
        // A read after the start's own finishes only once that one has given up.
        QObject context;
        bool readAgain = false;
        store.read(&context, [&readAgain](std::optional<QString>) { readAgain = true; });
        QVERIFY(delegate.window()->isVisible());
        const auto content = [&] { return delegate.window()->centralWidget(); };
        QTRY_VERIFY(qobject_cast<LoginViewController *>(content()));
        QVERIFY(!readAgain);

        // Once the start's read has given up, still nothing was sent.
        QTRY_VERIFY_WITH_TIMEOUT(readAgain, 30000);
        QVERIFY(qobject_cast<LoginViewController *>(content()) && !delegate.api()->token);
        QVERIFY(server.requests().isEmpty());

        content()->findChild<QPushButton *>(QStringLiteral("loginButton"))->click();
        QLabel *message = content()->findChild<QLabel *>(QStringLiteral("message"));
        QTRY_COMPARE_WITH_TIMEOUT(message->text(), QStringLiteral("无法保存登录状态，下次启动需要重新登录"), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!qobject_cast<LoginViewController *>(content()), 10000);
        QCOMPARE(delegate.api()->token, std::optional<QString>(QStringLiteral("tok")));
    }

public:
    ~KeychainUnansweredTest() override
    {
        if (!m_address.isEmpty())
            QDBusConnection::disconnectFromBus(QStringLiteral("silent-service"));
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.kill(); // our own child, by its process id
            m_daemon.waitForFinished();
        }
    }

private:
    // A session bus of the test's own, with no services to start: set as the session bus of this
    // process, which therefore must not have connected to another one yet. (Defined below the
    // class: moc does not read the raw string of its configuration.)
    bool startBus();
    // Owns the service's name with `service`, or leaves it without owner (nullptr).
    void serve(QDBusVirtualObject *service)
    {
        if (service == m_serving)
            return;
        QDBusConnection connection = QDBusConnection::connectToBus(m_address, QStringLiteral("silent-service"));
        QVERIFY(connection.isConnected());
        if (m_serving) {
            QVERIFY(connection.unregisterService(QStringLiteral("org.freedesktop.secrets")));
            connection.unregisterObject(QStringLiteral("/"), QDBusConnection::UnregisterTree);
        }
        if (service) {
            QVERIFY(connection.registerVirtualObject(QStringLiteral("/"), service, QDBusConnection::SubPath));
            QVERIFY(connection.registerService(QStringLiteral("org.freedesktop.secrets")));
        }
        m_serving = service;
    }
};

bool KeychainUnansweredTest::startBus()
{
    if (!m_address.isEmpty())
        return true;
    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)").arg(m_dir.path()).toUtf8());
    file.close();
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!m_daemon.waitForStarted() || !QTest::qWaitFor([this] { return m_daemon.canReadLine(); }, 10000))
        return false;
    m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
    return QDBusConnection::sessionBus().isConnected();
}

QTEST_MAIN(KeychainUnansweredTest)
#include "tst_keychain_unanswered.moc"
