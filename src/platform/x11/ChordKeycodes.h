#pragma once

#include "platform/PasteChord.h"

#include <xcb/xcb.h>

#include <optional>
#include <vector>

namespace quillpost::x11 {

// The keycodes that type a paste chord's keysyms (Control_L, Shift_L, v, Insert) in the X
// server's keymap in force now, modifiers first in the order they are pressed, looked up in
// every group of the keymap (so a layout such as "ru,us" finds v in its Latin group). Nothing
// when the keymap lacks one of them. Under XWayland the server's keymap is the seat's.
std::optional<std::vector<xcb_keycode_t>> chordKeycodes(xcb_connection_t *connection, PasteChord chord);

} // namespace quillpost::x11
