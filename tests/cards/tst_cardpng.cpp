#include "CardTestSupport.h"

#include <QVBoxLayout>

using namespace quillpost;

// Renders cards as the panel shows them, at twice the pixel density, into PNG files under
// CARDS_PNG_DIR for a person to look at, and checks which of the header's texts give way.
class CardPngTest : public QObject
{
    Q_OBJECT

private slots:
    void render_data()
    {
        QTest::addColumn<Clip>("clip");
        const QString text = QStringLiteral("明天上午十点在三楼会议室讨论第二季度的发布计划，请提前准备好各自负责部分的进度说明。");
        Clip readOnly = makeClip(text, QStringLiteral("只读内容"));
        readOnly.canEdit = false;
        QTest::newRow("neutral") << makeClip(text);
        QTest::newRow("highlighted") << makeClip(text);
        QTest::newRow("read-only") << readOnly;
        // Latin text measures in fractions of a pixel; a width rounded down cut such a title.
        QTest::newRow("coloured") << makeClip(text, "Weekly notes 产品周会", "Design team", "#3366CC");
        QTest::newRow("long-title") << makeClip(text, QStringLiteral("这是一个非常非常长的标题，").repeated(4) + "结尾", "市场部", "#2E9E6B");
        QTest::newRow("wide-space") << makeClip(text, "周会", QStringLiteral("产品设计与市场推广协作空间第二小组"), "#8E5CC2");
        QTest::newRow("long-space") << makeClip(text, "产品周会", QStringLiteral("很长的协作空间名称").repeated(5), "#2E9E6B");
    }

    void render()
    {
        QFETCH(Clip, clip);
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        // A stand-in for the panel's list: the card on the window background, with room for its shadow.
        QWidget list;
        const auto [card, calls] = makeCard(clip, nullptr, tag == u"highlighted");
        (new QVBoxLayout(&list))->addWidget(card.get());
        list.resize(330, list.sizeHint().height());
        list.show();
        // The card keeps the panel's width: the title gives way first, at its tail; the space
        // name only when the row has no room for it at all.
        QCOMPARE(list.width(), 330);
        QCOMPARE(card->titleLabel()->isElided(), tag == u"long-title" || tag == u"long-space");
        QCOMPARE(card->titleLabel()->toolTip().contains(QStringLiteral("结尾")), tag == u"long-title");
        QCOMPARE(card->collaborationLabel()->isElided(), tag == u"long-space");
        if (tag == u"wide-space") // wider than a fixed cap would allow
            QVERIFY(card->collaborationLabel()->width() > 150);

        QPixmap pixmap(list.size() * 2);
        pixmap.setDevicePixelRatio(2);
        list.render(&pixmap);
        const QString file = QStringLiteral(CARDS_PNG_DIR "/%1@2x.png").arg(tag);
        QVERIFY2(pixmap.save(file), qPrintable(file));
    }
};

QTEST_MAIN(CardPngTest)
#include "tst_cardpng.moc"
