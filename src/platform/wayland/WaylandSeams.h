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
