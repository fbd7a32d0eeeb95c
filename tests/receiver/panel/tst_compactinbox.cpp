#include "PanelHarness.h"

#include "cards/ReceiverCardView.h"
#include "platform/SystemColors.h"
#include "receiver/PasteDelivery.h"
#include "widgets/SafePlainTextEdit.h"

#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace quillpost;
using namespace quillpost::test;

namespace {

const QColor synced = SystemColors::rgba(0.30, 0.52, 0.40, 1.0);
const RunningApplication editorApp = FakePlatform::app(7, QStringLiteral("Editor"), 700);

const QList<Clip> firstList{clip("a", "1", "甲"), clip("b", "1", "乙")};
const QList<Clip> withNewNewest{clip("c", "1", "丙"), clip("a", "1", "甲"), clip("b", "1", "乙")};

bool highlighted(const ReceiverCardView *card)
{
    return card->findChild<QGraphicsOpacityEffect *>() != nullptr;
}

// Answers the next modal alert, once it is shown, with the button titled `title`, recording
// what it showed.
struct AlertAnswer
{
    QString text;
    QString informativeText;
    Qt::TextFormat format = Qt::AutoText;
    QStringList buttons;
    QString defaultButton;
    QString escapeButton;
    QTimer watch;

    void answerWith(const QString &title)
    {
        watch.setInterval(5);
        QObject::connect(&watch, &QTimer::timeout, [this, title] {
            auto *alert = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!alert || !alert->isVisible())
                return;
            watch.stop();
            text = alert->text();
            informativeText = alert->informativeText();
            format = alert->textFormat();
            for (QAbstractButton *button : alert->buttons())
                buttons << button->text();
            defaultButton = alert->defaultButton()->text();
            escapeButton = alert->escapeButton()->text();
            for (QAbstractButton *button : alert->buttons()) {
                if (button->text() == title)
                    button->click();
            }
        });
        watch.start();
    }
};

// Opens the account menu and returns it.
QMenu *openAccountMenu(CompactInboxViewController &panel)
{
    panel.showAccountMenu();
    return qobject_cast<QMenu *>(QApplication::activePopupWidget());
}

// Chooses "退出登录…" from the keyboard, which closes the menu as a click does.
void chooseSignOut(QMenu *menu)
{
    menu->setActiveAction(menu->actions().last());
    QTest::keyClick(menu, Qt::Key_Return);
}

} // namespace

class CompactInboxTest : public QObject
{
    Q_OBJECT

private slots:
    void startsConnectingAndPolls();
    void firstReplyAppliesQuietly();
    void firstEmptyReplyAppliesNothing();
    void identicalReplyOnlyResetsStatus();
    void changedReplyHighlightsNewNewest();
    void emptyReplyThenFullIsLikeFirst();
    void failedFetchWaitsForReconnect();
    void olderReplyNeverReplacesNewer();
    void scopeTitlesAndFilter_data();
    void scopeTitlesAndFilter();
    void scopeFallsBackWhenItsSpaceDisappears();
    void showsAtMostThirtyCards();
    void editingHoldsBackChanges();
    void pinnedCopiesNewestText();
    void autoPaste_data();
    void autoPaste();
    void autoPasteStoppedEarlyKeepsItsMessage_data();
    void autoPasteStoppedEarlyKeepsItsMessage();
    void cardCallbacksReachPanel();
    void pinToggles();
    void autoPasteSwitch();
    void accountButtonAvatar_data();
    void accountButtonAvatar();
    void accountMenuShowsDataAsText();
    void signOutConfirmed();
    void signOutCancelled();
    void hostMayDeletePanelInOnLogout();
    void repliesAfterSignOutAreDropped();
    void releaseWithFetchInFlight();
};

void CompactInboxTest::startsConnectingAndPolls()
{
    PanelHarness h;
    CompactInboxViewController &panel = *h.panel;
    QCOMPARE(panel.statusText(), QStringLiteral("连接中"));
    QCOMPARE(panel.statusColor(), SystemColors::secondaryLabel());
    QVERIFY(panel.cards().isEmpty());
    QVERIFY(!panel.emptyLabel());
    QCOMPARE(panel.scopeItems(), (QStringList{"全部", "个人"}));
    QCOMPARE(panel.selectedAutoVersion(), QStringLiteral("optimized"));
    QVERIFY(panel.pollTimer()->isActive());
    QCOMPARE(panel.pollTimer()->intervalAsDuration(), std::chrono::milliseconds(3000));

    // The fetch goes out at once; the timer keeps fetching.
    QVERIFY(h.server.waitForRequests(1));
    QCOMPARE(h.server.requests().first().target, QByteArray("/api/clips?limit=50"));
    QCOMPARE(h.server.requests().first().header("authorization"), QByteArray("Bearer token-1"));
    panel.pollTimer()->setInterval(5);
    QVERIFY(h.server.waitForRequests(4));
}

