// The receiver panel against a scripted clip service, on the platform fakes.

#include "cards/CardShadowEffect.h"
#include "cards/ElidedLabel.h"
#include "cards/ReceiverCardView.h"
#include "delivery/DeliveryStatus.h"
#include "delivery/PasteDelivery.h"
#include "fakes/FakePlatform.h"
#include "platform/SystemColors.h"
#include "receiver/CompactInboxViewController.h"
#include "service/APIClient.h"
#include "support/FakeSecretStore.h"
#include "support/TestHttpServer.h"
#include "widgets/SafePlainTextEdit.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QHelpEvent>
#include <QMenu>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>

using namespace quillpost;
using namespace quillpost::test;
using Clips = QList<Clip>;

namespace {

// A clip whose raw text is "raw <id>" unless given.
Clip clip(const QString &id, const QString &updatedAt, const QString &optimized, const QString &raw = {},
          const QString &space = {})
{
    return {.id = id, .rawText = raw.isNull() ? "raw " + id : raw, .optimizedText = optimized, .optimizeStatus = {},
            .updatedAt = updatedAt, .deviceName = {}, .collaborationName = space, .collaborationColor = {}};
}

const RunningApplication editorApp = FakePlatform::app(7, QStringLiteral("Editor"), 700);
const Clips firstList{clip("a", "1", "甲"), clip("b", "1", "乙")};
const Clips withNewNewest{clip("c", "1", "丙"), clip("a", "1", "甲"), clip("b", "1", "乙")};

// One panel against a service that answers every poll with `clips` unless a reply is enqueued.
// Its timer stays active but does not fire during a test: polls come when the test asks.
struct Harness
{
    TestHttpServer server;
    APIClient api{server.origin(), QStringLiteral("token-1")};
    QSignalSpy replies{api.findChild<QNetworkAccessManager *>(), &QNetworkAccessManager::finished};
    FakePlatform fake;
    FakeSecretStore store;
    Clips clips;
    QList<bool> pinCalls;
    int logouts = 0;
    bool deleteOnLogout = false;
    std::unique_ptr<CompactInboxViewController> panel;

    explicit Harness(const Profile &profile = {"13800000000", "小明", std::nullopt})
    {
        server.setHandler([this](const RecordedRequest &) { return clipsReply(clips); });
        const auto logout = [this] { ++logouts; if (deleteOnLogout) panel.reset(); };
        panel = std::make_unique<CompactInboxViewController>(&api, profile, fake.platform(), &store,
                                                             [this](bool pinned) { pinCalls << pinned; }, logout);
        panel->pollTimer()->setInterval(std::chrono::hours(1));
    }

    // One poll answered with `answer`; without `refresh`, the fetch the constructor started.
    bool poll(const Clips &answer, bool refresh = true)
    {
        clips = answer;
        const qsizetype before = replies.size();
        if (refresh)
            panel->refresh();
        return QTest::qWaitFor([&] { return replies.size() > before; }, 10000);
    }

    QStringList cardIds() const
    {
        QStringList ids;
        for (const ReceiverCardView *card : panel->cards())
            ids << card->clip().id;
        return ids;
    }
    // The texts put on the clipboard, in order.
    QStringList copied() const { return fake.log.filter(".setText ").replaceInStrings("pasteboard.setText ", ""); }
};

} // namespace

