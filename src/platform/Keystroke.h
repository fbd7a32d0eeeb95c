#pragma once

#include "platform/PasteChord.h"
#include "platform/Workspace.h"

#include <QObject>
#include <QPointer>

#include <functional>

namespace quillpost {

// What became of one postPaste().
enum class KeystrokeResult {
    Posted,        // the chord was sent to the target's window
    NotFocused,    // the keyboard focus was not in a window of the target: nothing was sent
    ModifiersHeld, // the user kept holding a modifier key for the whole wait: nothing was sent
    NoKeycode,     // the current keymap has no key for part of the chord: nothing was sent
    Unavailable,   // no way to synthesise key presses here (no X11, no XTEST): nothing was sent
    NotPermitted,  // the user refused or cancelled the desktop's consent dialog: nothing was sent
};

// Synthesises the paste chord for an application.
//
// postPaste() returns at once; the outcome of that one call is reported exactly once, on the
// GUI thread, possibly later: to `done` if `context` still exists then (a null context never
// gets it), and to everyone through `finished`. Each call has its own `done`, so callers
// never need to tell their outcomes apart by target.
//
// Implementations must never type into a window that does not belong to the target where the
// desktop lets them tell: the X11 one first waits (at most 1 s, without blocking the event loop)
// until no modifier key is held, then checks that the focused window belongs to the target (the
// same window, or one whose process is the target's) and only then posts the chord. GNOME tells
// no program which window has the focus: there the chord goes to the focused window, and never
// while one of our own windows is active.
class Keystroke : public QObject
{
    Q_OBJECT

public:
    using Completion = std::function<void(KeystrokeResult)>;

    using QObject::QObject;

    void postPaste(const RunningApplication &target, PasteChord chord, const QObject *context = nullptr,
                   Completion done = {})
    {
        post(target, chord,
             [this, target, guard = QPointer<const QObject>(context), done = std::move(done)](KeystrokeResult result) {
                 if (done && guard)
                     done(result);
                 emit finished(target, result);
             });
    }

signals:
    void finished(const quillpost::RunningApplication &target, quillpost::KeystrokeResult result);

protected:
    // Posts the chord and calls `report` exactly once with the outcome (at once or later).
    virtual void post(const RunningApplication &target, PasteChord chord, Completion report) = 0;
};

} // namespace quillpost
