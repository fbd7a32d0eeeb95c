// The receiver panel's handling of one poll reply of 50 clips, from the reply's bytes to the
// status line, on the offscreen platform:
//  - unchanged reply (same signature): budget 1 ms of CPU;
//  - changed reply that rebuilds the 30 cards and lays them out: budget 16 ms.
//   build/bench/receiver/bench_panel

#include "fakes/FakePlatform.h"
#include "platform/SecretStore.h"
#include "receiver/CompactInboxViewController.h"
#include "service/APIClient.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <benchmark/benchmark.h>

using namespace quillpost;

namespace {

class NoSecretStore final : public SecretStore
{
public:
    void read(const QObject *, std::function<void(std::optional<QString>)>) override {}
    void save(const QString &, const QObject *, std::function<void(bool)>) override {}
    void remove() override {}
};

// 50 clips as the service sends them; `stamp` goes into every updatedAt.
QByteArray replyBytes(int stamp)
{
    QJsonArray clips;
    for (int i = 0; i < 50; ++i) {
        Clip clip;
        clip.id = QStringLiteral("clip-%1").arg(i);
        clip.title = QStringLiteral("第 %1 条内容的标题").arg(i);
        clip.rawText = QStringLiteral("原始文本，稍长一些，用来占满两三行的编辑区域。").repeated(2);
        clip.optimizedText = QStringLiteral("优化后的文本，稍长一些，用来占满两三行。");
        clip.updatedAt = QStringLiteral("2024-05-01T10:%1:00Z").arg(stamp % 60, 2, 10, QLatin1Char('0'));
        if (i % 3 == 0) {
            clip.collaborationName = QStringLiteral("产品组");
            clip.collaborationColor = QStringLiteral("#3366CC");
        }
        clips.append(clip.toJson());
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("clips"), clips}}).toJson(QJsonDocument::Compact);
}

// A shown panel whose own polling is stopped; replies are handed to it directly.
struct Panel
{
    test::FakePlatform fake;
    NoSecretStore store;
    APIClient api{QUrl(QStringLiteral("http://127.0.0.1:9")), QStringLiteral("token")};
    CompactInboxViewController panel{&api, Profile{}, fake.platform(), &store, [](bool) {}, [] {}};

    Panel()
    {
        panel.pollTimer()->stop();
        panel.resize(330, 430);
        panel.show();
        QCoreApplication::processEvents();
    }

    void handle(const QByteArray &bytes) { panel.handleClips(decodeReply<ClipList>(bytes).clips); }
};

void BM_UnchangedReply(benchmark::State &state)
{
    Panel p;
    const QByteArray bytes = replyBytes(0);
    p.handle(bytes);
    for (auto _ : state) {
        p.handle(bytes);
        benchmark::DoNotOptimize(p.panel.statusText());
    }
}
BENCHMARK(BM_UnchangedReply)->Unit(benchmark::kMicrosecond);

void BM_ChangedReplyRebuildsCards(benchmark::State &state)
{
    Panel p;
    const QByteArray replies[2] = {replyBytes(0), replyBytes(1)};
    p.handle(replies[1]);
    int next = 0;
    for (auto _ : state) {
        p.handle(replies[next]);
        // The new cards are laid out as the event loop would before painting.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        benchmark::DoNotOptimize(p.panel.cards().size());
        next = 1 - next;

        // Painting and the cards' deferred work happen between polls, not in the reply.
        state.PauseTiming();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ChangedReplyRebuildsCards)->Unit(benchmark::kMillisecond);

} // namespace
