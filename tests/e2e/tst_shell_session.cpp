// The application shell on a real desktop: the X server, window manager and secret service of
// the headless session, against the local clip service.
#include "DesktopProbes.h"
#include "DevService.h"
#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "platform/secret/KeychainStore.h"
#include "platform/x11/X11Platform.h"
#include "receiver/CompactInboxViewController.h"
#include "service/APIClient.h"
#include "signin/LoginViewController.h"
#include "support/SessionTestMain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

using namespace quillpost;
using namespace quillpost::test;

namespace {

QAction *menuAction(MainWindow *window, const QString &text)
{
    for (QAction *menu : window->menuBar()->actions())
        for (QAction *action : menu->menu()->actions())
            if (action->text() == text)
                return action;
    return nullptr;
}

} // namespace

class ShellSessionTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<DevService> m_service;
    KeychainStore m_keychain;
    std::unique_ptr<X11Platform> m_platform;

private slots:
    void cleanup() { m_keychain.remove(); }
    void initTestCase()
    {
        m_platform = std::make_unique<X11Platform>();
        m_service = std::make_unique<DevService>(testArguments({QStringLiteral("--seed"), QStringLiteral("demo")}));
        QVERIFY(m_service->start());
    }

    void init()
    {
        m_keychain.remove();
    }

    void rejectedTokenLeadsToSignInWithItemGone()
    {
        m_keychain.save(QStringLiteral("a-token-the-service-never-issued"), nullptr, {});
        const auto delegate = startDelegate();
        QTRY_COMPARE(storedToken(m_keychain), std::nullopt);
        QVERIFY(!delegate->api()->token && qobject_cast<LoginViewController *>(delegate->window()->centralWidget()));
    }

    void signInPinSignOutAndReopen()
    {
        const auto delegate = startDelegate();
        MainWindow *window = delegate->window();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QTRY_VERIFY(qobject_cast<LoginViewController *>(window->centralWidget()));

        // Sign in through the screen: phone, code request, code, sign-in button.
        QWidget *screen = window->centralWidget();
        screen->findChild<QLineEdit *>(QStringLiteral("phone"))->setText(QStringLiteral("13800000000"));
        screen->findChild<QPushButton *>(QStringLiteral("sendButton"))->click();
        const QPointer<QLabel> message = screen->findChild<QLabel *>(QStringLiteral("message"));
        QTRY_COMPARE(message->text(), QStringLiteral("验证码已发送"));
        screen->findChild<QLineEdit *>(QStringLiteral("code"))->setText(QStringLiteral("123456"));
        screen->findChild<QPushButton *>(QStringLiteral("loginButton"))->click();
        QTRY_VERIFY2(qobject_cast<CompactInboxViewController *>(window->centralWidget()),
                     qPrintable(message ? message->text() : QString()));
        QTRY_COMPARE(window->centralWidget()->size(), QSize(330, 230));
        QVERIFY(storedToken(m_keychain).has_value());

        // Pinned: above every window and on every desktop, also after closing and reopening.
        delegate->onTogglePin(true);
        QTRY_COMPARE(pinState(window->windowHandle()->winId()), std::make_pair(true, true));
        QWidget *panel = window->centralWidget();
        window->close();
        QTRY_VERIFY(!window->isVisible());
        delegate->showWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->centralWidget(), panel);
        QTRY_COMPARE(pinState(window->windowHandle()->winId()), std::make_pair(true, true));

        // Sign-out from the menu gives a normal window again.
        QTimer::singleShot(0, [] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            for (QAbstractButton *button : box ? box->buttons() : QList<QAbstractButton *>())
                if (button->text() == QStringLiteral("退出登录"))
                    button->click();
        });
        menuAction(window, QStringLiteral("退出登录…"))->trigger();
        QVERIFY(qobject_cast<LoginViewController *>(window->centralWidget()));
        QTRY_COMPARE(pinState(window->windowHandle()->winId()), std::make_pair(false, false));
        QCOMPARE(storedToken(m_keychain), std::nullopt);
        QTRY_COMPARE(window->centralWidget()->size(), QSize(420, 430));
    }

    void hideOthersAndShowAll()
    {
        const auto delegate = startDelegate();
        QVERIFY(QTest::qWaitForWindowExposed(delegate->window()));
        QProcess other;
        other.start(QStringLiteral("xterm"), {QStringLiteral("-geometry"), QStringLiteral("40x4")});
        QVERIFY(other.waitForStarted());
        quint64 window = 0;
        QTRY_VERIFY((window = windowOfProcess(other.processId())) != 0);
        const auto minimised = [&] { return windowManagerState(window).contains(QLatin1String("HIDDEN")); };

        menuAction(delegate->window(), QStringLiteral("隐藏其他"))->trigger();
        QTRY_VERIFY(minimised());
        QVERIFY(!windowManagerState(delegate->window()->windowHandle()->winId()).contains(QLatin1String("HIDDEN")));
        menuAction(delegate->window(), QStringLiteral("显示全部"))->trigger();
        QTRY_VERIFY(!minimised());
        other.kill();
        other.waitForFinished();
    }

private:
    std::unique_ptr<AppDelegate> startDelegate()
    {
        auto delegate = std::make_unique<AppDelegate>(*makeServiceURL(m_service->url(QString()).toString()), &m_keychain,
                                                      m_platform->platform());
        delegate->applicationDidFinishLaunching();
        return delegate;
    }
};

QUILLPOST_SESSION_TEST_MAIN(ShellSessionTest)
#include "tst_shell_session.moc"
