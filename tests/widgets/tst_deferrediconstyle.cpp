// The program's style reads a standard icon only when it is drawn, and draws it as the desktop's
// style does.

#include "widgets/DeferredIconStyle.h"

#include <QApplication>
#include <QFile>
#include <QMenuBar>
#include <QStyleFactory>
#include <QTest>

using namespace quillpost;

namespace {

bool imagePluginsLoaded()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("/imageformats/");
}

} // namespace

class DeferredIconStyleTest : public QObject
{
    Q_OBJECT

private slots:
    void iconsReadWhenDrawn()
    {
        QVERIFY(!imagePluginsLoaded());
        QApplication::setStyle(new DeferredIconStyle(QStyleFactory::create(QStringLiteral("Fusion"))));
        const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));

        // A menu bar asks for its overflow arrow when it is made, and shows it only when its
        // menus do not fit.
        auto bar = std::make_unique<QMenuBar>();
        bar->addMenu(QStringLiteral("编辑"));
        bar->resize(400, 30);
        bar->show();
        QVERIFY(QTest::qWaitForWindowExposed(bar.get()));
        QVERIFY(!imagePluginsLoaded());

        // Drawn, each icon is the desktop style's own, also once the widget it was asked for is gone.
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
