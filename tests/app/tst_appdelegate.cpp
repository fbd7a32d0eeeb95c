#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "fakes/FakePlatform.h"
#include "receiver/CompactInboxViewController.h"
#include "service/APIClient.h"
#include "signin/LoginViewController.h"
#include "support/FakeSecretStore.h"
#include "support/TestHttpServer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenuBar>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

using namespace quillpost;
using namespace quillpost::test;

namespace {

const auto signedIn = [] { return ScriptedReply::json(200, R"({"token":"new","user":{"phone":"1","nickname":"n"}})"); };

// Answers the alert that the next call opens with the button titled `answer`, and notes the
// alert's texts and button titles in `seen`.
void answerAlert(const QString &answer, QStringList *seen = nullptr)
{
    QTimer::singleShot(0, [answer, seen] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            if (seen)
                *seen << box->text() << box->informativeText();
            for (QAbstractButton *button : box->buttons()) {
                if (seen)
                    *seen << button->text();
                if (button->text() == answer)
                    button->click();
            }
        }
    });
}

// A single-instance channel of the test's own, and where its socket lies.
QString instanceName() { return QStringLiteral("quillpost-test-%1").arg(QCoreApplication::applicationPid()); }
QString instanceSocket()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)).filePath(instanceName() + ".socket");
}

} // namespace

class AppDelegateTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<FakeSecretStore> m_store;
    std::unique_ptr<FakePlatform> m_platform;
    AppDelegate *m_delegate = nullptr;

    std::unique_ptr<AppDelegate> start(std::optional<QString> storedToken)
    {
        m_store->stored = storedToken;
        auto delegate = std::make_unique<AppDelegate>(m_server->origin(), m_store.get(), m_platform->platform());
        m_delegate = delegate.get();
        delegate->applicationDidFinishLaunching();
        // Delivers what the store has answered, as a store that answers at once would.
        QCoreApplication::sendPostedEvents();
        return delegate;
    }
    template<typename Screen>
    bool shows() const { return qobject_cast<Screen *>(m_delegate->window()->centralWidget()); }
    QWidget *screen() const { return m_delegate->window()->centralWidget(); }
    void clickSignIn() const { screen()->findChild<QAbstractButton *>(QStringLiteral("loginButton"))->click(); }
    QAction *menuAction(const QString &text) const
    {
        for (QAction *menu : m_delegate->window()->menuBar()->actions())
            for (QAction *action : menu->menu()->actions())
                if (action->text() == text)
                    return action;
        return nullptr;
    }

