// The main panel's layout and painting on the real panel: where every widget lands at the largest and the
// smallest size, which art each width takes and the size word it writes, what a zero size does, that the
// image buttons show their own area of the art, and that a menu strip above the art shifts everything.

#include "BinaryData.h"
#include "PanelTestSupport.h"

#include <gtest/gtest.h>

namespace
{
using R = juce::Rectangle<int>;

juce::Image art(const unsigned char* data, int size)
{
    return juce::ImageCache::getFromMemory(data, size);
}

// True when every pixel of `part` equals the pixel of `whole` at `area`'s top-left, and both have
// `area`'s size.
bool showsAreaOf(const juce::Image& part, const juce::Image& whole, R area)
{
    if (part.getWidth() != area.getWidth() || part.getHeight() != area.getHeight())
        return false;

    for (int y = 0; y < area.getHeight(); ++y)
        for (int x = 0; x < area.getWidth(); ++x)
            if (part.getPixelAt(x, y) != whole.getPixelAt(area.getX() + x, area.getY() + y))
                return false;

    return true;
}

bool samePixels(const juce::Image& a, const juce::Image& b)
{
    return a.getBounds() == b.getBounds() && showsAreaOf(a, b, b.getBounds());
}

// The largest difference of one colour channel between two images of the same size.
int largestDifference(const juce::Image& a, const juce::Image& b)
{
    if (a.getBounds() != b.getBounds())
        return 256;

    int largest = 0;
    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
        {
            const auto p = a.getPixelAt(x, y), q = b.getPixelAt(x, y);
            largest = juce::jmax(largest, std::abs(p.getRed() - q.getRed()),
                                 std::abs(p.getGreen() - q.getGreen()), std::abs(p.getBlue() - q.getBlue()));
        }
    return largest;
}

struct Placed
{
    const char* name;
    juce::Component* widget;
    R expected;
};

juce::Array<juce::ImageButton*> imageButtons(MainComponent& p)
{
    return {p.buttonMuteIn.get(), p.buttonMuteOut.get(), p.buttonTriggerMonitoringRecord.get(),
            p.buttonTriggerMonitoringHP.get()};
}

// The fifteen widgets in layout order, with the bounds they must get at 452 x 696 or at 226 x 348.
std::vector<Placed> expectedPlaces(MainComponent& p, bool largest)
{
    auto at = [largest](R big, R small) { return largest ? big : small; };
    return {
        {"buttonMuteIn", p.buttonMuteIn.get(), at({77, 513, 77, 44}, {38, 256, 38, 22})},
        {"buttonMuteOut", p.buttonMuteOut.get(), at({297, 513, 77, 44}, {148, 256, 38, 22})},
        {"sliderInGroup", p.sliderInGroup.get(), at({89, 129, 56, 319}, {44, 64, 28, 159})},
        {"sliderOutGroup", p.sliderOutGroup.get(), at({307, 129, 56, 319}, {153, 64, 28, 159})},
        {"labelInL", p.labelInL.get(), at({34, 460, 81, 31}, {17, 230, 40, 15})},
        {"labelInR", p.labelInR.get(), at({118, 460, 81, 31}, {59, 230, 40, 15})},
        {"labelOutL", p.labelOutL.get(), at({253, 460, 81, 31}, {126, 230, 40, 15})},
        {"labelOutR", p.labelOutR.get(), at({336, 460, 81, 31}, {168, 230, 40, 15})},
        {"levelMeter1", p.levelMeter1.get(), at({64, 144, 20, 287}, {32, 72, 10, 143})},
        {"levelMeter2", p.levelMeter2.get(), at({151, 144, 20, 287}, {75, 72, 10, 143})},
        {"levelMeter3", p.levelMeter3.get(), at({282, 144, 20, 287}, {141, 72, 10, 143})},
        {"levelMeter4", p.levelMeter4.get(), at({369, 144, 20, 287}, {184, 72, 10, 143})},
        {"buttonTriggerMonitoringRecord", p.buttonTriggerMonitoringRecord.get(),
         at({33, 625, 126, 34}, {16, 312, 63, 17})},
        {"buttonTriggerMonitoringHP", p.buttonTriggerMonitoringHP.get(),
         at({290, 625, 126, 34}, {145, 312, 63, 17})},
        {"sliderVolMon", p.sliderVolMon.get(), at({184, 600, 84, 84}, {92, 300, 42, 42})},
    };
}

// ---- Layout at the largest and the smallest size -----------------------------------------------------

struct SizeCase
{
    int width, height;
    const unsigned char* background;
    int backgroundSize;
    const unsigned char* faces;
    int facesSize;
    juce::Point<int> thumb; // the faders' thumb size the pairs leave behind
};

void PrintTo(const SizeCase& c, std::ostream* os)
{
    *os << c.width << " x " << c.height;
}

class LayoutAtArtSize : public paneltest::PanelTest, public ::testing::WithParamInterface<SizeCase>
{
};

TEST_P(LayoutAtArtSize, PlacesEveryWidgetAndCutsEachButtonFromTheArt)
{
    const auto c = GetParam();
    auto& p = makePanel();
    p.setSize(c.width, c.height);

    EXPECT_EQ(p.menuBar->getBounds(), R(0, 0, c.width, 0));
    for (const auto& w : expectedPlaces(p, c.width == 452))
        EXPECT_EQ(w.widget->getBounds(), w.expected) << w.name;

    // Placing the pairs laid out their faders; the output pair, placed last, left the thumb size.
    EXPECT_EQ(p.sliderInR->getBounds(),
              p.sliderInGroup->getLocalBounds()
                  .withTrimmedLeft((int) (17.0f / 28.0f * p.sliderInGroup->getWidth()))
                  .withWidth((int) (11.0f / 28.0f * p.sliderInGroup->getWidth())));
    EXPECT_EQ(p.sliderLookAndFeel2.currentThumb.getBounds().getBottomRight(), c.thumb);

    // At the art's own size the images are the art itself, pixel for pixel.
    EXPECT_TRUE(samePixels(p.backgroundImage, art(c.background, c.backgroundSize)));
    EXPECT_TRUE(samePixels(p.buttonFaceImage, art(c.faces, c.facesSize)));

    // Each button: off and under the pointer its own area of the background, pressed or on its area of
    // the lit face; the faces differ there, so a switched-on button changes only its own area.
    for (auto* b : imageButtons(p))
    {
        const auto area = b->getBounds();
        EXPECT_TRUE(showsAreaOf(b->getNormalImage(), p.backgroundImage, area)) << b->getName();
        EXPECT_TRUE(showsAreaOf(b->getOverImage(), p.backgroundImage, area)) << b->getName();
        EXPECT_TRUE(showsAreaOf(b->getDownImage(), p.buttonFaceImage, area)) << b->getName();
        EXPECT_FALSE(showsAreaOf(b->getDownImage(), p.backgroundImage, area)) << b->getName();
        auto* asComponent = static_cast<juce::Component*>(b);
        EXPECT_TRUE(asComponent->hitTest(0, 0) &&
                    asComponent->hitTest(area.getWidth() - 1, area.getHeight() - 1))
            << b->getName() << ": every point of the button is clickable";
    }
}

INSTANTIATE_TEST_SUITE_P(Panel, LayoutAtArtSize,
                         ::testing::Values(SizeCase{452,
                                                    696,
                                                    ORVBIN::temp_binary_data_10,
                                                    ORVBIN::temp_binary_data_10Size,
                                                    ORVBIN::temp_binary_data_11,
                                                    ORVBIN::temp_binary_data_11Size,
                                                    {22, 32}},
                                           SizeCase{226,
                                                    348,
                                                    ORVBIN::temp_binary_data_8,
                                                    ORVBIN::temp_binary_data_8Size,
                                                    ORVBIN::temp_binary_data_9,
                                                    ORVBIN::temp_binary_data_9Size,
                                                    {11, 15}}),
                         [](const auto& caseInfo) {
                             return std::to_string(caseInfo.param.width) + "x" +
                                    std::to_string(caseInfo.param.height);
                         });

// ---- Art and size word by width ----------------------------------------------------------------------

struct WidthCase
{
    int width;
    const char* word;
    bool smallArt;
};

void PrintTo(const WidthCase& c, std::ostream* os)
{
    *os << "width " << c.width;
}

class ArtByWidth : public paneltest::PanelTest, public ::testing::WithParamInterface<WidthCase>
{
};

TEST_P(ArtByWidth, RescalesThePairForTheWidthAndWritesItsSizeWord)
{
    const auto c = GetParam();
    const int height = (int) std::lround(c.width * 348.0 / 226.0);
    auto& p = makePanel();

    ::testing::internal::CaptureStderr();
    p.setSize(c.width, height);
    const auto written = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(written, std::string(c.word) + "\n");

    const auto background = c.smallArt ? art(ORVBIN::temp_binary_data_8, ORVBIN::temp_binary_data_8Size)
                                       : art(ORVBIN::temp_binary_data_10, ORVBIN::temp_binary_data_10Size);
    const auto faces = c.smallArt ? art(ORVBIN::temp_binary_data_9, ORVBIN::temp_binary_data_9Size)
                                  : art(ORVBIN::temp_binary_data_11, ORVBIN::temp_binary_data_11Size);
    const auto other = c.smallArt ? art(ORVBIN::temp_binary_data_10, ORVBIN::temp_binary_data_10Size)
                                  : art(ORVBIN::temp_binary_data_8, ORVBIN::temp_binary_data_8Size);
    const auto hq = juce::Graphics::highResamplingQuality;

    // The framework's rescale covers the last column by 253/255 and takes the rest from pixels it leaves
    // unset, so two rescales of one picture may differ there by a step or two.
    EXPECT_LE(largestDifference(p.backgroundImage, background.rescaled(c.width, height, hq)), 2);
    EXPECT_LE(largestDifference(p.buttonFaceImage, faces.rescaled(c.width, height, hq)), 2);
    EXPECT_GT(largestDifference(p.backgroundImage, other.rescaled(c.width, height, hq)), 32);
}

INSTANTIATE_TEST_SUITE_P(Panel, ArtByWidth,
                         ::testing::Values(WidthCase{235, "klein", true}, WidthCase{236, "mittel", false},
                                           WidthCase{316, "mittel", false}, WidthCase{317, "gross", false}),
                         [](const auto& caseInfo) { return std::to_string(caseInfo.param.width); });

// ---- A zero size ---------------------------------------------------------------------------------------

class ZeroSize : public paneltest::PanelTest, public ::testing::WithParamInterface<juce::Point<int>>
{
};

TEST_P(ZeroSize, RescalesNothingWritesNothingAndStillPlacesEveryWidget)
{
    const auto size = GetParam();
    auto& p = makePanel();
    p.setSize(452, 696);
    const auto background = p.backgroundImage;
    const auto faces = p.buttonFaceImage;

    ::testing::internal::CaptureStderr();
    p.setSize(size.x, size.y);
    const auto written = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(written, "");
    EXPECT_TRUE(p.backgroundImage == background) << "the images are left as they are";
    EXPECT_TRUE(p.buttonFaceImage == faces);

    // A zero width keeps every widget's y and height of the same height, and a zero height every x and
    // width of the same width.
    EXPECT_EQ(p.menuBar->getBounds(), R(0, 0, size.x, 0));
    for (const auto& w : expectedPlaces(p, true))
    {
        auto expected = w.expected;
        if (size.x == 0)
            expected = expected.withX(0).withWidth(0);
        if (size.y == 0)
            expected = expected.withY(0).withHeight(0);
        EXPECT_EQ(w.widget->getBounds(), expected) << w.name;
    }

    // Painting an empty panel draws nothing and does not fail; the panel comes back whole.
    juce::Image canvas(juce::Image::ARGB, 8, 8, true);
    juce::Graphics g(canvas);
    p.paintEntireComponent(g, false);

    p.setSize(452, 696);
    for (const auto& w : expectedPlaces(p, true))
        EXPECT_EQ(w.widget->getBounds(), w.expected) << w.name;
    for (auto* b : imageButtons(p))
        EXPECT_TRUE(showsAreaOf(b->getDownImage(), p.buttonFaceImage, b->getBounds())) << b->getName();
}

INSTANTIATE_TEST_SUITE_P(Panel, ZeroSize,
                         ::testing::Values(juce::Point<int>(0, 0), juce::Point<int>(452, 0),
                                           juce::Point<int>(0, 696)),
                         [](const auto& caseInfo) {
                             return std::to_string(caseInfo.param.x) + "x" + std::to_string(caseInfo.param.y);
                         });

// ---- A menu strip above the art ------------------------------------------------------------------------

using MenuStrip = paneltest::PanelTest;

TEST_F(MenuStrip, ShiftsTheWidgetsAndTheArtBelowItAndCutsTheButtonsAtTheirPlaceInTheArt)
{
    auto& p = makePanel();
    p.menuBarHeight = 24;
    p.imageOffset = {0, 24};
    p.setSize(452, 720);

    EXPECT_EQ(p.menuBar->getBounds(), R(0, 0, 452, 24));
    EXPECT_EQ(p.backgroundImage.getBounds(), R(0, 0, 452, 696));
    for (const auto& w : expectedPlaces(p, true))
        EXPECT_EQ(w.widget->getBounds(), w.expected.translated(0, 24)) << w.name;
    for (auto* b : imageButtons(p))
    {
        const auto inArt = b->getBounds().translated(0, -24);
        EXPECT_TRUE(showsAreaOf(b->getNormalImage(), p.backgroundImage, inArt)) << b->getName();
        EXPECT_TRUE(showsAreaOf(b->getDownImage(), p.buttonFaceImage, inArt)) << b->getName();
    }

    // The background is painted unscaled just below the strip; above it nothing is drawn.
    juce::Image canvas(juce::Image::ARGB, 452, 720, true);
    {
        juce::Graphics g(canvas);
        p.paint(g);
    }
    EXPECT_TRUE(showsAreaOf(canvas.getClippedImage({0, 24, 452, 696}), p.backgroundImage, {0, 0, 452, 696}));
    EXPECT_EQ(canvas.getPixelAt(10, 10), juce::Colour(0x00000000));
}
} // namespace
