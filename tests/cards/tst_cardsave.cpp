#include "CardTestSupport.h"

#include "platform/SystemColors.h"
#include "service/APIClient.h"
#include "support/TestHttpServer.h"
#include "widgets/SafePlainTextEdit.h"

#include <QAccessible>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QTest>

using namespace quillpost;
using namespace quillpost::test;

namespace {

QByteArray envelope(const QString &id, const QString &optimized, const QString &raw)
{
    const QJsonObject clip{
        {QStringLiteral("id"), id},
        {QStringLiteral("title"), QStringLiteral("服务器标题")},
        {QStringLiteral("rawText"), raw},
        {QStringLiteral("optimizedText"), optimized},
    };
    return QJsonDocument(QJsonObject{{QStringLiteral("clip"), clip}}).toJson(QJsonDocument::Compact);
}

QJsonObject sentBody(const RecordedRequest &request)
{
    return QJsonDocument::fromJson(request.body).object();
}

const QColor savedColor = SystemColors::rgba(0.29, 0.49, 0.39, 1);

} // namespace

class CardSaveTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void sendsEditorTextAsSelectedVersion_data();
    void sendsEditorTextAsSelectedVersion();
    void successTakesReturnedClip();
    void failureKeepsEdit_data();
    void failureKeepsEdit();
    void eachSuccessSchedulesItsOwnReset();
    void readOnlyClipSendsNothing();
    void cardRemovedDuringSaveStillReports_data();
    void cardRemovedDuringSaveStillReports();
    void replyAboutAnotherClipIsRefused();

private:
    QObject *saveJobsOf(APIClient *api) const;

    TestHttpServer *m_server = nullptr;
    APIClient *m_api = nullptr;
    std::shared_ptr<CardCalls> m_calls;
};

void CardSaveTest::init()
{
    m_server = new TestHttpServer(this);
    m_api = new APIClient(m_server->origin(), QStringLiteral("token-1"), this);
    m_calls = std::make_shared<CardCalls>();
}

void CardSaveTest::cleanup()
{
    delete m_api;
    delete m_server;
}

void CardSaveTest::sendsEditorTextAsSelectedVersion_data()
{
    QTest::addColumn<bool>("showRaw");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("sentOptimized");
    QTest::addColumn<QString>("sentRaw");

    QTest::newRow("optimized shown") << false << "新的优化" << "新的优化" << "原始";
    QTest::newRow("raw shown") << true << "新的原文" << "优化" << "新的原文";
    QTest::newRow("empty editor") << false << "" << "" << "原始";
}

void CardSaveTest::sendsEditorTextAsSelectedVersion()
{
    QFETCH(bool, showRaw);
    QFETCH(QString, typed);
    QFETCH(QString, sentOptimized);
    QFETCH(QString, sentRaw);

    m_server->enqueue(ScriptedReply::json(200, envelope(QStringLiteral("clip-1"), sentOptimized, sentRaw)));
    const auto card = makeCard(makeClip(QStringLiteral("优化"), QStringLiteral("原始")), m_calls, m_api);
    if (showRaw)
        card->rawButton()->click();
    card->editor()->setPlainText(typed);

    card->saveButton()->click();
    QVERIFY(!card->saveButton()->isEnabled());
    QCOMPARE(card->saveButton()->text(), QStringLiteral("保存"));
    QVERIFY(m_server->waitForRequests(1));

    const RecordedRequest &request = m_server->requests().first();
    QCOMPARE(request.method, QByteArray("PATCH"));
    QCOMPARE(request.target, QByteArray("/api/clips/clip-1"));
    const QJsonObject body = sentBody(request);
    QCOMPARE(body.keys(), QStringList({QStringLiteral("optimizedText"), QStringLiteral("rawText"), QStringLiteral("title")}));
    QCOMPARE(body.value(QStringLiteral("title")).toString(), QStringLiteral("会议纪要"));
    QCOMPARE(body.value(QStringLiteral("optimizedText")).toString(), sentOptimized);
    QCOMPARE(body.value(QStringLiteral("rawText")).toString(), sentRaw);

    QTRY_COMPARE(m_calls->messages.size(), 1);
    QCOMPARE(m_calls->messages.first(), qMakePair(QStringLiteral("修改已同步"), savedColor));
    QVERIFY(card->saveButton()->isEnabled());
    QCOMPARE(card->saveButton()->text(), QStringLiteral("已保存"));
    QCOMPARE(QAccessible::queryAccessibleInterface(card->saveButton())->text(QAccessible::Name), QStringLiteral("已保存"));
}