class CompactInboxTest : public QObject
{
    Q_OBJECT

private slots:
    void pollReplies()
    {
        Harness h;
        h.panel->show();
        QVERIFY(QTest::qWaitForWindowActive(h.panel.get()));
        // All switches on before the first reply: it still only fills the cards.
        h.fake.workspace.userActivates(editorApp);
        h.panel->pinButton()->click();
        h.panel->autoPasteButton()->click();
        QVERIFY(h.poll(firstList, false));
        QCOMPARE(h.cardIds(), (QStringList{"a", "b"}));
        QVERIFY(h.panel->highlightedClipID().isEmpty() && h.copied().isEmpty() && h.fake.workspace.activations.isEmpty());
        h.panel->autoPasteButton()->click();
        h.panel->pinButton()->click();

        // After a failure, the same ids and stamps (a new text alone goes unnoticed) only reset the status.
        const QList<ReceiverCardView *> cards = h.panel->cards();
        h.server.enqueue(clipsReply({}, 500));
        QVERIFY(h.poll(withNewNewest));
        QCOMPARE(h.panel->statusText(), QStringLiteral("● 等待重连"));
        Clips sameStamps = firstList;
        sameStamps[0].optimizedText = QStringLiteral("改过");
        QVERIFY(h.poll(sameStamps));
        QCOMPARE(h.panel->cards(), cards);
        QCOMPARE(h.panel->currentClips(), firstList);
        QCOMPARE(h.panel->statusText(), QStringLiteral("● 已同步"));

        // An older clip updated: applied without highlight.
        QVERIFY(h.poll({clip("a", "1", "甲"), clip("b", "2", "乙")}));
        QVERIFY(h.panel->currentClips()[1].updatedAt == "2" && h.panel->highlightedClipID().isEmpty());

        // A new newest clip while a card's editor has the focus: held back, then fetched again,
        // applied and highlighted as soon as the focus leaves the editor.
        ReceiverCardView *card = h.panel->cards().first();
        card->editor()->setFocus();
        QVERIFY(h.poll(withNewNewest));
        QCOMPARE(h.panel->cards().first(), card);
        h.panel->scopeButton()->setFocus();
        QTRY_COMPARE(h.cardIds(), (QStringList{"c", "a", "b"}));
        QCOMPARE(h.panel->highlightedClipID(), QStringLiteral("c"));

        // An empty list is applied; the next full one is handled like a first reply, even pinned.
        h.panel->pinButton()->click();
        QVERIFY(h.poll({}));
        QVERIFY(h.panel->cards().isEmpty() && h.panel->emptyLabel());
        QVERIFY(h.poll({clip("d", "1", "丁"), clip("c", "1", "丙")}));
        QVERIFY(!h.panel->emptyLabel() && h.copied().isEmpty());
        QCOMPARE(h.panel->highlightedClipID(), QStringLiteral("c"));

        // Pinned, a changed reply copies the newest text: the same text not twice, a new one of the
        // same clip again.
        QVERIFY(h.poll({clip("e", "1", "戊"), clip("d", "1", "丁")}));
        QVERIFY(h.poll({clip("e", "1", "戊"), clip("d", "2", "丁")}));
        QVERIFY(h.poll({clip("e", "2", "戊二"), clip("d", "2", "丁")}));
        QCOMPARE(h.copied(), (QStringList{"戊", "戊二"}));
        h.panel->pinButton()->click();
        QCOMPARE(h.pinCalls, (QList<bool>{true, false, true, false}));

        // Two overlapping polls, the earlier answered after the later with an older list or a
        // failure: it is dropped.
        for (const ScriptedReply &late : {clipsReply(firstList).heldBack(), clipsReply({}, 503).heldBack()}) {
            h.server.enqueue(late);
            h.server.enqueue(clipsReply(withNewNewest));
            const qsizetype sent = h.server.requests().size();
            h.panel->refresh();
            QVERIFY(h.server.waitForRequests(sent + 1));
            h.panel->refresh();
            QTRY_COMPARE(h.replies.size(), sent + 1);
            h.server.releaseHeld();
            QTRY_COMPARE(h.replies.size(), sent + 2);
            QCOMPARE(h.cardIds(), (QStringList{"c", "a", "b"}));
            QCOMPARE(h.panel->statusText(), QStringLiteral("● 已同步"));
        }
    }

    void editsSurviveThePanelControls_data()
    {
        QTest::addColumn<QString>("control"); // clicked while the card holds an edit
        QTest::addColumn<QString>("then");    // what becomes of the edit
        QTest::newRow("悬浮, saved") << "pinButton" << "saved";
        QTest::newRow("同步输入, save failed") << "autoPasteButton" << "failed";
        QTest::newRow("scope pop-up, reverted") << "scopeButton" << "reverted";
        QTest::newRow("account menu, saved") << "accountButton" << "saved";
        QTest::newRow("focus elsewhere, save failed") << "" << "failed";
        QTest::newRow("focus elsewhere, reverted") << "" << "reverted";
    }

