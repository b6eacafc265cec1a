// The linked fader pair, driven by real mouse events through a desktop window's peer: the strip rules
// for press, drag, release and wheel, the two waves of notifications, joining at the lower value, and
// the thumb that shows the linked state.

#include "SliderStereoGroup2.h"
#include "WidgetTestSupport.h"

#include <gtest/gtest.h>

namespace
{
struct Change
{
    char fader;
    double value;
    bool operator==(const Change& o) const { return fader == o.fader && value == o.value; }
};

std::ostream& operator<<(std::ostream& os, const Change& c)
{
    return os << c.fader << ":" << c.value;
}

using Changes = std::vector<Change>;

// Stands in for the panel: hears the faders' value changes and drag ends.
struct Listener : juce::Slider::Listener
{
    juce::Slider* left = nullptr;
    Changes changes;
    std::vector<char> dragEnds;

    char nameOf(juce::Slider* s) const { return s == left ? 'L' : 'R'; }
    void sliderValueChanged(juce::Slider* s) override { changes.push_back({nameOf(s), s->getValue()}); }
    void sliderDragEnded(juce::Slider* s) override { dragEnds.push_back(nameOf(s)); }

    Changes take()
    {
        Changes out;
        out.swap(changes);
        return out;
    }
};

struct GroupParts
{
    OrvSliderLookAndFeel2 look;
    juce::Slider left, right;
    std::unique_ptr<SliderStereoGroup2> group;

    GroupParts()
    {
        levelfaders::loadThumbs(look);
        levelfaders::setUp(left, look);
        levelfaders::setUp(right, look);
        group = levelfaders::makePair("sliderInGroup", left, right, look);
    }
};
} // namespace

TEST(FaderPairLayout, PlacesFadersStripAndThumbsByTruncatedFractions)
{
    struct Case
    {
        int w, h;
        juce::Rectangle<int> left, right, strip;
        int thumbW, thumbH;
    };
    const Case cases[] = {
        {56, 320, {0, 0, 22, 320}, {34, 0, 22, 320}, {22, 0, 12, 320}, 22, 32},
        {28, 160, {0, 0, 11, 160}, {17, 0, 11, 160}, {11, 0, 6, 160}, 11, 16},
        {56, 319, {0, 0, 22, 319}, {34, 0, 22, 319}, {22, 0, 12, 319}, 22, 32}, // panel at 452 x 696
        {28, 159, {0, 0, 11, 159}, {17, 0, 11, 159}, {11, 0, 6, 159}, 11, 15},  // panel at 226 x 348
        {57, 320, {0, 0, 22, 320}, {34, 0, 22, 320}, {22, 0, 12, 320}, 22, 32},
    };

    GroupParts parts;
    EXPECT_TRUE(parts.group->linkStrip.isEmpty()) << "empty before the first layout";
    EXPECT_EQ(parts.group->getName(), "sliderInGroup");
    EXPECT_EQ(parts.left.getParentComponent(), parts.group.get());
    EXPECT_TRUE(parts.left.isVisible() && parts.right.isVisible());

    for (const auto& c : cases)
    {
        parts.look.currentThumb = parts.look.linkedThumb;
        parts.group->setSize(c.w, c.h);
        const juce::String what = juce::String(c.w) + "x" + juce::String(c.h);
        EXPECT_EQ(parts.left.getBounds(), c.left) << what;
        EXPECT_EQ(parts.right.getBounds(), c.right) << what;
        EXPECT_EQ(parts.group->linkStrip, c.strip) << what;
        EXPECT_EQ(parts.look.currentThumb.getWidth(), c.thumbW) << what;
        EXPECT_EQ(parts.look.currentThumb.getHeight(), c.thumbH) << what;
        EXPECT_FALSE(parts.look.currentThumb == parts.look.linkedThumb) << "a layout resets the shared thumb";
    }
}

TEST(FaderPairLayout, AZeroSizeKeepsTheThumbsButStillLaysOutTheFaders)
{
    GroupParts parts;
    parts.group->setSize(56, 320);
    const auto thumb = parts.look.currentThumb;

    parts.group->setSize(0, 0);
    EXPECT_TRUE(parts.look.currentThumb == thumb);
    EXPECT_EQ(parts.left.getBounds(), juce::Rectangle<int>());
    EXPECT_EQ(parts.right.getBounds(), juce::Rectangle<int>());
    EXPECT_TRUE(parts.group->linkStrip.isEmpty());

    parts.group->setSize(56, 5); // thumbs 22 x 0
    EXPECT_TRUE(parts.look.currentThumb == thumb);
    EXPECT_EQ(parts.right.getBounds(), juce::Rectangle<int>(34, 0, 22, 5));
}

