#pragma once

#include "platform/Platform.h"
#include "service/Outcome.h"
#include "service/Records.h"

#include <QColor>
#include <QList>
#include <QSet>
#include <QString>
#include <QWidget>

#include <chrono>
#include <functional>
#include <optional>

class QButtonGroup;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QTimer;

namespace quillpost {

class AlertSound;
class APIClient;
class ClipListModel;
class PasteDelivery;
class SafePlainTextEdit;
class SecretStore;

// The inbox window's content: the signed-in user's latest clips as a list on the left and an
// editor for the selected clip on the right, with the choice between its optimized ("优化版")
// and raw ("原文") text, save, copy, paste into the application the user last worked in, and
// sign-out. It polls the clip list on its own timer and plays a sound when a new clip arrives
// at the top.
//
// The constructor builds the widget tree (loadView) and starts polling at once: one fetch, then
// one every pollInterval. `api`, `store`, `sound` and the seams of `platform` belong to the host
// and must outlive the window; without a `sound` the window plays the desktop's own. Replies are
// bound to the window: once it is destroyed nothing reaches it any more, and its timer is gone
// with it. `onLogout` runs after a confirmed sign-out as the last thing the window does; the host
// may delete the window from inside it.
//
// Edits are never lost to a poll: while the title field or the editor holds text that differs
// from what was loaded into it (unsaved edits), polls keep both fields and keep that clip
// selected; if the clip disappears from the list, the edits stay and no row is selected until
// the user picks one.
class InboxViewController : public QWidget
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds pollInterval{3000};
    static constexpr std::chrono::milliseconds savedTitleDuration{1200};
    static constexpr int optimizedVersion = 0;
    static constexpr int rawVersion = 1;

    InboxViewController(APIClient *api, const Profile &profile, const Platform &platform, SecretStore *store,
                        std::function<void()> onLogout, QWidget *parent = nullptr);
    InboxViewController(APIClient *api, const Profile &profile, const Platform &platform, SecretStore *store,
                        AlertSound *sound, std::function<void()> onLogout, QWidget *parent = nullptr);
    ~InboxViewController() override;

    // Starts one fetch of the clip list (the timer calls this). A reply is dropped when it is
    // older than what the list already shows: the reply to a request sent before the one whose
    // reply was applied last, or sent before a save's result went into the list.
    void refresh();
    // Applies one successful clip list, as a poll does.
    void applyClips(const QList<Clip> &clips);

    // Actions of the controls.
    void versionChanged();
    void save();
    void copyText();
    void pasteText();
    void logout();

    // State.
    const QList<Clip> &clips() const;
    qint64 selectedIndex() const { return m_selectedIndex; }
    // 0: "优化版" is selected; 1: "原文".
    int selectedVersion() const;
    // True while the title field or the editor differs from what was last loaded into it.
    bool hasUnsavedEdits() const;
    PasteDelivery *delivery() const { return m_delivery; }

    // Views.
    QString statusText() const;
    QColor statusColor() const { return m_statusColor; }
    QLabel *status() const { return m_status; }
    QListView *table() const { return m_table; }
    QLineEdit *titleField() const { return m_titleField; }
    SafePlainTextEdit *editor() const { return m_editor; }
    QPushButton *optimizedButton() const { return m_optimizedButton; }
    QPushButton *rawButton() const { return m_rawButton; }
    QPushButton *saveButton() const { return m_saveButton; }
    QPushButton *copyButton() const { return m_copyButton; }
    QPushButton *pasteButton() const { return m_pasteButton; }
    QPushButton *logoutButton() const { return m_logoutButton; }
    QTimer *pollTimer() const { return m_pollTimer; }

signals:
    // A poll's reply has been dealt with: applied (true), or failed or dropped as stale (false).
    void pollHandled(bool applied);

private:
    // What the title field and the editor were last loaded with.
    struct Loaded
    {
        QString clipId;
        QString title;
        QString text;
    };

    void loadView();
    QWidget *buildHeader();
    QWidget *buildEditorColumn();
    void tableViewSelectionDidChange();
    void showSelection(bool preserve);
    void selectRow(qint64 row);
    void updateSaveEnabled();
    void handleFetch(quint64 request, const Outcome<ClipList> &outcome);
    void handleSave(const Clip &sent, int sentVersion, const Outcome<Clip> &outcome);
    void setSaveTitle(const QString &title);
    // `explanation`, where given, is the fuller text for the tooltip and accessible description.
    void setStatus(const QString &text, const std::optional<QColor> &color, const QString &explanation = {});
    bool indexInside(qint64 index) const;

    APIClient *m_api;
    Profile m_profile;
    std::function<void()> m_onLogout;
    Platform m_platform;
    SecretStore *m_store;
    AlertSound *m_sound;
    PasteDelivery *m_delivery = nullptr;
    ClipListModel *m_model = nullptr;

    qint64 m_selectedIndex = 0;
    QTimer *m_pollTimer = nullptr;
    QListView *m_table = nullptr;
    QLineEdit *m_titleField = nullptr;
    SafePlainTextEdit *m_editor = nullptr;
    QButtonGroup *m_version = nullptr;
    QPushButton *m_optimizedButton = nullptr;
    QPushButton *m_rawButton = nullptr;
    QLabel *m_status = nullptr;
    QColor m_statusColor;
    QPushButton *m_saveButton = nullptr;
    QPushButton *m_copyButton = nullptr;
    QPushButton *m_pasteButton = nullptr;
    QPushButton *m_logoutButton = nullptr;

    std::optional<Loaded> m_loaded;
    // Ids of the clips whose save is on its way; their save button stays disabled meanwhile.
    QSet<QString> m_saving;
    // Set while a poll reloads the table, so that its own selection does not count as the user's.
    bool m_applyingPoll = false;
    bool m_signedOut = false;
    // Requests are numbered as they are sent. A reply is applied only when its number is above
    // m_listCurrentAsOf: the request whose reply was applied last, or the last request sent when
    // a save's result went into the list.
    quint64 m_lastRequest = 0;
    quint64 m_listCurrentAsOf = 0;
};

} // namespace quillpost
