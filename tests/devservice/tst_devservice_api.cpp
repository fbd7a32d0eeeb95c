// The clip API of quillpost-devservice, through real HTTP clients: the program's own APIClient
// for the whole flow, and a plain client for every error reply.

#include "DevService.h"

#include "service/APIClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTest>

using namespace quillpost;
using quillpost::test::DevService;
using quillpost::test::testArguments;

namespace {

const QString demoPhone = QStringLiteral("13800000000");
const QString clipsPath = QStringLiteral("api/clips?limit=50");

QJsonArray clipsOf(DevService &service, const QString &token)
{
    return service.get(clipsPath, token).json().value(QStringLiteral("clips")).toArray();
}

// The first clip of the list that satisfies `fits`.
QJsonObject findClip(const QJsonArray &clips, const std::function<bool(const QJsonObject &)> &fits)
{
    for (const QJsonValue &clip : clips) {
        if (fits(clip.toObject()))
            return clip.toObject();
    }
    return {};
}

QJsonObject findClip(DevService &service, const QString &token, const QString &id)
{
    return findClip(clipsOf(service, token), [&](const QJsonObject &clip) { return clip.value("id") == id; });
}

template<typename Record>
std::optional<Outcome<Record>> awaitOutcome(const std::function<void(std::function<void(Outcome<Record>)>)> &start)
{
    std::optional<Outcome<Record>> outcome;
    start([&outcome](Outcome<Record> result) { outcome.emplace(std::move(result)); });
    if (!QTest::qWaitFor([&] { return outcome.has_value(); }, 15000))
        return std::nullopt;
    return outcome;
}

// Why an awaited request failed, for test messages.
template<typename Record>
QByteArray failureOf(const std::optional<Outcome<Record>> &outcome)
{
    if (!outcome)
        return "no reply";
    return outcome->ok() ? QByteArray() : outcome->failure().description().toUtf8();
}

} // namespace

class TestDevServiceApi : public QObject
{
    Q_OBJECT

private slots:
    void theProgramsClientFollowsTheWholeFlow();
    void sendCodeRefusesBadPhones_data();
    void sendCodeRefusesBadPhones();
    void resendingWaitsAMinutePerPhone();
    void codesAreCheckedSpentAndKeptForTheNickname();
    void wrongGuessesSpendTheCode();
    void refusesMissingUnknownAndRevokedTokens_data();
    void refusesMissingUnknownAndRevokedTokens();
    void listsVisibleClipsNewestFirstWithAllFields();
    void limitsTheList_data();
    void limitsTheList();
    void editsAClipWithAFreshTimestamp();
    void refusesEditsOfForeignAndReadOnlyClips();
    void refusesMalformedBodiesWithoutWriting_data();
    void refusesMalformedBodiesWithoutWriting();
    void createsClipsAndOptimizesThemLater_data();
    void createsClipsAndOptimizesThemLater();
    void anEditWhileOptimizingIsNotOverwritten();
    void createsClipsOnlyInWritableSpaces();
};

