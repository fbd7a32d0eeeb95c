#pragma once

#include <QObject>

#include <cstdint>
#include <memory>
#include <optional>

struct wl_keyboard;
struct xkb_context;
struct xkb_keymap;

namespace quillpost {

class WaylandConnection;

// The keymap of the seat's keyboard as the compositor gives it to every client
// (wl_keyboard.keymap), kept current: a compositor that reads synthetic key positions through
// it (KWin's fake input) types what this keymap says those keys give.
//
// It has none until the seat has a keyboard and the compositor has sent its keymap; the
// compositor sends a new one whenever the user's layouts change.
class SeatKeymap final : public QObject
{
    Q_OBJECT

public:
    explicit SeatKeymap(WaylandConnection *connection, QObject *parent = nullptr);
    ~SeatKeymap() override;

    // The evdev code of a key that gives `keysym` with no modifier held: the first such key in
    // layout `current`, else in each other layout in turn. None when no layout has one, or no
    // keymap has come yet.
    std::optional<uint32_t> keyFor(uint32_t keysym, uint32_t current) const;

private:
    struct XkbDeleter
    {
        void operator()(xkb_context *context) const;
        void operator()(xkb_keymap *keymap) const;
    };

    void followSeat();
    static void keymap(void *data, wl_keyboard *, uint32_t format, int32_t fd, uint32_t size);

    WaylandConnection *m_connection;
    wl_keyboard *m_keyboard = nullptr;
    std::unique_ptr<xkb_context, XkbDeleter> m_context;
    std::unique_ptr<xkb_keymap, XkbDeleter> m_keymap;
};

} // namespace quillpost
