#include "service/Records.h"

#include <QJsonDocument>
#include <QSet>
#include <QTest>

using namespace quillpost;

class RecordsTest : public QObject
{
    Q_OBJECT

private slots:
    void clipDecoding_data();
    void clipDecoding();
    void clipRejectsWrongTypes_data();
    void clipRejectsWrongTypes();
    void listFailsWhole_data();
    void listFailsWhole();
    void loginResponse();
    void profileAvatar_data();
    void profileAvatar();
    void sendCodeReply_data();
    void sendCodeReply();
    void envelope();
    void notAnObject_data();
    void notAnObject();
    void encodingKeepsDeclarationOrder();
    void equalityAndHashCoverEveryField();
};

namespace {

Clip decodeClip(const char *json)
{
    return Clip::fromJson(QJsonDocument::fromJson(json).object());
}

QString failureOf(const std::function<void()> &decode)
{
    try {
        decode();
    } catch (const DecodingError &error) {
        return error.description();
    }
    return {};
}

} // namespace

void RecordsTest::clipDecoding_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("canEdit");
    QTest::addColumn<bool>("favorite");
    QTest::addColumn<QString>("rawText");

    QTest::newRow("only an id") << QByteArray(R"({"id":"a"})") << "未命名内容"
                                << "ready" << true << false << "";
    QTest::newRow("nulls take the defaults")
        << QByteArray(R"({"id":"a","title":null,"status":null,"canEdit":null,"favorite":null,"rawText":null})")
        << "未命名内容" << "ready" << true << false << "";
    QTest::newRow("empty strings stay empty")
        << QByteArray(R"({"id":"a","title":"","status":""})") << "" << "" << true << false << "";
    QTest::newRow("present values win")
        << QByteArray(R"({"id":"a","title":"T","status":"processing","canEdit":false,"favorite":true,"rawText":"r"})")
        << "T" << "processing" << false << true << "r";
    QTest::newRow("unknown and differently cased keys are ignored")
        << QByteArray(R"({"id":"a","createdAt":5,"Title":"x","CANEDIT":false})") << "未命名内容"
        << "ready" << true << false << "";
}

void RecordsTest::clipDecoding()
{
    QFETCH(QByteArray, json);
    const Clip clip = decodeClip(json);
    QCOMPARE(clip.id, QStringLiteral("a"));
    QTEST(clip.title, "title");
    QTEST(clip.status, "status");
    QTEST(clip.canEdit, "canEdit");
    QTEST(clip.favorite, "favorite");
    QTEST(clip.rawText, "rawText");
    QVERIFY(clip.optimizedText.isEmpty() && clip.collaborationColor.isEmpty() && clip.updatedAt.isEmpty());
}

void RecordsTest::clipRejectsWrongTypes_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("mentions");

    QTest::newRow("id as a number") << QByteArray(R"({"id":42})") << "“id”";
    QTest::newRow("missing id") << QByteArray(R"({"title":"t"})") << "缺少字段“id”";
    QTest::newRow("null id") << QByteArray(R"({"id":null})") << "缺少字段“id”";
    QTest::newRow("canEdit as 1") << QByteArray(R"({"id":"a","canEdit":1})") << "“canEdit”";
    QTest::newRow("canEdit as \"true\"") << QByteArray(R"({"id":"a","canEdit":"true"})") << "“canEdit”";
    QTest::newRow("favorite as 0") << QByteArray(R"({"id":"a","favorite":0})") << "“favorite”";
    QTest::newRow("title as a number") << QByteArray(R"({"id":"a","title":7})") << "“title”";
    QTest::newRow("updatedAt as an object") << QByteArray(R"({"id":"a","updatedAt":{}})") << "“updatedAt”";
    QTest::newRow("colour as an array") << QByteArray(R"({"id":"a","collaborationColor":[]})")
                                        << "“collaborationColor”";
}

void RecordsTest::clipRejectsWrongTypes()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, mentions);
    const QString description = failureOf([&] { decodeClip(json); });
    QVERIFY2(description.contains(mentions), qPrintable(description));
    QVERIFY(description.startsWith(QStringLiteral("服务器返回的数据无法识别：")));
}

void RecordsTest::listFailsWhole_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("mentions");

    QByteArray fifty = "{\"clips\":[";
    for (int i = 0; i < 50; ++i)
        fifty += (i ? "," : "") + (i == 37 ? QByteArray(R"({"id":37})") : "{\"id\":\"c" + QByteArray::number(i) + "\"}");
    fifty += "]}";
    QTest::newRow("one bad element among fifty") << fifty << "第 38 条内容的字段“id”";
    QTest::newRow("element not an object") << QByteArray(R"({"clips":[{"id":"a"},"b"]})") << "第 2 条内容应为对象";
    QTest::newRow("clips missing") << QByteArray("{}") << "缺少字段“clips”";
    QTest::newRow("clips null") << QByteArray(R"({"clips":null})") << "缺少字段“clips”";
    QTest::newRow("clips an object") << QByteArray(R"({"clips":{}})") << "“clips”应为数组";
}

void RecordsTest::listFailsWhole()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, mentions);
    const QString description = failureOf([&] { decodeReply<ClipList>(json); });
    QVERIFY2(description.contains(mentions), qPrintable(description));
}