TEST(FaderPairLayout, BeforeTheFirstLayoutNothingIsInTheStrip)
{
    GroupParts parts;
    auto& group = *parts.group;
    parts.left.setValue(-10.0, juce::dontSendNotification);
    parts.right.setValue(-30.0, juce::dontSendNotification);
    group.linked = false;

    const auto source = juce::Desktop::getInstance().getMainMouseSource();
    const auto at = [&](float y)
    {
        return juce::MouseEvent(source, {28.0f, y},
                                juce::ModifierKeys(juce::ModifierKeys::leftButtonModifier), 0.0f, 0.0f, 0.0f,
                                0.0f, 0.0f, &group, &group, juce::Time::getCurrentTime(), {28.0f, 100.0f},
                                juce::Time::getCurrentTime(), 1, y != 100.0f);
    };

    group.mouseDown(at(100.0f));
    EXPECT_FALSE(group.dragStartedInLinkStrip);
    group.mouseDrag(at(60.0f));
    group.mouseUp(at(60.0f));
    group.mouseWheelMove(at(60.0f), {0.0f, 0.5f, false, false, false});

    EXPECT_EQ(parts.left.getValue(), -10.0);
    EXPECT_EQ(parts.right.getValue(), -30.0);
    EXPECT_FALSE(group.linked);
}

namespace
{
// A desktop window holding one fader pair at (10, 20), 56 x 320: the strip is x 32..43 in the window.
struct FaderPair : ::testing::Test
{
    GroupParts parts;
    juce::Component window;
    Listener listener;
    juce::int64 time = 0;

    SliderStereoGroup2& group() { return *parts.group; }
    juce::Slider& left() { return parts.left; }
    juce::Slider& right() { return parts.right; }
    OrvSliderLookAndFeel2& look() { return parts.look; }

    static constexpr juce::Point<int> groupOrigin{10, 20};

    void SetUp() override
    {
        if (juce::Desktop::getInstance().getDisplays().getPrimaryDisplay() == nullptr)
            GTEST_SKIP() << "needs a display (run under Xvfb)";

        ignoreXErrors();

        // Off the screen, where the real pointer never is: only the events sent here reach the window,
        // and other programs on the same display are never disturbed.
        window.setBounds(-3000, -3000, 80, 360);
        window.addAndMakeVisible(group());
        group().setBounds(groupOrigin.x, groupOrigin.y, 56, 320);
        window.addToDesktop(0);
        window.setVisible(true);
        EXPECT_TRUE(pelktest::drainMessageLoop());

        listener.left = &left();
        left().addListener(&listener);
        right().addListener(&listener);
        time = juce::Time::currentTimeMillis();
    }

    void TearDown() override
    {
        left().removeListener(&listener);
        right().removeListener(&listener);
        window.removeFromDesktop();
    }

    void setValues(double l, double r)
    {
        left().setValue(l, juce::dontSendNotification);
        right().setValue(r, juce::dontSendNotification);
    }

    // Positions are in the group's coordinates.
    void send(juce::Point<int> p, bool buttonDown)
    {
        const auto mods =
            buttonDown ? juce::ModifierKeys(juce::ModifierKeys::leftButtonModifier) : juce::ModifierKeys();
        time += 400; // far enough apart that presses never make a double click
        window.getPeer()->handleMouseEvent(
            juce::MouseInputSource::InputSourceType::mouse, (p + groupOrigin).toFloat(), mods,
            juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation, time);
    }
    void move(juce::Point<int> p) { send(p, false); }
    void press(juce::Point<int> p)
    {
        move(p);
        send(p, true);
    }
    void dragTo(juce::Point<int> p) { send(p, true); }
    void release(juce::Point<int> p) { send(p, false); }
    void wheel(juce::Point<int> p, float deltaY)
    {
        time += 400;
        window.getPeer()->handleMouseWheel(juce::MouseInputSource::InputSourceType::mouse,
                                           (p + groupOrigin).toFloat(), time,
                                           {0.0f, deltaY, false, false, false});
    }

    // What a fader's own drag handling gives for a drag of dy pixels up from `start`.
    double dragged(double start, int dy)
    {
        const double proportion = (start + 60.0) / 60.0 + dy / (double) left().getMouseDragSensitivity();
        return juce::NormalisableRange<double>(-60.0, 0.0, 0.5)
            .snapToLegalValue(left().proportionOfLengthToValue(juce::jlimit(0.0, 1.0, proportion)));
    }

    // The notifications sent while the event was handled, then those that arrive later.
    std::pair<Changes, Changes> waves()
    {
        auto now = listener.take();
        EXPECT_TRUE(pelktest::drainMessageLoop()); // the asynchronous ones queued by the event
        return {now, listener.take()};
    }

    juce::Image render() { return group().createComponentSnapshot(group().getLocalBounds(), true, 1.0f); }

