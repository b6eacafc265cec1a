// The About box: the picture with the version text written into its text box only, the invisible close
// area and product link where the picture draws them, the close area ending the modal state of the
// dialog window around the box (and of nothing else), and the link opening the product page while the
// box stays open. Renders are written out for a person to judge.

#include "AboutWindow.h"
#include "BinaryData.h"
#include "IgnoreXErrors.h"
#include "Renders.h"
#include "Scratch.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace
{
const juce::Rectangle<int> textBox{275, 186, 200, 20};
const juce::Rectangle<int> closeArea{109, 166, 41, 23};
const juce::Rectangle<int> linkArea{59, 140, 138, 20};

juce::Image aboutPicture()
{
    return pelktest::embeddedPicture(ORVBIN::temp_binary_data_17, ORVBIN::temp_binary_data_17Size);
}

juce::Image render(AboutWindow& box)
{
    return box.createComponentSnapshot(box.getLocalBounds(), true, 1.0f);
}

// The bounding box of the pixels where two images of the same size differ, and how many there are.
struct Difference
{
    juce::Rectangle<int> bounds;
    int pixels = 0;
};

Difference difference(const juce::Image& a, const juce::Image& b)
{
    Difference d;
    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
            if (a.getPixelAt(x, y).getARGB() != b.getPixelAt(x, y).getARGB())
            {
                const juce::Rectangle<int> pixel(x, y, 1, 1);
                d.bounds = d.pixels == 0 ? pixel : d.bounds.getUnion(pixel);
                ++d.pixels;
            }
    return d;
}

bool isGreyish(juce::Colour c)
{
    return std::abs(c.getRed() - c.getGreen()) < 12 && std::abs(c.getGreen() - c.getBlue()) < 12 &&
           c.getBrightness() < 0.85f;
}

struct AboutBox : ::testing::Test
{
    AboutWindow box{"Pelk VOD v1.5.0.0"};

    // Shown as a window's content shows it.
    void SetUp() override { box.setVisible(true); }
};
} // namespace

TEST_F(AboutBox, TakesThePicturesSizeWithTwoInvisibleButtonsOverIt)
{
    EXPECT_EQ(box.versionText, "Pelk VOD v1.5.0.0");
    EXPECT_EQ(box.textPosition, juce::Point<int>(275, 186));
    EXPECT_EQ(box.backgroundImage.getBounds(), juce::Rectangle<int>(0, 0, 534, 212));
    EXPECT_EQ(box.getBounds(), juce::Rectangle<int>(0, 0, 534, 212));

    auto& close = *box.closeButton;
    EXPECT_EQ(close.getParentComponent(), &box);
    EXPECT_TRUE(close.isVisible());
    EXPECT_EQ(close.getName(), "");
    EXPECT_EQ(close.getBounds(), closeArea);
    for (const auto& image : {close.getNormalImage(), close.getOverImage(), close.getDownImage()})
    {
        EXPECT_EQ(image.getBounds(), juce::Rectangle<int>(0, 0, 41, 23));
        EXPECT_TRUE(image.hasAlphaChannel());
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                ASSERT_EQ(image.getPixelAt(x, y).getAlpha(), 0);
    }

    auto& link = *box.productLink;
    EXPECT_EQ(link.getParentComponent(), &box);
    EXPECT_TRUE(link.isVisible());
    EXPECT_EQ(link.getButtonText(), "");
    EXPECT_EQ(link.getBounds(), linkArea);
    EXPECT_TRUE(link.getURL().isWellFormed());
    EXPECT_EQ(link.getURL().toString(false), "https://www.orvalis.example/");
    EXPECT_EQ(link.getURL().getDomain(), "www.orvalis.example");
    EXPECT_EQ(link.getMouseCursor(), juce::MouseCursor(juce::MouseCursor::PointingHandCursor));
}

namespace
{
enum class Target
{
    box,
    close,
    link,
};

struct ProbeCase
{
    juce::Point<int> at;
    Target target;
};

void PrintTo(const ProbeCase& c, std::ostream* os)
{
    *os << "(" << c.at.x << ", " << c.at.y << ")";
}

struct AboutAreas : AboutBox, ::testing::WithParamInterface<ProbeCase>
{
};
} // namespace

