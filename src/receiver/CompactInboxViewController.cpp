#include "receiver/CompactInboxViewController.h"

#include "widgets/Styling.h"

#include "cards/CardWidgets.h"
#include "cards/CircularAvatar.h"
#include "cards/ElidedLabel.h"
#include "cards/FlippedReceiverView.h"
#include "cards/ReceiverCardView.h"
#include "platform/SecretStore.h"
#include "platform/SystemColors.h"
#include "receiver/PasteDelivery.h"
#include "service/APIClient.h"

#include <QAction>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace quillpost {

namespace {

using SystemColors::rgba;

const QString allScope = QStringLiteral("全部");
const QString personalScope = QStringLiteral("个人");
const QString rawVersion = QStringLiteral("raw");

constexpr int avatarSize = 20;
constexpr int switchHeight = 25;
constexpr int accountTitleWidth = 120;
constexpr int scopeMaxWidth = 120;

QColor syncedColor()
{
    return rgba(0.30, 0.52, 0.40, 1.0);
}

QString css(const QColor &color)
{
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alphaF(), 0, 'f', 3);
}

// A rounded, borderless switch or pop-up in the given colour; keyboard focus draws a ring.
QString controlStyleSheet(const QString &type, const QColor &background)
{
    return QStringLiteral("%1 { background-color: %2; border: none; border-radius: 8px; padding: 0 9px; }"
                          "%1:pressed { background-color: %3; }"
                          "%1:focus { border: 1px solid %4; }")
        .arg(type, css(background), css(background.darker(112)), css(rgba(0.18, 0.31, 0.26, 0.8)));
}

// A click leaves the keyboard focus where it was, so that a card being typed in stays the
// focus; Tab still reaches the control.
void keepFocusOnClick(QWidget *control)
{
    control->setFocusPolicy(Qt::TabFocus);
}

