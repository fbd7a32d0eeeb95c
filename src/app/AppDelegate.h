#pragma once

#include "app/DesktopWindows.h"
#include "app/SingleInstance.h"
#include "platform/Platform.h"
#include "service/Records.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <chrono>
#include <optional>

class QAction;
class QSystemTrayIcon;
class QTimer;

namespace quillpost {

class APIClient;
class SecretStore;
class MainWindow;

// The program's shell: one window whose content switches between the sign-in screen and, once
// signed in, the compact receiver panel or the inbox window (the menu switches between the
// two, each at its own size; only the one shown polls), the main menu, the tray icon, the restore of the last session, pinning, and
// sign-out from the menu.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    // How long the window stays empty at start while the stored token is being read; after that
    // the sign-in screen is shown, and a token that comes later still restores its session.
    static constexpr std::chrono::milliseconds signInGrace{200};
    // A restore that the service did not answer (no connection, a time-out, a server error) is
    // tried again after a delay that doubles from the first to the last, and at once when the
    // network comes back; meanwhile the sign-in screen says so.
    static constexpr std::chrono::milliseconds firstRestoreRetry{2000};
    static constexpr std::chrono::milliseconds lastRestoreRetry{60000};

    // Creates the one service client, without a token until the stored one has been read.
    AppDelegate(const QUrl &serviceURL, SecretStore *store, const Platform &platform, QObject *parent = nullptr);
    ~AppDelegate() override;

    // Builds the window, menus and tray icon, shows the window and restores the session from the
    // stored token.
    void applicationDidFinishLaunching();

    void showLogin();
    void showInbox(const Profile &profile);
    // The inbox window in place of the receiver panel, for the signed-in profile.
    void showInboxWindow(const Profile &profile);
    // From the panel to the inbox window and back; nothing while signed out.
    void switchInboxView();
    void menuLogout();
    void showWindow();
    void onTogglePin(bool pinned);
    // `quillpost --paste-latest`: the receiver panel pastes its newest clip (see
    // CompactInboxViewController::pasteLatest); no window comes forward. SignedOut while the
    // window shows no panel; a refusal's detail is the panel's status text.
    PasteLatestReply pasteLatest();

    APIClient *api() const { return m_api; }
    MainWindow *window() const { return m_window; }
    QSystemTrayIcon *statusItem() const { return m_statusItem; }
    bool isPinned() const { return m_pinned; }

    // The application icon, at every size the program draws it.
    static QIcon appIcon();
    // The tray icon: `icon` in grey tones at `size`, or "◒" drawn when `icon` has nothing to show.
    static QIcon statusIcon(const QIcon &icon, int size = 18);

private:
    void buildMainMenu();
    void buildStatusItem();
    void restoreSession();
    bool stillStarting() const;
    void fetchProfile();
    void waitToRestore();
    void followNetwork();
    void bringForward();
    void updateSwitchAction();

    SecretStore *m_store;
    Platform m_platform;
    APIClient *m_api;
    MainWindow *m_window = nullptr;
    QSystemTrayIcon *m_statusItem = nullptr;
    DesktopWindows m_desktopWindows;
    bool m_pinned = false;
    bool m_readingToken = false;
    // The sign-in screen shown while the stored token was still being read, if any.
    QPointer<QWidget> m_startSignIn;
    // The stored token being restored, and the next try while the service is not answering.
    QString m_restoreToken;
    QTimer *m_restoreRetry;
    std::chrono::milliseconds m_restoreDelay{0};
    // The signed-in profile while the panel or the inbox window is shown, and the menu command
    // that switches between them.
    std::optional<Profile> m_profile;
    QAction *m_switchAction = nullptr;
};

} // namespace quillpost
