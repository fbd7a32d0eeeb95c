#include "CardTestSupport.h"

#include "cards/ElidedLabel.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

using namespace quillpost;
using namespace quillpost::test;

// Renders cards as the panel shows them, at 1x and 2x, into PNG files for a person to look at.
// The files go to CARDS_PNG_DIR in the build tree. The checks here only make sure each picture
// was drawn and carries the card's own colours where they belong.
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
    QTest::addColumn<QColor>("backgroundTint");

    const QString optimized = QStringLiteral("明天上午十点在三楼会议室讨论第二季度的发布计划，请提前准备好各自负责部分的进度说明。");
    const QString raw = QStringLiteral("明天上午十点 三楼会议室 讨论一下二季度发布计划 大家准备下进度");
    const QColor neutral(255, 255, 255);
    const QColor blue(0x33, 0x66, 0xCC);

    Clip plain = makeClip(optimized, raw);
    QTest::newRow("neutral") << plain << false << neutral;

    Clip coloured = plain;
    coloured.title = QStringLiteral("产品周会");
    coloured.collaborationName = QStringLiteral("产品组");
    coloured.collaborationColor = QStringLiteral("#3366CC");
    QTest::newRow("coloured") << coloured << false << blue;

    Clip readOnly = makeClip({}, raw);
    readOnly.title = QStringLiteral("只读内容");
    readOnly.canEdit = false;
    QTest::newRow("read-only") << readOnly << false << neutral;

    QTest::newRow("highlighted") << plain << true << neutral;

    Clip longTitle = plain;
    longTitle.title = QStringLiteral("这是一个非常非常长的标题，用来检查标题在一行放不下时会在末尾被截断并显示省略号");
    longTitle.collaborationName = QStringLiteral("市场部");
    longTitle.collaborationColor = QStringLiteral("#2E9E6B");
    QTest::newRow("long-title") << longTitle << false << QColor(0x2E, 0x9E, 0x6B);
}

void CardPngTest::render()
{
    QFETCH(Clip, clip);
    QFETCH(bool, highlight);
    QFETCH(QColor, backgroundTint);

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

        // A point inside the card, left of the title row's text: the card's background over the
        // window, tinted towards the collaboration colour when there is one.
        const QImage image = pixmap.toImage();
        const QPoint inside = card->geometry().topLeft() + QPoint(4, card->height() / 2);
        const QColor pixel = image.pixelColor(inside * ratio);
        if (!highlight && backgroundTint != QColor(255, 255, 255)) {
            const QColor window = list.palette().color(QPalette::Window);
            const auto towards = [](int tint, int base, int value) {
                return (tint - base) * (value - base) >= 0;
            };
            QVERIFY2(towards(backgroundTint.red(), window.red(), pixel.red())
                         && towards(backgroundTint.green(), window.green(), pixel.green())
                         && towards(backgroundTint.blue(), window.blue(), pixel.blue()),
                     qPrintable(pixel.name()));
            QVERIFY(pixel != window);
        }
    }
}

QTEST_MAIN(CardPngTest)
#include "tst_cardpng.moc"
