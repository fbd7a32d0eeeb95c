// quillpost-devservice as a process: scripted faults, and a restart over a database file with
// codes read from the console.

#include "DevService.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using quillpost::test::DevService;

class TestDevServiceProcess : public QObject
{
    Q_OBJECT

    DevService m_service{quillpost::test::testArguments()};

private slots:
    void initTestCase() { QVERIFY(m_service.start()); }
    void playsScriptedFaults();
    void keepsEverythingAcrossARestart();
};

void TestDevServiceProcess::playsScriptedFaults()
{
    auto script = [&](const char *fault) { QCOMPARE(m_service.request("POST", "_faults", fault).status, 200); };
    script(R"({"path":"api/profile","status":503,"body":"{\"error\":\"维护中\"}","count":2})");
    const QList<QPair<int, QString>> replies{{503, "维护中"}, {503, "维护中"}, {401, "登录已过期，请重新登录"}};
    for (const auto &[status, error] : replies) { // twice the scripted reply, then the real one
        const auto reply = m_service.get("api/profile");
        QVERIFY(reply.status == status && reply.errorText() == error);
    }
    script(R"({"path":"api/clips","bodyBytes":3145728})");
    const auto large = m_service.get("api/clips?limit=50"); // larger than any real reply
    QVERIFY(large.status == 200 && large.body.size() == 3145728 && large.json().contains("filler"));
    // A dropped connection fails at the transport, where the same request otherwise succeeds.
    const QString token = m_service.signIn(QStringLiteral("13800000000"));
    script(R"({"path":"api/profile","drop":true})");
    const auto dropped = m_service.get("api/profile", token);
    QVERIFY2(dropped.error > QNetworkReply::NoError && dropped.error < QNetworkReply::ContentAccessDenied,
             qPrintable(QString::number(dropped.error)));
    QCOMPARE(m_service.get("api/profile", token).status, 200);
    // Only the given method, and clearing forgets the rest.
    script(R"({"path":"api/clips","method":"POST","status":502,"count":5})");
    QCOMPARE(m_service.get("api/clips").status, 401);
    QCOMPARE(m_service.request("POST", "api/clips").status, 502);
    QCOMPARE(m_service.request("DELETE", "_faults").status, 200);
    QCOMPARE(m_service.request("POST", "api/clips").status, 401);
}

void TestDevServiceProcess::keepsEverythingAcrossARestart()
{
    QTemporaryDir directory;
    const QStringList arguments{"--db", directory.filePath("clips.sqlite3"), "--seed", "demo", "--optimize-delay-ms"};
    QString token, pending;
    {
        // Slow optimization: the clip is still waiting for its optimized text when the service stops.
        DevService service(QStringList{"--fixed-code", "123456"} + arguments + QStringList{"600000"});
        QVERIFY(service.start());
        token = service.signIn("13800000000");
        pending = service.send("POST", "api/clips", {{"rawText", "重启前写的"}}, token).json()["clip"]["id"].toString();
        QVERIFY(!token.isEmpty() && !pending.isEmpty() && service.stop());
    }
    for (QDirIterator files(directory.path(), QDir::Files); files.hasNext();) { // only a hash of the token is stored
        QFile file(files.next());
        QVERIFY(file.open(QIODevice::ReadOnly) && !file.readAll().contains(token.toUtf8()));
    }
    DevService service(arguments + QStringList{"0"}); // random codes, printed on the console
    QVERIFY(service.start());
    const QJsonArray clips = service.get("api/clips", token).json()["clips"].toArray();
    QVERIFY(clips.size() == 13 && clips.first()["id"] == pending); // the demo data was created once only
    QTRY_COMPARE_WITH_TIMEOUT(service.get("api/clips", token).json()["clips"][0]["optimizedText"].toString(),
                              QStringLiteral("重启前写的。"), 5000); // waiting optimizations go on

    QCOMPARE(service.send("POST", "api/auth/sms/send", {{"phone", "13700000000"}}).status, 200);
    const QRegularExpression line("13700000000 的验证码：(\\d{6})（5 分钟内有效）");
    QString code;
    QTRY_VERIFY_WITH_TIMEOUT(!(code = line.match(service.console().join('\n')).captured(1)).isEmpty(), 5000);
    const QJsonObject body{{"phone", "13700000000"}, {"code", code}, {"nickname", "控制台"}};
    QVERIFY(service.send("POST", "api/auth/phone", body).json()["token"].toString().size() >= 32);
}

QTEST_GUILESS_MAIN(TestDevServiceProcess)
#include "tst_devservice_process.moc"
