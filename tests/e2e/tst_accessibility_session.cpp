// The switches as an assistive tool operates them: through the accessibility bus of the
// headless session, from another process, with their "toggle" action, which is no click.
#include "DevService.h"
#include "cards/ReceiverCardView.h"
#include "fakes/FakePlatform.h"
#include "inbox/AlertSound.h"
#include "inbox/InboxViewController.h"
#include "receiver/CompactInboxViewController.h"
#include "service/APIClient.h"
#include "support/FakeSecretStore.h"
#include "support/SessionTestMain.h"
#include "widgets/SafePlainTextEdit.h"

#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>

using namespace quillpost;
using namespace quillpost::test;

namespace {

struct SilentSound final : AlertSound { void play() override {} };

// Runs the accessibility action `action` on the control named `name` of this program from a
// helper process, serving the bus meanwhile; gives what the helper read back ("checked 悬浮").
QString act(const QString &action, const QString &name)
{
    QProcess helper;
    helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QSignalSpy finished(&helper, &QProcess::finished);
    helper.start(QStringLiteral(QUILLPOST_ATSPI_ACT), {QCoreApplication::applicationName(), action, name});
    if (!finished.wait(30000) || helper.exitCode() != 0)
        return QStringLiteral("failed");
    return QString::fromUtf8(helper.readAllStandardOutput()).trimmed();
}

} // namespace

class AccessibilitySessionTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_service.start());
        m_api = std::make_unique<APIClient>(m_service.url({}).adjusted(QUrl::RemovePath),
                                            m_service.signIn(QStringLiteral("13800000000")));
    }

    void panelSwitches()
    {
        QList<bool> pinCalls;
        CompactInboxViewController panel(m_api.get(), Profile{"13800000000", "演示用户", {}}, m_platform.platform(),
                                         &m_store, [&](bool pinned) { pinCalls << pinned; }, [] {});
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QTRY_VERIFY_WITH_TIMEOUT(!panel.cards().isEmpty(), 10000);

        QCOMPARE(act("toggle", "同步输入"), QStringLiteral("checked 同步输入中"));
        QVERIFY(panel.autoPasteEnabled());
        QCOMPARE(panel.statusText(), QStringLiteral("新消息将自动输入"));
        QCOMPARE(act("toggle", "同步输入中"), QStringLiteral("unchecked 同步输入"));
        QVERIFY(!panel.autoPasteEnabled());

        QCOMPARE(act("toggle", "悬浮"), QStringLiteral("checked 取消悬浮"));
        QCOMPARE(pinCalls, QList<bool>{true});

        const ReceiverCardView *card = panel.cards().first();
        QCOMPARE(act("toggle", "原文"), QStringLiteral("checked 原文"));
        QCOMPARE(card->selectedVersion(), 1);
        QCOMPARE(card->editor()->text(), card->clip().rawText);
    }

    void inboxSegments()
    {
        SilentSound sound;
        InboxViewController inbox(m_api.get(), Profile{"13800000000", "演示用户", {}}, m_platform.platform(), &m_store,
                                  &sound, [] {});
        inbox.show();
        QVERIFY(QTest::qWaitForWindowExposed(&inbox));
        QTRY_VERIFY_WITH_TIMEOUT(!inbox.titleField()->text().isEmpty(), 10000);
        const Clip shown = inbox.clips().at(inbox.selectedIndex());
        QCOMPARE(act("toggle", "原文"), QStringLiteral("checked 原文"));
        QCOMPARE(inbox.editor()->text(), shown.rawText);
    }

private:
    DevService m_service{testArguments({QStringLiteral("--seed"), QStringLiteral("demo")})};
    std::unique_ptr<APIClient> m_api;
    FakePlatform m_platform;
    FakeSecretStore m_store;
};

QUILLPOST_SESSION_TEST_MAIN(AccessibilitySessionTest)
#include "tst_accessibility_session.moc"
