// Cost of one resize step of the real panel (two high-quality rescales of the art, twelve clips, fifteen
// widgets placed, the size word written) into its largest (452 x 696) and smallest (226 x 348) size, and
// into 451 x 694, one step below the largest, where both pictures are really resampled (at the art's own
// sizes the framework hands back the decoded art). The interface is plugged in, so every widget is
// shown. The uncached variant makes the framework's image cache drop every picture nobody holds before
// each step, as happens once the window has rested a while (the panel holds its decoded art, so the step
// should cost what the cached one does). Standard error (a size word per step) goes to /dev/null, as the
// results are written to standard output.

#include "BenchmarkPanel.h"

#include <benchmark/benchmark.h>

namespace
{
BenchmarkPanel* world = nullptr;

const std::pair<int, int> panelSizes[] = {{452, 696}, {226, 348}, {451, 694}};

// One step of a drag: from a size a few pixels smaller to the measured size. With the second argument 1
// the image cache first drops the decoded art (the panel holds rescaled copies only at that other size).
void BM_PanelResize(benchmark::State& state)
{
    auto& panel = *world->panel;
    const auto [w, h] = panelSizes[state.range(0)];
    const bool artNotCached = state.range(1) != 0;

    for (auto _ : state)
    {
        state.PauseTiming();
        panel.setSize(w - 2, h - 3);
        if (artNotCached)
            juce::ImageCache::releaseUnusedImages();
        state.ResumeTiming();
        panel.setSize(w, h);
    }

    state.SetLabel(std::to_string(w) + "x" + std::to_string(h) + (artNotCached ? ", art not cached" : ""));
}

BENCHMARK(BM_PanelResize)
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->ArgNames({"size", "uncached"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(100);
} // namespace

int main(int argc, char** argv)
{
    return runPanelBenchmarks(argc, argv, world);
}