void CardSaveTest::successTakesReturnedClip()
{
    m_server->enqueue(
        ScriptedReply::json(200, envelope(QStringLiteral("clip-1"), QStringLiteral("服务器优化"), QStringLiteral("服务器原文"))));
    const auto card = makeCard(makeClip(QStringLiteral("优化"), QStringLiteral("原始")), m_calls, m_api);
    card->editor()->setPlainText(QStringLiteral("我的修改"));
    card->saveButton()->click();
    QTRY_COMPARE(m_calls->messages.size(), 1);

    // The editor keeps what the user typed; the card's clip is the service's.
    QCOMPARE(card->editor()->toPlainText(), QStringLiteral("我的修改"));
    QCOMPARE(card->clip().title, QStringLiteral("服务器标题"));
    card->rawButton()->click();
    QCOMPARE(card->editor()->toPlainText(), QStringLiteral("服务器原文"));
    card->optimizedButton()->click();
    QCOMPARE(card->editor()->toPlainText(), QStringLiteral("服务器优化"));

    QTRY_COMPARE_WITH_TIMEOUT(card->saveButton()->text(), QStringLiteral("保存"), 3000);
}

void CardSaveTest::failureKeepsEdit_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("message");

    QTest::newRow("service error text") << 0 << "内容不存在";
    QTest::newRow("connection dropped") << 1 << "";
}

void CardSaveTest::failureKeepsEdit()
{
    QFETCH(int, mode);
    QFETCH(QString, message);

    ScriptedReply reply = ScriptedReply::json(404, R"({"error":"内容不存在"})");
    if (mode == 1)
        reply.mode = ScriptedReply::Mode::Drop;
    m_server->enqueue(reply);

    const auto card = makeCard(makeClip(QStringLiteral("优化"), QStringLiteral("原始")), m_calls, m_api);
    card->rawButton()->click();
    card->editor()->setPlainText(QStringLiteral("改过的原文"));
    card->saveButton()->click();
    QTRY_COMPARE(m_calls->messages.size(), 1);

    const auto &[text, color] = m_calls->messages.first();
    if (!message.isEmpty())
        QCOMPARE(text, message);
    else
        QVERIFY(!text.isEmpty());
    QCOMPARE(color, SystemColors::red());
    QVERIFY(card->saveButton()->isEnabled());
    QCOMPARE(card->saveButton()->text(), QStringLiteral("保存"));

    // The card's copy kept the edit: switching away and back shows it, and saving again sends it.
    QCOMPARE(card->clip().rawText, QStringLiteral("改过的原文"));
    card->optimizedButton()->click();
    card->rawButton()->click();
    QCOMPARE(card->editor()->toPlainText(), QStringLiteral("改过的原文"));
}

