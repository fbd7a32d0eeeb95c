// The receiver panel end to end: the local clip service, the real X11 seams and a target
// application in its own process, inside the headless session.

#include "DevService.h"
#include "PasteTargetProcess.h"
#include "support/SessionTestMain.h"

#include "platform/x11/X11Platform.h"
#include "receiver/CompactInboxViewController.h"
#include "receiver/PasteDelivery.h"
#include "service/APIClient.h"
#include "support/FakeSecretStore.h"

#include <QJsonArray>
#include <QPushButton>

using namespace quillpost;
using namespace quillpost::test;

class PanelSessionTest : public QObject
{
    Q_OBJECT

private slots:
    void phoneClipIsShownAndDelivered();
};

void PanelSessionTest::phoneClipIsShownAndDelivered()
{
    DevService service(testArguments({"--seed", "demo", "--optimize-delay-ms", "500"}));
    QVERIFY(service.start());
    const QString token = service.signIn(QStringLiteral("13800000000"));
    APIClient api(service.url({}).adjusted(QUrl::RemovePath), token);
    X11Platform platform;
    FakeSecretStore store;
    PasteTargetProcess target;
    QVERIFY(target.start());
    CompactInboxViewController panel(&api, Profile{}, platform.platform(), &store, [](bool) {}, [] {});
    panel.show();
    QVERIFY(QTest::qWaitForWindowActive(&panel));
    // The seeded clips are shown before anything new arrives.
    QTRY_VERIFY_WITH_TIMEOUT(!panel.cards().isEmpty(), 5000);

    // Auto-paste on, then the user goes back to the application they type in.
    panel.autoPasteButton()->click();
    platform.workspace()->activate(RunningApplication{target.windowId, 0, std::nullopt});
    QTRY_COMPARE_WITH_TIMEOUT(panel.delivery()->lastExternalApp().value_or(RunningApplication{}).windowId,
                              target.windowId, 5000);

    // The status line as it was when the keystroke went out; a later poll replaces it.
    QString statusAtKeystroke;
    QObject::connect(platform.keystroke(), &Keystroke::finished, &panel,
                     [&] { statusAtKeystroke = panel.statusText(); });

    // A clip from the phone: shown and highlighted at the next poll.
    const HttpReply created = service.send("POST", QStringLiteral("api/clips"),
                                           {{"rawText", "嗯 明天上午十点 开会 讨论一下 发布计划"}}, token);
    const QString id = created.json()["clip"].toObject()["id"].toString();
    QTRY_COMPARE_WITH_TIMEOUT(panel.highlightedClipID(), id, 15000);

    // Its optimized text, once the service has made it, lands in the target's field.
    QTRY_VERIFY_WITH_TIMEOUT(!target.text.isEmpty(), 15000);
    const QJsonValue stored = service.get(QStringLiteral("api/clips?limit=1"), token).json()["clips"].toArray().first();
    QCOMPARE(target.text, stored["optimizedText"].toString());
    QCOMPARE(statusAtKeystroke, QStringLiteral("新内容已同步输入"));
}

QUILLPOST_SESSION_TEST_MAIN(PanelSessionTest)
#include "tst_panel_session.moc"
