#include "receiver/CompactInboxViewController.h"
#include "receiver/PanelText.h"

#include "widgets/Styling.h"

#include "cards/ElidedLabel.h"
#include "cards/ReceiverCardView.h"
#include "delivery/DeliveryStatus.h"
#include "delivery/PasteDelivery.h"
#include "platform/SecretStore.h"
#include "platform/SystemColors.h"
#include "service/APIClient.h"

#include <QAction>
#include <QComboBox>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>

namespace quillpost {

using namespace panel;

namespace {

using SystemColors::rgba;

const QString rawVersion = QStringLiteral("raw");

QColor syncedColor()
{
    return rgba(0.30, 0.52, 0.40, 1.0);
}

// One line for the status line: the service's messages may carry line breaks.
QString oneLine(QString text)
{
    for (QChar &c : text) {
        if (c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return text;
}

bool codePointLess(const QString &left, const QString &right)
{
    const QList<uint> a = left.toUcs4();
    const QList<uint> b = right.toUcs4();
    return std::lexicographical_compare(a.cbegin(), a.cend(), b.cbegin(), b.cend());
}

bool inScope(const Clip &clip, const QString &scope)
{
    return scope == allScope || (scope == personalScope && clip.collaborationName.isEmpty())
        || clip.collaborationName == scope;
}

} // namespace

CompactInboxViewController::CompactInboxViewController(APIClient *api, const Profile &profile,
                                                       const Platform &platform, SecretStore *store,
                                                       std::function<void(bool)> onTogglePin,
                                                       std::function<void()> onLogout, QWidget *parent)
    : QWidget(parent)
    , m_api(api)
    , m_profile(profile)
    , m_onLogout(std::move(onLogout))
    , m_onTogglePin(std::move(onTogglePin))
    , m_platform(platform)
    , m_store(store)
    , m_statusColor(SystemColors::secondaryLabel())
    , m_selectedScope(allScope)
    , m_selectedAutoVersion(QStringLiteral("optimized"))
{
    Q_ASSERT(m_api && m_store);
    // The delivery follows the desktop's activations from now on, before the panel is shown,
    // and stops doing so when it goes with the panel.
    m_delivery = new PasteDelivery(m_platform, PasteDeliveryOptions::receiverPanel(), this);
    connect(m_delivery, &PasteDelivery::statusChanged, this,
            [this](const QString &text, const std::optional<QColor> &color, const QString &explanation) {
                setStatus(text, color, explanation);
            });

    // A child of the panel: no tick can reach a panel that is gone.
    m_pollTimer = new QTimer(this);
    m_pollTimer->setObjectName(QStringLiteral("pollTimer"));
    m_pollTimer->setInterval(pollInterval);
    connect(m_pollTimer, &QTimer::timeout, this, &CompactInboxViewController::refresh);

    loadView();
}

CompactInboxViewController::~CompactInboxViewController()
{
    // The cards outlive this part of the panel by a moment, and an editor losing the focus on
    // the way out would report the end of its edit.
    for (const QPointer<ReceiverCardView> &card : std::as_const(m_cardViews)) {
        if (card)
            disconnect(card, &ReceiverCardView::editingChanged, this, nullptr);
    }
}

QString CompactInboxViewController::signature(const QList<Clip> &clips)
{
    QString result;
    for (qsizetype i = 0; i < clips.size(); ++i) {
        if (i > 0)
            result += QLatin1Char('|');
        result += clips[i].id;
        result += QLatin1Char(':');
        result += clips[i].updatedAt;
    }
    return result;
}

QStringList CompactInboxViewController::scopeTitles(const QList<Clip> &clips)
{
    QStringList names;
    for (const Clip &clip : clips) {
        if (!clip.collaborationName.isEmpty() && !names.contains(clip.collaborationName))
            names.append(clip.collaborationName);
    }
    std::sort(names.begin(), names.end(), codePointLess);
    names.prepend(personalScope);
    names.prepend(allScope);
    return names;
}

void CompactInboxViewController::refresh()
{
    if (m_signedOut)
        return;
    const quint64 request = m_nextRequest++;
    m_api->call<ClipList>(QStringLiteral("api/clips?limit=50"), "GET", std::nullopt, this,
                          [this, request](Outcome<ClipList> outcome) { handleFetch(request, outcome); });
}

void CompactInboxViewController::handleFetch(quint64 request, const Outcome<ClipList> &outcome)
{
    // Fetches overlap: an answer to a request older than the one last handled describes an
    // older state (or an older failure) and must not replace what is shown.
    if (m_signedOut || request < m_lastHandledRequest)
        return;
    if (!outcome.ok()) {
        setStatus(QStringLiteral("● 等待重连"), SystemColors::orange());
        return;
    }
    if (handleClips(outcome.value().clips))
        m_lastHandledRequest = request;
}

bool CompactInboxViewController::handleClips(const QList<Clip> &clips)
{
    const QString newSignature = signature(clips);
    // The user is typing in a card: keep it; the change is fetched again when the edit ends.
    m_heldBack = newSignature != m_lastSignature && isEditingCard();
    if (m_heldBack) {
        setStatus(QStringLiteral("● 编辑中，暂停同步"), SystemColors::orange(),
                  QStringLiteral("有一张卡片正在编辑或有未保存的修改。为了不覆盖你的文字，新的内容暂不显示；"
                                 "保存或撤销修改后会立即同步。"));
        return false;
    }
    setStatus(QStringLiteral("● 已同步"), syncedColor());
    if (newSignature == m_lastSignature)
        return true;

    const bool hadPrevious = !m_lastSignature.isEmpty();
    m_lastSignature = newSignature;
    m_currentClips = clips;

    if (hadPrevious && !clips.isEmpty() && clips.first().id != m_lastLatestID)
        m_highlightedClipID = clips.first().id;

    updateScopeItems();
    renderCards();

    if (clips.isEmpty())
        return true;
    const Clip latest = clips.first();
    const QString text = preferredText(latest);
    if (text.isEmpty())
        return true;

    const bool isNew = !m_lastLatestID.isEmpty() && m_lastLatestID != latest.id;
    if (m_lastLatestID.isEmpty())
        m_lastLatestID = latest.id;

    if (m_pinned && hadPrevious && text != m_lastClipboardText) {
        m_platform.pasteboard->setText(text);
        m_lastClipboardText = text;
        setStatus(QStringLiteral("已复制，可按 ⌘V"), syncedColor());
    }

    if (m_autoPasteEnabled && hadPrevious && (isNew || m_selectedAutoVersion != rawVersion)
        && !m_autoPastedClipIDs.contains(latest.id)) {
        if (const std::optional<QString> autoText = autoPasteText(latest, m_selectedAutoVersion)) {
            // The id is recorded whatever became of the delivery, so that the clip is never
            // delivered unexpectedly later; a delivery that stopped early keeps its own message.
            const bool scheduled = paste(*autoText);
            m_autoPastedClipIDs.insert(latest.id);
            if (scheduled)
                setStatus(QStringLiteral("新内容已同步输入"), std::nullopt);
        }
    }

    m_lastLatestID = latest.id;
    return true;
}

void CompactInboxViewController::updateScopeItems()
{
    const QStringList titles = scopeTitles(m_currentClips);
    if (titles == scopeItems())
        return;
    const QSignalBlocker blocker(m_scopeButton);
    m_scopeButton->clear();
    m_scopeButton->addItems(titles);
    const qsizetype index = titles.indexOf(m_selectedScope);
    if (index >= 0) {
        m_scopeButton->setCurrentIndex(int(index));
    } else {
        m_selectedScope = allScope;
        m_scopeButton->setCurrentIndex(0);
    }
}

void CompactInboxViewController::renderCards()
{
    m_cards->setUpdatesEnabled(false);
    // A card that is as new for a clip that has not changed is kept; every other card goes. A new
    // clip then costs one card instead of the whole list.
    QHash<QString, ReceiverCardView *> spare;
    for (const QPointer<ReceiverCardView> &card : std::as_const(m_cardViews)) {
        if (card && card->isAsNew() && !spare.contains(card->clip().id))
            spare.insert(card->clip().id, card);
        else
            delete card.data();
    }
    m_cardViews.clear();
    // The list is hidden while it is filled: a card shown in a visible list lays out the whole
    // list again, every card before it included; shown with the list, they are laid out once.
    const bool wasVisible = m_cards->isVisibleTo(this);
    m_cards->hide();
    while (QLayoutItem *item = m_cardsLayout->takeAt(0))
        delete item;
    delete m_emptyLabel;
    m_emptyLabel = nullptr;

    QList<Clip> shown;
    for (const Clip &clip : std::as_const(m_currentClips)) {
        if (shown.size() == maxCards)
            break;
        if (inScope(clip, m_selectedScope))
            shown.append(clip);
    }

    if (shown.isEmpty()) {
        m_emptyLabel = new QLabel(QStringLiteral("这个空间还没有内容"), m_cards);
        m_emptyLabel->setObjectName(QStringLiteral("emptyLabel"));
        m_emptyLabel->setTextFormat(Qt::PlainText);
        m_emptyLabel->setWordWrap(true);
        m_emptyLabel->setAlignment(Qt::AlignCenter);
        m_emptyLabel->setFont(pixelFont(font(), 11));
        setColour(m_emptyLabel, QPalette::WindowText, SystemColors::secondaryLabel());
        m_cardsLayout->addWidget(m_emptyLabel);
    }
    for (const Clip &clip : std::as_const(shown)) {
        const bool highlight = clip.id == m_highlightedClipID;
        ReceiverCardView *card = nullptr;
        const auto kept = spare.constFind(clip.id);
        if (!highlight && kept != spare.cend() && kept.value()->clip() == clip) {
            card = kept.value();
            spare.erase(kept);
        } else {
            card = makeCard(clip, highlight);
        }
        m_cardsLayout->addWidget(card);
        // Stacked as if made in list order: a card's shadow falls on the card above it.
        card->raise();
        m_cardViews.append(card);
    }
    qDeleteAll(spare);
    m_cards->setVisible(wasVisible);
    m_cards->setUpdatesEnabled(true);
}

ReceiverCardView *CompactInboxViewController::makeCard(const Clip &clip, bool highlight)
{
    const QPointer<CompactInboxViewController> panel(this);
    auto *card = new ReceiverCardView(
        clip, m_api, highlight,
        [panel](const QString &text) {
            if (panel)
                panel->paste(text);
        },
        [panel](const QString &version) {
            if (panel)
                panel->m_selectedAutoVersion = version;
        },
        [panel](const QString &text, const QColor &color) {
            if (panel)
                panel->setStatus(text, color);
        },
        m_cards);
    connect(card, &ReceiverCardView::editingChanged, this, [this](bool editing) {
        if (!editing && m_heldBack)
            refresh();
    });
    return card;
}

bool CompactInboxViewController::paste(const QString &text)
{
    return m_delivery->paste(text);
}

CompactInboxViewController::PasteLatestOutcome CompactInboxViewController::pasteLatest()
{
    const auto newest = std::find_if(m_currentClips.cbegin(), m_currentClips.cend(),
                                     [this](const Clip &clip) { return inScope(clip, m_selectedScope); });
    const std::optional<QString> text =
        newest == m_currentClips.cend() ? std::nullopt : autoPasteText(*newest, m_selectedAutoVersion);
    if (!text) {
        setStatus(QStringLiteral("没有可粘贴的内容"), SystemColors::orange(),
                  QStringLiteral("这个空间还没有内容，或者最新一条所选的版本（优化版或原文）还是空的。"));
        return PasteLatestOutcome::NoClip;
    }
    // Asked from outside the panel (a shortcut pressed in another application): where the desktop
    // tells which application has the focus now, that one is the target.
    if (const std::optional<RunningApplication> focused = m_platform.workspace->focusedApplication())
        m_delivery->appActivated(*focused);
    if (!paste(*text))
        return PasteLatestOutcome::Refused;
    setStatus(QStringLiteral("最新内容已输入"), syncedColor());
    return PasteLatestOutcome::Scheduled;
}

bool CompactInboxViewController::isEditingCard() const
{
    return std::any_of(m_cardViews.cbegin(), m_cardViews.cend(),
                       [](const QPointer<ReceiverCardView> &card) { return card && card->isEditing(); });
}

void CompactInboxViewController::setStatus(const QString &text, const std::optional<QColor> &color,
                                           const QString &explanation)
{
    m_status->setText(oneLine(text));
    m_status->setAccessibleName(m_status->text());
    m_status->setAccessibleDescription(explanation);
    m_status->setToolTip(m_status->isElided() ? Qt::convertFromPlainText(text) : QString());
    if (color) {
        m_statusColor = *color;
        setColour(m_status, QPalette::WindowText, m_statusColor);
    }
}

bool CompactInboxViewController::eventFilter(QObject *watched, QEvent *event)
{
    // The status line's own tooltip shows its text while it is cut; a status that comes with an
    // explanation shows that instead.
    if (watched == m_status && event->type() == QEvent::ToolTip && !m_status->accessibleDescription().isEmpty()) {
        QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(),
                           Qt::convertFromPlainText(m_status->accessibleDescription()), m_status);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

QString CompactInboxViewController::statusText() const
{
    return m_status->text();
}

QLabel *CompactInboxViewController::status() const
{
    return m_status;
}

QList<ReceiverCardView *> CompactInboxViewController::cards() const
{
    QList<ReceiverCardView *> result;
    for (const QPointer<ReceiverCardView> &card : m_cardViews) {
        if (card)
            result.append(card);
    }
    return result;
}

QStringList CompactInboxViewController::scopeItems() const
{
    QStringList items;
    for (int i = 0; i < m_scopeButton->count(); ++i)
        items.append(m_scopeButton->itemText(i));
    return items;
}

void CompactInboxViewController::changeScope()
{
    m_selectedScope = m_scopeButton->currentIndex() < 0 ? allScope : m_scopeButton->currentText();
    renderCards();
}

void CompactInboxViewController::togglePin()
{
    m_pinned = !m_pinned;
    updatePinLook();
    // Pinned still copies each new text; say plainly that the window will not stay above.
    if (m_pinned && !m_platform.workspace->canKeepWindowsAbove()) {
        const StatusText status = pinnedWithoutKeepAboveStatus();
        setStatus(status.text, SystemColors::orange(), status.explanation);
    }
    if (m_onTogglePin)
        m_onTogglePin(m_pinned);
}

void CompactInboxViewController::toggleAutoPaste()
{
    m_autoPasteEnabled = m_autoPasteButton->isChecked();
    updateAutoPasteLook();
    if (m_autoPasteEnabled)
        setStatus(QStringLiteral("新消息将自动输入"), SystemColors::orange());
    else
        setStatus(QStringLiteral("● 已同步"), syncedColor());
}

void CompactInboxViewController::showAccountMenu()
{
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("accountMenu"));
    // Gone once closed, whether an item was chosen or not (its action has been queued by then).
    connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
    menu->addAction(escapeMnemonic(m_profile.nickname))->setEnabled(false);
    menu->addAction(escapeMnemonic(m_profile.phone))->setEnabled(false);
    menu->addSeparator();
    QAction *logoutAction = menu->addAction(QStringLiteral("退出登录…"));
    // Queued: the alert and a host that replaces the panel in onLogout run after the menu has
    // finished with its action, not inside it.
    connect(logoutAction, &QAction::triggered, this, &CompactInboxViewController::logout, Qt::QueuedConnection);
    menu->popup(m_accountButton->mapToGlobal(QPoint(0, m_accountButton->height() + 3)));
}

void CompactInboxViewController::logout()
{
    const QPointer<CompactInboxViewController> self(this);
    const bool confirmed = confirm(this, {QStringLiteral("退出 ") + m_profile.nickname + QStringLiteral("？"),
                                          QStringLiteral("云端内容不会删除。"), QStringLiteral("退出")});
    // The panel may be destroyed while the alert waits (the host signs out from elsewhere).
    if (!confirmed || !self)
        return;
    m_pollTimer->stop();
    m_signedOut = true;
    m_api->token.reset();
    m_store->remove();
    // The host may delete the panel from inside the callback: keep a copy to run.
    const std::function<void()> onLogout = m_onLogout;
    if (onLogout)
        onLogout();
}

} // namespace quillpost