void CompactInboxTest::firstReplyAppliesQuietly()
{
    PanelHarness h;
    // Every switch is on before the first reply arrives: still nothing is copied or delivered.
    h.fake.workspace.userActivates(editorApp);
    h.panel->pinButton()->click();
    h.panel->autoPasteButton()->click();
    QVERIFY(h.firstReply(firstList));

    CompactInboxViewController &panel = *h.panel;
    QCOMPARE(h.cardIds(), (QStringList{"a", "b"}));
    QCOMPARE(panel.lastSignature(), QStringLiteral("a:1|b:1"));
    QCOMPARE(panel.lastLatestID(), QStringLiteral("a"));
    QVERIFY(panel.highlightedClipID().isEmpty());
    QVERIFY(!highlighted(panel.cards().first()));
    QVERIFY(h.clipboardWrites().isEmpty());
    QVERIFY(panel.autoPastedClipIDs().isEmpty());
    QCOMPARE(panel.statusText(), QStringLiteral("● 已同步"));
    QCOMPARE(panel.statusColor(), synced);
}

void CompactInboxTest::firstEmptyReplyAppliesNothing()
{
    PanelHarness h;
    QVERIFY(h.firstReply({}));
    QVERIFY(h.panel->cards().isEmpty());
    QVERIFY(!h.panel->emptyLabel());
    QCOMPARE(h.panel->statusText(), QStringLiteral("● 已同步"));
}

void CompactInboxTest::identicalReplyOnlyResetsStatus()
{
    PanelHarness h;
    QVERIFY(h.firstReply(firstList));
    const QList<ReceiverCardView *> before = h.panel->cards();
    h.panel->autoPasteButton()->click();
    QCOMPARE(h.panel->statusText(), QStringLiteral("新消息将自动输入"));

    // Same ids and stamps: a changed text alone goes unnoticed, and the cards stay as they are.
    QList<Clip> sameStamps = firstList;
    sameStamps[0].optimizedText = QStringLiteral("改过");
    QVERIFY(h.poll(sameStamps));
    QCOMPARE(h.panel->cards(), before);
    QCOMPARE(h.panel->currentClips(), firstList);
    QCOMPARE(h.panel->statusText(), QStringLiteral("● 已同步"));
    QCOMPARE(h.panel->statusColor(), synced);
}

void CompactInboxTest::changedReplyHighlightsNewNewest()
{
    PanelHarness h;
    QVERIFY(h.firstReply(firstList));

    // An update of a clip that is not the newest changes the list but highlights nothing.
    QList<Clip> updated = firstList;
    updated[1].updatedAt = QStringLiteral("2");
    QVERIFY(h.poll(updated));
    QCOMPARE(h.panel->lastSignature(), QStringLiteral("a:1|b:2"));
    QVERIFY(h.panel->highlightedClipID().isEmpty());

    QVERIFY(h.poll(withNewNewest));
    QCOMPARE(h.panel->highlightedClipID(), QStringLiteral("c"));
    QCOMPARE(h.cardIds(), (QStringList{"c", "a", "b"}));
    QVERIFY(highlighted(h.panel->cards().at(0)));
    QVERIFY(!highlighted(h.panel->cards().at(1)));
    QCOMPARE(h.panel->lastLatestID(), QStringLiteral("c"));

    // The highlight stays on its clip while it is the newest.
    QList<Clip> later = withNewNewest;
    later[2].updatedAt = QStringLiteral("3");
    QVERIFY(h.poll(later));
    QCOMPARE(h.panel->highlightedClipID(), QStringLiteral("c"));
    QVERIFY(highlighted(h.panel->cards().at(0)));
}

