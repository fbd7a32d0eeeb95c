// The receiver panel end to end: the local clip service, the real X11 seams and a target
// application in its own process, inside the headless session.

#include "DevService.h"
#include "PasteTargetProcess.h"

#include "cards/ReceiverCardView.h"
#include "delivery/PasteDelivery.h"
#include "platform/x11/X11Platform.h"
#include "receiver/CompactInboxViewController.h"
#include "service/APIClient.h"
#include "support/FakeSecretStore.h"
#include "support/SessionTestMain.h"
#include "widgets/SafePlainTextEdit.h"

#include <QJsonArray>
#include <QPointer>
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
    const QString autoPasted = target.text;

    // The user edits that card and saves it: the service keeps the text, and once the user has
    // moved on, the next poll brings the card back with it.
    panel.autoPasteButton()->click();
    ReceiverCardView *card = panel.cards().first();
    QCOMPARE(card->clip().id, id);
    const QString edited = QStringLiteral("改好的：明天上午十点开会");
    card->editor()->setFocus();
    card->editor()->selectAll();
    card->editor()->insertPlainText(edited);
    card->saveButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(card->saveButton()->text(), QStringLiteral("已保存"), 10000);
    const QJsonValue newest = service.get(QStringLiteral("api/clips?limit=1"), token).json()["clips"].toArray().first();
    QVERIFY(newest["id"] == id && newest["optimizedText"] == edited);
    const QPointer<ReceiverCardView> saved = card;
    card->editor()->clearFocus();
    QTRY_VERIFY_WITH_TIMEOUT(!saved, 15000); // rebuilt from a poll
    QCOMPARE(panel.cards().first()->editor()->toPlainText(), edited);

    // Its paste button types it into the application worked in last.
    panel.cards().first()->pasteButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(target.text, autoPasted + edited, 10000);
}

QUILLPOST_SESSION_TEST_MAIN(PanelSessionTest)
#include "tst_panel_session.moc"