void TestDevServiceApi::theProgramsClientFollowsTheWholeFlow()
{
    DevService service(testArguments({"--seed", "demo"}));
    QVERIFY(service.start());
    APIClient client(*makeServiceURL(service.url({}).toString(QUrl::StripTrailingSlash)), std::nullopt);

    auto sent = awaitOutcome<Done>([&](auto done) { client.sendCode(demoPhone, this, done); });
    QVERIFY(sent && sent->ok());

    auto login = awaitOutcome<LoginResponse>([&](auto done) { client.login(demoPhone, "123456", "", this, done); });
    QVERIFY2(login && login->ok(), failureOf(login).constData());
    QVERIFY(login->value().token && login->value().token->size() >= 32);
    QCOMPARE(login->value().user->nickname, QStringLiteral("演示用户"));
    QVERIFY(login->value().user->avatarData->startsWith(QStringLiteral("data:image/png;base64,")));
    client.token = login->value().token;

    auto profile = awaitOutcome<Profile>([&](auto done) { client.call<Profile>("api/profile", "GET", {}, this, done); });
    QVERIFY(profile && profile->ok());
    QCOMPARE(profile->value(), *login->value().user);

    auto list = awaitOutcome<ClipList>([&](auto done) { client.call<ClipList>(clipsPath, "GET", {}, this, done); });
    QVERIFY2(list && list->ok(), failureOf(list).constData());
    QCOMPARE(list->value().clips.size(), 12);

    Clip edited = list->value().clips.first();
    QVERIFY(edited.canEdit);
    edited.optimizedText = QStringLiteral("改过的 \"文字\" \\ & <b>\n\t\x01</b> 😀");
    auto saved = awaitOutcome<Clip>([&](auto done) { client.save(edited, this, done); });
    QVERIFY2(saved && saved->ok(), failureOf(saved).constData());
    QCOMPARE(saved->value().optimizedText, edited.optimizedText);
    QVERIFY(saved->value().updatedAt != edited.updatedAt);
    auto reread = awaitOutcome<ClipList>([&](auto done) { client.call<ClipList>(clipsPath, "GET", {}, this, done); });
    QVERIFY(reread && reread->ok());
    QCOMPARE(reread->value().clips.first(), saved->value());

    const Clip readOnly = *std::find_if(list->value().clips.begin(), list->value().clips.end(),
                                        [](const Clip &clip) { return !clip.canEdit; });
    auto refused = awaitOutcome<Clip>([&](auto done) { client.save(readOnly, this, done); });
    QVERIFY(refused && !refused->ok() && refused->failure().apiError());
    QCOMPARE(refused->failure().description(), QStringLiteral("没有编辑权限"));

    // The wait time of a second code request is what the sign-in screen counts down from.
    auto again = awaitOutcome<Done>([&](auto done) { client.sendCode(demoPhone, this, done); });
    QVERIFY(again && !again->ok());
    QVERIFY(QRegularExpression("^请 (59|60) 秒后再试$").match(again->failure().description()).hasMatch());
}

void TestDevServiceApi::sendCodeRefusesBadPhones_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("error");
    const QString badPhone = QStringLiteral("手机号格式不正确");
    QTest::newRow("10 digits") << QByteArray(R"({"phone":"1380000000"})") << badPhone;
    QTest::newRow("12 digits") << QByteArray(R"({"phone":"138000000000"})") << badPhone;
    QTest::newRow("a letter") << QByteArray(R"({"phone":"1380000000a"})") << badPhone;
    QTest::newRow("blank inside") << QByteArray(R"({"phone":"138 0000000"})") << badPhone;
    QTest::newRow("full-width digits") << QString(R"({"phone":"１３８００００００００"})").toUtf8() << badPhone;
    QTest::newRow("number") << QByteArray(R"({"phone":13800000000})") << QStringLiteral("字段 phone 必须是文本");
    QTest::newRow("null") << QByteArray(R"({"phone":null})") << QStringLiteral("缺少字段 phone");
    QTest::newRow("missing") << QByteArray("{}") << QStringLiteral("缺少字段 phone");
    QTest::newRow("not JSON") << QByteArray("phone=13800000000") << QStringLiteral("请求内容不是有效的 JSON");
}

void TestDevServiceApi::sendCodeRefusesBadPhones()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, error);
    DevService service(testArguments());
    QVERIFY(service.start());
    const auto reply = service.sendRaw("POST", "api/auth/sms/send", body, {});
    QCOMPARE(reply.status, 400);
    QCOMPARE(reply.errorText(), error);

    const auto good = service.send("POST", "api/auth/sms/send", {{"phone", demoPhone}});
    QCOMPARE(good.status, 200);
    QCOMPARE(decodeReply<Result>(good.body).sent, true);
}

void TestDevServiceApi::resendingWaitsAMinutePerPhone()
{
    DevService service(testArguments());
    QVERIFY(service.start());
    QCOMPARE(service.send("POST", "api/auth/sms/send", {{"phone", "13800000001"}}).status, 200);
    const auto again = service.send("POST", "api/auth/sms/send", {{"phone", "13800000001"}});
    QCOMPARE(again.status, 429);
    QVERIFY2(QRegularExpression("^请 (59|60) 秒后再试$").match(again.errorText()).hasMatch(),
             qPrintable(again.errorText()));
    QCOMPARE(service.send("POST", "api/auth/sms/send", {{"phone", "13800000002"}}).status, 200);
}

