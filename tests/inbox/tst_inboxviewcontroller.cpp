#include "fakes/FakePlatform.h"
#include "inbox/AlertSound.h"
#include "inbox/ClipListModel.h"
#include "inbox/ClipRowDelegate.h"
#include "inbox/InboxViewController.h"
#include "platform/SystemColors.h"
#include "service/APIClient.h"
#include "support/FakeSecretStore.h"
#include "support/TestHttpServer.h"
#include "widgets/SafePlainTextEdit.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace quillpost;
using namespace quillpost::test;

namespace {

struct FakeSound final : AlertSound
{
    void play() override { ++plays; }
    int plays = 0;
};

Clip clip(const QString &id, const QString &optimized = QStringLiteral("优化"), bool canEdit = true)
{
    Clip c;
    c.id = id;
    c.title = QStringLiteral("标题 ") + id;
    c.rawText = QStringLiteral("原文 ") + id;
    c.optimizedText = optimized;
    c.canEdit = canEdit;
    return c;
}

QList<Clip> clips(const QStringList &ids)
{
    QList<Clip> result;
    for (const QString &id : ids)
        result.append(clip(id, QStringLiteral("优化 ") + id));
    return result;
}

QByteArray listJson(const QList<Clip> &list)
{
    QJsonArray array;
    for (const Clip &c : list)
        array.append(c.toJson());
    return QJsonDocument(QJsonObject{{QStringLiteral("clips"), array}}).toJson(QJsonDocument::Compact);
}

QByteArray envelopeJson(const Clip &c)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("clip"), c.toJson()}}).toJson(QJsonDocument::Compact);
}

const RunningApplication target = FakePlatform::app(7, QStringLiteral("Editor"), 700);

} // namespace

class InboxViewControllerTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void soundOnlyForALaterNewFirstClip_data();
    void soundOnlyForALaterNewFirstClip();
    void emptyListClearsTheEditor();
    void selectionFollowsItsClipOrFallsBackToTheFirst();
    void emptyOptimizedTextOpensOnRawAndOptimizedChoiceIsKept();
    void readOnlyClipCannotBeSaved();
    void failedSaveStaysUntilASuccess();
    void saveReplacesTheRowWithTheSameId();
    void pollKeepsUnsavedEdits_data();
    void pollKeepsUnsavedEdits();
    void staleRepliesAreDropped();
    void paste_data();
    void paste();
    void signOut_data();
    void signOut();
    void rowsArePlainAndElided_data();
    void rowsArePlainAndElided();

private:
    // Opens the window and waits for its first poll; the timer is stopped so that each test
    // polls when it chooses.
    void open();
    void poll(const QList<Clip> &list);
    void select(int row) { m_view->table()->setCurrentIndex(m_view->table()->model()->index(row, 0)); }
    // Answers the next save with `reply` and waits for its outcome.
    void saveAndWait(const ScriptedReply &reply);

    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<APIClient> m_api;
    std::unique_ptr<FakePlatform> m_platform;
    FakeSecretStore m_store;
    FakeSound m_sound;
    QList<Clip> m_served;
    std::unique_ptr<InboxViewController> m_view;
    int m_logouts = 0;
};

void InboxViewControllerTest::init()
{
    m_server = std::make_unique<TestHttpServer>();
    m_served = clips({"a", "b", "c"});
    m_server->setHandler([this](const RecordedRequest &) { return ScriptedReply::json(200, listJson(m_served)); });
    m_api = std::make_unique<APIClient>(m_server->origin(), QStringLiteral("tok"));
    m_platform = std::make_unique<FakePlatform>();
    m_store = FakeSecretStore();
    m_store.stored = QStringLiteral("tok");
    m_sound.plays = 0;
    m_logouts = 0;
}

void InboxViewControllerTest::cleanup()
{
    m_view.reset();
    m_api.reset();
    m_server.reset();
}

