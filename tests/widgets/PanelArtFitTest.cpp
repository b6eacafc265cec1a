// The widgets drawn over the panel's art at the panel's largest and smallest size, placed by the
// panel's layout fractions: the fader thumbs sit on the slots, the read-out text on its dark box and
// the knob's dot on the knob's body. The renders are written out for a person to judge.

#include "ORVLabel.h"
#include "SliderLookAndFeel.h"
#include "SliderStereoGroup2.h"
#include "WidgetTestSupport.h"

#include <gtest/gtest.h>

namespace
{
struct Fractions
{
    float x, y, w, h;
    juce::Rectangle<int> at(int width, int height) const
    {
        const float W = (float) width, A = (float) height;
        return {(int) (x * W), (int) (y * A), (int) (w * W), (int) (h * A)};
    }
};

const Fractions inGroup{0.196903f, 0.185345f, 0.123894f, 0.45977f};
const Fractions outGroup{0.679204f, 0.185345f, 0.123894f, 0.45977f};
const Fractions readouts[] = {{0.0774336f, 0.662356f, 0.179204f, 0.045977f},
                              {0.261062f, 0.662356f, 0.179204f, 0.045977f},
                              {0.559735f, 0.662356f, 0.179204f, 0.045977f},
                              {0.743363f, 0.662356f, 0.179204f, 0.045977f}};
const Fractions knobPlace{0.40708f, 0.862069f, 0.185841f, 0.12069f};

struct Panel : juce::Component
{
    juce::Image background;
    void paint(juce::Graphics& g) override { g.drawImageAt(background, 0, 0); }
};
} // namespace

TEST(PanelArtFit, WidgetsMeetTheArtAtBothPanelSizes)
{
    struct Case
    {
        int w, h;
        const unsigned char* art;
        int artSize;
    };
    const Case cases[] = {{452, 696, ORVBIN::temp_binary_data_10, ORVBIN::temp_binary_data_10Size},
                          {226, 348, ORVBIN::temp_binary_data_8, ORVBIN::temp_binary_data_8Size}};

    for (const auto& c : cases)
    {
        const juce::String what = juce::String(c.w) + "x" + juce::String(c.h);
        OrvSliderLookAndFeel2 faderLook;
        ORVdBLabelLookAndFeel readoutLook;
        OrvRotarySliderLookAndFeel knobLook;
        widgettest::loadPanelThumbs(faderLook);

        Panel panel;
        panel.background = widgettest::embeddedPicture(c.art, c.artSize)
                               .rescaled(c.w, c.h, juce::Graphics::highResamplingQuality);
        panel.setSize(c.w, c.h);

        juce::Slider faders[4];
        const double values[4] = {-12.0, -30.0, 0.0, -60.0};
        for (int i = 0; i < 4; ++i)
        {
            widgettest::setUpPanelFader(faders[i], faderLook);
            faders[i].setValue(values[i], juce::dontSendNotification);
        }
        SliderStereoGroup2 in("sliderInGroup", &faders[0], &faders[1], 17.0f / 28.0f, 11.0f / 28.0f,
                              11.0f / 28.0f, 33.0f / 328.0f, &faderLook);
        SliderStereoGroup2 out("sliderOutGroup", &faders[2], &faders[3], 17.0f / 28.0f, 11.0f / 28.0f,
                               11.0f / 28.0f, 33.0f / 328.0f, &faderLook);
        panel.addAndMakeVisible(in);
        panel.addAndMakeVisible(out);
        in.setBounds(inGroup.at(c.w, c.h));
        out.setBounds(outGroup.at(c.w, c.h));

        juce::Label labels[4];
        for (int i = 0; i < 4; ++i)
        {
            panel.addAndMakeVisible(labels[i]);
            labels[i].setLookAndFeel(&readoutLook);
            labels[i].setJustificationType(juce::Justification::centredRight);
            labels[i].setText(juce::String(values[i]) + " dB", juce::dontSendNotification);
            labels[i].setBounds(readouts[i].at(c.w, c.h));
        }

        juce::Slider knob;
        knob.setSliderStyle(juce::Slider::RotaryHorizontalVerticalDrag);
        knob.setTextBoxStyle(juce::Slider::NoTextBox, true, 0, 0);
        knob.setRange(-110.0, 0.0, 1.0);
        knob.setRotaryParameters(1.25f * juce::MathConstants<float>::pi,
                                 2.75f * juce::MathConstants<float>::pi, true);
        knob.setLookAndFeel(&knobLook);
        knob.setColour(juce::Slider::thumbColourId, juce::Colour(0xff30649e));
        knob.setValue(-20.0, juce::dontSendNotification);
        panel.addAndMakeVisible(knob);
        knob.setBounds(knobPlace.at(c.w, c.h));

        const auto shot = panel.createComponentSnapshot(panel.getLocalBounds(), true, 1.0f);
        widgettest::saveRender(shot, "panel-widgets-" + what, c.w < 300 ? 3 : 2);
        const auto& art = panel.background;

        // Each fader's centre column is a dark slot in the art, with the lighter field beside it.
        for (auto& f : faders)
        {
            const auto b = f.getBoundsInParent() + f.getParentComponent()->getPosition();
            const int cx = b.getX() + b.getWidth() / 2;
            const int midTravel = b.getCentreY();
            EXPECT_LT(art.getPixelAt(cx, midTravel).getBrightness(), 0.3f) << what << " slot at x " << cx;
            EXPECT_GT(art.getPixelAt(b.getX(), midTravel).getBrightness(), 0.5f)
                << what << " field at " << cx;
        }

        // White read-out text lands on the dark box only.
        for (auto& l : labels)
        {
            int ink = 0;
            for (int y = l.getY(); y < l.getBottom(); ++y)
                for (int x = l.getX(); x < l.getRight(); ++x)
                {
                    if (shot.getPixelAt(x, y) == art.getPixelAt(x, y))
                        continue;
                    EXPECT_LT(art.getPixelAt(x, y).getBrightness(), 0.3f)
                        << what << " text off the box at " << x << "," << y;
                    ink += shot.getPixelAt(x, y).getBrightness() > 0.75f ? 1 : 0;
                }
            EXPECT_GT(ink, 10) << what << " read-out at " << l.getX();
        }

        // The dot runs on the knob's dark body at both ends of its travel and in the middle.
        for (double v : {-110.0, -55.0, 0.0})
        {
            const auto kb = knob.getBounds().toDouble();
            const double R = std::min(kb.getWidth(), kb.getHeight()) / 2.5;
            const double a =
                knob.getRotaryParameters().startAngleRadians +
                knob.valueToProportionOfLength(v) * (knob.getRotaryParameters().endAngleRadians -
                                                     knob.getRotaryParameters().startAngleRadians) -
                juce::MathConstants<double>::halfPi;
            const int dx = (int) (kb.getCentreX() + 0.96 * R * std::cos(a));
            const int dy = (int) (kb.getCentreY() + 0.96 * R * std::sin(a));
            EXPECT_LT(art.getPixelAt(dx, dy).getBrightness(), 0.35f) << what << " dot at " << v << " dB";
        }

        for (auto& l : labels)
            l.setLookAndFeel(nullptr);
        knob.setLookAndFeel(nullptr);
    }
}
