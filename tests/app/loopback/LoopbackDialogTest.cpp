// The loopback dialog: its layout at the window's largest and smallest sizes and below the width where
// the large picture takes over, the routing drawn over the picture for the chosen button only, and the
// "loopback_update" broadcast on every click. Renders are written out for a person to judge.

#include "BinaryData.h"
#include "IgnoreXErrors.h"
#include "PatchGridLoopbackDialog.h"
#include "Renders.h"
#include "Wait.h"

#include <gtest/gtest.h>

namespace
{
using PointPair = std::array<juce::Point<int>, 2>;

struct LayoutCase
{
    int width, height;
    juce::Rectangle<int> offButton, onButton;
    PointPair right, offStart, onStart, offControl, onControl;
    float radius;
    bool largeBackground;
};

void PrintTo(const LayoutCase& c, std::ostream* os)
{
    *os << c.width << "x" << c.height;
}

juce::Point<int> whole(juce::Point<float> p)
{
    EXPECT_EQ(p.x, std::trunc(p.x));
    EXPECT_EQ(p.y, std::trunc(p.y));
    return p.toInt();
}

PointPair wholePair(const juce::Point<float> (&points)[2])
{
    return {whole(points[0]), whole(points[1])};
}

juce::Image picture(const unsigned char* data, int size)
{
    return pelktest::embeddedPicture(data, size);
}

juce::Image rescaledPicture(const unsigned char* data, int size, int width, int height)
{
    return picture(data, size).rescaled(width, height, juce::Graphics::highResamplingQuality);
}

juce::Image render(PatchGridLoopbackDialog& dialog)
{
    return dialog.createComponentSnapshot(dialog.getLocalBounds(), true, 1.0f);
}

// The dialog's own drawing over its children, alone, on a transparent image.
juce::Image renderOverlay(PatchGridLoopbackDialog& dialog)
{
    juce::Image image(juce::Image::ARGB, dialog.getWidth(), dialog.getHeight(), true);
    juce::Graphics g(image);
    dialog.paintOverChildren(g);
    return image;
}

// The curves are juce::Colours::green; nothing in the picture comes close to it.
bool isGreen(juce::Colour c)
{
    return c.getGreen() > 90 && c.getRed() < 60 && c.getBlue() < 60;
}

// A point near the start of a quadratic curve (t = 0.15), where the curves and dots of the other set
// never pass; further on, the two sets' curves cross on their way to the shared end dots.
juce::Point<float> nearStart(juce::Point<float> start, juce::Point<float> control, juce::Point<float> end)
{
    return start * 0.7225f + control * 0.255f + end * 0.0225f;
}

// A pixel on each of the two curves of one set, and pixels just inside their two start dots (up and to
// the left of each centre, where no curve passes). The end dots are shared by both sets.
std::vector<juce::Point<int>> routingPixels(const juce::Point<float> (&start)[2],
                                            const juce::Point<float> (&control)[2],
                                            const juce::Point<float> (&end)[2])
{
    std::vector<juce::Point<int>> pixels;
    for (int i = 0; i < 2; ++i)
    {
        pixels.push_back(nearStart(start[i], control[i], end[i]).toInt());
        pixels.push_back(start[i].toInt() - juce::Point<int>(3, 3));
    }
    return pixels;
}

std::vector<juce::Point<int>> endDotPixels(const juce::Point<float> (&end)[2])
{
    return {end[0].toInt() - juce::Point<int>(3, 3), end[1].toInt() - juce::Point<int>(3, 3)};
}

int greenCount(const juce::Image& image, const std::vector<juce::Point<int>>& pixels)
{
    int count = 0;
    for (auto p : pixels)
        count += isGreen(image.getPixelAt(p.x, p.y)) ? 1 : 0;
    return count;
}

// Image::rescaled blends the last column and row of an opaque picture with the uncleared pixels of
// its new image, so those edge pixels vary slightly from run to run; the rest is exact.
bool sameInside(const juce::Image& a, const juce::Image& b)
{
    if (a.getBounds() != b.getBounds())
        return false;

    for (int y = 0; y < a.getHeight() - 1; ++y)
        for (int x = 0; x < a.getWidth() - 1; ++x)
            if (a.getPixelAt(x, y) != b.getPixelAt(x, y))
                return false;

    return true;
}

bool sameAt(const juce::Image& a, const juce::Image& b, juce::Point<int> p)
{
    return a.getPixelAt(p.x, p.y) == b.getPixelAt(p.x, p.y);
}

struct MessageLog : juce::ActionListener
{
    juce::StringArray messages;
    void actionListenerCallback(const juce::String& message) override { messages.add(message); }
};
} // namespace

