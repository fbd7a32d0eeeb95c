// Runs in its own X session whose server lacks the XTEST extension.
#include "PasteTargetProcess.h"
#include "support/SessionTestMain.h"

#include "delivery/PasteDelivery.h"
#include "platform/x11/X11Platform.h"

#include <QSignalSpy>

using namespace quillpost;

class X11NoXTestTest : public QObject
{
    Q_OBJECT

private slots:
    // Without XTEST no key press can be synthesised: the delivery stops at the trust check, with
    // the text on the clipboard for the user to paste by hand.
    void deliveryStopsWithTextOnClipboard()
    {
        X11Platform platform;
        QVERIFY(!platform.platform().accessibility->isTrusted());
        PasteDelivery delivery(platform.platform());
        PasteTargetProcess target;
        QVERIFY(target.start()); // the window manager activates the new window
        QVERIFY(PasteTargetProcess::waitFor([&] { return delivery.lastExternalApp().has_value(); }, 5000));

        const QString text = QStringLiteral("没有 XTEST\n也在剪贴板上");
        QVERIFY(!delivery.paste(text));
        // Another process reads it from us, once the X server has seen us take the clipboard.
        QVERIFY(PasteTargetProcess::waitFor([&] { return target.clipboard() == text; }, 10000));

        // Asked directly, the keystroke declines instead of sending requests the server can't take.
        QSignalSpy finished(platform.keystroke(), &Keystroke::finished);
        platform.keystroke()->postPaste(*delivery.lastExternalApp(), PasteChord::ControlV);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().at(1).value<KeystrokeResult>(), KeystrokeResult::Unavailable);
        QVERIFY(target.sync());
        QCOMPARE(target.text, QString());
    }
};

QUILLPOST_SESSION_TEST_MAIN(X11NoXTestTest)
#include "tst_x11noxtest.moc"
