// Applying a poll of 50 clips to the inbox window and painting it, on the offscreen platform.
// Budget: under 5 ms per poll, so that a poll every 3 s never makes the window stutter.
//   QT_QPA_PLATFORM=offscreen build/bench/inbox/bench_inbox

#include "inbox/AlertSound.h"
#include "inbox/InboxViewController.h"
#include "platform/Platform.h"
#include "platform/SecretStore.h"
#include "service/APIClient.h"

#include <QApplication>
#include <QImage>
#include <QTimer>

#include <benchmark/benchmark.h>

using namespace quillpost;

namespace {

struct Silent final : AlertSound, SecretStore
{
    void play() override {}
    void read(const QObject *, std::function<void(std::optional<QString>)>) override {}
    void save(const QString &, const QObject *, std::function<void(bool)>) override {}
    void remove() override {}
};

struct NoDesktop final : Pasteboard, Accessibility
{
    void setText(const QString &) override {}
    void setSelectionText(const QString &) override {}
    quint64 changeCount() const override { return 0; }
    bool isTrusted() const override { return false; }
    void requestTrust() override {}
};

class NoWorkspace final : public Workspace
{
public:
    std::optional<QString> ownIdentifier() const override { return std::nullopt; }
    bool isTerminated(const RunningApplication &) const override { return true; }
    void activate(const RunningApplication &) override {}
};

class NoKeystroke final : public Keystroke
{
protected:
    void post(const RunningApplication &, PasteChord, BeforeKeys, Completion report) override { report(KeystrokeResult::Unavailable); }
};

QList<Clip> poll(int generation)
{
    QList<Clip> clips;
    for (int i = 0; i < 50; ++i) {
        Clip clip;
        // Every generation brings a new clip at the top, so that the rows shift by one.
        clip.id = QStringLiteral("clip-%1").arg(generation + 50 - i);
        clip.title = QStringLiteral("第 %1 条内容的标题").arg(clip.id);
        clip.rawText = QStringLiteral("原始文本，稍长一些，用来占满两三行的编辑区域。\n第二行。").repeated(4);
        clip.optimizedText = i % 4 == 0 ? QString() : QStringLiteral("优化后的文本，稍长一些。").repeated(3);
        clip.updatedAt = QString::number(generation);
        clips << clip;
    }
    return clips;
}

void run(benchmark::State &state, bool newClipEachPoll)
{
    Silent silent;
    NoDesktop desktop;
    NoWorkspace workspace;
    NoKeystroke keystroke;
    APIClient api(QUrl(QStringLiteral("http://127.0.0.1:9")), std::nullopt);
    InboxViewController inbox(&api, Profile{}, Platform{&desktop, &workspace, &desktop, &keystroke}, &silent,
                              &silent, [] {});
    inbox.pollTimer()->stop();
    inbox.resize(900, 560);
    inbox.show();
    QImage canvas(inbox.size() * inbox.devicePixelRatio(), QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(inbox.devicePixelRatio());

    int generation = 0;
    for (auto _ : state) {
        inbox.applyClips(poll(newClipEachPoll ? ++generation : generation));
        inbox.render(&canvas);
    }
}

void BM_PollWithNewClip(benchmark::State &state)
{
    run(state, true);
}
BENCHMARK(BM_PollWithNewClip)->Unit(benchmark::kMillisecond);

void BM_PollUnchanged(benchmark::State &state)
{
    run(state, false);
}
BENCHMARK(BM_PollUnchanged)->Unit(benchmark::kMillisecond);

} // namespace
