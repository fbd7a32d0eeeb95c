#pragma once

#include "platform/wayland/WaylandSeams.h"

namespace quillpost {

class WaylandConnection;

// Posts the paste chord through KWin's fake input (org_kde_kwin_fake_input): the keys go
// through KWin's own keyboard, so its keymap and modifier state apply, as for a key typed on a
// physical keyboard with a US layout's key positions.
//
// The program authenticates once, when this object is made (KWin grants it without asking).
// post() types only while the target's window is the active one (NotFocused, and nothing
// typed, otherwise). Unavailable without the protocol (KWin offers it only to programs its
// installed desktop file allows) or with a KWin too old for key events.
class FakeInputKeystroke final : public WaylandKeystroke
{
    Q_OBJECT

public:
    FakeInputKeystroke(WaylandConnection *connection, const WaylandWorkspace *workspace, QObject *parent = nullptr);

    bool isAvailable() const override;

protected:
    void type(const ChordKeys &keys) override;
};

} // namespace quillpost
