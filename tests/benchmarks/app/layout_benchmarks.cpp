// Cost of one resize step of the real panel (two high-quality rescales of the art, twelve clips, fifteen
// widgets placed, the size word written) into its largest (452 x 696) and smallest (226 x 348) size, and
// into 451 x 694, one step below the largest, where both pictures are really resampled (at the art's own
// sizes the framework hands back the decoded art). The interface is plugged in, so every widget is
// shown. The second benchmark makes the framework's image cache drop the decoded art before each step,
// as happens once the window has rested a while at a size other than the art's own. Standard error (a
// size word per step) goes to /dev/null, as the results are written to standard output.

#include "BenchmarkPanel.h"

#include <benchmark/benchmark.h>

namespace
{
BenchmarkPanel* world = nullptr;

const std::pair<int, int> panelSizes[] = {{452, 696}, {226, 348}, {451, 694}};

// One step of a drag: from a size a few pixels smaller to the measured size.
void BM_PanelResize(benchmark::State& state)
{
    auto& panel = *world->panel;
    const auto [w, h] = panelSizes[state.range(0)];

    for (auto _ : state)
    {
        state.PauseTiming();
        panel.setSize(w - 2, h - 3);
        state.ResumeTiming();
        panel.setSize(w, h);
    }

    state.SetLabel(std::to_string(w) + "x" + std::to_string(h));
}

void BM_PanelResizeArtNotCached(benchmark::State& state)
{
    auto& panel = *world->panel;
    const auto [w, h] = panelSizes[state.range(0)];

    for (auto _ : state)
    {
        // At another size the panel holds rescaled copies only, so the cache can drop the art.
        state.PauseTiming();
        panel.setSize(w - 2, h - 3);
        juce::ImageCache::releaseUnusedImages();
        state.ResumeTiming();
        panel.setSize(w, h);
    }

    state.SetLabel(std::to_string(w) + "x" + std::to_string(h));
}

BENCHMARK(BM_PanelResize)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(200);
BENCHMARK(BM_PanelResizeArtNotCached)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(50);
} // namespace

int main(int argc, char** argv)
{
    return runPanelBenchmarks(argc, argv, world);
}