void CompactInboxTest::emptyReplyThenFullIsLikeFirst()
{
    PanelHarness h;
    h.fake.workspace.userActivates(editorApp);
    QVERIFY(h.firstReply(firstList));
    h.panel->pinButton()->click();
    h.panel->autoPasteButton()->click();

    QVERIFY(h.poll({}));
    QVERIFY(h.panel->cards().isEmpty());
    QVERIFY(h.panel->emptyLabel());
    QCOMPARE(h.panel->emptyLabel()->text(), QStringLiteral("这个空间还没有内容"));
    QVERIFY(h.panel->lastSignature().isEmpty());

    QVERIFY(h.poll(withNewNewest));
    QVERIFY(!h.panel->emptyLabel());
    QCOMPARE(h.cardIds(), (QStringList{"c", "a", "b"}));
    QVERIFY(h.panel->highlightedClipID().isEmpty());
    QVERIFY(h.clipboardWrites().isEmpty());
    QVERIFY(h.panel->autoPastedClipIDs().isEmpty());
    QCOMPARE(h.panel->lastLatestID(), QStringLiteral("c"));
}

void CompactInboxTest::failedFetchWaitsForReconnect()
{
    PanelHarness h;
    QVERIFY(h.firstReply(firstList));
    h.panel->pollTimer()->stop();
    h.api.setIdleTimeout(std::chrono::milliseconds(100));
    for (const ScriptedReply &failure : {ScriptedReply::json(500, R"({"error":"坏了"})"),
                                         ScriptedReply::json(200, R"({"clips":[{"title":"no id"}]})"),
                                         ScriptedReply{200, {}, {}, {}, ScriptedReply::Mode::Stall, 0}}) {
        h.server.enqueue(failure);
        QVERIFY(h.poll(firstList));
        QCOMPARE(h.panel->statusText(), QStringLiteral("● 等待重连"));
        QCOMPARE(h.panel->statusColor(), SystemColors::orange());
        QCOMPARE(h.cardIds(), (QStringList{"a", "b"}));
    }
    QVERIFY(h.poll(firstList));
    QCOMPARE(h.panel->statusText(), QStringLiteral("● 已同步"));
}

void CompactInboxTest::olderReplyNeverReplacesNewer()
{
    PanelHarness h;
    QVERIFY(h.firstReply(firstList));
    h.panel->pollTimer()->stop();

    // The earlier poll is answered late with the old list; the later one at once with the new.
    ScriptedReply late = ScriptedReply::json(200, clipListJson(firstList));
    late.delay = std::chrono::milliseconds(300);
    h.server.enqueue(late);
    h.server.enqueue(ScriptedReply::json(200, clipListJson(withNewNewest)));
    const qsizetype sent = h.server.requests().size();
    QSignalSpy finished(h.network(), &QNetworkAccessManager::finished);
    h.panel->refresh();
    QVERIFY(h.server.waitForRequests(sent + 1));
    h.panel->refresh();
    QTRY_COMPARE(finished.size(), 2);

    QCOMPARE(h.cardIds(), (QStringList{"c", "a", "b"}));
    QCOMPARE(h.panel->lastSignature(), CompactInboxViewController::signature(withNewNewest));

    // A late failure of an older poll does not report a lost connection either.
    ScriptedReply lateFailure = ScriptedReply::json(503, {});
    lateFailure.delay = std::chrono::milliseconds(300);
    h.server.enqueue(lateFailure);
    h.server.enqueue(ScriptedReply::json(200, clipListJson(withNewNewest)));
    h.panel->refresh();
    QVERIFY(h.server.waitForRequests(sent + 3));
    h.panel->refresh();
    QTRY_COMPARE(finished.size(), 4);
    QCOMPARE(h.panel->statusText(), QStringLiteral("● 已同步"));
}

void CompactInboxTest::scopeTitlesAndFilter_data()
{
    QTest::addColumn<QString>("scope");
    QTest::addColumn<QStringList>("ids");

    QTest::newRow("all") << "全部" << QStringList{"p1", "z1", "a1", "q1", "p2"};
    QTest::newRow("personal, with a space named like it") << "个人" << QStringList{"p1", "q1", "p2"};
    QTest::newRow("one space") << "Zeta" << QStringList{"z1"};
}

