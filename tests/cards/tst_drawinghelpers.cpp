#include "cards/CircularAvatar.h"
#include "cards/FlippedReceiverView.h"
#include "cards/HexColor.h"
#include "cards/PassThroughScrollView.h"

#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>

using namespace quillpost;

class DrawingHelpersTest : public QObject
{
    Q_OBJECT

private slots:
    void hexColor_data();
    void hexColor();
    void avatarCrop_data();
    void avatarCrop();
    void avatarIsSharpOnHiDpi();
    void avatarOfNothingIsNothing();
    void wheelScrollsEnclosingList();
    void wheelScrollsOwnTextWithoutEnclosingArea();
};

void DrawingHelpersTest::hexColor_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QColor>("expected");

    const QColor a1b2c3 = QColor::fromRgb(0xA1, 0xB2, 0xC3);
    QTest::newRow("with hash") << "#A1B2C3" << true << a1b2c3;
    QTest::newRow("lower case, no hash") << "a1b2c3" << true << a1b2c3;
    QTest::newRow("blanks and line break around") << "  #a1b2c3 \n" << true << a1b2c3;
    QTest::newRow("tab and CRLF") << "\t#A1b2C3\r\n" << true << a1b2c3;
    QTest::newRow("plus sign takes a place") << "+0FF00" << true << QColor::fromRgb(0, 255, 0);
    QTest::newRow("minus one is white") << "-00001" << true << QColor::fromRgb(255, 255, 255);
    QTest::newRow("negative keeps low 24 bits") << "#-FFFFF" << true << QColor::fromRgb(0xF0, 0x00, 0x01);
    QTest::newRow("black") << "#000000" << true << QColor::fromRgb(0, 0, 0);

    QTest::newRow("three digits") << "#ABC" << false << QColor();
    QTest::newRow("four digits") << "#ABCD" << false << QColor();
    QTest::newRow("eight digits") << "#A1B2C3FF" << false << QColor();
    QTest::newRow("hash alone") << "#" << false << QColor();
    QTest::newRow("empty") << "" << false << QColor();
    QTest::newRow("blanks only") << "   " << false << QColor();
    QTest::newRow("second hash stays") << "##A1B2C" << false << QColor();
    QTest::newRow("not hex") << "#GGGGGG" << false << QColor();
    QTest::newRow("sign not first") << "0F+F00" << false << QColor();
    QTest::newRow("two signs") << "+-FF00" << false << QColor();
    QTest::newRow("inner blank") << "#A1 2C3" << false << QColor();
    QTest::newRow("full-width digits") << QStringLiteral("#１２３４５６") << false << QColor();
    QTest::newRow("seven characters") << "#A1B2C3D" << false << QColor();
}

void DrawingHelpersTest::hexColor()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QColor, expected);

    const std::optional<QColor> color = quillpost::hexColor(text);
    QCOMPARE(color.has_value(), valid);
    if (valid) {
        QCOMPARE(color->rgba(), expected.rgba());
        QCOMPARE(color->alphaF(), 1.0f);
    }
}

namespace {

// Three vertical or horizontal bands: red, green (the middle square), blue.
QImage bands(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int along = w > h ? x : y;
            const int cut = std::abs(w - h) / 2;
            const int longSide = std::max(w, h);
            QColor color = Qt::green;
            if (w != h && along < cut)
                color = Qt::red;
            else if (w != h && along >= longSide - cut)
                color = Qt::blue;
            image.setPixelColor(x, y, color);
        }
    }
    return image;
}

} // namespace

void DrawingHelpersTest::avatarCrop_data()
{
    QTest::addColumn<QSize>("sourceSize");
    QTest::newRow("wide 40x20") << QSize(40, 20);
    QTest::newRow("tall 20x40") << QSize(20, 40);
    QTest::newRow("square 20x20") << QSize(20, 20);
    QTest::newRow("large wide 400x100") << QSize(400, 100);
}

