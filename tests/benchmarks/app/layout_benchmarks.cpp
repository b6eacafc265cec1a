// Cost of one resize step of the real panel (two high-quality rescales of the art, twelve clips, fifteen
// widgets placed, the size word written) at its largest (452 x 696) and smallest (226 x 348) size, with
// the interface plugged in so that every widget is shown. The second benchmark makes the framework's
// image cache drop the decoded art before each step, as happens once the window has rested a while at a
// size other than the art's own.
// Run with standard error sent elsewhere: every step writes its size word there.

#include "MainComponent.h"
#include "SimControl.h"

#include <benchmark/benchmark.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>
#include <dlfcn.h>
#include <memory>

namespace
{
MainComponent* panel = nullptr;

// The art's own sizes, where the rescale hands back the decoded art, and one pixel below the largest,
// where both pictures are really resampled.
const std::pair<int, int> panelSizes[] = {{452, 696}, {226, 348}, {451, 694}};

// One step of a drag: from a size a few pixels smaller to the measured size.
void BM_PanelResize(benchmark::State& state)
{
    const auto [w, h] = panelSizes[state.range(0)];

    for (auto _ : state)
    {
        state.PauseTiming();
        panel->setSize(w - 2, h - 3);
        state.ResumeTiming();
        panel->setSize(w, h);
    }

    state.SetLabel(std::to_string(w) + "x" + std::to_string(h));
}

void BM_PanelResizeArtNotCached(benchmark::State& state)
{
    const auto [w, h] = panelSizes[state.range(0)];
    panel->setSize(w, h);

    for (auto _ : state)
    {
        // At another size the panel holds rescaled copies only, so the cache can drop the art.
        state.PauseTiming();
        panel->setSize(w - 2, h - 3);
        juce::ImageCache::releaseUnusedImages();
        state.ResumeTiming();
        panel->setSize(w, h);
    }

    state.SetLabel(std::to_string(w) + "x" + std::to_string(h));
}

BENCHMARK(BM_PanelResize)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(200);
BENCHMARK(BM_PanelResizeArtNotCached)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(50);
} // namespace

int main(int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    // Without a window manager X reports harmless errors that the default handler would end the run on.
    using Handler = int (*)(void*, void*);
    using SetHandler = Handler (*)(Handler);
    if (auto* setHandler = (SetHandler) dlsym(dlopen("libX11.so.6", RTLD_NOW), "XSetErrorHandler"))
        setHandler([](void*, void*) { return 0; });

    // A private settings folder, and the simulated machine with the interface plugged in.
    const auto home = juce::File::createTempFile("panel-benchmark");
    home.createDirectory();
    setenv("HOME", home.getFullPathName().toRawUTF8(), 1);
    setenv("XDG_CONFIG_HOME", home.getFullPathName().toRawUTF8(), 1);
    platform::sim::Config config;
    config.mainLoop = platform::sim::MainLoop::juce;
    platform::sim::reset(config);
    platform::sim::plug();

    {
        auto owned = std::make_unique<MainComponent>();
        panel = owned.get();
        juce::MessageManager::getInstance()->runDispatchLoopUntil(300);
        benchmark::RunSpecifiedBenchmarks();
        panel = nullptr;
    }

    platform::sim::shutdownNotifications();
    benchmark::Shutdown();
    home.deleteRecursively();
    return 0;
}