void CompactInboxTest::scopeTitlesAndFilter()
{
    QFETCH(QString, scope);
    QFETCH(QStringList, ids);

    PanelHarness h;
    QVERIFY(h.firstReply({clip("p1", "1", "x"), clip("z1", "1", "x", {}, "Zeta"), clip("a1", "1", "x", {}, "&Alpha"),
                          clip("q1", "1", "x", {}, "个人"), clip("p2", "1", "x")}));
    // Code point order: "&" < "Z" < "个"; a space named "个人" is listed once more.
    QCOMPARE(h.panel->scopeItems(), (QStringList{"全部", "个人", "&Alpha", "Zeta", "个人"}));

    const qsizetype requests = h.server.requests().size();
    QComboBox *scopeButton = h.panel->scopeButton();
    const int index = int(h.panel->scopeItems().indexOf(scope));
    scopeButton->setFocus();
    // Chosen from the keyboard, as a user would: moves the selection and runs the action.
    scopeButton->setCurrentIndex(0);
    for (int i = 0; i < index; ++i)
        QTest::keyClick(scopeButton, Qt::Key_Down);
    QCOMPARE(h.panel->selectedScope(), scope);
    QCOMPARE(h.cardIds(), ids);
    QCOMPARE(h.server.requests().size(), requests); // the cards come from the clips at hand
}

void CompactInboxTest::scopeFallsBackWhenItsSpaceDisappears()
{
    PanelHarness h;
    QVERIFY(h.firstReply({clip("a", "1", "x", {}, "A"), clip("b", "1", "x", {}, "B")}));
    QComboBox *scopeButton = h.panel->scopeButton();
    scopeButton->setCurrentIndex(3);
    emit scopeButton->activated(3);
    QCOMPARE(h.panel->selectedScope(), QStringLiteral("B"));

    // "B" stays: the selection follows it to its new place.
    QVERIFY(h.poll({clip("a", "1", "x", {}, "A"), clip("b", "2", "x", {}, "B"), clip("c", "1", "x", {}, "AA")}));
    QCOMPARE(h.panel->scopeItems(), (QStringList{"全部", "个人", "A", "AA", "B"}));
    QCOMPARE(scopeButton->currentText(), QStringLiteral("B"));
    QCOMPARE(h.cardIds(), QStringList{"b"});

    // "B" goes: back to all clips.
    QVERIFY(h.poll({clip("a", "2", "x", {}, "A")}));
    QCOMPARE(h.panel->selectedScope(), QStringLiteral("全部"));
    QCOMPARE(scopeButton->currentIndex(), 0);
    QCOMPARE(h.cardIds(), QStringList{"a"});

    // A space with no clips left in the chosen scope shows the empty label.
    scopeButton->setCurrentIndex(1);
    emit scopeButton->activated(1);
    QVERIFY(h.panel->cards().isEmpty());
    QVERIFY(h.panel->emptyLabel());
}

void CompactInboxTest::showsAtMostThirtyCards()
{
    QList<Clip> clips;
    for (int i = 0; i < 45; ++i)
        clips << clip(QStringLiteral("c%1").arg(i), "1", "x", {}, i % 2 ? QStringLiteral("S") : QString());
    PanelHarness h;
    QVERIFY(h.firstReply(clips));
    QStringList first30;
    for (int i = 0; i < 30; ++i)
        first30 << QStringLiteral("c%1").arg(i);
    QCOMPARE(h.cardIds(), first30);

    // 22 personal clips: all of them.
    h.panel->scopeButton()->setCurrentIndex(1);
    emit h.panel->scopeButton()->activated(1);
    QCOMPARE(h.panel->cards().size(), 23);
}

void CompactInboxTest::editingHoldsBackChanges()
{
    PanelHarness h;
    h.panel->resize(330, 400);
    h.panel->show();
    QVERIFY(QTest::qWaitForWindowActive(h.panel.get()));
    QVERIFY(h.firstReply(firstList));

    ReceiverCardView *card = h.panel->cards().first();
    card->editor()->setFocus();
    QTest::keyClicks(card->editor(), QStringLiteral("draft"));
    QVERIFY(card->isEditing());

    QVERIFY(h.poll(withNewNewest));
    QCOMPARE(h.panel->statusText(), QStringLiteral("● 已同步"));
    QCOMPARE(h.panel->currentClips(), firstList);
    QCOMPARE(h.panel->lastSignature(), QStringLiteral("a:1|b:1"));
    QCOMPARE(h.panel->cards().first(), card);
    QVERIFY(card->editor()->toPlainText().contains(QStringLiteral("draft")));

    // Editing ends; the next poll applies the change as if it had just arrived.
    h.panel->scopeButton()->setFocus();
    QVERIFY(h.poll(withNewNewest));
    QCOMPARE(h.cardIds(), (QStringList{"c", "a", "b"}));
    QCOMPARE(h.panel->highlightedClipID(), QStringLiteral("c"));
}

