#pragma once

#include "service/Records.h"

#include <QColor>
#include <QString>
#include <QWidget>

#include <chrono>
#include <functional>
#include <optional>

class QPushButton;

namespace quillpost {

class APIClient;
class CardButton;
class CardShadowEffect;
class ElidedLabel;
class PassThroughScrollView;
class SafePlainTextEdit;

// The colours of one card, derived from its clip's collaboration colour.
struct CardColors
{
    QColor background;
    QColor border;
    QColor collaborationLabel;

    // `collaborationColor` is the clip's text; a missing or malformed one gives the neutral card.
    static CardColors forCollaboration(const QString &collaborationColor);
};

// One clip in the receiver panel's card list: title and collaboration space, one of the clip's
// two texts in a small editor, the version choice ("优化版" / "原文") and the buttons "保存",
// "复制" and "粘贴". The card talks to the panel only through its three callbacks and saves
// its own edits through the shared service client.
class ReceiverCardView : public QWidget
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds savedTitleDuration{1200};
    static constexpr std::chrono::milliseconds arrivalFadeDuration{420};
    static constexpr qreal arrivalStartOpacity = 0.28;

    // `highlight` fades the card in once it is in the list. `api` must outlive the card.
    ReceiverCardView(const Clip &clip, APIClient *api, bool highlight, std::function<void(QString)> onPaste,
                     std::function<void(QString)> onSourceChange, std::function<void(QString, QColor)> onMessage,
                     QWidget *parent = nullptr);
    ~ReceiverCardView() override;

    // The card's own copy of the clip: an edit being saved goes in first, and a successful save
    // replaces it with the clip the service returned.
    const Clip &clip() const { return m_clip; }
    // 0: the optimized text is shown; 1: the raw text.
    int selectedVersion() const { return m_selectedVersion; }
    const CardColors &colors() const { return m_colors; }
    // The card's shadow; its opacity is the arrival fade's.
    CardShadowEffect *shadowEffect() const { return m_effect; }

    // True while the user is working in this card and the panel must not replace it: the editor
    // is the focus widget of its window (also while that window is not active), or it holds text
    // that the service does not have (typed and not yet saved, or a save that failed).
    bool isEditing() const;
    bool hasUnsavedEdits() const;
    // True while the card looks and behaves as a card newly made for its clip without highlight
    // would: the version it opens on, its text as loaded with no undo history, the cursor at the
    // start, nothing selected or scrolled, no save under way or just reported, no fade, nothing
    // in it focused. The panel keeps such a card for an unchanged clip instead of making it anew.
    bool isAsNew() const;

    QPushButton *optimizedButton() const { return m_optimizedButton; }
    QPushButton *rawButton() const { return m_rawButton; }
    QPushButton *saveButton() const { return m_saveButton; }
    QPushButton *copyButton() const { return m_copyButton; }
    QPushButton *pasteButton() const { return m_pasteButton; }
    SafePlainTextEdit *editor() const;
    ElidedLabel *titleLabel() const { return m_titleLabel; }
    ElidedLabel *collaborationLabel() const { return m_collaborationLabel; }

signals:
    void editingChanged(bool editing);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int openingVersion() const;
    QString selectedText() const;
    void changeSource(int version);
    void updateVersionButtons();
    void copyText();
    void pasteText();
    void save();
    void setSaveTitle(const QString &title);
    QPushButton *smallButton(const QString &title, const QString &objectName, void (ReceiverCardView::*action)());
    void startArrivalFade();
    void updateEditing();

    Clip m_clip;
    APIClient *const m_api;
    QPushButton *m_optimizedButton = nullptr;
    QPushButton *m_rawButton = nullptr;
    int m_selectedVersion = 0;
    // The selected version's text as the service has it: loaded, or saved from this card.
    QString m_storedText;
    PassThroughScrollView *m_editor = nullptr;
    QPushButton *m_saveButton = nullptr;
    std::function<void(QString)> m_onPaste;
    std::function<void(QString, QColor)> m_onMessage;
    std::function<void(QString)> m_onSourceChange;

    CardColors m_colors;
    QWidget *m_surface = nullptr;
    CardShadowEffect *m_effect = nullptr;
    ElidedLabel *m_titleLabel = nullptr;
    ElidedLabel *m_collaborationLabel = nullptr;
    QPushButton *m_copyButton = nullptr;
    QPushButton *m_pasteButton = nullptr;
    bool m_editing = false;
};

} // namespace quillpost
