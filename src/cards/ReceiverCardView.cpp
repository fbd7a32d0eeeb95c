#include "cards/ReceiverCardView.h"

#include "widgets/ButtonChoice.h"
#include "widgets/Styling.h"

#include "cards/CardShadowEffect.h"
#include "cards/CardWidgets.h"
#include "cards/ElidedLabel.h"
#include "cards/HexColor.h"
#include "cards/PassThroughScrollView.h"
#include "platform/SystemColors.h"
#include "service/APIClient.h"

#include <QButtonGroup>
#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPointer>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

namespace quillpost {

namespace {

using SystemColors::rgba;

const QString optimizedTitle = QStringLiteral("优化版");
const QString rawTitle = QStringLiteral("原文");
const QString saveTitle = QStringLiteral("保存");
const QString savedTitle = QStringLiteral("已保存");
const QString copyTitle = QStringLiteral("复制");
const QString pasteTitle = QStringLiteral("粘贴");

QColor successColor() { return rgba(0.29, 0.49, 0.39, 1); }

QColor withAlpha(QColor color, qreal alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

CardButton::Look versionLook(const QColor &title, const QColor &selected)
{
    return {title, rgba(1, 1, 1, 0.72), selected, 10, QFont::DemiBold};
}

CardButton::Look actionLook(bool prominent)
{
    if (prominent)
        return {rgba(0.76, 0.31, 0.26, 1), rgba(1, 0.88, 0.84, 0.9), {}, 10, QFont::DemiBold};
    return {rgba(0.27, 0.43, 0.36, 1), rgba(1, 1, 1, 0.72), {}, 10, QFont::Medium};
}

} // namespace

CardColors CardColors::forCollaboration(const QString &collaborationColor)
{
    const std::optional<QColor> color = hexColor(collaborationColor);
    if (!color)
        return {rgba(1, 1, 1, 0.78), rgba(0.87, 0.91, 0.88, 1), SystemColors::tertiaryLabel()};
    // The label is the colour blended 35 % toward black.
    const QColor label = QColor::fromRgbF(color->redF() * 0.65f, color->greenF() * 0.65f, color->blueF() * 0.65f, 1.0f);
    return {withAlpha(*color, 0.16), withAlpha(*color, 0.58), label};
}

ReceiverCardView::ReceiverCardView(const Clip &clip, APIClient *api, bool highlight,
                                   std::function<void(QString)> onPaste, std::function<void(QString)> onSourceChange,
                                   std::function<void(QString, QColor)> onMessage, QWidget *parent)
    : QWidget(parent)
    , m_clip(clip)
    , m_api(api)
    , m_onPaste(std::move(onPaste))
    , m_onMessage(std::move(onMessage))
    , m_onSourceChange(std::move(onSourceChange))
    , m_colors(CardColors::forCollaboration(clip.collaborationColor))
{
    setAccessibleName(m_clip.title);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    m_surface = new RoundedPanel(m_colors.background, m_colors.border, 13, this);
    m_surface->setObjectName(QStringLiteral("cardSurface"));
    outer->addWidget(m_surface);

    // The shadow and the arrival fade. Cards of the same colours and buttons cast the same shadow.
    m_effect = new CardShadowEffect(QStringLiteral("%1/%2/%3")
                                        .arg(m_colors.background.rgba(), 0, 16)
                                        .arg(m_colors.border.rgba(), 0, 16)
                                        .arg(m_clip.canEdit ? QStringLiteral("editable") : QStringLiteral("read-only")),
                                    this);
    setGraphicsEffect(m_effect);

    // Header: title, flexible space, collaboration space.
    m_titleLabel = new ElidedLabel(m_clip.title, m_surface);
    m_titleLabel->setObjectName(QStringLiteral("titleLabel"));
    m_titleLabel->setFont(pixelFont(font(), 11, QFont::DemiBold));
    setColour(m_titleLabel, QPalette::WindowText, rgba(0.18, 0.29, 0.25, 1));
    m_collaborationLabel = new ElidedLabel(m_clip.collaborationName, m_surface);
    m_collaborationLabel->setObjectName(QStringLiteral("collaborationLabel"));
    m_collaborationLabel->setFont(pixelFont(font(), 9, QFont::Normal));
    setColour(m_collaborationLabel, QPalette::WindowText, m_colors.collaborationLabel);
    m_collaborationLabel->setVisible(!m_clip.collaborationName.isEmpty());
    // The space name is whole while the row has room for it: the title takes what is left and
    // gives way first, down to its ellipsis; only then is the space name cut, rather than widen
    // the card.
    m_titleLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_titleLabel->setMinimumWidth(m_titleLabel->minimumSizeHint().width());
    m_collaborationLabel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto *header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(m_titleLabel, 1, Qt::AlignVCenter);
    header->addWidget(m_collaborationLabel, 0, Qt::AlignVCenter);

    m_selectedVersion = openingVersion();

    // The selected version's button takes its own colour; the title colours never change.
    m_optimizedButton = new CardButton(
        optimizedTitle, versionLook(rgba(0.34, 0.27, 0.12, 1), rgba(0.98, 0.76, 0.28, 0.92)), m_surface);
    m_optimizedButton->setObjectName(QStringLiteral("optimizedButton"));
    m_rawButton =
        new CardButton(rawTitle, versionLook(rgba(0.18, 0.34, 0.27, 1), rgba(0.47, 0.82, 0.66, 0.92)), m_surface);
    m_rawButton->setObjectName(QStringLiteral("rawButton"));
    auto *versions = new QButtonGroup(this);
    for (auto [button, version] : {std::pair{m_optimizedButton, 0}, std::pair{m_rawButton, 1}}) {
        button->setCheckable(true);
        versions->addButton(button, version);
    }
    updateVersionButtons();
    connectChoice(versions, this, [this](int version) { changeSource(version); });

    // Text area: a rounded panel holding the editor.
    auto *textArea = new RoundedPanel(rgba(0.975, 0.978, 0.965, 1), std::nullopt, 9, m_surface);
    textArea->setObjectName(QStringLiteral("textArea"));
    textArea->setFixedHeight(58);
    m_editor = new PassThroughScrollView(textArea);
    m_editor->setObjectName(QStringLiteral("editor"));
    m_editor->setAccessibleName(m_clip.title);
    m_editor->setFrameShape(QFrame::NoFrame);
    m_editor->setFont(pixelFont(font(), 11, QFont::Normal));
    // The text area draws the background; the editor only its text.
    m_editor->viewport()->setAutoFillBackground(false);
    QPalette editorPalette = m_editor->palette();
    editorPalette.setColor(QPalette::Base, Qt::transparent);
    editorPalette.setColor(QPalette::Text, rgba(0.19, 0.28, 0.25, 1));
    m_editor->setPalette(editorPalette);
    m_editor->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The scroll bar keeps its place so that the text does not rewrap as it grows; its handle
    // shows only when there is something to scroll.
    m_editor->verticalScrollBar()->setStyle(SlimScrollBarStyle::instance());
    m_editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_editor->setTabChangesFocus(true);
    m_editor->document()->setDocumentMargin(5);
    m_editor->setText(selectedText());
    m_storedText = selectedText();
    m_editor->setReadOnly(!m_clip.canEdit);
    if (!m_clip.canEdit)
        m_editor->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_editor->installEventFilter(this);
    connect(m_editor, &QPlainTextEdit::textChanged, this, &ReceiverCardView::updateEditing);
    auto *textLayout = new QVBoxLayout(textArea);
    textLayout->setContentsMargins(0, 0, 0, 0);
    textLayout->addWidget(m_editor);

    m_copyButton = smallButton(copyTitle, QStringLiteral("copyButton"), &ReceiverCardView::copyText);
    m_pasteButton = smallButton(pasteTitle, QStringLiteral("pasteButton"), &ReceiverCardView::pasteText);
    m_saveButton = smallButton(saveTitle, QStringLiteral("saveButton"), &ReceiverCardView::save);
    m_saveButton->setVisible(m_clip.canEdit);

    auto *versionRow = new QHBoxLayout;
    versionRow->setSpacing(2);
    versionRow->addWidget(m_optimizedButton);
    versionRow->addWidget(m_rawButton);
    auto *actions = new QHBoxLayout;
    actions->setSpacing(4);
    actions->addLayout(versionRow);
    actions->addStretch(1);
    for (QPushButton *button : {m_saveButton, m_copyButton, m_pasteButton})
        actions->addWidget(button, 0, Qt::AlignVCenter);

    auto *column = new QVBoxLayout(m_surface);
    column->setSpacing(6);
    column->setContentsMargins(9, 8, 9, 8);
    column->addLayout(header);
    column->addWidget(textArea);
    column->addLayout(actions);

    if (highlight) {
        m_effect->setOpacity(arrivalStartOpacity);
        // Started on the next turn of the event loop, once the panel has put the card in its list.
        QTimer::singleShot(0, this, &ReceiverCardView::startArrivalFade);
    }
}

ReceiverCardView::~ReceiverCardView()
{
    // The editor outlives this part of the card by a moment and may get a focus event then.
    m_editor->removeEventFilter(this);
}

SafePlainTextEdit *ReceiverCardView::editor() const
{
    return m_editor;
}

bool ReceiverCardView::isEditing() const
{
    return m_editor->window()->focusWidget() == m_editor || hasUnsavedEdits();
}

bool ReceiverCardView::hasUnsavedEdits() const
{
    return m_editor->text() != m_storedText;
}

bool ReceiverCardView::isAsNew() const
{
    const QWidget *focus = window()->focusWidget();
    const QTextCursor cursor = m_editor->textCursor();
    return m_selectedVersion == openingVersion() && m_storedText == selectedText() && !hasUnsavedEdits()
        && !m_editor->document()->isUndoAvailable() && !m_editor->document()->isRedoAvailable()
        && cursor.position() == 0 && !cursor.hasSelection() && m_editor->verticalScrollBar()->value() == 0
        && m_saveButton->isEnabled() && m_saveButton->text() == saveTitle && m_effect->opacity() >= 1
        && !(focus && isAncestorOf(focus));
}

void ReceiverCardView::updateEditing()
{
    const bool editing = isEditing();
    if (editing != m_editing) {
        m_editing = editing;
        emit editingChanged(editing);
    }
}

bool ReceiverCardView::eventFilter(QObject *watched, QEvent *event)
{
    // Recomputed rather than taken from the event: the editor stays its window's focus widget
    // when the window loses activation or a context menu opens.
    if (watched == m_editor && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
        updateEditing();
    return QWidget::eventFilter(watched, event);
}

int ReceiverCardView::openingVersion() const
{
    // Only an empty optimized text opens the card on the raw text; blanks count as content.
    return m_clip.optimizedText.isEmpty() ? 1 : 0;
}

QString ReceiverCardView::selectedText() const
{
    return m_selectedVersion == 0 ? m_clip.optimizedText : m_clip.rawText;
}

void ReceiverCardView::updateVersionButtons()
{
    // The style sheet draws the selected and unselected backgrounds from the checked state.
    m_optimizedButton->setChecked(m_selectedVersion == 0);
    m_rawButton->setChecked(m_selectedVersion == 1);
}

void ReceiverCardView::changeSource(int version)
{
    m_selectedVersion = version;
    updateVersionButtons();
    // Unsaved edits are dropped, also when the version shown does not change.
    m_editor->setText(selectedText());
    m_storedText = selectedText();
    updateEditing();
    if (m_onSourceChange)
        m_onSourceChange(version == 0 ? QStringLiteral("optimized") : QStringLiteral("raw"));
}

void ReceiverCardView::copyText()
{
    QGuiApplication::clipboard()->setText(m_editor->text(), QClipboard::Clipboard);
    if (m_onMessage)
        m_onMessage(QStringLiteral("已复制到剪贴板"), successColor());
}

void ReceiverCardView::pasteText()
{
    if (m_onPaste)
        m_onPaste(m_editor->text());
}

void ReceiverCardView::setSaveTitle(const QString &title)
{
    m_saveButton->setText(title);
}

void ReceiverCardView::save()
{
    // The button is hidden on a read-only clip; a save can still not start there by other means.
    if (!m_clip.canEdit)
        return;

    // The edit goes into the card's copy first and stays there whatever the outcome; until the
    // service has it, it counts as unsaved.
    const QString sentText = m_editor->text();
    const int sentVersion = m_selectedVersion;
    (m_selectedVersion == 0 ? m_clip.optimizedText : m_clip.rawText) = sentText;
    m_saveButton->setEnabled(false);

    // The reply's receiver belongs to the client, not to the card: a card that the panel
    // removes during the save still has its outcome reported, and the job is gone with the
    // client at the latest.
    auto *job = new QObject(m_api);
    const QString sentId = m_clip.id;
    m_api->save(m_clip, job,
                [job, card = QPointer<ReceiverCardView>(this), onMessage = m_onMessage, sentId, sentText,
                 sentVersion](Outcome<Clip> outcome) {
                    job->deleteLater();
                    // A reply about another clip would send this card's later saves to that clip.
                    if (outcome.ok() && outcome.value().id != sentId)
                        outcome = Failure(DecodingError(QStringLiteral("保存后返回的内容与原内容不符")));
                    if (outcome.ok()) {
                        if (card) {
                            card->m_clip = outcome.value();
                            if (card->m_selectedVersion == sentVersion)
                                card->m_storedText = sentText;
                            card->updateEditing();
                            card->setSaveTitle(savedTitle);
                            card->m_saveButton->setEnabled(true);
                            // Every success schedules its own reset, bound to the card.
                            QTimer::singleShot(savedTitleDuration, card.data(),
                                               [card = card.data()] { card->setSaveTitle(saveTitle); });
                        }
                        if (onMessage)
                            onMessage(QStringLiteral("修改已同步"), successColor());
                    } else {
                        if (card)
                            card->m_saveButton->setEnabled(true);
                        if (onMessage)
                            onMessage(outcome.failure().description(), SystemColors::red());
                    }
                });
}

QPushButton *ReceiverCardView::smallButton(const QString &title, const QString &objectName,
                                           void (ReceiverCardView::*action)())
{
    auto *button = new CardButton(title, actionLook(title == pasteTitle), m_surface);
    button->setObjectName(objectName);
    connect(button, &QPushButton::clicked, this, action);
    return button;
}

void ReceiverCardView::startArrivalFade()
{
    // Once opaque, the card is drawn directly again, under its kept shadow.
    auto *animation = new QPropertyAnimation(m_effect, "opacity", this);
    animation->setDuration(int(arrivalFadeDuration.count()));
    animation->setStartValue(arrivalStartOpacity);
    animation->setEndValue(1.0);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

} // namespace quillpost