void TestDevServiceApi::codesAreCheckedSpentAndKeptForTheNickname()
{
    DevService service(testArguments());
    QVERIFY(service.start());
    const QString phone = QStringLiteral("13700000000");
    auto signIn = [&](const QString &code, const QString &nickname) {
        return service.send("POST", "api/auth/phone", {{"phone", phone}, {"code", code}, {"nickname", nickname}});
    };
    const QString badCode = QStringLiteral("验证码错误或已过期");

    QCOMPARE(signIn("123456", "新用户").errorText(), badCode); // no code was sent
    const auto noNickname = service.send("POST", "api/auth/phone", {{"phone", phone}, {"code", "123456"}});
    QCOMPARE(noNickname.status, 400);
    QCOMPARE(noNickname.errorText(), QStringLiteral("缺少字段 nickname"));
    QCOMPARE(service.send("POST", "api/auth/sms/send", {{"phone", phone}}).status, 200);
    const auto wrong = signIn("654321", "新用户");
    QCOMPARE(wrong.status, 401);
    QCOMPARE(wrong.errorText(), badCode);

    // A new phone without a nickname (blank counts as none) is asked for one; the code stays valid.
    for (const QString &nickname : {QString(), QStringLiteral("  ")}) {
        const auto asked = signIn("123456", nickname);
        QCOMPARE(asked.status, 200);
        const LoginResponse response = decodeReply<LoginResponse>(asked.body);
        QCOMPARE(response.requiresNickname, std::optional(true));
        QVERIFY(!response.token && !response.user);
    }
    const auto created = signIn("123456", "  新用户 ");
    QCOMPARE(created.status, 200);
    const LoginResponse response = decodeReply<LoginResponse>(created.body);
    QCOMPARE(response.user->nickname, QStringLiteral("新用户"));
    QCOMPARE(response.user->phone, phone);
    QVERIFY(!response.user->avatarData);
    QVERIFY(!created.json().contains("requiresNickname"));
    QCOMPARE(service.get("api/profile", *response.token).status, 200);

    QCOMPARE(signIn("123456", "新用户").errorText(), badCode); // a code works once
}

void TestDevServiceApi::wrongGuessesSpendTheCode()
{
    DevService service(testArguments());
    QVERIFY(service.start());
    QCOMPARE(service.send("POST", "api/auth/sms/send", {{"phone", demoPhone}}).status, 200);
    for (int guess = 0; guess < 5; ++guess) {
        const auto reply = service.send("POST", "api/auth/phone",
                                        {{"phone", demoPhone}, {"code", QString::number(100000 + guess)}, {"nickname", "x"}});
        QCOMPARE(reply.status, 401);
    }
    const auto right =
        service.send("POST", "api/auth/phone", {{"phone", demoPhone}, {"code", "123456"}, {"nickname", "x"}});
    QCOMPARE(right.status, 401);
}

void TestDevServiceApi::refusesMissingUnknownAndRevokedTokens_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("authorization"); // "{token}" stands for a revoked token
    for (const QString &path : {QStringLiteral("api/profile"), clipsPath}) {
        QTest::addRow("%s none", qPrintable(path)) << path << QByteArray();
        QTest::addRow("%s empty bearer", qPrintable(path)) << path << QByteArray("Bearer ");
        QTest::addRow("%s unknown", qPrintable(path)) << path << QByteArray("Bearer 0123456789abcdef");
        QTest::addRow("%s other scheme", qPrintable(path)) << path << QByteArray("Basic {token}");
        QTest::addRow("%s revoked", qPrintable(path)) << path << QByteArray("Bearer {token}");
    }
}

