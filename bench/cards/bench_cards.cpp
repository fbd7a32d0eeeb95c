// Building and laying out a full card list (30 cards, the most the panel shows) on the
// offscreen platform. Budget: under 10 ms per list.
//   QT_QPA_PLATFORM=offscreen build/bench/cards/bench_cards

#include "cards/FlippedReceiverView.h"
#include "cards/ReceiverCardView.h"

#include <QApplication>
#include <QScrollArea>
#include <QVBoxLayout>

#include <benchmark/benchmark.h>

using namespace quillpost;

namespace {

QList<Clip> sampleClips()
{
    QList<Clip> clips;
    for (int i = 0; i < 30; ++i) {
        Clip clip;
        clip.id = QStringLiteral("clip-%1").arg(i);
        clip.title = QStringLiteral("第 %1 条内容的标题").arg(i);
        clip.rawText = QStringLiteral("原始文本，稍长一些，用来占满两三行的编辑区域。").repeated(2);
        clip.optimizedText = i % 4 == 0 ? QString() : QStringLiteral("优化后的文本，稍长一些，用来占满两三行。");
        if (i % 3 == 0) {
            clip.collaborationName = QStringLiteral("产品组");
            clip.collaborationColor = QStringLiteral("#3366CC");
        }
        clip.canEdit = i % 5 != 0;
        clips << clip;
    }
    return clips;
}

void BM_BuildAndLayOutThirtyCards(benchmark::State &state)
{
    const QList<Clip> clips = sampleClips();
    QScrollArea list;
    list.setWidgetResizable(true);
    list.resize(330, 230);
    list.show();

    for (auto _ : state) {
        auto *document = new FlippedReceiverView;
        auto *cards = new QVBoxLayout(document);
        cards->setSpacing(7);
        cards->setContentsMargins(0, 0, 0, 0);
        for (int i = 0; i < clips.size(); ++i) {
            cards->addWidget(new ReceiverCardView(
                clips.at(i), nullptr, i == 0, [](QString) {}, [](QString) {}, [](QString, QColor) {}, document));
        }
        cards->addStretch(1);
        list.setWidget(document);
        cards->activate();
        benchmark::DoNotOptimize(document->height());

        // Between two renders the panel returns to the event loop, which paints the list; the
        // old list goes before the next one is built. Neither is part of the measurement.
        state.PauseTiming();
        QCoreApplication::processEvents();
        delete list.takeWidget();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_BuildAndLayOutThirtyCards)->Unit(benchmark::kMillisecond);

} // namespace
