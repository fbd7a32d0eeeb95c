#include "fakes/FakePlatform.h"
#include "platform/SystemColors.h"
#include "receiver/PasteDelivery.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace quillpost;
using quillpost::test::FakePlatform;

namespace {

Clip clipWith(const QString &rawText, const QString &optimizedText)
{
    Clip clip;
    clip.id = QStringLiteral("c1");
    clip.rawText = rawText;
    clip.optimizedText = optimizedText;
    return clip;
}

using Status = std::pair<QString, std::optional<QColor>>;

// Collects the delivery's status reports.
struct StatusLog
{
    explicit StatusLog(PasteDelivery &delivery)
    {
        QObject::connect(&delivery, &PasteDelivery::statusChanged,
                         [this](const QString &text, const std::optional<QColor> &color) {
                             entries.append({text, color});
                         });
    }
    QList<Status> entries;
};

const RunningApplication editor = FakePlatform::app(7, QStringLiteral("Editor"), 700);
const RunningApplication chat = FakePlatform::app(8, QStringLiteral("Chat"), 800);

} // namespace

class PasteDeliveryTest : public QObject
{
    Q_OBJECT

private slots:
    void preferredText_data();
    void preferredText();
    void autoPasteText_data();
    void autoPasteText();
    void appActivatedIgnoresOwnProgram_data();
    void appActivatedIgnoresOwnProgram();
    void deliversInOrderAfterDelay();
    void stopsBeforeKeystroke_data();
    void stopsBeforeKeystroke();
    void promptsOnceOnly();
    void inboxOptions();
    void terminatedTargetStaysUntilAnotherActivation();
    void jobRunsAfterOwnerIsGone();
    void twoQuickDeliveriesPasteTheirOwnTexts();
    void terminalsGetTheirChord_data();
    void terminalsGetTheirChord();
};

void PasteDeliveryTest::preferredText_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("optimized");
    QTest::addColumn<QString>("expected");
    QTest::newRow("optimized wins") << "raw" << "优化后" << "优化后";
    QTest::newRow("blank optimized falls back") << "raw" << " \n\t\u3000" << "raw";
    QTest::newRow("empty optimized falls back") << "raw" << "" << "raw";
    QTest::newRow("untrimmed optimized") << "raw" << "\n\n text \n" << "\n\n text \n";
    QTest::newRow("both blank gives raw") << "  " << "\n" << "  ";
}

void PasteDeliveryTest::preferredText()
{
    QFETCH(QString, raw);
    QFETCH(QString, optimized);
    QFETCH(QString, expected);
    QCOMPARE(quillpost::preferredText(clipWith(raw, optimized)), expected);
}

void PasteDeliveryTest::autoPasteText_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("optimized");
    QTest::addColumn<std::optional<QString>>("expected");
    const std::optional<QString> none;
    QTest::newRow("optimized") << "optimized" << "raw" << "opt" << std::optional<QString>("opt");
    QTest::newRow("optimized blank: nothing, no fall-back") << "optimized" << "raw" << " \n " << none;
    QTest::newRow("raw") << "raw" << "原文\n" << "opt" << std::optional<QString>("原文\n");
    QTest::newRow("raw blank") << "raw" << "\t\n" << "opt" << none;
    QTest::newRow("unknown version counts as optimized") << "other" << "raw" << "opt" << std::optional<QString>("opt");
    QTest::newRow("keeps blank lines") << "optimized" << "" << "\nopt\n\n" << std::optional<QString>("\nopt\n\n");
}

void PasteDeliveryTest::autoPasteText()
{
    QFETCH(QString, version);
    QFETCH(QString, raw);
    QFETCH(QString, optimized);
    QFETCH(std::optional<QString>, expected);
    QCOMPARE(quillpost::autoPasteText(clipWith(raw, optimized), version), expected);
}

