#include "app/AppDelegate.h"

#include "app/MainWindow.h"
#include "inbox/InboxViewController.h"
#include "platform/SecretStore.h"
#include "receiver/CompactInboxViewController.h"
#include "service/APIClient.h"
#include "signin/LoginViewController.h"
#include "widgets/Styling.h"

#include <QApplication>
#include <QIcon>
#include <QImageReader>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QNetworkInformation>
#include <QPainter>
#include <QPlainTextEdit>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>

#include <algorithm>

namespace quillpost {

namespace {

// Runs `action` on the text field or text view that has the keyboard focus.
template<typename Action>
void onFocusedText(Action action)
{
    QWidget *focus = QApplication::focusWidget();
    if (auto *line = qobject_cast<QLineEdit *>(focus))
        action(line);
    else if (auto *text = qobject_cast<QPlainTextEdit *>(focus))
        action(text);
}

} // namespace

AppDelegate::AppDelegate(const QUrl &serviceURL, SecretStore *store, const Platform &platform, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_platform(platform)
    , m_api(new APIClient(serviceURL, std::nullopt, this))
    , m_restoreRetry(new QTimer(this))
{
    m_restoreRetry->setSingleShot(true);
    connect(m_restoreRetry, &QTimer::timeout, this, [this] {
        // A sign-in or sign-out meanwhile has changed the token and decided about the session.
        if (m_api->token == m_restoreToken)
            fetchProfile();
    });
}

AppDelegate::~AppDelegate()
{
    delete m_window;
}

void AppDelegate::applicationDidFinishLaunching()
{
    QApplication::setQuitOnLastWindowClosed(false);
    m_window = new MainWindow;
    m_window->setWindowIcon(appIcon());
    buildMainMenu();
    m_window->setContentGeometry(QSize(420, 430), QSize(390, 400));
    buildStatusItem();
    bringForward();
    restoreSession();
}

void AppDelegate::restoreSession()
{
    // The stored token comes from the secret store, which may take its time or never answer:
    // the window does not wait for it. A read that is not back almost at once leaves the
    // sign-in screen to the user; one that comes back later still restores its session.
    const auto showStartSignIn = [this] {
        if (m_window->centralWidget())
            return;
        showLogin();
        m_startSignIn = m_window->centralWidget();
    };
    m_readingToken = true;
    QTimer::singleShot(signInGrace, this, [this, showStartSignIn] {
        if (m_readingToken)
            showStartSignIn();
    });
    m_store->read(this, [this, showStartSignIn](std::optional<QString> token) {
        m_readingToken = false;
        if (!stillStarting())
            return;
        if (!token) {
            showStartSignIn();
            return;
        }
        m_api->token = token;
        m_restoreToken = *token;
        fetchProfile();
    });
}

bool AppDelegate::stillStarting() const
{
    // A sign-in or sign-out since the start has decided about the session; a token read late
    // must not replace that decision.
    const QWidget *content = m_window->centralWidget();
    return !m_api->token && (!content || content == m_startSignIn.data());
}

void AppDelegate::fetchProfile()
{
    m_api->call<Profile>(QStringLiteral("api/profile"), "GET", std::nullopt, this,
                         [this, token = m_restoreToken](Outcome<Profile> outcome) {
        // A sign-out or a new sign-in while the fetch ran has decided already.
        if (m_api->token != token)
            return;
        if (outcome.ok()) {
            showInbox(outcome.value());
            return;
        }
        if (!outcome.failure().rejectsToken()) {
            waitToRestore();
            return;
        }
        m_store->remove();
        m_api->token.reset();
        // A sign-in screen already shown keeps what the user may have typed into it.
        if (auto *signIn = qobject_cast<LoginViewController *>(m_window->centralWidget()))
            signIn->showRestoreWaiting(false);
        else
            showLogin();
    });
}

void AppDelegate::waitToRestore()
{
    // The token stays: only the service's refusal says that it is no longer good. The user may
    // sign in by hand meanwhile, which decides, as a sign-out does.
    if (!qobject_cast<LoginViewController *>(m_window->centralWidget()))
        showLogin();
    if (m_restoreDelay.count() == 0) {
        qobject_cast<LoginViewController *>(m_window->centralWidget())->showRestoreWaiting(true);
        followNetwork();
        m_restoreDelay = firstRestoreRetry;
    } else {
        m_restoreDelay = std::min(m_restoreDelay * 2, lastRestoreRetry);
    }
    m_restoreRetry->start(m_restoreDelay);
}

void AppDelegate::followNetwork()
{
    // Loaded from the event loop once a restore waits, not at start: the backend asks the
    // system's network service. Without a backend the delays alone bring the retries.
    QTimer::singleShot(0, this, [this] {
        if (!QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
            return;
        connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
                [this](QNetworkInformation::Reachability reachability) {
                    // Connected to some network again: the waiting retry goes now.
                    if (reachability >= QNetworkInformation::Reachability::Local && m_restoreRetry->isActive())
                        m_restoreRetry->start(0);
                });
    });
}

void AppDelegate::showLogin()
{
    m_profile.reset();
    updateSwitchAction();
    onTogglePin(false);
    m_window->setContentGeometry(QSize(420, 430), QSize(390, 400), QSize(520, 560));
    auto *screen = new LoginViewController(m_api, m_store, [self = QPointer(this)](const Profile &profile) {
        if (self)
            self->showInbox(profile);
    });
    m_window->setContent(screen);
    bringForward();
}

void AppDelegate::showInbox(const Profile &profile)
{
    QPointer self(this);
    auto *panel = new CompactInboxViewController(
        m_api, profile, m_platform, m_store,
        [self](bool pinned) {
            if (self)
                self->onTogglePin(pinned);
        },
        [self] {
            if (self)
                self->showLogin();
        });
    m_window->setContent(panel);
    m_window->setContentGeometry(QSize(330, 230), QSize(300, 210), QSize(420, 560));
    m_profile = profile;
    updateSwitchAction();
    bringForward();
}

void AppDelegate::showInboxWindow(const Profile &profile)
{
    // The panel's switches (pin among them) live only as long as the panel.
    onTogglePin(false);
    auto *inbox = new InboxViewController(m_api, profile, m_platform, m_store, [self = QPointer(this)] {
        if (self)
            self->showLogin();
    });
    m_window->setContent(inbox);
    // Wide enough for the list beside the editor; never smaller than its layout needs.
    const QSize minimum = inbox->minimumSizeHint().expandedTo(QSize(620, 420));
    m_window->setContentGeometry(QSize(820, 560).expandedTo(minimum), minimum);
    m_profile = profile;
    updateSwitchAction();
    bringForward();
}

void AppDelegate::switchInboxView()
{
    if (!m_profile)
        return;
    if (qobject_cast<CompactInboxViewController *>(m_window->centralWidget()))
        showInboxWindow(*m_profile);
    else
        showInbox(*m_profile);
}

void AppDelegate::updateSwitchAction()
{
    if (!m_switchAction)
        return;
    const bool inboxShown = m_profile && !qobject_cast<CompactInboxViewController *>(m_window->centralWidget());
    m_switchAction->setEnabled(m_profile.has_value());
    m_switchAction->setText(inboxShown ? QStringLiteral("返回紧凑面板") : QStringLiteral("打开收件箱窗口"));
}

void AppDelegate::onTogglePin(bool pinned)
{
    m_pinned = pinned;
    DesktopWindows::setPinned(m_window, pinned);
    // Where Qt's hints do not reach the compositor (KWin), the workspace asks it.
    m_platform.workspace->setPinned(m_window ? m_window->windowHandle() : nullptr, pinned);
}

void AppDelegate::menuLogout()
{
    if (!m_api->token) {
        showLogin();
        return;
    }
    if (!confirm(m_window, {QStringLiteral("退出当前账号？"), QStringLiteral("只清除这台 Mac 的登录状态，云端内容不会删除。"),
                            QStringLiteral("退出登录")}))
        return;
    m_api->token.reset();
    m_store->remove();
    showLogin();
}

void AppDelegate::showWindow()
{
    bringForward();
}

PasteLatestReply AppDelegate::pasteLatest()
{
    auto *panel = m_window ? qobject_cast<CompactInboxViewController *>(m_window->centralWidget()) : nullptr;
    if (!panel && m_profile)
        return {PasteLatestResult::Refused, QStringLiteral("收件箱窗口打开时请在窗口里粘贴；切回紧凑面板（Ctrl+I）后可用快捷键")};
    if (!panel)
        return {PasteLatestResult::SignedOut, {}};
    switch (panel->pasteLatest()) {
    case CompactInboxViewController::PasteLatestOutcome::Scheduled:
        return {PasteLatestResult::Pasted, {}};
    case CompactInboxViewController::PasteLatestOutcome::NoClip:
        return {PasteLatestResult::NoClip, {}};
    case CompactInboxViewController::PasteLatestOutcome::Refused:
        break;
    }
    return {PasteLatestResult::Refused, panel->statusText()};
}

void AppDelegate::bringForward()
{
    m_window->show();
    if (m_window->isMinimized())
        m_window->showNormal();
    // The window manager forgets "on every desktop" when the window is hidden.
    if (m_pinned)
        onTogglePin(true);
    m_window->raise();
    m_window->activateWindow();
}

void AppDelegate::buildMainMenu()
{
    QMenuBar *bar = m_window->menuBar();

    QMenu *app = bar->addMenu(QStringLiteral("Quillpost"));
    app->addAction(QStringLiteral("关于Quillpost"), this, [this] {
        QMessageBox about(m_window);
        about.setIconPixmap(m_window->windowIcon().pixmap(64, 64));
        about.setWindowTitle(QStringLiteral("关于Quillpost"));
        about.setTextFormat(Qt::PlainText);
        about.setText(QStringLiteral("Quillpost %1").arg(QCoreApplication::applicationVersion()));
        about.setInformativeText(QStringLiteral("在电脑上接收、修改和粘贴你在手机上输入的云端文字。"));
        about.exec();
    });
    app->addSeparator();
    app->addAction(QStringLiteral("打开Quillpost"), QKeySequence(Qt::CTRL | Qt::Key_O), this, &AppDelegate::showWindow);
    m_switchAction = app->addAction(QString(), QKeySequence(Qt::CTRL | Qt::Key_I), this, &AppDelegate::switchInboxView);
    updateSwitchAction();
    app->addAction(QStringLiteral("退出登录…"), this, &AppDelegate::menuLogout);
    app->addSeparator();
    app->addAction(QStringLiteral("隐藏Quillpost"), QKeySequence(Qt::CTRL | Qt::Key_H), m_window, &QWidget::hide);
    app->addAction(QStringLiteral("隐藏其他"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_H), this,
                   [this] { m_desktopWindows.hideOthers(m_window); });
    app->addAction(QStringLiteral("显示全部"), this, [this] {
        m_desktopWindows.showAll();
        bringForward();
    });
    app->addSeparator();
    app->addAction(QStringLiteral("退出Quillpost"), QKeySequence(Qt::CTRL | Qt::Key_Q), qApp, &QCoreApplication::quit);

    QMenu *edit = bar->addMenu(QStringLiteral("编辑"));
    edit->addAction(QStringLiteral("撤销"), QKeySequence(Qt::CTRL | Qt::Key_Z), this,
                    [] { onFocusedText([](auto *field) { field->undo(); }); });
    edit->addAction(QStringLiteral("重做"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), this,
                    [] { onFocusedText([](auto *field) { field->redo(); }); });
    edit->addSeparator();
    edit->addAction(QStringLiteral("剪切"), QKeySequence(Qt::CTRL | Qt::Key_X), this,
                    [] { onFocusedText([](auto *field) { field->cut(); }); });
    edit->addAction(QStringLiteral("复制"), QKeySequence(Qt::CTRL | Qt::Key_C), this,
                    [] { onFocusedText([](auto *field) { field->copy(); }); });
    edit->addAction(QStringLiteral("粘贴"), QKeySequence(Qt::CTRL | Qt::Key_V), this,
                    [] { onFocusedText([](auto *field) { field->paste(); }); });
    edit->addAction(QStringLiteral("全选"), QKeySequence(Qt::CTRL | Qt::Key_A), this,
                    [] { onFocusedText([](auto *field) { field->selectAll(); }); });
}

QIcon AppDelegate::appIcon()
{
    // Read as PNG and nothing else: left to detect the format, Qt loads every image format plugin
    // to ask it first.
    QIcon icon;
    for (const int size : {16, 18, 32, 36, 64, 128}) {
        QImageReader reader(QStringLiteral(":/quillpost/icon/%1.png").arg(size), "png");
        reader.setAutoDetectImageFormat(false);
        const QImage image = reader.read();
        if (!image.isNull())
            icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

QIcon AppDelegate::statusIcon(const QIcon &icon, int size)
{
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap = icon.pixmap(QSize(size, size), ratio);
    if (!pixmap.isNull()) {
        // Grey tones, like the monochrome icons of other tray entries; the alpha stays.
        QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const int grey = qGray(line[x]);
                line[x] = qRgba(grey, grey, grey, qAlpha(line[x]));
            }
        }
        return QIcon(QPixmap::fromImage(image));
    }
    QPixmap glyph(QSize(size, size) * ratio);
    glyph.setDevicePixelRatio(ratio);
    glyph.fill(Qt::transparent);
    QPainter painter(&glyph);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont font = painter.font();
    font.setPixelSize(size - 2);
    painter.setFont(font);
    painter.setPen(QApplication::palette().color(QPalette::WindowText));
    painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QStringLiteral("◒"));
    painter.end();
    return QIcon(glyph);
}

void AppDelegate::buildStatusItem()
{
    m_statusItem = new QSystemTrayIcon(statusIcon(m_window->windowIcon()), this);
    m_statusItem->setToolTip(QStringLiteral("Quillpost"));
    auto *menu = new QMenu(m_window);
    menu->addAction(QStringLiteral("打开Quillpost"), this, &AppDelegate::showWindow);
    menu->addSeparator();
    menu->addAction(QStringLiteral("退出应用"), QKeySequence(Qt::CTRL | Qt::Key_Q), qApp, &QCoreApplication::quit);
    m_statusItem->setContextMenu(menu);
    connect(m_statusItem, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            showWindow();
    });
    m_statusItem->show();
}

} // namespace quillpost
