#pragma once

#include "service/Records.h"

#include <QAbstractListModel>
#include <QList>

namespace quillpost {

// The inbox window's clips as a one-column list: one row per clip, in service order.
//
// Qt::DisplayRole is the clip's title as it is (an empty title gives an empty row title);
// PreviewRole is the optimized text when it is not empty, else the raw text. Both are plain
// text, never markup. The accessible text of a row names both.
class ClipListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role {
        PreviewRole = Qt::UserRole + 1,
        IdRole,
    };

    using QAbstractListModel::QAbstractListModel;

    // The preview line of a clip.
    static QString previewText(const Clip &clip);

    const QList<Clip> &clips() const { return m_clips; }

    // Replaces every row. When the new list has the same ids in the same order, the rows are
    // only updated (selection and scroll position stay as they are); otherwise the model resets.
    void setClips(const QList<Clip> &clips);
    // Replaces one row's clip.
    void setClip(int row, const Clip &clip);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    QList<Clip> m_clips;
};

} // namespace quillpost