void PasteDeliveryTest::appActivatedIgnoresOwnProgram_data()
{
    QTest::addColumn<std::optional<QString>>("ownId");
    QTest::addColumn<std::optional<QString>>("activatedId");
    QTest::addColumn<bool>("becomesTarget");
    const std::optional<QString> none;
    const std::optional<QString> quillpost = QStringLiteral("Quillpost");
    QTest::newRow("own program") << quillpost << quillpost << false;
    QTest::newRow("other program") << quillpost << std::optional<QString>("Editor") << true;
    QTest::newRow("missing identifier vs ours") << quillpost << none << true;
    QTest::newRow("both missing are equal") << none << none << false;
    QTest::newRow("ours missing, other present") << none << std::optional<QString>("Editor") << true;
    QTest::newRow("case matters") << quillpost << std::optional<QString>("quillpost") << true;
}

void PasteDeliveryTest::appActivatedIgnoresOwnProgram()
{
    QFETCH(std::optional<QString>, ownId);
    QFETCH(std::optional<QString>, activatedId);
    QFETCH(bool, becomesTarget);
    FakePlatform fakes;
    fakes.workspace.ownId = ownId;
    PasteDelivery delivery(fakes.platform());
    const RunningApplication app = FakePlatform::app(3, activatedId);
    fakes.workspace.userActivates(app);
    QCOMPARE(delivery.lastExternalApp().has_value(), becomesTarget);
    if (becomesTarget)
        QCOMPARE(*delivery.lastExternalApp(), app);
}

void PasteDeliveryTest::deliversInOrderAfterDelay()
{
    FakePlatform fakes;
    PasteDelivery delivery(fakes.platform());
    StatusLog status(delivery);
    fakes.workspace.userActivates(editor);
    fakes.log.clear();

    QSignalSpy posted(&fakes.keystroke, &Keystroke::finished);
    const qint64 start = fakes.keystroke.clock.elapsed();
    QVERIFY(delivery.paste(QStringLiteral("你好\n世界")));
    QCOMPARE(fakes.log, QStringList({"pasteboard.setText 你好\n世界", "accessibility.isTrusted",
                                     "workspace.isTerminated 7", "workspace.activate 7"}));
    QVERIFY(fakes.keystroke.posts.isEmpty());

    QVERIFY(posted.wait(2000));
    QCOMPARE(fakes.keystroke.posts.size(), 1);
    const auto &post = fakes.keystroke.posts.first();
    QCOMPARE(post.target, editor);
    QCOMPARE(post.chord, PasteChord::ControlV);
    QCOMPARE(post.clipboardText, QStringLiteral("你好\n世界"));
    QVERIFY2(post.atMs - start >= 419, qPrintable(QString::number(post.atMs - start)));
    QCOMPARE(fakes.log.last(), QStringLiteral("keystroke.postPaste 7 ControlV"));
    QVERIFY(status.entries.isEmpty()); // success reports nothing
    QVERIFY(!fakes.pasteboard.selectionText);
}

void PasteDeliveryTest::stopsBeforeKeystroke_data()
{
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<bool>("hasTarget");
    QTest::addColumn<bool>("terminated");
    QTest::addColumn<QString>("message");
    QTest::addColumn<std::optional<QColor>>("color");
    const std::optional<QColor> unchanged;
    QTest::newRow("not trusted") << false << true << false << "请在系统设置中允许辅助功能"
                                 << std::optional<QColor>(SystemColors::orange());
    QTest::newRow("not trusted, no target") << false << false << false << "请在系统设置中允许辅助功能"
                                            << std::optional<QColor>(SystemColors::orange());
    QTest::newRow("no target") << true << false << false << "先切换一次目标应用" << unchanged;
    QTest::newRow("target quit") << true << true << true << "目标应用已关闭，请重新点一下输入框" << unchanged;
}

