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

// Runs one request, started by `start` with a receiver and a callback, and waits for its outcome.
template<typename Record, typename Start>
Outcome<Record> await(Start start)
{
    std::optional<Outcome<Record>> result;
    QObject receiver;
    start(&receiver, [&](Outcome<Record> outcome) { result = outcome; });
    if (!QTest::qWaitFor([&] { return result.has_value(); }, 10000))
        qFatal("request did not finish");
    return *result;
}

Outcome<Profile> fetch(APIClient &client, const QString &path = QStringLiteral("api/profile"))
{
    return await<Profile>([&](QObject *receiver, auto done) { client.call<Profile>(path, "GET", std::nullopt, receiver, done); });
}

Outcome<Clip> save(APIClient &client, const Clip &clip)
{
    return await<Clip>([&](QObject *receiver, auto done) { client.save(clip, receiver, done); });
}

QString messageOf(const Failure &failure)
{
    return failure.apiError() ? failure.apiError()->message : QStringLiteral("<not an APIError>");
}

QUrl closedPort()
{
    QTcpServer probe; // a port that was just free: nothing listens there once it closes
    probe.listen(QHostAddress::LocalHost, 0);
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort()));
}

} // namespace

class APIClientTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(installQtTranslations(*QCoreApplication::instance())); }

    void headersFollowTheToken_data()
    {
        QTest::addColumn<std::optional<QString>>("token");
        QTest::addColumn<QByteArray>("authorization");
        QTest::newRow("no token") << std::optional<QString>() << QByteArray();
        QTest::newRow("token") << std::optional<QString>(QStringLiteral("tök")) << QByteArray("Bearer t\xc3\xb6k");
    }

    void headersFollowTheToken()
    {
        QFETCH(std::optional<QString>, token);
        QFETCH(QByteArray, authorization);
        TestHttpServer server;
        server.enqueue(ScriptedReply::json(200, R"({"phone":"1","nickname":"n"})"));
        APIClient client(server.origin(), token);

        QVERIFY(fetch(client).ok());
        const auto &request = server.requests().at(0);
        QCOMPARE(request.method + ' ' + request.target, QByteArray("GET /api/profile"));
        QCOMPARE(request.header("content-type"), QByteArray("application/json"));
        QCOMPARE(request.hasHeader("authorization"), token.has_value());
        // Qt 6.7 and later send a header value without its trailing white space.
        QCOMPARE(request.header("authorization").trimmed(), authorization.trimmed());
        QVERIFY(request.body.isEmpty());
    }

    // What a reply comes to: the record, the service's error text or a standard one, a decoding
    // failure, or a failure of the exchange (a redirect is not followed, a reply too large is
    // cut off, one that stalls times out). The token stays whatever happens.
    void outcomes_data()
    {
        QTest::addColumn<ScriptedReply>("reply");
        QTest::addColumn<QString>("message"); // empty: success, unless the status says otherwise
        const QByteArray profile = R"({"phone":"1","nickname":"n"})";
        const auto row = [](const char *name, const ScriptedReply &reply, const char *message) {
            QTest::newRow(name) << reply << QString::fromUtf8(message);
        };
        ScriptedReply large, chunked, stall;
        large.fillerBytes = chunked.fillerBytes = APIClient::maxReplyBytes + 1;
        chunked.mode = ScriptedReply::Mode::Chunked;
        stall.mode = ScriptedReply::Mode::Stall;
        row("200", ScriptedReply::json(200, profile), "");
        row("299 is success", ScriptedReply::json(299, profile), "");
        row("300 is not", ScriptedReply::json(300, profile), "请求失败（300）");
        row("error text", ScriptedReply::json(401, R"({"error":"登录已过期"})"), "登录已过期");
        row("empty error text", ScriptedReply::json(403, R"({"error":""})"), "");
        row("error is a number", ScriptedReply::json(400, R"({"error":5})"), "请求失败（400）");
        row("body is an array", ScriptedReply::json(422, R"([{"error":"x"}])"), "请求失败（422）");
        row("html", ScriptedReply::json(500, "<html>oops</html>"), "请求失败（500）");
        row("empty 200", ScriptedReply::json(200, {}), "decoding");
        row("redirect elsewhere", ScriptedReply::redirect(302, closedPort().toString().toUtf8() + "/api/profile"), "请求失败（302）");
        row("too large, by Content-Length", large, "服务器返回的内容过大");
        row("too large, chunked without length", chunked, "服务器返回的内容过大");
        row("stalls", stall, "timeout");
    }

    void outcomes()
    {
        QFETCH(ScriptedReply, reply);
        QFETCH(QString, message);
        TestHttpServer server;
        server.enqueue(reply);
        APIClient client(server.origin(), QStringLiteral("t"));
        // Short only where a stall is what is tested: a large reply may pause that long on a
        // loaded machine.
        if (message == QLatin1String("timeout"))
            client.setIdleTimeout(std::chrono::milliseconds(300));

        const auto outcome = fetch(client);
        const bool success = message.isEmpty() && reply.status < 300 && !reply.body.isEmpty();
        QCOMPARE(outcome.ok(), success);
        if (message == QLatin1String("decoding"))
            QVERIFY(outcome.failure().decodingError());
        else if (message == QLatin1String("timeout"))
            QCOMPARE(outcome.failure().transportError()->code, QNetworkReply::TimeoutError);
        else if (!success)
            QCOMPARE(messageOf(outcome.failure()), message);
        QCOMPARE(client.token, std::optional<QString>(QStringLiteral("t")));
    }

    void idsStayOneSegment_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("slash") << "a/b" << QByteArray("/api/clips/a%2Fb");
        QTest::newRow("dot dot slash") << "../profile" << QByteArray("/api/clips/..%2Fprofile");
        QTest::newRow("query") << "x?limit=1" << QByteArray("/api/clips/x%3Flimit%3D1");
        QTest::newRow("fragment") << "x#y" << QByteArray("/api/clips/x%23y");
        QTest::newRow("blank, Chinese, percent") << "a b中%" << QByteArray("/api/clips/a%20b%E4%B8%AD%25");
    }

    void idsStayOneSegment()
    {
        QFETCH(QString, id);
        TestHttpServer server;
        server.enqueue(ScriptedReply::json(200, R"({"clip":{"id":"x"}})"));
        APIClient client(server.origin(), QStringLiteral("t"));
        Clip clip;
        clip.id = id;

        QVERIFY(save(client, clip).ok());
        QTEST(server.requests().at(0).target, "target");
    }

    // A path that would leave the service's API, or a token that would add a header, sends
    // nothing and says why. (Which paths pass: the fuzz target requestpath, for any text.)
    void refusedBeforeSending_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("message");
        const QString invalid = QStringLiteral("请求地址无效");
        QTest::newRow("absolute URL") << "http://127.0.0.2/api/profile" << "t" << invalid;
        QTest::newRow("encoded dot dot") << "api/clips/%2E%2E" << "t" << invalid;
        QTest::newRow("token with a line break") << "api/profile" << "t\r\nX-Injected: 1" << "登录状态无效，请重新登录";
    }

    void refusedBeforeSending()
    {
        QFETCH(QString, path);
        QFETCH(QString, token);
        TestHttpServer server;
        APIClient client(server.origin(), token);

        QTEST(messageOf(fetch(client, path).failure()), "message");
        QCoreApplication::processEvents();
        QVERIFY(server.requests().isEmpty());
    }

    void refusedConnection()
    {
        APIClient refused(closedPort(), std::nullopt);
        const auto outcome = fetch(refused);
        QCOMPARE(outcome.failure().transportError()->code, QNetworkReply::ConnectionRefusedError);
        // Qt's own text, in the user's language.
        const QString text = outcome.failure().description();
        QVERIFY2(std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x4e00; }), qPrintable(text));
    }

    void callbackOfDestroyedReceiverNeverRuns()
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
        QVERIFY(fetch(client, QStringLiteral("api/second")).ok());
        QVERIFY(!firstRan);
    }

    void serviceOrigins_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("origin");
        QTest::newRow("https") << "https://clips.example.com:8443/" << "https://clips.example.com:8443";
        QTest::newRow("http on loopback") << "http://127.0.0.1:8765" << "http://127.0.0.1:8765";
        QTest::newRow("http on localhost") << "http://localhost:1" << "http://localhost:1";
        QTest::newRow("http on IPv6 loopback") << "http://[::1]:8765" << "http://[::1]:8765";
        QTest::newRow("http elsewhere") << "http://192.168.1.2" << "";
        QTest::newRow("with a path") << "https://clips.example.com/api" << "";
        QTest::newRow("with user info") << "https://u:p@clips.example.com" << "";
        QTest::newRow("not a URL") << "clips" << "";
    }

    void serviceOrigins()
    {
        QFETCH(QString, text);
        const auto url = makeServiceURL(text);
        QTEST(url ? url->toString() : QString(), "origin");
    }
};

QTEST_GUILESS_MAIN(APIClientTest)
#include "tst_apiclient.moc"