    int thumbTop(juce::Slider& s) { return (int) (s.getPositionOfValue(s.getValue()) - 16.0f); }
    bool shows(const juce::Image& image, juce::Slider& s, const juce::Image& thumb)
    {
        return pelktest::samePixels(image, {s.getX(), thumbTop(s)}, thumb);
    }
};

const juce::Point<int> inStrip{28, 200};
const juce::Point<int> onLeft{11, 200};
const juce::Point<int> onRight{45, 200};
} // namespace

TEST_F(FaderPair, StripDragMovesBothByTheDraggedDistanceThenJoinsAtTheLowerValue)
{
    setValues(-10.0, -30.0);
    group().linked = false;

    press(inStrip);
    EXPECT_TRUE(group().dragStartedInLinkStrip);
    EXPECT_EQ(waves(), std::make_pair(Changes{}, Changes{})) << "a press moves nothing";

    // First wave: each fader its own dragged value, at once. Second wave: the higher one lowered to
    // the lower value, later.
    dragTo(inStrip - juce::Point<int>(0, 25));
    const double l1 = dragged(-10.0, 25), r1 = dragged(-30.0, 25);
    EXPECT_EQ(waves(), std::make_pair(Changes{{'L', l1}, {'R', r1}}, Changes{{'L', r1}}));
    EXPECT_EQ(left().getValue(), r1);
    EXPECT_EQ(right().getValue(), r1);
    EXPECT_TRUE(group().linked);

    // Every step starts again from each fader's value at the press.
    dragTo(inStrip - juce::Point<int>(0, 50));
    const double l2 = dragged(-10.0, 50), r2 = dragged(-30.0, 50);
    EXPECT_EQ(waves(), std::make_pair(Changes{{'L', l2}, {'R', r2}}, Changes{{'L', r2}}));

    release(inStrip - juce::Point<int>(0, 50));
    EXPECT_FALSE(group().dragStartedInLinkStrip);
    EXPECT_EQ(waves(), std::make_pair(Changes{}, Changes{})) << "the release changes no value";
    EXPECT_EQ(listener.dragEnds, (std::vector<char>{'L', 'R'})) << "the release is forwarded to both";
    EXPECT_EQ(left().getValue(), r2);
    EXPECT_EQ(right().getValue(), r2);
    EXPECT_TRUE(look().currentThumb == look().linkedThumb);
}

TEST_F(FaderPair, StripDragReleasedOutsideTheStripIsNotForwarded)
{
    setValues(-20.0, -20.0);
    press(inStrip);
    dragTo(inStrip - juce::Point<int>(0, 25));
    // Leaving the strip does not matter to the drag itself.
    dragTo(onRight - juce::Point<int>(0, 50));
    const double reached = dragged(-20.0, 50);
    waves();
    EXPECT_EQ(left().getValue(), reached);
    EXPECT_EQ(right().getValue(), reached);

    release(onRight - juce::Point<int>(0, 50));
    EXPECT_FALSE(group().dragStartedInLinkStrip);
    EXPECT_TRUE(listener.dragEnds.empty()) << "neither fader hears the release";
    EXPECT_EQ(waves(), std::make_pair(Changes{}, Changes{}));
    EXPECT_EQ(left().getValue(), reached);
    EXPECT_EQ(right().getValue(), reached);

    // The next press on a fader drags that fader alone.
    press(onLeft);
    dragTo(onLeft + juce::Point<int>(0, 25));
    EXPECT_EQ(waves(), std::make_pair(Changes{{'L', dragged(reached, -25)}}, Changes{}));
    EXPECT_EQ(right().getValue(), reached);
    release(onLeft + juce::Point<int>(0, 25));
}

TEST_F(FaderPair, DragFromTheLeftFaderOverTheStripMovesItAloneAndNeverLinks)
{
    setValues(-10.0, -30.0);
    group().linked = false;

    press(onLeft);
    EXPECT_FALSE(group().dragStartedInLinkStrip);
    dragTo(inStrip - juce::Point<int>(0, 30));
    EXPECT_EQ(waves(), std::make_pair(Changes{{'L', dragged(-10.0, 30)}}, Changes{}));

    // Released over the strip: the release reaches both faders, and neither value changes.
    release(inStrip - juce::Point<int>(0, 30));
    EXPECT_EQ(waves(), std::make_pair(Changes{}, Changes{}));
    EXPECT_EQ(left().getValue(), dragged(-10.0, 30));
    EXPECT_EQ(right().getValue(), -30.0);
    EXPECT_FALSE(group().linked);
}

