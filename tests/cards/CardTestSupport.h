#pragma once

#include "cards/ElidedLabel.h"
#include "cards/ReceiverCardView.h"
#include "platform/SystemColors.h"
#include "widgets/SafePlainTextEdit.h"

#include <QPushButton>
#include <QTest>

#include <memory>

namespace quillpost {

// A clip of the card tests; its raw text is "原始".
inline Clip makeClip(const QString &optimizedText, const QString &title = QStringLiteral("会议纪要"),
                     const QString &space = {}, const QString &colour = {})
{
    return Clip::fromJson({{"id", "clip-1"}, {"title", title}, {"rawText", "原始"}, {"optimizedText", optimizedText},
                           {"collaborationName", space}, {"collaborationColor", colour}});
}

// Everything a card tells its panel, in order.
struct CardCalls { QStringList pasted, sources; QList<QPair<QString, QColor>> messages; };

// A card and what it tells its panel. The callbacks keep the calls alive, so they may run after
// the test has dropped the card.
inline auto makeCard(const Clip &clip, APIClient *api = nullptr, bool highlight = false)
{
    const auto calls = std::make_shared<CardCalls>();
    auto card = std::make_unique<ReceiverCardView>(clip, api, highlight, [calls](QString text) { calls->pasted << text; },
        [calls](QString source) { calls->sources << source; },
        [calls](QString text, QColor color) { calls->messages << qMakePair(text, color); });
    return std::pair(std::move(card), calls);
}

} // namespace quillpost