    // An edit holds back changed replies, whatever the user clicks meanwhile and wherever the focus
    // goes, until it is saved or undone, and the status line says so; the panel's controls leave
    // the focus in the editor. Once the edit ends, the held-back change comes at once.
    void editsSurviveThePanelControls()
    {
        QFETCH(QString, control);
        QFETCH(QString, then);
        Harness h;
        h.panel->show();
        QVERIFY(QTest::qWaitForWindowActive(h.panel.get()));
        QVERIFY(h.poll(firstList, false));
        const QPointer<ReceiverCardView> card = h.panel->cards().first();
        SafePlainTextEdit *editor = card->editor();
        editor->setFocus();
        QTest::keyClicks(editor, QStringLiteral("draft"));

        if (control.isEmpty()) {
            editor->clearFocus();
        } else {
            QTest::mouseClick(h.panel->findChild<QWidget *>(control), Qt::LeftButton);
            if (QWidget *popup = QApplication::activePopupWidget())
                QTest::keyClick(popup, Qt::Key_Escape);
            QTRY_VERIFY(!QApplication::activePopupWidget());
            h.panel->activateWindow(); // as the desktop does once the pop-up is gone
            QVERIFY(QTest::qWaitForWindowActive(h.panel.get()));
            QCOMPARE(QApplication::focusWidget(), editor);
        }
        QVERIFY(h.poll(withNewNewest));
        QCOMPARE(h.panel->cards().first(), card.data());
        QCOMPARE(editor->toPlainText(), QStringLiteral("draft甲"));
        const QString paused = QStringLiteral("● 编辑中，暂停同步");
        QCOMPARE(h.panel->statusText(), paused);
        h.panel->resize(330, 230);
        QTRY_COMPARE(h.panel->width(), 330);
        QVERIFY(!static_cast<ElidedLabel *>(h.panel->status())->isElided());
        QHelpEvent hover(QEvent::ToolTip, QPoint(1, 1), h.panel->status()->mapToGlobal(QPoint(1, 1)));
        QApplication::sendEvent(h.panel->status(), &hover);
        QVERIFY(QToolTip::text().contains(QStringLiteral("保存或撤销")));

        if (then == "reverted") {
            for (int i = 0; i < 5; ++i)
                QTest::keyClick(editor, Qt::Key_Backspace);
        } else {
            Clip stored = firstList.first();
            stored.optimizedText = QStringLiteral("draft甲");
            h.server.enqueue(then == "saved" ? savedReply(stored) : ScriptedReply::json(500, R"({"error":"坏了"})"));
            card->saveButton()->click();
            QTRY_VERIFY_WITH_TIMEOUT(card->saveButton()->isEnabled(), 10000);
        }
        editor->clearFocus();
        if (then == "failed") { // the edit is still the only copy of the text
            QVERIFY(h.poll(withNewNewest));
            QCOMPARE(h.panel->cards().first(), card.data());
            QCOMPARE(editor->toPlainText(), QStringLiteral("draft甲"));
            QCOMPARE(h.panel->statusText(), paused);
        } else {
            QTRY_VERIFY(!card);
            QCOMPARE(h.cardIds(), (QStringList{"c", "a", "b"}));
            QVERIFY(h.panel->statusText() != paused);
        }
    }

    void cardsKeptOnlyAsNew_data()
    {
        QTest::addColumn<QString>("action"); // done to the card of clip "a" before a new clip comes
        QTest::addColumn<bool>("kept");
        QTest::newRow("untouched") << "" << true;
        QTest::newRow("clip changed") << "change" << false;
        QTest::newRow("other version shown") << "raw" << false;
        QTest::newRow("edit undone") << "undone" << false;
        QTest::newRow("text selected") << "select" << false;
        QTest::newRow("still fading in") << "fading" << false;
    }

