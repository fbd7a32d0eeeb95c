#include "PanelHarness.h"

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
#include <QTimer>

using namespace quillpost;
using namespace quillpost::test;

using Replies = QList<QList<Clip>>;

namespace {

const QColor synced = SystemColors::rgba(0.30, 0.52, 0.40, 1.0);
const RunningApplication editorApp = FakePlatform::app(7, QStringLiteral("Editor"), 700);
const QList<Clip> firstList{clip("a", "1", "甲"), clip("b", "1", "乙")};
const QList<Clip> withNewNewest{clip("c", "1", "丙"), clip("a", "1", "甲"), clip("b", "1", "乙")};

bool highlighted(const ReceiverCardView *card)
{
    return card->findChild<QGraphicsOpacityEffect *>() != nullptr;
}

void chooseScope(CompactInboxViewController &panel, int index)
{
    panel.scopeButton()->setCurrentIndex(index);
    emit panel.scopeButton()->activated(index);
}

// Answers the sign-out alert, once it is shown, with the button titled `title`.
struct AlertAnswer
{
    QMessageBox *seen = nullptr;
    QString text;
    QTimer watch;

    explicit AlertAnswer(const QString &title)
    {
        watch.setInterval(5);
        QObject::connect(&watch, &QTimer::timeout, [this, title] {
            auto *alert = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!alert || !alert->isVisible())
                return;
            watch.stop();
            seen = alert;
            text = alert->text();
            QCOMPARE(alert->textFormat(), Qt::PlainText);
            QCOMPARE(alert->informativeText(), QStringLiteral("云端内容不会删除。"));
            QCOMPARE(alert->buttons().size(), 2);
            QCOMPARE(alert->defaultButton()->text(), QStringLiteral("退出"));
            QCOMPARE(alert->escapeButton()->text(), QStringLiteral("取消"));
            (title == alert->defaultButton()->text() ? alert->defaultButton() : alert->escapeButton())->click();
        });
        watch.start();
    }
};

} // namespace

class CompactInboxTest : public QObject
{
    Q_OBJECT

private slots:
    void changeDetection();
    void failuresAndLateReplies();
    void scopes();
    void editingHoldsBackChanges();
    void pinnedCopiesNewestText();
    void autoPaste_data();
    void autoPaste();
    void autoPasteStoppedEarly_data();
    void autoPasteStoppedEarly();
    void switches();
    void avatar_data();
    void avatar();
    void accountMenuAndSignOut_data();
    void accountMenuAndSignOut();
    void releaseWithFetchInFlight();
};

