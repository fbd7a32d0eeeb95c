// The built program, driven as a person with a screen reader drives it: started as a process of
// its own in the headless session, against the local clip service, and operated only through
// the accessibility bus. A relay between the two plays the unreachable service; the service's
// scripted faults play the others. Each phase leaves a screenshot in the build tree.
#include "DesktopProbes.h"
#include "DevService.h"
#include "ProgramDriving.h"
#include "support/SessionTestMain.h"

#include <QDir>
#include <QElapsedTimer>
#include <QScreen>

#include <signal.h>
#include <sys/prctl.h>

using namespace quillpost;
using namespace quillpost::test;

// Fails the test with the screen reader's reason when one of its calls fails.
#define READER(call) QVERIFY2(m_reader.call, m_reader.why())

namespace {

constexpr int generous = 20000;
const QString demoPhone = QStringLiteral("13800000000");
const QString code = QStringLiteral("123456");

QString optimizedText(const QJsonObject &clip) { return clip.value(QLatin1String("optimizedText")).toString(); }

} // namespace

class ProgramE2ETest : public QObject
{
    Q_OBJECT

    DevService m_service{demoArguments()};
    std::unique_ptr<ServiceRelay> m_relay;
    ScreenReader m_reader;
    KeychainStore m_keychain;
    std::unique_ptr<QProcess> m_program;

private slots:
    void initTestCase()
    {
        QVERIFY(m_service.start());
        QVERIFY(m_reader.start());
        QDir(QStringLiteral(QUILLPOST_E2E_SCREENSHOTS)).removeRecursively();
        QVERIFY(QDir().mkpath(QStringLiteral(QUILLPOST_E2E_SCREENSHOTS)));
    }

    void init()
    {
        m_keychain.remove();
        m_relay = std::make_unique<ServiceRelay>(m_service.url({}).port());
        QVERIFY(m_relay->listen());
    }

    void cleanup()
    {
        if (m_program) { // a failed step may have left it running
            m_program->kill();
            m_program->waitForFinished();
        }
        m_target.reset();
        m_keychain.remove();
    }

