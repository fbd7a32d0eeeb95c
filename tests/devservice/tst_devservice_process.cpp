// quillpost-devservice as a process: options, restarts over a database file, the console, and
// the scripted faults.

#include "DevService.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using quillpost::test::DevService;
using quillpost::test::testArguments;

namespace {

const QString demoPhone = QStringLiteral("13800000000");

QJsonArray clipsOf(DevService &service, const QString &token)
{
    return service.get(QStringLiteral("api/clips?limit=50"), token).json().value(QStringLiteral("clips")).toArray();
}

} // namespace

class TestDevServiceProcess : public QObject
{
    Q_OBJECT

private slots:
    void refusesBadOptions_data();
    void refusesBadOptions();
    void refusesAPortInUse();
    void printsTheCodeItSends();
    void keepsEverythingAcrossARestart();
    void playsScriptedFaults();
    void hasNoFaultsUnlessAskedTo();
};

void TestDevServiceProcess::refusesBadOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("port not a number") << QStringList{"--port", "http"};
    QTest::newRow("port too large") << QStringList{"--port", "65536"};
    QTest::newRow("port missing") << QStringList{"--port"};
    QTest::newRow("short code") << QStringList{"--fixed-code", "123"};
    QTest::newRow("code with a letter") << QStringList{"--fixed-code", "12345a"};
    QTest::newRow("unknown seed") << QStringList{"--seed", "full"};
    QTest::newRow("negative delay") << QStringList{"--optimize-delay-ms", "-1"};
    QTest::newRow("empty database path") << QStringList{"--db", ""};
    QTest::newRow("unknown option") << QStringList{"--verbose"};
}

void TestDevServiceProcess::refusesBadOptions()
{
    QFETCH(QStringList, arguments);
    QProcess process;
    process.start(QStringLiteral(QUILLPOST_DEVSERVICE), arguments);
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(process.readAllStandardError().contains("usage: quillpost-devservice"));
}

void TestDevServiceProcess::refusesAPortInUse()
{
    DevService first;
    QVERIFY(first.start());
    QProcess second;
    second.start(QStringLiteral(QUILLPOST_DEVSERVICE),
                 {"--db", ":memory:", "--port", QString::number(first.url({}).port())});
    QVERIFY(second.waitForFinished(5000));
    QCOMPARE(second.exitCode(), 1);
    QVERIFY(second.readAllStandardError().contains("cannot listen"));
    QCOMPARE(first.get("api/profile").status, 401);
}

void TestDevServiceProcess::printsTheCodeItSends()
{
    DevService service; // random codes
    QVERIFY(service.start());
    QCOMPARE(service.send("POST", "api/auth/sms/send", {{"phone", "13700000000"}}).status, 200);
    const QRegularExpression line("13700000000 的验证码：(\\d{6})（5 分钟内有效）");
    QString code;
    QTRY_VERIFY_WITH_TIMEOUT(!(code = line.match(service.console().join('\n')).captured(1)).isEmpty(), 5000);
    const auto reply =
        service.send("POST", "api/auth/phone", {{"phone", "13700000000"}, {"code", code}, {"nickname", "控制台"}});
    QCOMPARE(reply.status, 200);
    QVERIFY(reply.json().value("token").toString().size() >= 32);
}

