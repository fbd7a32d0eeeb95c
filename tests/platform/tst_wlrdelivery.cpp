// Delivery on a wlroots compositor (sway), into helper processes and foot. Runs inside
// scripts/wayland-session.
#include "WaylandDeliveryFixture.h"
#include "support/SessionTestMain.h"

#include <QFile>
#include <QTemporaryDir>

using namespace quillpost;
using namespace quillpost::test;

class WlrDeliveryTest : public WaylandDeliveryFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { checkSeams(WaylandPlatform::Seams::Wlroots); }
    void init() { skipEarlierActivations(); }
    void deliversOnlyIntoTheTarget() { checkDeliversOnlyIntoTheTarget(); }
    void typesNothingWhenThingsChanged_data() { thingsThatChange(); }
    void typesNothingWhenThingsChanged() { checkTypesNothingWhenThingsChanged(); }

    // foot pastes on Ctrl+Shift+V; line breaks arrive as typed lines.
    void footGetsItsChord()
    {
        QTemporaryDir directory;
        const QString received = directory.filePath(QStringLiteral("received"));
        PasteDelivery delivery(m_platform.platform());
        QProcess terminal;
        terminal.setProcessChannelMode(QProcess::ForwardedChannels);
        terminal.start(QStringLiteral("foot"), {"--log-level=error", "sh", "-c", "cat > \"$0\"", received});
        QVERIFY(activationOf(QStringLiteral("foot")).windowId != 0);
        QVERIFY(activatePanel());
        QCOMPARE(delivery.lastExternalApp()->identifier, std::optional<QString>(QStringLiteral("foot")));

        const QString text = QStringLiteral("echo 你好\nsecond line\n");
        QVERIFY(delivery.paste(text));
        const auto contents = [&] {
            QFile file(received);
            return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
        };
        QTRY_COMPARE_WITH_TIMEOUT(contents(), text, 5000);
        terminal.terminate();
        terminal.waitForFinished(5000);
    }
};

int main(int argc, char **argv)
{
    return sessionTestMain<WlrDeliveryTest>(argc, argv, "QUILLPOST_WAYLAND_SESSION", "wayland");
}

#include "tst_wlrdelivery.moc"