// ---------------------------------------------------------------------------------------------------

class LoopbackLayout : public ::testing::TestWithParam<LayoutCase>
{
};

TEST_P(LoopbackLayout, ButtonsPointsCurvesAndBackgroundFollowTheSize)
{
    const auto& c = GetParam();
    PatchGridLoopbackDialog dialog;
    const auto* firstOffRecord = dialog.loopbackOffPaths[0];
    dialog.setSize(c.width, c.height);

    EXPECT_EQ(dialog.loopbackOffButton.getBounds(), c.offButton);
    EXPECT_EQ(dialog.loopbackOnButton.getBounds(), c.onButton);
    EXPECT_EQ(wholePair(dialog.rightPoints), c.right);
    EXPECT_EQ(wholePair(dialog.offStartPoints), c.offStart);
    EXPECT_EQ(wholePair(dialog.onStartPoints), c.onStart);
    EXPECT_EQ(wholePair(dialog.offControlPoints), c.offControl);
    EXPECT_EQ(wholePair(dialog.onControlPoints), c.onControl);

    // The four records are made once and reshaped: start and end on the dots, curve through the
    // control point. Asking for them again changes nothing.
    dialog.initConnectionPaths();
    ASSERT_EQ(dialog.loopbackOffPaths.size(), 2);
    ASSERT_EQ(dialog.loopbackOnPaths.size(), 2);
    EXPECT_EQ(dialog.loopbackOffPaths[0], firstOffRecord);

    const struct
    {
        const juce::OwnedArray<LoopBackConnectionPath>& records;
        const PointPair& start;
        const PointPair& control;
    } sets[] = {{dialog.loopbackOffPaths, c.offStart, c.offControl},
                {dialog.loopbackOnPaths, c.onStart, c.onControl}};

    for (const auto& set : sets)
        for (int i = 0; i < 2; ++i)
        {
            const auto& record = *set.records[i];
            EXPECT_EQ(record.startPoint.toInt(), set.start[(size_t) i]);
            EXPECT_EQ(record.endPoint.toInt(), c.right[(size_t) i]);
            EXPECT_EQ(record.curveColour, juce::Colours::green);

            juce::Path expected;
            expected.startNewSubPath(set.start[(size_t) i].toFloat());
            expected.quadraticTo(set.control[(size_t) i].toFloat(), c.right[(size_t) i].toFloat());
            EXPECT_EQ(record.curvePath.toString(), expected.toString());
        }

    // The background is the small picture rescaled, or the large one from W = 205 on; the lit face is
    // always the lit picture.
    const auto large =
        rescaledPicture(ORVBIN::temp_binary_data_6, ORVBIN::temp_binary_data_6Size, c.width, c.height);
    const auto small =
        rescaledPicture(ORVBIN::temp_binary_data_4, ORVBIN::temp_binary_data_4Size, c.width, c.height);
    const auto lit =
        rescaledPicture(ORVBIN::temp_binary_data_7, ORVBIN::temp_binary_data_7Size, c.width, c.height);
    EXPECT_TRUE(sameInside(dialog.backgroundImage, c.largeBackground ? large : small));
    EXPECT_FALSE(sameInside(dialog.backgroundImage, c.largeBackground ? small : large));
    EXPECT_TRUE(sameInside(dialog.buttonFaceImage, lit));

    // The dot radius A, measured on the drawn dot of the first off curve: the alpha summed along the
    // pixel row below its centre, left of the centre, is the area of that strip of the disc.
    dialog.loopbackOffButton.setToggleState(true, juce::dontSendNotification);
    const auto overlay = renderOverlay(dialog);
    const auto centre = c.offStart[0];
    float strip = 0.0f;
    for (int x = 0; x < centre.x; ++x)
        strip += overlay.getPixelAt(x, centre.y).getFloatAlpha();
    const float a = c.radius;
    const float expectedStrip = 0.5f * (std::sqrt(a * a - 1.0f) + a * a * std::asin(1.0f / a));
    EXPECT_NEAR(strip, expectedStrip, 0.15f) << "A = " << a;
}

