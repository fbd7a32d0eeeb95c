// The phone page of quillpost-devservice in a real headless Chromium: the page signs in, sends a
// clip into a space and lists it, driven through its own controls by its self-test mode.

#include "DevService.h"

#include <QJsonArray>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestDevServiceBrowser : public QObject
{
    Q_OBJECT

private slots:
    void thePageSignsInSendsAndLists();
};

void TestDevServiceBrowser::thePageSignsInSendsAndLists()
{
    const QString chromium = QStandardPaths::findExecutable("chromium");
    QVERIFY2(!chromium.isEmpty(), "chromium is not installed: run scripts/setup-deps");
    quillpost::test::DevService service(quillpost::test::testArguments({"--seed", "demo"}));
    QVERIFY(service.start());
    // A colleague of the demo user sends into the space they share.
    const QString text = QStringLiteral("从浏览器发送 <b>&amp;</b>");
    const QUrl page = service.url("?selftest=1&phone=13900000001&code=123456&space=产品小组&text="
                                  + QString::fromLatin1(QUrl::toPercentEncoding(text)));
    QTemporaryDir profile;
    QProcess browser;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", profile.path());
    browser.setProcessEnvironment(environment);
    browser.start(chromium, {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                             "--disable-background-networking", "--disable-component-update", "--disable-sync",
                             "--user-data-dir=" + profile.filePath("chromium"), "--virtual-time-budget=30000",
                             "--dump-dom", page.toString(QUrl::FullyEncoded)});
    QVERIFY2(browser.waitForFinished(90000), "chromium did not finish");
    const QString dom = QString::fromUtf8(browser.readAllStandardOutput());
    QVERIFY2(dom.contains("data-selftest=\"passed\""), qPrintable(dom.section("data-selftest", 1).left(300)));

    // The demo user sees the clip in the shared space; the page listed it with its markup shown as text.
    const QJsonObject clip = service.get("api/clips?limit=1", service.signIn("13800000000")).json()["clips"][0].toObject();
    QCOMPARE(clip["rawText"].toString(), text);
    QCOMPARE(clip["collaborationName"].toString(), QStringLiteral("产品小组"));
    QVERIFY(dom.contains(QStringLiteral("从浏览器发送 &lt;b&gt;&amp;amp;&lt;/b&gt;")));
}

QTEST_GUILESS_MAIN(TestDevServiceBrowser)
#include "tst_devservice_browser.moc"