void CompactInboxTest::changeDetection()
{
    PanelHarness h;
    CompactInboxViewController &panel = *h.panel;
    QCOMPARE(panel.statusText(), QStringLiteral("连接中"));
    QCOMPARE(panel.pollTimer()->intervalAsDuration(), std::chrono::milliseconds(3000));
    QVERIFY(panel.pollTimer()->isActive());

    // All switches on before the first reply: it still only fills the cards.
    h.fake.workspace.userActivates(editorApp);
    panel.pinButton()->click();
    panel.autoPasteButton()->click();
    QVERIFY(h.firstReply(firstList));
    QCOMPARE(h.server.requests().first().target, QByteArray("/api/clips?limit=50"));
    QCOMPARE(h.cardIds(), (QStringList{"a", "b"}));
    QCOMPARE(panel.lastSignature(), QStringLiteral("a:1|b:1"));
    QCOMPARE(panel.lastLatestID(), QStringLiteral("a"));
    QVERIFY(panel.highlightedClipID().isEmpty() && !highlighted(panel.cards().first()));
    QVERIFY(h.clipboardWrites().isEmpty() && panel.autoPastedClipIDs().isEmpty());
    QCOMPARE(panel.statusText(), QStringLiteral("● 已同步"));
    QCOMPARE(panel.statusColor(), synced);

    // Same ids and stamps: only the status line changes back; a new text alone goes unnoticed.
    const QList<ReceiverCardView *> cards = panel.cards();
    panel.autoPasteButton()->click();
    panel.pinButton()->click();
    QList<Clip> sameStamps = firstList;
    sameStamps[0].optimizedText = QStringLiteral("改过");
    QVERIFY(h.poll(sameStamps));
    QCOMPARE(panel.cards(), cards);
    QCOMPARE(panel.currentClips(), firstList);
    QCOMPARE(panel.statusText(), QStringLiteral("● 已同步"));

    // An older clip updated: applied, no highlight. A new newest clip: highlighted.
    QVERIFY(h.poll({clip("a", "1", "甲"), clip("b", "2", "乙")}));
    QCOMPARE(panel.lastSignature(), QStringLiteral("a:1|b:2"));
    QVERIFY(panel.highlightedClipID().isEmpty());
    QVERIFY(h.poll(withNewNewest));
    QCOMPARE(h.cardIds(), (QStringList{"c", "a", "b"}));
    QCOMPARE(panel.highlightedClipID(), QStringLiteral("c"));
    QVERIFY(highlighted(panel.cards().at(0)) && !highlighted(panel.cards().at(1)));

    // An empty list is applied; the next full one is handled like a first reply.
    panel.pinButton()->click();
    QVERIFY(h.poll({}));
    QVERIFY(panel.cards().isEmpty() && panel.lastSignature().isEmpty());
    QCOMPARE(panel.emptyLabel()->text(), QStringLiteral("这个空间还没有内容"));
    QVERIFY(h.poll({clip("d", "1", "丁"), clip("c", "1", "丙")}));
    QVERIFY(!panel.emptyLabel());
    QCOMPARE(panel.highlightedClipID(), QStringLiteral("c"));
    QVERIFY(h.clipboardWrites().isEmpty());
    QCOMPARE(panel.lastLatestID(), QStringLiteral("d"));
}

void CompactInboxTest::failuresAndLateReplies()
{
    PanelHarness h;
    QVERIFY(h.firstReply(firstList));
    h.panel->pollTimer()->stop();
    h.server.enqueue(ScriptedReply::json(500, R"({"error":"坏了"})"));
    QVERIFY(h.poll(withNewNewest));
    QCOMPARE(h.panel->statusText(), QStringLiteral("● 等待重连"));
    QCOMPARE(h.panel->statusColor(), SystemColors::orange());
    QCOMPARE(h.cardIds(), (QStringList{"a", "b"}));

    // Two overlapping polls: the earlier is answered late, with the older list or a failure.
    QSignalSpy finished(h.network(), &QNetworkAccessManager::finished);
    int replies = 0;
    for (ScriptedReply late : {ScriptedReply::json(200, clipListJson(firstList)), ScriptedReply::json(503, {})}) {
        late.delay = std::chrono::milliseconds(300);
        h.server.enqueue(late);
        h.server.enqueue(ScriptedReply::json(200, clipListJson(withNewNewest)));
        const qsizetype sent = h.server.requests().size();
        h.panel->refresh();
        QVERIFY(h.server.waitForRequests(sent + 1));
        h.panel->refresh();
        replies += 2;
        QTRY_COMPARE(finished.size(), replies);
        QCOMPARE(h.cardIds(), (QStringList{"c", "a", "b"}));
        QCOMPARE(h.panel->statusText(), QStringLiteral("● 已同步"));
    }
}

