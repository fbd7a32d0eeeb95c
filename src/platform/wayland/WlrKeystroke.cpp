#include "platform/wayland/WlrKeystroke.h"

#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WlrWorkspace.h"

#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <QElapsedTimer>

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstring>
#include <memory>

namespace quillpost {

namespace {

constexpr uint32_t keyReleased = 0; // wl_keyboard key states
constexpr uint32_t keyPressed = 1;

// Milliseconds for key events; only their order matters to clients.
uint32_t eventTime()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return uint32_t(clock.elapsed());
}

struct XkbDeleter
{
    void operator()(xkb_context *context) const { xkb_context_unref(context); }
    void operator()(xkb_keymap *keymap) const { xkb_keymap_unref(keymap); }
};

} // namespace

WlrKeystroke::WlrKeystroke(WaylandConnection *connection, const WlrWorkspace *workspace, QObject *parent)
    : WaylandKeystroke(connection, workspace, parent)
{
    if (!m_connection->virtualKeyboardManager() || !m_connection->seat())
        return;
    // A plain US layout: the chord's keys are at their evdev codes in it, whatever the user's
    // own layout is (each keyboard carries its keymap to the clients).
    std::unique_ptr<xkb_context, XkbDeleter> context(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    if (!context)
        return;
    const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
    std::unique_ptr<xkb_keymap, XkbDeleter> keymap(
        xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap)
        return;
    std::unique_ptr<char, decltype(&std::free)> text(xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1),
                                                     &std::free);
    if (!text)
        return;
    const size_t size = std::strlen(text.get()) + 1;
    const int fd = memfd_create("quillpost-keymap", MFD_CLOEXEC);
    if (fd < 0)
        return;
    bool written = ::ftruncate(fd, off_t(size)) == 0;
    for (size_t done = 0; written && done < size;) {
        const ssize_t n = ::write(fd, text.get() + done, size - done);
        written = n > 0;
        done += written ? size_t(n) : 0;
    }
    if (written) {
        m_shiftMask = 1u << xkb_keymap_mod_get_index(keymap.get(), XKB_MOD_NAME_SHIFT);
        m_controlMask = 1u << xkb_keymap_mod_get_index(keymap.get(), XKB_MOD_NAME_CTRL);
        m_keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(m_connection->virtualKeyboardManager(),
                                                                              m_connection->seat());
        zwp_virtual_keyboard_v1_keymap(m_keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, uint32_t(size));
        m_connection->flush();
    }
    ::close(fd);
}

WlrKeystroke::~WlrKeystroke()
{
    if (m_keyboard) {
        zwp_virtual_keyboard_v1_destroy(m_keyboard);
        m_connection->flush();
    }
}

bool WlrKeystroke::isAvailable() const
{
    return m_keyboard && m_connection->isAlive();
}

void WlrKeystroke::type(const ChordKeys &keys)
{
    // The keyboard's own US keymap gives each key's keysym at its US position.
    const auto maskOf = [this](const ChordKey &key) {
        return key.keysym == XKB_KEY_Shift_L ? m_shiftMask : m_controlMask;
    };
    uint32_t mask = 0;
    for (const ChordKey &modifier : keys.modifiers) {
        zwp_virtual_keyboard_v1_key(m_keyboard, eventTime(), modifier.usPosition, keyPressed);
        mask |= maskOf(modifier);
        zwp_virtual_keyboard_v1_modifiers(m_keyboard, mask, 0, 0, 0);
    }
    zwp_virtual_keyboard_v1_key(m_keyboard, eventTime(), keys.key.usPosition, keyPressed);
    zwp_virtual_keyboard_v1_key(m_keyboard, eventTime(), keys.key.usPosition, keyReleased);
    for (auto it = keys.modifiers.rbegin(); it != keys.modifiers.rend(); ++it) {
        zwp_virtual_keyboard_v1_key(m_keyboard, eventTime(), it->usPosition, keyReleased);
        mask &= ~maskOf(*it);
        zwp_virtual_keyboard_v1_modifiers(m_keyboard, mask, 0, 0, 0);
    }
}

} // namespace quillpost
