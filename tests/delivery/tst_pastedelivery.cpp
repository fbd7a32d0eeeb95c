#include "delivery/DeliveryStatus.h"
#include "delivery/PasteDelivery.h"
#include "fakes/FakePlatform.h"
#include "platform/SystemColors.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace quillpost;
using quillpost::test::FakePlatform;
using OptString = std::optional<QString>;
using OptColor = std::optional<QColor>;

namespace {

const RunningApplication editor = FakePlatform::app(7, QStringLiteral("Editor"), 700);

// The panel's or the inbox's options, with a short keystroke delay: how long it is is the
// product's choice, that the keys wait for it is what the tests check.
PasteDeliveryOptions options(bool inbox)
{
    PasteDeliveryOptions options = inbox ? PasteDeliveryOptions::inboxWindow() : PasteDeliveryOptions{};
    options.keystrokeDelay = std::chrono::milliseconds(40);
    return options;
}

// A delivery on fresh fakes, with spies on its status reports and on the posted keystrokes.
struct Harness
{
    explicit Harness(bool inbox = false) : delivery(std::make_unique<PasteDelivery>(fakes.platform(), options(inbox))) {}
    FakePlatform fakes;
    std::unique_ptr<PasteDelivery> delivery;
    QSignalSpy status{delivery.get(), &PasteDelivery::statusChanged};
    QSignalSpy posted{&fakes.keystroke, &Keystroke::finished};
};

} // namespace

class PasteDeliveryTest : public QObject
{
    Q_OBJECT

private slots:
    void clipTexts()
    {
        Clip clip;
        clip.rawText = QStringLiteral("原文");
        clip.optimizedText = QStringLiteral(" \n\u3000"); // blank
        QCOMPARE(preferredText(clip), clip.rawText);
        QCOMPARE(autoPasteText(clip, QStringLiteral("optimized")), OptString()); // no fall-back to the raw text
        QCOMPARE(autoPasteText(clip, QStringLiteral("raw")), clip.rawText);
        clip.rawText = QStringLiteral("\t\n");
        clip.optimizedText = QStringLiteral("\n text \n");
        QCOMPARE(preferredText(clip), clip.optimizedText); // untrimmed
        QCOMPARE(autoPasteText(clip, QStringLiteral("other")), clip.optimizedText); // unknown counts as optimized
        QCOMPARE(autoPasteText(clip, QStringLiteral("raw")), OptString());
    }

    // The target is the most recently activated application other than this program; two
    // missing identifiers are equal, and case matters.
    void ownProgramIsNeverTheTarget()
    {
        Harness h;
        const auto activate = [&h](quint32 windowId, const OptString &identifier) {
            h.fakes.workspace.userActivates(FakePlatform::app(windowId, identifier));
            return h.delivery->lastExternalApp().value_or(RunningApplication{}).windowId;
        };
        QCOMPARE(activate(1, QStringLiteral("Editor")), 1u);
        QCOMPARE(activate(2, QStringLiteral("Quillpost")), 1u);
        QCOMPARE(activate(3, std::nullopt), 3u);
        QCOMPARE(activate(4, QStringLiteral("quillpost")), 4u);
        h.fakes.workspace.ownId.reset();
        QCOMPARE(activate(5, std::nullopt), 4u);
    }

    void deliversInOrderAfterDelay_data()
    {
        QTest::addColumn<bool>("inbox");
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<PasteChord>("chord");
        const QStringList start{"pasteboard.setText ls\n", "accessibility.isTrusted"};
        const QStringList panel = start + QStringList{"workspace.isTerminated 7", "workspace.activate 7"};
        QTest::newRow("editor") << false << "Gedit" << panel << PasteChord::ControlV;
        // The inbox doesn't check whether the target has quit.
        QTest::newRow("inbox") << true << "Gedit" << start + QStringList{"workspace.activate 7"} << PasteChord::ControlV;
        QTest::newRow("xterm, primary selection too")
            << false << "XTerm" << panel + QStringList{"pasteboard.setSelectionText ls\n"} << PasteChord::ShiftInsert;
        QTest::newRow("kitty, other case") << false << "Kitty" << panel << PasteChord::ControlShiftV;
        QTest::newRow("Tilix by its Wayland app_id") << false << "com.gexperts.Tilix" << panel << PasteChord::ControlShiftV;
        QTest::newRow("prefix is not a match") << false << "XTermish" << panel << PasteChord::ControlV;
    }

    void deliversInOrderAfterDelay()
    {
        QFETCH(bool, inbox);
        QFETCH(QString, identifier);
        Harness h(inbox);
        h.fakes.workspace.userActivates(FakePlatform::app(7, identifier));
        h.fakes.log.clear();

        const qint64 start = h.fakes.keystroke.clock.elapsed();
        QVERIFY(h.delivery->paste(QStringLiteral("ls\n")));
        QTEST(h.fakes.log, "steps");
        QVERIFY(h.posted.wait(10000));
        QTEST(h.fakes.keystroke.posts.first().chord, "chord");
        // Never early; how late a loaded machine runs the job is not bounded.
        const qint64 elapsed = h.fakes.keystroke.posts.first().atMs - start;
        QVERIFY2(elapsed >= h.delivery->options().keystrokeDelay.count() - 1, qPrintable(QString::number(elapsed)));
        QVERIFY(h.status.isEmpty()); // success reports nothing
    }

