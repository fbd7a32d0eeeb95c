#include "cards/ElidedLabel.h"

#include <QPainter>
#include <QStyle>
#include <QTextDocument>

#include <algorithm>

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
    setAccessibleName(this->text());
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QString ElidedLabel::displayedText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
}

QSize ElidedLabel::sizeHint() const
{
    const QFontMetrics metrics = fontMetrics();
    const QMargins margins = contentsMargins();
    return QSize(metrics.horizontalAdvance(text()) + margins.left() + margins.right(),
                 metrics.height() + margins.top() + margins.bottom());
}

QSize ElidedLabel::minimumSizeHint() const
{
    // Wide enough for the ellipsis alone; the layout may give less when the row is tiny.
    const QSize hint = sizeHint();
    return QSize(std::min(hint.width(), fontMetrics().horizontalAdvance(QStringLiteral("…"))), hint.height());
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