private slots:
    void init()
    {
        m_server = std::make_unique<TestHttpServer>();
        m_server->setHandler([](const RecordedRequest &request) {
            return request.target == "/api/profile" ? ScriptedReply::json(200, R"({"phone":"1","nickname":"演示用户"})")
                                                    : ScriptedReply::json(200, R"({"clips":[]})");
        });
        m_store = std::make_unique<FakeSecretStore>();
        m_platform = std::make_unique<FakePlatform>();
    }

    void startWithoutTokenSendsNothing()
    {
        const auto delegate = start(std::nullopt);
        QVERIFY(shows<LoginViewController>() && delegate->window()->isVisible());
        // A restore would have started with the store's answer; a request sent now arrives after it.
        QVERIFY(delegate->api()->findChildren<QNetworkReply *>().isEmpty());
        bool answered = false;
        delegate->api()->call<Profile>(QStringLiteral("api/marker"), "GET", std::nullopt, this,
                                       [&](const Outcome<Profile> &) { answered = true; });
        QTRY_VERIFY_WITH_TIMEOUT(answered, 10000);
        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(m_server->requests().first().target, QByteArray("/api/marker"));
    }

    // Only the service's refusal forgets the stored token. A service that cannot be reached or
    // fails leaves the sign-in screen saying so, and the restore is tried again until it answers,
    // unless the user has signed in meanwhile.
    void failedRestore_data()
    {
        QTest::addColumn<int>("status"); // of the first profile fetch; 0: connections refused
        QTest::addColumn<bool>("signIn"); // by hand, while the restore waits
        QTest::newRow("rejected") << 401 << false;
        QTest::newRow("unreachable, then answers") << 0 << false;
        QTest::newRow("server error, then answers") << 503 << false;
        QTest::newRow("server error, signed in by hand meanwhile") << 503 << true;
    }
    void failedRestore()
    {
        QFETCH(int, status);
        QFETCH(bool, signIn);
        status ? m_server->enqueue(ScriptedReply::json(status, R"({"error":"过期"})")) : m_server->refuse();
        const auto delegate = start(QStringLiteral("old"));
        QTRY_VERIFY(shows<LoginViewController>());
        const auto message = [this] { return screen()->findChild<QLabel *>(QStringLiteral("message"))->text(); };
        if (status == 401) {
            QTRY_COMPARE(m_store->removes, 1);
            QVERIFY(!m_store->stored && !delegate->api()->token && message().isEmpty());
            return;
        }
        QTRY_COMPARE(message(), QStringLiteral("暂时连不上服务，连上后将自动恢复上次的登录"));
        if (signIn) {
            m_server->enqueue(signedIn());
            clickSignIn();
            QTRY_VERIFY(shows<CompactInboxViewController>());
            QWidget *panel = screen();
            const auto sent = [this](const QByteArray &target) {
                const QList<RecordedRequest> &requests = m_server->requests();
                return std::count_if(requests.cbegin(), requests.cend(),
                                     [&](const RecordedRequest &request) { return request.target == target; });
            };
            // The panel's second poll comes after the time of the restore's next try.
            QTRY_VERIFY_WITH_TIMEOUT(sent("/api/clips?limit=50") >= 2, 10000);
            QVERIFY(screen() == panel && sent("/api/profile") == 1);
            QCOMPARE(m_store->stored, std::optional<QString>(QStringLiteral("new")));
            return;
        }
        if (status == 0)
            QVERIFY(m_server->listen());
        QTRY_VERIFY_WITH_TIMEOUT(shows<CompactInboxViewController>(), 10000);
        QVERIFY(m_store->removes == 0 && m_store->stored == QStringLiteral("old"));
    }

    // Pinning reaches the workspace too (KWin keeps the window above only when asked through
    // it), and the sign-in screen is never pinned.
    void pinReachesTheWorkspace()
    {
        const auto delegate = start(QStringLiteral("good"));
        QTRY_VERIFY(shows<CompactInboxViewController>());
        delegate->onTogglePin(true);
        QVERIFY(m_platform->workspace.pinnedWindow);
        QCOMPARE(m_platform->workspace.pinnedWindow, delegate->window()->windowHandle());
        delegate->showLogin();
        QVERIFY(!delegate->isPinned());
        QCOMPARE(m_platform->workspace.pinnedWindow, nullptr);
    }

    void menuLogout_data()
    {
        QTest::addColumn<std::optional<QString>>("token");
        QTest::addColumn<QString>("answer");
        QTest::newRow("without token: no alert") << std::optional<QString>() << "";
        QTest::newRow("cancelled") << std::optional<QString>(QStringLiteral("good")) << "取消";
        QTest::newRow("confirmed") << std::optional<QString>(QStringLiteral("good")) << "退出登录";
        // A restore still under way when the user signs out must not bring the panel back.
        QTest::newRow("confirmed during restore") << std::optional<QString>(QStringLiteral("slow")) << "退出登录";
    }
    void menuLogout()
    {
        QFETCH(std::optional<QString>, token);
        QFETCH(QString, answer);
        const bool slow = token == QStringLiteral("slow");
        if (slow) // the restore's reply comes only after the sign-out
            m_server->enqueue(ScriptedReply::json(200, R"({"phone":"1","nickname":"n"})").heldBack());
        const auto delegate = start(token);
        if (slow)
            QVERIFY(m_server->waitForRequests(1));
        if (token == QStringLiteral("good"))
            QTRY_VERIFY(shows<CompactInboxViewController>());
        QWidget *before = screen();
        QStringList seen;
        answerAlert(answer, &seen);
        delegate->menuLogout();
        if (answer.isEmpty()) {
            QVERIFY(seen.isEmpty() && screen() != before && shows<LoginViewController>());
            return;
        }
        QCOMPARE(seen, QStringList({QStringLiteral("退出当前账号？"), QStringLiteral("只清除这台 Mac 的登录状态，云端内容不会删除。"),
                                    QStringLiteral("退出登录"), QStringLiteral("取消")}));
        const bool confirmed = answer == QStringLiteral("退出登录");
        QCOMPARE(delegate->api()->token.has_value(), !confirmed);
        QCOMPARE(m_store->removes, confirmed ? 1 : 0);
        if (slow) {
            QSignalSpy replied(delegate->api()->findChild<QNetworkAccessManager *>(), &QNetworkAccessManager::finished);
            m_server->releaseHeld();
            QVERIFY(replied.wait(10000));
            QCoreApplication::sendPostedEvents();
        }
        QCOMPARE(shows<LoginViewController>(), confirmed);
    }

    // The window never waits for the secret store, and a token read late restores its session
    // (with the stored token) only while nobody has decided about the session meanwhile.
    void slowStore_data()
    {
        QTest::addColumn<QString>("meanwhile"); // what the user does while the stored token is read
        QTest::addColumn<bool>("answers");      // whether the store answers in the end or gives up
        QTest::newRow("never answers") << "" << false;
        QTest::newRow("answers late: restored as at start") << "" << true;
        QTest::newRow("signed in by hand meanwhile") << "sign in" << true;
        QTest::newRow("signed out from the menu meanwhile") << "sign out" << true;
    }
    void slowStore()
    {
        QFETCH(QString, meanwhile);
        QFETCH(bool, answers);
        m_store->answers = false;
        const auto delegate = start(QStringLiteral("old"));
        QVERIFY(delegate->window()->isVisible());
        QTRY_VERIFY(shows<LoginViewController>());
        QCOMPARE(m_store->pending(), 1);
        QVERIFY(m_server->requests().isEmpty() && !delegate->api()->token);

        if (meanwhile == QStringLiteral("sign in")) {
            m_server->enqueue(signedIn());
            clickSignIn();
            QTRY_COMPARE(delegate->api()->token, std::optional<QString>(QStringLiteral("new")));
        } else if (meanwhile == QStringLiteral("sign out")) {
            delegate->menuLogout(); // no token yet: a fresh sign-in screen, no alert
        }
        QWidget *before = screen();
        answers ? m_store->answer() : m_store->giveUp();
        QCoreApplication::sendPostedEvents();

        if (meanwhile == QStringLiteral("sign in")) {
            QTRY_VERIFY(shows<CompactInboxViewController>());
            QCOMPARE(delegate->api()->token, std::optional<QString>(QStringLiteral("new")));
            QCOMPARE(m_store->stored, std::optional<QString>(QStringLiteral("new")));
            QTRY_VERIFY(m_server->requests().size() >= 2); // the sign-in, then the panel's first poll
            for (const RecordedRequest &request : m_server->requests())
                QVERIFY(request.header("Authorization") != "Bearer old");
        } else if (answers && meanwhile.isEmpty()) {
            QTRY_VERIFY(shows<CompactInboxViewController>());
            QCOMPARE(m_server->requests().at(0).target, QByteArray("/api/profile"));
            QCOMPARE(m_server->requests().at(0).header("Authorization"), QByteArray("Bearer old"));
        } else {
            QVERIFY(!delegate->api()->token && screen() == before && m_server->requests().isEmpty());
        }
    }

    // Sign-out does not wait for the store either, and a save still waiting is not finished later.
    void signOutWhileSaveHangs()
    {
        m_store->answers = false;
        const auto delegate = start(std::nullopt);
        m_store->giveUp();
        QTRY_VERIFY(shows<LoginViewController>());
        m_server->enqueue(signedIn());
        clickSignIn();
        QTRY_VERIFY(delegate->api()->token.has_value());
        QCOMPARE(m_store->pending(), 1); // the save

        QWidget *before = screen();
        answerAlert(QStringLiteral("退出登录"));
        delegate->menuLogout();
        QVERIFY(shows<LoginViewController>() && screen() != before && !delegate->api()->token);
        m_store->answer();
        QCoreApplication::sendPostedEvents();
        QVERIFY(!m_store->stored && shows<LoginViewController>());
    }

    // Closing and hiding keep the screen; the menu, the status icon's menu and the edit menu act.
    void menusAndReopen()
    {
        const auto delegate = start(std::nullopt);
        QWidget *before = screen();
        delegate->window()->close();
        QVERIFY(!delegate->window()->isVisible());
        menuAction(QStringLiteral("打开Quillpost"))->trigger();
        QVERIFY(delegate->window()->isVisible());
        menuAction(QStringLiteral("隐藏Quillpost"))->trigger();
        QVERIFY(!delegate->window()->isVisible());
        delegate->statusItem()->contextMenu()->actions().at(0)->trigger();
        QVERIFY(delegate->window()->isVisible() && screen() == before);

        delegate->window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(delegate->window()));
        auto *field = screen()->findChild<QLineEdit *>();
        field->setFocus();
        QVERIFY(QTest::qWaitFor([&] { return field->hasFocus(); }));
        field->setText(QStringLiteral("13800000000"));
        menuAction(QStringLiteral("全选"))->trigger();
        menuAction(QStringLiteral("剪切"))->trigger();
        QVERIFY(field->text().isEmpty());
        menuAction(QStringLiteral("撤销"))->trigger();
        QCOMPARE(field->text(), QStringLiteral("13800000000"));
    }

    // A missing icon falls back to a glyph; the real one is drawn grey, with opaque pixels.
    void statusIconFallsBackToGlyph()
    {
        const QImage glyph = AppDelegate::statusIcon(QIcon(QStringLiteral(":/missing.png"))).pixmap(18, 18).toImage();
        QVERIFY(std::any_of(glyph.constBits(), glyph.constBits() + glyph.sizeInBytes(), [](uchar b) { return b != 0; }));
        const QImage icon = AppDelegate::statusIcon(AppDelegate::appIcon()).pixmap(18, 18).toImage();
        bool opaque = false;
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x) {
                const QRgb pixel = icon.pixel(x, y);
                QVERIFY(qRed(pixel) == qGreen(pixel) && qGreen(pixel) == qBlue(pixel));
                opaque = opaque || qAlpha(pixel) == 255;
            }
        QVERIFY(opaque && icon != glyph);
    }

    void secondStartActivatesTheFirst()
    {
        SingleInstance first(instanceName());
        QVERIFY(!first.notifyRunningInstance());
        QVERIFY(first.listen());
        QSignalSpy activations(&first, &SingleInstance::activationRequested);
        QVERIFY(SingleInstance(instanceName()).notifyRunningInstance());
        QVERIFY(activations.wait(2000));
    }

    // Besides "show\n" (above), the running instance answers a paste request with one line (its
    // status text made one line) and closes anything else unanswered.
    void instanceRequests()
    {
        SingleInstance first(instanceName());
        QVERIFY(first.listen());
        first.setPasteLatestHandler(this, [] { return PasteLatestReply{PasteLatestResult::Refused, "先切换\n一次"}; });
        const QList<std::pair<QByteArray, QByteArray>> exchanges{
            {"paste-latest\n", "refused 先切换 一次\n"}, {"paste\n", ""}, {QByteArray(100, 'x'), ""}};
        for (const auto &[sent, answer] : exchanges) {
            QLocalSocket peer;
            peer.connectToServer(instanceSocket());
            QVERIFY(peer.waitForConnected(2000));
            peer.write(sent);
            QTRY_VERIFY(peer.canReadLine() || peer.state() == QLocalSocket::UnconnectedState);
            QCOMPARE(peer.readAll(), answer);
        }
    }

    // `quillpost --paste-latest` against the running instance in each state, through the real
    // channel: exit status, line for standard error, the panel's status line, what is typed
    // where; the window, closed to the tray, stays closed.
    void pasteLatestCommand_data()
    {
        QTest::addColumn<QByteArray>("clips"); // the service's clip list; none: signed out
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message"); // part of it
        QTest::addColumn<QString>("panelStatus");
        const QByteArray spaces = R"({"clips":[{"id":"s","optimizedText":"空间的","collaborationName":"甲"},)"
                                  R"({"id":"p","rawText":"原话","optimizedText":"个人的"}]})";
        const QString noClip = QStringLiteral("没有可粘贴的内容"), noTarget = QStringLiteral("先切换一次目标应用");
        QTest::newRow("signed out") << QByteArray() << int(signedOutStatus) << "没有登录" << "";
        QTest::newRow("empty list") << QByteArray(R"({"clips":[]})") << int(noClipStatus) << noClip << noClip;
        QTest::newRow("optimized text not there yet")
            << QByteArray(R"({"clips":[{"id":"p","rawText":"原话"}]})") << int(noClipStatus) << noClip << noClip;
        QTest::newRow("no target known") << spaces << int(refusedStatus) << "已复制到剪贴板，但没有自动粘贴：" + noTarget << noTarget;
        // Typed into the focused application: the newest clip of the scope chosen, "个人".
        QTest::newRow("typed") << spaces << int(commandDone) << "" << "最新内容已输入";
        QTest::newRow("an older instance, which does not answer") << QByteArray() << int(noAnswerStatus) << "没有回答" << "";
    }
    void pasteLatestCommand()
    {
        QFETCH(QByteArray, clips);
        QFETCH(int, status);
        QFETCH(QString, message);
        const bool typed = status == commandDone, answers = status != noAnswerStatus;
        m_server->setHandler([clips](const RecordedRequest &request) {
            return ScriptedReply::json(200, request.target == "/api/profile" ? R"({"phone":"1","nickname":"n"})" : clips);
        });
        const auto delegate = start(clips.isEmpty() ? std::nullopt : std::optional(QStringLiteral("good")));
        CompactInboxViewController *panel = nullptr;
        if (!clips.isEmpty()) {
            QTRY_VERIFY((panel = qobject_cast<CompactInboxViewController *>(screen())));
            QTRY_COMPARE(panel->statusText(), QStringLiteral("● 已同步"));
            panel->scopeButton()->setCurrentIndex(1);
            panel->changeScope();
        }
        if (typed) { // focused now, after another one was used
            m_platform->workspace.userActivates(FakePlatform::app(5));
            m_platform->workspace.focused = FakePlatform::app(9);
        }
        delegate->window()->close();
        SingleInstance running(instanceName());
        QLocalServer older; // takes the connection and never reads from it
        QLocalServer::removeServer(instanceSocket());
        QVERIFY(answers ? running.listen() : older.listen(instanceSocket()));
        running.setPasteLatestHandler(delegate.get(), [&delegate] { return delegate->pasteLatest(); });

        SingleInstance asking(instanceName());
        const CommandResult result = quillpost::pasteLatestCommand(
            asking, answers ? SingleInstance::answerTimeout : std::chrono::milliseconds(300));
        QCOMPARE(result.status, status);
        QVERIFY2(result.message.contains(message) && result.message.isEmpty() == message.isEmpty(),
                 qPrintable(result.message));
        if (panel)
            QTEST(panel->statusText(), "panelStatus");
        QTRY_COMPARE(m_platform->keystroke.posts.size(), typed ? 1 : 0);
        if (typed)
            QCOMPARE(std::make_pair(m_platform->keystroke.posts.first().target.windowId,
                                    m_platform->keystroke.posts.first().clipboardText),
                     std::make_pair(9u, QStringLiteral("个人的")));
        QVERIFY(!delegate->window()->isVisible());
    }
};

QTEST_MAIN(AppDelegateTest)
#include "tst_appdelegate.moc"