void TestDevServiceApi::refusesMissingUnknownAndRevokedTokens()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, authorization);
    DevService service(testArguments({"--seed", "demo"}));
    QVERIFY(service.start());
    const QString token = service.signIn(demoPhone);
    QCOMPARE(service.get(path, token).status, 200);
    QCOMPARE(service.sendRaw("POST", "api/auth/logout", {}, token).status, 200);

    QList<QPair<QByteArray, QByteArray>> headers;
    if (!authorization.isEmpty())
        headers.append({"Authorization", authorization.replace("{token}", token.toUtf8())});
    const auto reply = service.request("GET", path, {}, headers);
    QCOMPARE(reply.status, 401);
    QCOMPARE(reply.errorText(), QStringLiteral("登录已过期，请重新登录"));
}

void TestDevServiceApi::listsVisibleClipsNewestFirstWithAllFields()
{
    DevService service(testArguments({"--seed", "demo"}));
    QVERIFY(service.start());
    const auto reply = service.get(clipsPath, service.signIn(demoPhone));
    QCOMPARE(reply.status, 200);
    const QJsonArray clips = reply.json().value("clips").toArray();
    QCOMPARE(clips.size(), 12);
    QCOMPARE(decodeReply<ClipList>(reply.body).clips.size(), 12);

    const QStringList keys{"canEdit",  "collaborationColor", "collaborationName", "deviceName",
                           "favorite", "id",                 "optimizeStatus",    "optimizedText",
                           "rawText",  "status",             "title",             "updatedAt"};
    const QRegularExpression stamp("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$");
    QString previous;
    int readOnly = 0;
    int withoutOptimized = 0;
    for (const QJsonValue &value : clips) {
        const QJsonObject clip = value.toObject();
        QCOMPARE(clip.keys(), keys);
        const QString updatedAt = clip.value("updatedAt").toString();
        QVERIFY2(stamp.match(updatedAt).hasMatch(), qPrintable(updatedAt));
        QVERIFY(previous.isEmpty() || updatedAt < previous);
        previous = updatedAt;
        const bool announcements = clip.value("collaborationName") == QStringLiteral("公司公告");
        QCOMPARE(clip.value("canEdit").toBool(), !announcements);
        readOnly += announcements;
        withoutOptimized += clip.value("optimizedText").toString().isEmpty();
    }
    QCOMPARE(readOnly, 3);
    QCOMPARE(withoutOptimized, 1);

    // A colleague sees the clips of the space they share, none of the demo user's own.
    const QJsonArray shared = clipsOf(service, service.signIn("13900000001"));
    QCOMPARE(shared.size(), 4);
    for (const QJsonValue &clip : shared)
        QCOMPARE(clip.toObject().value("collaborationName").toString(), QStringLiteral("产品小组"));
    QCOMPARE(clipsOf(service, service.signIn("13700000000")).size(), 0);
}

void TestDevServiceApi::limitsTheList_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("count"); // -1: refused
    QTest::newRow("zero") << "?limit=0" << 0;
    QTest::newRow("five") << "?limit=5" << 5;
    QTest::newRow("fifty") << "?limit=50" << 50;
    QTest::newRow("over fifty") << "?limit=51" << 50;
    QTest::newRow("huge") << "?limit=99999999999999999999" << 50;
    QTest::newRow("absent") << "" << 50;
    QTest::newRow("negative") << "?limit=-1" << -1;
    QTest::newRow("word") << "?limit=abc" << -1;
    QTest::newRow("fraction") << "?limit=1.5" << -1;
    QTest::newRow("empty") << "?limit=" << -1;
}

void TestDevServiceApi::limitsTheList()
{
    QFETCH(QString, query);
    QFETCH(int, count);
    DevService service(testArguments());
    QVERIFY(service.start());
    const QString token = service.signIn(demoPhone);
    for (int i = 0; i < 55; ++i)
        QCOMPARE(service.send("POST", "api/clips", {{"rawText", QString::number(i)}}, token).status, 201);

    const auto reply = service.get("api/clips" + query, token);
    if (count < 0) {
        QCOMPARE(reply.status, 400);
        QCOMPARE(reply.errorText(), QStringLiteral("参数 limit 必须是不小于 0 的整数"));
        return;
    }
    const QJsonArray clips = reply.json().value("clips").toArray();
    QCOMPARE(clips.size(), count);
    if (count > 0)
        QCOMPARE(clips.first().toObject().value("rawText").toString(), QStringLiteral("54"));
}

