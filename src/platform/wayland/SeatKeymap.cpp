#include "platform/wayland/SeatKeymap.h"

#include "platform/wayland/WaylandConnection.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstring>

namespace quillpost {

namespace {

// xkb numbers the keys of an evdev keymap 8 above their evdev codes.
constexpr uint32_t evdevOffset = 8;

void ignoreEnter(void *, wl_keyboard *, uint32_t, wl_surface *, wl_array *) {}
void ignoreLeave(void *, wl_keyboard *, uint32_t, wl_surface *) {}
void ignoreKey(void *, wl_keyboard *, uint32_t, uint32_t, uint32_t, uint32_t) {}
void ignoreModifiers(void *, wl_keyboard *, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
void ignoreRepeatInfo(void *, wl_keyboard *, int32_t, int32_t) {}

} // namespace

void SeatKeymap::XkbDeleter::operator()(xkb_context *context) const
{
    xkb_context_unref(context);
}

void SeatKeymap::XkbDeleter::operator()(xkb_keymap *keymap) const
{
    xkb_keymap_unref(keymap);
}

SeatKeymap::SeatKeymap(WaylandConnection *connection, QObject *parent)
    : QObject(parent), m_connection(connection), m_context(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES))
{
    connect(m_connection, &WaylandConnection::seatCapabilitiesChanged, this, &SeatKeymap::followSeat);
    followSeat();
}

SeatKeymap::~SeatKeymap()
{
    if (m_keyboard) {
        wl_keyboard_destroy(m_keyboard);
        m_connection->flush();
    }
}

void SeatKeymap::followSeat()
{
    const bool hasKeyboard = m_connection->seatCapabilities() & WL_SEAT_CAPABILITY_KEYBOARD;
    if (hasKeyboard && !m_keyboard && m_context && m_connection->isAlive()) {
        // Only the keymap matters: this connection has no surface to get the keys.
        static const wl_keyboard_listener listener = {&SeatKeymap::keymap, &ignoreEnter,     &ignoreLeave,
                                                      &ignoreKey,          &ignoreModifiers, &ignoreRepeatInfo};
        m_keyboard = wl_seat_get_keyboard(m_connection->seat());
        wl_keyboard_add_listener(m_keyboard, &listener, this);
        m_connection->flush();
    } else if (!hasKeyboard && m_keyboard) {
        // The last keymap stays: the keyboard that comes back most likely has it again.
        wl_keyboard_destroy(m_keyboard);
        m_keyboard = nullptr;
    }
}

void SeatKeymap::keymap(void *data, wl_keyboard *, uint32_t format, int32_t fd, uint32_t size)
{
    auto *self = static_cast<SeatKeymap *>(data);
    void *text = format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 ? ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0)
                                                            : MAP_FAILED;
    ::close(fd);
    if (text == MAP_FAILED)
        return;
    // The text ends with a NUL, which the size may or may not count.
    const char *chars = static_cast<const char *>(text);
    self->m_keymap.reset(xkb_keymap_new_from_buffer(self->m_context.get(), chars, strnlen(chars, size),
                                                    XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
    ::munmap(text, size);
}

std::optional<uint32_t> SeatKeymap::keyFor(uint32_t keysym, uint32_t current) const
{
    if (!m_keymap)
        return std::nullopt;
    xkb_state *state = xkb_state_new(m_keymap.get());
    if (!state)
        return std::nullopt;
    const xkb_layout_index_t layouts = xkb_keymap_num_layouts(m_keymap.get());
    std::optional<uint32_t> found;
    for (xkb_layout_index_t tried = 0; tried < layouts && !found; ++tried) {
        // The layout in use first, then the ones after it, from the first again after the last.
        xkb_state_update_mask(state, 0, 0, 0, 0, 0, (current + tried) % layouts);
        for (xkb_keycode_t key = xkb_keymap_min_keycode(m_keymap.get());
             key <= xkb_keymap_max_keycode(m_keymap.get()) && !found; ++key) {
            if (key >= evdevOffset && xkb_state_key_get_one_sym(state, key) == keysym)
                found = key - evdevOffset;
        }
    }
    xkb_state_unref(state);
    return found;
}

} // namespace quillpost
