#include "platform/wayland/FakeInputKeystroke.h"

#include "platform/wayland/WaylandConnection.h"

#include "fake-input-client-protocol.h"

#include <wayland-client.h>

namespace quillpost {

namespace {

constexpr uint32_t keyReleased = 0; // wl_keyboard key states
constexpr uint32_t keyPressed = 1;

} // namespace

FakeInputKeystroke::FakeInputKeystroke(WaylandConnection *connection, const WaylandWorkspace *workspace,
                                       QObject *parent)
    : WaylandKeystroke(connection, workspace, parent)
{
    if (!isAvailable())
        return;
    org_kde_kwin_fake_input_authenticate(m_connection->fakeInput(), "Quillpost",
                                         "Pastes the texts you receive where you were typing");
    m_connection->flush();
}

bool FakeInputKeystroke::isAvailable() const
{
    return m_connection->fakeInput() && m_connection->isAlive()
           && org_kde_kwin_fake_input_get_version(m_connection->fakeInput())
                  >= ORG_KDE_KWIN_FAKE_INPUT_KEYBOARD_KEY_SINCE_VERSION;
}

void FakeInputKeystroke::type(const ChordKeys &keys)
{
    org_kde_kwin_fake_input *input = m_connection->fakeInput();
    for (const uint32_t modifier : keys.modifiers)
        org_kde_kwin_fake_input_keyboard_key(input, modifier, keyPressed);
    org_kde_kwin_fake_input_keyboard_key(input, keys.key, keyPressed);
    org_kde_kwin_fake_input_keyboard_key(input, keys.key, keyReleased);
    for (auto it = keys.modifiers.rbegin(); it != keys.modifiers.rend(); ++it)
        org_kde_kwin_fake_input_keyboard_key(input, *it, keyReleased);
}

} // namespace quillpost
