// The main panel's main-thread costs against the simulated machine: one read-back of the four volumes
// and both mutes (what 50 ms after the last audio change costs), and one fader change through
// sliderValueChanged (queueing the request, writing the read-out, waking the worker). The settings go to
// a scratch folder; standard error (the device layer's and the worker's lines) goes to /dev/null, as the
// results are written to standard output.

#include "BenchmarkPanel.h"

#include <benchmark/benchmark.h>
#include <juce_gui_basics/juce_gui_basics.h>

namespace
{
using World = BenchmarkPanel;

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
    return runPanelBenchmarks(argc, argv, world);
}