void DrawingHelpersTest::avatarCrop()
{
    QFETCH(QSize, sourceSize);
    const QPixmap avatar = circularAvatarImage(bands(sourceSize.width(), sourceSize.height()), 20, 1.0);
    QCOMPARE(avatar.size(), QSize(20, 20));
    const QImage image = avatar.toImage();

    // Inside the circle, right up to its edge on every side, only the middle square shows.
    for (const QPoint inside : {QPoint(10, 10), QPoint(2, 10), QPoint(17, 10), QPoint(10, 2), QPoint(10, 17)}) {
        const QColor color = image.pixelColor(inside);
        QVERIFY2(color.green() > 200 && color.red() < 40 && color.blue() < 40,
                 qPrintable(QStringLiteral("(%1,%2) is %3").arg(inside.x()).arg(inside.y()).arg(color.name(QColor::HexArgb))));
    }
    // The corners lie outside the circle.
    for (const QPoint corner : {QPoint(0, 0), QPoint(19, 0), QPoint(0, 19), QPoint(19, 19)})
        QCOMPARE(image.pixelColor(corner).alpha(), 0);
}

void DrawingHelpersTest::avatarIsSharpOnHiDpi()
{
    const QPixmap avatar = circularAvatarImage(bands(40, 20), 20, 2.0);
    QCOMPARE(avatar.devicePixelRatio(), 2.0);
    QCOMPARE(avatar.size(), QSize(40, 40));
    QCOMPARE(avatar.deviceIndependentSize(), QSizeF(20, 20));
    // Drawn at full resolution: the circle's edge is near the border of the 40-pixel image.
    const QImage image = avatar.toImage();
    QVERIFY(image.pixelColor(2, 20).alpha() > 200);
    QCOMPARE(image.pixelColor(1, 1).alpha(), 0);
}

void DrawingHelpersTest::avatarOfNothingIsNothing()
{
    QVERIFY(circularAvatarImage(QImage(), 20, 1.0).isNull());
    QVERIFY(circularAvatarImage(bands(20, 20), 0, 1.0).isNull());
}

namespace {

QString manyLines()
{
    QStringList lines;
    for (int i = 0; i < 60; ++i)
        lines << QStringLiteral("第 %1 行").arg(i);
    return lines.join(u'\n');
}

void sendWheel(QWidget *target, int angleDeltaY)
{
    const QPoint local = target->rect().center();
    QWheelEvent event(local, target->mapToGlobal(local), QPoint(), QPoint(0, angleDeltaY), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

} // namespace

void DrawingHelpersTest::wheelScrollsEnclosingList()
{
    QScrollArea list;
    list.resize(300, 200);
    list.setWidgetResizable(true);
    auto *document = new FlippedReceiverView;
    auto *layout = new QVBoxLayout(document);
    QList<PassThroughScrollView *> texts;
    for (int i = 0; i < 8; ++i) {
        auto *text = new PassThroughScrollView(document);
        text->setFixedHeight(58);
        text->setPlainText(manyLines());
        layout->addWidget(text);
        texts << text;
    }
    list.setWidget(document);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QVERIFY(list.verticalScrollBar()->maximum() > 0);
    PassThroughScrollView *text = texts.first();
    QVERIFY(text->verticalScrollBar()->maximum() > 0);

    // Over the text and over its scroll bar alike, the wheel moves the list, not the text.
    sendWheel(text->viewport(), -120);
    const int afterText = list.verticalScrollBar()->value();
    QVERIFY(afterText > 0);
    QCOMPARE(text->verticalScrollBar()->value(), 0);

    sendWheel(text->verticalScrollBar(), -120);
    QVERIFY(list.verticalScrollBar()->value() > afterText);
    QCOMPARE(text->verticalScrollBar()->value(), 0);

    // Dragging or stepping the scroll bar still scrolls the text itself.
    text->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QVERIFY(text->verticalScrollBar()->value() > 0);
}

void DrawingHelpersTest::wheelScrollsOwnTextWithoutEnclosingArea()
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *text = new PassThroughScrollView(&window);
    text->setFixedHeight(58);
    text->setPlainText(manyLines());
    layout->addWidget(text);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    sendWheel(text->viewport(), -120);
    QVERIFY(text->verticalScrollBar()->value() > 0);
}

QTEST_MAIN(DrawingHelpersTest)
#include "tst_drawinghelpers.moc"
