#include "service/Records.h"

#include <QSet>
#include <QTest>

using namespace quillpost;

namespace {

// The description of the decoding failure, or an empty text when `decode` succeeds.
template<typename Decode>
QString failureOf(Decode decode)
{
    try {
        decode();
    } catch (const DecodingError &error) {
        return error.description();
    }
    return {};
}

} // namespace

class RecordsTest : public QObject
{
    Q_OBJECT

private slots:
    void clipDefaults_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("canEdit");
        QTest::addColumn<bool>("favorite");

        QTest::newRow("only an id") << QByteArray(R"({"clip":{"id":"a"}})") << "未命名内容" << "ready" << true << false;
        QTest::newRow("nulls take the defaults")
            << QByteArray(R"({"clip":{"id":"a","title":null,"status":null,"canEdit":null,"favorite":null}})")
            << "未命名内容" << "ready" << true << false;
        QTest::newRow("empty strings stay empty") << QByteArray(R"({"clip":{"id":"a","title":"","status":""}})") << ""
                                                  << "" << true << false;
        QTest::newRow("unknown and differently cased keys are ignored")
            << QByteArray(R"({"clip":{"id":"a","createdAt":5,"Title":"x","CANEDIT":false}})") << "未命名内容"
            << "ready" << true << false;
        QTest::newRow("present values win")
            << QByteArray(R"({"clip":{"id":"a","title":"T","status":"s","canEdit":false,"favorite":true}})") << "T"
            << "s" << false << true;
    }

    void clipDefaults()
    {
        QFETCH(QByteArray, json);
        const Clip clip = decodeReply<ClipEnvelope>(json).clip;
        QCOMPARE(clip.id, QStringLiteral("a"));
        QTEST(clip.title, "title");
        QTEST(clip.status, "status");
        QTEST(clip.canEdit, "canEdit");
        QTEST(clip.favorite, "favorite");
        QVERIFY(clip.rawText.isEmpty() && clip.optimizedText.isEmpty() && clip.updatedAt.isEmpty());
    }

    // Every reply that must fail to decode, with the part of the description that says where.
    void rejected_data()
    {
        QTest::addColumn<QByteArray>("kind");
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("mentions");

        QByteArray fifty = R"({"clips":[)";
        for (int i = 0; i < 50; ++i)
            fifty += (i ? "," : "") + (i == 37 ? QByteArray(R"({"id":37})") : "{\"id\":\"c" + QByteArray::number(i) + "\"}");
        fifty += "]}";

        const auto row = [](const char *name, const char *kind, const QByteArray &json, const char *mentions) {
            QTest::newRow(name) << QByteArray(kind) << json << QString::fromUtf8(mentions);
        };
        row("id as a number", "list", R"({"clips":[{"id":42}]})", "第 1 条内容的字段“id”应为文本");
        row("one bad clip among fifty", "list", fifty, "第 38 条内容的字段“id”");
        row("missing id", "list", R"({"clips":[{"title":"t"}]})", "缺少字段“id”");
        row("null id", "list", R"({"clips":[{"id":null}]})", "缺少字段“id”");
        row("canEdit as 1", "list", R"({"clips":[{"id":"a","canEdit":1}]})", "“canEdit”应为布尔值");
        row("clip not an object", "list", R"({"clips":[{"id":"a"},"b"]})", "第 2 条内容应为对象");
        row("clips missing", "list", "{}", "缺少字段“clips”");
        row("clips an object", "list", R"({"clips":{}})", "“clips”应为数组");
        row("empty body", "list", "", "回复内容为空");
        row("not JSON", "list", "<html></html>", "不是有效的 JSON");
        row("an array", "list", "[]", "应为 JSON 对象");
        row("envelope clip without id", "envelope", R"({"clip":{"title":"t"}})", "保存回复中的内容缺少字段“id”");
        row("user without nickname", "login", R"({"token":"t","user":{"phone":"1"}})", "缺少字段“nickname”");
        row("requiresNickname as text", "login", R"({"requiresNickname":"yes"})", "“requiresNickname”");
        row("send-code reply without sent", "sent", "{}", "缺少字段“sent”");
    }

    void rejected()
    {
        QFETCH(QByteArray, kind);
        QFETCH(QByteArray, json);
        QFETCH(QString, mentions);
        const QString description = failureOf([&] {
            if (kind == "list")
                decodeReply<ClipList>(json);
            else if (kind == "envelope")
                decodeReply<ClipEnvelope>(json);
            else if (kind == "login")
                decodeReply<LoginResponse>(json);
            else
                decodeReply<Result>(json);
        });
        QVERIFY2(description.startsWith(QStringLiteral("服务器返回的数据无法识别：")) && description.contains(mentions),
                 qPrintable(description));
    }

    void loginAndProfileOptionals()
    {
        const LoginResponse empty = decodeReply<LoginResponse>("{}");
        QVERIFY(!empty.token && !empty.user && !empty.requiresNickname);
        const LoginResponse full = decodeReply<LoginResponse>(
            R"({"token":"t","user":{"phone":"1","nickname":"n","avatarData":null},"requiresNickname":false})");
        QCOMPARE(full.token, std::optional<QString>(QStringLiteral("t")));
        QCOMPARE(full.requiresNickname, std::optional<bool>(false));
        QVERIFY(full.user && !full.user->avatarData);

        QVERIFY(!decodeReply<Profile>(R"({"phone":"1","nickname":"n"})").avatarData);
        QCOMPARE(decodeReply<Profile>(R"({"phone":"1","nickname":"n","avatarData":""})").avatarData,
                 std::optional<QString>(QString()));
        QVERIFY(failureOf([] { decodeReply<Result>(R"({"sent":false})"); }).isEmpty());
    }

    void encodingAndIdentity()
    {
        Clip clip;
        clip.id = QStringLiteral("i\"d");
        clip.title = QStringLiteral("标题");
        clip.canEdit = false;
        QCOMPARE(decodeReply<ClipEnvelope>("{\"clip\":" + clip.toJsonBytes() + "}").clip, clip);

        // Every one of the twelve fields takes part in equality and hashing.
        QSet<size_t> hashes{qHash(clip)};
        for (int field = 0; field < 12; ++field) {
            Clip other = clip;
            QString *texts[] = {&other.id, &other.title, &other.rawText, &other.optimizedText, &other.status,
                                &other.optimizeStatus, &other.updatedAt, &other.deviceName, nullptr, nullptr,
                                &other.collaborationName, &other.collaborationColor};
            if (field == 8)
                other.canEdit = !other.canEdit;
            else if (field == 9)
                other.favorite = !other.favorite;
            else
                texts[field]->append(QLatin1Char('x'));
            QVERIFY2(other != clip, qPrintable(QString::number(field)));
            hashes.insert(qHash(other));
        }
        QCOMPARE(hashes.size(), 13);
    }
};

QTEST_GUILESS_MAIN(RecordsTest)
#include "tst_records.moc"
