#include "platform/wayland/FakeInputKeystroke.h"

#include "platform/wayland/WaylandConnection.h"

#include "fake-input-client-protocol.h"

#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <wayland-client.h>

#include <vector>

namespace quillpost {

namespace {

constexpr uint32_t keyReleased = 0; // wl_keyboard key states
constexpr uint32_t keyPressed = 1;

// KWin's keyboard layouts on the session bus; present while there is more than one layout.
const QString layoutsService = QStringLiteral("org.kde.keyboard");
const QString layoutsPath = QStringLiteral("/Layouts");
const QString layoutsInterface = QStringLiteral("org.kde.KeyboardLayouts");

} // namespace

FakeInputKeystroke::FakeInputKeystroke(WaylandConnection *connection, const WaylandWorkspace *workspace,
                                       QObject *parent)
    : WaylandKeystroke(connection, workspace, parent), m_keymap(connection)
{
    if (!isAvailable())
        return;
    org_kde_kwin_fake_input_authenticate(m_connection->fakeInput(), "Quillpost",
                                         "Pastes the texts you receive where you were typing");
    m_connection->flush();

    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(layoutsService, layoutsPath, layoutsInterface, QStringLiteral("layoutChanged"), this,
                SLOT(setLayout(uint)));
    bus.connect(layoutsService, layoutsPath, layoutsInterface, QStringLiteral("layoutListChanged"), this,
                SLOT(askLayout()));
    askLayout();
}

bool FakeInputKeystroke::isAvailable() const
{
    return m_connection->fakeInput() && m_connection->isAlive()
           && org_kde_kwin_fake_input_get_version(m_connection->fakeInput())
                  >= ORG_KDE_KWIN_FAKE_INPUT_KEYBOARD_KEY_SINCE_VERSION;
}

void FakeInputKeystroke::setLayout(uint index)
{
    m_layout = index;
}

void FakeInputKeystroke::askLayout()
{
    // KWin answers only while there are several layouts (with one, any index means that one).
    const QDBusMessage ask =
        QDBusMessage::createMethodCall(layoutsService, layoutsPath, layoutsInterface, QStringLiteral("getLayout"));
    auto *call = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(ask), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *finished) {
        const QDBusPendingReply<uint> reply = *finished;
        if (reply.isValid())
            m_layout = reply.value();
        finished->deleteLater();
    });
}

void FakeInputKeystroke::type(const ChordKeys &keys)
{
    const auto position = [this](const ChordKey &key) {
        return m_keymap.keyFor(key.keysym, m_layout).value_or(key.usPosition);
    };
    std::vector<uint32_t> modifiers;
    for (const ChordKey &modifier : keys.modifiers)
        modifiers.push_back(position(modifier));
    const uint32_t key = position(keys.key);

    org_kde_kwin_fake_input *input = m_connection->fakeInput();
    for (const uint32_t modifier : modifiers)
        org_kde_kwin_fake_input_keyboard_key(input, modifier, keyPressed);
    org_kde_kwin_fake_input_keyboard_key(input, key, keyPressed);
    org_kde_kwin_fake_input_keyboard_key(input, key, keyReleased);
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
        org_kde_kwin_fake_input_keyboard_key(input, *it, keyReleased);
}

} // namespace quillpost
