#pragma once

#include <QList>
#include <QWidget>



namespace quillpost {

// Requests to the window manager that Qt has no API for, sent the EWMH way on X11. Where the
// program does not run on X11 (offscreen, a native Wayland session) they do nothing.
class DesktopWindows
{
public:
    // Pinned: the window stays above others and on every desktop; unpinned: neither.
    static void setPinned(QWidget *window, bool pinned);

    // Minimises the windows of other applications on the current desktop and remembers them;
    // showAll() restores the remembered ones that still exist.
    void hideOthers(const QWidget *own);
    void showAll();

private:
    QList<quint32> m_hidden;
};

} // namespace quillpost
