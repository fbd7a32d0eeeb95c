#include "app/MainWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>

namespace quillpost {

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Quillpost · Mac 接收器"));
}

int MainWindow::chromeHeight() const
{
    const QMenuBar *bar = menuBar();
    return bar && !bar->isNativeMenuBar() && !bar->isHidden() ? bar->sizeHint().height() : 0;
}

void MainWindow::setContentGeometry(QSize content, QSize minimum, QSize maximum)
{
    const QSize chrome(0, chromeHeight());
    setMinimumSize(minimum + chrome);
    setMaximumSize(maximum.isEmpty() ? QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX) : maximum + chrome);
    resize(content + chrome);
    layout()->activate();
    centre();
}

void MainWindow::setContent(QWidget *screen)
{
    setCentralWidget(screen);
    layout()->activate();
}

void MainWindow::centre()
{
    const QScreen *target = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!target)
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(target->availableGeometry().center());
    move(frame.topLeft());
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    hide();
    event->ignore();
}

void MainWindow::mousePressEvent(QMouseEvent *event)
{
    // Presses that reach the window were not taken by a control: the user grabbed the background.
    if (event->button() == Qt::LeftButton && windowHandle() && windowHandle()->startSystemMove()) {
        event->accept();
        return;
    }
    QMainWindow::mousePressEvent(event);
}

} // namespace quillpost