void CompactInboxTest::scopes()
{
    PanelHarness h;
    QList<Clip> clips{clip("p1", "1", "x"), clip("z1", "1", "x", {}, "Zeta"), clip("a1", "1", "x", {}, "&Alpha"),
                      clip("q1", "1", "x", {}, "个人")};
    for (int i = 0; i < 41; ++i)
        clips << clip(QStringLiteral("n%1").arg(i), "1", "x");
    QVERIFY(h.firstReply(clips));
    // Code point order: "&" < "Z" < "个"; a space named "个人" is listed once more.
    QCOMPARE(h.panel->scopeItems(), (QStringList{"全部", "个人", "&Alpha", "Zeta", "个人"}));
    QCOMPARE(h.panel->cards().size(), 30);
    QCOMPARE(h.cardIds().mid(0, 5), (QStringList{"p1", "z1", "a1", "q1", "n0"}));
    QCOMPARE(h.cardIds().last(), QStringLiteral("n25"));

    // Chosen from the keyboard; no fetch is made for it.
    const qsizetype requests = h.server.requests().size();
    h.panel->scopeButton()->setFocus();
    QTest::keyClick(h.panel->scopeButton(), Qt::Key_Down);
    QCOMPARE(h.panel->selectedScope(), QStringLiteral("个人"));
    QCOMPARE(h.cardIds().mid(0, 3), (QStringList{"p1", "q1", "n0"}));
    QCOMPARE(h.panel->cards().size(), 30);
    QTest::keyClick(h.panel->scopeButton(), Qt::Key_Down);
    QCOMPARE(h.cardIds(), QStringList{"a1"});
    QCOMPARE(h.server.requests().size(), requests);

    // The chosen space stays in new titles: kept at its new place. It goes: back to "全部".
    QVERIFY(h.poll({clip("a1", "2", "x", {}, "&Alpha"), clip("b1", "1", "x", {}, "!Beta")}));
    QCOMPARE(h.panel->scopeButton()->currentText(), QStringLiteral("&Alpha"));
    QCOMPARE(h.panel->scopeButton()->currentIndex(), 3);
    QVERIFY(h.poll({clip("b1", "1", "x", {}, "!Beta")}));
    QCOMPARE(h.panel->selectedScope(), QStringLiteral("全部"));
    QCOMPARE(h.panel->scopeButton()->currentIndex(), 0);
    chooseScope(*h.panel, 1);
    QVERIFY(h.panel->cards().isEmpty() && h.panel->emptyLabel());
}

void CompactInboxTest::editingHoldsBackChanges()
{
    PanelHarness h;
    h.panel->show();
    QVERIFY(QTest::qWaitForWindowActive(h.panel.get()));
    QVERIFY(h.firstReply(firstList));
    ReceiverCardView *card = h.panel->cards().first();
    card->editor()->setFocus();
    QTest::keyClicks(card->editor(), QStringLiteral("draft"));

    QVERIFY(h.poll(withNewNewest));
    QCOMPARE(h.panel->statusText(), QStringLiteral("● 已同步"));
    QCOMPARE(h.panel->currentClips(), firstList);
    QCOMPARE(h.panel->lastSignature(), QStringLiteral("a:1|b:1"));
    QCOMPARE(h.panel->cards().first(), card);
    QVERIFY(card->editor()->toPlainText().contains(QStringLiteral("draft")));

    // Editing ends: the next poll applies the change as it would have then.
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

    QList<Clip> arrived{clip("c", "1", " \n", "原话"), clip("a", "1", "甲")};
    QVERIFY(h.poll(arrived));
    QCOMPARE(h.clipboardWrites(), QStringList{"原话"});
    QCOMPARE(h.panel->statusText(), QStringLiteral("已复制，可按 ⌘V"));
    QCOMPARE(h.panel->statusColor(), synced);

    // The same newest text is not copied again; a new one of the same clip is.
    arrived[1].updatedAt = QStringLiteral("2");
    QVERIFY(h.poll(arrived));
    arrived[0] = clip("c", "2", "润色后", "原话");
    QVERIFY(h.poll(arrived));
    QCOMPARE(h.clipboardWrites(), (QStringList{"原话", "润色后"}));

    // A newest clip without any text is neither copied nor taken as the newest.
    QVERIFY(h.poll({clip("e", "1", "", ""), clip("c", "2", "润色后", "原话")}));
    QCOMPARE(h.clipboardWrites().size(), 2);
    QCOMPARE(h.panel->lastLatestID(), QStringLiteral("c"));
}