void TestDevServiceApi::editsAClipWithAFreshTimestamp()
{
    DevService service(testArguments({"--seed", "demo"}));
    QVERIFY(service.start());
    const QString token = service.signIn(demoPhone);
    const QJsonObject before = clipsOf(service, token).first().toObject();
    const QString id = before.value("id").toString();

    // The id percent-encoded byte by byte names the same clip; each edit moves the time stamp on,
    // also when edits follow each other within a millisecond.
    QString encoded;
    for (const char byte : id.toUtf8())
        encoded += QStringLiteral("%%1").arg(uchar(byte), 2, 16, QLatin1Char('0'));
    QString previous = before.value("updatedAt").toString();
    for (int round = 0; round < 3; ++round) {
        const QJsonObject body{{"title", "新标题"}, {"rawText", "新原文 " + QString::number(round)}, {"optimizedText", ""}};
        const auto reply = service.send("PATCH", "api/clips/" + encoded, body, token);
        QCOMPARE(reply.status, 200);
        const Clip saved = decodeReply<ClipEnvelope>(reply.body).clip;
        QCOMPARE(saved.id, id);
        QCOMPARE(saved.rawText, body.value("rawText").toString());
        QCOMPARE(saved.optimizedText, QString());
        QVERIFY2(saved.updatedAt > previous, qPrintable(saved.updatedAt + " after " + previous));
        previous = saved.updatedAt;
    }
    const QJsonObject after = findClip(service, token, id);
    QCOMPARE(after.value("updatedAt").toString(), previous);
    QCOMPARE(after.value("title").toString(), QStringLiteral("新标题"));
    QCOMPARE(after.value("deviceName"), before.value("deviceName"));

    const QJsonObject body{{"title", "t"}, {"rawText", "r"}, {"optimizedText", "o"}};
    for (const QString &path : QStringList{"api/clips/unknown", "api/clips/" + id + "%2Fx", "api/clips/" + id + "/x"}) {
        const auto reply = service.send("PATCH", path, body, token);
        QCOMPARE(reply.status, 404);
        QCOMPARE(reply.errorText(), QStringLiteral("内容不存在"));
    }
}

void TestDevServiceApi::refusesEditsOfForeignAndReadOnlyClips()
{
    DevService service(testArguments({"--seed", "demo"}));
    QVERIFY(service.start());
    const QString token = service.signIn(demoPhone);
    const QJsonArray clips = clipsOf(service, token);
    const QJsonObject readOnly = findClip(clips, [](const QJsonObject &clip) { return !clip.value("canEdit").toBool(); });
    const QJsonObject personal =
        findClip(clips, [](const QJsonObject &clip) { return clip.value("collaborationName").toString().isEmpty(); });
    const QJsonObject body{{"title", "t"}, {"rawText", "r"}, {"optimizedText", "o"}};

    const auto forbidden = service.send("PATCH", "api/clips/" + readOnly.value("id").toString(), body, token);
    QCOMPARE(forbidden.status, 403);
    QCOMPARE(forbidden.errorText(), QStringLiteral("没有编辑权限"));
    QCOMPARE(findClip(service, token, readOnly.value("id").toString()), readOnly);

    // Someone else's clip does not exist for a stranger.
    const auto foreign =
        service.send("PATCH", "api/clips/" + personal.value("id").toString(), body, service.signIn("13700000000"));
    QCOMPARE(foreign.status, 404);
    QCOMPARE(findClip(service, token, personal.value("id").toString()), personal);
}

