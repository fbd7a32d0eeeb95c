#include "inbox/ClipListModel.h"

#include <algorithm>

namespace quillpost {

QString ClipListModel::previewText(const Clip &clip)
{
    return clip.optimizedText.isEmpty() ? clip.rawText : clip.optimizedText;
}

void ClipListModel::setClips(const QList<Clip> &clips)
{
    const bool sameRows = std::equal(m_clips.cbegin(), m_clips.cend(), clips.cbegin(), clips.cend(),
                                     [](const Clip &a, const Clip &b) { return a.id == b.id; });
    if (!sameRows) {
        beginResetModel();
        m_clips = clips;
        endResetModel();
        return;
    }
    if (m_clips == clips)
        return;
    m_clips = clips;
    emit dataChanged(index(0), index(int(m_clips.size()) - 1));
}

void ClipListModel::setClip(int row, const Clip &clip)
{
    if (row < 0 || row >= m_clips.size())
        return;
    m_clips[row] = clip;
    emit dataChanged(index(row), index(row));
}

int ClipListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_clips.size());
}

QVariant ClipListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Clip &clip = m_clips.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return clip.title;
    case PreviewRole:
        return previewText(clip);
    case IdRole:
        return clip.id;
    case Qt::AccessibleTextRole:
        return clip.title.isEmpty() ? previewText(clip) : clip.title + QStringLiteral("，") + previewText(clip);
    default:
        return {};
    }
}

} // namespace quillpost
