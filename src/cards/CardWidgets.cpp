#include "cards/CardWidgets.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPointer>
#include <QStyleOptionSlider>

#include <algorithm>

namespace quillpost {

RoundedPanel::RoundedPanel(QColor fill, std::optional<QColor> border, qreal radius, QWidget *parent)
    : QWidget(parent)
    , m_fill(fill)
    , m_border(border)
    , m_radius(radius)
{
}

void RoundedPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_border) {
        // The border's centre line runs half a pixel inside the edge, so the line is crisp.
        painter.setPen(QPen(*m_border, 1));
        painter.setBrush(m_fill);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), m_radius - 0.5, m_radius - 0.5);
    } else {
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_fill);
        painter.drawRoundedRect(QRectF(rect()), m_radius, m_radius);
    }
}

CardButton::CardButton(const QString &title, const Look &look, QWidget *parent)
    : QPushButton(title, parent)
    , m_look(look)
{
    QFont font = this->font();
    font.setPixelSize(look.pixelSize);
    font.setWeight(look.weight);
    setFont(font);
    setFlat(true);
    setFixedHeight(height);
    // A click leaves the keyboard focus where it was (in the editor); Tab still reaches it.
    setFocusPolicy(Qt::TabFocus);
}

QColor CardButton::currentBackground() const
{
    return isChecked() ? m_look.checkedBackground : m_look.background;
}

QSize CardButton::sizeHint() const
{
    if (m_measuredWidth < 0 || m_measuredText != text()) {
        m_measuredText = text();
        m_measuredWidth = fontMetrics().horizontalAdvance(m_measuredText);
    }
    return QSize(m_measuredWidth + 16, height);
}

void CardButton::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        m_measuredWidth = -1;
    QPushButton::changeEvent(event);
}

QSize CardButton::minimumSizeHint() const
{
    return sizeHint();
}

void CardButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const QColor background = isDown() ? currentBackground().darker(112) : currentBackground();
    QColor ring = m_look.title;
    ring.setAlphaF(0.5f);
    painter.setPen(hasFocus() ? QPen(ring, 1) : QPen(Qt::NoPen));
    painter.setBrush(background);
    painter.drawRoundedRect(box, radius - 0.5, radius - 0.5);

    QColor title = m_look.title;
    if (!isEnabled())
        title.setAlphaF(title.alphaF() * 0.45f);
    painter.setPen(title);
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
}

namespace {

constexpr int scrollBarWidth = 8;
constexpr int minimumHandle = 14;
// The handle keeps clear of the text area's rounded corners and its right edge.
constexpr QMargins grooveMargins(0, 5, 2, 5);

} // namespace

SlimScrollBarStyle *SlimScrollBarStyle::instance()
{
    static QPointer<SlimScrollBarStyle> shared;
    if (!shared) {
        shared = new SlimScrollBarStyle;
        shared->setParent(qApp);
    }
    return shared;
}

int SlimScrollBarStyle::pixelMetric(PixelMetric metric, const QStyleOption *option, const QWidget *widget) const
{
    if (metric == PM_ScrollBarExtent)
        return scrollBarWidth;
    if (metric == PM_ScrollBarSliderMin)
        return minimumHandle;
    return QProxyStyle::pixelMetric(metric, option, widget);
}

QRect SlimScrollBarStyle::subControlRect(ComplexControl control, const QStyleOptionComplex *option,
                                         SubControl subControl, const QWidget *widget) const
{
    const auto *bar = qstyleoption_cast<const QStyleOptionSlider *>(option);
    if (control != CC_ScrollBar || !bar || bar->orientation != Qt::Vertical)
        return QProxyStyle::subControlRect(control, option, subControl, widget);

    const QRect groove = bar->rect.marginsRemoved(grooveMargins);
    const int range = bar->maximum - bar->minimum;
    const int length = range <= 0 ? groove.height()
                                  : std::clamp(int(qint64(groove.height()) * bar->pageStep / (range + bar->pageStep)),
                                               std::min(minimumHandle, groove.height()), groove.height());
    const int offset = sliderPositionFromValue(bar->minimum, bar->maximum, bar->sliderPosition,
                                               groove.height() - length, bar->upsideDown);
    const QRect handle(groove.left(), groove.top() + offset, groove.width(), length);
    switch (subControl) {
    case SC_ScrollBarGroove:
        return groove;
    case SC_ScrollBarSlider:
        return handle;
    case SC_ScrollBarSubPage:
        return QRect(groove.left(), groove.top(), groove.width(), offset);
    case SC_ScrollBarAddPage:
        return QRect(groove.left(), handle.bottom() + 1, groove.width(), groove.bottom() - handle.bottom());
    default:
        // No arrow buttons.
        return {};
    }
}

void SlimScrollBarStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
                                            QPainter *painter, const QWidget *widget) const
{
    const auto *bar = qstyleoption_cast<const QStyleOptionSlider *>(option);
    if (control != CC_ScrollBar || !bar || bar->orientation != Qt::Vertical) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    if (bar->maximum <= bar->minimum)
        return;
    const bool hovered = (bar->state & State_MouseOver) && (bar->activeSubControls & SC_ScrollBarSlider);
    const bool dragged = (bar->state & State_Sunken) && (bar->activeSubControls & SC_ScrollBarSlider);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor(0, 0, 0, hovered || dragged ? 90 : 56));
    painter->drawRoundedRect(QRectF(subControlRect(control, option, SC_ScrollBarSlider, widget)), 3, 3);
    painter->restore();
}

} // namespace quillpost
