#include "platform/gnome/GnomeWorkspace.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWindow>

#include <algorithm>
#include <limits>

namespace quillpost {

namespace {

// Windows of ours that take part in the desktop's focus: not menus, tool tips or windows that
// bypass the window manager.
bool isOrdinaryWindow(const QWindow *window)
{
    const Qt::WindowType type = window->type();
    return window->isVisible() && (type == Qt::Window || type == Qt::Dialog)
        && !window->flags().testFlag(Qt::BypassWindowManagerHint);
}

} // namespace

GnomeWorkspace::GnomeWorkspace(QObject *parent) : Workspace(parent)
{
    m_restoreTimer.setSingleShot(true);
    m_restoreTimer.setInterval(restoreDelay);
    connect(&m_restoreTimer, &QTimer::timeout, this, &GnomeWorkspace::restoreWindows);
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, &GnomeWorkspace::applicationStateChanged);
}

RunningApplication GnomeWorkspace::focusedWindow()
{
    return {std::numeric_limits<quint32>::max(), 0, std::nullopt};
}

bool GnomeWorkspace::isOwnWindowActive()
{
    const QList<QWindow *> windows = QGuiApplication::topLevelWindows();
    return std::any_of(windows.cbegin(), windows.cend(),
                       [](const QWindow *window) { return isOrdinaryWindow(window) && window->isActive(); });
}

std::optional<RunningApplication> GnomeWorkspace::focusedApplication() const
{
    if (isOwnWindowActive())
        return std::nullopt;
    return focusedWindow();
}

void GnomeWorkspace::applicationStateChanged(Qt::ApplicationState state)
{
    if (state == Qt::ApplicationActive) {
        m_wasActive = true;
        const QWindow *focus = QGuiApplication::focusWindow();
        emit applicationActivated({focus ? quint32(focus->winId()) : std::numeric_limits<quint32>::max() - 1,
                                   QCoreApplication::applicationPid(), ownIdentifier()});
    } else if (m_wasActive) {
        m_wasActive = false;
        emit applicationActivated(focusedWindow());
    }
}

void GnomeWorkspace::activate(const RunningApplication &application)
{
    Q_UNUSED(application);
    if (!isOwnWindowActive())
        return;
    const QList<QWindow *> windows = QGuiApplication::topLevelWindows();
    for (QWindow *window : windows) {
        if (!isOrdinaryWindow(window))
            continue;
        window->hide();
        m_hidden.append(window);
    }
    m_restoreTimer.start();
}

void GnomeWorkspace::holdWindows()
{
    m_restoreTimer.stop();
}

void GnomeWorkspace::restoreWindows()
{
    m_restoreTimer.stop();
    const QList<QPointer<QWindow>> hidden = std::exchange(m_hidden, {});
    for (const QPointer<QWindow> &window : hidden) {
        if (!window || window->isVisible())
            continue;
        // The X11 way of saying "do not focus this window when it maps" (a user time of 0),
        // which Qt sends for this property.
        window->setProperty("_q_showWithoutActivating", true);
        window->show();
        window->setProperty("_q_showWithoutActivating", QVariant());
    }
}

} // namespace quillpost
