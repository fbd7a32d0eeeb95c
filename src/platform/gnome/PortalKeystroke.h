#pragma once

#include "platform/Keystroke.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QTimer>

#include <chrono>
#include <deque>
#include <vector>

namespace quillpost {

class GnomeWorkspace;
class SecretStore;

// Types the paste chord through the desktop portal's remote desktop
// (org.freedesktop.portal.RemoteDesktop), the one way GNOME lets a program send keys to other
// applications, into whichever window has the focus.
//
// The first postPaste() asks for the user's consent: it creates a portal session with the
// keyboard and starts it, which shows the desktop's dialog. Keystrokes wait for the answer
// (without blocking the event loop); granted, they are typed, and the session is kept for later
// ones. Refused, cancelled, unanswered within consentTimeout (a Start nobody answers never
// returns), or the session closed later (the user stopped it from the desktop's indicator):
// consent is not asked again while this object lives, and every keystroke reports NotPermitted.
// Where the portal offers persistence (interface version 2 and later) the consent is asked to
// last until revoked and its restore token is kept in `restoreTokens`, so that later runs start
// the session without the dialog; version 1 consent lasts as long as this object.
//
// A keystroke is typed only while none of our windows is active (NotFocused otherwise); then
// the windows that the workspace hid to hand the focus back are shown again. Keys are sent as
// the evdev codes of the keys that type the chord in the seat's keymap (looked up in XWayland's
// keymap, which follows the seat's). Everything runs on the GUI thread, asynchronously.
class PortalKeystroke final : public Keystroke
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds defaultConsentTimeout{120000};

    // `restoreTokens` may be null (no persistence); it must outlive this object.
    PortalKeystroke(GnomeWorkspace *workspace, SecretStore *restoreTokens = nullptr,
                    QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);
    ~PortalKeystroke() override;

    void setConsentTimeout(std::chrono::milliseconds timeout) { m_consentTimer.setInterval(timeout); }

    // True once the consent was refused, cancelled, not answered or withdrawn.
    bool isRefused() const { return m_state == State::Refused; }
    // Asks for consent now, if it has not been asked yet.
    void requestConsent();

protected:
    void post(const RunningApplication &target, PasteChord chord, BeforeKeys beforeKeys, Completion report) override;

private slots:
    void onResponse(const QDBusMessage &message);
    void onSessionClosed();

private:
    enum class State { Idle, Asking, Ready, Refused };
    enum class Step { Version, CreateSession, SelectDevices, Start };
    struct Pending
    {
        PasteChord chord;
        BeforeKeys beforeKeys;
        Completion report;
    };

    void ask(Step step);
    void askPortal(Step step, const QString &method, QList<QVariant> arguments, QVariantMap options);
    void answered(uint response, const QVariantMap &results);
    void refuse();
    void giveUp(KeystrokeResult result, State next);
    void typeNext();
    void sendNextKey();
    QDBusMessage keyCall(int keycode, uint state) const;
    void finishTyping(KeystrokeResult result);
    void stopListening();
    void closeSession();
    static QString nextToken();

    GnomeWorkspace *const m_workspace;
    SecretStore *const m_restoreTokens;
    QDBusConnection m_bus;
    State m_state = State::Idle;
    Step m_step = Step::Version;
    uint m_version = 0;
    QString m_restoreToken;
    QString m_session;
    QString m_request;
    QTimer m_consentTimer;
    std::deque<Pending> m_pending;
    bool m_typing = false;
    // The key events of the chord being typed: (evdev code, pressed or released).
    std::deque<std::pair<int, uint>> m_presses;
    // The keys of that chord pressed and not yet released.
    std::vector<int> m_held;
};

} // namespace quillpost
