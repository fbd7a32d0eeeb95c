// Delivery on a real X session, into helper processes and xterm.
#include "DeliveryFixture.h"
#include "support/SessionTestMain.h"

#include "platform/x11/X11Platform.h"
#include "platform/x11/XcbSupport.h"

#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

using namespace quillpost;
using namespace quillpost::test;

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

class X11DeliveryTest : public DeliveryFixture<X11Platform>
{
    Q_OBJECT

public:
    X11DeliveryTest() : DeliveryFixture(QStringLiteral("PasteTarget")) {}

private slots:
    void init() { skipEarlierActivations(); }
    void deliversOnlyIntoTheTarget() { checkDeliversOnlyIntoTheTarget(); }
    void typesNothingWhenThingsChanged_data() { thingsThatChange(); }
    void typesNothingWhenThingsChanged() { checkTypesNothingWhenThingsChanged(); }

    // Our own write to the clipboard is one change, also once the event loop has seen what it did.
    void ownWriteIsOneChange()
    {
        PasteTargetProcess target;
        QVERIFY(target.start());
        Pasteboard *pasteboard = m_platform.platform().pasteboard;
        const quint64 before = pasteboard->changeCount();
        pasteboard->setText(QStringLiteral("我们的"));
        // Another process reads it from us once its requests are newer than our taking it.
        QVERIFY(PasteTargetProcess::waitFor([&] { return target.clipboard() == QStringLiteral("我们的"); }, 5000));
        QCOMPARE(pasteboard->changeCount(), before + 1);
    }

    void xtermGetsItsChord() { checkTerminalGetsItsChord(QStringLiteral("xterm"), {"-u8", "-e"}, QStringLiteral("XTerm")); }

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
        const RunningApplication seen = activationOf(m_targetId);
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
        QVERIFY(copyElsewhere(target, QStringLiteral("copied meanwhile")));
        pressShift(false);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 3, 5000);
        QCOMPARE(finished.last().at(1).value<KeystrokeResult>(), KeystrokeResult::Stopped);
        QCOMPARE(status.last().at(0).toString(), notTypedStatus(KeystrokeResult::Stopped, {})->text);
        QVERIFY(target.sync());
        QCOMPARE(target.text, text);
        QCOMPARE(target.clipboard(), std::optional<QString>(QStringLiteral("copied meanwhile")));
    }

private:
    // A window closed but kept: the window manager withdraws it.
    bool closeWindow(PasteTargetProcess &target) override { return target.hide(); }
    // The helper takes the clipboard with the time of the last event it has seen, which the X
    // server refuses while ours is newer: it copies again until the copy has reached us.
    bool copyElsewhere(PasteTargetProcess &target, const QString &text) override
    {
        const Pasteboard *pasteboard = m_platform.platform().pasteboard;
        const quint64 before = pasteboard->changeCount();
        for (int attempt = 0; attempt < 10; ++attempt)
            if (target.copy(text) && PasteTargetProcess::waitFor([&] { return pasteboard->changeCount() > before; }, 500))
                return true;
        return false;
    }
    std::optional<QString> clipboardElsewhere(PasteTargetProcess &target) override { return target.clipboard(); }
    void raisePanel() override
    {
        m_panel.show();
        m_panel.activateWindow();
    }
};

QUILLPOST_SESSION_TEST_MAIN(X11DeliveryTest)
#include "tst_x11delivery.moc"