void InboxViewControllerTest::open()
{
    m_view = std::make_unique<InboxViewController>(m_api.get(), Profile{"13800000000", "小林", {}},
                                                   m_platform->platform(), &m_store, &m_sound,
                                                   [this] { ++m_logouts; });
    QCOMPARE(m_view->statusText(), QStringLiteral("正在同步…"));
    QCOMPARE(m_view->pollTimer()->interval(), 3000);
    QVERIFY(m_view->pollTimer()->isActive());
    m_view->pollTimer()->stop();
    QSignalSpy handled(m_view.get(), &InboxViewController::pollHandled);
    QVERIFY(handled.wait());
}

void InboxViewControllerTest::poll(const QList<Clip> &list)
{
    m_served = list;
    QSignalSpy handled(m_view.get(), &InboxViewController::pollHandled);
    m_view->refresh();
    QVERIFY(handled.wait());
}

void InboxViewControllerTest::saveAndWait(const ScriptedReply &reply)
{
    m_server->enqueue(reply);
    const qsizetype before = m_server->requests().size();
    m_view->save();
    QVERIFY(!m_view->saveButton()->isEnabled());
    QVERIFY(m_server->waitForRequests(before + 1));
    QTRY_VERIFY(m_view->saveButton()->isEnabled());
}

void InboxViewControllerTest::soundOnlyForALaterNewFirstClip_data()
{
    QTest::addColumn<QList<QStringList>>("polls");
    QTest::addColumn<int>("plays");
    QTest::newRow("same first clip") << QList<QStringList>{{"a", "b"}} << 0;
    QTest::newRow("unchanged list") << QList<QStringList>{{"a"}, {"a"}, {"a", "x"}} << 0;
    QTest::newRow("new first clip, once") << QList<QStringList>{{"x", "a"}, {"x", "a"}} << 1;
    QTest::newRow("first clip removed") << QList<QStringList>{{"b", "c"}} << 1;
    QTest::newRow("from and to empty") << QList<QStringList>{{}, {"x"}, {}, {"y"}} << 0;
}

void InboxViewControllerTest::soundOnlyForALaterNewFirstClip()
{
    QFETCH(QList<QStringList>, polls);
    QFETCH(int, plays);
    open();
    QCOMPARE(m_sound.plays, 0);
    for (const QStringList &ids : polls)
        poll(clips(ids));
    QCOMPARE(m_sound.plays, plays);
    QCOMPARE(m_view->statusText(), QStringLiteral("实时同步"));
    QCOMPARE(m_view->statusColor(), SystemColors::green());
}

void InboxViewControllerTest::emptyListClearsTheEditor()
{
    open();
    select(2);
    QCOMPARE(m_view->titleField()->text(), QStringLiteral("标题 c"));
    poll({});
    QCOMPARE(m_view->table()->model()->rowCount(), 0);
    QVERIFY(!m_view->table()->selectionModel()->hasSelection());
    QCOMPARE(m_view->selectedIndex(), 0);
    QVERIFY(m_view->titleField()->text().isEmpty());
    QVERIFY(m_view->editor()->toPlainText().isEmpty());
    m_view->save();
    QCOMPARE(m_server->requests().size(), 2);
}

void InboxViewControllerTest::selectionFollowsItsClipOrFallsBackToTheFirst()
{
    open();
    select(1);
    poll(clips({"x", "a", "b"}));
    QCOMPARE(m_view->selectedIndex(), 2);
    QCOMPARE(m_view->table()->currentIndex().row(), 2);
    QCOMPARE(m_view->editor()->toPlainText(), QStringLiteral("优化 b"));
    poll(clips({"y", "x"}));
    QCOMPARE(m_view->selectedIndex(), 0);
    QVERIFY(m_view->table()->selectionModel()->isRowSelected(0));
    QCOMPARE(m_view->titleField()->text(), QStringLiteral("标题 y"));
}

