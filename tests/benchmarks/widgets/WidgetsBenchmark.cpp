// Cost of one layout step of a fader pair and of the thumb rescale it does, at the panel's largest
// (452 x 696: pair 56 x 319, thumbs 22 x 32) and smallest (226 x 348: pair 28 x 159, thumbs 11 x 15)
// size, and of painting a fader pair with both thumbs.

#include "LevelFaders.h"

#include <benchmark/benchmark.h>
#include <juce_gui_basics/juce_gui_basics.h>

namespace
{
struct Pair
{
    OrvSliderLookAndFeel2 look;
    juce::Slider left, right;
    std::unique_ptr<SliderStereoGroup2> group;

    Pair()
    {
        levelfaders::loadThumbs(look);
        levelfaders::setUp(left, look);
        levelfaders::setUp(right, look);
        group = levelfaders::makePair("sliderInGroup", left, right, look);
        left.setValue(-12.0, juce::dontSendNotification);
        right.setValue(-30.0, juce::dontSendNotification);
    }
};

const std::pair<int, int> panelSizes[] = {{56, 319}, {28, 159}};

void BM_FaderPairResize(benchmark::State& state)
{
    Pair pair;
    const auto [w, h] = panelSizes[state.range(0)];
    pair.group->setSize(w, h);

    for (auto _ : state)
        pair.group->resized();

    state.SetLabel(juce::String(w).toStdString() + "x" + juce::String(h).toStdString());
}

void BM_ThumbRescale(benchmark::State& state)
{
    Pair pair;
    const int sizes[][2] = {{22, 32}, {11, 15}};
    const auto* size = sizes[state.range(0)];

    for (auto _ : state)
        pair.look.resizeKnobImages(size[0], size[1]);

    state.SetLabel(juce::String(size[0]).toStdString() + "x" + juce::String(size[1]).toStdString());
}

void BM_PaintFaderPair(benchmark::State& state)
{
    Pair pair;
    const auto [w, h] = panelSizes[state.range(0)];
    pair.group->setSize(w, h);
    juce::Image target(juce::Image::ARGB, w, h, true);

    for (auto _ : state)
    {
        juce::Graphics g(target);
        pair.group->paintEntireComponent(g, false);
    }

    state.SetLabel(juce::String(w).toStdString() + "x" + juce::String(h).toStdString());
}

BENCHMARK(BM_FaderPairResize)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ThumbRescale)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PaintFaderPair)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
} // namespace

int main(int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