// Expected values by the panel's rule: each coordinate the single-precision product of its fraction
// and the size, truncated. 314 x 322 is the window's first and largest size, 214 x 229 its size
// limits, 223 x 229 the smallest size the limits allow at the window's aspect ratio; 204 is the widest size
// with the small picture behind, 190 one where A stays at its minimum of 5.
INSTANTIATE_TEST_SUITE_P(Sizes, LoopbackLayout,
                         ::testing::Values(LayoutCase{314,
                                                      322,
                                                      {15, 97, 42, 42},
                                                      {15, 206, 42, 42},
                                                      {{{267, 203}, {267, 248}}},
                                                      {{{99, 97}, {99, 141}}},
                                                      {{{99, 205}, {99, 249}}},
                                                      {{{124, 270}, {96, 298}}},
                                                      {{{182, 237}, {182, 282}}},
                                                      7.85f,
                                                      true},
                                           LayoutCase{214,
                                                      229,
                                                      {10, 69, 28, 29},
                                                      {10, 146, 28, 29},
                                                      {{{181, 144}, {181, 176}}},
                                                      {{{67, 68}, {67, 100}}},
                                                      {{{67, 145}, {67, 177}}},
                                                      {{{85, 192}, {65, 212}}},
                                                      {{{124, 169}, {124, 201}}},
                                                      5.35f,
                                                      true},
                                           LayoutCase{223,
                                                      229,
                                                      {10, 69, 29, 29},
                                                      {10, 146, 29, 29},
                                                      {{{189, 144}, {189, 176}}},
                                                      {{{70, 68}, {70, 100}}},
                                                      {{{70, 145}, {70, 177}}},
                                                      {{{88, 192}, {68, 212}}},
                                                      {{{129, 169}, {129, 201}}},
                                                      5.575f,
                                                      true},
                                           LayoutCase{205,
                                                      210,
                                                      {9, 63, 27, 27},
                                                      {9, 134, 27, 27},
                                                      {{{174, 132}, {174, 161}}},
                                                      {{{64, 63}, {64, 91}}},
                                                      {{{64, 133}, {64, 162}}},
                                                      {{{81, 176}, {63, 194}}},
                                                      {{{118, 155}, {118, 184}}},
                                                      5.125f,
                                                      true},
                                           LayoutCase{204,
                                                      209,
                                                      {9, 63, 27, 27},
                                                      {9, 133, 27, 27},
                                                      {{{173, 131}, {173, 160}}},
                                                      {{{64, 62}, {64, 91}}},
                                                      {{{64, 133}, {64, 161}}},
                                                      {{{81, 175}, {62, 193}}},
                                                      {{{118, 154}, {118, 183}}},
                                                      5.1f,
                                                      false},
                                           LayoutCase{190,
                                                      195,
                                                      {9, 59, 25, 25},
                                                      {9, 124, 25, 25},
                                                      {{{161, 122}, {161, 150}}},
                                                      {{{59, 58}, {59, 85}}},
                                                      {{{59, 124}, {59, 150}}},
                                                      {{{75, 163}, {58, 180}}},
                                                      {{{110, 144}, {110, 171}}},
                                                      5.0f,
                                                      false}),
                         [](const auto& row) {
                             return std::to_string(row.param.width) + "x" + std::to_string(row.param.height);
                         });

TEST(LoopbackLayout, StartsAtTheLargePicturesSizeWithNoChoice)
{
    PatchGridLoopbackDialog dialog;

    EXPECT_EQ(dialog.getBounds(), juce::Rectangle<int>(314, 322));
    EXPECT_TRUE(dialog.pathsInitialised);
    EXPECT_EQ(dialog.getLoopbackState(), -1);
    EXPECT_FALSE(dialog.loopbackOffButton.getClickingTogglesState());
    EXPECT_FALSE(dialog.loopbackOnButton.getClickingTogglesState());
    EXPECT_TRUE(dialog.loopbackOffButton.isVisible() &&
                dialog.loopbackOffButton.getParentComponent() == &dialog);
    EXPECT_TRUE(dialog.loopbackOnButton.isVisible() &&
                dialog.loopbackOnButton.getParentComponent() == &dialog);
}

