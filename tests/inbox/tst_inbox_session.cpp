// The inbox window on the desktop of the headless session, against the local clip service:
// browse, edit and save, a new clip arriving with its sound, and paste into another application.
#include "DevService.h"
#include "PasteTargetProcess.h"
#include "support/SessionTestMain.h"
#include "delivery/PasteDelivery.h"
#include "inbox/AlertSound.h"
#include "inbox/InboxViewController.h"
#include "platform/x11/X11Platform.h"
#include "service/APIClient.h"
#include "support/FakeSecretStore.h"
#include "widgets/SafePlainTextEdit.h"

#include <QLineEdit>
#include <QListView>
#include <QPushButton>

using namespace quillpost;
using namespace quillpost::test;

struct CountingSound final : AlertSound { void play() override { ++plays; } int plays = 0; };

class InboxSessionTest : public QObject
{
    Q_OBJECT

private slots:
    void browseEditSaveAndPaste()
    {
        DevService service(testArguments({QStringLiteral("--seed"), QStringLiteral("demo")}));
        QVERIFY(service.start());
        const QString token = service.signIn(QStringLiteral("13800000000"));
        X11Platform platform;
        APIClient api(*makeServiceURL(service.url(QString()).toString()), token);
        FakeSecretStore store;
        CountingSound sound;
        InboxViewController inbox(&api, Profile{"13800000000", "演示用户", {}}, platform.platform(), &store, &sound, [] {});
        inbox.show();
        QVERIFY(QTest::qWaitForWindowExposed(&inbox));
        QTRY_VERIFY_WITH_TIMEOUT(inbox.clips().size() > 2, 5000);

        // A click opens an editable clip, and its raw text is typed and saved.
        const int row = int(std::ranges::find(inbox.clips(), true, &Clip::canEdit) - inbox.clips().begin());
        QListView *list = inbox.table();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(row, 0)).center());
        inbox.rawButton()->click();
        inbox.editor()->selectAll();
        const QString edited = QStringLiteral("edited in the inbox");
        QTest::keyClicks(inbox.editor(), edited);
        inbox.saveButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(inbox.saveButton()->text(), QStringLiteral("已保存"), 5000);

        // A clip sent from the phone arrives at the top with the sound; the list now comes with the
        // saved text, and the open clip stays open.
        QCOMPARE(service.send("POST", QStringLiteral("api/clips"), {{"rawText", "新的一条"}}, token).status, 201);
        QTRY_COMPARE_WITH_TIMEOUT(inbox.clips().first().rawText, QStringLiteral("新的一条"), 8000);
        QCOMPARE(sound.plays, 1);
        QCOMPARE(inbox.clips().at(inbox.selectedIndex()).rawText, edited);

        // Paste: the text reaches the application that was active before.
        PasteTargetProcess target;
        QVERIFY(target.start());
        platform.workspace()->activate(RunningApplication{target.windowId, target.pid, std::nullopt});
        QTRY_VERIFY_WITH_TIMEOUT(inbox.delivery()->lastExternalApp().has_value(), 5000);
        inbox.pasteButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(target.text, edited, 5000);
    }
};

QUILLPOST_SESSION_TEST_MAIN(InboxSessionTest)
#include "tst_inbox_session.moc"
