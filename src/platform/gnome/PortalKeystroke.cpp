#include "platform/gnome/PortalKeystroke.h"

#include "platform/SecretStore.h"
#include "platform/gnome/GnomeWorkspace.h"
#include "platform/wayland/WaylandSeams.h"
#include "platform/x11/ChordKeycodes.h"
#include "platform/x11/XcbSupport.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

#include <algorithm>
#include <utility>

namespace quillpost {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString remoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");

constexpr uint keyboardDevice = 1;
constexpr uint persistUntilRevoked = 2;
constexpr uint released = 0;
constexpr uint pressed = 1;

QDBusMessage portalCall(const QString &method)
{
    return QDBusMessage::createMethodCall(portalService, portalPath, remoteDesktop, method);
}

// The chord's keys as evdev codes, modifiers first: the keys that type its keysyms in the
// seat's keymap, which XWayland's (our X server's) follows, so that Ctrl+V arrives as Ctrl+V on
// Dvorak or "ru,us" too; the US positions where the keymap has no such keys (a layout without
// Latin letters), which applications map to their shortcuts. X keycodes are evdev codes + 8.
std::vector<int> evdevKeys(PasteChord chord)
{
    constexpr int evdevOffset = 8;
    std::vector<int> keys;
    if (xcb_connection_t *connection = x11::qtConnection()) {
        if (const auto keycodes = x11::chordKeycodes(connection, chord)) {
            for (const xcb_keycode_t keycode : *keycodes)
                keys.push_back(int(keycode) - evdevOffset);
            return keys;
        }
    }
    const ChordKeys us = chordKeys(chord);
    keys.assign(us.modifiers.begin(), us.modifiers.end());
    keys.push_back(int(us.key));
    return keys;
}

// The portal documents the session handle of CreateSession's response as a string; some
// versions send it as an object path.
QString sessionHandle(const QVariant &value)
{
    if (value.userType() == qMetaTypeId<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

} // namespace

PortalKeystroke::PortalKeystroke(GnomeWorkspace *workspace, SecretStore *restoreTokens, QDBusConnection bus,
                                 QObject *parent)
    : Keystroke(parent), m_workspace(workspace), m_restoreTokens(restoreTokens), m_bus(std::move(bus))
{
    m_consentTimer.setSingleShot(true);
    m_consentTimer.setInterval(defaultConsentTimeout);
    connect(&m_consentTimer, &QTimer::timeout, this, [this] {
        // The dialog may still be open: close the request so that it goes away.
        if (!m_request.isEmpty())
            m_bus.call(QDBusMessage::createMethodCall(portalService, m_request, requestInterface,
                                                      QStringLiteral("Close")),
                       QDBus::NoBlock);
        refuse();
    });
}

PortalKeystroke::~PortalKeystroke()
{
    stopListening();
    closeSession();
}

// Request and session paths are made of the connection's name and the token: tokens are never
// used twice by this process, whichever object asks.
QString PortalKeystroke::nextToken()
{
    static quint64 tokens = 0;
    return QStringLiteral("quillpost%1").arg(++tokens);
}

void PortalKeystroke::closeSession()
{
    if (m_session.isEmpty())
        return;
    m_bus.disconnect(portalService, m_session, sessionInterface, QStringLiteral("Closed"), this,
                     SLOT(onSessionClosed()));
    m_bus.call(QDBusMessage::createMethodCall(portalService, m_session, sessionInterface, QStringLiteral("Close")),
               QDBus::NoBlock);
    m_session.clear();
}

void PortalKeystroke::requestConsent()
{
    if (m_state != State::Idle)
        return;
    m_state = State::Asking;
    m_consentTimer.start();
    ask(Step::Version);
}

void PortalKeystroke::post(const RunningApplication &target, PasteChord chord, BeforeKeys beforeKeys,
                           Completion report)
{
    Q_UNUSED(target);
    if (m_state == State::Refused) {
        m_workspace->restoreWindows();
        report(KeystrokeResult::NotPermitted);
        return;
    }
    // Our windows stay hidden, the focus with the window that had it, until the keys are typed.
    m_workspace->holdWindows();
    m_pending.push_back({chord, std::move(beforeKeys), std::move(report)});
    if (m_state == State::Idle)
        requestConsent();
    else
        typeNext();
}

void PortalKeystroke::ask(Step step)
{
    m_step = step;
    switch (step) {
    case Step::Version: {
        QDBusMessage get = QDBusMessage::createMethodCall(portalService, portalPath,
                                                          QStringLiteral("org.freedesktop.DBus.Properties"),
                                                          QStringLiteral("Get"));
        get << remoteDesktop << QStringLiteral("version");
        auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
            call->deleteLater();
            const QDBusMessage reply = call->reply();
            if (m_state != State::Asking)
                return;
            if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
                return giveUp(KeystrokeResult::Unavailable, State::Idle);
            m_version = reply.arguments().first().value<QDBusVariant>().variant().toUInt();
            if (m_version < 2 || !m_restoreTokens)
                return ask(Step::CreateSession);
            m_restoreTokens->read(this, [this](std::optional<QString> token) {
                m_restoreToken = token.value_or(QString());
                if (m_state == State::Asking)
                    ask(Step::CreateSession);
            });
        });
        return;
    }
    case Step::CreateSession:
        return askPortal(step, QStringLiteral("CreateSession"), {},
                         {{QStringLiteral("session_handle_token"), nextToken()}});
    case Step::SelectDevices: {
        QVariantMap options{{QStringLiteral("types"), keyboardDevice}};
        if (m_version >= 2 && m_restoreTokens) {
            options.insert(QStringLiteral("persist_mode"), persistUntilRevoked);
            if (!m_restoreToken.isEmpty())
                options.insert(QStringLiteral("restore_token"), m_restoreToken);
        }
        return askPortal(step, QStringLiteral("SelectDevices"), {QVariant::fromValue(QDBusObjectPath(m_session))},
                         options);
    }
    case Step::Start:
        return askPortal(step, QStringLiteral("Start"), {QVariant::fromValue(QDBusObjectPath(m_session)), QString()},
                         {});
    }
}

