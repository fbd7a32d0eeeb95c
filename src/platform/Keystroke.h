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
    Stopped,       // the caller's last check before the keys (BeforeKeys) said no: nothing was sent
    Superseded,    // a newer postPaste() waiting for the same consent is typed instead: nothing was sent
};

// Synthesises the paste chord for an application.
//
// postPaste() returns at once; the outcome of that one call is reported exactly once, on the
// GUI thread, possibly later: to `done` if `context` still exists then (a null context never
// gets it), and to everyone through `finished`. Each call has its own `done`, so callers
// never need to tell their outcomes apart by target.
//
// Whatever a seam waits for first (held modifier keys, the desktop's consent dialog), it calls
// the caller's BeforeKeys immediately before the first key event, after its own focus check,
// and types nothing (reporting Stopped) when that says no: what the caller decided when it asked
// for the keystroke may no longer hold by then.
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
    // Returns false to stop the keystroke. May change the clipboard (it runs before any key).
    using BeforeKeys = std::function<bool()>;

    using QObject::QObject;

    void postPaste(const RunningApplication &target, PasteChord chord, const QObject *context = nullptr,
                   Completion done = {}, BeforeKeys beforeKeys = {})
    {
        post(target, chord, std::move(beforeKeys),
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
    // `beforeKeys` may be empty (nothing to check); use mayType() to ask it.
    virtual void post(const RunningApplication &target, PasteChord chord, BeforeKeys beforeKeys,
                      Completion report) = 0;

    static bool mayType(const BeforeKeys &beforeKeys) { return !beforeKeys || beforeKeys(); }
};

} // namespace quillpost
