#include "inbox/ClipRowDelegate.h"

#include "inbox/ClipListModel.h"
#include "platform/SystemColors.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

namespace quillpost {

namespace {

QString oneLine(QString text)
{
    for (QChar &c : text) {
        if (c == u'\n' || c == u'\r' || c == u'\t' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return text;
}

// Long clips are cut before measuring: a row shows far fewer characters than this.
QString elided(const QString &text, const QFont &font, int width)
{
    qsizetype measured = 400;
    if (text.size() > measured && text.at(measured - 1).isHighSurrogate())
        --measured;
    return QFontMetrics(font).elidedText(oneLine(text.left(measured)), Qt::ElideRight, std::max(width, 0));
}

int textWidth(int rowWidth)
{
    return rowWidth - 2 * ClipRowDelegate::horizontalInset;
}

} // namespace

QFont ClipRowDelegate::titleFont(const QFont &base)
{
    QFont font = base;
    font.setPixelSize(13);
    font.setWeight(QFont::DemiBold);
    return font;
}

QFont ClipRowDelegate::previewFont(const QFont &base)
{
    QFont font = base;
    font.setPixelSize(11);
    font.setWeight(QFont::Normal);
    return font;
}

QString ClipRowDelegate::displayedTitle(const QModelIndex &index, const QFont &base, int rowWidth)
{
    return elided(index.data(Qt::DisplayRole).toString(), titleFont(base), textWidth(rowWidth));
}

QString ClipRowDelegate::displayedPreview(const QModelIndex &index, const QFont &base, int rowWidth)
{
    return elided(index.data(ClipListModel::PreviewRole).toString(), previewFont(base), textWidth(rowWidth));
}

void ClipRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    // Selection highlight, hover and focus frame, as the style draws them for any item.
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    const QFont title = titleFont(option.font);
    const QFont preview = previewFont(option.font);
    const int titleHeight = QFontMetrics(title).height();
    const int previewHeight = QFontMetrics(preview).height();
    const int top = option.rect.top() + (option.rect.height() - titleHeight - lineSpacing - previewHeight) / 2;
    const int left = option.rect.left() + horizontalInset;
    const int width = textWidth(option.rect.width());

    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
    QColor titleColor = selected ? option.palette.color(group, QPalette::HighlightedText) : SystemColors::label();
    QColor previewColor = selected ? option.palette.color(group, QPalette::HighlightedText)
                                   : SystemColors::secondaryLabel();
    if (selected)
        previewColor.setAlphaF(0.75f);

    painter->save();
    painter->setFont(title);
    painter->setPen(titleColor);
    painter->drawText(QRect(left, top, width, titleHeight), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      displayedTitle(index, option.font, option.rect.width()));
    painter->setFont(preview);
    painter->setPen(previewColor);
    painter->drawText(QRect(left, top + titleHeight + lineSpacing, width, previewHeight),
                      Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      displayedPreview(index, option.font, option.rect.width()));
    painter->restore();
}

QSize ClipRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return QSize(option.rect.width(), rowHeight);
}

} // namespace quillpost
