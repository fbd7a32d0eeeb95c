// The receiver panel's widget tree and the looks of its controls; its state, polling and
// commands are in CompactInboxViewController.cpp.
#include "receiver/CompactInboxViewController.h"
#include "receiver/PanelText.h"

#include "widgets/Styling.h"

#include "cards/CardWidgets.h"
#include "cards/CircularAvatar.h"
#include "cards/ElidedLabel.h"
#include "cards/FlippedReceiverView.h"
#include "platform/SystemColors.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace quillpost {

using namespace panel;

namespace {

using SystemColors::rgba;

constexpr int avatarSize = 20;
constexpr int switchHeight = 25;
constexpr int accountTitleWidth = 120;
constexpr int scopeMaxWidth = 120;

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

// An on/off switch of the control row; its look is set by the panel from its state.
QPushButton *makeSwitch(const QString &objectName, QWidget *parent)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(objectName);
    button->setCheckable(true);
    button->setAutoDefault(false);
    button->setFixedHeight(switchHeight);
    keepFocusOnClick(button);
    return button;
}

} // namespace

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
    m_status->installEventFilter(this);
    row->addWidget(m_status, 1, Qt::AlignVCenter);

    // The switches act on their state, whatever changed it: a click, Space, or an assistive
    // tool's "toggle", which emits no click.
    m_autoPasteButton = makeSwitch(QStringLiteral("autoPasteButton"), controls);
    connect(m_autoPasteButton, &QPushButton::toggled, this, [this](bool on) {
        if (on != m_autoPasteEnabled)
            toggleAutoPaste();
    });
    updateAutoPasteLook();
    row->addWidget(m_autoPasteButton, 0, Qt::AlignVCenter);

    m_pinButton = makeSwitch(QStringLiteral("pinButton"), controls);
    connect(m_pinButton, &QPushButton::toggled, this, [this](bool on) {
        if (on != m_pinned)
            togglePin();
    });
    updatePinLook();
    row->addWidget(m_pinButton, 0, Qt::AlignVCenter);
    return controls;
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

void CompactInboxViewController::updateAutoPasteLook()
{
    const QString title = m_autoPasteEnabled ? QStringLiteral("同步输入中") : QStringLiteral("同步输入");
    m_autoPasteButton->setText(title);
    m_autoPasteButton->setAccessibleName(title);
    m_autoPasteButton->setStyleSheet(controlStyleSheet(
        QStringLiteral("QPushButton"), m_autoPasteEnabled ? rgba(1.0, 0.52, 0.2, 1.0) : rgba(1.0, 0.73, 0.43, 0.9)));
}

} // namespace quillpost