void RecordsTest::loginResponse()
{
    const LoginResponse empty = decodeReply<LoginResponse>("{}");
    QVERIFY(!empty.token && !empty.user && !empty.requiresNickname);

    const LoginResponse nullToken = decodeReply<LoginResponse>(R"({"token":null,"requiresNickname":false})");
    QVERIFY(!nullToken.token);
    QCOMPARE(nullToken.requiresNickname, std::optional<bool>(false));

    const LoginResponse full = decodeReply<LoginResponse>(
        R"({"token":"t","user":{"phone":"1","nickname":"n"},"requiresNickname":true})");
    QCOMPARE(full.token, std::optional<QString>(QStringLiteral("t")));
    QCOMPARE(full.user->nickname, QStringLiteral("n"));
    QCOMPARE(full.requiresNickname, std::optional<bool>(true));

    QVERIFY(failureOf([] { decodeReply<LoginResponse>(R"({"token":"t","user":{"phone":"1"}})"); })
                .contains(QStringLiteral("缺少字段“nickname”")));
    QVERIFY(!failureOf([] { decodeReply<LoginResponse>(R"({"requiresNickname":"yes"})"); }).isEmpty());
}

void RecordsTest::profileAvatar_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("hasAvatar");
    QTest::addColumn<QString>("avatar");

    QTest::newRow("absent") << QByteArray(R"({"phone":"1","nickname":"n"})") << false << "";
    QTest::newRow("null") << QByteArray(R"({"phone":"1","nickname":"n","avatarData":null})") << false << "";
    QTest::newRow("empty") << QByteArray(R"({"phone":"1","nickname":"n","avatarData":""})") << true << "";
    QTest::newRow("data url") << QByteArray(R"({"phone":"1","nickname":"n","avatarData":"data:image/png;base64,AA"})")
                              << true << "data:image/png;base64,AA";
}

void RecordsTest::profileAvatar()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, hasAvatar);
    const Profile profile = decodeReply<Profile>(json);
    QCOMPARE(profile.avatarData.has_value(), hasAvatar);
    if (hasAvatar)
        QTEST(*profile.avatarData, "avatar");
}

void RecordsTest::sendCodeReply_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("decodes");

    QTest::newRow("sent true") << QByteArray(R"({"sent":true})") << true;
    QTest::newRow("sent false still decodes") << QByteArray(R"({"sent":false})") << true;
    QTest::newRow("empty object") << QByteArray("{}") << false;
    QTest::newRow("sent as a string") << QByteArray(R"({"sent":"true"})") << false;
}

void RecordsTest::sendCodeReply()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, decodes);
    QCOMPARE(failureOf([&] { decodeReply<Result>(json); }).isEmpty(), decodes);
}

void RecordsTest::envelope()
{
    QCOMPARE(decodeReply<ClipEnvelope>(R"({"clip":{"id":"x","title":"t"}})").clip.title, QStringLiteral("t"));
    QVERIFY(failureOf([] { decodeReply<ClipEnvelope>(R"({"clip":{"title":"t"}})"); })
                .contains(QStringLiteral("保存回复中的内容缺少字段“id”")));
}

void RecordsTest::notAnObject_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("empty body") << QByteArray();
    QTest::newRow("blank body") << QByteArray(" \n");
    QTest::newRow("array") << QByteArray("[]");
    QTest::newRow("html") << QByteArray("<html></html>");
    QTest::newRow("truncated") << QByteArray(R"({"clips":[)");
}

void RecordsTest::notAnObject()
{
    QFETCH(QByteArray, body);
    QVERIFY(!failureOf([&] { decodeReply<ClipList>(body); }).isEmpty());
}

void RecordsTest::encodingKeepsDeclarationOrder()
{
    Clip clip;
    clip.id = QStringLiteral("i\"d");
    clip.title = QStringLiteral("标题");
    clip.canEdit = false;
    QCOMPARE(clip.toJsonBytes(),
             QByteArray("{\"id\":\"i\\\"d\",\"title\":\"标题\",\"rawText\":\"\",\"optimizedText\":\"\",\"status\":\"ready\","
                        R"("optimizeStatus":"","updatedAt":"","deviceName":"","canEdit":false,"favorite":false,)"
                        R"("collaborationName":"","collaborationColor":""})"));
    // What is encoded decodes to the same clip.
    QCOMPARE(decodeReply<ClipEnvelope>("{\"clip\":" + clip.toJsonBytes() + "}").clip, clip);
}

void RecordsTest::equalityAndHashCoverEveryField()
{
    const Clip base = decodeClip(R"({"id":"a","title":"t","rawText":"r","optimizedText":"o","status":"s",)"
                                 R"("optimizeStatus":"p","updatedAt":"u","deviceName":"d","canEdit":true,)"
                                 R"("favorite":false,"collaborationName":"n","collaborationColor":"c"})");
    const std::function<void(Clip &)> changes[] = {
        [](Clip &c) { c.id += 'x'; },
        [](Clip &c) { c.title += 'x'; },
        [](Clip &c) { c.rawText += 'x'; },
        [](Clip &c) { c.optimizedText += 'x'; },
        [](Clip &c) { c.status += 'x'; },
        [](Clip &c) { c.optimizeStatus += 'x'; },
        [](Clip &c) { c.updatedAt += 'x'; },
        [](Clip &c) { c.deviceName += 'x'; },
        [](Clip &c) { c.canEdit = !c.canEdit; },
        [](Clip &c) { c.favorite = !c.favorite; },
        [](Clip &c) { c.collaborationName += 'x'; },
        [](Clip &c) { c.collaborationColor += 'x'; },
    };
    QSet<size_t> hashes{qHash(base)};
    for (const auto &change : changes) {
        Clip other = base;
        change(other);
        QVERIFY(other != base);
        hashes.insert(qHash(other));
    }
    QCOMPARE(hashes.size(), qsizetype(std::size(changes)) + 1);
    Clip copy = base;
    QVERIFY(copy == base);
    QCOMPARE(qHash(copy), qHash(base));
}

QTEST_GUILESS_MAIN(RecordsTest)
#include "tst_records.moc"