void TestDevServiceApi::refusesMalformedBodiesWithoutWriting_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("error");
    const QByteArray longText = QString(100'001, QChar(0x4E2D)).toUtf8(); // 300 KB, under the body limit
    const QByteArray hugeBody = "{\"title\":\"" + QByteArray(1024 * 1024, 'a') + "\",\"rawText\":\"r\"}";
    for (const QByteArray &method : {QByteArray("PATCH"), QByteArray("POST")}) {
        auto row = [&](const char *name, const QByteArray &body, const char *error) {
            QTest::addRow("%s %s", method.constData(), name) << method << body << QString::fromUtf8(error);
        };
        row("not JSON", "{\"title\":", "请求内容不是有效的 JSON");
        row("array", "[\"title\"]", "请求内容必须是一个 JSON 对象");
        row("invalid UTF-8", "{\"title\":\"\xC3\x28\",\"rawText\":\"r\",\"optimizedText\":\"o\"}",
            "请求内容不是有效的 UTF-8 文本");
        row("lone surrogate", R"({"title":"\ud800","rawText":"r","optimizedText":"o"})", "请求内容不是有效的 JSON");
        row("title a number", R"({"title":7,"rawText":"r","optimizedText":"o"})", "字段 title 必须是文本");
        row("raw text a flag", R"({"title":"t","rawText":true,"optimizedText":"o"})", "字段 rawText 必须是文本");
        row("raw text too long", "{\"title\":\"t\",\"rawText\":\"" + longText + "\",\"optimizedText\":\"o\"}",
            "字段 rawText 超过 100000 个字符");
        row("body over 1 MiB", hugeBody, "请求内容超过 1 MiB");
    }
    QTest::newRow("PATCH raw text null") << QByteArray("PATCH") << QByteArray(R"({"title":"t","rawText":null,"optimizedText":"o"})")
                                         << QStringLiteral("缺少字段 rawText");
    QTest::newRow("PATCH optimized text missing") << QByteArray("PATCH") << QByteArray(R"({"title":"t","rawText":"r"})")
                                                  << QStringLiteral("缺少字段 optimizedText");
    QTest::newRow("POST blank text") << QByteArray("POST") << QByteArray(R"({"rawText":" \n\t　"})")
                                     << QStringLiteral("内容不能为空");
}

void TestDevServiceApi::refusesMalformedBodiesWithoutWriting()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, body);
    QFETCH(QString, error);
    DevService service(testArguments({"--seed", "demo"}));
    QVERIFY(service.start());
    const QString token = service.signIn(demoPhone);
    const QJsonArray before = clipsOf(service, token);
    const QString path = method == "PATCH" ? "api/clips/" + before.first().toObject().value("id").toString()
                                           : QStringLiteral("api/clips");

    const auto reply = service.sendRaw(method, path, body, token);
    QCOMPARE(reply.status, 400);
    QCOMPARE(reply.errorText(), error);
    QCOMPARE(clipsOf(service, token), before);

    // The longest text allowed goes through.
    const QString longest(100'000, QChar(0x4E2D));
    const auto accepted = service.send(method, path, {{"title", "t"}, {"rawText", longest}, {"optimizedText", "o"}}, token);
    QVERIFY(accepted.status == 200 || accepted.status == 201);
    QCOMPARE(decodeReply<ClipEnvelope>(accepted.body).clip.rawText, longest);
}

void TestDevServiceApi::createsClipsAndOptimizesThemLater_data()
{
    QTest::addColumn<QString>("rawText");
    QTest::addColumn<QString>("optimized");
    QTest::addColumn<QString>("title");
    QTest::newRow("blanks folded, English stop") << "  hello   world  " << "hello world." << "hello world";
    QTest::newRow("Chinese stop") << "你好\t 世界" << "你好 世界。" << "你好 世界";
    QTest::newRow("already ended") << "已经结束了。" << "已经结束了。" << "已经结束了。";
    QTest::newRow("question") << "Ready?" << "Ready?" << "Ready?";
    QTest::newRow("closing quote") << "他说“走吧”" << "他说“走吧”。" << "他说“走吧”";
    QTest::newRow("digits after Chinese") << "价格 42" << "价格 42。" << "价格 42";
    QTest::newRow("lines kept, blanks at breaks dropped") << "line one  \r\n\n  line two" << "line one\n\nline two."
                                                          << "line one line two";
    QTest::newRow("long text, title cut at 20")
        << "一二三四五六七八九十一二三四五六七八九十多出来的" << "一二三四五六七八九十一二三四五六七八九十多出来的。"
        << "一二三四五六七八九十一二三四五六七八九十";
}

