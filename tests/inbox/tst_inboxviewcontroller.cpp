#include "delivery/DeliveryStatus.h"
#include "fakes/FakePlatform.h"
#include "inbox/AlertSound.h"
#include "inbox/InboxViewController.h"
#include "platform/SystemColors.h"
#include "service/APIClient.h"
#include "support/FakeSecretStore.h"
#include "support/TestHttpServer.h"
#include "widgets/SafePlainTextEdit.h"

#include <QAccessible>
#include <QJsonDocument>
#include <QLineEdit>
#include <QListView>
#include <QNetworkReply>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>

using namespace quillpost;
using namespace quillpost::test;
using namespace std::chrono_literals;

namespace {

Clip clip(const QString &id, bool hasOptimized = true, bool canEdit = true)
{
    return Clip::fromJson({{"id", id}, {"title", "标题 " + id}, {"rawText", "原文 " + id},
                           {"optimizedText", hasOptimized ? "优化 " + id : QString()}, {"canEdit", canEdit}});
}

QList<Clip> clips(const QStringList &ids)
{
    QList<Clip> result(ids.size());
    std::ranges::transform(ids, result.begin(), [](const QString &id) { return clip(id); });
    return result;
}

struct CountingSound final : AlertSound { void play() override { ++plays; } int plays = 0; };

// An inbox window against its own scripted service, open once its first poll has brought clips
// a, b and c. Its timer is stopped, so tests poll when they choose.
struct Inbox
{
    Inbox()
    {
        server.enqueue(clipsReply(clips({"a", "b", "c"})));
        view->pollTimer()->stop();
        QSignalSpy(view.get(), &InboxViewController::pollHandled).wait(10000);
    }
    bool poll(const QList<Clip> &list)
    {
        server.enqueue(clipsReply(list));
        QSignalSpy handled(view.get(), &InboxViewController::pollHandled);
        view->refresh();
        return handled.wait(10000) && handled.at(0).at(0).toBool();
    }
    // Answers the next save with `answer` and waits for its outcome.
    bool save(const ScriptedReply &answer)
    {
        server.enqueue(answer);
        view->save();
        return !view->saveButton()->isEnabled()
            && QTest::qWaitFor([this] { return view->saveButton()->isEnabled(); }, 10000);
    }
    // Whether `action` sent a request: the client creates its reply at once.
    template<typename Action>
    bool sendsRequest(Action action)
    {
        const qsizetype before = api.findChildren<QNetworkReply *>().size();
        action();
        return api.findChildren<QNetworkReply *>().size() > before;
    }
    void select(int row) { view->table()->setCurrentIndex(view->table()->model()->index(row, 0)); }
    auto saves() const { return std::ranges::count(server.requests(), QByteArray("PATCH"), &RecordedRequest::method); }

    TestHttpServer server;
    APIClient api{server.origin(), QStringLiteral("tok")};
    FakePlatform platform;
    FakeSecretStore store;
    CountingSound sound;
    std::unique_ptr<InboxViewController> view = std::make_unique<InboxViewController>(
        &api, Profile{"138", "小林", {}}, platform.platform(), &store, &sound, [] {});
};

} // namespace

class InboxViewControllerTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<Inbox> h;

