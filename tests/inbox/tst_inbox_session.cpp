// The inbox window on the desktop of the headless session, against the local clip service:
// browse, edit and save, copy, a new clip arriving, and paste into another application.
#include "DevService.h"
#include "PasteTargetProcess.h"
#include "SessionTestMain.h"
#include "inbox/AlertSound.h"
#include "inbox/InboxViewController.h"
#include "platform/x11/X11Platform.h"
#include "receiver/PasteDelivery.h"
#include "service/APIClient.h"
#include "support/FakeSecretStore.h"
#include "widgets/SafePlainTextEdit.h"

#include <QJsonArray>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>

using namespace quillpost;
using namespace quillpost::test;

namespace {

struct CountingSound final : AlertSound
{
    void play() override { ++plays; }
    int plays = 0;
};

} // namespace

class InboxSessionTest : public QObject
{
    Q_OBJECT

private slots:
    void browseEditSaveCopyAndPaste();
};

void InboxSessionTest::browseEditSaveCopyAndPaste()
{
    DevService service(testArguments({QStringLiteral("--seed"), QStringLiteral("demo")}));
    QVERIFY(service.start());
    const QString token = service.signIn(QStringLiteral("13800000000"));
    QVERIFY(!token.isEmpty());

    X11Platform platform;
    APIClient api(*makeServiceURL(service.url(QString()).toString()), token);
    FakeSecretStore store;
    CountingSound sound;
    InboxViewController inbox(&api, Profile{QStringLiteral("13800000000"), QStringLiteral("演示用户"), {}},
                              platform.platform(), &store, &sound, [] {});
    inbox.resize(900, 560);
    inbox.show();
    QVERIFY(QTest::qWaitForWindowExposed(&inbox));
    QTRY_VERIFY_WITH_TIMEOUT(inbox.clips().size() > 2, 5000);
    QCOMPARE(inbox.statusText(), QStringLiteral("实时同步"));

    // Browse: a click on the second row opens that clip.
    int row = -1;
    for (int i = 0; i < inbox.clips().size() && row < 0; ++i)
        row = inbox.clips().at(i).canEdit ? i : -1;
    QVERIFY(row >= 0);
    QListView *table = inbox.table();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(table->model()->index(row, 0)).center());
    QCOMPARE(inbox.selectedIndex(), row);
    const Clip chosen = inbox.clips().at(row);
    QCOMPARE(inbox.titleField()->text(), chosen.title);

    // Edit and save: the service keeps the new raw text.
    inbox.rawButton()->click();
    inbox.editor()->setFocus();
    inbox.editor()->selectAll();
    QTest::keyClicks(inbox.editor(), QStringLiteral("edited in the inbox"));
    const QString edited = inbox.editor()->toPlainText();
    QCOMPARE(edited, QStringLiteral("edited in the inbox"));
    inbox.saveButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(inbox.saveButton()->text(), QStringLiteral("已保存"), 5000);
    bool stored = false;
    for (const QJsonValue value : service.get(QStringLiteral("api/clips?limit=50"), token).json()["clips"].toArray())
        stored = stored || (value["id"].toString() == chosen.id && value["rawText"].toString() == edited);
    QVERIFY(stored);

    // A clip sent from the phone arrives at the top with the sound.
    QCOMPARE(service.send("POST", QStringLiteral("api/clips"), {{"rawText", "新的一条"}}, token).status, 201);
    QTRY_COMPARE_WITH_TIMEOUT(inbox.clips().first().rawText, QStringLiteral("新的一条"), 8000);
    QCOMPARE(sound.plays, 1);
    QCOMPARE(inbox.clips().at(inbox.selectedIndex()).id, chosen.id);
    QCOMPARE(inbox.editor()->toPlainText(), edited);

    // Paste: the text reaches the application that was active before, and only that one.
    PasteTargetProcess target;
    QVERIFY(target.start());
    platform.workspace()->activate(RunningApplication{target.windowId, target.pid, std::nullopt});
    QTRY_VERIFY_WITH_TIMEOUT(inbox.delivery()->lastExternalApp().has_value(), 5000);
    inbox.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&inbox));
    inbox.pasteButton()->click();
    QCOMPARE(inbox.statusText(), QStringLiteral("已复制"));
    QTRY_COMPARE_WITH_TIMEOUT(target.text, edited, 5000);
    QCOMPARE(target.clipboard(), std::optional<QString>(edited));

    // Copy alone puts the editor's text on the clipboard and types nowhere.
    inbox.editor()->setPlainText(QStringLiteral("只复制"));
    inbox.copyButton()->click();
    QCOMPARE(target.clipboard(), std::optional<QString>(QStringLiteral("只复制")));
    QVERIFY(target.sync());
    QCOMPARE(target.text, edited);
}

QUILLPOST_SESSION_TEST_MAIN(InboxSessionTest)
#include "tst_inbox_session.moc"