void InboxViewControllerTest::emptyOptimizedTextOpensOnRawAndOptimizedChoiceIsKept()
{
    m_served = {clip("a"), clip("b", QString())};
    open();
    QVERIFY(m_view->optimizedButton()->isChecked());
    select(1);
    QVERIFY(m_view->rawButton()->isChecked());
    QCOMPARE(m_view->editor()->toPlainText(), QStringLiteral("原文 b"));
    m_view->optimizedButton()->click();
    QVERIFY(m_view->optimizedButton()->isChecked());
    QCOMPARE(m_view->editor()->toPlainText(), QStringLiteral("原文 b"));

    m_view->editor()->setPlainText(QStringLiteral("新的优化"));
    const QString longTitle(40000, u'题');
    m_view->titleField()->setText(longTitle);
    Clip stored = m_served[1];
    stored.optimizedText = QStringLiteral("新的优化");
    stored.title = longTitle;
    saveAndWait(ScriptedReply::json(200, envelopeJson(stored)));
    const QJsonObject body = QJsonDocument::fromJson(m_server->requests().last().body).object();
    QCOMPARE(m_server->requests().last().method, QByteArray("PATCH"));
    QCOMPARE(body.value("optimizedText").toString(), QStringLiteral("新的优化"));
    QCOMPARE(body.value("rawText").toString(), QStringLiteral("原文 b"));
    QCOMPARE(body.value("title").toString(), longTitle);
    QCOMPARE(m_view->clips().at(1), stored);
}

void InboxViewControllerTest::readOnlyClipCannotBeSaved()
{
    m_served = {clip("a"), clip("r", QStringLiteral("x"), false)};
    open();
    QVERIFY(m_view->saveButton()->isEnabled());
    select(1);
    QVERIFY(!m_view->saveButton()->isEnabled());
    m_view->save();
    poll(m_served);
    QVERIFY(!m_view->saveButton()->isEnabled());
    QVERIFY(std::none_of(m_server->requests().cbegin(), m_server->requests().cend(),
                         [](const RecordedRequest &r) { return r.method == "PATCH"; }));
}

void InboxViewControllerTest::failedSaveStaysUntilASuccess()
{
    open();
    auto *reset = m_view->findChild<QTimer *>(QStringLiteral("saveTitleReset"));
    QVERIFY(reset);
    saveAndWait(ScriptedReply::json(200, envelopeJson(m_served[0])));
    QCOMPARE(m_view->saveButton()->text(), QStringLiteral("已保存"));
    QVERIFY(reset->isActive());
    // A failure while "已保存" waits for its reset is not hidden by the reset.
    saveAndWait(ScriptedReply::json(500, R"({"error":"坏了"})"));
    QCOMPARE(m_view->saveButton()->text(), QStringLiteral("保存失败"));
    QVERIFY(m_view->saveButton()->isEnabled());
    QVERIFY(!reset->isActive());
    poll(m_served);
    QCOMPARE(m_view->saveButton()->text(), QStringLiteral("保存失败"));
    QCOMPARE(m_view->statusText(), QStringLiteral("实时同步"));
    // A reply about another clip is a failure too.
    saveAndWait(ScriptedReply::json(200, envelopeJson(m_served[1])));
    QCOMPARE(m_view->saveButton()->text(), QStringLiteral("保存失败"));
    QCOMPARE(m_view->clips(), m_served);
    saveAndWait(ScriptedReply::json(200, envelopeJson(m_served[0])));
    QCOMPARE(m_view->saveButton()->text(), QStringLiteral("已保存"));
    QTRY_COMPARE(m_view->saveButton()->text(), QStringLiteral("保存修改"));
}

void InboxViewControllerTest::saveReplacesTheRowWithTheSameId()
{
    open();
    select(1);
    m_view->editor()->setPlainText(QStringLiteral("改过的 b"));
    Clip stored = m_served[1];
    stored.optimizedText = QStringLiteral("改过的 b");
    ScriptedReply slow = ScriptedReply::json(200, envelopeJson(stored));
    slow.delay = std::chrono::milliseconds(800);
    m_server->enqueue(slow);
    m_view->save();
    QVERIFY(m_server->waitForRequests(2));
    // While the save is on its way the clip moves down and the user opens another one.
    const QList<Clip> moved = clips({"x", "a", "b"});
    poll(moved);
    QVERIFY(!m_view->saveButton()->isEnabled());
    select(1);
    QVERIFY(m_view->saveButton()->isEnabled());
    QTRY_COMPARE(m_view->clips().at(2), stored);
    QCOMPARE(m_view->clips().mid(0, 2), moved.mid(0, 2));
    QCOMPARE(m_view->editor()->toPlainText(), QStringLiteral("优化 a"));
}

