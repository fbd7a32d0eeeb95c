#include "platform/x11/X11Keystroke.h"

#include "platform/x11/ChordKeycodes.h"
#include "platform/x11/XcbSupport.h"

#include <QTimer>

#include <xcb/xtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

namespace quillpost {

namespace {

struct FreeDeleter
{
    void operator()(void *pointer) const { std::free(pointer); }
};

bool xtestPresent(xcb_connection_t *connection)
{
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(connection, &xcb_test_id);
    return extension && extension->present;
}

// True while any key that the modifier map lists is physically down.
bool modifiersHeld(xcb_connection_t *connection)
{
    const auto mappingCookie = xcb_get_modifier_mapping(connection);
    const auto keymapCookie = xcb_query_keymap(connection);
    xcb_generic_error_t *error = nullptr;
    std::unique_ptr<xcb_get_modifier_mapping_reply_t, FreeDeleter> mapping(
        xcb_get_modifier_mapping_reply(connection, mappingCookie, &error));
    std::free(error);
    error = nullptr;
    std::unique_ptr<xcb_query_keymap_reply_t, FreeDeleter> keymap(
        xcb_query_keymap_reply(connection, keymapCookie, &error));
    std::free(error);
    if (!mapping || !keymap)
        return false;
    const xcb_keycode_t *keycodes = xcb_get_modifier_mapping_keycodes(mapping.get());
    const int count = xcb_get_modifier_mapping_keycodes_length(mapping.get());
    for (int i = 0; i < count; ++i) {
        const xcb_keycode_t keycode = keycodes[i];
        if (keycode != 0 && (keymap->keys[keycode / 8] & (1u << (keycode % 8))))
            return true;
    }
    return false;
}

// True when the focused window, or one of its ancestors, is the target's window or belongs to
// the target's process.
bool focusBelongsTo(xcb_connection_t *connection, const RunningApplication &target)
{
    xcb_generic_error_t *error = nullptr;
    std::unique_ptr<xcb_get_input_focus_reply_t, FreeDeleter> focus(
        xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), &error));
    std::free(error);
    if (!focus || focus->focus == XCB_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT)
        return false;
    for (xcb_window_t window = focus->focus; window != XCB_NONE;) {
        if (window == target.windowId)
            return true;
        if (target.processId > 0 && x11::localProcessId(connection, window) == target.processId)
            return true;
        const auto position = x11::treePosition(connection, window);
        if (!position || window == position->root)
            return false;
        window = position->parent;
    }
    return false;
}

// Presses the keys in order, then releases them in reverse order.
void postChord(xcb_connection_t *connection, const std::vector<xcb_keycode_t> &keycodes)
{
    const auto fake = [&](uint8_t type, xcb_keycode_t keycode) {
        xcb_test_fake_input(connection, type, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    };
    for (const xcb_keycode_t keycode : keycodes)
        fake(XCB_KEY_PRESS, keycode);
    for (auto it = keycodes.rbegin(); it != keycodes.rend(); ++it)
        fake(XCB_KEY_RELEASE, *it);
    xcb_flush(connection);
}

} // namespace

void X11Keystroke::post(const RunningApplication &target, PasteChord chord, BeforeKeys beforeKeys, Completion report)
{
    QElapsedTimer waited;
    waited.start();
    attempt(target, chord, waited, std::move(beforeKeys), std::move(report));
}

void X11Keystroke::attempt(const RunningApplication &target, PasteChord chord, QElapsedTimer waited,
                           BeforeKeys beforeKeys, Completion report)
{
    xcb_connection_t *connection = x11::qtConnection();
    if (!connection || !xtestPresent(connection)) {
        report(KeystrokeResult::Unavailable);
        return;
    }
    if (modifiersHeld(connection)) {
        if (waited.elapsed() >= modifierWait.count()) {
            report(KeystrokeResult::ModifiersHeld);
            return;
        }
        QTimer::singleShot(modifierPollInterval, this,
                           [this, target, chord, waited, beforeKeys = std::move(beforeKeys), report = std::move(report)] {
                               attempt(target, chord, waited, beforeKeys, report);
                           });
        return;
    }
    if (!focusBelongsTo(connection, target)) {
        report(KeystrokeResult::NotFocused);
        return;
    }
    const std::optional<std::vector<xcb_keycode_t>> keycodes = x11::chordKeycodes(connection, chord);
    if (!keycodes) {
        report(KeystrokeResult::NoKeycode);
        return;
    }
    if (!mayType(beforeKeys)) {
        report(KeystrokeResult::Stopped);
        return;
    }
    postChord(connection, *keycodes);
    report(KeystrokeResult::Posted);
}

} // namespace quillpost