void CompactInboxTest::autoPaste_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<Replies>("replies"); // after the first
    QTest::addColumn<QStringList>("delivered");
    QTest::addColumn<QString>("finalStatus");

    const QList<Clip> pending{clip("c", "1", "", "原话"), clip("a", "1", "甲")};
    const QList<Clip> optimized{clip("c", "2", "\n润色后\n", "原话"), clip("a", "1", "甲")};
    const QList<Clip> touched{clip("c", "3", "\n润色后\n", "原话"), clip("a", "1", "甲")};
    const QList<Clip> oldNewestTouched{clip("a", "2", "甲"), clip("b", "1", "乙")};

    QTest::newRow("optimized: once its text is there, once, untrimmed")
        << "optimized" << Replies{pending, optimized, touched} << QStringList{"\n润色后\n"} << "● 已同步";
    QTest::newRow("raw: at arrival") << "raw" << Replies{pending} << QStringList{"原话"} << "新内容已同步输入";
    QTest::newRow("raw: not again later") << "raw" << Replies{pending, optimized} << QStringList{"原话"} << "● 已同步";
    QTest::newRow("optimized: an earlier newest clip at its next change")
        << "optimized" << Replies{oldNewestTouched} << QStringList{"甲"} << "新内容已同步输入";
    QTest::newRow("raw: not an earlier newest clip") << "raw" << Replies{oldNewestTouched} << QStringList{}
                                                     << "● 已同步";
}

void CompactInboxTest::autoPaste()
{
    QFETCH(QString, version);
    QFETCH(Replies, replies);
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

void CompactInboxTest::autoPasteStoppedEarly_data()
{
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<bool>("terminated");
    QTest::addColumn<bool>("hasTarget");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QColor>("color");

    QTest::newRow("not trusted") << false << false << true << "请在系统设置中允许辅助功能" << SystemColors::orange();
    QTest::newRow("no target") << true << false << false << "先切换一次目标应用" << synced;
    QTest::newRow("target closed") << true << true << true << "目标应用已关闭，请重新点一下输入框" << synced;
}

void CompactInboxTest::autoPasteStoppedEarly()
{
    QFETCH(bool, trusted);
    QFETCH(bool, terminated);
    QFETCH(bool, hasTarget);
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

    // Once delivery could work, the clip is not delivered behind the user's back.
    h.fake.accessibility.trusted = true;
    h.fake.workspace.userActivates(FakePlatform::app(9));
    QVERIFY(h.poll({clip("c", "2", "丙"), clip("a", "1", "甲")}));
    QCOMPARE(h.clipboardWrites(), QStringList{"丙"});
    QVERIFY(h.fake.workspace.activations.isEmpty());
}

void CompactInboxTest::switches()
{
    PanelHarness h;
    QVERIFY(h.firstReply(firstList));
    QPushButton *pin = h.panel->pinButton();
    QPushButton *autoPaste = h.panel->autoPasteButton();
    pin->click();
    QVERIFY(h.panel->pinned() && pin->isChecked());
    QCOMPARE(pin->text(), QStringLiteral("取消悬浮"));
    QTest::keyClick(pin, Qt::Key_Space);
    QVERIFY(!h.panel->pinned() && !pin->isChecked());
    QCOMPARE(pin->text(), QStringLiteral("悬浮"));
    QCOMPARE(h.pinCalls, (QList<bool>{true, false}));

    autoPaste->click();
    QVERIFY(h.panel->autoPasteEnabled());
    QCOMPARE(autoPaste->text(), QStringLiteral("同步输入中"));
    QCOMPARE(h.panel->statusText(), QStringLiteral("新消息将自动输入"));
    QCOMPARE(h.panel->statusColor(), SystemColors::orange());
    autoPaste->click();
    QVERIFY(!h.panel->autoPasteEnabled());
    QCOMPARE(autoPaste->text(), QStringLiteral("同步输入"));
    QCOMPARE(h.panel->statusText(), QStringLiteral("● 已同步"));
    QCOMPARE(h.panel->statusColor(), synced);
}

void CompactInboxTest::avatar_data()
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImage(8, 4, QImage::Format_ARGB32).save(&buffer, "PNG");
    const QString base64 = QString::fromLatin1(png.toBase64());

    QTest::addColumn<std::optional<QString>>("avatarData");
    QTest::addColumn<bool>("hasIcon");
    QTest::newRow("absent") << std::optional<QString>() << false;
    QTest::newRow("data URL") << std::optional<QString>("data:image/png;base64," + base64) << true;
    QTest::newRow("no comma") << std::optional<QString>(base64) << false;
    QTest::newRow("bad Base64") << std::optional<QString>("x,@" + base64) << false;
    QTest::newRow("not an image") << std::optional<QString>("x,aGVsbG8=") << false;
}

