#include "signin/LoginViewController.h"

#include "widgets/Styling.h"

#include "platform/SecretStore.h"
#include "platform/SystemColors.h"
#include "service/APIClient.h"
#include "signin/WaitTime.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace quillpost {

namespace {

constexpr int columnWidth = 298;

QColor informationColour()
{
    return SystemColors::rgba(0.30, 0.48, 0.40, 1.0);
}

const QString restoreWaitingText = QStringLiteral("暂时连不上服务，连上后将自动恢复上次的登录");

} // namespace

LoginViewController::LoginViewController(APIClient *api, SecretStore *store, std::function<void(Profile)> onLogin,
                                         QWidget *parent)
    : QWidget(parent)
    , m_api(api)
    , m_store(store)
    , m_onLogin(std::move(onLogin))
{
    Q_ASSERT(m_api && m_store);
    // A child of the screen: it dies with the screen, so no tick can run after the screen is gone.
    m_countdownTimer = new QTimer(this);
    m_countdownTimer->setObjectName(QStringLiteral("countdownTimer"));
    m_countdownTimer->setInterval(countdownInterval);
    connect(m_countdownTimer, &QTimer::timeout, this, &LoginViewController::tickCountdown);
    loadView();
}

void LoginViewController::loadView()
{
    setPalette(lightPalette());
    setColour(this, QPalette::Window, SystemColors::rgba(0.97, 0.95, 0.92, 1.0));
    setAutoFillBackground(true);

    auto *content = new QWidget(this);
    auto *stack = new QVBoxLayout(content);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(9);

    auto *title = new QLabel(QStringLiteral("Quillpost"), content);
    title->setTextFormat(Qt::PlainText);
    title->setFont(pixelFont(font(), 25, QFont::Bold));
    setColour(title, QPalette::WindowText, SystemColors::rgba(0.18, 0.32, 0.27, 1.0));
    stack->addWidget(title, 0, Qt::AlignHCenter);

    auto *subtitle = new QLabel(QStringLiteral("登录同一个手机号，在 Mac 上接收、修改和粘贴你的云端文字。"), content);
    subtitle->setTextFormat(Qt::PlainText);
    subtitle->setWordWrap(true);
    subtitle->setAlignment(Qt::AlignCenter);
    subtitle->setFixedWidth(300);
    subtitle->setFont(pixelFont(font(), 11));
    setColour(subtitle, QPalette::WindowText, SystemColors::secondaryLabel());
    stack->addWidget(subtitle, 0, Qt::AlignHCenter);

    const auto makeField = [&](QWidget *parent, const QString &objectName, const QString &placeholder,
                               const QString &name) {
        auto *field = new QLineEdit(parent);
        field->setObjectName(objectName);
        field->setPlaceholderText(placeholder);
        field->setAccessibleName(name);
        field->setFont(pixelFont(font(), 14));
        return field;
    };

    // The row spans the same column as the fields below it; the phone field takes what the
    // button leaves (185 of 298).
    auto *phoneRowWidget = new QWidget(content);
    phoneRowWidget->setFixedWidth(columnWidth);
    auto *phoneRow = new QHBoxLayout(phoneRowWidget);
    phoneRow->setContentsMargins(0, 0, 0, 0);
    phoneRow->setSpacing(8);
    m_phone = makeField(phoneRowWidget, QStringLiteral("phone"), QStringLiteral("手机号"), QStringLiteral("手机号"));
    m_phone->setMinimumWidth(185);
    m_phone->setInputMethodHints(Qt::ImhDialableCharactersOnly);
    m_sendButton = new QPushButton(QStringLiteral("获取验证码"), phoneRowWidget);
    m_sendButton->setObjectName(QStringLiteral("sendButton"));
    m_sendButton->setAutoDefault(false);
    m_sendButton->setFixedWidth(105);
    m_sendButton->setMinimumHeight(m_phone->sizeHint().height());
    phoneRow->addWidget(m_phone, 1);
    phoneRow->addWidget(m_sendButton);
    stack->addWidget(phoneRowWidget, 0, Qt::AlignHCenter);

    m_code = makeField(content, QStringLiteral("code"), QStringLiteral("短信验证码"), QStringLiteral("短信验证码"));
    m_code->setFixedWidth(columnWidth);
    m_code->setInputMethodHints(Qt::ImhDigitsOnly);
    stack->addWidget(m_code, 0, Qt::AlignHCenter);

    // Hidden widgets take no room in the layout until the first-time step shows this one.
    m_nickname = makeField(content, QStringLiteral("nickname"), QStringLiteral("首次登录时填写昵称"),
                           QStringLiteral("昵称"));
    m_nickname->setFixedWidth(columnWidth);
    m_nickname->hide();
    stack->addWidget(m_nickname, 0, Qt::AlignHCenter);

    // Error texts come from the service and can be long: they wrap within the column instead of
    // widening the window (see showMessage for the height).
    m_message = new QLabel(content);
    m_message->setObjectName(QStringLiteral("message"));
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    m_message->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_message->setFont(pixelFont(font(), 10));
    m_message->setFixedWidth(columnWidth);
    setColour(m_message, QPalette::WindowText, SystemColors::red());
    stack->addWidget(m_message, 0, Qt::AlignHCenter);
    fitMessageHeight();

    m_loginButton = new QPushButton(QStringLiteral("进入Quillpost"), content);
    m_loginButton->setObjectName(QStringLiteral("loginButton"));
    m_loginButton->setAutoDefault(false);
    m_loginButton->setFixedWidth(columnWidth);
    m_loginButton->setMinimumHeight(m_phone->sizeHint().height());
    setColour(m_loginButton, QPalette::ButtonText, SystemColors::rgba(0.16, 0.39, 0.30, 1.0));
    stack->addWidget(m_loginButton, 0, Qt::AlignHCenter);

    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(20, 20, 20, 20);
    root->addStretch(1);
    root->addWidget(content, 0, Qt::AlignHCenter);
    root->addStretch(1);

    connect(m_sendButton, &QPushButton::clicked, this, &LoginViewController::sendCode);
    connect(m_loginButton, &QPushButton::clicked, this, &LoginViewController::login);

    setFocusProxy(m_phone);
}

