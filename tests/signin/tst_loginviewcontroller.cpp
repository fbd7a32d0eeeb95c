#include "platform/SystemColors.h"
#include "service/APIClient.h"
#include "signin/LoginViewController.h"
#include "support/FakeSecretStore.h"
#include "support/TestHttpServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace quillpost;
using quillpost::test::ScriptedReply;

Q_DECLARE_METATYPE(std::optional<qint64>)

namespace {

const QColor infoColour = SystemColors::rgba(0.30, 0.48, 0.40, 1.0);
const QByteArray user = R"({"phone":"138","nickname":"小明"})";

QByteArray errorBody(const QString &text)
{
    return QJsonDocument(QJsonObject{{"error", text}}).toJson(QJsonDocument::Compact);
}

// One screen against its own scripted service.
struct Harness
{
    test::TestHttpServer server;
    APIClient api{server.origin(), std::nullopt};
    test::FakeSecretStore store;
    QList<Profile> logins;
    std::unique_ptr<LoginViewController> screen = std::make_unique<LoginViewController>(
        &api, &store, [this](Profile profile) { logins.append(profile); });

    template<typename T = QWidget>
    T *get(const char *name) const { return screen->findChild<T *>(QLatin1String(name)); }
    QLineEdit *field(const char *name) const { return get<QLineEdit>(name); }
    QPushButton *button(const char *name) const { return get<QPushButton>(name); }
    QLabel *message() const { return get<QLabel>("message"); }
    QColor messageColour() const { return message()->palette().color(QPalette::WindowText); }
    QRect rectOf(QWidget *w) const { return {w->mapTo(screen.get(), QPoint(0, 0)), w->size()}; }
    QJsonObject body(qsizetype i) const { return QJsonDocument::fromJson(server.requests().at(i).body).object(); }

    bool show()
    {
        screen->resize(420, 430);
        screen->show();
        return QTest::qWaitForWindowActive(screen.get());
    }
    void reply(int status, const QByteArray &json, const char *buttonName)
    {
        server.enqueue(ScriptedReply::json(status, json));
        button(buttonName)->click();
    }
};

} // namespace

class LoginViewControllerTest : public QObject
{
    Q_OBJECT

private slots:
    void secondsIn_data();
    void secondsIn();
    void layout();
    void sendCodeCountsDown();
    void sendCodeFailure_data();
    void sendCodeFailure();
    void returnKeySignsIn_data();
    void returnKeySignsIn();
    void loginSucceeds();
    void firstTimeStep();
    void loginFailure_data();
    void loginFailure();
    void nothingRunsAfterScreenIsGone();
};

void LoginViewControllerTest::secondsIn_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::optional<qint64>>("expected");
    using S = std::optional<qint64>;
    QTest::newRow("seconds") << QStringLiteral("请 45 秒后再试") << S(45);
    QTest::newRow("no 秒") << QStringLiteral("请 45 分钟后再试") << S();
    QTest::newRow("秒 without number") << QStringLiteral("请稍等几秒") << S();
    QTest::newRow("first value wins") << QStringLiteral("请 1 分 30 秒后再试") << S(1);
    QTest::newRow("zero, leading zeros") << QStringLiteral("0 秒 007") << S(0);
    QTest::newRow("full-width digits") << QStringLiteral("请４５秒后再试") << S();
    QTest::newRow("mixed run skipped") << QStringLiteral("4５秒，或8秒") << S(8);
    QTest::newRow("numeral outside BMP joins run") << QString::fromUcs4(U"4\U0001D7D3 秒") << S();
    QTest::newRow("largest 64-bit") << QStringLiteral("9223372036854775807秒") << S(9223372036854775807LL);
    QTest::newRow("overflow skipped") << QStringLiteral("9223372036854775808 秒 5") << S(5);
}

void LoginViewControllerTest::secondsIn()
{
    QFETCH(QString, text);
    QFETCH(std::optional<qint64>, expected);
    QCOMPARE(LoginViewController::secondsIn(text), expected);
}

void LoginViewControllerTest::layout()
{
    Harness h;
    QVERIFY(h.show());
    QVERIFY(h.field("phone")->hasFocus());
    QVERIFY(h.field("nickname")->isHidden());
    QCOMPARE(h.messageColour(), SystemColors::red());

    // A centred 298-wide column; the phone row lines up with it; the hidden nickname field
    // leaves no gap above the message line.
    const QRect code = h.rectOf(h.field("code"));
    QCOMPARE(code.width(), 298);
    QCOMPARE(code.center().x(), h.screen->rect().center().x());
    QCOMPARE(h.rectOf(h.field("phone")).left(), code.left());
    QCOMPARE(h.rectOf(h.button("sendButton")).right(), code.right());
    QCOMPARE(h.rectOf(h.message()).top() - code.bottom() - 1, 9);

    // A long service text wraps within the column; a huge one is cut at four lines so that the
    // button stays on the screen.
    const int line = h.message()->fontMetrics().lineSpacing();
    const QString sentence = QStringLiteral("服务暂时不可用，请稍后再试。");
    h.reply(503, errorBody(sentence.repeated(3)), "loginButton");
    QTRY_VERIFY(h.button("loginButton")->isEnabled());
    QTRY_VERIFY(h.message()->height() >= 2 * line);
    QVERIFY(h.rectOf(h.button("loginButton")).top() > h.rectOf(h.message()).bottom());
    h.reply(503, errorBody(sentence.repeated(200)), "loginButton");
    QTRY_VERIFY(h.button("loginButton")->isEnabled());
    QTRY_COMPARE(h.message()->height(), LoginViewController::maxMessageLines * line);
    QVERIFY(h.screen->rect().contains(h.rectOf(h.button("loginButton"))));
}

