// The application shell on a real desktop: the X server, window manager and secret service of
// the headless session, against the local clip service.
#include "DevService.h"
#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "platform/secret/KeychainStore.h"
#include "platform/x11/X11Platform.h"
#include "receiver/CompactInboxViewController.h"
#include "service/APIClient.h"
#include "signin/LoginViewController.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSystemTrayIcon>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

using namespace quillpost;
using namespace quillpost::test;

namespace {

xcb_connection_t *connection()
{
    return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

xcb_atom_t atom(const char *name)
{
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection(), xcb_intern_atom(connection(), 0, uint16_t(std::strlen(name)), name),
                              nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// A property of 32-bit values (atoms, cardinals, windows) of a window.
QList<std::uint32_t> property32(xcb_window_t id, const char *name, xcb_atom_t type)
{
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection(), xcb_get_property(connection(), 0, id, atom(name), type, 0, 1024), nullptr),
        &std::free);
    QList<std::uint32_t> values;
    if (reply && reply->format == 32) {
        const auto *data = static_cast<const std::uint32_t *>(xcb_get_property_value(reply.get()));
        for (int i = 0; i < xcb_get_property_value_length(reply.get()) / 4; ++i)
            values.append(data[i]);
    }
    return values;
}

QList<std::uint32_t> property32(QWidget *window, const char *name, xcb_atom_t type)
{
    return property32(xcb_window_t(window->windowHandle()->winId()), name, type);
}

// The managed window of another process, 0 until the window manager lists it.
xcb_window_t clientOf(qint64 pid)
{
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection())).data->root;
    for (std::uint32_t window : property32(root, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW))
        if (property32(window, "_NET_WM_PID", XCB_ATOM_CARDINAL).value(0) == std::uint32_t(pid))
            return window;
    return 0;
}

bool isMinimised(xcb_window_t window)
{
    return property32(window, "_NET_WM_STATE", XCB_ATOM_ATOM).contains(atom("_NET_WM_STATE_HIDDEN"));
}

QAction *menuAction(MainWindow *window, const QString &text)
{
    for (QAction *menu : window->menuBar()->actions())
        for (QAction *action : menu->menu()->actions())
            if (action->text() == text)
                return action;
    return nullptr;
}

// Whether the window manager keeps the window above others, and on every desktop (said either
// way a window manager may say it).
std::pair<bool, bool> pinState(QWidget *window)
{
    const QList<std::uint32_t> state = property32(window, "_NET_WM_STATE", XCB_ATOM_ATOM);
    return {state.contains(atom("_NET_WM_STATE_ABOVE")),
            state.contains(atom("_NET_WM_STATE_STICKY"))
                || property32(window, "_NET_WM_DESKTOP", XCB_ATOM_CARDINAL).value(0) == 0xFFFFFFFFu};
}

} // namespace

class ShellSessionTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void rejectedTokenLeadsToSignInWithItemGone();
    void signInPinSignOutAndReopen();
    void hideOthersAndShowAll();

private:
    std::unique_ptr<AppDelegate> startDelegate();

    std::unique_ptr<DevService> m_service;
    KeychainStore m_keychain;
    std::unique_ptr<X11Platform> m_platform;
};

void ShellSessionTest::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs the X11 desktop of scripts/headless-session");
    m_platform = std::make_unique<X11Platform>();
}

void ShellSessionTest::init()
{
    m_service = std::make_unique<DevService>(testArguments({QStringLiteral("--seed"), QStringLiteral("demo")}));
    QVERIFY(m_service->start());
    m_keychain.remove();
}

void ShellSessionTest::cleanup()
{
    m_keychain.remove();
    m_service.reset();
}

std::unique_ptr<AppDelegate> ShellSessionTest::startDelegate()
{
    auto delegate = std::make_unique<AppDelegate>(*makeServiceURL(m_service->url(QString()).toString()), &m_keychain,
                                                  m_platform->platform());
    delegate->applicationDidFinishLaunching();
    return delegate;
}

void ShellSessionTest::rejectedTokenLeadsToSignInWithItemGone()
{
    m_keychain.save(QStringLiteral("a-token-the-service-never-issued"));
    const auto delegate = startDelegate();
    QTRY_COMPARE(m_keychain.read(), std::nullopt);
    QVERIFY(!delegate->api()->token);
    QVERIFY(qobject_cast<LoginViewController *>(delegate->window()->centralWidget()));
}

void ShellSessionTest::signInPinSignOutAndReopen()
{
    const auto delegate = startDelegate();
    MainWindow *window = delegate->window();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto *screen = qobject_cast<LoginViewController *>(window->centralWidget());
    QVERIFY(screen);

    // Sign in as a person would: phone, code request, code, Return.
    screen->findChild<QLineEdit *>(QStringLiteral("phone"))->setText(QStringLiteral("13800000000"));
    QTest::mouseClick(screen->findChild<QPushButton *>(QStringLiteral("sendButton")), Qt::LeftButton);
    auto *code = screen->findChild<QLineEdit *>(QStringLiteral("code"));
    QTRY_VERIFY(code->hasFocus());
    QTest::keyClicks(code, QStringLiteral("123456"));
    QTest::keyClick(code, Qt::Key_Return);
    const QPointer<QLabel> message = screen->findChild<QLabel *>(QStringLiteral("message"));
    QTRY_VERIFY2(qobject_cast<CompactInboxViewController *>(window->centralWidget()),
                 qPrintable(message ? message->text() : QString()));
    QTRY_COMPARE(window->centralWidget()->size(), QSize(330, 230));
    QVERIFY(m_keychain.read().has_value());

    // Pinned: above every window and on every desktop, also after closing and reopening.
    delegate->onTogglePin(true);
    QTRY_COMPARE(pinState(window), std::make_pair(true, true));
    QWidget *panel = window->centralWidget();
    window->close();
    QTRY_VERIFY(!window->isVisible());
    delegate->showWindow();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCOMPARE(window->centralWidget(), panel);
    QTRY_COMPARE(pinState(window), std::make_pair(true, true));

    // Sign-out from the menu gives a normal window again.
    QTimer::singleShot(0, [] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        for (QAbstractButton *button : box ? box->buttons() : QList<QAbstractButton *>())
            if (button->text() == QStringLiteral("退出登录"))
                button->click();
    });
    delegate->menuLogout();
    QVERIFY(qobject_cast<LoginViewController *>(window->centralWidget()));
    QTRY_COMPARE(pinState(window), std::make_pair(false, false));
    QCOMPARE(m_keychain.read(), std::nullopt);
    QTRY_COMPARE(window->centralWidget()->size(), QSize(420, 430));
}

void ShellSessionTest::hideOthersAndShowAll()
{
    const auto delegate = startDelegate();
    QVERIFY(QTest::qWaitForWindowExposed(delegate->window()));
    QProcess other;
    other.start(QStringLiteral("xterm"), {QStringLiteral("-geometry"), QStringLiteral("40x4")});
    QVERIFY(other.waitForStarted());
    xcb_window_t window = 0;
    QTRY_VERIFY((window = clientOf(other.processId())) != 0);

    menuAction(delegate->window(), QStringLiteral("隐藏其他"))->trigger();
    QTRY_VERIFY(isMinimised(window));
    QVERIFY(!isMinimised(xcb_window_t(delegate->window()->windowHandle()->winId())));
    menuAction(delegate->window(), QStringLiteral("显示全部"))->trigger();
    QTRY_VERIFY(!isMinimised(window));
    other.kill();
    other.waitForFinished();
}

QTEST_MAIN(ShellSessionTest)
#include "tst_shell_session.moc"