// Each request answers through the Response signal of its own request object, whose path the
// handle token decides; it is listened to before the call, so no answer can be missed.
void PortalKeystroke::askPortal(Step step, const QString &method, QList<QVariant> arguments, QVariantMap options)
{
    const QString token = nextToken();
    options.insert(QStringLiteral("handle_token"), token);
    const QString sender = m_bus.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    m_request = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    m_bus.connect(portalService, m_request, requestInterface, QStringLiteral("Response"), this,
                  SLOT(onResponse(QDBusMessage)));
    QDBusMessage call = portalCall(method);
    arguments.append(options);
    call.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, step](QDBusPendingCallWatcher *pending) {
        pending->deleteLater();
        if (pending->isError() && m_state == State::Asking && m_step == step)
            giveUp(KeystrokeResult::Unavailable, State::Idle);
    });
}

void PortalKeystroke::onResponse(const QDBusMessage &message)
{
    const QList<QVariant> arguments = message.arguments();
    if (message.path() != m_request || arguments.size() < 2 || m_state != State::Asking)
        return;
    stopListening();
    answered(arguments.at(0).toUInt(), qdbus_cast<QVariantMap>(arguments.at(1)));
}

void PortalKeystroke::answered(uint response, const QVariantMap &results)
{
    if (response != 0)
        return refuse();
    switch (m_step) {
    case Step::Version:
        return;
    case Step::CreateSession:
        m_session = sessionHandle(results.value(QStringLiteral("session_handle")));
        m_bus.connect(portalService, m_session, sessionInterface, QStringLiteral("Closed"), this,
                      SLOT(onSessionClosed()));
        return ask(Step::SelectDevices);
    case Step::SelectDevices:
        return ask(Step::Start);
    case Step::Start:
        if (!(results.value(QStringLiteral("devices")).toUInt() & keyboardDevice))
            return refuse();
        m_consentTimer.stop();
        m_state = State::Ready;
        if (m_restoreTokens && results.contains(QStringLiteral("restore_token"))) {
            m_restoreToken = results.value(QStringLiteral("restore_token")).toString();
            m_restoreTokens->save(m_restoreToken, this, [](bool) {});
        }
        // Pastes asked for while the dialog was open: only the newest is typed, once.
        while (m_pending.size() > 1) {
            Pending superseded = std::move(m_pending.front());
            m_pending.pop_front();
            m_workspace->restoreWindows();
            superseded.report(KeystrokeResult::Superseded);
        }
        return typeNext();
    }
}