void TestDevServiceApi::createsClipsAndOptimizesThemLater()
{
    QFETCH(QString, rawText);
    QFETCH(QString, optimized);
    QFETCH(QString, title);
    DevService service(testArguments({"--optimize-delay-ms", "20"}));
    QVERIFY(service.start());
    const QString token = service.signIn(demoPhone);

    const auto created = service.send("POST", "api/clips", {{"rawText", rawText}}, token);
    QCOMPARE(created.status, 201);
    const Clip clip = decodeReply<ClipEnvelope>(created.body).clip;
    QCOMPARE(clip.rawText, rawText);
    QCOMPARE(clip.title, title);
    QCOMPARE(clip.optimizedText, QString());
    QCOMPARE(clip.status, QStringLiteral("processing"));
    QCOMPARE(clip.optimizeStatus, QStringLiteral("pending"));

    QJsonObject done;
    QTRY_VERIFY_WITH_TIMEOUT((done = findClip(service, token, clip.id)).value("optimizeStatus") == "done", 5000);
    QCOMPARE(done.value("optimizedText").toString(), optimized);
    QCOMPARE(done.value("status").toString(), QStringLiteral("ready"));
    QCOMPARE(done.value("rawText").toString(), rawText);
    QVERIFY(done.value("updatedAt").toString() > clip.updatedAt);
}

void TestDevServiceApi::anEditWhileOptimizingIsNotOverwritten()
{
    DevService service(testArguments({"--optimize-delay-ms", "300"}));
    QVERIFY(service.start());
    const QString token = service.signIn(demoPhone);
    auto create = [&](const char *text) {
        return service.send("POST", "api/clips", {{"rawText", text}}, token).json().value("clip").toObject();
    };
    const QString edited = create("第一条").value("id").toString();
    const QString witness = create("第二条").value("id").toString();
    const auto patched = service.send("PATCH", "api/clips/" + edited,
                                      {{"title", "t"}, {"rawText", "第一条"}, {"optimizedText", "我自己写的"}}, token);
    QCOMPARE(patched.status, 200);

    // Optimizations run in the order they were scheduled: once the second is done, the first had its turn.
    QTRY_COMPARE_WITH_TIMEOUT(findClip(service, token, witness).value("optimizeStatus").toString(), QStringLiteral("done"),
                              5000);
    const QJsonObject kept = findClip(service, token, edited);
    QCOMPARE(kept.value("optimizedText").toString(), QStringLiteral("我自己写的"));
    QCOMPARE(kept.value("updatedAt"), patched.json().value("clip").toObject().value("updatedAt"));
}

void TestDevServiceApi::createsClipsOnlyInWritableSpaces()
{
    DevService service(testArguments({"--seed", "demo"}));
    QVERIFY(service.start());
    const QString token = service.signIn(demoPhone);
    const QJsonArray spaces = service.get("api/spaces", token).json().value("spaces").toArray();
    QCOMPARE(spaces.size(), 2);
    const QString writable = spaces.at(0).toObject().value("id").toString();
    const QString readOnly = spaces.at(1).toObject().value("id").toString();
    QCOMPARE(spaces.at(1).toObject().value("canEdit").toBool(), false);

    const auto created = service.send("POST", "api/clips", {{"rawText", "给小组"}, {"space", writable}}, token);
    QCOMPARE(created.status, 201);
    QCOMPARE(decodeReply<ClipEnvelope>(created.body).clip.collaborationName, QStringLiteral("产品小组"));

    struct Refusal { QString space; QString token; int status; QString error; };
    const QString stranger = service.signIn("13700000000");
    for (const Refusal &refusal : {Refusal{readOnly, token, 403, "没有编辑权限"}, Refusal{"99", token, 404, "协作空间不存在"},
                                   Refusal{"1x", token, 404, "协作空间不存在"}, Refusal{writable, stranger, 404, "协作空间不存在"}}) {
        const auto reply = service.send("POST", "api/clips", {{"rawText", "不该出现"}, {"space", refusal.space}}, refusal.token);
        QCOMPARE(reply.status, refusal.status);
        QCOMPARE(reply.errorText(), refusal.error);
    }
    QCOMPARE(clipsOf(service, token).size(), 13);
    QCOMPARE(clipsOf(service, stranger).size(), 0);
}

QTEST_GUILESS_MAIN(TestDevServiceApi)
#include "tst_devservice_api.moc"