void CompactInboxTest::pinnedCopiesNewestText()
{
    PanelHarness h;
    QVERIFY(h.firstReply(firstList));
    h.panel->pinButton()->click();

    // Optimized text blank: the raw text is copied.
    QList<Clip> arrived{clip("c", "1", " \n", "原话"), clip("a", "1", "甲")};
    QVERIFY(h.poll(arrived));
    QCOMPARE(h.clipboardWrites(), QStringList{"原话"});
    QCOMPARE(h.panel->statusText(), QStringLiteral("已复制，可按 ⌘V"));
    QCOMPARE(h.panel->statusColor(), synced);

    // Another change with the same newest text copies nothing; a new text of the same clip does.
    arrived[1].updatedAt = QStringLiteral("2");
    QVERIFY(h.poll(arrived));
    QCOMPARE(h.clipboardWrites().size(), 1);
    arrived[0] = clip("c", "2", "润色后", "原话");
    QVERIFY(h.poll(arrived));
    QCOMPARE(h.clipboardWrites(), (QStringList{"原话", "润色后"}));
    QCOMPARE(h.panel->lastClipboardText(), QStringLiteral("润色后"));

    // A newest clip without any text is neither copied nor remembered as the newest.
    QVERIFY(h.poll({clip("e", "1", "", ""), clip("c", "2", "润色后", "原话")}));
    QCOMPARE(h.clipboardWrites().size(), 2);
    QCOMPARE(h.panel->lastLatestID(), QStringLiteral("c"));

    h.panel->pinButton()->click();
    QVERIFY(h.poll(firstList));
    QCOMPARE(h.clipboardWrites().size(), 2);
}

void CompactInboxTest::autoPaste_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QList<QList<Clip>>>("replies"); // after the first
    QTest::addColumn<QStringList>("delivered");
    QTest::addColumn<QString>("finalStatus");

    const QList<Clip> pending{clip("c", "1", "", "原话"), clip("a", "1", "甲")};
    const QList<Clip> optimized{clip("c", "2", "\n润色后\n", "原话"), clip("a", "1", "甲")};
    const QList<Clip> touched{clip("c", "3", "\n润色后\n", "原话"), clip("a", "1", "甲")};
    const QList<Clip> firstTouched{clip("a", "2", "甲"), clip("b", "1", "乙")};

    QTest::newRow("optimized waits for its text, delivered once, untrimmed")
        << "optimized" << QList<QList<Clip>>{pending, optimized, touched} << QStringList{"\n润色后\n"} << "● 已同步";
    QTest::newRow("raw at arrival") << "raw" << QList<QList<Clip>>{pending} << QStringList{"原话"}
                                    << "新内容已同步输入";
    QTest::newRow("raw: not again when the optimized text comes")
        << "raw" << QList<QList<Clip>>{pending, optimized} << QStringList{"原话"} << "● 已同步";
    QTest::newRow("optimized: an old newest clip is delivered at the next change")
        << "optimized" << QList<QList<Clip>>{firstTouched} << QStringList{"甲"} << "新内容已同步输入";
    QTest::newRow("raw: an old newest clip is not")
        << "raw" << QList<QList<Clip>>{firstTouched} << QStringList{} << "● 已同步";
}

void CompactInboxTest::autoPaste()
{
    QFETCH(QString, version);
    QFETCH(QList<QList<Clip>>, replies);
    QFETCH(QStringList, delivered);
    QFETCH(QString, finalStatus);

    PanelHarness h;
    h.fake.workspace.userActivates(editorApp);
    QVERIFY(h.firstReply(firstList));
    // The version is chosen on a card, as the user does.
    ReceiverCardView *card = h.panel->cards().first();
    (version == "raw" ? card->rawButton() : card->optimizedButton())->click();
    QCOMPARE(h.panel->selectedAutoVersion(), version);
    h.panel->autoPasteButton()->click();

    for (const QList<Clip> &reply : replies)
        QVERIFY(h.poll(reply));
    QTRY_COMPARE(h.fake.keystroke.posts.size(), delivered.size());
    QStringList pasted;
    for (const FakeKeystroke::Post &post : h.fake.keystroke.posts) {
        pasted << post.clipboardText;
        QCOMPARE(post.target, editorApp);
    }
    QCOMPARE(pasted, delivered);
    QCOMPARE(h.panel->autoPastedClipIDs().size(), delivered.size());
    QCOMPARE(h.panel->statusText(), finalStatus);
    QCOMPARE(h.panel->statusColor(), synced);
}

