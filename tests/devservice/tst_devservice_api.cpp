// The clip API of quillpost-devservice over HTTP: every refusal from one table, then the rules
// that take several requests to see.

#include "DevService.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QTest>

#include <memory>

using quillpost::test::DevService;

class TestDevServiceApi : public QObject
{
    Q_OBJECT

    // One service for all tests; tests that write sign in a new user of their own.
    DevService m_service{{"--fixed-code", "123456", "--seed", "demo", "--optimize-delay-ms", "1000"}};
    QHash<QString, QString> m_names; // what the "{name}" marks in the table of refusals stand for
    qint64 m_users = 0;

    // One field of each clip that `token` sees, newest first.
    QStringList listed(const QString &token, const QString &key, const QString &query = {})
    {
        QStringList values;
        for (const QJsonValue clip : m_service.get("api/clips" + query, token).json()["clips"].toArray())
            values << clip[key].toString();
        return values;
    }
    QJsonObject create(const QString &token, const QString &text)
    {
        return m_service.send("POST", "api/clips", {{"rawText", text}}, token).json()["clip"].toObject();
    }
    QString newUser() { return m_service.signIn(QString::number(13400000000 + m_users++)); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_service.start());
        m_names = {{"demo", m_service.signIn("13800000000")}, {"stranger", newUser()}, {"revoked", newUser()}};
        QCOMPARE(m_service.get("api/profile", m_names["revoked"]).status, 200);
        QCOMPARE(m_service.request("POST", "api/auth/logout", {}, DevService::bearer(m_names["revoked"])).status, 200);
        for (const QJsonValue space : m_service.get("api/spaces", m_names["demo"]).json()["spaces"].toArray())
            m_names[space["canEdit"].toBool() ? "space" : "readOnlySpace"] = space["id"].toString();
        for (const QJsonValue clip : m_service.get("api/clips", m_names["demo"]).json()["clips"].toArray())
            m_names[clip["canEdit"].toBool() ? clip["collaborationName"] == "" ? "own" : "shared" : "readOnly"] = clip["id"].toString();
        QCOMPARE(m_names.size(), 8);
    }

    void refusesBadRequestsWithoutWriting_data()
    {
        QTest::addColumn<QByteArrayList>("request"); // method, path, Authorization header, body
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        auto row = [](const char *name, const QByteArrayList &request, int status, const char *error) {
            QTest::newRow(name) << request << status << QString::fromUtf8(error);
        };
        const char *sms = "api/auth/sms/send", *clips = "api/clips", *own = "api/clips/{own}";
        const char *me = "Bearer {demo}", *stranger = "Bearer {stranger}", *edit = R"({"title":"t","rawText":"r","optimizedText":"o"})";
        const char *expired = "登录已过期，请重新登录", *badPhone = "手机号格式不正确", *badLimit = "参数 limit 必须是不小于 0 的整数";
        row("phone of 10 digits", {"POST", sms, "", R"({"phone":"1380000000"})"}, 400, badPhone);
        row("phone in full-width digits", {"POST", sms, "", R"({"phone":"１３８００００００００"})"}, 400, badPhone);
        row("nickname key missing", {"POST", "api/auth/phone", "", R"({"phone":"13500000000","code":"123456"})"}, 400, "缺少字段 nickname");
        row("no token", {"GET", "api/profile", "", ""}, 401, expired);
        row("empty bearer", {"GET", clips, "Bearer ", ""}, 401, expired);
        row("unknown token", {"GET", "api/spaces", "Bearer 0123456789abcdef", ""}, 401, expired);
        row("other scheme", {"POST", "api/auth/logout", "Basic {demo}", ""}, 401, expired);
        row("revoked token", {"POST", clips, "Bearer {revoked}", R"({"rawText":"x"})"}, 401, expired);
        row("edit without token", {"PATCH", own, "", edit}, 401, expired);
        row("limit negative", {"GET", "api/clips?limit=-1", me, ""}, 400, badLimit);
        row("invalid UTF-8", {"POST", clips, me, "{\"rawText\":\"\xC3\x28\"}"}, 400, "请求内容不是有效的 UTF-8 文本");
        row("lone surrogate", {"PATCH", own, me, R"({"title":"\ud800","rawText":"r","optimizedText":"o"})"}, 400,
            "请求内容不是有效的 JSON");
        row("title a number", {"PATCH", own, me, R"({"title":7,"rawText":"r","optimizedText":"o"})"}, 400, "字段 title 必须是文本");
        row("optimized text missing", {"PATCH", own, me, R"({"title":"t","rawText":"r"})"}, 400, "缺少字段 optimizedText");
        row("raw text too long", {"POST", clips, me, "{\"rawText\":\"" + QString(100'001, QChar(0x4E2D)).toUtf8() + "\"}"},
            400, "字段 rawText 超过 100000 个字符");
        row("body over 1 MiB", {"PATCH", own, me, "{\"title\":\"" + QByteArray(1 << 20, 'a') + "\"}"}, 400, "请求内容超过 1 MiB");
        row("blank text", {"POST", clips, me, R"({"rawText":" \n\t　"})"}, 400, "内容不能为空");
        row("read-only clip", {"PATCH", "api/clips/{readOnly}", me, edit}, 403, "没有编辑权限");
        row("someone else's clip", {"PATCH", own, stranger, edit}, 404, "内容不存在");
        row("encoded slash after the id", {"PATCH", "api/clips/{own}%2Fx", me, edit}, 404, "内容不存在");
        row("read-only space", {"POST", clips, me, R"({"rawText":"x","space":"{readOnlySpace}"})"}, 403, "没有编辑权限");
        row("someone else's space", {"POST", clips, stranger, R"({"rawText":"x","space":"{space}"})"}, 404, "协作空间不存在");
        row("faults not switched on", {"POST", "_faults", "", R"({"path":"api/profile","status":503})"}, 404, "接口不存在");
    }

    void refusesBadRequestsWithoutWriting()
    {
        QFETCH(QByteArrayList, request);
        QFETCH(int, status);
        QFETCH(QString, error);
        for (QByteArray &part : request) {
            for (const auto &[name, value] : m_names.asKeyValueRange())
                part.replace("{" + name.toUtf8() + "}", value.toUtf8());
        }
        const QByteArray before = m_service.get("api/clips", m_names["demo"]).body;
        const DevService::Headers authorization{{"Authorization", request[2]}};
        const auto reply = m_service.request(request[0], request[1], request[3], request[2].isEmpty() ? DevService::Headers() : authorization);
        QCOMPARE(reply.status, status);
        QCOMPARE(reply.errorText(), error);
        QCOMPARE(m_service.get("api/clips", m_names["demo"]).body, before);
    }

    void codesAreCheckedSpentAndKeptForTheNickname()
    {
        const QString phone = QStringLiteral("13500000002"), guessed = QStringLiteral("13500000003");
        auto signIn = [&](const QString &phone, const QString &code, const QString &nickname = QStringLiteral("新用户")) {
            return m_service.send("POST", "api/auth/phone", {{"phone", phone}, {"code", code}, {"nickname", nickname}});
        };
        for (const QString &number : {phone, guessed})
            QCOMPARE(m_service.send("POST", "api/auth/sms/send", {{"phone", number}}).status, 200);
        const QString again = m_service.send("POST", "api/auth/sms/send", {{"phone", phone}}).errorText();
        QVERIFY2(QRegularExpression("^请 (59|60) 秒后再试$").match(again).hasMatch(), qPrintable(again));
        QCOMPARE(signIn(phone, "654321").status, 401);
        // A new phone without a nickname (blank counts as none) is asked for one; the code stays valid.
        for (const QString &nickname : {QString(), QStringLiteral("  ")})
            QCOMPARE(signIn(phone, "123456", nickname).json(), (QJsonObject{{"requiresNickname", true}}));
        const QString token = signIn(phone, "123456", "  新用户 ").json()["token"].toString();
        QCOMPARE(m_service.get("api/profile", token).json(), (QJsonObject{{"phone", phone}, {"nickname", "新用户"}}));
        QCOMPARE(signIn(phone, "123456").status, 401); // a code works once
        for (int guess = 0; guess < 5; ++guess) // five wrong guesses spend the code
            QCOMPARE(signIn(guessed, QString::number(100000 + guess)).status, 401);
        QCOMPARE(signIn(guessed, "123456").status, 401);
    }

    void listsAndOptimizesInTheOrderOfCreation()
    {
        const QString token = newUser();
        QStringList ids;
        for (int i = 0; i < 50; ++i)
            ids.prepend(create(token, QString::number(i))["id"].toString());
        // A clip saved twelve times at once before its optimization, by its id percent-encoded byte by
        // byte: each save moves updatedAt on, also within one millisecond, and the optimization is dropped.
        const QJsonObject first = create(token, "第一条");
        ids.prepend(first["id"].toString());
        const QByteArray id = ids[0].toUtf8();
        QNetworkRequest save(m_service.url("api/clips/" + QUrl::toPercentEncoding(id, {}, id)));
        save.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        save.setRawHeader("Authorization", "Bearer " + token.toUtf8());
        QNetworkAccessManager network;
        std::vector<std::unique_ptr<QNetworkReply>> saves;
        for (int i = 0; i < 12; ++i)
            saves.emplace_back(network.sendCustomRequest(save, "PATCH", R"({"title":"t","rawText":"第一条","optimizedText":"我的"})"));
        QTRY_VERIFY(std::all_of(saves.begin(), saves.end(), [](const auto &reply) { return reply->isFinished(); }));
        QStringList stamps{first["updatedAt"].toString()};
        for (const auto &reply : saves)
            stamps << QJsonDocument::fromJson(reply->readAll())["clip"]["updatedAt"].toString();
        stamps.sort();
        QCOMPARE(stamps.removeDuplicates(), 0);
        QCOMPARE(stamps.first(), first["updatedAt"].toString());
        QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$").match(stamps.last()).hasMatch());

        // Newest first: raw texts, the titles they get at once and the optimized texts they get later.
        const QStringList raw{"  hello   world  ", "你好\t 世界", "line one  \r\n\n  line two", "一二三四五六七八九十一二三四五六七八九十多"};
        const QStringList titles{"hello world", "你好 世界", "line one line two", "一二三四五六七八九十一二三四五六七八九十"};
        const QStringList optimized{"hello world.", "你好 世界。", "line one\n\nline two.", "一二三四五六七八九十一二三四五六七八九十多。"};
        for (qsizetype i = raw.size() - 1; i >= 0; --i)
            ids.prepend(create(token, raw[i])["id"].toString());
        QCOMPARE(listed(token, "title").mid(0, 4), titles);
        QCOMPARE(listed(token, "optimizeStatus").mid(0, 4), QStringList(4, "pending"));
        const QStringList created = listed(token, "updatedAt");
        for (const auto &[query, count] : QList<QPair<QString, int>>{{"?limit=0", 0}, {"?limit=5", 5}, {"?limit=51", 50}, {"", 50}})
            QCOMPARE(listed(token, "id", query), ids.mid(0, count));

        // Optimizations run in the order they were scheduled: once the newest is done, all had their turn.
        QTRY_COMPARE_WITH_TIMEOUT(listed(token, "optimizeStatus").first(), QStringLiteral("done"), 10000);
        QCOMPARE(listed(token, "optimizedText").mid(0, 4), optimized);
        QCOMPARE(listed(token, "status").mid(0, 4), QStringList(4, "ready"));
        for (int i = 0; i < 4; ++i)
            QVERIFY(listed(token, "updatedAt")[i] > created[i]);
        QCOMPARE(listed(token, "optimizedText")[4] + listed(token, "updatedAt")[4], "我的" + stamps.last());
        // An edit of an older clip, with the longest text allowed, leaves it in its place.
        const QJsonObject longest{{"title", "t"}, {"rawText", QString(100'000, QChar(0x4E2D))}, {"optimizedText", "o"}};
        QCOMPARE(m_service.send("PATCH", "api/clips/" + ids[40], longest, token).status, 200);
        QCOMPARE(listed(token, "id"), ids.mid(0, 50));
    }
};

QTEST_GUILESS_MAIN(TestDevServiceApi)
#include "tst_devservice_api.moc"
