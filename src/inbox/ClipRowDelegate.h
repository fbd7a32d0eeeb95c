#pragma once

#include <QStyledItemDelegate>

namespace quillpost {

// Draws one row of the inbox window's clip list, 58 high: the clip's title (13 px, semibold) over
// its preview (11 px, secondary colour), each on one line and cut at the tail with "…", 9 px
// from the row's left and right edges, 4 px apart, the pair centred vertically. Texts are drawn
// as plain text; line breaks show as spaces.
class ClipRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static constexpr int rowHeight = 58;
    static constexpr int horizontalInset = 9;
    static constexpr int lineSpacing = 4;

    using QStyledItemDelegate::QStyledItemDelegate;

    static QFont titleFont(const QFont &base);
    static QFont previewFont(const QFont &base);
    // The two lines as they are drawn into a row of the given width.
    static QString displayedTitle(const QModelIndex &index, const QFont &base, int rowWidth);
    static QString displayedPreview(const QModelIndex &index, const QFont &base, int rowWidth);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

} // namespace quillpost
