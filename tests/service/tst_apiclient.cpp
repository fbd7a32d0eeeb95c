#include "service/APIClient.h"
#include "service/QtTranslations.h"
#include "support/TestHttpServer.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTest>

using namespace quillpost;
using quillpost::test::ScriptedReply;
using quillpost::test::TestHttpServer;

namespace {

// Runs one request and waits for its outcome.
template<typename Record, typename Start>
Outcome<Record> await(Start start)
{
    std::optional<Outcome<Record>> result;
    QObject receiver;
    start(&receiver, [&](Outcome<Record> outcome) { result = std::move(outcome); });
    if (!QTest::qWaitFor([&] { return result.has_value(); }, 10000))
        qFatal("request did not finish");
    return *result;
}

Outcome<Profile> fetchProfile(APIClient &client)
{
    return await<Profile>([&](QObject *receiver, auto done) {
        client.call<Profile>(QStringLiteral("api/profile"), "GET", std::nullopt, receiver, done);
    });
}

QString messageOf(const Failure &failure)
{
    return failure.apiError() ? failure.apiError()->message : QString();
}

} // namespace

class APIClientTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void headersFollowTheToken_data();
    void headersFollowTheToken();
    void bodiesKeepTheirKeyOrder();
    void statusHandling_data();
    void statusHandling();
    void successBodyThatDoesNotDecode_data();
    void successBodyThatDoesNotDecode();
    void sendCodeIgnoresSentFlag();
    void saveReturnsTheServiceClip();
    void idsStayOneSegment_data();
    void idsStayOneSegment();
    void rejectedPathSendsNothing_data();
    void rejectedPathSendsNothing();
    void tokenWithLineBreakIsNotSent();
    void redirectIsNotFollowed();
    void oversizedReplyIsAborted_data();
    void oversizedReplyIsAborted();
    void idleTimeout();
    void transportErrorsReadInChinese();
    void callbackOfDestroyedReceiverNeverRuns();
    void serviceOrigins_data();
    void serviceOrigins();
};

void APIClientTest::initTestCase()
{
    QVERIFY(installQtTranslations(*QCoreApplication::instance()));
}

void APIClientTest::headersFollowTheToken_data()
{
    QTest::addColumn<std::optional<QString>>("token");
    QTest::addColumn<bool>("hasAuthorization");
    QTest::addColumn<QByteArray>("authorization");

    QTest::newRow("no token") << std::optional<QString>() << false << QByteArray();
    QTest::newRow("empty token") << std::optional<QString>(QString()) << true << QByteArray("Bearer ");
    QTest::newRow("token") << std::optional<QString>(QStringLiteral("tök-1")) << true
                           << QByteArray("Bearer t\xc3\xb6k-1");
}

void APIClientTest::headersFollowTheToken()
{
    QFETCH(std::optional<QString>, token);
    TestHttpServer server;
    server.enqueue(ScriptedReply::json(200, R"({"phone":"1","nickname":"n"})"));
    APIClient client(server.origin(), token);

    QVERIFY(fetchProfile(client).ok());
    const auto &request = server.requests().at(0);
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.target, QByteArray("/api/profile"));
    QCOMPARE(request.header("content-type"), QByteArray("application/json"));
    QTEST(request.hasHeader("authorization"), "hasAuthorization");
    QTEST(request.header("authorization"), "authorization");
    QVERIFY(request.body.isEmpty());
    QVERIFY(request.header("content-length").toInt() == 0);
}