    // The origin named at start passes the same rule as the one built in, or the program stops.
    void startsOnlyWithAnAcceptableOrigin()
    {
        for (const char *origin : {"http://192.168.1.20:8765", "https://clips.example.com/api", "ftp://127.0.0.1"}) {
            QProcess program;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("QUILLPOST_SERVICE_URL"), QString::fromLatin1(origin));
            program.setProcessEnvironment(environment);
            program.start(QStringLiteral(QUILLPOST_PROGRAM), {});
            QVERIFY(program.waitForFinished(generous));
            QCOMPARE(program.exitCode(), 2);
            QVERIFY(program.readAllStandardError().contains(origin));
        }
    }

    // The command line without a running instance: help, a refused option, and the paste
    // command, which has nobody to ask.
    void commandLine_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output"); // part of standard output, or of standard error when failing
        QTest::newRow("help") << "--help" << 0 << "--paste-latest";
        QTest::newRow("unknown option") << "--paste-newest" << 64 << "--paste-latest";
        QTest::newRow("nothing running") << "--paste-latest" << 3 << "Quillpost 没有在运行";
    }
    void commandLine()
    {
        QFETCH(QString, argument);
        QFETCH(int, status);
        QFETCH(QString, output);
        QProcess command;
        command.start(QStringLiteral(QUILLPOST_PROGRAM), {argument});
        QVERIFY(command.waitForFinished(generous));
        QCOMPARE(command.exitCode(), status);
        const QByteArray printed = status ? command.readAllStandardError() : command.readAllStandardOutput();
        QVERIFY2(QString::fromUtf8(printed).contains(output), printed.constData());
    }

    void firstStartSignsUpWithANicknameAndSignsOut()
    {
        QVERIFY(startProgram());
        READER(wait(button("进入Quillpost")));
        QVERIFY(shoot("1-sign-in"));
        QCOMPARE(storedToken(m_keychain), std::nullopt);
        QCOMPARE(m_relay->requests(), QStringList()); // nothing sent before the user asks

        READER(setText(field("手机号"), QStringLiteral("13712345678")));
        READER(act(button("获取验证码"), "press"));
        READER(wait(label("验证码已发送")));
        READER(setText(field("短信验证码"), code));
        READER(act(button("进入Quillpost"), "press"));
        READER(wait(label("第一次使用，请设置昵称")));
        READER(setText(field("昵称").state("showing"), QStringLiteral("小林同学")));
        QVERIFY(shoot("2-nickname"));
        READER(act(button("保存昵称并进入"), "press"));
        READER(wait(button("小林同学"))); // the panel's account button
        READER(wait(label("● 已同步")));
        const std::optional<QString> token = storedToken(m_keychain);
        QVERIFY(token);
        QCOMPARE(m_service.get(QStringLiteral("api/profile"), *token).json()["nickname"], "小林同学");

        // Sign-out from the account menu, confirmed in its alert. The menu's items are met as a
        // screen reader's user meets them: moving the keyboard focus through the open menu.
        READER(openMenu(button("小林同学")));
        QVERIFY(pressKeys("Up"));
        READER(focused(QStringLiteral("退出登录…")));
        QVERIFY(pressKeys("Return"));
        READER(wait(label("退出 小林同学？")));
        READER(act(button("退出"), "press"));
        READER(wait(button("进入Quillpost")));
        QCOMPARE(storedToken(m_keychain), std::nullopt);
    }

    void panelAtWork()
    {
        QVERIFY(startProgram());
        signInThroughAFailedAttempt();
        if (!QTest::currentTestFailed())
            showsTheSeededClipsAndOneFromThePhone();
        if (!QTest::currentTestFailed())
            deliversIntoAnotherProgram();
        if (!QTest::currentTestFailed())
            pinsAndKeepsReadOnlyClips();
        if (!QTest::currentTestFailed())
            switchesToTheInboxWindowAndBack();
        if (!QTest::currentTestFailed())
            keepsAnsweringAndTypingThroughFaults();
    }

    void restartRestoresTheSessionUntilItsTokenIsRejected()
    {
        const QString token = m_service.signIn(QStringLiteral("13712340000"), QStringLiteral("老王"));
        QObject context;
        bool saved = false;
        m_keychain.save(token, &context, [&saved](bool ok) { saved = ok; });
        QTRY_VERIFY_WITH_TIMEOUT(saved, generous);

        for (const char *shot : {"8-restored", "9-restored-again"}) {
            QVERIFY(startProgram());
            READER(wait(button("老王")));
            QVERIFY(shoot(shot));
            QVERIFY(quitProgram());
            QCOMPARE(storedToken(m_keychain), token);
        }

        // Revoked elsewhere: the next start finds it rejected, forgets it and asks to sign in.
        QCOMPARE(m_service.send("POST", QStringLiteral("api/auth/logout"), {}, token).status, 200);
        const qsizetype profileFetches = m_relay->count(QStringLiteral("GET /api/profile"));
        QVERIFY(startProgram());
        QTRY_COMPARE_WITH_TIMEOUT(m_relay->count(QStringLiteral("GET /api/profile")), profileFetches + 1, generous);
        QTRY_COMPARE_WITH_TIMEOUT(storedToken(m_keychain), std::nullopt, generous);
        READER(wait(button("进入Quillpost")));
        READER(absent(named("老王")));
        QVERIFY(shoot("10-token-rejected"));
    }