void LoginViewControllerTest::sendCodeCountsDown()
{
    Harness h;
    QVERIFY(h.show());
    h.field("phone")->setText(QStringLiteral(" 138 0000 "));
    h.reply(200, R"({"sent":false})", "sendButton");
    QPushButton *send = h.button("sendButton");
    QVERIFY(!send->isEnabled());
    QTRY_COMPARE(h.message()->text(), QStringLiteral("验证码已发送"));

    QCOMPARE(h.server.requests().at(0).target, QByteArray("/api/auth/sms/send"));
    QCOMPARE(h.body(0), QJsonObject({{"phone", " 138 0000 "}}));
    QCOMPARE(h.messageColour(), infoColour);
    QVERIFY(h.field("code")->hasFocus());
    QCOMPARE(h.get<QTimer>("countdownTimer")->interval(), 1000);
    for (int left = 60; left >= 1; --left) {
        QCOMPARE(send->text(), QStringLiteral("%1 秒后重发").arg(left));
        QVERIFY(!send->isEnabled());
        h.screen->tickCountdown();
    }
    QCOMPARE(send->text(), QStringLiteral("重新获取"));
    QVERIFY(send->isEnabled());
    QVERIFY(!h.get<QTimer>("countdownTimer")->isActive());
}

void LoginViewControllerTest::sendCodeFailure_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("message"); // null: any non-empty description
    QTest::addColumn<QString>("title");
    const QString idle = QStringLiteral("获取验证码");
    QTest::newRow("wait time") << 429 << errorBody("请 45 秒后再试") << QString("") << QString("45 秒后重发");
    QTest::newRow("zero seconds") << 429 << errorBody("0 秒") << QString("") << QString("1 秒后重发");
    QTest::newRow("number without 秒") << 400 << errorBody("号码 138 无效") << QString("号码 138 无效") << idle;
    QTest::newRow("full-width digits") << 429 << errorBody("请４５秒后再试") << QString("请４５秒后再试") << idle;
    QTest::newRow("no error text") << 500 << QByteArray("<html/>") << QString("请求失败（500）") << idle;
    QTest::newRow("reply without sent") << 200 << QByteArray("{}") << QString() << idle;
}

void LoginViewControllerTest::sendCodeFailure()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, message);
    QFETCH(QString, title);

    Harness h;
    h.reply(status, body, "sendButton");
    QTRY_VERIFY(h.button("sendButton")->isEnabled() || h.get<QTimer>("countdownTimer")->isActive());
    QCOMPARE(h.button("sendButton")->text(), title);
    QCOMPARE(h.button("sendButton")->isEnabled(), title == QStringLiteral("获取验证码"));
    if (!message.isEmpty())
        QCOMPARE(h.messageColour(), SystemColors::red());
    if (message.isNull())
        QVERIFY(!h.message()->text().isEmpty());
    else
        QCOMPARE(h.message()->text(), message);
}

void LoginViewControllerTest::returnKeySignsIn_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");
    QTest::newRow("phone") << "phone" << int(Qt::Key_Return);
    QTest::newRow("code, keypad Enter") << "code" << int(Qt::Key_Enter);
    QTest::newRow("send button") << "sendButton" << int(Qt::Key_Return);
}

void LoginViewControllerTest::returnKeySignsIn()
{
    QFETCH(QString, focus);
    QFETCH(int, key);
    Harness h;
    QVERIFY(h.show());
    h.server.enqueue(ScriptedReply::json(400, errorBody("验证码错误")));
    QWidget *target = h.get(focus.toLatin1());
    target->setFocus();
    QTest::keyClick(target, Qt::Key(key));
    QVERIFY(!h.button("loginButton")->isEnabled());
    QTRY_COMPARE(h.message()->text(), QStringLiteral("验证码错误"));
    QCOMPARE(h.server.requests().size(), 1);
    QCOMPARE(h.server.requests().at(0).target, QByteArray("/api/auth/phone"));
}

