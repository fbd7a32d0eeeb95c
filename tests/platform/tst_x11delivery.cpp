#include "PasteTargetProcess.h"
#include "support/SessionTestMain.h"

#include "delivery/DeliveryStatus.h"
#include "delivery/PasteDelivery.h"
#include "platform/SystemColors.h"
#include "platform/x11/X11Platform.h"
#include "platform/x11/XcbSupport.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWidget>

#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

using namespace quillpost;

namespace {

// Presses or releases the left Shift key as if the user did.
void pressShift(bool down)
{
    xcb_connection_t *connection = x11::qtConnection();
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(connection);
    xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, 0xffe1);
    xcb_test_fake_input(connection, down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, codes[0], XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_flush(connection);
    std::free(codes);
    xcb_key_symbols_free(symbols);
}

} // namespace

// Delivery on a real X session, into helper processes and xterm.
class X11DeliveryTest : public QObject
{
    Q_OBJECT

private slots:
    // With our own window in front, as when the user clicks a paste button, the exact text
    // reaches the application worked in last. Keystrokes for applications that are gone (window
    // withdrawn, or process quit) are never typed into the focused window of another.
    void deliversOnlyIntoTheTarget()
    {
        PasteTargetProcess target, closed, quit;
        QVERIFY(target.start() && closed.start() && quit.start());
        PasteDelivery delivery(m_platform.platform());
        const RunningApplication closedApp = activate(closed), quitApp = activate(quit), seen = activate(target);
        QVERIFY(closedApp.processId == closed.pid && quitApp.processId == quit.pid && seen.processId == target.pid);
        QCOMPARE(seen.identifier, std::optional<QString>(QStringLiteral("PasteTarget")));
        QVERIFY(!m_platform.workspace()->isTerminated(closedApp) && !m_platform.workspace()->isTerminated(quitApp));
        QVERIFY(closed.hide());
        quit.kill();
        // The window manager withdraws the hidden window, and the process goes, in their own time.
        QVERIFY(PasteTargetProcess::waitFor([&] {
            return m_platform.workspace()->isTerminated(closedApp) && m_platform.workspace()->isTerminated(quitApp);
        }, 10000));
        QVERIFY(activatePanel());
        QCOMPARE(delivery.lastExternalApp(), std::optional(seen)); // our own window is never the target

        const QString text = QStringLiteral("\n  第一行：你好\n第二行，世界！\n\n末尾\n");
        QVERIFY(delivery.paste(text));
        QTRY_COMPARE_WITH_TIMEOUT(target.text, text, 5000);
        QSignalSpy finished(m_platform.keystroke(), &Keystroke::finished);
        m_platform.keystroke()->postPaste(closedApp, PasteChord::ControlV);
        m_platform.keystroke()->postPaste(quitApp, PasteChord::ControlV);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 5000);
        for (const QList<QVariant> &outcome : std::as_const(finished))
            QCOMPARE(outcome.at(1).value<KeystrokeResult>(), KeystrokeResult::NotFocused);
        QVERIFY(target.sync());
        QCOMPARE(target.text, text);
    }

    // A job that finds its target's window closed, or another program's text on the clipboard,
    // types nothing and says why; the clipboard keeps the newer text. Other programs' copies are
    // counted as changes, our own writes once each.
    void typesNothingWhenThingsChanged_data()
    {
        QTest::addColumn<bool>("closeTarget");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("clipboard");
        QTest::newRow("target closed") << true << notTypedStatus(KeystrokeResult::NotFocused, {})->text << "要输入的";
        QTest::newRow("another program copies") << false << notTypedStatus(KeystrokeResult::Stopped, {})->text << "别人的";
    }

    void typesNothingWhenThingsChanged()
    {
        QFETCH(bool, closeTarget);
        PasteDeliveryOptions options;
        options.keystrokeDelay = std::chrono::seconds(2); // time enough to act in between
        PasteDelivery delivery(m_platform.platform(), options);
        QSignalSpy status(&delivery, &PasteDelivery::statusChanged);
        PasteTargetProcess target;
        QVERIFY(target.start());
        QVERIFY(activate(target).processId == target.pid);
        QVERIFY(activatePanel());

        QVERIFY(delivery.paste(QStringLiteral("要输入的")));
        QVERIFY(PasteTargetProcess::waitFor([&] { return lastActive().windowId == target.windowId; }, 5000));
        QVERIFY(closeTarget ? target.hide() : target.copy(QStringLiteral("别人的")));
        QVERIFY(PasteTargetProcess::waitFor([&] { return !status.isEmpty(); }, 10000));
        QTEST(status.first().at(0).toString(), "message");
        QCOMPARE(status.first().at(1).value<std::optional<QColor>>(), std::optional(SystemColors::orange()));
        QVERIFY(target.sync());
        QVERIFY(target.text.isEmpty());
        QTEST(target.clipboard().value_or(QString()), "clipboard");

        // Our own write is one change, also once the event loop has seen what it did.
        Pasteboard *pasteboard = m_platform.platform().pasteboard;
        const quint64 before = pasteboard->changeCount();
        pasteboard->setText(QStringLiteral("我们的"));
        QCOMPARE(target.clipboard().value_or(QString()), QStringLiteral("我们的"));
        QCOMPARE(pasteboard->changeCount(), before + 1);
    }

    void xtermGetsItsChord()
    {
        QTemporaryDir directory;
        const QString received = directory.filePath(QStringLiteral("received"));
        PasteDelivery delivery(m_platform.platform());
        QProcess terminal;
        terminal.start(QStringLiteral("xterm"), {"-u8", "-e", "sh", "-c", "cat > \"$0\"", received});
        QVERIFY(PasteTargetProcess::waitFor([&] { return lastActive().identifier == QStringLiteral("XTerm"); }, 10000));
        QVERIFY(activatePanel());

        const QString text = QStringLiteral("echo 你好\nsecond line\n");
        QVERIFY(delivery.paste(text));
        const auto contents = [&] {
            QFile file(received);
            return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
        };
        QTRY_COMPARE_WITH_TIMEOUT(contents(), text, 5000);
        terminal.close();
    }

    // The keystroke waits while the user holds a modifier key: it is posted once the key is
    // released, and dropped when the key stays down for the whole wait. A copy made while it
    // waits is never pasted: the delivery types nothing and the newer clipboard stays.
    void waitsForModifiers()
    {
        PasteDeliveryOptions options;
        options.keystrokeDelay = std::chrono::milliseconds(0);
        PasteDelivery delivery(m_platform.platform(), options);
        QSignalSpy status(&delivery, &PasteDelivery::statusChanged);
        PasteTargetProcess target;
        QVERIFY(target.start());
        const RunningApplication seen = activate(target);
        QCOMPARE(seen.processId, target.pid);
        const QString text = QStringLiteral("typed after release");
        m_platform.platform().pasteboard->setText(text);
        QSignalSpy finished(m_platform.keystroke(), &Keystroke::finished);

        pressShift(true);
        m_platform.keystroke()->postPaste(seen, PasteChord::ControlV);
        QTest::qWait(200); // the user holds Shift this long
        QVERIFY(finished.isEmpty());
        pressShift(false);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 5000);
        QCOMPARE(finished.last().at(1).value<KeystrokeResult>(), KeystrokeResult::Posted);
        QTRY_COMPARE_WITH_TIMEOUT(target.text, text, 5000);

        pressShift(true);
        m_platform.keystroke()->postPaste(seen, PasteChord::ControlV);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 5000);
        pressShift(false);
        QCOMPARE(finished.last().at(1).value<KeystrokeResult>(), KeystrokeResult::ModifiersHeld);
        QVERIFY(target.sync());
        QCOMPARE(target.text, text); // nothing typed the second time

        pressShift(true);
        QVERIFY(delivery.paste(QStringLiteral("not to be typed")));
        QVERIFY(target.copy(QStringLiteral("copied meanwhile")));
        pressShift(false);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 3, 5000);
        QCOMPARE(finished.last().at(1).value<KeystrokeResult>(), KeystrokeResult::Stopped);
        QCOMPARE(status.last().at(0).toString(), notTypedStatus(KeystrokeResult::Stopped, {})->text);
        QVERIFY(target.sync());
        QCOMPARE(target.text, text);
        QCOMPARE(target.clipboard(), std::optional<QString>(QStringLiteral("copied meanwhile")));
    }

private:
    RunningApplication lastActive() const
    {
        return m_activations.isEmpty() ? RunningApplication{} : m_activations.last().at(0).value<RunningApplication>();
    }

    // Activates the helper's window through the workspace and returns the activation as the
    // window manager reported it (another one when it did not come within 5 s).
    RunningApplication activate(const PasteTargetProcess &target)
    {
        m_platform.workspace()->activate(RunningApplication{target.windowId, target.pid, std::nullopt});
        PasteTargetProcess::waitFor([&] { return lastActive().windowId == target.windowId; }, 5000);
        return lastActive();
    }

    // Shows the stand-in for our own panel and waits until it is the active window.
    bool activatePanel()
    {
        m_panel.show();
        m_panel.activateWindow();
        return PasteTargetProcess::waitFor(
            [this] { return m_panel.isActiveWindow() && lastActive().windowId == m_panel.winId(); }, 5000);
    }

    X11Platform m_platform;
    QWidget m_panel;
    QSignalSpy m_activations{m_platform.workspace(), &Workspace::applicationActivated};
};

QUILLPOST_SESSION_TEST_MAIN(X11DeliveryTest)
#include "tst_x11delivery.moc"
