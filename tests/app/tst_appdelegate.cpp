#include "app/AppDelegate.h"
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
#include <QLineEdit>
#include <QSystemTrayIcon>
#include <QMenuBar>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace quillpost;
using namespace quillpost::test;

namespace {

const QByteArray profileJson = R"({"phone":"13800000000","nickname":"演示用户"})";

// Answers the next modal alert with the button titled `answer`, and records its texts.
struct AlertAnswer
{
    QString text;
    QString informativeText;
    QStringList buttons;
    bool seen = false;

    void answerNext(const QString &answer)
    {
        QTimer::singleShot(0, [this, answer] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen = true;
            text = box->text();
            informativeText = box->informativeText();
            for (QAbstractButton *button : box->buttons())
                buttons.append(button->text());
            for (QAbstractButton *button : box->buttons())
                if (button->text() == answer)
                    button->click();
        });
    }
};

QAction *menuAction(QMenuBar *bar, const QString &text)
{
    for (QAction *menu : bar->actions())
        for (QAction *action : menu->menu()->actions())
            if (action->text() == text)
                return action;
    return nullptr;
}

} // namespace

class AppDelegateTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void firstStartShowsSignInWithoutRequest();
    void rejectedOrUnreachableTokenIsForgotten_data();
    void rejectedOrUnreachableTokenIsForgotten();
    void acceptedTokenShowsThePanel();
    void restoreOutcomeAfterSignOutIsDropped();
    void signInSwitchesToThePanel();
    void menuLogoutWithoutTokenAsksNothing();
    void menuLogoutCancelled();
    void menuLogoutConfirmed();
    void closeHidesAndReopenShowsTheSameScreen();
    void mainMenuHasEveryItem();
    void editMenuActsOnTheFocusedField();
    void statusIconFallsBackToGlyph();
    void secondStartActivatesTheFirst();

private:
    std::unique_ptr<AppDelegate> start(std::optional<QString> storedToken);
    QSize contentSize() const;

    std::unique_ptr<TestHttpServer> m_server;
    QUrl m_origin;
    std::unique_ptr<FakeSecretStore> m_store;
    std::unique_ptr<FakePlatform> m_platform;
    AppDelegate *m_delegate = nullptr;
};

void AppDelegateTest::init()
{
    m_server = std::make_unique<TestHttpServer>();
    m_origin = m_server->origin();
    m_store = std::make_unique<FakeSecretStore>();
    m_platform = std::make_unique<FakePlatform>();
}

void AppDelegateTest::cleanup()
{
    m_delegate = nullptr;
    m_server.reset();
}

std::unique_ptr<AppDelegate> AppDelegateTest::start(std::optional<QString> storedToken)
{
    m_store->stored = storedToken;
    auto delegate = std::make_unique<AppDelegate>(m_origin, m_store.get(), m_platform->platform());
    m_delegate = delegate.get();
    delegate->applicationDidFinishLaunching();
    return delegate;
}

QSize AppDelegateTest::contentSize() const
{
    return m_delegate->window()->centralWidget()->size();
}

void AppDelegateTest::firstStartShowsSignInWithoutRequest()
{
    const auto delegate = start(std::nullopt);
    QVERIFY(qobject_cast<LoginViewController *>(delegate->window()->centralWidget()));
    QVERIFY(delegate->window()->isVisible());
    QTRY_COMPARE(contentSize(), QSize(420, 430));
    QCOMPARE(delegate->window()->windowTitle(), QStringLiteral("Quillpost · Mac 接收器"));
    QTest::qWait(50);
    QVERIFY(m_server->requests().isEmpty());
}

void AppDelegateTest::rejectedOrUnreachableTokenIsForgotten_data()
{
    QTest::addColumn<bool>("reachable");
    QTest::newRow("rejected") << true;
    QTest::newRow("unreachable") << false;
}

void AppDelegateTest::rejectedOrUnreachableTokenIsForgotten()
{
    QFETCH(bool, reachable);
    m_server->enqueue(ScriptedReply::json(401, R"({"error":"登录已过期，请重新登录"})"));
    if (!reachable) {
        QTcpServer probe; // a port that was just free: nothing listens there
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        m_origin = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort()));
        probe.close();
    }
    const auto delegate = start(QStringLiteral("old"));
    QTRY_COMPARE(m_store->removes, 1);
    QCOMPARE(m_store->stored, std::nullopt);
    QVERIFY(!delegate->api()->token);
    QVERIFY(qobject_cast<LoginViewController *>(delegate->window()->centralWidget()));
    if (reachable)
        QCOMPARE(m_server->requests().at(0).header("authorization"), QByteArray("Bearer old"));
}

