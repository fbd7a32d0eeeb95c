#include "service/APIClient.h"
#include "signin/LoginViewController.h"
#include "support/FakeSecretStore.h"
#include "support/TestHttpServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace quillpost;
using quillpost::test::ScriptedReply;

namespace {

const QByteArray user = R"({"phone":"138","nickname":"小明"})";

QByteArray errorBody(const QString &text) { return QJsonDocument(QJsonObject{{"error", text}}).toJson(); }

// One screen against its own scripted service.
struct Harness
{
    test::TestHttpServer server;
    APIClient api{server.origin(), std::nullopt};
    test::FakeSecretStore store;
    QList<Profile> logins;
    LoginViewController screen{&api, &store, [this](Profile profile) { logins.append(profile); }};

    template<typename T = QLineEdit>
    T *get(const char *name) { return screen.findChild<T *>(QLatin1String(name)); }
    QString message() { return get<QLabel>("message")->text(); }
    QJsonObject body(qsizetype i) const { return QJsonDocument::fromJson(server.requests().at(i).body).object(); }
    bool touchedSignIn() const { return !logins.isEmpty() || store.saves > 0 || api.token; }
    void reply(int status, const QByteArray &json, const char *button)
    {
        server.enqueue(ScriptedReply::json(status, json));
        get<QPushButton>(button)->click();
    }
};

} // namespace

class LoginViewControllerTest : public QObject
{
    Q_OBJECT

private slots:
    // The wait time comes from the service's error text: the first run of ASCII digits, when the
    // text has "秒". It is counted down on the button one tick at a time. (Texts without "秒" or
    // without ASCII digits give none: fuzzreplay_waittime checks that on its corpus.)
    void sendCodeCountsDown_data()
    {
        QTest::addColumn<QString>("error"); // empty: the code was sent
        QTest::addColumn<int>("seconds");   // 0: no countdown, the text is shown instead
        QTest::newRow("sent") << "" << 60;
        QTest::newRow("seconds") << "请 45 秒后再试" << 45;
        QTest::newRow("no 秒") << "请 45 分钟后再试" << 0;
        QTest::newRow("first value wins") << "请 1 分 30 秒后再试" << 1;
        QTest::newRow("zero waits one") << "0 秒" << 1;
        QTest::newRow("CJK numeral joins its run") << "请 1万 秒或 30 秒后再试" << 30;
        QTest::newRow("overflow skipped") << "9223372036854775808 秒 5" << 5;
    }
    void sendCodeCountsDown()
    {
        QFETCH(QString, error);
        QFETCH(int, seconds);
        Harness h;
        h.get("phone")->setText(QStringLiteral(" 138 "));
        h.reply(error.isEmpty() ? 200 : 429, error.isEmpty() ? R"({"sent":true})" : errorBody(error), "sendButton");
        auto *send = h.get<QPushButton>("sendButton");
        QTRY_VERIFY(send->isEnabled() || h.screen.countdown() > 0);
        QCOMPARE(h.body(0), QJsonObject({{"phone", " 138 "}}));
        QCOMPARE(h.message(), error.isEmpty() ? QStringLiteral("验证码已发送") : seconds ? QString() : error);
        for (int left = seconds; left >= 1; --left) {
            QCOMPARE(send->text(), QStringLiteral("%1 秒后重发").arg(left));
            QVERIFY(!send->isEnabled());
            h.screen.tickCountdown();
        }
        QCOMPARE(send->text(), seconds ? QStringLiteral("重新获取") : QStringLiteral("获取验证码"));
        QVERIFY(send->isEnabled());
    }

    void firstTimeStepThenSignIn()
    {
        Harness h;
        h.get("code")->setText(QStringLiteral(" 1234"));
        h.reply(200, R"({"requiresNickname":true,"token":"early","user":)" + user + "}", "loginButton");
        QTRY_COMPARE(h.message(), QStringLiteral("第一次使用，请设置昵称"));
        QVERIFY(!h.touchedSignIn());

        // A failure keeps the step and what was typed.
        h.get("nickname")->setText(QStringLiteral("小明"));
        h.reply(409, errorBody("昵称已被占用"), "loginButton");
        QTRY_COMPARE(h.message(), QStringLiteral("昵称已被占用"));
        QVERIFY(!h.get("nickname")->isHidden());
        QCOMPARE(h.get<QPushButton>("loginButton")->text(), QStringLiteral("保存昵称并进入"));

        h.reply(200, R"({"token":"tok","user":)" + user + "}", "loginButton");
        QTRY_COMPARE(h.logins.size(), 1);
        QCOMPARE(h.body(2), QJsonObject({{"phone", ""}, {"code", " 1234"}, {"nickname", "小明"}}));
        QCOMPARE(h.logins.at(0), (Profile{QStringLiteral("138"), QStringLiteral("小明"), std::nullopt}));
        QCOMPARE(h.api.token, std::optional<QString>("tok"));
        QCOMPARE(h.store.stored, std::optional<QString>("tok"));
        QVERIFY(!h.get<QPushButton>("loginButton")->isEnabled()); // Return cannot sign in twice
    }

