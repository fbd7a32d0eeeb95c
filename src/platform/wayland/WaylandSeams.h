#pragma once

#include "platform/Keystroke.h"
#include "platform/Workspace.h"

#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <cstdint>
#include <vector>

namespace quillpost {

// One key of a paste chord: the keysym that it must give, and the evdev code of its position on
// a US keyboard, which is what it converts to for keystrokes that send US positions as they are.
struct ChordKey
{
    uint32_t keysym;
    uint32_t usPosition;

    constexpr operator uint32_t() const { return usPosition; }
};

// The keys of a paste chord, modifiers in the order in which they are pressed. Applications
// look at keysyms: a keystroke whose keys are read through the user's keymap must find the
// keys that give them there.
struct ChordKeys
{
    std::vector<ChordKey> modifiers;
    ChordKey key;
};

inline ChordKeys chordKeys(PasteChord chord)
{
    constexpr ChordKey control{XKB_KEY_Control_L, KEY_LEFTCTRL};
    constexpr ChordKey shift{XKB_KEY_Shift_L, KEY_LEFTSHIFT};
    constexpr ChordKey v{XKB_KEY_v, KEY_V};
    switch (chord) {
    case PasteChord::ControlV:
        return {{control}, v};
    case PasteChord::ControlShiftV:
        return {{control, shift}, v};
    case PasteChord::ShiftInsert:
        return {{shift}, {XKB_KEY_Insert, KEY_INSERT}};
    }
    return {{control}, v};
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

class WaylandConnection;

// A Keystroke that may be unavailable on this compositor (the protocol is not offered to us).
// post() types only while the target's window is the active one (NotFocused, and nothing typed,
// otherwise); Unavailable without the protocol or once the connection is lost.
class WaylandKeystroke : public Keystroke
{
    Q_OBJECT

public:
    WaylandKeystroke(WaylandConnection *connection, const WaylandWorkspace *workspace, QObject *parent = nullptr)
        : Keystroke(parent), m_connection(connection), m_workspace(workspace)
    {
    }

    virtual bool isAvailable() const = 0;

protected:
    void post(const RunningApplication &target, PasteChord chord, BeforeKeys beforeKeys, Completion report) final;
    // Sends the presses and releases of the chord's keys (sent on with the next flush).
    virtual void type(const ChordKeys &keys) = 0;

    WaylandConnection *const m_connection;
    const WaylandWorkspace *const m_workspace;
};

} // namespace quillpost
