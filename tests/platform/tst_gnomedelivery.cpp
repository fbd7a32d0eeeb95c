// Delivery on GNOME (mutter) through the desktop portal, into native Wayland windows of another
// process. Runs inside scripts/gnome-session: the real portal frontend with the test backend
// (scripts/gnome-test-portal), which grants or refuses consent as told and types through mutter.
#include "PasteTargetProcess.h"
#include "SignedInPanel.h"

#include "cards/ReceiverCardView.h"
#include "delivery/DeliveryStatus.h"
#include "delivery/PasteDelivery.h"
#include "platform/SystemColors.h"
#include "platform/gnome/GnomePlatform.h"
#include "platform/x11/X11Workspace.h"
#include "support/FakeSecretStore.h"
#include "support/SessionTestMain.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QJsonArray>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace quillpost;
using namespace quillpost::test;
using OptColor = std::optional<QColor>;

namespace {

constexpr uint noAnswer = 0xFFFFFFFF;

// The test backend's controls.
class TestPortal
{
public:
    void setResponse(uint response) { m_control.call(QStringLiteral("SetResponse"), response); }
    void setDelay(uint milliseconds) { m_control.call(QStringLiteral("SetDelay"), milliseconds); }
    uint startCount() { return QDBusReply<uint>(m_control.call(QStringLiteral("StartCount"))).value(); }

private:
    QDBusInterface m_control{qEnvironmentVariable("QUILLPOST_TEST_PORTAL"), QStringLiteral("/org/quillpost/TestPortal"),
                             QStringLiteral("org.quillpost.TestPortal")};
};

bool focusLeftUs(const PasteDelivery &delivery)
{
    return !GnomeWorkspace::isOwnWindowActive()
        && delivery.lastExternalApp() == std::optional(GnomeWorkspace::focusedWindow());
}

} // namespace

class GnomeDeliveryTest : public QObject
{
    Q_OBJECT

private slots:
    // The targets are native Wayland clients, as GNOME's own applications are.
    void initTestCase() { qputenv("QT_QPA_PLATFORM", "wayland"); }
    void init()
    {
        m_portal.setResponse(0);
        m_portal.setDelay(0);
    }
    void cleanupTestCase() { init(); }

