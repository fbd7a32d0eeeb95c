#pragma once

#include "platform/Keystroke.h"
#include "platform/Workspace.h"

#include <linux/input-event-codes.h>

#include <cstdint>
#include <vector>

namespace quillpost {

// The keys of a paste chord as evdev codes (the US positions), modifiers in the order in which
// they are pressed.
struct ChordKeys
{
    std::vector<uint32_t> modifiers;
    uint32_t key;
};

inline ChordKeys chordKeys(PasteChord chord)
{
    switch (chord) {
    case PasteChord::ControlV:
        return {{KEY_LEFTCTRL}, KEY_V};
    case PasteChord::ControlShiftV:
        return {{KEY_LEFTCTRL, KEY_LEFTSHIFT}, KEY_V};
    case PasteChord::ShiftInsert:
        return {{KEY_LEFTSHIFT}, KEY_INSERT};
    }
    return {{KEY_LEFTCTRL}, KEY_V};
}

// What the Wayland seams add to Workspace: whether the compositor lets us follow its windows
// at all, and whether a window seen before is the active one now (the check made before every
// keystroke). Implemented per protocol family (wlroots, KWin).
class WaylandWorkspace : public Workspace
{
    Q_OBJECT

public:
    using Workspace::Workspace;

    virtual bool isAvailable() const = 0;
    // True while the application's window is the active (keyboard-focused) one.
    virtual bool isActive(const RunningApplication &application) const = 0;
};

// A Keystroke that may be unavailable on this compositor (the protocol is not offered to us).
class WaylandKeystroke : public Keystroke
{
    Q_OBJECT

public:
    using Keystroke::Keystroke;

    virtual bool isAvailable() const = 0;
};

} // namespace quillpost
