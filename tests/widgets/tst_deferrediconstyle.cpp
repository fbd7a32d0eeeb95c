// The program's style, which reads a standard icon only when it is drawn, draws it as the
// desktop's style does. (That nothing is read before: bench/desktop-footprint lists the image
// format plugins the program has loaded.)

#include "widgets/DeferredIconStyle.h"

#include <QApplication>
#include <QMenuBar>
#include <QStyleFactory>
#include <QTest>

using namespace quillpost;

class DeferredIconStyleTest : public QObject
{
    Q_OBJECT

private slots:
    void iconsDrawnAsTheDesktopStyleDraws()
    {
        QApplication::setStyle(new DeferredIconStyle(QStyleFactory::create(QStringLiteral("Fusion"))));
        const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));

        // Drawn, each icon is the desktop style's own, also once the widget it was asked for is gone.
        auto bar = std::make_unique<QMenuBar>();
        for (const QStyle::StandardPixmap which :
             {QStyle::SP_ToolBarHorizontalExtensionButton, QStyle::SP_MessageBoxWarning, QStyle::SP_DialogOkButton}) {
            const QIcon icon = QApplication::style()->standardIcon(which, nullptr, bar.get());
            const QIcon expected = fusion->standardIcon(which);
            bar.reset();
            QVERIFY(!icon.isNull());
            for (const int size : {16, 32}) {
                QCOMPARE(icon.actualSize(QSize(size, size)), expected.actualSize(QSize(size, size)));
                QCOMPARE(icon.pixmap(size, size).toImage(), expected.pixmap(size, size).toImage());
            }
        }
    }
};

QTEST_MAIN(DeferredIconStyleTest)
#include "tst_deferrediconstyle.moc"