void APIClientTest::bodiesKeepTheirKeyOrder()
{
    TestHttpServer server;
    server.setHandler([](const auto &) { return ScriptedReply::json(200, R"({"sent":true})"); });
    APIClient client(server.origin(), std::nullopt);

    await<LoginResponse>([&](QObject *receiver, auto done) {
        client.login(QStringLiteral("138"), QStringLiteral("12\"34"), QString(), receiver, done);
    });
    await<Done>([&](QObject *receiver, auto done) { client.sendCode(QStringLiteral("138"), receiver, done); });

    QCOMPARE(server.requests().at(0).method, QByteArray("POST"));
    QCOMPARE(server.requests().at(0).target, QByteArray("/api/auth/phone"));
    QCOMPARE(server.requests().at(0).body, QByteArray("{\"phone\":\"138\",\"code\":\"12\\\"34\",\"nickname\":\"\"}"));
    QCOMPARE(server.requests().at(1).target, QByteArray("/api/auth/sms/send"));
    QCOMPARE(server.requests().at(1).body, QByteArray(R"({"phone":"138"})"));
}

void APIClientTest::statusHandling_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("message");

    const QByteArray profile = R"({"phone":"1","nickname":"n"})";
    QTest::newRow("200") << 200 << profile << true << "";
    QTest::newRow("299 is success") << 299 << profile << true << "";
    QTest::newRow("300 is not") << 300 << profile << false << "请求失败（300）";
    QTest::newRow("401 with error text") << 401 << QByteArray(R"({"error":"登录已过期"})") << false << "登录已过期";
    QTest::newRow("empty error text") << 400 << QByteArray(R"({"error":""})") << false << "";
    QTest::newRow("error is a number") << 400 << QByteArray(R"({"error":5})") << false << "请求失败（400）";
    QTest::newRow("body is an array") << 422 << QByteArray(R"([{"error":"x"}])") << false << "请求失败（422）";
    QTest::newRow("no error key") << 409 << QByteArray(R"({"message":"x"})") << false << "请求失败（409）";
    QTest::newRow("html") << 500 << QByteArray("<html>oops</html>") << false << "请求失败（500）";
    QTest::newRow("no body") << 503 << QByteArray() << false << "请求失败（503）";
}

void APIClientTest::statusHandling()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    TestHttpServer server;
    server.enqueue(ScriptedReply::json(status, body));
    APIClient client(server.origin(), QStringLiteral("t"));

    const auto outcome = fetchProfile(client);
    QCOMPARE(outcome.ok(), ok);
    if (!ok) {
        QVERIFY(outcome.failure().apiError());
        QTEST(outcome.failure().description(), "message");
    }
    QCOMPARE(client.token, std::optional<QString>(QStringLiteral("t")));
}

void APIClientTest::successBodyThatDoesNotDecode_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("empty 200") << 200 << QByteArray();
    QTest::newRow("204") << 204 << QByteArray();
    QTest::newRow("missing nickname") << 200 << QByteArray(R"({"phone":"1"})");
}

void APIClientTest::successBodyThatDoesNotDecode()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    TestHttpServer server;
    server.enqueue(ScriptedReply::json(status, body));
    APIClient client(server.origin(), std::nullopt);

    const auto outcome = fetchProfile(client);
    QVERIFY(!outcome.ok());
    QVERIFY(outcome.failure().decodingError());
    QVERIFY(outcome.failure().description().startsWith(QStringLiteral("服务器返回的数据无法识别")));
}

void APIClientTest::sendCodeIgnoresSentFlag()
{
    TestHttpServer server;
    server.enqueue(ScriptedReply::json(200, R"({"sent":false})"));
    server.enqueue(ScriptedReply::json(200, R"({})"));
    APIClient client(server.origin(), std::nullopt);
    const auto send = [&](QObject *receiver, auto done) { client.sendCode(QStringLiteral("1"), receiver, done); };

    QVERIFY(await<Done>(send).ok());
    QVERIFY(await<Done>(send).failure().decodingError());
}

