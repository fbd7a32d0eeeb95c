#pragma once

#include "platform/Workspace.h"

#include <QAbstractNativeEventFilter>

#include <vector>

namespace quillpost {

// The workspace of an EWMH window manager on X11.
//
// Activations come from PropertyNotify events of _NET_ACTIVE_WINDOW on the root windows, seen
// through a native event filter on Qt's own xcb connection. A value of 0 is not an activation
// (window managers clear the property between two windows). The window's _NET_WM_PID and
// WM_CLASS class are read at once, while the window still exists.
//
// Works only when the Qt platform is xcb with a live connection; elsewhere (offscreen tests,
// Wayland) it never reports an activation, reports every application as terminated and
// activates nothing.
class X11Workspace final : public Workspace, private QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    // `ownIdentifier` is the WM_CLASS class of this program's windows: Qt uses the application
    // name as it stands, so the program sets QGuiApplication::applicationName to "Quillpost".
    explicit X11Workspace(std::optional<QString> ownIdentifier = QStringLiteral("Quillpost"),
                          QObject *parent = nullptr);

    bool isAvailable() const { return m_available; }

    std::optional<QString> ownIdentifier() const override { return m_ownIdentifier; }
    bool isTerminated(const RunningApplication &application) const override;
    std::optional<RunningApplication> focusedApplication() const override;
    void activate(const RunningApplication &application) override;

private:
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;
    // The application of the active window on `root`, read from the window now.
    std::optional<RunningApplication> activeApplication(quint32 root) const;

    std::optional<QString> m_ownIdentifier;
    bool m_available = false;
    std::vector<quint32> m_roots;
    quint32 m_netActiveWindow = 0;
    quint32 m_wmState = 0;
};

} // namespace quillpost