    // A new clip keeps the cards that are as new for unchanged clips and makes every other card
    // anew, so that the list always shows what a list made from scratch would.
    void cardsKeptOnlyAsNew()
    {
        QFETCH(QString, action);
        QFETCH(bool, kept);
        Harness h;
        h.panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(h.panel.get()));
        QVERIFY(h.poll(action == "fading" ? Clips{clip("a", "1", "甲")} : firstList, false));
        if (action == "fading") // "b" arrives as the newest and fades in; held mid-fade
            QVERIFY(h.poll({clip("b", "1", "乙"), clip("a", "1", "甲")}));
        const QPointer<ReceiverCardView> card = h.panel->cards().at(0);
        if (action == "fading") {
            QTRY_VERIFY(card->findChild<QPropertyAnimation *>());
            card->findChild<QPropertyAnimation *>()->pause();
        }
        const QString aText = action == "change" ? QStringLiteral("甲二") : QStringLiteral("甲");
        SafePlainTextEdit *editor = card->editor();
        if (action == "raw")
            card->rawButton()->click();
        if (action == "undone") {
            editor->setFocus();
            QTest::keyClicks(editor, QStringLiteral("x"));
            QTest::keyClick(editor, Qt::Key_Backspace);
            editor->clearFocus();
        }
        if (action == "select")
            editor->selectAll();

