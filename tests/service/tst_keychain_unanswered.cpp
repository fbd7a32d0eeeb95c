// The secret store when the secret service is missing or hangs. The test runs its own session bus
// (a private dbus-daemon) so that it can own the service's name with an object that never
// answers; the bus address is set before the process first connects to a session bus.

#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "fakes/FakePlatform.h"
#include "platform/secret/KeychainStore.h"
#include "service/APIClient.h"
#include "signin/LoginViewController.h"
#include "support/TestHttpServer.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QLabel>
#include <QMainWindow>
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
    bool m_serving = false;

private slots:
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
        serve(false);
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
        serve(true);
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

    // The program with that service: the sign-in screen at once and no request; a sign-in still
    // opens the panel, after telling the user that the session will not be remembered.
    void programDoesNotWaitForIt()
    {
        QVERIFY(startBus());
        serve(true);
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
    void serve(bool on)
    {
        if (on == m_serving)
            return;
        QDBusConnection connection = QDBusConnection::connectToBus(m_address, QStringLiteral("silent-service"));
        QVERIFY(connection.isConnected());
        if (on) {
            QVERIFY(connection.registerVirtualObject(QStringLiteral("/"), &m_service, QDBusConnection::SubPath));
            QVERIFY(connection.registerService(QStringLiteral("org.freedesktop.secrets")));
        } else {
            QVERIFY(connection.unregisterService(QStringLiteral("org.freedesktop.secrets")));
            connection.unregisterObject(QStringLiteral("/"), QDBusConnection::UnregisterTree);
        }
        m_serving = on;
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