void CompactInboxTest::autoPasteStoppedEarlyKeepsItsMessage_data()
{
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<bool>("hasTarget");
    QTest::addColumn<bool>("terminated");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QColor>("color");

    QTest::newRow("not trusted") << false << true << false << "请在系统设置中允许辅助功能" << SystemColors::orange();
    QTest::newRow("no target") << true << false << false << "先切换一次目标应用" << synced;
    QTest::newRow("target closed") << true << true << true << "目标应用已关闭，请重新点一下输入框" << synced;
}

void CompactInboxTest::autoPasteStoppedEarlyKeepsItsMessage()
{
    QFETCH(bool, trusted);
    QFETCH(bool, hasTarget);
    QFETCH(bool, terminated);
    QFETCH(QString, message);
    QFETCH(QColor, color);

    PanelHarness h;
    h.fake.accessibility.trusted = trusted;
    if (hasTarget)
        h.fake.workspace.userActivates(editorApp);
    if (terminated)
        h.fake.workspace.terminate(editorApp);
    QVERIFY(h.firstReply(firstList));
    h.panel->autoPasteButton()->click();

    QVERIFY(h.poll(withNewNewest));
    QCOMPARE(h.panel->statusText(), message);
    QCOMPARE(h.panel->statusColor(), color);
    QCOMPARE(h.clipboardWrites(), QStringList{"丙"});
    QVERIFY(h.panel->autoPastedClipIDs().contains("c"));

    // Once delivery works again, the clip is not delivered behind the user's back.
    h.fake.accessibility.trusted = true;
    h.fake.workspace.userActivates(FakePlatform::app(9));
    QList<Clip> touched = withNewNewest;
    touched[0].updatedAt = QStringLiteral("2");
    QVERIFY(h.poll(touched));
    QCOMPARE(h.clipboardWrites(), QStringList{"丙"});
    QVERIFY(h.fake.workspace.activations.isEmpty());
}

