#include "CardTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTest>
#include <QVBoxLayout>

using namespace quillpost;
using namespace quillpost::test;

// Renders cards as the panel shows them, at 1x and 2x, into PNG files for a person to look at.
// The files go to CARDS_PNG_DIR in the build tree.
class CardPngTest : public QObject
{
    Q_OBJECT

private slots:
    void render_data();
    void render();
};

void CardPngTest::render_data()
{
    QTest::addColumn<Clip>("clip");
    QTest::addColumn<bool>("highlight");

    const QString optimized = QStringLiteral("明天上午十点在三楼会议室讨论第二季度的发布计划，请提前准备好各自负责部分的进度说明。");
    const QString raw = QStringLiteral("明天上午十点 三楼会议室 讨论一下二季度发布计划 大家准备下进度");

    Clip plain = makeClip(optimized, raw);
    QTest::newRow("neutral") << plain << false;

    Clip coloured = plain;
    coloured.title = QStringLiteral("产品周会");
    coloured.collaborationName = QStringLiteral("产品组");
    coloured.collaborationColor = QStringLiteral("#3366CC");
    QTest::newRow("coloured") << coloured << false;

    Clip readOnly = makeClip({}, raw);
    readOnly.title = QStringLiteral("只读内容");
    readOnly.canEdit = false;
    QTest::newRow("read-only") << readOnly << false;

    QTest::newRow("highlighted") << plain << true;

    Clip longTitle = plain;
    longTitle.title = QStringLiteral("这是一个非常非常长的标题，用来检查标题在一行放不下时会在末尾被截断并显示省略号");
    longTitle.collaborationName = QStringLiteral("市场部");
    longTitle.collaborationColor = QStringLiteral("#2E9E6B");
    QTest::newRow("long-title") << longTitle << false;
}

void CardPngTest::render()
{
    QFETCH(Clip, clip);
    QFETCH(bool, highlight);

    // A stand-in for the panel's list: the card at the panel's width on the window background,
    // with room around it for the shadow.
    QWidget list;
    list.setAutoFillBackground(true);
    auto *layout = new QVBoxLayout(&list);
    layout->setContentsMargins(12, 12, 12, 12);
    auto card = makeCard(clip, std::make_shared<CardCalls>(), nullptr, highlight);
    layout->addWidget(card.get());
    list.resize(330, list.sizeHint().height());
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));

    const QDir dir(QStringLiteral(CARDS_PNG_DIR));
    QVERIFY(dir.mkpath(QStringLiteral(".")));
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    for (const qreal ratio : {1.0, 2.0}) {
        QPixmap pixmap(list.size() * ratio);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        list.render(&pixmap);
        const QString file = dir.filePath(QStringLiteral("%1@%2x.png").arg(name).arg(int(ratio)));
        QVERIFY2(pixmap.save(file), qPrintable(file));

    }
}

QTEST_MAIN(CardPngTest)
#include "tst_cardpng.moc"
