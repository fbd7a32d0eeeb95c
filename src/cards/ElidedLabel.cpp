#include "cards/ElidedLabel.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QStyle>
#include <QTextDocument>

#include <algorithm>
#include <cmath>

namespace quillpost {

namespace {

QString oneLine(QString text)
{
    for (QChar &c : text) {
        if (c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return text;
}

} // namespace

ElidedLabel::ElidedLabel(const QString &text, QWidget *parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setText(oneLine(text));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QString ElidedLabel::displayedText() const
{
    // A text that fits, as most do, needs no eliding: its width is measured once, not laid out
    // again at every paint.
    const int width = contentsRect().width();
    if (textWidth() <= width)
        return text();
    return fontMetrics().elidedText(text(), Qt::ElideRight, width);
}

int ElidedLabel::textWidth() const
{
    if (m_measuredWidth < 0 || m_measuredText != text()) {
        m_measuredText = text();
        // Text is laid out in fractions of a pixel, and eliding compares that exact width with
        // the label's; QFontMetrics rounds to the nearest pixel, which is often too little.
        m_measuredWidth = int(std::ceil(QFontMetricsF(font()).horizontalAdvance(m_measuredText)));
    }
    return m_measuredWidth;
}

QSize ElidedLabel::sizeHint() const
{
    const QMargins margins = contentsMargins();
    return QSize(textWidth() + margins.left() + margins.right(),
                 fontMetrics().height() + margins.top() + margins.bottom());
}

void ElidedLabel::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        m_measuredWidth = -1;
    QLabel::changeEvent(event);
}

QSize ElidedLabel::minimumSizeHint() const
{
    // Wide enough for the ellipsis alone; the layout may give less when the row is tiny.
    const QSize hint = sizeHint();
    const int ellipsis = int(std::ceil(QFontMetricsF(font()).horizontalAdvance(u'…')));
    return QSize(std::min(hint.width(), ellipsis), hint.height());
}

void ElidedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), int(alignment()) | Qt::TextSingleLine, palette(), isEnabled(),
                          displayedText(), foregroundRole());
}

void ElidedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    // Converted, so that a title that looks like markup is shown as it is.
    setToolTip(isElided() ? Qt::convertFromPlainText(text()) : QString());
}

} // namespace quillpost
