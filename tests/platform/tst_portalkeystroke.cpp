// The portal keystroke against a stand-in for the desktop portal on the session bus: what it
// asks for, the order of its key events, and the restore token it keeps where the portal can
// remember the consent (interface version 2, which Debian 12's portal does not offer).
#include "platform/gnome/GnomeWorkspace.h"
#include "platform/gnome/PortalKeystroke.h"
#include "support/FakeSecretStore.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <linux/input-event-codes.h>

#include <utility>

using namespace quillpost;

namespace {

// Answers every request with `response`, at once or, while `holdStart`, Start only when the test
// calls answerStart() (a consent dialog still open); Start grants the keyboard and, on a version
// 2 portal, a restore token. The session handle comes as an object path, as some portals send
// it. The key call numbered `failingKey` (from 1) fails.
class FakePortal final : public QDBusVirtualObject
{
public:
    explicit FakePortal(QDBusConnection bus) : m_bus(std::move(bus)) {}

    void reset(uint portalVersion, uint startResponse)
    {
        version = portalVersion;
        response = startResponse;
        holdStart = false;
        failingKey = 0;
        selectOptions.clear();
        keys.clear();
    }
    bool startAsked() const { return m_heldStart.type() != QDBusMessage::InvalidMessage; }
    void answerStart() { m_bus.send(std::exchange(m_heldStart, {})); }
    // The user stops the remote control from the desktop's indicator.
    void closeSession()
    {
        m_bus.send(QDBusMessage::createSignal(sessionPath, QStringLiteral("org.freedesktop.portal.Session"),
                                              QStringLiteral("Closed")));
    }

    static inline const QString sessionPath = QStringLiteral("/org/freedesktop/portal/desktop/session/x");
    uint version = 1;
    uint response = 0;
    bool holdStart = false;
    int failingKey = 0;
    QVariantMap selectOptions;
    QList<QPair<int, uint>> keys;

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        const QString method = message.member();
        const QList<QVariant> arguments = message.arguments();
        if (method == QLatin1String("Get")) {
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(version))));
        } else if (method == QLatin1String("NotifyKeyboardKeycode")) {
            keys.append({arguments.at(2).toInt(), arguments.at(3).toUInt()});
            connection.send(keys.size() == failingKey
                                ? message.createErrorReply(QDBusError::Failed, QStringLiteral("device gone"))
                                : message.createReply());
        } else {
            const QVariantMap options = qdbus_cast<QVariantMap>(arguments.last());
            const QString request = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                        .arg(message.service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_')),
                                             options.value(QStringLiteral("handle_token")).toString());
            connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
            QVariantMap results;
            if (method == QLatin1String("CreateSession"))
                results.insert(QStringLiteral("session_handle"), QVariant::fromValue(QDBusObjectPath(sessionPath)));
            if (method == QLatin1String("SelectDevices"))
                selectOptions = options;
            if (method == QLatin1String("Start")) {
                results.insert(QStringLiteral("devices"), 1u);
                if (version >= 2)
                    results.insert(QStringLiteral("restore_token"), QStringLiteral("new-token"));
            }
            QDBusMessage answer = QDBusMessage::createSignal(request, QStringLiteral("org.freedesktop.portal.Request"),
                                                             QStringLiteral("Response"));
            answer << (method == QLatin1String("Start") ? response : 0u) << results;
            if (method == QLatin1String("Start") && holdStart)
                m_heldStart = answer;
            else
                m_bus.send(answer);
        }
        return true;
    }

private:
    QDBusConnection m_bus;
    QDBusMessage m_heldStart;
};

} // namespace

class PortalKeystrokeTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("needs a session bus (scripts/headless-session)");
        QVERIFY(m_bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
        QVERIFY(m_bus.registerVirtualObject(QStringLiteral("/org/freedesktop/portal/desktop"), &m_portal));
    }

    // Version 2 is asked to keep the consent, given the stored token, and the new token replaces
    // it; a refusal removes it. Version 1 is asked for nothing of the kind and the store stays
    // untouched. Granted, the chord's key events go one by one, in order.
    void keepsTheRestoreToken_data()
    {
        QTest::addColumn<uint>("version");
        QTest::addColumn<uint>("response");
        QTest::addColumn<std::optional<QString>>("kept");
        QTest::newRow("v2 granted") << 2u << 0u << std::optional<QString>(QStringLiteral("new-token"));
        QTest::newRow("v2 refused") << 2u << 2u << std::optional<QString>();
        QTest::newRow("v1 granted") << 1u << 0u << std::optional<QString>(QStringLiteral("old-token"));
    }
    void keepsTheRestoreToken()
    {
        QFETCH(uint, version);
        QFETCH(uint, response);
        m_portal.reset(version, response);
        test::FakeSecretStore tokens;
        tokens.stored = QStringLiteral("old-token");
        GnomeWorkspace workspace;
        PortalKeystroke keystroke(&workspace, &tokens);
        QSignalSpy finished(&keystroke, &Keystroke::finished);

        keystroke.postPaste(GnomeWorkspace::focusedWindow(), PasteChord::ControlShiftV);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
        QTEST(tokens.stored, "kept");
        QCOMPARE(m_portal.selectOptions.value(QStringLiteral("types")).toUInt(), 1u);
        QCOMPARE(m_portal.selectOptions.value(QStringLiteral("persist_mode")).toUInt(), version >= 2 ? 2u : 0u);
        QCOMPARE(m_portal.selectOptions.value(QStringLiteral("restore_token")).toString(),
                 version >= 2 ? QStringLiteral("old-token") : QString());
        if (response != 0) {
            QCOMPARE(finished.first().at(1).value<KeystrokeResult>(), KeystrokeResult::NotPermitted);
            QVERIFY(m_portal.keys.isEmpty());
            return;
        }
        QCOMPARE(finished.first().at(1).value<KeystrokeResult>(), KeystrokeResult::Posted);
        const QList<QPair<int, uint>> chord{{KEY_LEFTCTRL, 1}, {KEY_LEFTSHIFT, 1}, {KEY_V, 1},
                                            {KEY_V, 0},        {KEY_LEFTSHIFT, 0}, {KEY_LEFTCTRL, 0}};
        QCOMPARE(m_portal.keys, chord);
    }

    // The keys are those that type Control and v in the keymap in force: on Dvorak v is on another
    // key, "ru,us" has it in its Latin group, and a layout without Latin letters gets the US
    // positions, which applications map to their shortcuts.
    void typesTheKeysymsOfTheLayout_data()
    {
        QTest::addColumn<QStringList>("layout"); // setxkbmap's arguments
        QTest::addColumn<int>("vKey");
        QTest::newRow("us(dvorak)") << QStringList{"-layout", "us", "-variant", "dvorak"} << KEY_DOT;
        QTest::newRow("ru,us") << QStringList{"-layout", "ru,us"} << KEY_V;
        QTest::newRow("ru") << QStringList{"-layout", "ru"} << KEY_V;
    }
    void typesTheKeysymsOfTheLayout()
    {
        QFETCH(QStringList, layout);
        QCOMPARE(QProcess::execute(QStringLiteral("setxkbmap"), layout), 0);
        const auto restore = qScopeGuard([] { QProcess::execute(QStringLiteral("setxkbmap"), {"-layout", "us"}); });
        m_portal.reset(1, 0);
        GnomeWorkspace workspace;
        PortalKeystroke keystroke(&workspace);
        QSignalSpy finished(&keystroke, &Keystroke::finished);
        keystroke.postPaste(GnomeWorkspace::focusedWindow(), PasteChord::ControlV);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
        QFETCH(int, vKey);
        const QList<QPair<int, uint>> chord{{KEY_LEFTCTRL, 1}, {vKey, 1}, {vKey, 0}, {KEY_LEFTCTRL, 0}};
        QCOMPARE(m_portal.keys, chord);
    }

    // Pastes asked for while the consent dialog is open: only the newest is typed, once, after its
    // last check, made when the dialog is answered. (A check that fails then types nothing:
    // tst_gnomedelivery's copyWhileTheConsentWaits.)
    void typesOnlyTheNewestOnceConsented()
    {
        m_portal.reset(1, 0);
        m_portal.holdStart = true;
        GnomeWorkspace workspace;
        PortalKeystroke keystroke(&workspace);
        QSignalSpy finished(&keystroke, &Keystroke::finished);
        int olderChecks = 0, newerChecks = 0;
        keystroke.postPaste(GnomeWorkspace::focusedWindow(), PasteChord::ControlV, nullptr, {}, [&] {
            ++olderChecks;
            return true;
        });
        keystroke.postPaste(GnomeWorkspace::focusedWindow(), PasteChord::ControlV, nullptr, {}, [&] {
            ++newerChecks;
            return true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(m_portal.startAsked(), 10000);
        QVERIFY(finished.isEmpty());
        m_portal.answerStart();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 10000);
        QCOMPARE(finished.at(0).at(1).value<KeystrokeResult>(), KeystrokeResult::Superseded);
        QCOMPARE(finished.at(1).at(1).value<KeystrokeResult>(), KeystrokeResult::Posted);
        QCOMPARE(olderChecks, 0);
        QCOMPARE(newerChecks, 1);
        QCOMPARE(m_portal.keys.size(), 4);
    }

    // What the desktop does after the consent: a key call that fails releases the keys already
    // down; the user stopping the remote control forgets the kept consent, as a refusal does.
    void followsTheDesktop()
    {
        m_portal.reset(2, 0);
        m_portal.failingKey = 2;
        test::FakeSecretStore tokens;
        GnomeWorkspace workspace;
        PortalKeystroke keystroke(&workspace, &tokens);
        QSignalSpy finished(&keystroke, &Keystroke::finished);
        keystroke.postPaste(GnomeWorkspace::focusedWindow(), PasteChord::ControlShiftV);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
        QCOMPARE(finished.last().at(1).value<KeystrokeResult>(), KeystrokeResult::Unavailable);
        QTRY_COMPARE_WITH_TIMEOUT(m_portal.keys.size(), 3, 10000);
        QCOMPARE(m_portal.keys.last(), (QPair<int, uint>{KEY_LEFTCTRL, 0}));
        QCOMPARE(tokens.stored, std::optional<QString>(QStringLiteral("new-token")));

        m_portal.closeSession();
        QTRY_VERIFY_WITH_TIMEOUT(keystroke.isRefused(), 10000);
        QCOMPARE(tokens.stored, std::optional<QString>());
        keystroke.postPaste(GnomeWorkspace::focusedWindow(), PasteChord::ControlV);
        QCOMPARE(finished.last().at(1).value<KeystrokeResult>(), KeystrokeResult::NotPermitted);
    }

private:
    QDBusConnection m_bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fakeportal"));
    FakePortal m_portal{m_bus};
};

QTEST_MAIN(PortalKeystrokeTest)
#include "tst_portalkeystroke.moc"