void CompactInboxTest::avatar()
{
    QFETCH(std::optional<QString>, avatarData);
    QFETCH(bool, hasIcon);

    Profile profile = PanelHarness::defaultProfile();
    profile.avatarData = avatarData;
    PanelHarness h(profile);
    const QIcon icon = h.panel->accountButton()->icon();
    QCOMPARE(!icon.isNull(), hasIcon);
    // Sharp on a HiDPI screen: drawn at twice the size there.
    if (hasIcon)
        QCOMPARE(icon.pixmap(QSize(20, 20), 2.0).size(), QSize(40, 40));
}

void CompactInboxTest::accountMenuAndSignOut_data()
{
    QTest::addColumn<QString>("nickname");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("deletePanel");

    QTest::newRow("confirmed") << "A&B <b>粗</b>" << "退出" << false;
    QTest::newRow("host deletes the panel in onLogout") << "小明" << "退出" << true;
    QTest::newRow("cancelled, empty nickname") << "" << "取消" << false;
}

void CompactInboxTest::accountMenuAndSignOut()
{
    QFETCH(QString, nickname);
    QFETCH(QString, answer);
    QFETCH(bool, deletePanel);

    Profile profile{QStringLiteral("138&0"), nickname, std::nullopt};
    PanelHarness h(profile);
    h.deletePanelOnLogout = deletePanel;
    QVERIFY(h.firstReply(firstList));
    h.panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.panel.get()));
    QCOMPARE(h.panel->accountButton()->text(), QString(nickname).replace("&", "&&"));

    // A poll under way while the user signs out brings nothing afterwards.
    h.fake.workspace.userActivates(editorApp);
    h.panel->autoPasteButton()->click();
    ScriptedReply late = ScriptedReply::json(200, clipListJson(withNewNewest));
    late.delay = std::chrono::milliseconds(200);
    h.server.enqueue(late);
    QSignalSpy finished(h.network(), &QNetworkAccessManager::finished);
    h.panel->refresh();

    h.panel->showAccountMenu();
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    QVERIFY(menu);
    const QList<QAction *> items = menu->actions();
    QCOMPARE(items.size(), 4);
    QCOMPARE(items[0]->text(), QString(nickname).replace("&", "&&"));
    QCOMPARE(items[1]->text(), QStringLiteral("138&&0"));
    QVERIFY(!items[0]->isEnabled() && !items[1]->isEnabled() && items[2]->isSeparator());
    QCOMPARE(items[3]->text(), QStringLiteral("退出登录…"));
    const QPushButton *account = h.panel->accountButton();
    QCOMPARE(menu->pos(), account->mapToGlobal(QPoint(0, account->height() + 3)));

    AlertAnswer alert(answer);
    menu->setActiveAction(items[3]);
    QTest::keyClick(menu, Qt::Key_Return);
    QTRY_VERIFY(alert.seen);
    QCOMPARE(alert.text, QStringLiteral("退出 ") + nickname + QStringLiteral("？"));

    const bool confirmed = answer == QStringLiteral("退出");
    QTRY_COMPARE(h.logouts, confirmed ? 1 : 0);
    QCOMPARE(!h.api.token, confirmed);
    QCOMPARE(h.store.removes, confirmed ? 1 : 0);
    QTRY_COMPARE(finished.size(), 1);
    if (deletePanel) {
        QVERIFY(!h.panel);
        return;
    }
    QCOMPARE(h.panel->pollTimer()->isActive(), !confirmed);
    QCOMPARE(h.cardIds().size(), confirmed ? 2 : 3);
    QCOMPARE(h.clipboardWrites().size(), confirmed ? 0 : 1);
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
    QVERIFY(!timer && !delivery);
    // The reply comes back to nobody; activations reach nobody either.
    QTRY_COMPARE(finished.size(), 1);
    h.fake.workspace.userActivates(editorApp);
}

QTEST_MAIN(CompactInboxTest)
#include "tst_compactinbox.moc"
