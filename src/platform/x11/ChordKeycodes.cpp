#include "platform/x11/ChordKeycodes.h"

#include <xcb/xcb_keysyms.h>

#include <cstdlib>
#include <memory>

namespace quillpost::x11 {

namespace {

// Keysyms (X11/keysymdef.h).
constexpr xcb_keysym_t keysymShiftL = 0xffe1;
constexpr xcb_keysym_t keysymControlL = 0xffe3;
constexpr xcb_keysym_t keysymInsert = 0xff63;
constexpr xcb_keysym_t keysymV = 0x0076;

std::vector<xcb_keysym_t> keysymsOf(PasteChord chord)
{
    switch (chord) {
    case PasteChord::ControlV:
        break;
    case PasteChord::ControlShiftV:
        return {keysymControlL, keysymShiftL, keysymV};
    case PasteChord::ShiftInsert:
        return {keysymShiftL, keysymInsert};
    }
    return {keysymControlL, keysymV};
}

} // namespace

std::optional<std::vector<xcb_keycode_t>> chordKeycodes(xcb_connection_t *connection, PasteChord chord)
{
    std::unique_ptr<xcb_key_symbols_t, void (*)(xcb_key_symbols_t *)> symbols(xcb_key_symbols_alloc(connection),
                                                                             xcb_key_symbols_free);
    if (!symbols)
        return std::nullopt;
    std::vector<xcb_keycode_t> keycodes;
    for (const xcb_keysym_t keysym : keysymsOf(chord)) {
        std::unique_ptr<xcb_keycode_t, decltype(&std::free)> codes(xcb_key_symbols_get_keycode(symbols.get(), keysym),
                                                                   &std::free);
        if (!codes || codes.get()[0] == XCB_NO_SYMBOL)
            return std::nullopt;
        keycodes.push_back(codes.get()[0]);
    }
    return keycodes;
}

} // namespace quillpost::x11