void CompactInboxTest::cardCallbacksReachPanel()
{
    PanelHarness h;
    h.fake.workspace.userActivates(editorApp);
    QVERIFY(h.firstReply(firstList));
    ReceiverCardView *card = h.panel->cards().at(1);

    card->copyButton()->click();
    QCOMPARE(h.panel->statusText(), QStringLiteral("已复制到剪贴板"));
    QCOMPARE(h.panel->statusColor(), SystemColors::rgba(0.29, 0.49, 0.39, 1));

    card->pasteButton()->click();
    QCOMPARE(h.clipboardWrites(), QStringList{"乙"});
    QTRY_COMPARE(h.fake.keystroke.posts.size(), 1);

    card->rawButton()->click();
    QCOMPARE(h.panel->selectedAutoVersion(), QStringLiteral("raw"));
    card->optimizedButton()->click();
    QCOMPARE(h.panel->selectedAutoVersion(), QStringLiteral("optimized"));

    // A long message with line breaks stays on one line and does not widen the panel.
    const int width = h.panel->minimumSizeHint().width();
    h.panel->pollTimer()->stop();
    card = h.panel->cards().first();
    card->editor()->setPlainText(QStringLiteral("x"));
    h.server.enqueue(ScriptedReply::json(400, QByteArray(R"({"error":")") + QByteArray(300, 'e') + R"(\nmore"})"));
    card->saveButton()->click();
    QTRY_COMPARE(h.panel->statusColor(), SystemColors::red());
    QVERIFY(!h.panel->statusText().contains(QLatin1Char('\n')));
    QCOMPARE(h.panel->minimumSizeHint().width(), width);
}

void CompactInboxTest::pinToggles()
{
    PanelHarness h;
    QPushButton *pin = h.panel->pinButton();
    QCOMPARE(pin->text(), QStringLiteral("悬浮"));
    QVERIFY(!pin->isChecked());
    pin->click();
    QVERIFY(h.panel->pinned());
    QCOMPARE(pin->text(), QStringLiteral("取消悬浮"));
    QVERIFY(pin->isChecked());
    QTest::keyClick(pin, Qt::Key_Space);
    QVERIFY(!h.panel->pinned());
    QCOMPARE(pin->text(), QStringLiteral("悬浮"));
    QVERIFY(!pin->isChecked());
    QCOMPARE(h.pinCalls, (QList<bool>{true, false}));
}

void CompactInboxTest::autoPasteSwitch()
{
    PanelHarness h;
    QVERIFY(h.firstReply(firstList));
    QPushButton *button = h.panel->autoPasteButton();
    button->click();
    QVERIFY(h.panel->autoPasteEnabled());
    QCOMPARE(button->text(), QStringLiteral("同步输入中"));
    QCOMPARE(h.panel->statusText(), QStringLiteral("新消息将自动输入"));
    QCOMPARE(h.panel->statusColor(), SystemColors::orange());
    button->click();
    QVERIFY(!h.panel->autoPasteEnabled());
    QCOMPARE(button->text(), QStringLiteral("同步输入"));
    QCOMPARE(h.panel->statusText(), QStringLiteral("● 已同步"));
    QCOMPARE(h.panel->statusColor(), synced);
}

void CompactInboxTest::accountButtonAvatar_data()
{
    QByteArray png;
    {
        QImage image(8, 4, QImage::Format_ARGB32);
        image.fill(Qt::red);
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
    }
    const QString base64 = QString::fromLatin1(png.toBase64());

    QTest::addColumn<std::optional<QString>>("avatarData");
    QTest::addColumn<bool>("hasIcon");
    QTest::newRow("absent") << std::optional<QString>() << false;
    QTest::newRow("data URL") << std::optional<QString>("data:image/png;base64," + base64) << true;
    QTest::newRow("no comma") << std::optional<QString>(base64) << false;
    QTest::newRow("bad Base64") << std::optional<QString>("data:image/png;base64,@@" + base64) << false;
    QTest::newRow("unpadded") << std::optional<QString>("x," + base64.chopped(1)) << false;
    QTest::newRow("not an image") << std::optional<QString>("x," + QString::fromLatin1(QByteArray("hello").toBase64()))
                                  << false;
}

void CompactInboxTest::accountButtonAvatar()
{
    QFETCH(std::optional<QString>, avatarData);
    QFETCH(bool, hasIcon);

    Profile profile = PanelHarness::defaultProfile();
    profile.avatarData = avatarData;
    PanelHarness h(profile);
    QPushButton *account = h.panel->accountButton();
    QCOMPARE(account->text(), QStringLiteral("小明"));
    QCOMPARE(!account->icon().isNull(), hasIcon);
    if (hasIcon) {
        QCOMPARE(account->iconSize(), QSize(20, 20));
        // Sharp on a HiDPI screen: a pixmap drawn at twice the size exists.
        QCOMPARE(account->icon().pixmap(QSize(20, 20), 2.0).deviceIndependentSize(), QSizeF(20, 20));
        QCOMPARE(account->icon().pixmap(QSize(20, 20), 2.0).size(), QSize(40, 40));
    }
}

void CompactInboxTest::accountMenuShowsDataAsText()
{
    Profile profile;
    profile.nickname = QStringLiteral("A&B <b>粗</b>");
    profile.phone = QStringLiteral("138&0");
    PanelHarness h(profile);
    QCOMPARE(h.panel->accountButton()->text(), QStringLiteral("A&&B <b>粗</b>"));

    h.panel->resize(330, 230);
    h.panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.panel.get()));
    QMenu *menu = openAccountMenu(*h.panel);
    QVERIFY(menu);
    const QList<QAction *> actions = menu->actions();
    QCOMPARE(actions.size(), 4);
    QCOMPARE(actions[0]->text(), QStringLiteral("A&&B <b>粗</b>"));
    QCOMPARE(actions[1]->text(), QStringLiteral("138&&0"));
    QVERIFY(!actions[0]->isEnabled() && !actions[1]->isEnabled());
    QVERIFY(actions[2]->isSeparator());
    QCOMPARE(actions[3]->text(), QStringLiteral("退出登录…"));
    QVERIFY(actions[3]->isEnabled());
    const QPushButton *account = h.panel->accountButton();
    QCOMPARE(menu->pos(), account->mapToGlobal(QPoint(0, account->height() + 3)));

    // The alert shows the nickname as it is.
    AlertAnswer answer;
    answer.answerWith(QStringLiteral("取消"));
    chooseSignOut(menu);
    QTRY_VERIFY(!answer.text.isEmpty());
    QCOMPARE(answer.text, QStringLiteral("退出 A&B <b>粗</b>？"));
    QCOMPARE(answer.format, Qt::PlainText);
}