void AppDelegateTest::acceptedTokenShowsThePanel()
{
    m_server->setHandler([](const RecordedRequest &request) {
        return request.target == "/api/profile" ? ScriptedReply::json(200, profileJson)
                                                : ScriptedReply::json(200, R"({"clips":[]})");
    });
    const auto delegate = start(QStringLiteral("good"));
    QTRY_VERIFY(qobject_cast<CompactInboxViewController *>(delegate->window()->centralWidget()));
    QTRY_COMPARE(contentSize(), QSize(330, 230));
    QCOMPARE(m_store->removes, 0);
}

void AppDelegateTest::restoreOutcomeAfterSignOutIsDropped()
{
    auto slow = ScriptedReply::json(200, profileJson);
    slow.delay = std::chrono::milliseconds(150);
    m_server->enqueue(slow);
    const auto delegate = start(QStringLiteral("good"));
    QVERIFY(m_server->waitForRequests(1));
    AlertAnswer answer;
    answer.answerNext(QStringLiteral("退出登录"));
    delegate->menuLogout();
    QVERIFY(answer.seen);
    QTest::qWait(300);
    QVERIFY(qobject_cast<LoginViewController *>(delegate->window()->centralWidget()));
}

void AppDelegateTest::signInSwitchesToThePanel()
{
    m_server->setHandler([](const RecordedRequest &) { return ScriptedReply::json(200, R"({"clips":[]})"); });
    const auto delegate = start(std::nullopt);
    delegate->showInbox(Profile{QStringLiteral("1"), QStringLiteral("n"), std::nullopt});
    QVERIFY(qobject_cast<CompactInboxViewController *>(delegate->window()->centralWidget()));
    QTRY_COMPARE(contentSize(), QSize(330, 230));
    QCOMPARE(delegate->window()->minimumSize().width(), 300);
    QCOMPARE(delegate->window()->maximumSize().width(), 420);

    delegate->onTogglePin(true);
    QVERIFY(delegate->isPinned());
    delegate->showLogin();
    QVERIFY(!delegate->isPinned());
    QTRY_COMPARE(contentSize(), QSize(420, 430));
    QCOMPARE(delegate->window()->maximumSize().width(), 520);
}

void AppDelegateTest::menuLogoutWithoutTokenAsksNothing()
{
    const auto delegate = start(std::nullopt);
    QWidget *before = delegate->window()->centralWidget();
    AlertAnswer answer;
    answer.answerNext(QStringLiteral("取消"));
    delegate->menuLogout();
    QCoreApplication::processEvents();
    QVERIFY(!answer.seen);
    QVERIFY(delegate->window()->centralWidget() != before);
    QVERIFY(qobject_cast<LoginViewController *>(delegate->window()->centralWidget()));
}

void AppDelegateTest::menuLogoutCancelled()
{
    m_server->setHandler([](const RecordedRequest &request) {
        return request.target == "/api/profile" ? ScriptedReply::json(200, profileJson)
                                                : ScriptedReply::json(200, R"({"clips":[]})");
    });
    const auto delegate = start(QStringLiteral("good"));
    QTRY_VERIFY(qobject_cast<CompactInboxViewController *>(delegate->window()->centralWidget()));
    QWidget *panel = delegate->window()->centralWidget();

    AlertAnswer answer;
    answer.answerNext(QStringLiteral("取消"));
    delegate->menuLogout();
    QVERIFY(answer.seen);
    QCOMPARE(answer.text, QStringLiteral("退出当前账号？"));
    QCOMPARE(answer.informativeText, QStringLiteral("只清除这台 Mac 的登录状态，云端内容不会删除。"));
    QCOMPARE(answer.buttons, QStringList({QStringLiteral("退出登录"), QStringLiteral("取消")}));
    QCOMPARE(delegate->window()->centralWidget(), panel);
    QCOMPARE(delegate->api()->token, std::optional<QString>(QStringLiteral("good")));
    QCOMPARE(m_store->removes, 0);
}

void AppDelegateTest::menuLogoutConfirmed()
{
    m_server->setHandler([](const RecordedRequest &) { return ScriptedReply::json(200, profileJson); });
    const auto delegate = start(QStringLiteral("good"));
    delegate->onTogglePin(true);
    AlertAnswer answer;
    answer.answerNext(QStringLiteral("退出登录"));
    delegate->menuLogout();
    QVERIFY(answer.seen);
    QVERIFY(!delegate->api()->token);
    QCOMPARE(m_store->removes, 1);
    QVERIFY(!delegate->isPinned());
    QVERIFY(qobject_cast<LoginViewController *>(delegate->window()->centralWidget()));
}

void AppDelegateTest::closeHidesAndReopenShowsTheSameScreen()
{
    const auto delegate = start(std::nullopt);
    QWidget *screen = delegate->window()->centralWidget();
    QVERIFY(delegate->window()->close() == false || !delegate->window()->isVisible());
    QVERIFY(!delegate->window()->isVisible());
    menuAction(delegate->window()->menuBar(), QStringLiteral("打开Quillpost"))->trigger();
    QVERIFY(delegate->window()->isVisible());
    QCOMPARE(delegate->window()->centralWidget(), screen);

    delegate->window()->hide();
    delegate->statusItem()->contextMenu()->actions().first()->trigger();
    QVERIFY(delegate->window()->isVisible());
}

