#pragma once

#include "cards/ReceiverCardView.h"
#include "service/Records.h"

#include <QColor>
#include <QList>
#include <QPair>
#include <QString>

#include <memory>

namespace quillpost::test {

inline Clip makeClip(const QString &optimizedText, const QString &rawText)
{
    Clip clip;
    clip.id = QStringLiteral("clip-1");
    clip.title = QStringLiteral("会议纪要");
    clip.optimizedText = optimizedText;
    clip.rawText = rawText;
    return clip;
}

// Everything a card tells its panel, in order.
struct CardCalls
{
    QStringList pasted;
    QStringList sources;
    QList<QPair<QString, QColor>> messages;
};

// A card whose callbacks write into `calls`; the callbacks keep `calls` alive, so they may run
// after the test has dropped the card.
inline std::unique_ptr<ReceiverCardView> makeCard(const Clip &clip, const std::shared_ptr<CardCalls> &calls,
                                                  APIClient *api = nullptr, bool highlight = false)
{
    return std::make_unique<ReceiverCardView>(
        clip, api, highlight, [calls](QString text) { calls->pasted << text; },
        [calls](QString source) { calls->sources << source; },
        [calls](QString text, QColor color) { calls->messages << qMakePair(text, color); });
}

} // namespace quillpost::test