TEST(LoopbackLayout, AnEmptySizeKeepsTheLastLayout)
{
    PatchGridLoopbackDialog dialog;
    dialog.setSize(214, 229);
    const auto offBounds = dialog.loopbackOffButton.getBounds();
    const auto background = dialog.backgroundImage;
    const auto curve = dialog.loopbackOnPaths[1]->curvePath.toString();

    for (auto [w, h] : {std::pair{0, 229}, std::pair{214, 0}, std::pair{-5, -5}})
    {
        dialog.setSize(w, h);
        EXPECT_EQ(dialog.loopbackOffButton.getBounds(), offBounds);
        EXPECT_EQ(dialog.backgroundImage, background);
        EXPECT_EQ(dialog.loopbackOnPaths[1]->curvePath.toString(), curve);
    }
}

// ---------------------------------------------------------------------------------------------------
// What is drawn for each choice, on the rendered dialog.

class LoopbackDrawing : public ::testing::TestWithParam<std::pair<int, int>>
{
};

TEST_P(LoopbackDrawing, TheChosenRoutingOnlyAndNoneWithoutChoiceOrWhenBothAreDisabled)
{
    const auto [width, height] = GetParam();
    const juce::String size = juce::String(width) + "x" + juce::String(height);

    enum Choice
    {
        none,
        off,
        on
    };
    struct Case
    {
        const char* name;
        Choice choice;
        bool offEnabled, onEnabled, dialogEnabled;
        bool offDrawn, onDrawn;
    };
    const Case cases[] = {
        {"none", none, true, true, true, false, false},
        {"off", off, true, true, true, true, false},
        {"on", on, true, true, true, false, true},
        {"on-both-disabled", on, false, false, true, false, false},
        {"off-dialog-disabled", off, true, true, false, false, false},
        {"off-only-off-disabled", off, false, true, true, true, false},
        {"on-only-off-disabled", on, false, true, true, false, true},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        PatchGridLoopbackDialog dialog;
        dialog.setSize(width, height);
        dialog.loopbackOffButton.setToggleState(c.choice == off, juce::dontSendNotification);
        dialog.loopbackOnButton.setToggleState(c.choice == on, juce::dontSendNotification);
        dialog.loopbackOffButton.setEnabled(c.offEnabled);
        dialog.loopbackOnButton.setEnabled(c.onEnabled);
        dialog.setEnabled(c.dialogEnabled);

        const auto image = render(dialog);
        const auto offPixels =
            routingPixels(dialog.offStartPoints, dialog.offControlPoints, dialog.rightPoints);
        const auto onPixels = routingPixels(dialog.onStartPoints, dialog.onControlPoints, dialog.rightPoints);

        EXPECT_EQ(greenCount(image, offPixels), c.offDrawn ? (int) offPixels.size() : 0);
        EXPECT_EQ(greenCount(image, onPixels), c.onDrawn ? (int) onPixels.size() : 0);
        EXPECT_EQ(greenCount(image, endDotPixels(dialog.rightPoints)), c.offDrawn || c.onDrawn ? 2 : 0);

        // Nothing green anywhere when nothing is drawn.
        if (!c.offDrawn && !c.onDrawn)
        {
            int green = 0;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    green += isGreen(image.getPixelAt(x, y)) ? 1 : 0;
            EXPECT_EQ(green, 0);
        }

        if (!(c.dialogEnabled && c.offEnabled && c.onEnabled))
            continue; // a disabled button is drawn faded

        // The chosen button shows the lit face, the other blends into the picture.
        const struct
        {
            juce::ImageButton& button;
            bool chosen;
        } buttons[] = {{dialog.loopbackOffButton, c.choice == off},
                       {dialog.loopbackOnButton, c.choice == on}};
        for (const auto& b : buttons)
        {
            const auto centre = b.button.getBounds().getCentre();
            EXPECT_TRUE(sameAt(image, b.chosen ? dialog.buttonFaceImage : dialog.backgroundImage, centre));
            EXPECT_FALSE(sameAt(image, b.chosen ? dialog.backgroundImage : dialog.buttonFaceImage, centre));
        }

        pelktest::saveRender(image, "loopback-" + size + "-" + c.name, 2);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, LoopbackDrawing,
                         ::testing::Values(std::pair{314, 322}, std::pair{223, 229}, std::pair{214, 229},
                                           std::pair{204, 209}),
                         [](const auto& row) {
                             return std::to_string(row.param.first) + "x" + std::to_string(row.param.second);
                         });

// ---------------------------------------------------------------------------------------------------
// Clicks, through the window's own mouse entry point, and the owner's setting of a button.

class LoopbackClicks : public ::testing::Test
{
protected:
    PatchGridLoopbackDialog dialog;
    MessageLog log;
    juce::int64 time = 0;

    void SetUp() override
    {
        if (juce::Desktop::getInstance().getDisplays().getPrimaryDisplay() == nullptr)
            GTEST_SKIP() << "needs a display (run under Xvfb)";

        ignoreXErrors();

        // Off the screen, where the real pointer never is.
        dialog.setTopLeftPosition(-3000, -3000);
        dialog.addToDesktop(0);
        dialog.setVisible(true);
        EXPECT_TRUE(pelktest::drainMessageLoop());
        dialog.addActionListener(&log);
        time = juce::Time::currentTimeMillis();
    }

    void TearDown() override
    {
        dialog.removeActionListener(&log);
        dialog.removeFromDesktop();
    }

    void send(juce::Point<int> p, juce::ModifierKeys mods)
    {
        time += 400; // far enough apart that two clicks never make a double click
        dialog.getPeer()->handleMouseEvent(juce::MouseInputSource::InputSourceType::mouse, p.toFloat(), mods,
                                           juce::MouseInputSource::defaultPressure,
                                           juce::MouseInputSource::defaultOrientation, time);
    }

    // Press and release on the button's centre. Returns the messages that arrived while the click was
    // handled (none: the broadcast is queued) and those the event loop delivered afterwards.
    std::pair<int, juce::StringArray> click(juce::Button& button)
    {
        const auto p = button.getBounds().getCentre();
        send(p, {});
        send(p, juce::ModifierKeys(juce::ModifierKeys::leftButtonModifier));
        send(p, {});
        return delivered();
    }

    std::pair<int, juce::StringArray> delivered()
    {
        const int during = log.messages.size();
        EXPECT_TRUE(pelktest::drainMessageLoop()); // the broadcasts queued until now
        auto after = log.messages;
        log.messages.clear();
        return {during, after};
    }
};

TEST_F(LoopbackClicks, EveryClickBroadcastsOnceTheChosenButtonIncluded)
{
    const juce::StringArray once{"loopback_update"};

    struct Step
    {
        const char* name;
        juce::Button& button;
        int state;
    };
    const Step steps[] = {{"on", dialog.loopbackOnButton, 1},
                          {"on again", dialog.loopbackOnButton, 1},
                          {"off", dialog.loopbackOffButton, 0},
                          {"off again", dialog.loopbackOffButton, 0},
                          {"on after off", dialog.loopbackOnButton, 1}};

    for (const auto& step : steps)
    {
        SCOPED_TRACE(step.name);
        const auto [during, after] = click(step.button);
        EXPECT_EQ(during, 0);
        EXPECT_EQ(after, once);
        EXPECT_EQ(dialog.getLoopbackState(), step.state);
        EXPECT_EQ(dialog.loopbackOnButton.getToggleState(), step.state == 1);
        EXPECT_EQ(dialog.loopbackOffButton.getToggleState(), step.state == 0);
    }
}

TEST_F(LoopbackClicks, TheOwnerSettingTheOtherButtonBroadcastsOnceAndTheSameButtonNothing)
{
    dialog.loopbackOffButton.setToggleState(true, juce::sendNotificationSync);
    EXPECT_EQ(dialog.getLoopbackState(), 0);
    EXPECT_EQ(delivered().second, juce::StringArray{"loopback_update"});

    dialog.loopbackOffButton.setToggleState(true, juce::sendNotificationSync);
    EXPECT_EQ(delivered().second, juce::StringArray());

    dialog.loopbackOnButton.setToggleState(true, juce::sendNotificationSync);
    EXPECT_EQ(dialog.getLoopbackState(), 1);
    EXPECT_FALSE(dialog.loopbackOffButton.getToggleState());
    EXPECT_EQ(delivered().second, juce::StringArray{"loopback_update"});

    // An unexpected stored state: the owner turns both off silently, and the choice is gone.
    dialog.loopbackOnButton.setToggleState(false, juce::dontSendNotification);
    EXPECT_EQ(dialog.getLoopbackState(), -1);
    EXPECT_EQ(delivered().second, juce::StringArray());
}
