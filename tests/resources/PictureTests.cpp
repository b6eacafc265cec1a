// The embedded panel pictures: each decodes to its size, is an opaque 8-bit indexed PNG, pairs of
// resolutions match, and the lit pictures differ from their unlit partners only where a widget shows them.

#include "BinaryData.h"
#include "PngChunks.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{
struct Picture
{
    const char* name;
    const char* file; // under resources/images
    const unsigned char* data;
    int size;
    int width, height;
};

#define PELK_PICTURE(n, file, w, h)                                                                          \
    Picture                                                                                                  \
    {                                                                                                        \
        "temp_binary_data_" #n, file, ORVBIN::temp_binary_data_##n, ORVBIN::temp_binary_data_##n##Size, w, h \
    }

const std::vector<Picture>& allPictures()
{
    static const std::vector<Picture> pictures = {
        PELK_PICTURE(2, "routing-matrix.png", 522, 424),
        PELK_PICTURE(3, "routing-matrix-lit.png", 522, 424),
        PELK_PICTURE(4, "loopback-1x.png", 157, 161),
        PELK_PICTURE(6, "loopback-2x.png", 314, 322),
        PELK_PICTURE(7, "loopback-lit-2x.png", 314, 322),
        PELK_PICTURE(8, "panel-background-1x.png", 226, 348),
        PELK_PICTURE(9, "panel-face-1x.png", 226, 348),
        PELK_PICTURE(10, "panel-background-2x.png", 452, 696),
        PELK_PICTURE(11, "panel-face-2x.png", 452, 696),
        PELK_PICTURE(12, "thumb-1x.png", 11, 17),
        PELK_PICTURE(13, "thumb-linked-1x.png", 11, 17),
        PELK_PICTURE(14, "thumb-2x.png", 22, 33),
        PELK_PICTURE(15, "thumb-linked-2x.png", 22, 33),
        PELK_PICTURE(17, "about.png", 534, 212),
    };
    return pictures;
}

const Picture& picture(int number)
{
    const auto name = "temp_binary_data_" + std::to_string(number);
    for (const auto& p : allPictures())
        if (name == p.name)
            return p;
    throw std::runtime_error("no picture " + name);
}

juce::Image decode(const Picture& p)
{
    return juce::ImageCache::getFromMemory(p.data, p.size);
}
} // namespace

TEST(Pictures, EachDecodesToItsSizeWithEveryPixelOpaque)
{
    for (const auto& p : allPictures())
    {
        SCOPED_TRACE(p.name);
        const auto image = decode(p);
        ASSERT_TRUE(image.isValid());
        EXPECT_EQ(image.getWidth(), p.width);
        EXPECT_EQ(image.getHeight(), p.height);

        juce::MemoryInputStream stream(p.data, size_t(p.size), false);
        juce::PNGImageFormat png;
        EXPECT_TRUE(png.canUnderstand(stream));

        int translucent = 0;
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                translucent += image.getPixelAt(x, y).getAlpha() != 255 ? 1 : 0;
        EXPECT_EQ(translucent, 0);
    }
}

TEST(Pictures, EachArrayHoldsTheCommittedFileAsItIsNow)
{
    // The build regenerates an array whenever its PNG changes; a stale array would differ here.
    const juce::File folder(PELK_PICTURE_FOLDER);
    for (const auto& p : allPictures())
    {
        juce::MemoryBlock onDisk;
        ASSERT_TRUE(folder.getChildFile(p.file).loadFileAsData(onDisk)) << p.file;
        EXPECT_TRUE(onDisk == juce::MemoryBlock(p.data, size_t(p.size))) << p.name << " is not " << p.file;
    }
}

TEST(Pictures, EachIsAnOpaqueEightBitIndexedPngWithNothingAfterIend)
{
    for (const auto& p : allPictures())
        EXPECT_EQ(pelk::test::checkIndexedOpaquePng(p.data, size_t(p.size)), "") << p.name;
}