        Clips next{clip("c", "1", "丙"), clip("a", action == "change" ? "2" : "1", aText), clip("b", "1", "乙")};
        if (action == "fading")
            next = {clip("c", "1", "丙"), clip("b", "1", "乙"), clip("a", "1", "甲")};
        QVERIFY(h.poll(next));
        const QList<ReceiverCardView *> cards = h.panel->cards();
        QCOMPARE(h.cardIds(), (action == "fading" ? QStringList{"c", "b", "a"} : QStringList{"c", "a", "b"}));
        QCOMPARE(cards.at(1) == card.data(), kept);
        // Whichever it is, the card is one as newly made: opening version, text as loaded, opaque.
        for (ReceiverCardView *shown : cards.mid(1)) {
            QCOMPARE(shown->selectedVersion(), 0);
            QCOMPARE(shown->editor()->text(), shown->clip().optimizedText);
            QVERIFY(!shown->editor()->textCursor().hasSelection());
            QVERIFY(!shown->editor()->document()->isUndoAvailable());
            QCOMPARE(shown->shadowEffect()->opacity(), 1.0);
        }
        QCOMPARE(cards.at(1)->editor()->text(), action == "fading" ? QStringLiteral("乙") : aText);
    }

    // The switches act on their state, whatever changes it: a click, Space, or an assistive tool's
    // "toggle" (which emits no click); each change acts once.
    void switchesFollowTheirState()
    {
        Harness h;
        const auto toggle = [](QWidget *button) {
            QAccessible::queryAccessibleInterface(button)->actionInterface()->doAction(
                QAccessibleActionInterface::toggleAction());
        };
        toggle(h.panel->autoPasteButton());
        QVERIFY(h.panel->autoPasteEnabled());
        QCOMPARE(h.panel->statusText(), QStringLiteral("新消息将自动输入"));
        QTest::keyClick(h.panel->autoPasteButton(), Qt::Key_Space);
        QVERIFY(!h.panel->autoPasteEnabled());
        QCOMPARE(h.panel->statusText(), QStringLiteral("● 已同步"));

        toggle(h.panel->pinButton());
        QVERIFY(h.panel->pinned());
        h.panel->pinButton()->click();
        toggle(h.panel->pinButton());
        QCOMPARE(h.pinCalls, (QList<bool>{true, false, true}));
        QCOMPARE(h.panel->statusText(), QStringLiteral("● 已同步"));

        // Where the desktop cannot keep the window above, pinning says so instead of pretending.
        h.fake.workspace.keepsAbove = false;
        h.panel->pinButton()->click();
        toggle(h.panel->pinButton());
        QCOMPARE(h.panel->statusText(), pinnedWithoutKeepAboveStatus().text);
        QCOMPARE(h.panel->statusColor(), SystemColors::orange());
    }

    void scopes()
    {
        Harness h;
        Clips clips{clip("p1", "1", "x"), clip("a1", "1", "x", {}, "alpha"), clip("z1", "1", "x", {}, "Zeta")};
        for (int i = 0; i < 42; ++i)
            clips << clip(QString::number(i), "1", "x");
        QVERIFY(h.poll(clips, false));
        // Spaces in code point order ("Z" < "a"); 30 cards at most.
        QCOMPARE(h.panel->scopeItems(), (QStringList{"全部", "个人", "Zeta", "alpha"}));
        QCOMPARE(h.cardIds().size(), 30);

        // Chosen from the keyboard: the clips outside spaces, then the last space.
        QTest::keyClick(h.panel->scopeButton(), Qt::Key_Down);
        QCOMPARE(h.cardIds().mid(0, 2), (QStringList{"p1", "0"}));
        QTest::keyClick(h.panel->scopeButton(), Qt::Key_End);
        QCOMPARE(h.cardIds(), QStringList{"a1"});

        // The chosen space stays while listed, at its new place; once gone, back to "全部".
        QVERIFY(h.poll({clip("a1", "2", "x", {}, "alpha")}));
        QCOMPARE(h.panel->scopeButton()->currentText(), QStringLiteral("alpha"));
        QVERIFY(h.poll({clip("b1", "1", "x", {}, "beta")}));
        QCOMPARE(h.panel->selectedScope(), QStringLiteral("全部"));
        QCOMPARE(h.panel->scopeButton()->currentIndex(), 0);
    }

    void autoPaste_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QList<Clips>>("replies"); // after the first
        QTest::addColumn<QString>("status"); // after the first of them
        QTest::addColumn<QStringList>("delivered");
        const Clips pending{clip("c", "1", "", "原话"), clip("a", "1", "甲")};
        const Clips optimized{clip("c", "2", "\n润色后\n", "原话"), clip("a", "1", "甲")};
        const Clips touched{clip("c", "3", "\n润色后\n", "原话"), clip("a", "1", "甲")};
        QTest::newRow("optimized: once its text is there, once, untrimmed")
            << "optimized" << QList<Clips>{pending, optimized, touched} << "● 已同步" << QStringList{"\n润色后\n"};
        QTest::newRow("raw: at arrival") << "raw" << QList<Clips>{pending} << "新内容已同步输入" << QStringList{"原话"};
        // The newest clip from before auto-paste was on, changed: raw text goes out at arrival only.
        QTest::newRow("raw: not an older clip") << "raw" << QList<Clips>{{clip("a", "2", "甲")}} << "● 已同步" << QStringList{};
        // Stopped early (no target yet): the delivery's own message stays, and once there is a target
        // (after the first reply), the clip is not delivered behind the user's back.
        const QList<Clips> noTarget{withNewNewest, {clip("c", "2", "丙"), clip("a", "1", "甲")}};
        QTest::newRow("no target") << "optimized" << noTarget << "先切换一次目标应用" << QStringList{};
    }

    void autoPaste()
    {
        QFETCH(QString, version);
        QFETCH(QList<Clips>, replies);
        QFETCH(QString, status);
        QFETCH(QStringList, delivered);
        Harness h;
        if (QTest::currentDataTag() != QByteArray("no target"))
            h.fake.workspace.userActivates(editorApp);
        QVERIFY(h.poll(firstList, false));
        // The version is chosen on a card, as the user does.
        ReceiverCardView *card = h.panel->cards().first();
        (version == "raw" ? card->rawButton() : card->optimizedButton())->click();
        h.panel->autoPasteButton()->click();
        for (const Clips &answer : replies) {
            QVERIFY(h.poll(answer));
            if (&answer == &replies.first())
                QCOMPARE(h.panel->statusText(), status);
            h.fake.workspace.userActivates(FakePlatform::app(9));
        }
        QCOMPARE(h.fake.workspace.activations.size(), delivered.size());
        QTRY_COMPARE(h.fake.keystroke.posts.size(), delivered.size());
        for (const FakeKeystroke::Post &post : h.fake.keystroke.posts)
            QCOMPARE(post.clipboardText, delivered.takeFirst());
    }

    // Auto-paste says "新内容已同步输入" while its keystroke is on the way and keeps it once typed; a
    // keystroke that typed nothing replaces it with the reason in orange, explained in the
    // tooltip and the accessible description, and so does a card's paste.
    void refusedKeystrokes()
    {
        Harness h;
        h.fake.workspace.userActivates(editorApp);
        QVERIFY(h.poll(firstList, false));
        h.panel->pollTimer()->stop();
        h.panel->autoPasteButton()->click();
        const QString typed = QStringLiteral("新内容已同步输入");
        QVERIFY(h.poll(withNewNewest));
        QCOMPARE(h.panel->statusText(), typed);
        QTRY_COMPARE(h.fake.keystroke.posts.size(), 1);
        QCOMPARE(h.panel->statusText(), typed);

        h.fake.keystroke.result = KeystrokeResult::NotFocused;
        QVERIFY(h.poll(Clips{clip("d", "1", "丁")} + withNewNewest));
        QCOMPARE(h.panel->statusText(), typed);
        const StatusText notFocused = *notTypedStatus(KeystrokeResult::NotFocused, {});
        QTRY_COMPARE(h.panel->statusText(), notFocused.text);
        QCOMPARE(h.panel->statusColor(), SystemColors::orange());
        QCOMPARE(h.panel->status()->accessibleDescription(), notFocused.explanation);

        h.fake.keystroke.result = KeystrokeResult::Unavailable;
        h.panel->cards().at(1)->pasteButton()->click();
        QTRY_COMPARE(h.panel->statusText(), notTypedStatus(KeystrokeResult::Unavailable, {})->text);
        QCOMPARE(h.fake.pasteboard.text, QStringLiteral("丙"));
    }

    // Every status text of a delivery that typed nothing fits the status line whole at the
    // panel's usual width, in the font it is drawn with.
    void deliveryStatusTextsFit()
    {
        Harness h;
        h.panel->resize(330, 230);
        h.panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(h.panel.get()));
        const auto *status = qobject_cast<const ElidedLabel *>(h.panel->status());
        QVERIFY(status);
        for (const StatusText &text : allDeliveryStatusTexts(h.panel->delivery()->options())) {
            emit h.panel->delivery()->statusChanged(text.text, SystemColors::orange(), text.explanation);
            QVERIFY2(!status->isElided(), qPrintable(text.text));
        }
    }

    void signOutAndRelease_data()
    {
        QTest::addColumn<QString>("nickname");
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<bool>("deletePanel");
        QTest::newRow("confirmed") << "A&B <b>粗</b>" << true << false;
        QTest::newRow("host deletes the panel in onLogout") << "小明" << true << true;
        QTest::newRow("cancelled, empty nickname") << "" << false << false;
    }

    void signOutAndRelease()
    {
        QFETCH(QString, nickname);
        QFETCH(bool, confirm);
        QFETCH(bool, deletePanel);
        Harness h(Profile{"138", nickname, std::nullopt});
        h.deleteOnLogout = deletePanel;
        QVERIFY(h.poll(firstList, false));
        const QPointer<QTimer> timer = h.panel->pollTimer();
        // A poll under way while the user signs out brings nothing afterwards.
        h.server.enqueue(clipsReply(withNewNewest).heldBack());
        h.panel->refresh();
        QVERIFY(h.server.waitForRequests(2));

        // "&" is shown as it is, not taken for a mnemonic.
        h.panel->showAccountMenu();
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu);
        QCOMPARE(menu->actions().first()->text(), QString(nickname).replace("&", "&&"));
        menu->setActiveAction(menu->actions().last());
        QTest::keyClick(menu, Qt::Key_Return);
        // The alert comes from the menu item's queued action; this answers it from inside its event
        // loop with its default (退出) or escape (取消) button.
        QString alertText;
        QTimer::singleShot(0, [&] {
            if (auto *alert = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                alertText = alert->textFormat() == Qt::PlainText ? alert->text() : QStringLiteral("rich text");
                (confirm ? alert->defaultButton() : alert->escapeButton())->click();
            }
        });
        QTRY_COMPARE(alertText, "退出 " + nickname + "？");

        // Confirmed: the token is gone from the client and the store, and the host is told.
        QVERIFY(!h.api.token == confirm && h.store.removes == int(confirm) && h.logouts == int(confirm));
        // The reply in flight comes back to a panel that is signed out, or gone with its timer
        // (activations then reach nobody).
        h.server.releaseHeld();
        QTRY_COMPARE(h.replies.size(), 2);
        QCOMPARE(!h.panel, deletePanel);
        QCOMPARE(!timer, deletePanel);
        h.fake.workspace.userActivates(editorApp);
        if (!deletePanel) {
            QCOMPARE(h.panel->pollTimer()->isActive(), !confirm);
            QCOMPARE(h.cardIds().size(), confirm ? 2 : 3);
        }
    }
};

QTEST_MAIN(CompactInboxTest)
#include "tst_compactinbox.moc"