private slots:
    void init() { h = std::make_unique<Inbox>(); }

    // The sound plays when a later poll brings a new first clip, once; the steps build on each other.
    void soundOnlyForALaterNewFirstClip()
    {
        const QList<std::pair<QStringList, int>> pollsAndPlays = {
            {{"a", "b"}, 0}, {{"x", "a"}, 1}, {{"x", "a"}, 1}, {{"a"}, 2}, {{}, 2}, {{"y"}, 2}, {{}, 2}};
        for (const auto &[ids, plays] : pollsAndPlays) {
            QVERIFY(h->poll(clips(ids)));
            QCOMPARE(h->sound.plays, plays);
        }
    }

    // A read-only clip cannot be saved. The selection follows its clip, else falls back to the
    // first; an empty list leaves nothing shown and nothing to save.
    void selectionAndReadOnly()
    {
        QVERIFY(h->poll({clip("a"), clip("b"), clip("r", true, false)}));
        h->select(2);
        QVERIFY(!h->view->saveButton()->isEnabled());
        QVERIFY(!h->sendsRequest([this] { h->view->save(); }));
        h->select(1);
        QVERIFY(h->poll(clips({"x", "a", "b"})));
        QCOMPARE(h->view->table()->currentIndex().row(), 2);
        QVERIFY(h->poll(clips({"y", "x"})));
        QCOMPARE(h->view->titleField()->text(), QStringLiteral("标题 y"));
        QVERIFY(h->poll({}));
        QVERIFY(h->view->titleField()->text().isEmpty() && h->view->editor()->toPlainText().isEmpty());
        QVERIFY(!h->sendsRequest([this] { h->view->save(); }));
        QVERIFY(h->sendsRequest([this] { h->view->refresh(); })); // the check itself can see a request
        QCOMPARE(h->saves(), 0);
    }

    // A clip without optimized text opens on "原文"; under "优化版" it shows its raw text, and the
    // save stores the editor's text as the optimized one, with a long title uncut. While that save
    // is on its way the clip moves down, changed elsewhere, and the user opens another one: the poll
    // keeps the edits, the clip cannot be saved twice meanwhile, and the result replaces it by id.
    // A failure then cancels the pending "已保存" reset, and "保存失败" stays through polls until
    // a save succeeds.
    void saveOutcomes()
    {
        QVERIFY(h->poll({clip("a"), clip("b", false), clip("c")}));
        QPushButton *button = h->view->saveButton();
        h->select(1);
        QVERIFY(h->view->rawButton()->isChecked());
        h->view->optimizedButton()->click();
        QCOMPARE(h->view->editor()->toPlainText(), QStringLiteral("原文 b"));
        Clip stored = clip("b", false);
        stored.optimizedText = QStringLiteral("改过的 b");
        stored.title = QString(40000, u'题');
        h->view->editor()->setPlainText(stored.optimizedText);
        h->view->titleField()->setText(stored.title);
        h->server.enqueue(savedReply(stored).heldBack());
        h->view->save();
        QVERIFY(h->server.waitForRequests(3));
        QCOMPARE(QJsonDocument::fromJson(h->server.requests().last().body).object(),
                 QJsonObject({{"title", stored.title}, {"rawText", "原文 b"}, {"optimizedText", "改过的 b"}}));
        QVERIFY(h->poll(clips({"x", "a", "b"})));
        QCOMPARE(h->view->editor()->toPlainText(), stored.optimizedText);
        QVERIFY(!button->isEnabled());
        QVERIFY(!h->sendsRequest([this] { h->view->save(); }));
        h->select(1);
        QVERIFY(button->isEnabled());
        h->server.releaseHeld();
        QTRY_COMPARE(button->text(), QStringLiteral("已保存"));
        QCOMPARE(h->view->clips(), QList<Clip>({clip("x"), clip("a"), stored}));
        QCOMPARE(h->view->editor()->toPlainText(), QStringLiteral("优化 a"));
        QCOMPARE(h->saves(), 1);

        QVERIFY(h->save(ScriptedReply::json(500, R"({"error":"坏了"})")));
        QCOMPARE(button->text(), QStringLiteral("保存失败"));
        QVERIFY(h->view->findChildren<QTimer *>("saveTitleReset").isEmpty());
        QVERIFY(h->poll(h->view->clips()));
        QCOMPARE(button->text(), QStringLiteral("保存失败"));
        QVERIFY(h->save(savedReply(h->view->clips().at(1))));
        QCOMPARE(button->text(), QStringLiteral("已保存"));
    }

    // A paste whose keystroke typed nothing replaces "已复制" with the reason, in orange.
    void refusedPasteIsReported()
    {
        h->platform.workspace.userActivates(FakePlatform::app(7));
        h->platform.keystroke.result = KeystrokeResult::ModifiersHeld;
        h->view->pasteButton()->click();
        QCOMPARE(h->view->statusText(), QStringLiteral("已复制"));
        QTRY_COMPARE(h->view->statusText(), notTypedStatus(KeystrokeResult::ModifiersHeld, {})->text);
        QCOMPARE(h->view->statusColor(), SystemColors::orange());
        QCOMPARE(h->platform.pasteboard.text, QStringLiteral("优化 a"));
    }

    // Edits, here of the title alone, whose clip a poll removes stay with no row selected and
    // nothing to save; they can still be pasted (with no application to paste into, the text is
    // copied and the user is told why), and they are left when the user picks a row.
    void editsOfAClipThatIsGone()
    {
        h->select(1);
        h->view->titleField()->setText(QStringLiteral("新标题"));
        QVERIFY(h->poll(clips({"x", "a"})));
        QVERIFY(!h->view->saveButton()->isEnabled());
        h->view->rawButton()->click();
        QCOMPARE(h->view->titleField()->text(), QStringLiteral("新标题"));
        h->view->pasteButton()->click();
        QCOMPARE(h->platform.pasteboard.text, QStringLiteral("优化 b"));
        QCOMPARE(h->view->statusText(), PasteDeliveryOptions::inboxWindow().noTargetMessage);
        h->select(0);
        QCOMPARE(h->view->editor()->toPlainText(), QStringLiteral("原文 x"));
    }

    // Copy, paste and save hand on exactly the text shown, and a clip nobody edited is refreshed
    // by the next poll like any other. Its version can also be chosen by an assistive tool.
    void textsRoundTripExactly()
    {
        const QString text = QStringLiteral("十点\u00a0开会\r\n一\r二\u2028三\u2029四\t👍🏽 好的  \n  ");
        Clip odd = clip("a");
        odd.optimizedText = text;
        QVERIFY(h->poll({odd, clip("b")}));
        h->select(0);
        h->view->copyButton()->click();
        QCOMPARE(h->platform.pasteboard.text, text);
        h->platform.pasteboard.text.clear();
        h->view->pasteButton()->click();
        QCOMPARE(h->platform.pasteboard.text, text);
        QVERIFY(h->save(savedReply(odd)));
        QCOMPARE(QJsonDocument::fromJson(h->server.requests().last().body)["optimizedText"].toString(), text);

        odd.title = QStringLiteral("改过的标题");
        QVERIFY(h->poll({odd, clip("b")}));
        QCOMPARE(h->view->titleField()->text(), odd.title);
        QCOMPARE(h->view->table()->currentIndex().row(), 0);

        QAccessible::queryAccessibleInterface(h->view->rawButton())->actionInterface()->doAction(
            QAccessibleActionInterface::toggleAction());
        QCOMPARE(h->view->editor()->toPlainText(), QStringLiteral("原文 a"));
    }

    // A poll answered late with an older list is stale once a later poll's list, or a save's
    // result, is in the window.
    void staleRepliesAreDropped()
    {
        h->server.setHandler([](const RecordedRequest &) { return clipsReply(clips({"old"})).heldBack(); });
        QSignalSpy handled(h->view.get(), &InboxViewController::pollHandled);
        h->view->refresh();
        QVERIFY(h->server.waitForRequests(2));
        h->server.enqueue(clipsReply(clips({"new", "b"})));
        h->view->refresh();
        QTRY_COMPARE_WITH_TIMEOUT(handled.size(), 1, 10000);
        h->server.releaseHeld();
        QTRY_COMPARE_WITH_TIMEOUT(handled.size(), 2, 10000);
        h->view->refresh();
        QVERIFY(h->server.waitForRequests(4));
        QVERIFY(h->save(savedReply(clip("new", false))));
        h->server.releaseHeld();
        QTRY_COMPARE_WITH_TIMEOUT(handled.size(), 3, 10000);
        QCOMPARE(handled.at(0).at(0).toBool(), true);
        QVERIFY(!handled.at(1).at(0).toBool() && !handled.at(2).at(0).toBool());
        QCOMPARE(h->view->clips(), QList<Clip>({clip("new", false), clip("b")}));
    }
};

QTEST_MAIN(InboxViewControllerTest)
#include "tst_inboxviewcontroller.moc"
