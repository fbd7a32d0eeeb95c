#pragma once

#include "service/Records.h"

#include <QColor>
#include <QString>
#include <QWidget>

#include <chrono>
#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace quillpost {

class APIClient;
class SecretStore;

// The sign-in screen: phone number, SMS code with a resend countdown and, the first time an
// account is used, a nickname. On success it sets the client's token, saves it in `store` and,
// once the store has answered (or given up: a warning then says the session will not be
// remembered), hands the signed-in user's profile to `onLogin`.
//
// The constructor builds the widget tree (loadView). `api` and `store` belong to the host and
// must outlive the screen. `onLogin` runs at most once, on the GUI thread, as the last thing the
// screen does; the host may delete the screen from inside it.
//
// Widgets carry object names after their role ("phone", "code", "nickname", "sendButton",
// "loginButton", "message", "countdownTimer").
class LoginViewController : public QWidget
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds countdownInterval{1000};
    static constexpr qint64 resendWaitSeconds = 60;
    // How long the notice that the session could not be stored stays before the session opens.
    static constexpr std::chrono::milliseconds unsavedNoticeTime{3000};
    // The status line grows with a wrapped text up to this many lines; the rest is cut off.
    static constexpr int maxMessageLines = 4;

    LoginViewController(APIClient *api, SecretStore *store, std::function<void(Profile)> onLogin,
                        QWidget *parent = nullptr);

    // Seconds left before a new code may be requested (0 when no countdown runs).
    qint64 countdown() const { return m_countdown; }
    // One second of the resend countdown passes. The countdown timer calls this every second;
    // does nothing while no countdown runs.
    void tickCountdown();

    // Requests an SMS code for the phone number as typed.
    void sendCode();
    // Signs in with the three fields as typed. Also reached by Return anywhere on the screen
    // while the sign-in button is enabled.
    void login();

    // Says in the status line that the saved session will be restored once the service can be
    // reached, or takes that notice away again (a message shown since stays).
    void showRestoreWaiting(bool waiting);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void loadView();
    void startCountdown(qint64 seconds);
    void showMessage(const QString &text, const QColor &colour);
    void clearMessage();
    void fitMessageHeight();
    void loginFailed(const QString &description);
    void enter(const Profile &user);

    APIClient *m_api;
    SecretStore *m_store;
    std::function<void(Profile)> m_onLogin;

    QLineEdit *m_phone = nullptr;
    QLineEdit *m_code = nullptr;
    QLineEdit *m_nickname = nullptr;
    QPushButton *m_sendButton = nullptr;
    QPushButton *m_loginButton = nullptr;
    QLabel *m_message = nullptr;
    QTimer *m_countdownTimer = nullptr;
    qint64 m_countdown = 0;
};

} // namespace quillpost
