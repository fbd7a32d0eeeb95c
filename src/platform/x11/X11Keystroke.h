#pragma once

#include "platform/Keystroke.h"

#include <QElapsedTimer>

#include <chrono>

namespace quillpost {

// Posts the paste chord with XTEST on Qt's xcb connection.
//
// For each postPaste(): while any key of the modifier map (Shift, Control, Alt, Super, AltGr …)
// is held down, look again every 10 ms, for at most 1 s, so that a held key cannot turn the
// chord into another command; give up with ModifiersHeld after that. Then post only if the
// window with the input focus, or one of its ancestors, is the target's window or belongs to
// the target's process, and the caller's BeforeKeys agrees. Keycodes come from the keymap in
// force at that moment. The events are flushed at once.
class X11Keystroke final : public Keystroke
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds modifierWait{1000};
    static constexpr std::chrono::milliseconds modifierPollInterval{10};

    using Keystroke::Keystroke;

protected:
    void post(const RunningApplication &target, PasteChord chord, BeforeKeys beforeKeys, Completion report) override;

private:
    void attempt(const RunningApplication &target, PasteChord chord, QElapsedTimer waited, BeforeKeys beforeKeys,
                 Completion report);
};

} // namespace quillpost
