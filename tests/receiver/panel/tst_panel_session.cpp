// The receiver panel end to end: the local clip service, the real X11 seams and a target
// application in its own process, inside the headless session.

#include "DevService.h"
#include "PasteTargetProcess.h"
#include "SessionTestMain.h"

#include "cards/ReceiverCardView.h"
#include "platform/x11/X11Platform.h"
#include "platform/x11/XcbSupport.h"
#include "receiver/CompactInboxViewController.h"
#include "receiver/PasteDelivery.h"
#include "service/APIClient.h"
#include "support/FakeSecretStore.h"

#include <QGraphicsOpacityEffect>
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
    if (!x11::qtConnection())
        QSKIP("needs the xcb platform");
    DevService service(testArguments({"--seed", "demo", "--optimize-delay-ms", "500"}));
    QVERIFY(service.start());
    const QString token = service.signIn(QStringLiteral("13800000000"));
    QVERIFY(!token.isEmpty());
    const Profile profile = Profile::fromJson(service.get(QStringLiteral("api/profile"), token).json());
    const QJsonArray seeded = service.get(QStringLiteral("api/clips?limit=50"), token).json()["clips"].toArray();
    QVERIFY(!seeded.isEmpty());

    APIClient api(service.url({}).adjusted(QUrl::RemovePath), token);
    X11Platform platform;
    FakeSecretStore store;
    PasteTargetProcess target;
    QVERIFY(target.start());
    CompactInboxViewController panel(&api, profile, platform.platform(), &store, [](bool) {}, [] {});
    panel.resize(330, 430);
    panel.show();
    QVERIFY(QTest::qWaitForWindowActive(&panel));

    // The user's clips, newest first.
    QTRY_COMPARE_WITH_TIMEOUT(panel.cards().size(), std::min<int>(int(seeded.size()), 30), 5000);
    QCOMPARE(panel.cards().first()->clip().id, seeded.first()["id"].toString());
    QCOMPARE(panel.statusText(), QStringLiteral("● 已同步"));

    // Auto-paste on, then the user goes back to the application they type in.
    panel.autoPasteButton()->click();
    platform.workspace()->activate(RunningApplication{target.windowId, 0, std::nullopt});
    QTRY_VERIFY_WITH_TIMEOUT(panel.delivery()->lastExternalApp()
                                 && panel.delivery()->lastExternalApp()->windowId == target.windowId,
                             5000);

    // A clip from the phone: shown and highlighted within one poll.
    const HttpReply created = service.send("POST", QStringLiteral("api/clips"),
                                           {{"rawText", "嗯 明天上午十点 开会 讨论一下 发布计划"}}, token);
    QCOMPARE(created.status / 100, 2);
    const QString id = created.json()["clip"].toObject()["id"].toString();
    QVERIFY(!id.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(panel.highlightedClipID(), id, 3000 + 1000);
    QCOMPARE(panel.cards().first()->clip().id, id);
    QVERIFY(panel.cards().first()->findChild<QGraphicsOpacityEffect *>());

    // Its optimized text, once the service has made it, lands in the target's field.
    QTRY_VERIFY_WITH_TIMEOUT(!target.text.isEmpty(), 10000);
    QJsonObject stored;
    for (const QJsonValue clip : service.get(QStringLiteral("api/clips?limit=50"), token).json()["clips"].toArray()) {
        if (clip["id"].toString() == id)
            stored = clip.toObject();
    }
    QVERIFY(!stored["optimizedText"].toString().trimmed().isEmpty());
    QCOMPARE(target.text, stored["optimizedText"].toString());
    QVERIFY(panel.autoPastedClipIDs().contains(id));
    QCOMPARE(panel.statusText(), QStringLiteral("新内容已同步输入"));
}

QUILLPOST_SESSION_TEST_MAIN(PanelSessionTest)
#include "tst_panel_session.moc"