private:
    // The demo account signs in; the service fails the first attempt, which keeps what was typed.
    void signInThroughAFailedAttempt()
    {
        READER(setText(field("手机号"), demoPhone));
        READER(act(button("获取验证码"), "press"));
        READER(setText(field("短信验证码"), code));
        scriptFault({{"path", "api/auth/phone"}, {"status", 500}, {"body", R"({"error":"服务暂时不可用"})"}});
        READER(act(button("进入Quillpost"), "press"));
        READER(wait(label("服务暂时不可用")));
        READER(wait(field("手机号").text(demoPhone)));
        READER(wait(field("短信验证码").text(code)));
        READER(act(button("进入Quillpost"), "press"));
        READER(wait(button("演示用户")));
        READER(watch(label("● 已同步"), QStringLiteral("status")));
        const std::optional<QString> token = storedToken(m_keychain);
        QVERIFY(token);
        m_token = *token;
    }

    // The cards are the seeded clips in the service's order, each showing its preferred text;
    // a clip sent as the phone page sends it shows up at the next poll, without a touch.
    void showsTheSeededClipsAndOneFromThePhone()
    {
        QStringList expected;
        for (const QJsonValue clip : clips()) {
            const QString text = optimizedText(clip.toObject()).isEmpty() ? clip["rawText"].toString() : optimizedText(clip.toObject());
            expected << clip["title"].toString() + QLatin1Char('=') + text;
        }
        QTRY_COMPARE_WITH_TIMEOUT(shownCards(), expected, generous);
        QVERIFY(shoot("3-panel"));

        // A card's version switch, toggled as a screen reader toggles it (no click), shows that
        // version; switched back, the optimized text again.
        const QString shopping = QStringLiteral("周末购物清单");
        READER(act(named("原文").role("check box").in(shopping), "toggle"));
        READER(wait(field(shopping).text(QStringLiteral("牛奶 鸡蛋  面包\n 还有洗衣液"))));
        READER(act(named("优化版").role("check box").in(shopping), "toggle"));
        READER(wait(field(shopping).text(QStringLiteral("牛奶 鸡蛋 面包\n还有洗衣液。"))));

        QElapsedTimer sent;
        sent.start();
        sendFromPhone(QStringLiteral("下午三点 在二号会议室见"));
        READER(wait(field(QStringLiteral("下午三点 在二号会议室见"))));
        qInfo("a clip from the phone was shown %lld ms after it was sent", sent.elapsed());
    }

    // Auto-paste types a new clip's optimized text into the program worked in last, once; so
    // does `quillpost --paste-latest`, run while that program has the focus; a card's paste
    // button types its text there.
    void deliversIntoAnotherProgram()
    {
        m_target = std::make_unique<PasteTargetProcess>();
        QVERIFY(m_target->start()); // mapped and focused: the application worked in last
        READER(act(named("同步输入").role("check box"), "toggle"));
        READER(wait(named("同步输入中").role("check box").state("checked")));

        const QString id = sendFromPhone(QStringLiteral("  明天上午十点   开会  "));
        QTRY_VERIFY_WITH_TIMEOUT(!m_target->text.isEmpty(), generous);
        QCOMPARE(m_target->text, QStringLiteral("明天上午十点 开会。"));
        QCOMPARE(optimizedText(clips().first().toObject()), m_target->text);
        QCOMPARE(clips().first()["id"].toString(), id);
        QVERIFY(shoot("4-delivered"));

        // Another device edits an older clip: the change is applied, the newest clip is not
        // delivered again.
        const QJsonObject older = clips().at(1).toObject();
        const QString edited = QStringLiteral("下午三点，二号会议室。");
        QCOMPARE(m_service.send("PATCH", "api/clips/" + older["id"].toString(),
                                {{"title", older["title"]}, {"rawText", older["rawText"]}, {"optimizedText", edited}}, m_token)
                     .status,
                 200);
        READER(wait(field(older["title"].toString()).text(edited)));

        // The command, as a desktop shortcut runs it in the program that has the focus: the
        // newest clip is typed there once more, the focus stays, our window stays behind it.
        const QString latest = m_target->text;
        QProcess command;
        QElapsedTimer clock;
        clock.start();
        command.start(QStringLiteral(QUILLPOST_PROGRAM), {QStringLiteral("--paste-latest")});
        QVERIFY(PasteTargetProcess::waitFor([&] { return m_target->text != latest; }, generous));
        qInfo("quillpost --paste-latest: the text was in the target %lld ms after the command started", clock.elapsed());
        QVERIFY(PasteTargetProcess::waitFor([&] { return command.state() == QProcess::NotRunning; }, generous));
        QCOMPARE(command.exitCode(), 0);
        QCOMPARE(command.readAllStandardError(), QByteArray());
        QCOMPARE(rootWindows("_NET_ACTIVE_WINDOW"), QList<quint64>{m_target->windowId});
        const QList<quint64> stacking = rootWindows("_NET_CLIENT_LIST_STACKING");
        const qsizetype ours = stacking.indexOf(windowOfProcess(m_program->processId()));
        QVERIFY(ours >= 0 && stacking.indexOf(m_target->windowId) > ours);

        // A keystroke scheduled with the change, or a second one with the command, would have
        // gone out before the next poll.
        const qsizetype polls = m_relay->count(QStringLiteral("GET /api/clips"));
        QTRY_VERIFY_WITH_TIMEOUT(m_relay->count(QStringLiteral("GET /api/clips")) > polls, generous);
        QVERIFY(m_target->sync());
        QCOMPARE(m_target->text, latest + latest);

        READER(act(named("同步输入中").role("check box"), "toggle"));
        READER(act(button("粘贴").in(older["title"].toString()), "press"));
        QTRY_COMPARE_WITH_TIMEOUT(m_target->text, latest + latest + edited, generous);
    }

    // Pinning keeps the window above the others and on every desktop, and unpinning undoes it;
    // a read-only clip's card takes no text and sends no save.
    void pinsAndKeepsReadOnlyClips()
    {
        const quint64 window = windowOfProcess(m_program->processId());
        QVERIFY(window);
        READER(act(named("悬浮").role("check box"), "toggle"));
        READER(wait(named("取消悬浮").role("check box").state("checked")));
        QTRY_COMPARE_WITH_TIMEOUT(pinState(window), std::make_pair(true, true), generous);
        QVERIFY(shoot("5-pinned"));
        READER(act(named("取消悬浮").role("check box"), "toggle"));
        QTRY_COMPARE_WITH_TIMEOUT(pinState(window), std::make_pair(false, false), generous);

        const QString readOnly = QStringLiteral("体检安排");
        const QString shown = QStringLiteral("年度体检下周一开始，按部门分批，具体时间看邮件。");
        READER(wait(field(readOnly).text(shown)));
        QVERIFY(!m_reader.answer()["states"].toArray().contains("editable"));
        m_reader.setText(field(readOnly), QStringLiteral("改掉公告")); // taken back, if taken
        READER(wait(field(readOnly).text(shown)));
        READER(wait(named("保存").role("push button").in(readOnly)));
        QVERIFY(!m_reader.answer()["states"].toArray().contains("showing"));
        const qsizetype saves = m_relay->count(QStringLiteral("PATCH"));
        m_reader.act(named("保存").role("push button").in(readOnly), "press"); // hidden, yet on the bus
        const qsizetype polls = m_relay->count(QStringLiteral("GET /api/clips"));
        QTRY_VERIFY_WITH_TIMEOUT(m_relay->count(QStringLiteral("GET /api/clips")) >= polls + 2, generous);
        QCOMPARE(m_relay->count(QStringLiteral("PATCH")), saves);
        READER(wait(field(readOnly).text(shown)));
    }

    // The menu's command (Ctrl+I) puts the inbox window in the panel's place, which shows the
    // same clips and polls on its own, and brings the panel back.
    void switchesToTheInboxWindowAndBack()
    {
        READER(act(named("打开收件箱窗口").role("menu item"), "press"));
        READER(wait(named("最近收到").state("showing")));
        READER(absent(named("同步输入").role("check box")));
        const qsizetype polls = m_relay->count(QStringLiteral("GET /api/clips"));
        QTRY_VERIFY_WITH_TIMEOUT(m_relay->count(QStringLiteral("GET /api/clips")) > polls, generous);
        QVERIFY(shoot("5-inbox-window"));
        READER(act(named("返回紧凑面板").role("menu item"), "press"));
        READER(wait(named("同步输入").role("check box").state("showing")));
        READER(absent(named("最近收到")));
        READER(watch(label("● 已同步"), QStringLiteral("status"))); // the new panel's
    }

    // Whatever the service does, the window keeps answering and a card's unsaved text stays;
    // the next good poll shows "● 已同步" again. Saved at last, the text comes back from a poll.
    void keepsAnsweringAndTypingThroughFaults()
    {
        const QString title = QStringLiteral("快递地址");
        const QString typed = QStringLiteral("北京市海淀区中关村大街 1 号，收件人：王先生（周五前送达）。");
        READER(setText(field(title), typed));
        READER(watch(field(title), QStringLiteral("typing")));

        m_relay->refuse(); // unreachable, then back
        READER(wait(watched("status").name("● 等待重连")));
        QVERIFY(shoot("6-unreachable"));
        QVERIFY(m_relay->listen());
        READER(wait(watched("status").name("● 已同步")));

        // A failing status, a reply that is not JSON, one too large to take.
        const QJsonObject faults[] = {{{"status", 500}, {"body", R"({"error":"服务器内部错误"})"}},
                                      {{"status", 200}, {"body", R"({"clips": [{"id": )"}},
                                      {{"bodyBytes", 9 * 1024 * 1024}}};
        for (QJsonObject fault : faults) {
            fault.insert(QStringLiteral("path"), QStringLiteral("api/clips"));
            scriptFault(fault);
            READER(wait(watched("status").name("● 等待重连")));
            READER(wait(watched("status").name("● 已同步")));
        }

        // A reply that stalls: the window answers meanwhile, and polling goes on afterwards.
        scriptFault({{"path", "api/clips"}, {"delayMs", 10000}});
        QTRY_VERIFY_WITH_TIMEOUT(m_relay->stalled(3000), generous);
        READER(act(named("同步输入").role("check box"), "toggle"));
        READER(act(named("同步输入中").role("check box"), "toggle"));
        READER(wait(watched("typing").text(typed)));
        QVERIFY(m_relay->stalled(3000));
        QTRY_VERIFY_WITH_TIMEOUT(!m_relay->stalled(3000), generous);
        const qsizetype polls = m_relay->count(QStringLiteral("GET /api/clips"));
        QTRY_VERIFY_WITH_TIMEOUT(m_relay->count(QStringLiteral("GET /api/clips")) > polls, generous);
        READER(wait(watched("status").name("● 已同步")));

        // Nothing typed was lost: saved now, it is the service's, and a poll brings it back.
        READER(act(button("保存").in(title), "press"));
        READER(wait(watched("status").name("修改已同步")));
        const QJsonArray all = clips();
        QVERIFY(std::any_of(all.begin(), all.end(), [&](const QJsonValue &clip) {
            return clip["title"] == title && clip["optimizedText"] == typed;
        }));
        READER(absent(watched("typing"))); // the card was rebuilt
        READER(wait(field(title).text(typed)));
        QVERIFY(shoot("7-saved"));
    }

    // The clips of the demo account as the service has them, newest first.
    QJsonArray clips() { return m_service.get(QStringLiteral("api/clips?limit=50"), m_token).json()["clips"].toArray(); }

    // Every card as "title=text", in the order shown.
    QStringList shownCards()
    {
        QStringList cards;
        for (const QJsonValue editor : m_reader.list("text"))
            cards << editor["name"].toString() + QLatin1Char('=') + editor["text"].toString();
        return cards;
    }

    // Sends a clip as the phone page does; gives its id.
    QString sendFromPhone(const QString &text)
    {
        const HttpReply reply = m_service.send("POST", QStringLiteral("api/clips"),
                                               {{"rawText", text}, {"deviceName", "手机网页"}}, m_token);
        return reply.json()["clip"].toObject()["id"].toString();
    }

    void scriptFault(const QJsonObject &fault) { QCOMPARE(m_service.send("POST", QStringLiteral("_faults"), fault).status, 200); }

    // Starts the built program against the relay and follows it on the accessibility bus.
    bool startProgram()
    {
        m_program = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QUILLPOST_SERVICE_URL"), m_relay->origin());
        environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        m_program->setProcessEnvironment(environment);
        m_program->setProcessChannelMode(QProcess::ForwardedChannels);
        m_program->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_program->start(QStringLiteral(QUILLPOST_PROGRAM), {});
        return m_program->waitForStarted(generous) && m_reader.attach(m_program->processId());
    }

    // Quits from the application menu, as the user does; true once it has ended normally.
    bool quitProgram()
    {
        m_reader.act(named("退出Quillpost").role("menu item"), "press"); // may not answer: it quits
        return PasteTargetProcess::waitFor([this] { return m_program->state() == QProcess::NotRunning; }, generous)
            && m_program->exitStatus() == QProcess::NormalExit && m_program->exitCode() == 0;
    }

    // Keys pressed on the keyboard ("Up", "Return"), into whatever has the focus.
    static bool pressKeys(const char *keys)
    {
        return QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QString::fromLatin1(keys)}) == 0;
    }

    // Saves what the program's window shows, for a person to look at.
    bool shoot(const char *name)
    {
        const quint64 window = windowOfProcess(m_program->processId());
        const QString path = QStringLiteral(QUILLPOST_E2E_SCREENSHOTS "/%1.png").arg(QLatin1String(name));
        return window && QGuiApplication::primaryScreen()->grabWindow(window).save(path);
    }

    QString m_token; // the demo account's session, as the program stored it
    std::unique_ptr<PasteTargetProcess> m_target;
};

QUILLPOST_SESSION_TEST_MAIN(ProgramE2ETest)
#include "tst_program_e2e.moc"
