// The main panel's main-thread costs against the simulated machine: one read-back of the four volumes
// and both mutes (what 50 ms after the last audio change costs), and one fader change through
// sliderValueChanged (queueing the request, writing the read-out, waking the worker). The settings go to
// a scratch folder; standard error (the device layer's and the worker's lines) goes to /dev/null, as the
// results are written to standard output.

#include "MainComponent.h"
#include "SimControl.h"

#include <benchmark/benchmark.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

namespace sim = platform::sim;

namespace
{
// A plugged-in interface and a settled panel, built once for all benchmarks.
struct World
{
    World()
    {
        // Without a window manager X reports harmless errors about missing window-manager atoms.
        using Handler = int (*)(void*, void*);
        using SetHandler = Handler (*)(Handler);
        static void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_NODELETE);
        if (auto* setHandler = (SetHandler) dlsym(x11, "XSetErrorHandler"))
            setHandler([](void*, void*) { return 0; });

        setenv("HOME", home.getFullPathName().toRawUTF8(), 1);
        setenv("XDG_CONFIG_HOME", home.getChildFile(".config").getFullPathName().toRawUTF8(), 1);
        sim::Config config;
        config.mainLoop = sim::MainLoop::juce;
        sim::reset(config);
        sim::plug();
        panel = std::make_unique<MainComponent>();
        pump(400);
    }

    ~World()
    {
        panel.reset();
        home.deleteRecursively();
    }

    static void pump(int ms) { juce::MessageManager::getInstance()->runDispatchLoopUntil(ms); }

    juce::File home = juce::File::createTempFile("pelk-panel-bench");
    std::unique_ptr<MainComponent> panel;
};

World* world = nullptr;

void BM_ReadBack(benchmark::State& state)
{
    auto& panel = *world->panel;
    for (auto _ : state)
    {
        // A different text in every read-out, so each read-back rewrites all four.
        state.PauseTiming();
        for (auto* label :
             {panel.labelInL.get(), panel.labelInR.get(), panel.labelOutL.get(), panel.labelOutR.get()})
            label->setText("", juce::dontSendNotification);
        state.ResumeTiming();
        panel.timerCallback(MainComponent::readBackTimerId);
    }
}
BENCHMARK(BM_ReadBack);

void BM_FaderChange(benchmark::State& state)
{
    auto& panel = *world->panel;
    auto& fader = *panel.sliderInL;
    int step = 0;
    for (auto _ : state)
    {
        fader.setValue(-0.5 * (step++ % 120), juce::dontSendNotification);
        panel.sliderValueChanged(&fader);
        // Let the worker keep up, as it does between the steps of a real drag.
        if (step % 512 == 0)
        {
            state.PauseTiming();
            World::pump(5);
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_FaderChange);
} // namespace

int main(int argc, char** argv)
{
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, STDERR_FILENO);
    close(devNull);

    juce::ScopedJuceInitialiser_GUI juce;
    benchmark::Initialize(&argc, argv);
    {
        World w;
        world = &w;
        benchmark::RunSpecifiedBenchmarks();
        world = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}
