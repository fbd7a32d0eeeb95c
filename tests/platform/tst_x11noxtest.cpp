// Runs in its own X session whose server lacks the XTEST extension.
#include "PasteTargetProcess.h"
#include "SessionTestMain.h"

#include "platform/SystemColors.h"
#include "platform/x11/X11Platform.h"
#include "platform/x11/XcbSupport.h"
#include "receiver/PasteDelivery.h"

#include <QSignalSpy>

using namespace quillpost;

class X11NoXTestTest : public QObject
{
    Q_OBJECT

private slots:
    void deliveryStopsWithTextOnClipboard();
};

void X11NoXTestTest::deliveryStopsWithTextOnClipboard()
{
    QVERIFY(x11::qtConnection());
    X11Platform platform;
    QVERIFY(!platform.platform().accessibility->isTrusted());

    PasteDelivery delivery(platform.platform());
    PasteTargetProcess target;
    QVERIFY(target.start()); // the window manager activates the new window
    QVERIFY(PasteTargetProcess::waitFor([&] { return delivery.lastExternalApp().has_value(); }, 5000));

    QSignalSpy status(&delivery, &PasteDelivery::statusChanged);
    const QString text = QStringLiteral("没有 XTEST\n也在剪贴板上");
    QVERIFY(!delivery.paste(text));
    QCOMPARE(status.size(), 1);
    QCOMPARE(status.first().at(0).toString(), QStringLiteral("请在系统设置中允许辅助功能"));
    QCOMPARE(status.first().at(1).value<std::optional<QColor>>(), std::optional<QColor>(SystemColors::orange()));
    // Another process reads the clipboard from us.
    QCOMPARE(target.clipboard(), std::optional<QString>(text));

    // Asked directly, the keystroke declines instead of sending requests the server can't take.
    QSignalSpy finished(platform.keystroke(), &Keystroke::finished);
    platform.keystroke()->postPaste(*delivery.lastExternalApp(), PasteChord::ControlV);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().at(1).value<KeystrokeResult>(), KeystrokeResult::Unavailable);
    QVERIFY(target.sync());
    QCOMPARE(target.text, QString());
}

QUILLPOST_SESSION_TEST_MAIN(X11NoXTestTest)
#include "tst_x11noxtest.moc"