void APIClientTest::saveReturnsTheServiceClip()
{
    TestHttpServer server;
    server.enqueue(ScriptedReply::json(200, R"({"clip":{"id":"c1","title":"服务器的标题","updatedAt":"2"}})"));
    APIClient client(server.origin(), QStringLiteral("t"));
    Clip clip;
    clip.id = QStringLiteral("c1");
    clip.title = QStringLiteral("标题");
    clip.rawText = QStringLiteral("第一行\n第二行");
    clip.optimizedText = QString();
    clip.deviceName = QStringLiteral("never sent");

    const auto outcome
        = await<Clip>([&](QObject *receiver, auto done) { client.save(clip, receiver, done); });
    QVERIFY(outcome.ok());
    QCOMPARE(outcome.value().title, QStringLiteral("服务器的标题"));
    const auto &request = server.requests().at(0);
    QCOMPARE(request.method, QByteArray("PATCH"));
    QCOMPARE(request.target, QByteArray("/api/clips/c1"));
    QCOMPARE(QString::fromUtf8(request.body),
             QStringLiteral(R"({"title":"标题","rawText":"第一行\n第二行","optimizedText":""})"));
}

void APIClientTest::idsStayOneSegment_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QByteArray>("target");

    QTest::newRow("slash") << "a/b" << QByteArray("/api/clips/a%2Fb");
    QTest::newRow("dot dot slash") << "../profile" << QByteArray("/api/clips/..%2Fprofile");
    QTest::newRow("query") << "x?limit=1" << QByteArray("/api/clips/x%3Flimit%3D1");
    QTest::newRow("fragment") << "x#y" << QByteArray("/api/clips/x%23y");
    QTest::newRow("blank and Chinese") << "a b中" << QByteArray("/api/clips/a%20b%E4%B8%AD");
    QTest::newRow("percent") << "100%" << QByteArray("/api/clips/100%25");
}

void APIClientTest::idsStayOneSegment()
{
    QFETCH(QString, id);
    TestHttpServer server;
    server.enqueue(ScriptedReply::json(200, R"({"clip":{"id":"x"}})"));
    APIClient client(server.origin(), QStringLiteral("t"));
    Clip clip;
    clip.id = id;

    QVERIFY(await<Clip>([&](QObject *receiver, auto done) { client.save(clip, receiver, done); }).ok());
    QTEST(server.requests().at(0).target, "target");
}

void APIClientTest::rejectedPathSendsNothing_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("bad percent escape") << "api/clips/%zz";
    QTest::newRow("absolute URL to another host") << "http://127.0.0.2/api/profile";
    QTest::newRow("network-path reference") << "//127.0.0.2/api/profile";
    QTest::newRow("dot dot segment") << "api/clips/..";
    QTest::newRow("dot segment") << "api/clips/.";
    QTest::newRow("encoded dot dot") << "api/clips/%2E%2E";
}

void APIClientTest::rejectedPathSendsNothing()
{
    QFETCH(QString, path);
    TestHttpServer server;
    APIClient client(server.origin(), QStringLiteral("t"));

    const auto outcome = await<Profile>(
        [&](QObject *receiver, auto done) { client.call<Profile>(path, "GET", std::nullopt, receiver, done); });
    QCOMPARE(messageOf(outcome.failure()), QStringLiteral("请求地址无效"));
    QCoreApplication::processEvents();
    QVERIFY(server.requests().isEmpty());
}

void APIClientTest::tokenWithLineBreakIsNotSent()
{
    TestHttpServer server;
    APIClient client(server.origin(), QStringLiteral("t\r\nX-Injected: 1"));

    QVERIFY(!fetchProfile(client).ok());
    QCoreApplication::processEvents();
    QVERIFY(server.requests().isEmpty());
}

void APIClientTest::redirectIsNotFollowed()
{
    TestHttpServer elsewhere;
    TestHttpServer server;
    server.enqueue(ScriptedReply::redirect(302, elsewhere.origin().toString().toUtf8() + "/api/profile"));
    APIClient client(server.origin(), QStringLiteral("secret"));

    const auto outcome = fetchProfile(client);
    QCOMPARE(messageOf(outcome.failure()), QStringLiteral("请求失败（302）"));
    QCoreApplication::processEvents();
    QVERIFY(elsewhere.requests().isEmpty());
}

void APIClientTest::oversizedReplyIsAborted_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("announced by Content-Length") << int(ScriptedReply::Mode::Normal);
    QTest::newRow("chunked without length") << int(ScriptedReply::Mode::Chunked);
}