TEST(Pictures, FormCheckRejectsFilesOfAnotherForm)
{
    // An RGBA PNG as JUCE writes it, and a valid indexed picture with extra bytes or a tRNS chunk.
    juce::Image rgba(juce::Image::ARGB, 4, 4, true);
    juce::MemoryOutputStream written;
    ASSERT_TRUE(juce::PNGImageFormat().writeImageToStream(rgba, written));
    EXPECT_NE(pelk::test::checkIndexedOpaquePng(written.getData(), written.getDataSize()), "");

    const auto& thumb = picture(12);
    juce::MemoryBlock trailing(thumb.data, size_t(thumb.size));
    trailing.append("\0", 1);
    EXPECT_EQ(pelk::test::checkIndexedOpaquePng(trailing.getData(), trailing.getSize()),
              "1 bytes after IEND");

    // tRNS with a valid CRC inserted right after IHDR (8 + 25 bytes).
    const uint8_t trns[] = {0, 0, 0, 1, 't', 'R', 'N', 'S', 0, 0x40, 0xe6, 0xd8, 0x66};
    juce::MemoryBlock withTrns(thumb.data, 33);
    withTrns.append(trns, sizeof(trns));
    withTrns.append(thumb.data + 33, size_t(thumb.size - 33));
    EXPECT_EQ(pelk::test::checkIndexedOpaquePng(withTrns.getData(), withTrns.getSize()), "has a tRNS chunk");
}

TEST(Pictures, EachLargePictureIsTwiceItsSmallPartner)
{
    // The thumbs are 11 x 17 and 22 x 33: twice the width, and the large thumb one row short of twice
    // the height, so that it has a middle row.
    struct Pair
    {
        int small, large, heightShortfall;
    };
    const Pair pairs[] = {{8, 10, 0}, {9, 11, 0}, {4, 6, 0}, {12, 14, 1}, {13, 15, 1}};
    for (const auto& pair : pairs)
    {
        SCOPED_TRACE(std::to_string(pair.small) + " / " + std::to_string(pair.large));
        const auto a = decode(picture(pair.small));
        const auto b = decode(picture(pair.large));
        EXPECT_EQ(a.getWidth() * 2, b.getWidth());
        EXPECT_EQ(a.getHeight() * 2 - pair.heightShortfall, b.getHeight());
    }
}

