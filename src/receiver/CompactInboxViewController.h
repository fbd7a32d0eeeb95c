#pragma once

#include "platform/Platform.h"
#include "service/Outcome.h"
#include "service/Records.h"

#include <QColor>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <chrono>
#include <functional>
#include <optional>

class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QTimer;
class QVBoxLayout;

namespace quillpost {

class APIClient;
class ElidedLabel;
class PasteDelivery;
class ReceiverCardView;
class SecretStore;

// The receiver panel: the screen a signed-in user works in. It polls the user's latest clips,
// shows up to 30 of them as cards, marks a newly arrived clip, and, with its switches, copies
// the newest text while pinned and delivers new clips into the application the user last
// worked in. Its header holds the account button (menu with sign-out); its control row the
// scope choice, the status line and the auto-paste and pin switches.
//
// The constructor builds the widget tree (loadView) and starts polling at once: one fetch, then
// one every pollInterval. `api`, `store` and the seams of `platform` belong to the host and must
// outlive the panel. Replies and card callbacks are bound to the panel: once it is destroyed,
// nothing reaches it any more, and its timer is gone with it.
//
// `onTogglePin` is told the new pinned state. `onLogout` runs after a confirmed sign-out, as the
// last thing the panel does; the host may delete the panel from inside it.
class CompactInboxViewController : public QWidget
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds pollInterval{3000};
    static constexpr qsizetype maxCards = 30;

    CompactInboxViewController(APIClient *api, const Profile &profile, const Platform &platform, SecretStore *store,
                               std::function<void(bool)> onTogglePin, std::function<void()> onLogout,
                               QWidget *parent = nullptr);
    ~CompactInboxViewController() override;

    // The signature of a clip list: "id:updatedAt" of every clip, in order, joined by "|".
    static QString signature(const QList<Clip> &clips);
    // The scope choices for a clip list: "全部", "个人", then the distinct non-empty
    // collaboration names in code point order.
    static QStringList scopeTitles(const QList<Clip> &clips);

    // Starts one fetch of the clip list; its reply is handled later (handleClips, or the
    // reconnect status on failure). A reply to a request sent before the one whose reply was
    // last handled is dropped: an older list never replaces a newer one.
    void refresh();
    // Handles one successful clip list: status, change detection, cards, copy and auto-paste.
    // Returns false when a changed list was held back because the user is editing a card (it is
    // then neither applied nor stored, the status line says that updates wait for the edit, and
    // the list is fetched again as soon as the edit ends); true when it was unchanged or has been
    // applied.
    bool handleClips(const QList<Clip> &clips);
    // Rebuilds the card list from currentClips and selectedScope.
    void renderCards();

    // Delivers `text` into the last external application; true when the keystroke was scheduled.
    bool paste(const QString &text);

    enum class PasteLatestOutcome { Scheduled, NoClip, Refused };
    // Delivers the newest clip of the selected scope, in the version auto-paste would choose
    // (autoPasteText), into the application that has the focus where the desktop tells, else
    // into the one worked in last, as a paste button does; the status line says what happened.
    // NoClip when the scope has no clip or that version is blank; Refused when paste() stopped
    // before scheduling the keys. The panel's windows are not touched.
    PasteLatestOutcome pasteLatest();

    // Panel commands, as the controls and the account menu run them.
    void changeScope();
    void togglePin();
    void toggleAutoPaste();
    void showAccountMenu();
    void logout();

    // State.
    const Profile &profile() const { return m_profile; }
    const QList<Clip> &currentClips() const { return m_currentClips; }
    const QString &lastSignature() const { return m_lastSignature; }
    const QString &lastLatestID() const { return m_lastLatestID; }
    const QString &lastClipboardText() const { return m_lastClipboardText; }
    const QString &highlightedClipID() const { return m_highlightedClipID; }
    const QString &selectedScope() const { return m_selectedScope; }
    const QString &selectedAutoVersion() const { return m_selectedAutoVersion; }
    const QSet<QString> &autoPastedClipIDs() const { return m_autoPastedClipIDs; }
    bool pinned() const { return m_pinned; }
    bool autoPasteEnabled() const { return m_autoPasteEnabled; }
    PasteDelivery *delivery() const { return m_delivery; }

    // Views.
    QString statusText() const;
    QColor statusColor() const { return m_statusColor; }
    QLabel *status() const;
    QComboBox *scopeButton() const { return m_scopeButton; }
    QPushButton *pinButton() const { return m_pinButton; }
    QPushButton *autoPasteButton() const { return m_autoPasteButton; }
    QPushButton *accountButton() const { return m_accountButton; }
    QTimer *pollTimer() const { return m_pollTimer; }
    QScrollArea *scrollArea() const { return m_scrollArea; }
    // The cards as they are shown, top to bottom.
    QList<ReceiverCardView *> cards() const;
    // The "这个空间还没有内容" label while the filtered list is empty, else null.
    QLabel *emptyLabel() const { return m_emptyLabel; }
    QStringList scopeItems() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void loadView();
    QWidget *buildHeader();
    QWidget *buildControlRow();
    void setAvatar();
    // Shows `text` in the status line, in `color` when given; `explanation`, when given, is what
    // its tooltip and its accessible description say about it.
    void setStatus(const QString &text, const std::optional<QColor> &color, const QString &explanation = {});
    void updatePinLook();
    void updateAutoPasteLook();
    void updateScopeItems();
    bool isEditingCard() const;
    ReceiverCardView *makeCard(const Clip &clip, bool highlight);
    void handleFetch(quint64 request, const Outcome<ClipList> &outcome);

    APIClient *m_api;
    Profile m_profile;
    std::function<void()> m_onLogout;
    std::function<void(bool)> m_onTogglePin;
    Platform m_platform;
    SecretStore *m_store;
    PasteDelivery *m_delivery = nullptr;

    QWidget *m_cards = nullptr;
    QVBoxLayout *m_cardsLayout = nullptr;
    ElidedLabel *m_status = nullptr;
    QPushButton *m_pinButton = nullptr;
    QPushButton *m_autoPasteButton = nullptr;
    QComboBox *m_scopeButton = nullptr;
    QPushButton *m_accountButton = nullptr;
    QScrollArea *m_scrollArea = nullptr;
    QLabel *m_emptyLabel = nullptr;
    QList<QPointer<ReceiverCardView>> m_cardViews;
    QColor m_statusColor;
    // Set by a confirmed sign-out: replies still under way are dropped from then on.
    bool m_signedOut = false;
    // A changed list was held back for an edit and has not been applied since.
    bool m_heldBack = false;

    bool m_pinned = false;
    QTimer *m_pollTimer = nullptr;
    QString m_lastSignature;
    QList<Clip> m_currentClips;
    QString m_selectedScope;
    bool m_autoPasteEnabled = false;
    QString m_lastLatestID;
    QString m_lastClipboardText;
    QString m_selectedAutoVersion;
    QSet<QString> m_autoPastedClipIDs;
    QString m_highlightedClipID;

    // Requests are numbered as they are sent; lastHandledRequest is the number of the request
    // whose successful reply was handled last.
    quint64 m_nextRequest = 1;
    quint64 m_lastHandledRequest = 0;
};

} // namespace quillpost