// Texts shown where "&" marks a mnemonic (button and menu titles) show it as it is.
QString escapeMnemonic(QString text)
{
    return text.replace(QLatin1Char('&'), QLatin1String("&&"));
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

// The picture in a data URL ("data:image/png;base64,...."): the strict Base64 text after the
// first comma. Anything else gives a null image.
QImage avatarImage(const std::optional<QString> &avatarData)
{
    if (!avatarData)
        return {};
    const qsizetype comma = avatarData->indexOf(QLatin1Char(','));
    if (comma < 0)
        return {};
    const QByteArray payload = avatarData->mid(comma + 1).toLatin1();
    // Unpadded or otherwise malformed Base64 is refused rather than guessed at.
    if (payload.size() % 4 != 0)
        return {};
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(payload, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return {};
    return QImage::fromData(decoded.decoded);
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

// The scope pop-up: a rounded pill whose arrow is drawn here, in the title colour, so that it
// matches the pill at any pixel ratio (a style sheet would need image files for it).
class ScopePopUp : public QComboBox
{
public:
    using QComboBox::QComboBox;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QComboBox::paintEvent(event);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(rgba(0.18, 0.31, 0.26, 0.9), 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const QPointF centre(width() - 12.0, height() / 2.0 + 1.0);
        painter.drawPolyline(QList<QPointF>{centre + QPointF(-3.5, -2), centre + QPointF(0, 1.5),
                                            centre + QPointF(3.5, -2)});
    }
};

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
            [this](const QString &text, const std::optional<QColor> &color) { setStatus(text, color); });

    // A child of the panel: no tick can reach a panel that is gone.
    m_pollTimer = new QTimer(this);
    m_pollTimer->setObjectName(QStringLiteral("pollTimer"));
    m_pollTimer->setInterval(pollInterval);
    connect(m_pollTimer, &QTimer::timeout, this, &CompactInboxViewController::refresh);

    loadView();
}

void CompactInboxViewController::loadView()
{
    setPalette(lightPalette());
    setColour(this, QPalette::Window, rgba(0.975, 0.96, 0.925, 1.0));
    setAutoFillBackground(true);

    auto *outer = new QVBoxLayout(this);
    outer->setSpacing(7);
    outer->setContentsMargins(9, 8, 9, 8);
    outer->addWidget(buildHeader());
    outer->addWidget(buildControlRow());

    // The card list: a column that starts at the top and takes the panel's width.
    m_scrollArea = new QScrollArea(this);
    m_scrollArea->setObjectName(QStringLiteral("cardScroll"));
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The cards' slim scroller, so that the list and the texts inside it scroll alike.
    m_scrollArea->verticalScrollBar()->setStyle(SlimScrollBarStyle::instance());
    m_scrollArea->setWidgetResizable(true);
    auto *document = new FlippedReceiverView;
    m_cards = new QWidget(document);
    m_cards->setObjectName(QStringLiteral("cards"));
    m_cardsLayout = new QVBoxLayout(m_cards);
    m_cardsLayout->setContentsMargins(0, 0, 0, 0);
    m_cardsLayout->setSpacing(7);
    auto *documentLayout = new QVBoxLayout(document);
    documentLayout->setContentsMargins(0, 0, 0, 0);
    documentLayout->setSpacing(0);
    documentLayout->addWidget(m_cards);
    documentLayout->addStretch(1);
    m_scrollArea->setWidget(document);
    // No background of its own: the panel's colour shows through.
    document->setAutoFillBackground(false);
    m_scrollArea->viewport()->setAutoFillBackground(false);
    outer->addWidget(m_scrollArea, 1);

    // Polling starts with the view: one fetch now, then one per interval.
    refresh();
    m_pollTimer->start();
}

QWidget *CompactInboxViewController::buildHeader()
{
    auto *header = new QWidget(this);
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(5);
    // Leaves room for the window buttons of a title bar that the content reaches under.
    row->addSpacing(66);

    auto *title = new QLabel(QStringLiteral("最新内容"), header);
    title->setObjectName(QStringLiteral("title"));
    title->setTextFormat(Qt::PlainText);
    title->setFont(pixelFont(font(), 14, QFont::Bold));
    setColour(title, QPalette::WindowText, rgba(0.18, 0.31, 0.26, 1.0));
    row->addWidget(title, 0, Qt::AlignVCenter);
    row->addStretch(1);

    m_accountButton = new QPushButton(header);
    m_accountButton->setObjectName(QStringLiteral("accountButton"));
    m_accountButton->setFont(pixelFont(font(), 10));
    m_accountButton->setAutoDefault(false);
    m_accountButton->setStyleSheet(
        QStringLiteral("QPushButton { background-color: rgba(0,0,0,0.05); border: none; border-radius: 9px;"
                       " padding: 2px 8px; }"
                       "QPushButton:pressed { background-color: rgba(0,0,0,0.12); }"
                       "QPushButton:focus { border: 1px solid %1; }")
            .arg(css(rgba(0.18, 0.31, 0.26, 0.8))));
    // A long nickname is cut so that it cannot widen the panel; the whole one stays readable.
    const QString shown =
        m_accountButton->fontMetrics().elidedText(m_profile.nickname, Qt::ElideRight, accountTitleWidth);
    m_accountButton->setText(escapeMnemonic(shown));
    if (shown != m_profile.nickname)
        m_accountButton->setToolTip(Qt::convertFromPlainText(m_profile.nickname));
    m_accountButton->setAccessibleName(m_profile.nickname.isEmpty() ? QStringLiteral("账户") : m_profile.nickname);
    setAvatar();
    connect(m_accountButton, &QPushButton::clicked, this, &CompactInboxViewController::showAccountMenu);
    keepFocusOnClick(m_accountButton);
    row->addWidget(m_accountButton, 0, Qt::AlignVCenter);
    return header;
}

void CompactInboxViewController::setAvatar()
{
    const QImage image = avatarImage(m_profile.avatarData);
    if (image.isNull())
        return;
    // Drawn for the common pixel ratios and the current screen's, so that the icon stays sharp
    // wherever the window goes.
    QIcon icon;
    QList<qreal> ratios{1.0, 2.0};
    if (const QScreen *screen = QGuiApplication::primaryScreen(); screen && !ratios.contains(screen->devicePixelRatio()))
        ratios.append(screen->devicePixelRatio());
    for (const qreal ratio : ratios)
        icon.addPixmap(circularAvatarImage(image, avatarSize, ratio));
    m_accountButton->setIcon(icon);
    m_accountButton->setIconSize(QSize(avatarSize, avatarSize));
}

QWidget *CompactInboxViewController::buildControlRow()
{
    auto *controls = new QWidget(this);
    auto *row = new QHBoxLayout(controls);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(5);

    m_scopeButton = new ScopePopUp(controls);
    m_scopeButton->setObjectName(QStringLiteral("scopeButton"));
    m_scopeButton->setAccessibleName(QStringLiteral("空间"));
    m_scopeButton->addItems({allScope, personalScope});
    m_scopeButton->setCurrentIndex(0);
    m_scopeButton->setFixedHeight(switchHeight);
    m_scopeButton->setMaximumWidth(scopeMaxWidth);
    m_scopeButton->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_scopeButton->setStyleSheet(controlStyleSheet(QStringLiteral("QComboBox"), rgba(0.72, 0.91, 0.81, 0.92))
                                 + QStringLiteral("QComboBox { padding-right: 18px; }"
                                                  "QComboBox::drop-down { border: none; background: transparent;"
                                                  " width: 16px; }"));
    // Only a choice of the user changes the scope; rebuilding the items does not.
    connect(m_scopeButton, &QComboBox::activated, this, &CompactInboxViewController::changeScope);
    keepFocusOnClick(m_scopeButton);
    row->addWidget(m_scopeButton, 0, Qt::AlignVCenter);

    m_status = new ElidedLabel(QStringLiteral("连接中"), controls);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setFont(pixelFont(font(), 9, QFont::Medium));
    m_status->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setColour(m_status, QPalette::WindowText, m_statusColor);
    row->addWidget(m_status, 1, Qt::AlignVCenter);

    m_autoPasteButton = new QPushButton(controls);
    m_autoPasteButton->setObjectName(QStringLiteral("autoPasteButton"));
    m_autoPasteButton->setCheckable(true);
    m_autoPasteButton->setAutoDefault(false);
    m_autoPasteButton->setFixedHeight(switchHeight);
    // Acts on the state, whatever changed it: a click, Space, or an assistive tool's "toggle".
    connect(m_autoPasteButton, &QPushButton::toggled, this, [this](bool on) {
        if (on != m_autoPasteEnabled)
            toggleAutoPaste();
    });
    keepFocusOnClick(m_autoPasteButton);
    updateAutoPasteLook();
    row->addWidget(m_autoPasteButton, 0, Qt::AlignVCenter);

    m_pinButton = new QPushButton(controls);
    m_pinButton->setObjectName(QStringLiteral("pinButton"));
    m_pinButton->setCheckable(true);
    m_pinButton->setAutoDefault(false);
    m_pinButton->setFixedHeight(switchHeight);
    connect(m_pinButton, &QPushButton::toggled, this, [this](bool on) {
        if (on != m_pinned)
            togglePin();
    });
    keepFocusOnClick(m_pinButton);
    updatePinLook();
    row->addWidget(m_pinButton, 0, Qt::AlignVCenter);
    return controls;
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
    setStatus(QStringLiteral("● 已同步"), syncedColor());

    const QString newSignature = signature(clips);
    if (newSignature == m_lastSignature)
        return true;
    // The user is typing in a card: keep it; the next poll after editing brings the change.
    if (isEditingCard())
        return false;

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
    for (const QPointer<ReceiverCardView> &card : std::as_const(m_cardViews))
        delete card.data();
    m_cardViews.clear();
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
    } else {
        const QPointer<CompactInboxViewController> panel(this);
        for (const Clip &clip : std::as_const(shown)) {
            auto *card = new ReceiverCardView(
                clip, m_api, clip.id == m_highlightedClipID,
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
            m_cardsLayout->addWidget(card);
            m_cardViews.append(card);
        }
    }
    m_cards->setUpdatesEnabled(true);
}

bool CompactInboxViewController::paste(const QString &text)
{
    return m_delivery->paste(text);
}

bool CompactInboxViewController::isEditingCard() const
{
    return std::any_of(m_cardViews.cbegin(), m_cardViews.cend(),
                       [](const QPointer<ReceiverCardView> &card) { return card && card->isEditing(); });
}

void CompactInboxViewController::setStatus(const QString &text, const std::optional<QColor> &color)
{
    m_status->setText(oneLine(text));
    m_status->setAccessibleName(m_status->text());
    m_status->setToolTip(m_status->isElided() ? Qt::convertFromPlainText(text) : QString());
    if (color) {
        m_statusColor = *color;
        setColour(m_status, QPalette::WindowText, m_statusColor);
    }
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
    if (m_onTogglePin)
        m_onTogglePin(m_pinned);
}

void CompactInboxViewController::updatePinLook()
{
    const QString title = m_pinned ? QStringLiteral("取消悬浮") : QStringLiteral("悬浮");
    m_pinButton->setText(title);
    m_pinButton->setAccessibleName(title);
    m_pinButton->setChecked(m_pinned);
    m_pinButton->setStyleSheet(controlStyleSheet(
        QStringLiteral("QPushButton"), m_pinned ? rgba(0.34, 0.61, 1.0, 1.0) : rgba(0.67, 0.82, 1.0, 0.9)));
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

void CompactInboxViewController::updateAutoPasteLook()
{
    const QString title = m_autoPasteEnabled ? QStringLiteral("同步输入中") : QStringLiteral("同步输入");
    m_autoPasteButton->setText(title);
    m_autoPasteButton->setAccessibleName(title);
    m_autoPasteButton->setStyleSheet(controlStyleSheet(
        QStringLiteral("QPushButton"), m_autoPasteEnabled ? rgba(1.0, 0.52, 0.2, 1.0) : rgba(1.0, 0.73, 0.43, 0.9)));
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