void APIClientTest::oversizedReplyIsAborted()
{
    QFETCH(int, mode);
    TestHttpServer server;
    ScriptedReply reply;
    reply.mode = ScriptedReply::Mode(mode);
    reply.fillerBytes = APIClient::maxReplyBytes + 1;
    server.enqueue(reply);
    APIClient client(server.origin(), std::nullopt);

    QCOMPARE(messageOf(fetchProfile(client).failure()), QStringLiteral("服务器返回的内容过大"));
}

void APIClientTest::idleTimeout()
{
    TestHttpServer server;
    ScriptedReply stall;
    stall.mode = ScriptedReply::Mode::Stall;
    server.enqueue(stall);
    APIClient client(server.origin(), std::nullopt);
    client.setIdleTimeout(std::chrono::milliseconds(300));

    const auto outcome = fetchProfile(client);
    QVERIFY(outcome.failure().transportError());
    QCOMPARE(outcome.failure().transportError()->code, QNetworkReply::TimeoutError);
}

void APIClientTest::transportErrorsReadInChinese()
{
    // A port that was just free: nothing listens there.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    APIClient client(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)), std::nullopt);

    const auto outcome = fetchProfile(client);
    QVERIFY(outcome.failure().transportError());
    QCOMPARE(outcome.failure().transportError()->code, QNetworkReply::ConnectionRefusedError);
    const QString text = outcome.failure().description();
    QVERIFY2(std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x4e00; }), qPrintable(text));
}

void APIClientTest::callbackOfDestroyedReceiverNeverRuns()
{
    TestHttpServer server;
    server.setHandler([](const auto &request) {
        auto reply = ScriptedReply::json(200, R"({"phone":"1","nickname":"n"})");
        reply.delay = std::chrono::milliseconds(request.target.endsWith("first") ? 50 : 150);
        return reply;
    });
    APIClient client(server.origin(), std::nullopt);

    bool firstRan = false;
    auto *gone = new QObject;
    client.call<Profile>(QStringLiteral("api/first"), "GET", std::nullopt, gone, [&](auto) { firstRan = true; });
    QVERIFY(server.waitForRequests(1));
    delete gone;
    // The second reply is sent after the first; once it has been handled, so has the first.
    const auto second = await<Profile>([&](QObject *receiver, auto done) {
        client.call<Profile>(QStringLiteral("api/second"), "GET", std::nullopt, receiver, done);
    });
    QVERIFY(second.ok());
    QVERIFY(!firstRan);
}

void APIClientTest::serviceOrigins_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("origin");

    QTest::newRow("https") << "https://clips.example.com" << "https://clips.example.com";
    QTest::newRow("https with slash and port") << "https://clips.example.com:8443/" << "https://clips.example.com:8443";
    QTest::newRow("http on loopback") << "http://127.0.0.1:8765" << "http://127.0.0.1:8765";
    QTest::newRow("http on localhost") << "http://localhost:1" << "http://localhost:1";
    QTest::newRow("http on IPv6 loopback") << "http://[::1]:8765" << "http://[::1]:8765";
    QTest::newRow("http elsewhere") << "http://clips.example.com" << "";
    QTest::newRow("http on a private address") << "http://192.168.1.2" << "";
    QTest::newRow("another scheme") << "ftp://127.0.0.1" << "";
    QTest::newRow("with a path") << "https://clips.example.com/api" << "";
    QTest::newRow("with user info") << "https://u:p@clips.example.com" << "";
    QTest::newRow("with a query") << "https://clips.example.com?x=1" << "";
    QTest::newRow("not a URL") << "clips" << "";
    QTest::newRow("empty") << "" << "";
}

void APIClientTest::serviceOrigins()
{
    QFETCH(QString, text);
    QFETCH(QString, origin);
    const auto url = makeServiceURL(text);
    QCOMPARE(url ? url->toString() : QString(), origin);
}

QTEST_GUILESS_MAIN(APIClientTest)
#include "tst_apiclient.moc"
