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
#include <QSignalSpy>
#include <QTest>

#include <linux/input-event-codes.h>

using namespace quillpost;

namespace {

// Answers every request at once with `response`; Start grants the keyboard and, on a version 2
// portal, a restore token.
class FakePortal final : public QDBusVirtualObject
{
public:
    explicit FakePortal(QDBusConnection bus) : m_bus(std::move(bus)) {}

    uint version = 1;
    uint response = 0;
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
            connection.send(message.createReply());
        } else {
            const QVariantMap options = qdbus_cast<QVariantMap>(arguments.last());
            const QString request = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                        .arg(message.service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_')),
                                             options.value(QStringLiteral("handle_token")).toString());
            connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
            QVariantMap results;
            if (method == QLatin1String("CreateSession"))
                results.insert(QStringLiteral("session_handle"), QStringLiteral("/org/freedesktop/portal/desktop/session/x"));
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
            m_bus.send(answer);
        }
        return true;
    }

private:
    QDBusConnection m_bus;
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
        m_portal.version = version;
        m_portal.response = response;
        m_portal.selectOptions.clear();
        m_portal.keys.clear();
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

private:
    QDBusConnection m_bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fakeportal"));
    FakePortal m_portal{m_bus};
};

QTEST_MAIN(PortalKeystrokeTest)
#include "tst_portalkeystroke.moc"