void PasteDeliveryTest::stopsBeforeKeystroke()
{
    QFETCH(bool, trusted);
    QFETCH(bool, hasTarget);
    QFETCH(bool, terminated);
    QFETCH(QString, message);
    QFETCH(std::optional<QColor>, color);

    FakePlatform fakes;
    fakes.accessibility.trusted = trusted;
    PasteDelivery delivery(fakes.platform());
    StatusLog status(delivery);
    if (hasTarget)
        fakes.workspace.userActivates(editor);
    if (terminated)
        fakes.workspace.terminate(editor);

    QVERIFY(!delivery.paste(QStringLiteral("text")));
    QCOMPARE(fakes.pasteboard.text, QStringLiteral("text"));
    QCOMPARE(fakes.log.first(), QStringLiteral("pasteboard.setText text"));
    QCOMPARE(status.entries, QList<Status>({{message, color}}));
    QVERIFY(fakes.workspace.activations.isEmpty());

    // Nothing was scheduled: a later good delivery is the only keystroke.
    fakes.accessibility.trusted = true;
    fakes.workspace.userActivates(chat);
    QSignalSpy posted(&fakes.keystroke, &Keystroke::finished);
    QVERIFY(delivery.paste(QStringLiteral("next")));
    QVERIFY(posted.wait(2000));
    QCOMPARE(fakes.keystroke.posts.size(), 1);
    QCOMPARE(fakes.keystroke.posts.first().target, chat);
}

void PasteDeliveryTest::promptsOnceOnly()
{
    FakePlatform fakes;
    fakes.accessibility.trusted = false;
    PasteDelivery delivery(fakes.platform());
    StatusLog status(delivery);
    QVERIFY(!delivery.permissionPrompted());
    for (int i = 0; i < 3; ++i)
        QVERIFY(!delivery.paste(QStringLiteral("t")));
    QCOMPARE(fakes.accessibility.promptRequests, 1);
    QVERIFY(delivery.permissionPrompted());
    QCOMPARE(status.entries.size(), 3);
    QCOMPARE(fakes.log.indexOf("accessibility.requestTrust"), 2); // after setText and isTrusted

    // A new owner (a new panel after sign-in) prompts again.
    PasteDelivery another(fakes.platform());
    another.paste(QStringLiteral("t"));
    QCOMPARE(fakes.accessibility.promptRequests, 2);
}

void PasteDeliveryTest::inboxOptions()
{
    FakePlatform fakes;
    fakes.accessibility.trusted = false;
    PasteDelivery delivery(fakes.platform(), PasteDeliveryOptions::inboxWindow());
    StatusLog status(delivery);
    delivery.paste(QStringLiteral("a"));
    delivery.paste(QStringLiteral("b"));
    QCOMPARE(fakes.accessibility.promptRequests, 2); // every time
    QCOMPARE(status.entries.last(), Status(QStringLiteral("请允许辅助功能权限后重试"), SystemColors::orange()));

    fakes.accessibility.trusted = true;
    QVERIFY(!delivery.paste(QStringLiteral("c")));
    QCOMPARE(status.entries.last(), Status(QStringLiteral("请先切换一次需要粘贴的应用"), std::nullopt));

    // No terminated check: the target is activated and the keystroke job still runs, 0.35 s later.
    fakes.workspace.userActivates(editor);
    fakes.workspace.terminate(editor);
    QSignalSpy posted(&fakes.keystroke, &Keystroke::finished);
    const qint64 start = fakes.keystroke.clock.elapsed();
    QVERIFY(delivery.paste(QStringLiteral("d")));
    QVERIFY(!fakes.log.contains(QStringLiteral("workspace.isTerminated 7")));
    QVERIFY(posted.wait(2000));
    const qint64 delay = fakes.keystroke.posts.first().atMs - start;
    QVERIFY2(delay >= 349 && delay < 419, qPrintable(QString::number(delay)));
}