namespace
{
// Inclusive pixel ranges inside which a lit picture may differ from its unlit partner.
struct LitRegion
{
    int x0, x1, y0, y1;
    bool contains(int x, int y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
};

struct LitPair
{
    int unlit, lit;
    std::vector<LitRegion> regions;
};

const std::vector<LitPair>& litPairs()
{
    static const std::vector<LitPair> pairs = {
        // 2x panel: MUTE in, MUTE out, ENABLE REC, TO OUTPUT, the first meter track.
        {10,
         11,
         {{79, 150, 514, 551},
          {299, 370, 514, 551},
          {35, 155, 626, 653},
          {292, 412, 626, 653},
          {66, 79, 146, 427}}},
        // 1x panel, the same controls.
        {8,
         9,
         {{40, 74, 258, 274},
          {150, 184, 258, 274},
          {18, 77, 314, 325},
          {147, 205, 314, 325},
          {34, 39, 74, 212}}},
        // Loopback: the off and on buttons.
        {6, 7, {{16, 53, 99, 136}, {16, 53, 207, 244}}},
    };
    return pairs;
}
} // namespace

TEST(Pictures, LitPicturesDifferFromTheirPartnersOnlyInsideTheLitRegions)
{
    for (const auto& pair : litPairs())
    {
        SCOPED_TRACE(std::to_string(pair.unlit) + " / " + std::to_string(pair.lit));
        const auto unlit = decode(picture(pair.unlit));
        const auto lit = decode(picture(pair.lit));
        ASSERT_EQ(unlit.getBounds(), lit.getBounds());

        int outside = 0;
        std::vector<int> differing(pair.regions.size(), 0);
        for (int y = 0; y < unlit.getHeight(); ++y)
            for (int x = 0; x < unlit.getWidth(); ++x)
            {
                if (unlit.getPixelAt(x, y) == lit.getPixelAt(x, y))
                    continue;
                bool inside = false;
                for (size_t r = 0; r < pair.regions.size(); ++r)
                    if (pair.regions[r].contains(x, y))
                    {
                        ++differing[r];
                        inside = true;
                    }
                if (!inside && ++outside <= 5)
                    ADD_FAILURE() << "pixel (" << x << ", " << y << ") differs outside the lit regions";
            }
        EXPECT_EQ(outside, 0);
        for (size_t r = 0; r < pair.regions.size(); ++r)
            EXPECT_GT(differing[r], 0) << "lit region " << r << " is not lit";
    }
}

namespace
{
enum class Expect
{
    dark,    // every pixel dark (perceived brightness below 0.3): white text and the drawn dots show on it
    light,   // every pixel light (above 0.5)
    uniform, // every pixel the same colour: nothing drawn there
    drawn,   // not all the same colour: something is drawn there
};

struct Probe
{
    std::vector<int> pictures;
    LitRegion area; // inclusive pixel ranges
    Expect expect;
    const char* what;
};

// Where the widgets drawn over the art rely on what lies beneath them.
const std::vector<Probe>& probes()
{
    static const std::vector<Probe> table = {
        {{10, 11}, {36, 110, 462, 487}, Expect::dark, "read-out In L"},
        {{10, 11}, {119, 193, 462, 487}, Expect::dark, "read-out In R"},
        {{10, 11}, {254, 328, 462, 487}, Expect::dark, "read-out Out L"},
        {{10, 11}, {337, 411, 462, 487}, Expect::dark, "read-out Out R"},
        {{8, 9}, {19, 54, 232, 243}, Expect::dark, "read-out In L"},
        {{8, 9}, {60, 95, 232, 243}, Expect::dark, "read-out In R"},
        {{8, 9}, {128, 163, 232, 243}, Expect::dark, "read-out Out L"},
        {{8, 9}, {169, 204, 232, 243}, Expect::dark, "read-out Out R"},

        // Fader slots under the thumbs' centres over their whole travel, the field beside them.
        {{10, 11}, {99, 100, 145, 432}, Expect::dark, "slot In L"},
        {{10, 11}, {133, 134, 145, 432}, Expect::dark, "slot In R"},
        {{10, 11}, {317, 318, 145, 432}, Expect::dark, "slot Out L"},
        {{10, 11}, {351, 352, 145, 432}, Expect::dark, "slot Out R"},
        {{10, 11}, {92, 92, 145, 432}, Expect::light, "field beside slot In L"},
        {{8, 9}, {49, 49, 72, 215}, Expect::dark, "slot In L"},
        {{8, 9}, {66, 66, 72, 215}, Expect::dark, "slot In R"},
        {{8, 9}, {158, 158, 72, 215}, Expect::dark, "slot Out L"},
        {{8, 9}, {175, 175, 72, 215}, Expect::dark, "slot Out R"},
        {{8, 9}, {45, 45, 72, 215}, Expect::light, "field beside slot In L"},

        // Knob body, dark wherever the knob's dot can be drawn, inside a light ring.
        {{10, 11}, {224, 228, 606, 678}, Expect::dark, "knob body, vertical"},
        {{10, 11}, {190, 262, 640, 644}, Expect::dark, "knob body, horizontal"},
        {{10, 11}, {200, 252, 616, 668}, Expect::dark, "knob body, centre"},
        {{10, 11}, {225, 226, 602, 602}, Expect::light, "knob ring, top"},
        {{8, 9}, {112, 113, 303, 339}, Expect::dark, "knob body, vertical"},
        {{8, 9}, {95, 131, 320, 321}, Expect::dark, "knob body, horizontal"},
        {{8, 9}, {112, 113, 301, 301}, Expect::light, "knob ring, top"},

        // The window's corner resizer covers this corner.
        {{10, 11}, {417, 451, 661, 695}, Expect::uniform, "resizer corner"},
        {{8, 9}, {208, 225, 330, 347}, Expect::uniform, "resizer corner"},

        // Loopback: the plain dots at the six route ends (their dark rims).
        {{6, 7}, {95, 95, 97, 97}, Expect::dark, "dot hardware 1"},
        {{6, 7}, {95, 95, 141, 141}, Expect::dark, "dot hardware 2"},
        {{6, 7}, {95, 95, 205, 205}, Expect::dark, "dot virtual playback 5"},
        {{6, 7}, {95, 95, 249, 249}, Expect::dark, "dot virtual playback 6"},
        {{6, 7}, {263, 263, 203, 203}, Expect::dark, "dot virtual recording 5"},
        {{6, 7}, {263, 263, 248, 248}, Expect::dark, "dot virtual recording 6"},

        // About box: the version text is drawn in mid grey into a plain light area.
        {{17}, {275, 474, 186, 205}, Expect::uniform, "version text area"},
        {{17}, {275, 474, 186, 205}, Expect::light, "version text area"},
        {{17}, {59, 196, 140, 159}, Expect::drawn, "web address in the link area"},
        {{17}, {109, 149, 166, 188}, Expect::drawn, "close button in the close area"},

        // Thumbs: the dark line across the middle row, lighter cap rows beside it.
        {{14, 15}, {1, 20, 16, 16}, Expect::dark, "thumb middle line"},
        {{14, 15}, {2, 19, 14, 14}, Expect::light, "thumb cap"},
        {{12, 13}, {1, 9, 8, 8}, Expect::dark, "thumb middle line"},
        {{12, 13}, {2, 8, 7, 7}, Expect::light, "thumb cap"},
    };
    return table;
}
} // namespace

TEST(Pictures, ControlsSitWhereTheWidgetsAreLaidOver)
{
    for (const auto& probe : probes())
        for (int number : probe.pictures)
        {
            SCOPED_TRACE(std::string(probe.what) + " in temp_binary_data_" + std::to_string(number));
            const auto image = decode(picture(number));
            const auto first = image.getPixelAt(probe.area.x0, probe.area.y0);
            int wrong = 0, differentFromFirst = 0;
            for (int y = probe.area.y0; y <= probe.area.y1; ++y)
                for (int x = probe.area.x0; x <= probe.area.x1; ++x)
                {
                    const auto c = image.getPixelAt(x, y);
                    const float b = c.getPerceivedBrightness();
                    differentFromFirst += c != first ? 1 : 0;
                    const bool ok = probe.expect == Expect::dark      ? b < 0.3f
                                    : probe.expect == Expect::light   ? b > 0.5f
                                    : probe.expect == Expect::uniform ? c == first
                                                                      : true;
                    if (!ok && ++wrong <= 3)
                        ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << c.toDisplayString(false)
                                      << ", brightness " << b;
                }
            if (probe.expect == Expect::drawn)
            {
                EXPECT_GT(differentFromFirst, 0) << "nothing drawn";
            }
            EXPECT_EQ(wrong, 0);
        }
}

TEST(Pictures, LinkedThumbsAreAmberAndNormalThumbsGrey)
{
    for (const auto& [normal, linked] : {std::pair{12, 13}, std::pair{14, 15}})
    {
        const auto n = decode(picture(normal)).getPixelAt(5, 3);
        const auto l = decode(picture(linked)).getPixelAt(5, 3);
        EXPECT_LT(std::abs(int(n.getRed()) - int(n.getBlue())), 20) << normal;
        EXPECT_GT(int(l.getRed()) - int(l.getBlue()), 80) << linked;
    }
}