void InboxViewControllerTest::pollKeepsUnsavedEdits_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("focused");
    QTest::addColumn<bool>("removed");
    QTest::newRow("text typed") << "" << "我的修改" << true << false;
    QTest::newRow("title typed") << "新标题" << "" << true << false;
    QTest::newRow("left unsaved, unfocused") << "" << "我的修改" << false << false;
    QTest::newRow("clip gone") << "新标题" << "我的修改" << true << true;
}

void InboxViewControllerTest::pollKeepsUnsavedEdits()
{
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(bool, focused);
    QFETCH(bool, removed);
    open();
    m_view->show();
    select(1);
    if (!title.isEmpty())
        m_view->titleField()->setText(title);
    if (!text.isEmpty())
        m_view->editor()->setPlainText(text);
    (focused ? static_cast<QWidget *>(m_view->editor()) : m_view->copyButton())->setFocus();
    const QString shownTitle = m_view->titleField()->text();
    const QString shownText = m_view->editor()->toPlainText();

    QList<Clip> updated = clips({"x", "a", "b"});
    updated[2].optimizedText = QStringLiteral("别处改的");
    if (removed)
        updated.removeAt(2);
    poll(updated);
    QCOMPARE(m_view->clips(), updated);
    QCOMPARE(m_view->titleField()->text(), shownTitle);
    QCOMPARE(m_view->editor()->toPlainText(), shownText);
    QCOMPARE(m_view->selectedIndex(), removed ? -1 : 2);
    QCOMPARE(m_view->saveButton()->isEnabled(), !removed);
    m_view->rawButton()->click();
    QCOMPARE(m_view->editor()->toPlainText(), removed ? shownText : QStringLiteral("原文 b"));
    // Picking a row is the user's choice to leave the edits.
    select(0);
    QCOMPARE(m_view->editor()->toPlainText(), QStringLiteral("原文 x"));
    QVERIFY(!m_view->hasUnsavedEdits());
}

void InboxViewControllerTest::staleRepliesAreDropped()
{
    open();
    // A poll answered late with an older list...
    m_server->setHandler([](const RecordedRequest &) {
        ScriptedReply reply = ScriptedReply::json(200, listJson(clips({"old"})));
        reply.delay = std::chrono::milliseconds(500);
        return reply;
    });
    QSignalSpy handled(m_view.get(), &InboxViewController::pollHandled);
    m_view->refresh();
    QVERIFY(m_server->waitForRequests(2));
    // ...is overtaken by a later poll, and then by a save.
    m_server->enqueue(ScriptedReply::json(200, listJson(clips({"new", "b"}))));
    m_view->refresh();
    QTRY_COMPARE(handled.size(), 1);
    m_view->refresh();
    QVERIFY(m_server->waitForRequests(4));
    Clip stored = clip("new", QStringLiteral("存好的"));
    saveAndWait(ScriptedReply::json(200, envelopeJson(stored)));
    QTRY_COMPARE(handled.size(), 3);
    QCOMPARE(handled.at(0).at(0).toBool(), true);
    QCOMPARE(handled.at(1).at(0).toBool(), false);
    QCOMPARE(handled.at(2).at(0).toBool(), false);
    QCOMPARE(m_view->clips().first(), stored);
    QCOMPARE(m_view->clips().size(), 2);
}

void InboxViewControllerTest::paste_data()
{
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<bool>("hasTarget");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QColor>("color");
    const QColor unchanged = SystemColors::green();
    QTest::newRow("no target") << true << false << "请先切换一次需要粘贴的应用" << unchanged;
    QTest::newRow("not trusted") << false << true << "请允许辅助功能权限后重试" << SystemColors::orange();
    QTest::newRow("delivered") << true << true << "已复制" << unchanged;
}

