// Delivery and pinning on KDE Plasma (KWin), into helper processes. Runs inside
// scripts/kwin-session, which leaves KWin's permission check on and installs the program's
// desktop file with this binary as Exec=, as a package would.
#include "WaylandDeliveryFixture.h"
#include "support/SessionTestMain.h"

#include "platform/wayland/PlasmaWorkspace.h"

#include "plasma-window-management-client-protocol.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>

using namespace quillpost;
using namespace quillpost::test;

namespace {
constexpr quint32 pinStates =
    ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_KEEP_ABOVE | ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ON_ALL_DESKTOPS;
} // namespace

class KWinDeliveryTest : public WaylandDeliveryFixture
{
    Q_OBJECT

private slots:
    // KWin offers its window management only through the installed desktop file.
    void initTestCase() { checkSeams(WaylandPlatform::Seams::Plasma); }
    void init() { skipEarlierActivations(); }
    void deliversOnlyIntoTheTarget() { checkDeliversOnlyIntoTheTarget(); }
    void typesNothingWhenThingsChanged_data() { thingsThatChange(); }
    void typesNothingWhenThingsChanged() { checkTypesNothingWhenThingsChanged(); }
    void pasteLatestTypesIntoTheFocusedWindow() { checkPasteLatest(); }

    // Pinning keeps our window above and on all desktops, as KWin reports to another client,
    // also after the window is hidden and shown again; unpinning clears both.
    void pinKeepsTheWindowAbove()
    {
        // Another connection, as a task manager would have, reads the states back.
        WaylandConnection observerConnection;
        PlasmaWorkspace observer(&observerConnection, std::nullopt);
        QVERIFY(observer.isAvailable());
        const auto ownStates = [&] {
            const QList<RunningApplication> handles = observer.handlesOf(m_panel.windowHandle());
            return handles.size() == 1 ? observer.statesOf(handles.first()).value_or(0) : 0u;
        };
        QVERIFY(activatePanel());
        QVERIFY(PasteTargetProcess::waitFor([&] { return observer.handlesOf(m_panel.windowHandle()).size() == 1; }, 5000));
        QCOMPARE(ownStates() & pinStates, 0u);

        m_platform.workspace()->setPinned(m_panel.windowHandle(), true);
        QVERIFY(PasteTargetProcess::waitFor([&] { return (ownStates() & pinStates) == pinStates; }, 5000));
        QVERIFY(activatePanel()); // a new handle: KWin forgets the states of a hidden window
        QVERIFY(PasteTargetProcess::waitFor([&] { return (ownStates() & pinStates) == pinStates; }, 5000));

        // Another window in front does not cover it.
        PasteTargetProcess other;
        QVERIFY(other.start());
        QVERIFY(activationOf(m_targetId).windowId != 0);
        QCOMPARE(ownStates() & pinStates, pinStates);

        m_platform.workspace()->setPinned(m_panel.windowHandle(), false);
        QVERIFY(PasteTargetProcess::waitFor([&] { return (ownStates() & pinStates) == 0; }, 5000));
        QVERIFY(activatePanel());
        QVERIFY(PasteTargetProcess::waitFor([&] { return observer.handlesOf(m_panel.windowHandle()).size() == 1; }, 5000));
        QCOMPARE(ownStates() & pinStates, 0u);
    }

    // The chord arrives as Control and v whatever the user's layouts (KWin reads its keys
    // through them): Dvorak has v on another key; Russian has none, and Qt finds Ctrl+V through
    // the US layout's key; of two layouts, the one in use decides. Last: it changes the layouts.
    void chordFollowsTheLayouts_data()
    {
        QTest::addColumn<QString>("layouts");
        QTest::addColumn<QString>("variants");
        QTest::addColumn<uint>("inUse");
        QTest::newRow("us(dvorak)") << "us" << "dvorak" << 0u;
        QTest::newRow("ru,us") << "ru,us" << "," << 0u;
        QTest::newRow("us,us(dvorak), the second in use") << "us,us" << ",dvorak" << 1u;
    }
    void chordFollowsTheLayouts()
    {
        QFETCH(QString, layouts);
        QFETCH(QString, variants);
        QFETCH(uint, inUse);
        QFile kxkbrc(qEnvironmentVariable("XDG_CONFIG_HOME") + "/kxkbrc");
        QVERIFY(kxkbrc.open(QIODevice::WriteOnly));
        kxkbrc.write(QStringLiteral("[Layout]\nLayoutList=%1\nVariantList=%2\nUse=true\n").arg(layouts, variants)
                         .toUtf8());
        kxkbrc.close();
        // KWin reloads on this signal; a call after it is answered once it has (its new keymap
        // is then on its way to every client, ahead of anything else).
        const QDBusMessage reload = QDBusMessage::createSignal("/Layouts", "org.kde.keyboard", "reloadConfig");
        QVERIFY(QDBusConnection::sessionBus().send(reload));
        const auto answered = [](const QDBusMessage &call) {
            return QDBusConnection::sessionBus().call(call).type() == QDBusMessage::ReplyMessage;
        };
        QVERIFY(answered(QDBusMessage::createMethodCall("org.kde.KWin", "/KWin", "org.kde.KWin", "activeOutputName")));
        QVERIFY(inUse == 0
                || answered(QDBusMessage::createMethodCall("org.kde.keyboard", "/Layouts", "org.kde.KeyboardLayouts",
                                                           "setLayout")
                            << inUse));

        PasteDelivery delivery(m_platform.platform());
        PasteTargetProcess target;
        QVERIFY(target.start());
        QVERIFY(activationOf(m_targetId).windowId != 0);
        QVERIFY(activatePanel());
        QVERIFY(delivery.paste(layouts));
        QVERIFY(PasteTargetProcess::waitFor([&] { return target.text == layouts; }, 5000));
    }
};

int main(int argc, char **argv)
{
    return sessionTestMain<KWinDeliveryTest>(argc, argv, "QUILLPOST_KWIN_SESSION", "wayland");
}

#include "tst_kwindelivery.moc"
