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
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
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

    DevService m_service{testArguments({QStringLiteral("--seed"), QStringLiteral("demo")})};
    KeychainStore m_keychain;
    X11Platform m_platform;

private slots:
    void initTestCase() { QVERIFY(m_service.start()); }
    void cleanup() { m_keychain.remove(); }

    // Pinned: above every window and on every desktop, also after closing and reopening. The
    // sign-out from the menu gives a normal window again.
    void pinSurvivesReopenUntilSignOut()
    {
        QVERIFY(saveNow(m_keychain, m_service.signIn(QStringLiteral("13800000000"))));
        const auto delegate = startDelegate();
        MainWindow *window = delegate->window();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QTRY_VERIFY(qobject_cast<CompactInboxViewController *>(window->centralWidget()));
        QTRY_COMPARE(window->centralWidget()->size(), QSize(330, 230));

        delegate->onTogglePin(true);
        QTRY_COMPARE(pinState(window->windowHandle()->winId()), std::make_pair(true, true));
        QWidget *panel = window->centralWidget();
        window->close();
        QTRY_VERIFY(!window->isVisible());
        delegate->showWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->centralWidget(), panel);
        QTRY_COMPARE(pinState(window->windowHandle()->winId()), std::make_pair(true, true));

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
        auto delegate = std::make_unique<AppDelegate>(*makeServiceURL(m_service.url(QString()).toString()), &m_keychain,
                                                      m_platform.platform());
        delegate->applicationDidFinishLaunching();
        return delegate;
    }
};

QUILLPOST_SESSION_TEST_MAIN(ShellSessionTest)
#include "tst_shell_session.moc"
