// The real panel drawn plugged and unplugged at its largest, its default and its smallest size: the
// widgets meet the art (thumbs on the fader slots, read-out text on its dark box, the knob's dot on the
// knob's body), a switched-on button shows its lit face, and without the interface nothing covers the
// art. The renders are written to the build folder for a person to look at.

#include "PanelTestSupport.h"
#include "Renders.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{
bool showsAreaOf(const juce::Image& shot, const juce::Image& art, juce::Rectangle<int> area)
{
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            if (shot.getPixelAt(x, y) != art.getPixelAt(x, y))
                return false;
    return true;
}

struct RenderCase
{
    int width, height;
    bool plugged;
};

void PrintTo(const RenderCase& c, std::ostream* os)
{
    *os << (c.plugged ? "plugged, " : "unplugged, ") << c.width << " x " << c.height;
}

class PanelRender : public paneltest::PanelTest, public ::testing::WithParamInterface<RenderCase>
{
protected:
    static juce::String nameOf(const RenderCase& c)
    {
        return juce::String(c.plugged ? "plugged-" : "unplugged-") + juce::String(c.width) + "x" +
               juce::String(c.height);
    }
};

TEST_P(PanelRender, WidgetsMeetTheArtAndOnlyLitButtonsShowTheirFaces)
{
    namespace sim = platform::sim;
    const auto c = GetParam();

    // Headphone monitoring on (the knob shows), record monitoring on, the knob at -20 dB.
    paneltest::storeSettings({{"MonitoringHP", "1"}, {"MonitoringRecord", "1"}, {"MonitoringVol", "-20.0"}});

    if (c.plugged)
    {
        sim::plug();
        const auto in = sim::interfaceAudioDevice(sim::Direction::input);
        const auto out = sim::interfaceAudioDevice(sim::Direction::output);
        sim::setVolumeDb(in, sim::Direction::input, 1, -12.5f);
        sim::setVolumeDb(in, sim::Direction::input, 2, -30.0f);
        sim::setVolumeDb(out, sim::Direction::output, 1, 0.0f);
        sim::setVolumeDb(out, sim::Direction::output, 2, -60.0f);
        sim::setMute(in, sim::Direction::input, 1, true);
    }

    auto& p = makePanelAndSettle();
    p.setSize(c.width, c.height);

    const auto shot = p.createComponentSnapshot(p.getLocalBounds(), true, 1.0f);
    pelktest::saveRender(shot, "panel-" + nameOf(c), 1);
    const auto& art = p.backgroundImage;
    const auto& lit = p.buttonFaceImage;

    if (!c.plugged)
    {
        // Nothing covers the art: every device-dependent widget is hidden.
        EXPECT_TRUE(showsAreaOf(shot, art, p.getLocalBounds()));
        return;
    }

    ASSERT_TRUE(p.sliderInGroup->isVisible());
    EXPECT_EQ(p.labelInL->getText(), "-12.5 dB");

    // Lit: input mute, record and headphone monitoring; unlit: output mute.
    EXPECT_TRUE(showsAreaOf(shot, lit, p.buttonMuteIn->getBounds()));
    EXPECT_TRUE(showsAreaOf(shot, art, p.buttonMuteOut->getBounds()));
    EXPECT_TRUE(showsAreaOf(shot, lit, p.buttonTriggerMonitoringRecord->getBounds()));
    EXPECT_TRUE(showsAreaOf(shot, lit, p.buttonTriggerMonitoringHP->getBounds()));

    // Each fader's centre column is a dark slot in the art, with the lighter field at its left edge.
    for (auto* f : {p.sliderInL.get(), p.sliderInR.get(), p.sliderOutL.get(), p.sliderOutR.get()})
    {
        const auto b = f->getBoundsInParent() + f->getParentComponent()->getPosition();
        const int cx = b.getX() + b.getWidth() / 2;
        EXPECT_LT(art.getPixelAt(cx, b.getCentreY()).getBrightness(), 0.3f) << "slot at x " << cx;
        EXPECT_GT(art.getPixelAt(b.getX(), b.getCentreY()).getBrightness(), 0.5f) << "field at x " << cx;
    }

    // The white read-out text lands on the dark box only.
    for (auto* l : {p.labelInL.get(), p.labelInR.get(), p.labelOutL.get(), p.labelOutR.get()})
    {
        int ink = 0;
        for (int y = l->getY(); y < l->getBottom(); ++y)
            for (int x = l->getX(); x < l->getRight(); ++x)
            {
                if (shot.getPixelAt(x, y) == art.getPixelAt(x, y))
                    continue;
                EXPECT_LT(art.getPixelAt(x, y).getBrightness(), 0.3f)
                    << "text off the box at " << x << "," << y;
                ink += shot.getPixelAt(x, y).getBrightness() > 0.75f ? 1 : 0;
            }
        EXPECT_GT(ink, 10) << "read-out at x " << l->getX();
    }

    // The knob's dot runs on the knob's dark body at both ends of its travel and in the middle.
    auto& knob = *p.sliderVolMon;
    ASSERT_TRUE(knob.isVisible());
    const auto rotary = knob.getRotaryParameters();
    for (double v : {-110.0, -55.0, 0.0})
    {
        const auto kb = knob.getBounds().toDouble();
        const double radius = 0.96 * std::min(kb.getWidth(), kb.getHeight()) / 2.5;
        const double angle =
            rotary.startAngleRadians +
            knob.valueToProportionOfLength(v) * (rotary.endAngleRadians - rotary.startAngleRadians) -
            juce::MathConstants<double>::halfPi;
        const int dx = (int) (kb.getCentreX() + radius * std::cos(angle));
        const int dy = (int) (kb.getCentreY() + radius * std::sin(angle));
        EXPECT_LT(art.getPixelAt(dx, dy).getBrightness(), 0.35f) << "dot at " << v << " dB";
    }
}

INSTANTIATE_TEST_SUITE_P(Panel, PanelRender,
                         ::testing::Values(RenderCase{452, 696, true}, RenderCase{316, 486, true},
                                           RenderCase{226, 348, true}, RenderCase{452, 696, false},
                                           RenderCase{316, 486, false}, RenderCase{226, 348, false}),
                         [](const auto& caseInfo)
                         {
                             return std::string(caseInfo.param.plugged ? "Plugged" : "Unplugged") +
                                    std::to_string(caseInfo.param.width) + "x" +
                                    std::to_string(caseInfo.param.height);
                         });
} // namespace