void PasteDeliveryTest::terminatedTargetStaysUntilAnotherActivation()
{
    FakePlatform fakes;
    PasteDelivery delivery(fakes.platform());
    StatusLog status(delivery);
    fakes.workspace.userActivates(editor);
    fakes.workspace.terminate(editor);
    QVERIFY(!delivery.paste(QStringLiteral("a")));
    QVERIFY(!delivery.paste(QStringLiteral("b")));
    QCOMPARE(status.entries.size(), 2);
    QCOMPARE(status.entries.last().first, QStringLiteral("目标应用已关闭，请重新点一下输入框"));
    QCOMPARE(delivery.lastExternalApp(), std::optional(editor));

    fakes.workspace.userActivates(chat);
    QVERIFY(delivery.paste(QStringLiteral("c")));
    QCOMPARE(fakes.workspace.activations, QList<RunningApplication>({chat}));
}

void PasteDeliveryTest::jobRunsAfterOwnerIsGone()
{
    FakePlatform fakes;
    auto delivery = std::make_unique<PasteDelivery>(fakes.platform());
    fakes.workspace.userActivates(editor);
    QSignalSpy posted(&fakes.keystroke, &Keystroke::finished);
    QVERIFY(delivery->paste(QStringLiteral("after")));
    delivery.reset();
    QVERIFY(posted.wait(2000));
    QCOMPARE(fakes.keystroke.posts.first().target, editor);
    QCOMPARE(fakes.keystroke.posts.first().clipboardText, QStringLiteral("after"));
}

void PasteDeliveryTest::twoQuickDeliveriesPasteTheirOwnTexts()
{
    FakePlatform fakes;
    PasteDelivery delivery(fakes.platform());
    fakes.workspace.userActivates(editor);
    QSignalSpy posted(&fakes.keystroke, &Keystroke::finished);
    QVERIFY(delivery.paste(QStringLiteral("first")));
    QTest::qWait(100);
    QVERIFY(delivery.paste(QStringLiteral("second")));
    QCOMPARE(fakes.pasteboard.text, QStringLiteral("second"));
    QTRY_COMPARE_WITH_TIMEOUT(posted.size(), 2, 2000);
    QCOMPARE(fakes.keystroke.posts.at(0).clipboardText, QStringLiteral("first"));
    QCOMPARE(fakes.keystroke.posts.at(1).clipboardText, QStringLiteral("second"));
    QCOMPARE(fakes.pasteboard.text, QStringLiteral("second"));
}

void PasteDeliveryTest::terminalsGetTheirChord_data()
{
    QTest::addColumn<QString>("identifier");
    QTest::addColumn<PasteChord>("chord");
    QTest::addColumn<bool>("usesPrimary");
    QTest::newRow("xterm") << "XTerm" << PasteChord::ShiftInsert << true;
    QTest::newRow("gnome terminal") << "Gnome-terminal" << PasteChord::ControlShiftV << false;
    QTest::newRow("kitty, other case") << "Kitty" << PasteChord::ControlShiftV << false;
    QTest::newRow("wezterm") << "org.wezfurlong.wezterm" << PasteChord::ControlShiftV << false;
    QTest::newRow("editor") << "Gedit" << PasteChord::ControlV << false;
    QTest::newRow("prefix is not a match") << "XTermish" << PasteChord::ControlV << false;
}

void PasteDeliveryTest::terminalsGetTheirChord()
{
    QFETCH(QString, identifier);
    QFETCH(PasteChord, chord);
    QFETCH(bool, usesPrimary);
    FakePlatform fakes;
    PasteDelivery delivery(fakes.platform());
    fakes.workspace.userActivates(FakePlatform::app(5, identifier));
    QSignalSpy posted(&fakes.keystroke, &Keystroke::finished);
    QVERIFY(delivery.paste(QStringLiteral("ls -l\n")));
    QCOMPARE(fakes.pasteboard.selectionText.has_value(), usesPrimary);
    if (usesPrimary)
        QCOMPARE(*fakes.pasteboard.selectionText, QStringLiteral("ls -l\n"));
    QVERIFY(posted.wait(2000));
    QCOMPARE(fakes.keystroke.posts.first().chord, chord);
}

QTEST_GUILESS_MAIN(PasteDeliveryTest)
#include "tst_pastedelivery.moc"
