// Time from PasteDelivery::paste() to the text arriving in a text field of another process, on a
// real X session: the 0.42 s keystroke delay plus activation, the keystroke and the clipboard
// transfer. The counter "beyond_delay_ms" is the part after the delay.
#include "PasteTargetProcess.h"

#include "delivery/PasteDelivery.h"
#include "platform/x11/X11Platform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <cstdio>

using namespace quillpost;

namespace {

void deliveryLatency(benchmark::State &state)
{
    X11Platform platform;
    PasteDelivery delivery(platform.platform());
    PasteTargetProcess target;
    if (!target.start()) {
        state.SkipWithError("the paste target did not start");
        return;
    }
    platform.workspace()->activate(RunningApplication{target.windowId, target.pid, std::nullopt});
    if (!PasteTargetProcess::waitFor([&] { return delivery.lastExternalApp().has_value(); }, 5000)) {
        state.SkipWithError("the target never became active");
        return;
    }
    // Our own window in front, as when the user clicks a card's paste button.
    QWidget panel;
    panel.resize(200, 100);
    panel.show();
    panel.activateWindow();
    PasteTargetProcess::waitFor([&] { return panel.isActiveWindow(); }, 5000);

    double beyondDelay = 0;
    int round = 0;
    for (auto _ : state) {
        const QString text = QStringLiteral("第 %1 次 delivery\n").arg(++round);
        QElapsedTimer clock;
        clock.start();
        delivery.paste(text);
        if (!PasteTargetProcess::waitFor([&] { return target.text.endsWith(text); }, 5000)) {
            state.SkipWithError("the text did not arrive");
            return;
        }
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        state.SetIterationTime(seconds);
        beyondDelay += seconds * 1000 - double(delivery.options().keystrokeDelay.count());
        panel.activateWindow();
        PasteTargetProcess::waitFor([&] { return panel.isActiveWindow(); }, 5000);
    }
    state.counters["beyond_delay_ms"] = benchmark::Counter(beyondDelay / double(state.iterations()));
}

} // namespace

BENCHMARK(deliveryLatency)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fputs("bench_delivery needs an X session: run it under scripts/headless-session\n", stderr);
        return 1;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillpost"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
