#pragma once

#include "platform/wayland/WaylandSeams.h"

struct zwp_virtual_keyboard_v1;

namespace quillpost {

class WaylandConnection;
class WlrWorkspace;

// Posts the paste chord through a virtual keyboard (zwp_virtual_keyboard_manager_v1) with a US
// keymap of its own, made with xkbcommon.
//
// The keyboard is created with this object and kept for its life: on a seat without a
// physical keyboard, clients set up their keyboard only once the first one appears, and the
// first keys of a new virtual keyboard would be lost meanwhile. Create this object early (the
// program does so at start).
//
// post() types only while the target's window is the activated toplevel (NotFocused, and
// nothing typed, otherwise). The compositor sends a keyboard's own modifier state with its
// keys, so a modifier the user holds on another keyboard does not join the chord: there is no
// need (and no way) to wait for its release. Unavailable without the protocols.
class WlrKeystroke final : public WaylandKeystroke
{
    Q_OBJECT

public:
    WlrKeystroke(WaylandConnection *connection, const WlrWorkspace *workspace, QObject *parent = nullptr);
    ~WlrKeystroke() override;

    bool isAvailable() const override;

protected:
    void type(const ChordKeys &keys) override;

private:
    zwp_virtual_keyboard_v1 *m_keyboard = nullptr;
    quint32 m_shiftMask = 0;
    quint32 m_controlMask = 0;
};

} // namespace quillpost