void TestDevServiceProcess::keepsEverythingAcrossARestart()
{
    QTemporaryDir directory;
    QVERIFY(directory.isValid());
    const QString db = directory.filePath("clips.sqlite3");
    QString token;
    QString pending;
    {
        // Slow optimization: the clip is still waiting for its optimized text when the service stops.
        DevService service(testArguments({"--db", db, "--seed", "demo", "--optimize-delay-ms", "600000"}));
        QVERIFY(service.start());
        token = service.signIn(demoPhone);
        QVERIFY(!token.isEmpty());
        pending = service.send("POST", "api/clips", {{"rawText", "重启前写的"}}, token).json().value("clip").toObject().value("id").toString();
        QVERIFY(!pending.isEmpty());
        QVERIFY(service.stop());
    }

    // Only a hash of the token is stored.
    QDirIterator files(directory.path(), QDir::Files);
    while (files.hasNext()) {
        QFile file(files.next());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(!file.readAll().contains(token.toUtf8()), qPrintable(file.fileName()));
    }

    DevService service(testArguments({"--db", db, "--seed", "demo", "--optimize-delay-ms", "0"}));
    QVERIFY(service.start());
    QVERIFY(!service.console().join('\n').contains("demo data created")); // seeded once only
    QCOMPARE(service.get("api/profile", token).json().value("nickname").toString(), QStringLiteral("演示用户"));
    const QJsonArray clips = clipsOf(service, token);
    QCOMPARE(clips.size(), 13);
    QCOMPARE(clips.first().toObject().value("id").toString(), pending);
    // Optimizations that were waiting go on after the restart.
    QTRY_COMPARE_WITH_TIMEOUT(clipsOf(service, token).first().toObject().value("optimizedText").toString(),
                              QStringLiteral("重启前写的。"), 5000);
}

void TestDevServiceProcess::playsScriptedFaults()
{
    DevService service(testArguments());
    QVERIFY(service.start());
    auto script = [&](const QJsonObject &fault) { return service.send("POST", "_faults", fault).status; };

    // A status with a body, twice, then the real reply again.
    QCOMPARE(script({{"path", "api/profile"}, {"status", 503}, {"body", R"({"error":"维护中"})"}, {"count", 2}}), 200);
    for (int i = 0; i < 2; ++i) {
        const auto reply = service.get("api/profile");
        QCOMPARE(reply.status, 503);
        QCOMPARE(reply.errorText(), QStringLiteral("维护中"));
    }
    QCOMPARE(service.get("api/profile").status, 401);

    // A status without a body stays without one.
    QCOMPARE(script({{"path", "/api/profile"}, {"status", 500}}), 200);
    const auto bare = service.get("api/profile");
    QCOMPARE(bare.status, 500);
    QVERIFY(bare.body.isEmpty());

    // A delay before the real reply.
    QCOMPARE(script({{"path", "api/profile"}, {"delayMs", 300}}), 200);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(service.get("api/profile").status, 401);
    QVERIFY(clock.elapsed() >= 300);

    // A dropped connection.
    QCOMPARE(script({{"path", "api/profile"}, {"drop", true}}), 200);
    const auto dropped = service.get("api/profile");
    QVERIFY(dropped.error != QNetworkReply::NoError);

    // A body of a given size, larger than any real reply.
    QCOMPARE(script({{"path", "api/clips"}, {"bodyBytes", 3 * 1024 * 1024}}), 200);
    const auto large = service.get("api/clips?limit=50");
    QCOMPARE(large.status, 200);
    QCOMPARE(large.body.size(), 3 * 1024 * 1024);
    QVERIFY(large.json().contains("filler"));

    // Only the given method, and clearing forgets the rest.
    QCOMPARE(script({{"path", "api/clips"}, {"method", "POST"}, {"status", 502}, {"count", 5}}), 200);
    QCOMPARE(service.get("api/clips").status, 401);
    QCOMPARE(service.send("POST", "api/clips", {{"rawText", "x"}}).status, 502);
    QCOMPARE(service.request("DELETE", "_faults").status, 200);
    QCOMPARE(service.send("POST", "api/clips", {{"rawText", "x"}}).status, 401);

    const auto refused = service.send("POST", "_faults", {{"path", "api/profile"}, {"status", 99}});
    QCOMPARE(refused.status, 400);
    QVERIFY(!refused.errorText().isEmpty());
}

void TestDevServiceProcess::hasNoFaultsUnlessAskedTo()
{
    DevService service({"--fixed-code", "123456"});
    QVERIFY(service.start());
    const auto reply = service.send("POST", "_faults", {{"path", "api/profile"}, {"status", 503}});
    QCOMPARE(reply.status, 404);
    QCOMPARE(reply.errorText(), QStringLiteral("接口不存在"));
    QCOMPARE(service.get("api/profile").status, 401);
}

QTEST_GUILESS_MAIN(TestDevServiceProcess)
#include "tst_devservice_process.moc"