    // The program's own choice: X11 under XWayland, the GNOME seams, trusted until asked, and
    // our window kept above by the window manager.
    void choosesTheGnomeSeams()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        const std::unique_ptr<DesktopPlatform> platform = makePlatform();
        QVERIFY(dynamic_cast<GnomePlatform *>(platform.get()));
        QVERIFY(platform->platform().accessibility->isTrusted());
        QVERIFY(platform->platform().workspace->canKeepWindowsAbove());
    }

    // The receiver panel against the local clip service: a clip sent from the phone is typed by
    // auto-paste into the window that has the focus, exactly; its card's paste button hides the
    // panel, which gives the focus back to that window, types the text again and shows the panel
    // without the focus. The consent is asked once for the run.
    void panelDelivers()
    {
        GnomePlatform platform;
        SignedInPanel signedIn;
        QVERIFY(signedIn.start(platform.platform()));
        CompactInboxViewController &panel = signedIn.panel();
        DevService &service = signedIn.service();
        const QString token = signedIn.token();
        panel.show();
        QTRY_VERIFY_WITH_TIMEOUT(GnomeWorkspace::isOwnWindowActive(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!panel.cards().isEmpty(), 10000);
        panel.autoPasteButton()->click();
        PasteTargetProcess target;
        QVERIFY(target.start());
        QVERIFY(PasteTargetProcess::waitFor([&] { return focusLeftUs(*panel.delivery()); }, 10000));
        const uint asked = m_portal.startCount();

        service.send("POST", QStringLiteral("api/clips"), {{"rawText", "嗯 明天上午十点\n开会"}}, token);
        QVERIFY(PasteTargetProcess::waitFor([&] { return !target.text.isEmpty(); }, 15000));
        const QJsonValue stored = service.get(QStringLiteral("api/clips?limit=1"), token).json()["clips"].toArray().first();
        const QString optimized = stored["optimizedText"].toString();
        QVERIFY(optimized.contains(QLatin1Char('\n')));
        QCOMPARE(target.text, optimized);
        QCOMPARE(panel.statusText(), QStringLiteral("新内容已同步输入"));

        QVERIFY(clickInto(&panel));
        QTRY_COMPARE_WITH_TIMEOUT(panel.cards().first()->clip().id, stored["id"].toString(), 10000);
        QSignalSpy finished(platform.keystroke(), &Keystroke::finished);
        panel.cards().first()->pasteButton()->click();
        QVERIFY(PasteTargetProcess::waitFor([&] { return target.text == optimized + optimized; }, 10000));
        QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 10000);
        QCOMPARE(finished.first().at(1).value<KeystrokeResult>(), KeystrokeResult::Posted);
        QVERIFY(panel.isVisible());

        // The focus stayed with the target: a keystroke now types there, not into our panel.
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QVERIFY(PasteTargetProcess::waitFor([&] { return !GnomeWorkspace::isOwnWindowActive(); }, 5000));
        platform.keystroke()->postPaste(GnomeWorkspace::focusedWindow(), PasteChord::ControlV);
        QVERIFY(PasteTargetProcess::waitFor([&] { return target.text == optimized + optimized + optimized; }, 10000));
        QCOMPARE(m_portal.startCount(), asked + 1);
    }

    // Where the portal remembers consent (RemoteDesktop version 2), consent given in one run is
    // kept through the restore token in the secret store: the next run types without asking.
    void consentRememberedAcrossRuns()
    {
        QDBusMessage get = QDBusMessage::createMethodCall("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                                                          "org.freedesktop.DBus.Properties", "Get");
        get << "org.freedesktop.portal.RemoteDesktop" << "version";
        if (QDBusReply<QDBusVariant>(QDBusConnection::sessionBus().call(get)).value().variant().toUInt() < 2)
            QSKIP("this desktop portal does not remember consent");
        FakeSecretStore tokens;
        const uint asked = m_portal.startCount();
        for (const QString &text : {QStringLiteral("第一次"), QStringLiteral("第二次")}) {
            GnomePlatform platform(&tokens);
            PasteDelivery delivery(platform.platform());
            QVERIFY(clickInto(&m_window));
            PasteTargetProcess target;
            QVERIFY(target.start());
            QVERIFY(PasteTargetProcess::waitFor([&] { return focusLeftUs(delivery); }, 10000));
            QVERIFY(delivery.paste(text));
            QVERIFY(PasteTargetProcess::waitFor([&] { return target.text == text; }, 15000));
        }
        QVERIFY(tokens.stored && !tokens.stored->isEmpty());
        QCOMPARE(m_portal.startCount(), asked + 1);
    }

    // Consent refused (cancelled is the same: any answer but 0) or never answered: the text stays
    // on the clipboard for pasting by hand (a Wayland client reads it), nothing is typed, the
    // status line asks for the permission in orange, and the consent is not asked again.
    void refusedConsentTypesNothing_data()
    {
        QTest::addColumn<uint>("response");
        QTest::newRow("refused") << 2u;
        QTest::newRow("unanswered") << noAnswer;
    }
    void refusedConsentTypesNothing()
    {
        QFETCH(uint, response);
        m_portal.setResponse(response);
        GnomePlatform platform;
        platform.keystroke()->setConsentTimeout(std::chrono::seconds(1));
        PasteDelivery delivery(platform.platform());
        QSignalSpy status(&delivery, &PasteDelivery::statusChanged);
        QVERIFY(clickInto(&m_window));
        PasteTargetProcess target;
        QVERIFY(target.start());
        QVERIFY(PasteTargetProcess::waitFor([&] { return focusLeftUs(delivery); }, 10000));
        const uint asked = m_portal.startCount();

        const QString text = QStringLiteral("第一行\n第二行");
        QVERIFY(delivery.paste(text));
        QVERIFY(PasteTargetProcess::waitFor([&] { return !status.isEmpty(); }, 10000));
        QCOMPARE(status.last().at(0).toString(), notTrustedStatus(MissingTrust::ConsentRefused, {}).text);
        QCOMPARE(status.last().at(1).value<OptColor>(), OptColor(SystemColors::orange()));
        QVERIFY(!platform.platform().accessibility->isTrusted());
        QCOMPARE(target.clipboard(), std::optional(text));

        QVERIFY(!delivery.paste(QStringLiteral("再来")));
        QCOMPARE(status.last().at(0).toString(), notTrustedStatus(MissingTrust::ConsentRefused, {}).text);
        QCOMPARE(m_portal.startCount(), asked + 1);
        QVERIFY(target.sync());
        QCOMPARE(target.text, QString());
    }

    // The consent comes late, and another program's copy made meanwhile is never typed and stays
    // on the clipboard. (Of two pastes asked for meanwhile only the newer is typed:
    // tst_portalkeystroke.)
    void copyWhileTheConsentWaits()
    {
        m_portal.setDelay(1500);
        GnomePlatform platform;
        PasteDeliveryOptions options;
        options.keystrokeDelay = std::chrono::milliseconds(0);
        PasteDelivery delivery(platform.platform(), options);
        QSignalSpy status(&delivery, &PasteDelivery::statusChanged);
        QSignalSpy finished(platform.keystroke(), &Keystroke::finished);
        QVERIFY(clickInto(&m_window));
        PasteTargetProcess target;
        QVERIFY(target.start());
        QVERIFY(PasteTargetProcess::waitFor([&] { return focusLeftUs(delivery); }, 10000));
        const uint asked = m_portal.startCount();

        QVERIFY(delivery.paste(QStringLiteral("第一段")));
        QVERIFY(PasteTargetProcess::waitFor([&] { return m_portal.startCount() == asked + 1; }, 10000));
        QVERIFY(target.copy(QStringLiteral("别人的")));
        QVERIFY(PasteTargetProcess::waitFor([&] { return finished.size() == 1; }, 15000));
        QCOMPARE(finished.last().at(1).value<KeystrokeResult>(), KeystrokeResult::Stopped);
        QCOMPARE(status.last().at(0).toString(), notTypedStatus(KeystrokeResult::Stopped, {})->text);
        QVERIFY(target.sync());
        QCOMPARE(target.text, QString());
        QCOMPARE(target.clipboard(), std::optional<QString>(QStringLiteral("别人的")));
    }

    // Asked for the newest clip while our windows are closed to the tray and never had the
    // focus (`quillpost --paste-latest` from a shortcut), with auto-paste on: it is typed once
    // into the window that has the focus, which keeps it.
    void pasteLatestIntoTheFocusedWindow()
    {
        m_window.hide();
        GnomePlatform platform;
        SignedInPanel signedIn;
        QVERIFY(signedIn.start(platform.platform()));
        CompactInboxViewController &panel = signedIn.panel();
        panel.autoPasteButton()->click();
        PasteTargetProcess target;
        QVERIFY(target.start());
        QVERIFY(PasteTargetProcess::waitFor([&] { return !GnomeWorkspace::isOwnWindowActive(); }, 10000));
        QTRY_VERIFY_WITH_TIMEOUT(!panel.currentClips().isEmpty(), 10000);

        QVERIFY(signedIn.pastesLatestOnceInto(target));
        QVERIFY(!panel.isVisible() && !GnomeWorkspace::isOwnWindowActive());
    }

private:
    // Gives one of our windows the focus as a click on it would (mutter does not focus a window
    // that maps again after another application was used).
    static bool clickInto(QWidget *window)
    {
        window->show();
        if (!QTest::qWaitForWindowExposed(window))
            return false;
        X11Workspace pager;
        pager.activate({quint32(window->winId()), 0, std::nullopt});
        return PasteTargetProcess::waitFor([&] { return GnomeWorkspace::isOwnWindowActive(); }, 10000);
    }

    TestPortal m_portal;
    QWidget m_window;
};

// The test chooses its Qt platform as the program does.
int main(int argc, char **argv)
{
    return sessionTestMain<GnomeDeliveryTest>(argc, argv, "QUILLPOST_GNOME_SESSION", "xcb", [] {
        choosePlatformPlugin();
        return !qEnvironmentVariableIsEmpty("QUILLPOST_TEST_PORTAL");
    });
}

#include "tst_gnomedelivery.moc"