// The user stopped the remote control (from the desktop's indicator): a withdrawn consent, as
// a refusal is, so a kept one must not bring it back at the next run.
void PortalKeystroke::onSessionClosed()
{
    m_bus.disconnect(portalService, m_session, sessionInterface, QStringLiteral("Closed"), this,
                     SLOT(onSessionClosed()));
    m_session.clear();
    refuse();
}

// The consent was refused, cancelled, withdrawn or not given in time: the session goes, and so
// does a kept consent that no longer holds.
void PortalKeystroke::refuse()
{
    closeSession();
    if (m_restoreTokens && !m_restoreToken.isEmpty())
        m_restoreTokens->remove();
    m_restoreToken.clear();
    giveUp(KeystrokeResult::NotPermitted, State::Refused);
}

void PortalKeystroke::giveUp(KeystrokeResult result, State next)
{
    m_consentTimer.stop();
    stopListening();
    m_state = next;
    m_typing = false;
    m_presses.clear();
    std::deque<Pending> pending = std::exchange(m_pending, {});
    m_workspace->restoreWindows();
    for (Pending &keystroke : pending)
        keystroke.report(result);
}

void PortalKeystroke::typeNext()
{
    while (!m_typing && m_state == State::Ready && !m_pending.empty()) {
        if (GnomeWorkspace::isOwnWindowActive()) {
            Pending keystroke = std::move(m_pending.front());
            m_pending.pop_front();
            m_workspace->restoreWindows();
            keystroke.report(KeystrokeResult::NotFocused);
            continue;
        }
        if (!mayType(m_pending.front().beforeKeys)) {
            Pending keystroke = std::move(m_pending.front());
            m_pending.pop_front();
            m_workspace->restoreWindows();
            keystroke.report(KeystrokeResult::Stopped);
            continue;
        }
        const std::vector<int> keys = evdevKeys(m_pending.front().chord);
        m_presses.clear();
        m_held.clear();
        for (const int key : keys)
            m_presses.emplace_back(key, pressed);
        for (auto key = keys.rbegin(); key != keys.rend(); ++key)
            m_presses.emplace_back(*key, released);
        m_typing = true;
        sendNextKey();
    }
}

// One key event at a time, each after the portal answered the one before: events sent back to
// back were measured to get lost on their way to mutter now and then (a lost release makes the
// target repeat the key).
void PortalKeystroke::sendNextKey()
{
    if (m_presses.empty())
        return finishTyping(KeystrokeResult::Posted);
    const auto [keycode, state] = m_presses.front();
    m_presses.pop_front();
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(keyCall(keycode, state)), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, keycode, state](QDBusPendingCallWatcher *pending) {
        pending->deleteLater();
        if (!m_typing)
            return;
        if (pending->isError()) {
            // Whatever is still down would stay down (a held Ctrl turns the user's next keys
            // into shortcuts): release it, last pressed first, without waiting for answers.
            for (auto key = m_held.rbegin(); key != m_held.rend(); ++key)
                m_bus.call(keyCall(*key, released), QDBus::NoBlock);
            m_held.clear();
            return finishTyping(KeystrokeResult::Unavailable);
        }
        if (state == pressed)
            m_held.push_back(keycode);
        else
            m_held.erase(std::remove(m_held.begin(), m_held.end(), keycode), m_held.end());
        sendNextKey();
    });
}

QDBusMessage PortalKeystroke::keyCall(int keycode, uint state) const
{
    QDBusMessage call = portalCall(QStringLiteral("NotifyKeyboardKeycode"));
    call << QVariant::fromValue(QDBusObjectPath(m_session)) << QVariantMap() << keycode << state;
    return call;
}

void PortalKeystroke::finishTyping(KeystrokeResult result)
{
    m_typing = false;
    m_presses.clear();
    if (m_pending.empty())
        return;
    Pending keystroke = std::move(m_pending.front());
    m_pending.pop_front();
    m_workspace->restoreWindows();
    keystroke.report(result);
    typeNext();
}

void PortalKeystroke::stopListening()
{
    if (m_request.isEmpty())
        return;
    m_bus.disconnect(portalService, m_request, requestInterface, QStringLiteral("Response"), this,
                     SLOT(onResponse(QDBusMessage)));
    m_request.clear();
}

} // namespace quillpost