TEST_F(FaderPair, WheelOverTheStripMovesBothThenJoinsAtTheLowerValue)
{
    setValues(-10.0, -30.0);
    group().linked = false;

    wheel(inStrip, 0.1f); // 0.9 dB up, onto the 0.5 dB grid
    EXPECT_EQ(waves(), std::make_pair(Changes{{'L', -9.0}, {'R', -29.0}}, Changes{{'L', -29.0}}));
    EXPECT_TRUE(group().linked);
    EXPECT_TRUE(look().currentThumb == look().linkedThumb);
}

TEST_F(FaderPair, WheelOverAFaderMovesItAloneAndShowsTheUnlinkedThumb)
{
    setValues(-10.0, -30.0);
    look().currentThumb = look().linkedThumb;

    wheel(onRight, 0.1f);
    EXPECT_EQ(waves(), std::make_pair(Changes{{'R', -29.0}}, Changes{}));
    EXPECT_EQ(left().getValue(), -10.0);
    EXPECT_FALSE(group().linked);
    EXPECT_TRUE(look().currentThumb == look().unlinkedThumb);
}

TEST_F(FaderPair, PointerOverTheStripShowsBothLinkedOverAFaderOnlyThatOne)
{
    setValues(-20.0, -35.0);

    move(inStrip);
    EXPECT_TRUE(look().currentThumb == look().linkedThumb);
    auto image = render();
    pelktest::saveRender(image, "fader-pair-pointer-over-strip", 3);
    EXPECT_TRUE(shows(image, left(), look().linkedThumb));
    EXPECT_TRUE(shows(image, right(), look().linkedThumb));

    move(onLeft);
    EXPECT_TRUE(look().currentThumb == look().unlinkedThumb);
    image = render();
    pelktest::saveRender(image, "fader-pair-pointer-over-left", 3);
    EXPECT_TRUE(shows(image, left(), look().linkedThumb));
    EXPECT_TRUE(shows(image, right(), look().unlinkedThumb));

    move(onRight);
    image = render();
    EXPECT_TRUE(shows(image, left(), look().unlinkedThumb));
    EXPECT_TRUE(shows(image, right(), look().linkedThumb));

    // Leaving the group keeps what the last move chose.
    move(inStrip);
    move({70, 200});
    EXPECT_TRUE(look().currentThumb == look().linkedThumb);
}

TEST_F(FaderPair, DisabledGroupIgnoresMoveDragAndWheelAndKeepsTheThumb)
{
    setValues(-10.0, -30.0);
    group().setEnabled(false);
    const auto thumb = look().currentThumb;

    move(inStrip);
    press(inStrip);
    dragTo(inStrip - juce::Point<int>(0, 40));
    release(inStrip - juce::Point<int>(0, 40));
    wheel(inStrip, 0.3f);
    wheel(onRight, 0.3f);
    press(onLeft);
    dragTo(onLeft - juce::Point<int>(0, 40));
    release(onLeft - juce::Point<int>(0, 40));

    EXPECT_EQ(waves(), std::make_pair(Changes{}, Changes{}));
    EXPECT_EQ(left().getValue(), -10.0);
    EXPECT_EQ(right().getValue(), -30.0);
    EXPECT_TRUE(look().currentThumb == thumb);

    // A disabled fader under the pointer still draws the shared thumb.
    move(onLeft);
    const auto image = render();
    EXPECT_TRUE(shows(image, left(), thumb));
    EXPECT_TRUE(shows(image, right(), thumb));
}

TEST_F(FaderPair, AColumnRightOfTheRightFaderIsOutsideTheStrip)
{
    group().setSize(57, 320);
    setValues(-10.0, -30.0);
    look().currentThumb = look().linkedThumb;

    move({56, 200});
    EXPECT_TRUE(look().currentThumb == look().unlinkedThumb);

    group().linked = true;
    wheel({56, 200}, 0.3f);
    EXPECT_EQ(waves(), std::make_pair(Changes{}, Changes{}));
    EXPECT_FALSE(group().linked);

    press({56, 200});
    EXPECT_FALSE(group().dragStartedInLinkStrip);
    release({56, 200});
}

TEST_F(FaderPair, FadersThatOutliveTheGroupNoLongerReportToIt)
{
    setValues(-10.0, -30.0);
    parts.group.reset();

    // The faders move on to another parent and keep receiving events.
    window.addAndMakeVisible(left());
    window.addAndMakeVisible(right());
    left().setLookAndFeel(&look());
    left().setBounds(groupOrigin.x, groupOrigin.y, 22, 320);
    right().setBounds(groupOrigin.x + 34, groupOrigin.y, 22, 320);

    move(onLeft);
    press(onLeft);
    dragTo(onLeft - juce::Point<int>(0, 25));
    release(onLeft - juce::Point<int>(0, 25));
    wheel(onRight, 0.1f);

    EXPECT_EQ(waves(), std::make_pair(Changes{{'L', dragged(-10.0, 25)}, {'R', -29.0}}, Changes{}));
    left().setLookAndFeel(nullptr);
}
