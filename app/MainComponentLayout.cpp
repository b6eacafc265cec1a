// The main panel's layout and painting: the panel is one picture with the controls laid over it. Every
// resize picks the art for the width (decoded once per change of art and held), rescales it to the panel,
// places each widget at fixed fractions of the panel and cuts the image buttons' faces out of the art at the
// buttons' own positions.

#include "BinaryData.h"
#include "MainComponent.h"
#include "PanelSize.h"
#include "Rescale.h"

#include <cstdio>
#include <future>
#include <system_error>

namespace
{
// A widget's place as fractions: x and width of the panel's width, y and height of the area below the
// menu bar strip. Each is a whole pixel of the 452 x 696 art divided by 452 or 696, to six digits.
struct Fractions
{
    float x, y, width, height;
};

// Products in single precision, truncated toward zero: at 452 x 696 some fractions land one pixel short
// of the art's own value, and the art allows for that.
juce::Rectangle<int> place(const Fractions& f, float W, float A, int top)
{
    return {(int) (f.x * W), top + (int) (f.y * A), (int) (f.width * W), (int) (f.height * A)};
}

struct PanelArt
{
    const unsigned char* background;
    int backgroundSize;
    const unsigned char* faces;
    int facesSize;
};

// The 226 x 348 art up to a width of 235, the 452 x 696 art above.
PanelArt artForWidth(int width)
{
    if (width <= 235)
        return {ORVBIN::temp_binary_data_8, ORVBIN::temp_binary_data_8Size, ORVBIN::temp_binary_data_9,
                ORVBIN::temp_binary_data_9Size};

    return {ORVBIN::temp_binary_data_10, ORVBIN::temp_binary_data_10Size, ORVBIN::temp_binary_data_11,
            ORVBIN::temp_binary_data_11Size};
}

// "klein" with the small art, "mittel" up to the default width, "gross" above.
const char* sizeWordForWidth(int width)
{
    if (width <= 235)
        return "klein\n";

    return width <= PanelSize::defaultWidth ? "mittel\n" : "gross\n";
}
} // namespace

void MainComponent::resized()
{
    const int w = getWidth();
    const int h = getHeight();

    if (w > 0 && h > 0)
    {
        const auto art = artForWidth(w);
        const int artHeight = h - menuBarHeight;

        // A menu bar strip as tall as the panel leaves no area for the art; the images stay as they are.
        if (artHeight > 0)
        {
            if (decodedArt.background != art.background)
                decodedArt = {art.background,
                              juce::ImageCache::getFromMemory(art.background, art.backgroundSize),
                              juce::ImageCache::getFromMemory(art.faces, art.facesSize)};
            const auto& background = decodedArt.backgroundImage;
            const auto& faces = decodedArt.faceImage;
            const auto rescale = [w, artHeight](const juce::Image& source)
            { return rescaledPicture(source, w, artHeight); };

            // Away from the art's own size the two pictures are resampled at the same time: each rescale
            // only reads its source and draws into an image of its own. At the art's size the rescale
            // hands back the source, not worth a thread.
            if (faces.getWidth() == w && faces.getHeight() == artHeight)
            {
                backgroundImage = rescale(background);
                buttonFaceImage = rescale(faces);
            }
            else
            {
                std::future<juce::Image> rescaledFaces;
                try
                {
                    rescaledFaces = std::async(std::launch::async, rescale, faces);
                }
                catch (const std::system_error&) // no thread to be had: one after the other
                {
                    rescaledFaces = std::async(std::launch::deferred, rescale, faces);
                }
                backgroundImage = rescale(background);
                buttonFaceImage = rescaledFaces.get();
            }
        }

        std::fputs(sizeWordForWidth(w), stderr);
        std::fflush(stderr);
    }

    const int stripHeight = juce::jmin(h, menuBarHeight);
    menuBar->setBounds(0, 0, w, stripHeight);

    const float W = (float) w;
    const float A = (float) (h - stripHeight);

    const std::pair<juce::Component*, Fractions> placements[] = {
        {buttonMuteIn.get(), {0.172566f, 0.737069f, 0.170354f, 0.0632184f}},
        {buttonMuteOut.get(), {0.659292f, 0.737069f, 0.170354f, 0.0632184f}},
        {sliderInGroup.get(), {0.196903f, 0.185345f, 0.123894f, 0.45977f}},
        {sliderOutGroup.get(), {0.679204f, 0.185345f, 0.123894f, 0.45977f}},
        {labelInL.get(), {0.0774336f, 0.662356f, 0.179204f, 0.045977f}},
        {labelInR.get(), {0.261062f, 0.662356f, 0.179204f, 0.045977f}},
        {labelOutL.get(), {0.559735f, 0.662356f, 0.179204f, 0.045977f}},
        {labelOutR.get(), {0.743363f, 0.662356f, 0.179204f, 0.045977f}},
        {levelMeter1.get(), {0.143805f, 0.208333f, 0.0442478f, 0.413793f}},
        {levelMeter2.get(), {0.334071f, 0.208333f, 0.0442478f, 0.413793f}},
        {levelMeter3.get(), {0.626106f, 0.208333f, 0.0442478f, 0.413793f}},
        {levelMeter4.get(), {0.816372f, 0.208333f, 0.0442478f, 0.413793f}},
        {buttonTriggerMonitoringRecord.get(), {0.0752212f, 0.897989f, 0.280973f, 0.0488506f}},
        {buttonTriggerMonitoringHP.get(), {0.643805f, 0.897989f, 0.280973f, 0.0488506f}},
        {sliderVolMon.get(), {0.40708f, 0.862069f, 0.185841f, 0.12069f}},
    };

    // Placing a fader pair also lays out its faders and resizes the thumbs that all faders share.
    for (const auto& [widget, fractions] : placements)
        if (widget != nullptr)
            widget->setBounds(place(fractions, W, A, menuBarHeight));

    // Each button shows its own area of the art: the background while off (also under the pointer, so
    // hovering changes nothing) and the lit face while pressed or switched on.
    for (auto* button : {buttonMuteIn.get(), buttonMuteOut.get(), buttonTriggerMonitoringRecord.get(),
                         buttonTriggerMonitoringHP.get()})
    {
        if (button == nullptr)
            continue;

        const auto area = button->getBounds() - imageOffset;
        button->setImages(false, true, true, backgroundImage.getClippedImage(area), 1.0f,
                          juce::Colour(0x00000000), backgroundImage.getClippedImage(area), 1.0f,
                          juce::Colour(0x00000000), buttonFaceImage.getClippedImage(area), 1.0f,
                          juce::Colour(0x00000000), 0.0f);
    }
}

void MainComponent::paint(juce::Graphics& g)
{
    // The widgets draw over the background; nothing else is drawn and nothing is filled first.
    if (backgroundImage.isValid())
        g.drawImageTransformed(backgroundImage,
                               juce::AffineTransform::translation(0.0f, (float) menuBarHeight));
}
