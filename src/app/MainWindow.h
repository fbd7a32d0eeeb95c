#pragma once

#include <QMainWindow>

namespace quillpost {

// The program's one window. Closing it only hides it (the program goes on in the tray), and a
// press on its background moves it, as the window has little title bar of its own to grab.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);

    // Sets the size of the content below the menu bar, and its limits (an empty maximum means
    // none), then centres the window on its screen.
    void setContentGeometry(QSize content, QSize minimum, QSize maximum = {});
    void centre();
    // Replaces the screen shown in the window; the old one is deleted once control returns to
    // the event loop, so a screen may replace itself from one of its own callbacks.
    void setContent(QWidget *screen);

protected:
    void closeEvent(QCloseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    int chromeHeight() const;
};

} // namespace quillpost