void AppDelegateTest::mainMenuHasEveryItem()
{
    const auto delegate = start(std::nullopt);
    QMenuBar *bar = delegate->window()->menuBar();
    QStringList items;
    for (QAction *menu : bar->actions()) {
        items << menu->text();
        for (QAction *action : menu->menu()->actions())
            items << (action->isSeparator() ? QStringLiteral("-")
                                            : action->text() + QLatin1Char(' ') + action->shortcut().toString());
    }
    const QStringList expected = {
        QStringLiteral("Quillpost"), QStringLiteral("关于Quillpost "), QStringLiteral("-"),
        QStringLiteral("打开Quillpost Ctrl+O"), QStringLiteral("退出登录… "), QStringLiteral("-"),
        QStringLiteral("隐藏Quillpost Ctrl+H"), QStringLiteral("隐藏其他 Ctrl+Alt+H"), QStringLiteral("显示全部 "),
        QStringLiteral("-"), QStringLiteral("退出Quillpost Ctrl+Q"), QStringLiteral("编辑"),
        QStringLiteral("撤销 Ctrl+Z"), QStringLiteral("重做 Ctrl+Shift+Z"), QStringLiteral("-"),
        QStringLiteral("剪切 Ctrl+X"), QStringLiteral("复制 Ctrl+C"), QStringLiteral("粘贴 Ctrl+V"),
        QStringLiteral("全选 Ctrl+A"),
    };
    QCOMPARE(items, expected);

    const QList<QAction *> tray = delegate->statusItem()->contextMenu()->actions();
    QCOMPARE(tray.size(), 3);
    QCOMPARE(tray.at(0)->text(), QStringLiteral("打开Quillpost"));
    QVERIFY(tray.at(1)->isSeparator());
    QCOMPARE(tray.at(2)->text(), QStringLiteral("退出应用"));
    QCOMPARE(delegate->statusItem()->toolTip(), QStringLiteral("Quillpost"));

    menuAction(bar, QStringLiteral("隐藏Quillpost"))->trigger();
    QVERIFY(!delegate->window()->isVisible());
}

void AppDelegateTest::editMenuActsOnTheFocusedField()
{
    const auto delegate = start(std::nullopt);
    QApplication::setActiveWindow(delegate->window());
    auto *field = delegate->window()->centralWidget()->findChild<QLineEdit *>();
    QVERIFY(field);
    field->setFocus();
    QVERIFY(QTest::qWaitFor([&] { return field->hasFocus(); }));
    field->setText(QStringLiteral("13800000000"));
    menuAction(delegate->window()->menuBar(), QStringLiteral("全选"))->trigger();
    QCOMPARE(field->selectedText(), QStringLiteral("13800000000"));
    menuAction(delegate->window()->menuBar(), QStringLiteral("剪切"))->trigger();
    QVERIFY(field->text().isEmpty());
    menuAction(delegate->window()->menuBar(), QStringLiteral("撤销"))->trigger();
    QCOMPARE(field->text(), QStringLiteral("13800000000"));
}

void AppDelegateTest::statusIconFallsBackToGlyph()
{
    const QIcon missing = AppDelegate::statusIcon(QStringLiteral(":/does/not/exist.svg"));
    QVERIFY(!missing.isNull());
    const QImage glyph = missing.pixmap(18, 18).toImage();
    QVERIFY(std::any_of(glyph.constBits(), glyph.constBits() + glyph.sizeInBytes(), [](uchar b) { return b != 0; }));

    const QImage icon = AppDelegate::statusIcon(QStringLiteral(":/quillpost/quillpost.svg")).pixmap(18, 18).toImage();
    QVERIFY(!icon.isNull());
    bool opaque = false;
    for (int y = 0; y < icon.height(); ++y)
        for (int x = 0; x < icon.width(); ++x) {
            const QRgb pixel = icon.pixel(x, y);
            QCOMPARE(qRed(pixel), qGreen(pixel));
            QCOMPARE(qGreen(pixel), qBlue(pixel));
            opaque = opaque || qAlpha(pixel) == 255;
        }
    QVERIFY(opaque);
}

void AppDelegateTest::secondStartActivatesTheFirst()
{
    const QString name = QStringLiteral("quillpost-test-%1").arg(QCoreApplication::applicationPid());
    SingleInstance first(name);
    QVERIFY(!first.notifyRunningInstance());
    QVERIFY(first.listen());
    QSignalSpy activations(&first, &SingleInstance::activationRequested);

    SingleInstance second(name);
    QVERIFY(second.notifyRunningInstance());
    QVERIFY(activations.wait(2000));
}

QTEST_MAIN(AppDelegateTest)
#include "tst_appdelegate.moc"