void LoginViewController::sendCode()
{
    if (!m_sendButton->isEnabled())
        return;
    clearMessage();
    m_sendButton->setEnabled(false);
    m_api->sendCode(m_phone->text(), this, [this](Outcome<Done> outcome) {
        if (outcome.ok()) {
            showMessage(QStringLiteral("验证码已发送"), informationColour());
            startCountdown(resendWaitSeconds);
            m_code->setFocus(Qt::OtherFocusReason);
            return;
        }
        // The service says how long to wait in its error text ("请 45 秒后再试"): count that down
        // on the button instead of showing the text.
        const QString description = outcome.failure().description();
        if (const std::optional<qint64> seconds = waitSecondsIn(description)) {
            clearMessage();
            startCountdown(*seconds);
        } else {
            showMessage(description, SystemColors::red());
            m_sendButton->setEnabled(true);
        }
    });
}

void LoginViewController::startCountdown(qint64 seconds)
{
    m_countdownTimer->stop();
    m_countdown = std::max<qint64>(seconds, 1);
    m_sendButton->setEnabled(false);
    m_sendButton->setText(QString::number(m_countdown) + QStringLiteral(" 秒后重发"));
    m_countdownTimer->start();
}

void LoginViewController::tickCountdown()
{
    if (!m_countdownTimer->isActive())
        return;
    --m_countdown;
    if (m_countdown > 0) {
        m_sendButton->setText(QString::number(m_countdown) + QStringLiteral(" 秒后重发"));
        return;
    }
    m_countdownTimer->stop();
    m_sendButton->setText(QStringLiteral("重新获取"));
    m_sendButton->setEnabled(true);
}

void LoginViewController::login()
{
    if (!m_loginButton->isEnabled())
        return;
    clearMessage();
    m_loginButton->setEnabled(false);
    const auto apply = [this](Outcome<LoginResponse> outcome) {
        if (!outcome.ok()) {
            loginFailed(outcome.failure().description());
            return;
        }
        const LoginResponse &reply = outcome.value();
        if (reply.requiresNickname.value_or(false)) {
            // First use of this account: ask for a nickname and sign in again with it. A token
            // in this reply is not kept.
            m_nickname->show();
            m_nickname->setFocus(Qt::OtherFocusReason);
            showMessage(QStringLiteral("第一次使用，请设置昵称"), informationColour());
            m_loginButton->setText(QStringLiteral("保存昵称并进入"));
            m_loginButton->setEnabled(true);
            return;
        }
        // A token that is empty, or that cannot be sent in a request header, cannot authorise
        // anything: signing in with it would only fail at the next request.
        if (!reply.token || reply.token->isEmpty() || !APIClient::fitsInHeader(*reply.token) || !reply.user) {
            loginFailed(APIError{QStringLiteral("登录信息不完整")}.description());
            return;
        }
        m_api->token = *reply.token;
        // The session is entered once the token is stored, or known not to be: a token that could
        // not be stored works for this run only, and the user is told so before going on.
        m_store->save(*reply.token, this, [this, user = *reply.user](bool saved) {
            if (saved) {
                enter(user);
                return;
            }
            showMessage(QStringLiteral("无法保存登录状态，下次启动需要重新登录"), SystemColors::orange());
            QTimer::singleShot(unsavedNoticeTime, this, [this, user] { enter(user); });
        });
    };
    m_api->login(m_phone->text(), m_code->text(), m_nickname->text(), this, apply);
}

void LoginViewController::showRestoreWaiting(bool waiting)
{
    if (waiting)
        showMessage(restoreWaitingText, SystemColors::orange());
    else if (m_message->text() == restoreWaitingText)
        clearMessage();
}

void LoginViewController::enter(const Profile &user)
{
    // The host usually replaces (and deletes) this screen from inside the callback, so the
    // callback is copied out of the screen and nothing of the screen is touched afterwards.
    const std::function<void(Profile)> onLogin = m_onLogin;
    const Profile copy = user;
    if (onLogin)
        onLogin(copy);
}

void LoginViewController::loginFailed(const QString &description)
{
    showMessage(description, SystemColors::red());
    m_loginButton->setEnabled(true);
}

void LoginViewController::showMessage(const QString &text, const QColor &colour)
{
    setColour(m_message, QPalette::WindowText, colour);
    m_message->setText(text);
    fitMessageHeight();
}

void LoginViewController::clearMessage()
{
    m_message->clear();
    fitMessageHeight();
}

void LoginViewController::fitMessageHeight()
{
    // The nested layouts do not pass the wrapped height on, so the line is sized here: one line
    // while empty (the screen does not jump when a text appears), at most four for a long text.
    const int line = m_message->fontMetrics().lineSpacing();
    const int wanted = m_message->text().isEmpty() ? line : m_message->heightForWidth(columnWidth);
    m_message->setFixedHeight(std::clamp(wanted, line, maxMessageLines * line));
}

void LoginViewController::keyPressEvent(QKeyEvent *event)
{
    // Return signs in wherever the focus is on this screen: text fields and buttons pass the key
    // on to here (neither button is a default button), so it never requests a code.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        login();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace quillpost