    void stopsBeforeKeystroke_data()
    {
        QTest::addColumn<bool>("inbox");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<bool>("hasTarget");
        QTest::addColumn<QString>("message");
        QTest::addColumn<OptColor>("color");
        QTest::addColumn<int>("prompts"); // after two deliveries and one by a new owner
        QTest::addColumn<MissingTrust>("missing");
        const OptColor orange = SystemColors::orange();
        const QString untrusted = QStringLiteral("请在系统设置中允许辅助功能");
        const auto permission = MissingTrust::Permission;
        QTest::newRow("not trusted: prompt once per owner") << false << false << true << untrusted << orange << 2
                                                            << permission;
        QTest::newRow("not trusted, no target") << false << false << false << untrusted << orange << 2 << permission;
        // Where the desktop has no permission to give, the status says what the user can do
        // (each reason's words: allDeliveryStatusTexts, checked where they are shown).
        QTest::newRow("consent refused") << false << false << true
            << notTrustedStatus(MissingTrust::ConsentRefused, {}).text << orange << 2 << MissingTrust::ConsentRefused;
        QTest::newRow("no target") << false << true << false << "先切换一次目标应用" << OptColor() << 0 << permission;
        QTest::newRow("inbox, not trusted: prompt every time")
            << true << false << true << "请允许辅助功能权限后重试" << orange << 3 << permission;
        QTest::newRow("inbox, no target") << true << true << false << "请先切换一次需要粘贴的应用" << OptColor() << 0
                                          << permission;
        // A target that quit stays the target (and stops deliveries) until another is activated.
        QTest::newRow("target quit") << false << true << true << "目标应用已关闭，请重新点一下输入框" << OptColor() << 0
                                     << permission;
    }

    void stopsBeforeKeystroke()
    {
        QFETCH(bool, inbox);
        QFETCH(bool, trusted);
        QFETCH(bool, hasTarget);
        Harness h(inbox);
        h.fakes.accessibility.trusted = trusted;
        QFETCH(MissingTrust, missing);
        h.fakes.accessibility.missing = missing;
        if (hasTarget)
            h.fakes.workspace.userActivates(editor);
        h.fakes.workspace.terminate(editor); // reported as quit only where the delivery asks
        QVERIFY(!h.delivery->paste(QStringLiteral("text")));
        QVERIFY(!h.delivery->paste(QStringLiteral("again")));
        PasteDelivery(h.fakes.platform(), h.delivery->options()).paste(QStringLiteral("by a new owner"));

        QCOMPARE(h.fakes.log.first(), QStringLiteral("pasteboard.setText text")); // always, before any check
        QCOMPARE(h.status.size(), 2);
        QTEST(h.status.last().at(0).toString(), "message");
        QTEST(h.status.last().at(1).value<OptColor>(), "color");
        QTEST(h.fakes.accessibility.promptRequests, "prompts");
        QVERIFY(h.fakes.workspace.activations.isEmpty());

        // Nothing was scheduled: the first keystroke is that of a later good delivery.
        h.fakes.accessibility.trusted = true;
        h.fakes.workspace.userActivates(FakePlatform::app(8));
        QVERIFY(h.delivery->paste(QStringLiteral("next")));
        QVERIFY(h.posted.wait(10000));
        QCOMPARE(h.fakes.keystroke.posts.first().target.windowId, 8u);
    }

    // A scheduled keystroke that types nothing replaces the owner's status line with the reason
    // and its explanation, in orange; a posted one, or one superseded by a newer delivery, leaves
    // it to the owner. The job of an owner that is gone still runs and reports to nobody.
    void reportsWhatTheKeystrokeDid_data()
    {
        QTest::addColumn<KeystrokeResult>("result");
        QTest::newRow("posted") << KeystrokeResult::Posted;
        QTest::newRow("superseded") << KeystrokeResult::Superseded;
        QTest::newRow("not focused") << KeystrokeResult::NotFocused;
    }