    // The session opens once the store has answered; when it gives up, the user is told that
    // the session will not be remembered, and it still opens for this run.
    void unsavedSessionIsSaid()
    {
        Harness h;
        h.store.answers = false;
        h.reply(200, R"({"token":"tok","user":)" + user + "}", "loginButton");
        QTRY_COMPARE(h.store.pending(), 1);
        QVERIFY(h.logins.isEmpty() && !h.get<QPushButton>("loginButton")->isEnabled());
        h.store.giveUp();
        QTRY_COMPARE(h.message(), QStringLiteral("无法保存登录状态，下次启动需要重新登录"));
        QVERIFY(h.logins.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(h.logins.size(), 1, 10000);
        QCOMPARE(h.api.token, std::optional<QString>("tok"));
        QVERIFY(!h.store.stored);
    }

    // Also: Return or Enter anywhere signs in, and never requests a code.
    void loginFailure_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("from"); // the widget given the key
        QTest::addColumn<int>("key");
        const QByteArray emptyToken = R"({"token":"","user":)" + user + "}";
        QTest::newRow("no user") << QByteArray(R"({"token":"t"})") << "登录信息不完整" << "phone" << int(Qt::Key_Return);
        QTest::newRow("no token") << R"({"user":)" + user + "}" << "登录信息不完整" << "code" << int(Qt::Key_Enter);
        QTest::newRow("empty token") << emptyToken << "登录信息不完整" << "sendButton" << int(Qt::Key_Return);
        QTest::newRow("token with line break") << R"({"token":"t\r\nX-Other: 1","user":)" + user + "}"
                                               << "登录信息不完整" << "code" << int(Qt::Key_Return);
        QTest::newRow("service error") << errorBody("验证码错误") << "验证码错误" << "loginButton" << int(Qt::Key_Space);
    }
    void loginFailure()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        QFETCH(QString, from);
        QFETCH(int, key);
        Harness h;
        h.server.enqueue(ScriptedReply::json(body.contains("error") ? 401 : 200, body));
        QTest::keyClick(h.get<QWidget>(from.toLatin1()), Qt::Key(key));
        QTRY_VERIFY(h.get<QPushButton>("loginButton")->isEnabled());
        QCOMPARE(h.message(), message);
        QCOMPARE(h.server.requests().size(), 1);
        QCOMPARE(h.server.requests().at(0).target, QByteArray("/api/auth/phone"));
        QVERIFY(!h.touchedSignIn());
    }

    // A reply that never makes it, or that cannot be read, leaves the screen usable: the reason
    // is shown, the button works again, no countdown starts and nothing is signed in.
    void networkFailures_data()
    {
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<ScriptedReply>("reply");
        QTest::addColumn<QString>("message"); // the start of the message; empty: any text
        ScriptedReply dropped;
        dropped.mode = ScriptedReply::Mode::Drop;
        const ScriptedReply malformed = ScriptedReply::json(200, "{\"sent\":");
        const QString unreadable = QStringLiteral("服务器返回的数据无法识别");
        for (const QByteArray button : {"sendButton", "loginButton"}) {
            QTest::addRow("%s, connection dropped", button.constData()) << button << dropped << QString();
            QTest::addRow("%s, malformed JSON", button.constData()) << button << malformed << unreadable;
        }
    }
    void networkFailures()
    {
        QFETCH(QByteArray, button);
        QFETCH(ScriptedReply, reply);
        QFETCH(QString, message);
        Harness h;
        h.server.enqueue(reply);
        auto *pressed = h.get<QPushButton>(button.constData());
        const QString title = pressed->text();
        pressed->click();
        QVERIFY(!pressed->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(pressed->isEnabled(), 10000);
        QVERIFY2(!h.message().isEmpty() && h.message().startsWith(message), qPrintable(h.message()));
        QCOMPARE(pressed->text(), title);
        QCOMPARE(h.screen.countdown(), 0);
        QVERIFY(!h.touchedSignIn());
    }
};

QTEST_MAIN(LoginViewControllerTest)
#include "tst_loginviewcontroller.moc"