void CardSaveTest::eachSuccessSchedulesItsOwnReset()
{
    m_server->enqueue(ScriptedReply::json(200, envelope(QStringLiteral("clip-1"), QStringLiteral("一"), {})));
    ScriptedReply slow = ScriptedReply::json(200, envelope(QStringLiteral("clip-1"), QStringLiteral("二"), {}));
    slow.delay = std::chrono::milliseconds(500);
    m_server->enqueue(slow);

    const auto card = makeCard(makeClip(QStringLiteral("优化"), {}), m_calls, m_api);
    card->saveButton()->click();
    QTRY_COMPARE(m_calls->messages.size(), 1);
    QElapsedTimer sinceFirst;
    sinceFirst.start();

    // While the second save runs the button is disabled and still reads "已保存".
    card->saveButton()->click();
    QVERIFY(!card->saveButton()->isEnabled());
    QCOMPARE(card->saveButton()->text(), QStringLiteral("已保存"));
    QTRY_COMPARE(m_calls->messages.size(), 2);
    QCOMPARE(card->saveButton()->text(), QStringLiteral("已保存"));
    QVERIFY(sinceFirst.elapsed() < 1200);

    // The first success's reset comes at its own time, not 1.2 s after the second success.
    QTRY_COMPARE_WITH_TIMEOUT(card->saveButton()->text(), QStringLiteral("保存"), 3000);
    QVERIFY(sinceFirst.elapsed() >= 1150);
    QVERIFY2(sinceFirst.elapsed() < 1700, qPrintable(QString::number(sinceFirst.elapsed())));
    QCOMPARE(card->clip().optimizedText, QStringLiteral("二"));
}

void CardSaveTest::readOnlyClipSendsNothing()
{
    Clip clip = makeClip(QStringLiteral("优化"), {});
    clip.canEdit = false;
    const auto card = makeCard(clip, m_calls, m_api);
    QVERIFY(card->editor()->isReadOnly());
    QVERIFY(card->saveButton()->isHidden());
    card->saveButton()->click();
    QCoreApplication::processEvents();
    QVERIFY(m_server->requests().isEmpty());
    QVERIFY(m_calls->messages.isEmpty());
    QCOMPARE(card->clip(), clip);
}

QObject *CardSaveTest::saveJobsOf(APIClient *api) const
{
    // Everything the client owns besides its network access manager is a pending save.
    for (QObject *child : api->children()) {
        if (!child->inherits("QNetworkAccessManager"))
            return child;
    }
    return nullptr;
}

void CardSaveTest::cardRemovedDuringSaveStillReports_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::newRow("success") << 200 << "修改已同步";
    QTest::newRow("failure") << 409 << "内容已被修改";
}

void CardSaveTest::cardRemovedDuringSaveStillReports()
{
    QFETCH(int, status);
    QFETCH(QString, message);

    ScriptedReply reply = status == 200 ? ScriptedReply::json(200, envelope(QStringLiteral("clip-1"), QStringLiteral("x"), {}))
                                        : ScriptedReply::json(status, R"({"error":"内容已被修改"})");
    reply.delay = std::chrono::milliseconds(100);
    m_server->enqueue(reply);

    auto card = makeCard(makeClip(QStringLiteral("优化"), {}), m_calls, m_api);
    card->saveButton()->click();
    QVERIFY(m_server->waitForRequests(1));
    card.reset();

    QTRY_COMPARE(m_calls->messages.size(), 1);
    QCOMPARE(m_calls->messages.first().first, message);
    // The job that carried the save is gone once it has reported.
    QTRY_VERIFY(!saveJobsOf(m_api));
}

void CardSaveTest::replyAboutAnotherClipIsRefused()
{
    m_server->enqueue(ScriptedReply::json(200, envelope(QStringLiteral("clip-2"), QStringLiteral("别的"), {})));
    const auto card = makeCard(makeClip(QStringLiteral("优化"), {}), m_calls, m_api);
    card->editor()->setPlainText(QStringLiteral("修改"));
    card->saveButton()->click();
    QTRY_COMPARE(m_calls->messages.size(), 1);

    QCOMPARE(m_calls->messages.first().second, SystemColors::red());
    QCOMPARE(card->clip().id, QStringLiteral("clip-1"));
    QCOMPARE(card->clip().optimizedText, QStringLiteral("修改"));
    QCOMPARE(card->saveButton()->text(), QStringLiteral("保存"));
}

QTEST_MAIN(CardSaveTest)
#include "tst_cardsave.moc"
