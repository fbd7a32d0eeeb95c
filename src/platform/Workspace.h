#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>

#include <optional>

class QWindow;

namespace quillpost {

// An application as the workspace saw it when one of its windows became active: a plain value
// that is copied freely and stays valid (as a description) after the application has quit.
//
// - windowId: the top-level window that became active (an X11 window id); never 0.
// - processId: the process that owns the window, 0 when unknown (no _NET_WM_PID, or a client
//   running on another host).
// - identifier: the application's identifier (the WM_CLASS class on X11, e.g. "XTerm"),
//   absent when the window has none.
struct RunningApplication
{
    quint32 windowId = 0;
    qint64 processId = 0;
    std::optional<QString> identifier;

    friend bool operator==(const RunningApplication &, const RunningApplication &) = default;
};

// The desktop's applications: tells when a window of any application becomes active, and
// raises or tests an application seen before. All on the GUI thread.
class Workspace : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // The identifier that this program's own windows carry (compared with
    // RunningApplication::identifier to recognise our own activations); may be absent.
    virtual std::optional<QString> ownIdentifier() const = 0;

    // True when the application has quit or the window through which it was seen is gone
    // (destroyed or withdrawn). A minimised window is not gone.
    virtual bool isTerminated(const RunningApplication &application) const = 0;

    // The application whose window has the keyboard focus now, read at the moment of asking
    // (it may be this program itself), where the desktop tells that at any time; nothing where
    // it only reports activations as they happen (the last one reported is then the best guess).
    virtual std::optional<RunningApplication> focusedApplication() const { return std::nullopt; }

    // Asks the desktop to bring the application's window to the front and give it the keyboard
    // focus, ignoring other applications. Asynchronous: the window may become active a few
    // milliseconds later, which is then reported through applicationActivated.
    virtual void activate(const RunningApplication &application) = 0;

    // Whether this desktop lets our window stay above other windows when asked (X11 window
    // managers do; wlroots compositors have no such request for ordinary windows).
    virtual bool canKeepWindowsAbove() const { return true; }

    // Pinned: asks the desktop to keep this program's `window` above other windows and on every
    // desktop, also after it is hidden and shown again; unpinned: neither. Desktops where Qt's
    // own window hints reach the window manager (X11) need nothing here: the default does
    // nothing.
    virtual void setPinned(QWindow *window, bool pinned)
    {
        Q_UNUSED(window);
        Q_UNUSED(pinned);
    }

signals:
    // A top-level window of `application` (possibly this program's own) became active.
    void applicationActivated(const quillpost::RunningApplication &application);
};

} // namespace quillpost

Q_DECLARE_METATYPE(quillpost::RunningApplication)