void CompactInboxTest::signOutConfirmed()
{
    PanelHarness h;
    QVERIFY(h.firstReply(firstList));
    QMenu *menu = openAccountMenu(*h.panel);
    QVERIFY(menu);
    AlertAnswer answer;
    answer.answerWith(QStringLiteral("退出"));
    chooseSignOut(menu);
    QTRY_COMPARE(h.logouts, 1);

    QCOMPARE(answer.text, QStringLiteral("退出 小明？"));
    QCOMPARE(answer.informativeText, QStringLiteral("云端内容不会删除。"));
    QCOMPARE(answer.buttons.size(), 2);
    QVERIFY(answer.buttons.contains("退出") && answer.buttons.contains("取消"));
    QCOMPARE(answer.defaultButton, QStringLiteral("退出"));
    QCOMPARE(answer.escapeButton, QStringLiteral("取消"));
    QVERIFY(!h.panel->pollTimer()->isActive());
    QVERIFY(!h.api.token);
    QCOMPARE(h.store.removes, 1);
    QVERIFY(!h.store.stored);
}

void CompactInboxTest::signOutCancelled()
{
    Profile profile = PanelHarness::defaultProfile();
    profile.nickname.clear();
    PanelHarness h(profile);
    QVERIFY(h.firstReply(firstList));
    AlertAnswer answer;
    answer.answerWith(QStringLiteral("取消"));
    h.panel->logout();
    QCOMPARE(answer.text, QStringLiteral("退出 ？"));
    QCOMPARE(h.logouts, 0);
    QVERIFY(h.panel->pollTimer()->isActive());
    QCOMPARE(h.api.token, std::optional<QString>(QStringLiteral("token-1")));
    QCOMPARE(h.store.removes, 0);
    QVERIFY(h.poll(withNewNewest));
    QCOMPARE(h.cardIds().first(), QStringLiteral("c"));
}

void CompactInboxTest::hostMayDeletePanelInOnLogout()
{
    PanelHarness h;
    h.deletePanelOnLogout = true;
    QMenu *menu = openAccountMenu(*h.panel);
    QVERIFY(menu);
    AlertAnswer answer;
    answer.answerWith(QStringLiteral("退出"));
    chooseSignOut(menu);
    QTRY_VERIFY(!h.panel);
    QCOMPARE(h.logouts, 1);
}

void CompactInboxTest::repliesAfterSignOutAreDropped()
{
    PanelHarness h;
    h.fake.workspace.userActivates(editorApp);
    QVERIFY(h.firstReply(firstList));
    h.panel->pollTimer()->stop();
    h.panel->autoPasteButton()->click();
    ScriptedReply late = ScriptedReply::json(200, clipListJson(withNewNewest));
    late.delay = std::chrono::milliseconds(200);
    h.server.enqueue(late);
    QSignalSpy finished(h.network(), &QNetworkAccessManager::finished);
    h.panel->refresh();

    AlertAnswer answer;
    answer.answerWith(QStringLiteral("退出"));
    h.panel->logout();
    QCOMPARE(h.logouts, 1);
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(h.cardIds(), (QStringList{"a", "b"}));
    QVERIFY(h.clipboardWrites().isEmpty());
}

void CompactInboxTest::releaseWithFetchInFlight()
{
    PanelHarness h;
    QVERIFY(h.firstReply(firstList));
    ScriptedReply late = ScriptedReply::json(200, clipListJson(withNewNewest));
    late.delay = std::chrono::milliseconds(100);
    h.server.enqueue(late);
    QSignalSpy finished(h.network(), &QNetworkAccessManager::finished);
    h.panel->refresh();
    QVERIFY(h.server.waitForRequests(2));

    const QPointer<QTimer> timer = h.panel->pollTimer();
    const QPointer<PasteDelivery> delivery = h.panel->delivery();
    h.panel.reset();
    QVERIFY(!timer);
    QVERIFY(!delivery);
    // The reply comes back to nobody; activations after the release reach nobody either.
    QTRY_COMPARE(finished.size(), 1);
    h.fake.workspace.userActivates(editorApp);
}

QTEST_MAIN(CompactInboxTest)
#include "tst_compactinbox.moc"
