// The main-thread costs of the panel's menus against the simulated machine: one rebuild of the menu bar
// (the four menus, the "Config" menu reading the sample rate from both audio devices) and one "Factory
// Defaults" command, with and without the interface. The panel sits in a shown main window as in the
// program, so the command's re-centring moves a real window. Settings go to a scratch folder; standard
// error goes to /dev/null, as the results are written to standard output.

#include "../../support/IgnoreXErrors.h"
#include "MainComponent.h"
#include "SimControl.h"

#include <benchmark/benchmark.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace sim = platform::sim;

namespace
{
void runLoop(int ms)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil(ms);
}

// A fresh machine (the interface plugged in or not) and a settled panel inside a main window with the
// panel's menus in its bar.
class Setting
{
public:
    explicit Setting(bool plugged)
    {
        setenv("HOME", scratch.getFullPathName().toRawUTF8(), 1);
        setenv("XDG_CONFIG_HOME", scratch.getChildFile(".config").getFullPathName().toRawUTF8(), 1);
        sim::Config config;
        config.mainLoop = sim::MainLoop::juce;
        sim::reset(config);
        if (plugged)
            sim::plug();

        panel = std::make_unique<MainComponent>();
        window = std::make_unique<juce::DocumentWindow>("Pelk VOD Panel v1.5.0.0", juce::Colours::lightgrey,
                                                        juce::DocumentWindow::allButtons);
        window->setUsingNativeTitleBar(false);
        window->setMenuBar(panel.get(), 24);
        window->setContentNonOwned(panel.get(), true);
        window->centreWithSize(window->getWidth(), window->getHeight());
        window->setVisible(true);
        runLoop(400);
    }

    ~Setting()
    {
        window->setMenuBar(nullptr);
        window->clearContentComponent();
        window.reset();
        panel.reset();
        runLoop(20);
        scratch.deleteRecursively();
    }

    juce::File scratch = juce::File::createTempFile("pelk-menus-bench");
    std::unique_ptr<MainComponent> panel;
    std::unique_ptr<juce::DocumentWindow> window;
};

void BM_MenuRebuild(benchmark::State& state)
{
    Setting setting(state.range(0) != 0);
    auto& panel = *setting.panel;
    int items = 0;
    for (auto _ : state)
    {
        const auto names = panel.getMenuBarNames();
        for (int index = 0; index < names.size(); ++index)
            items += panel.getMenuForIndex(index, names[index]).getNumItems();
    }
    benchmark::DoNotOptimize(items);
    state.SetLabel(state.range(0) != 0 ? "interface present" : "interface absent");
}
BENCHMARK(BM_MenuRebuild)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

void BM_FactoryDefaultsCommand(benchmark::State& state)
{
    Setting setting(state.range(0) != 0);
    auto& panel = *setting.panel;
    for (auto _ : state)
    {
        panel.menuItemSelected(8195, 1);

        // What the command left for the event loop (the menu rebuild, the worker's volume writes and the
        // read-back they cause) runs outside the measurement, as does putting the state back so every
        // round has the same work: a changed volume, a mute and another rate.
        state.PauseTiming();
        runLoop(80);
        if (state.range(0) != 0)
        {
            sim::setMute(sim::interfaceAudioDevice(sim::Direction::output), sim::Direction::output, 1, true);
            sim::setVolumeDb(sim::interfaceAudioDevice(sim::Direction::input), sim::Direction::input, 2,
                             -20.0f);
            for (const auto direction : {sim::Direction::input, sim::Direction::output})
                sim::setRate(sim::interfaceAudioDevice(direction), 96000.0);
            runLoop(80);
        }
        setting.window->setBounds(40, 40, setting.window->getWidth(), setting.window->getHeight());
        state.ResumeTiming();
    }
    state.SetLabel(state.range(0) != 0 ? "interface present" : "interface absent");
}
BENCHMARK(BM_FactoryDefaultsCommand)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond)->Iterations(200);
} // namespace

int main(int argc, char** argv)
{
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, STDERR_FILENO);
    close(devNull);

    juce::ScopedJuceInitialiser_GUI juce;
    ignoreXErrors();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