    void reportsWhatTheKeystrokeDid()
    {
        QFETCH(KeystrokeResult, result);
        Harness h;
        h.fakes.keystroke.result = result;
        h.fakes.workspace.userActivates(editor);
        QVERIFY(h.delivery->paste(QStringLiteral("text")));
        QVERIFY(h.posted.wait(10000));
        const std::optional<StatusText> expected = notTypedStatus(result, h.delivery->options());
        QCOMPARE(expected.has_value(), result != KeystrokeResult::Posted && result != KeystrokeResult::Superseded);
        if (!expected) {
            QVERIFY(h.status.isEmpty());
        } else {
            QCOMPARE(h.status.size(), 1);
            QCOMPARE(h.status.last().at(0).toString(), expected->text);
            QCOMPARE(h.status.last().at(1).value<OptColor>(), OptColor(SystemColors::orange()));
            QCOMPARE(h.status.last().at(2).toString(), expected->explanation);
        }
        QVERIFY(h.delivery->paste(QStringLiteral("again")));
        h.delivery.reset();
        QVERIFY(h.posted.wait(10000));
        QCOMPARE(h.posted.size(), 2);
    }

    // A job puts its text back only over deliveries' texts: two deliveries within the delay each
    // paste their own, even once their owner is gone. Whatever else went on the clipboard after a
    // delivery (the user's copy, the panel's copy while pinned, a text left for pasting by hand)
    // stays, and that delivery's job types nothing and says so.
    // The clipboard is checked when the keys go out, not when the job starts: a copy made while
    // the seam waits (held modifiers, the desktop's consent dialog) is never pasted.
    // Script steps: "paste:T" a delivery, "copy:T" another program's copy, "pin:T" this program's
    // own write, "manual:T" a delivery that stops early (not trusted), "gone" the owner goes,
    // "hold" the seam waits before typing, "waiting:N" until N jobs wait there, "release" it types.
    void jobsNeverOverwriteANewerClipboard_data()
    {
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<QStringList>("pasted");
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<int>("reports");
        QTest::newRow("deliveries only, owner gone")
            << QStringList{"paste:first", "paste:second", "gone"} << QStringList{"first", "second"} << "second" << 0;
        QTest::newRow("user copies after both")
            << QStringList{"paste:first", "paste:second", "copy:mine"} << QStringList{} << "mine" << 2;
        QTest::newRow("user copies between")
            << QStringList{"paste:first", "copy:mine", "paste:second"} << QStringList{"second"} << "second" << 1;
        QTest::newRow("copy while pinned") << QStringList{"paste:first", "pin:newer"} << QStringList{} << "newer" << 1;
        QTest::newRow("left for pasting by hand")
            << QStringList{"paste:first", "manual:by hand"} << QStringList{} << "by hand" << 1;
        QTest::newRow("user copies, owner gone") << QStringList{"paste:first", "copy:mine", "gone"} << QStringList{}
                                                 << "mine" << 0;
        QTest::newRow("user copies while the seam waits")
            << QStringList{"hold", "paste:first", "waiting:1", "copy:mine", "release"} << QStringList{} << "mine" << 1;
        QTest::newRow("deliveries while the seam waits")
            << QStringList{"hold", "paste:first", "paste:second", "waiting:2", "release"}
            << QStringList{"first", "second"} << "second" << 0;
    }

    void jobsNeverOverwriteANewerClipboard()
    {
        QFETCH(QStringList, script);
        Harness h;
        h.fakes.workspace.userActivates(editor);
        for (const QString &step : std::as_const(script)) {
            const QString action = step.section(u':', 0, 0), text = step.section(u':', 1);
            if (action == "paste") {
                QVERIFY(h.delivery->paste(text));
            } else if (action == "copy") {
                h.fakes.pasteboard.userCopies(text);
            } else if (action == "pin") {
                h.fakes.pasteboard.setText(text);
            } else if (action == "manual") {
                h.fakes.accessibility.trusted = false;
                QVERIFY(!h.delivery->paste(text));
                h.fakes.accessibility.trusted = true;
            } else if (action == "hold") {
                h.fakes.keystroke.holding = true;
            } else if (action == "waiting") {
                QTRY_COMPARE_WITH_TIMEOUT(h.fakes.keystroke.held.size(), text.toInt(), 10000);
            } else if (action == "release") {
                h.fakes.keystroke.release();
            } else {
                h.delivery.reset();
            }
        }
        // Timers of the same delay run in the order they were started: this one after every job.
        bool jobsDone = false;
        QTimer::singleShot(options(false).keystrokeDelay, [&jobsDone] { jobsDone = true; });
        QTRY_VERIFY_WITH_TIMEOUT(jobsDone, 10000);

        QStringList pasted;
        for (const auto &post : std::as_const(h.fakes.keystroke.posts)) {
            QCOMPARE(post.target, editor);
            pasted << post.clipboardText;
        }
        QTEST(pasted, "pasted");
        QTEST(h.fakes.pasteboard.text, "clipboard");
        qsizetype reports = 0;
        for (const QList<QVariant> &status : std::as_const(h.status)) {
            if (status.at(0).toString() == notTypedStatus(KeystrokeResult::Stopped, {})->text) {
                QCOMPARE(status.at(1).value<OptColor>(), OptColor(SystemColors::orange()));
                ++reports;
            }
        }
        QTEST(int(reports), "reports");
    }
};

QTEST_GUILESS_MAIN(PasteDeliveryTest)
#include "tst_pastedelivery.moc"