// The whole close rectangle takes clicks (alpha threshold 0 on transparent images), and so does the
// link's; a pixel outside either belongs to the box.
TEST_P(AboutAreas, ThePointerReachesTheButtonOnlyInsideItsArea)
{
    const auto [at, target] = GetParam();
    const juce::Component* expected = target == Target::close  ? (juce::Component*) box.closeButton.get()
                                      : target == Target::link ? (juce::Component*) box.productLink.get()
                                                               : (juce::Component*) &box;
    EXPECT_EQ(box.getComponentAt(at), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Probes, AboutAreas,
    ::testing::Values(ProbeCase{{109, 166}, Target::close}, ProbeCase{{149, 188}, Target::close},
                      ProbeCase{{149, 166}, Target::close}, ProbeCase{{109, 188}, Target::close},
                      ProbeCase{{129, 177}, Target::close}, ProbeCase{{108, 177}, Target::box},
                      ProbeCase{{150, 177}, Target::box}, ProbeCase{{129, 165}, Target::box},
                      ProbeCase{{129, 189}, Target::box}, ProbeCase{{59, 140}, Target::link},
                      ProbeCase{{196, 159}, Target::link}, ProbeCase{{128, 150}, Target::link},
                      ProbeCase{{58, 150}, Target::box}, ProbeCase{{197, 150}, Target::box},
                      ProbeCase{{128, 139}, Target::box}, ProbeCase{{128, 160}, Target::box},
                      ProbeCase{{300, 196}, Target::box}),
    [](const auto& c) { return "x" + std::to_string(c.param.at.x) + "y" + std::to_string(c.param.at.y); });

namespace
{
struct TextCase
{
    const char* label;
    const char* text;
};

void PrintTo(const TextCase& c, std::ostream* os)
{
    *os << c.label;
}

struct AboutText : ::testing::TestWithParam<TextCase>
{
};
} // namespace

// The version text is drawn in grey into the picture's text box, starting at its left edge, on one line
// and squeezed into its 200 pixels; every pixel outside the box is the picture's own. Neither the pointer
// over a button nor a pressed close button changes a pixel.
TEST_P(AboutText, OnlyTheTextBoxDiffersFromThePicture)
{
    AboutWindow box(GetParam().text);
    const auto picture = aboutPicture();
    const auto rendered = render(box);
    pelktest::saveRender(rendered, juce::String("about-") + GetParam().label, 2);

    const auto d = difference(rendered, picture);
    ASSERT_GT(d.pixels, 40) << "the text is drawn";
    EXPECT_TRUE(textBox.contains(d.bounds)) << d.bounds.toString();
    EXPECT_LE(d.bounds.getX(), 278) << "left-justified from x 275";
    EXPECT_LE(d.bounds.getHeight(), 16) << "one line";

    int greyPixels = 0;
    for (int y = d.bounds.getY(); y < d.bounds.getBottom(); ++y)
        for (int x = d.bounds.getX(); x < d.bounds.getRight(); ++x)
            if (isGreyish(rendered.getPixelAt(x, y)))
                ++greyPixels;
    EXPECT_GT(greyPixels, 10);

    box.closeButton->setState(juce::Button::buttonDown);
    box.productLink->setState(juce::Button::buttonOver);
    EXPECT_EQ(difference(render(box), rendered).pixels, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AboutText,
    ::testing::Values(TextCase{"version", "Pelk VOD v1.5.0.0"},
                      TextCase{"long",
                               "Pelk VOD v1.5.0.0 (a version text far too long for the two hundred pixels)"}),
    [](const auto& c) { return std::string(c.param.label); });

TEST_F(AboutBox, TheGreyFrameShowsOnlyWithoutThePicture)
{
    box.backgroundImage = juce::Image();
    const auto rendered = render(box);
    pelktest::saveRender(rendered, "about-without-picture", 1);

    for (const auto p : {juce::Point<int>(0, 0), juce::Point<int>(533, 0), juce::Point<int>(0, 211),
                         juce::Point<int>(533, 211), juce::Point<int>(267, 0), juce::Point<int>(0, 106)})
        EXPECT_EQ(rendered.getPixelAt(p.x, p.y).getARGB(), 0xff808080u) << p.toString();

    EXPECT_EQ(rendered.getPixelAt(267, 106).getAlpha(), 0) << "inside the frame the box draws nothing";
}

TEST_F(AboutBox, ACloseOutsideAnyDialogWindowDoesNothing)
{
    box.buttonClicked(box.closeButton.get());

    juce::Component holder;
    holder.addAndMakeVisible(box);
    box.buttonClicked(box.closeButton.get());
    EXPECT_EQ(box.getParentComponent(), &holder);
    holder.removeChildComponent(&box);
}

namespace
{
// The box in a real window on the display (off the screen, so the real pointer never interferes), made
// modal, and clicked through the window's peer as the platform would.
struct AboutOnScreen : ::testing::Test
{
    AboutWindow box{"Pelk VOD v1.5.0.0"};
    std::unique_ptr<juce::ResizableWindow> window;
    juce::int64 time = 0;

    void SetUp() override
    {
        if (juce::Desktop::getInstance().getDisplays().getPrimaryDisplay() == nullptr)
            GTEST_SKIP() << "needs a display (run under Xvfb)";

        ignoreXErrors();
        time = juce::Time::currentTimeMillis();
    }

    void TearDown() override
    {
        if (window != nullptr)
        {
            window->exitModalState(0);
            window->clearContentComponent();
        }
        window.reset();
    }

    // The about dialog as the panel builds it.
    void openDialog(juce::Component& content)
    {
        juce::DialogWindow::LaunchOptions options;
        options.dialogTitle = "About Pelk VOD";
        options.content.setNonOwned(&content);
        options.escapeKeyTriggersCloseButton = true;
        options.useNativeTitleBar = false;
        options.resizable = false;
        window.reset(options.create());
        show();
    }

    void openPlainWindow()
    {
        auto* plain = new juce::DocumentWindow("plain", juce::Colours::lightgrey, 0);
        plain->setContentNonOwned(&box, true);
        window.reset(plain);
        show();
    }

    void show()
    {
        window->setTopLeftPosition(-3000, -3000);
        window->enterModalState(true);
        EXPECT_TRUE(pelktest::drainMessageLoop());
        ASSERT_TRUE(window->isCurrentlyModal());
    }

    // A left click at a point of the box.
    void click(juce::Point<int> at)
    {
        const auto p = window->getLocalPoint(&box, at).toFloat();
        auto* peer = window->getPeer();
        ASSERT_NE(peer, nullptr);

        const auto send = [&](juce::ModifierKeys mods)
        {
            time += 400;
            peer->handleMouseEvent(juce::MouseInputSource::InputSourceType::mouse, p, mods,
                                   juce::MouseInputSource::defaultPressure,
                                   juce::MouseInputSource::defaultOrientation, time);
        };

        send({});
        send(juce::ModifierKeys::leftButtonModifier);
        send({});
        EXPECT_TRUE(pelktest::drainMessageLoop());
    }
};

struct CloseCase
{
    juce::Point<int> at;
    bool closes;
};

void PrintTo(const CloseCase& c, std::ostream* os)
{
    *os << "(" << c.at.x << ", " << c.at.y << ")";
}

struct AboutCloseArea : AboutOnScreen, ::testing::WithParamInterface<CloseCase>
{
};
} // namespace

TEST_P(AboutCloseArea, AClickInTheCloseAreaEndsTheDialogsModalState)
{
    openDialog(box);
    const auto before = render(box);

    click(GetParam().at);
    EXPECT_EQ(window->isCurrentlyModal(), !GetParam().closes);

    if (!GetParam().closes)
    {
        EXPECT_EQ(difference(render(box), before).pixels, 0) << "nothing changes under the pointer";
    }
}

INSTANTIATE_TEST_SUITE_P(Clicks, AboutCloseArea,
                         ::testing::Values(CloseCase{{109, 166}, true}, CloseCase{{149, 188}, true},
                                           CloseCase{{129, 177}, true}, CloseCase{{108, 177}, false},
                                           CloseCase{{150, 177}, false}, CloseCase{{129, 165}, false},
                                           CloseCase{{129, 189}, false}),
                         [](const auto& c)
                         { return "x" + std::to_string(c.param.at.x) + "y" + std::to_string(c.param.at.y); });

TEST_F(AboutOnScreen, TheCloseAreaEndsTheFirstDialogWindowAboveTheBox)
{
    juce::Component holder;
    holder.setSize(box.getWidth() + 20, box.getHeight() + 20);
    holder.addAndMakeVisible(box);
    box.setTopLeftPosition(10, 10);
    openDialog(holder);

    click({129, 177});
    EXPECT_FALSE(window->isCurrentlyModal());
    holder.removeChildComponent(&box);
}

TEST_F(AboutOnScreen, TheCloseAreaIgnoresAWindowThatIsNotADialogWindow)
{
    openPlainWindow();
    click({129, 177});
    EXPECT_TRUE(window->isCurrentlyModal());
}

// The link opens the product page through the desktop's opener, here a stand-in first on PATH that
// records its argument, and the box stays open.
TEST_F(AboutOnScreen, TheLinkOpensTheProductPageAndTheBoxStaysOpen)
{
    const pelktest::ScratchFolder folder("pelk-about-test");
    const auto log = folder.child("opened.txt");
    const auto opener = folder.child("xdg-open");
    ASSERT_TRUE(opener.replaceWithText(
        "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + log.getFullPathName() + "'\n", false, false, "\n"));
    ASSERT_TRUE(opener.setExecutePermission(true));
    pelktest::ScopedEnvironment environment;
    environment.set("PATH",
                    (folder.path().getFullPathName() + ":" + juce::String(getenv("PATH"))).toStdString());

    const juce::String url = "https://www.orvalis.example/\n";
    const auto lines = [&] { return log.loadFileAsString().retainCharacters("\n").length(); };

    openDialog(box);
    click({59, 140});
    EXPECT_TRUE(pelktest::pumpUntil([&] { return lines() >= 1; }));
    EXPECT_EQ(log.loadFileAsString(), url);
    EXPECT_TRUE(window->isCurrentlyModal());

    // A click beside the link opens nothing: the next click on the link adds the only further line.
    click({58, 140});
    click({59, 140});
    EXPECT_TRUE(pelktest::pumpUntil([&] { return lines() >= 2; }));
    EXPECT_EQ(log.loadFileAsString(), url + url);
}
