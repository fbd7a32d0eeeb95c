#pragma once

#include "platform/wayland/SeatKeymap.h"
#include "platform/wayland/WaylandSeams.h"

namespace quillpost {

class WaylandConnection;

// Posts the paste chord through KWin's fake input (org_kde_kwin_fake_input). Its keys are key
// positions that KWin reads through the user's keymap and layout in use, as it reads a physical
// keyboard: each key of the chord is sent at the position that gives its keysym there (the
// seat's keymap, SeatKeymap), in the layout in use first (KWin tells it on D-Bus,
// org.kde.keyboard, where there are several), else in another one, whose key applications
// read as that keysym for their shortcuts too. Where no layout has it, the US position goes.
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

private slots:
    void setLayout(uint index);
    void askLayout();

private:
    SeatKeymap m_keymap;
    uint m_layout = 0; // the layout in use, by its index in the keymap
};

} // namespace quillpost