void LoginViewControllerTest::loginSucceeds()
{
    Harness h;
    QVERIFY(h.show());
    h.field("phone")->setText(QStringLiteral("138"));
    h.field("code")->setText(QStringLiteral(" 1234"));
    h.reply(200, R"({"token":"tok","user":)" + user + "}", "loginButton");
    QTRY_COMPARE(h.logins.size(), 1);
    QCOMPARE(h.body(0), QJsonObject({{"phone", "138"}, {"code", " 1234"}, {"nickname", ""}}));
    QCOMPARE(h.logins.at(0), (Profile{QStringLiteral("138"), QStringLiteral("小明"), std::nullopt}));
    QCOMPARE(h.api.token, std::optional<QString>("tok"));
    QCOMPARE(h.store.stored, std::optional<QString>("tok"));

    // Finished: Return cannot sign in a second time (a later code request shows what was sent).
    QVERIFY(!h.button("loginButton")->isEnabled());
    QTest::keyClick(h.field("code"), Qt::Key_Return);
    h.reply(200, R"({"sent":true})", "sendButton");
    QVERIFY(h.server.waitForRequests(2));
    QCOMPARE(h.server.requests().at(1).target, QByteArray("/api/auth/sms/send"));
    QTRY_COMPARE(h.button("sendButton")->text(), QStringLiteral("60 秒后重发"));
    QCOMPARE(h.server.requests().size(), 2);
}

void LoginViewControllerTest::firstTimeStep()
{
    Harness h;
    QVERIFY(h.show());
    h.field("code")->setText(QStringLiteral("1234"));
    h.reply(200, R"({"requiresNickname":true,"token":"early","user":)" + user + "}", "loginButton");
    QTRY_COMPARE(h.message()->text(), QStringLiteral("第一次使用，请设置昵称"));
    QCOMPARE(h.messageColour(), infoColour);
    QVERIFY(h.field("nickname")->isVisible() && h.field("nickname")->hasFocus());
    QCOMPARE(h.button("loginButton")->text(), QStringLiteral("保存昵称并进入"));
    QVERIFY(h.button("loginButton")->isEnabled());
    QVERIFY(h.logins.isEmpty() && h.store.saves == 0 && !h.api.token);

    // A failure keeps the step, the fields and the title.
    h.field("nickname")->insert(QStringLiteral("小明"));
    h.reply(409, errorBody("昵称已被占用"), "loginButton");
    QTRY_COMPARE(h.message()->text(), QStringLiteral("昵称已被占用"));
    QCOMPARE(h.body(1), QJsonObject({{"phone", ""}, {"code", "1234"}, {"nickname", "小明"}}));
    QVERIFY(h.field("nickname")->isVisible());
    QCOMPARE(h.field("nickname")->text(), QStringLiteral("小明"));
    QCOMPARE(h.button("loginButton")->text(), QStringLiteral("保存昵称并进入"));
    QVERIFY(h.button("loginButton")->isEnabled());

    h.reply(200, R"({"token":"tok","user":)" + user + "}", "loginButton");
    QTRY_COMPARE(h.logins.size(), 1);
}

void LoginViewControllerTest::loginFailure_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("message"); // null: any non-empty description
    const QString incomplete = QStringLiteral("登录信息不完整");
    QTest::newRow("empty reply") << 200 << QByteArray("{}") << incomplete;
    QTest::newRow("no user") << 200 << QByteArray(R"({"requiresNickname":false,"token":"t"})") << incomplete;
    QTest::newRow("no token") << 200 << QByteArray(R"({"user":)" + user + "}") << incomplete;
    QTest::newRow("empty token") << 200 << QByteArray(R"({"token":"","user":)" + user + "}") << incomplete;
    QTest::newRow("service error") << 401 << errorBody("验证码错误") << QStringLiteral("验证码错误");
    QTest::newRow("undecodable user") << 200 << QByteArray(R"({"token":"t","user":{"phone":"1"}})") << QString();
}

void LoginViewControllerTest::loginFailure()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, message);
    Harness h;
    h.field("code")->setText(QStringLiteral("1234"));
    h.reply(status, body, "loginButton");
    QTRY_VERIFY(h.button("loginButton")->isEnabled());
    if (message.isNull())
        QVERIFY(!h.message()->text().isEmpty());
    else
        QCOMPARE(h.message()->text(), message);
    QCOMPARE(h.messageColour(), SystemColors::red());
    QCOMPARE(h.field("code")->text(), QStringLiteral("1234"));
    QVERIFY(h.logins.isEmpty() && h.store.saves == 0 && !h.api.token);
}

void LoginViewControllerTest::nothingRunsAfterScreenIsGone()
{
    Harness h;
    h.reply(429, errorBody("请 45 秒后再试"), "sendButton");
    QTRY_VERIFY(h.get<QTimer>("countdownTimer")->isActive());
    const QPointer<QTimer> timer = h.get<QTimer>("countdownTimer");

    // A sign-in whose reply arrives after the screen is gone signs nobody in.
    QSignalSpy finished(h.api.findChild<QNetworkAccessManager *>(), &QNetworkAccessManager::finished);
    h.reply(200, R"({"token":"late","user":)" + user + "}", "loginButton");
    h.screen.reset();
    QVERIFY(timer.isNull());
    QVERIFY(finished.wait());
    QVERIFY(h.logins.isEmpty() && h.store.saves == 0 && !h.api.token);
}

QTEST_MAIN(LoginViewControllerTest)
#include "tst_loginviewcontroller.moc"