void InboxViewControllerTest::paste()
{
    QFETCH(bool, trusted);
    QFETCH(bool, hasTarget);
    QFETCH(QString, status);
    QFETCH(QColor, color);
    open();
    m_platform->accessibility.trusted = trusted;
    if (hasTarget)
        m_platform->workspace.userActivates(target);
    m_view->editor()->setPlainText(QStringLiteral("改过再粘贴"));
    const qint64 clickedAt = m_platform->keystroke.clock.elapsed();
    for (int i = 0; i < 2; ++i) {
        m_view->pasteButton()->click();
        QCOMPARE(m_platform->pasteboard.text, QStringLiteral("改过再粘贴"));
        QCOMPARE(m_view->statusText(), status);
        QCOMPARE(m_view->statusColor(), color);
    }
    // The prompt is asked for at every untrusted paste.
    QCOMPARE(m_platform->accessibility.promptRequests, trusted ? 0 : 2);
    const bool delivers = trusted && hasTarget;
    QCOMPARE(m_platform->workspace.activations.size(), delivers ? 2 : 0);
    if (delivers) {
        QTRY_COMPARE(m_platform->keystroke.posts.size(), 2);
        for (const FakeKeystroke::Post &post : m_platform->keystroke.posts) {
            QCOMPARE(post.target, target);
            QCOMPARE(post.clipboardText, QStringLiteral("改过再粘贴"));
            QVERIFY(post.atMs - clickedAt >= 350);
        }
    }
}

void InboxViewControllerTest::signOut_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("confirmed");
    QTest::newRow("cancel") << "取消" << false;
    QTest::newRow("confirm") << "退出登录" << true;
}

void InboxViewControllerTest::signOut()
{
    QFETCH(QString, answer);
    QFETCH(bool, confirmed);
    open();
    m_view->pollTimer()->start();
    QString text, informative;
    QStringList buttons;
    QTimer::singleShot(0, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        text = box->text();
        informative = box->informativeText();
        for (QAbstractButton *button : box->buttons())
            buttons.append(button->text());
        for (QAbstractButton *button : box->buttons())
            if (button->text() == answer)
                button->click();
    });
    m_view->logoutButton()->click();
    QCOMPARE(text, QStringLiteral("退出当前账号？"));
    QCOMPARE(informative, QStringLiteral("只清除这台 Mac 的登录状态，不会删除云端内容。"));
    QCOMPARE(buttons, QStringList({QStringLiteral("退出登录"), QStringLiteral("取消")}));
    QCOMPARE(m_logouts, confirmed ? 1 : 0);
    QCOMPARE(m_store.removes, confirmed ? 1 : 0);
    QCOMPARE(m_api->token.has_value(), !confirmed);
    QCOMPARE(m_view->pollTimer()->isActive(), !confirmed);
}

void InboxViewControllerTest::rowsArePlainAndElided_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("optimized");
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("shownTitle");
    QTest::addColumn<QString>("shownPreview");
    QTest::newRow("markup stays text") << "<b>粗</b>&amp;" << "a\nb" << "r" << "<b>粗</b>&amp;" << "a b";
    QTest::newRow("empty optimized previews raw") << "" << "" << "原文" << "" << "原文";
    QTest::newRow("long title cut") << QString(300, u'长') << "x" << "" << "…" << "x";
}

void InboxViewControllerTest::rowsArePlainAndElided()
{
    QFETCH(QString, title);
    QFETCH(QString, optimized);
    QFETCH(QString, raw);
    QFETCH(QString, shownTitle);
    QFETCH(QString, shownPreview);
    Clip c = clip("a", optimized);
    c.title = title;
    c.rawText = raw;
    ClipListModel model;
    model.setClips({c});
    const QModelIndex index = model.index(0);
    const QFont font = QApplication::font();
    const QString drawnTitle = ClipRowDelegate::displayedTitle(index, font, 245);
    if (shownTitle == QStringLiteral("…"))
        QVERIFY(drawnTitle.endsWith(shownTitle) && drawnTitle.size() < title.size());
    else
        QCOMPARE(drawnTitle, shownTitle);
    QCOMPARE(ClipRowDelegate::displayedPreview(index, font, 245), shownPreview);
    ClipRowDelegate delegate;
    QCOMPARE(delegate.sizeHint(QStyleOptionViewItem(), index).height(), 58);
}

QTEST_MAIN(InboxViewControllerTest)
#include "tst_inboxviewcontroller.moc"
