#include "PatchGridLoopbackDialog.h"

#include "BinaryData.h"
#include "Rescale.h"

LoopBackConnectionPath::LoopBackConnectionPath(juce::Point<float> start, juce::Point<float> end)
    : curveColour(juce::Colours::green), startPoint(start), endPoint(end)
{
    curvePath.startNewSubPath(start);
    curvePath.quadraticTo({0.0f, 0.0f}, end);
}

LoopBackConnectionPath::~LoopBackConnectionPath() = default;

namespace
{
// Layout coordinates are single-precision products with the size, truncated toward zero.
int scaled(float fraction, int size)
{
    return (int) (fraction * (float) size);
}

juce::Point<float> scaledPoint(juce::Point<float> fraction, int width, int height)
{
    return {(float) scaled(fraction.x, width), (float) scaled(fraction.y, height)};
}

juce::Rectangle<int> scaledRectangle(juce::Rectangle<float> fraction, int width, int height)
{
    return {scaled(fraction.getX(), width), scaled(fraction.getY(), height),
            scaled(fraction.getWidth(), width), scaled(fraction.getHeight(), height)};
}

void setButtonImages(juce::ImageButton& button, const juce::Image& background, const juce::Image& face)
{
    const auto normal = background.getClippedImage(button.getBounds());
    const auto down = face.getClippedImage(button.getBounds());
    const juce::Colour noOverlay;

    button.setImages(false, true, true, normal, 1.0f, noOverlay, normal, 1.0f, noOverlay, down, 1.0f,
                     noOverlay, 0.0f);
}
} // namespace

PatchGridLoopbackDialog::PatchGridLoopbackDialog()
    : smallPicture{ORVBIN::temp_binary_data_4, ORVBIN::temp_binary_data_4Size},
      largePicture{ORVBIN::temp_binary_data_6, ORVBIN::temp_binary_data_6Size},
      litPicture{ORVBIN::temp_binary_data_7, ORVBIN::temp_binary_data_7Size}, pathColour(juce::Colours::green)
{
    backgroundImage = decode(largePicture);
    buttonFaceImage = decode(litPicture);

    for (auto* button : {&loopbackOffButton, &loopbackOnButton})
    {
        addAndMakeVisible(button);
        button->addListener(this);
        button->setClickingTogglesState(false);
    }

    // The dots and buttons in the pixels of the large picture, as fractions of its decoded size.
    const double largeWidth = backgroundImage.getWidth();
    const double largeHeight = backgroundImage.getHeight();
    const auto fractionPoint = [&](double x, double y)
    { return juce::Point<float>((float) (x / largeWidth), (float) (y / largeHeight)); };
    const auto fractionRectangle = [&](double x, double y, double w, double h)
    {
        return juce::Rectangle<float>((float) (x / largeWidth), (float) (y / largeHeight),
                                      (float) (w / largeWidth), (float) (h / largeHeight));
    };

    rightPointFractions[0] = fractionPoint(267.0, 203.0);
    rightPointFractions[1] = fractionPoint(267.0, 248.0);
    offStartFractions[0] = fractionPoint(99.0, 97.0);
    offStartFractions[1] = fractionPoint(99.0, 141.0);
    onStartFractions[0] = fractionPoint(99.0, 205.0);
    onStartFractions[1] = fractionPoint(99.0, 249.0);
    offButtonFractions = fractionRectangle(15.0, 98.0, 42.0, 42.0);
    onButtonFractions = fractionRectangle(15.0, 206.0, 42.0, 42.0);

    setSize(backgroundImage.getWidth(), backgroundImage.getHeight());

    if (!pathsInitialised)
        initConnectionPaths();

    resized();
}

PatchGridLoopbackDialog::~PatchGridLoopbackDialog()
{
    loopbackOffPaths.clear();
    loopbackOnPaths.clear();
}

juce::Image PatchGridLoopbackDialog::decode(const EmbeddedPicture& picture)
{
    return juce::ImageCache::getFromMemory(picture.data, picture.size);
}

void PatchGridLoopbackDialog::paint(juce::Graphics& g)
{
    if (backgroundImage.isValid())
        g.drawImageAt(backgroundImage, 0, 0);
}

void PatchGridLoopbackDialog::paintOverChildren(juce::Graphics& g)
{
    const bool offChosen = loopbackOffButton.getToggleState();

    if (!offChosen && !loopbackOnButton.getToggleState())
        return;

    if (!loopbackOffButton.isEnabled() && !loopbackOnButton.isEnabled())
        return;

    const auto& paths = offChosen ? loopbackOffPaths : loopbackOnPaths;
    const auto radius = (float) juce::jmax(5.0, 0.025 * getWidth());
    const juce::PathStrokeType stroke(0.5f * radius, juce::PathStrokeType::mitered,
                                      juce::PathStrokeType::butt);

    for (const auto* path : paths)
    {
        g.setColour(path->curveColour);
        g.fillEllipse(path->startPoint.x - radius, path->startPoint.y - radius, 2.0f * radius, 2.0f * radius);
        g.fillEllipse(path->endPoint.x - radius, path->endPoint.y - radius, 2.0f * radius, 2.0f * radius);
        g.strokePath(path->curvePath, stroke);
    }
}

void PatchGridLoopbackDialog::resized()
{
    const int width = getWidth();
    const int height = getHeight();

    if (width <= 0 || height <= 0)
        return;

    buttonFaceImage = rescaledPicture(decode(litPicture), width, height);

    // The small picture looks soft when blown up by more than 1.3; the large one takes over from there.
    const auto small = decode(smallPicture);
    const auto source = width > 1.3 * small.getWidth() ? decode(largePicture) : small;
    backgroundImage = rescaledPicture(source, width, height);

    loopbackOffButton.setBounds(scaledRectangle(offButtonFractions, width, height));
    loopbackOnButton.setBounds(scaledRectangle(onButtonFractions, width, height));

    for (int i = 0; i < 2; ++i)
    {
        rightPoints[i] = scaledPoint(rightPointFractions[i], width, height);
        offStartPoints[i] = scaledPoint(offStartFractions[i], width, height);
        onStartPoints[i] = scaledPoint(onStartFractions[i], width, height);
    }

    offControlPoints[0] = scaledPoint({0.397643f, 0.838758f}, width, height);
    offControlPoints[1] = scaledPoint({0.307643f, 0.926087f}, width, height);
    onControlPoints[0] = scaledPoint({0.579618f, 0.738758f}, width, height);
    onControlPoints[1] = scaledPoint({0.579618f, 0.878509f}, width, height);

    if (!pathsInitialised)
        initConnectionPaths();

    const auto reshape = [](LoopBackConnectionPath& record, juce::Point<float> start,
                            juce::Point<float> control, juce::Point<float> end)
    {
        record.startPoint = start;
        record.endPoint = end;
        record.curvePath.clear();
        record.curvePath.startNewSubPath(start);
        record.curvePath.quadraticTo(control, end);
    };

    for (int i = 0; i < 2; ++i)
    {
        reshape(*loopbackOffPaths[i], offStartPoints[i], offControlPoints[i], rightPoints[i]);
        reshape(*loopbackOnPaths[i], onStartPoints[i], onControlPoints[i], rightPoints[i]);
    }

    setButtonImages(loopbackOffButton, backgroundImage, buttonFaceImage);
    setButtonImages(loopbackOnButton, backgroundImage, buttonFaceImage);
}

void PatchGridLoopbackDialog::buttonClicked(juce::Button* button)
{
    // Only the dialog's own two buttons carry a choice.
    if (button != &loopbackOffButton && button != &loopbackOnButton)
        return;

    loopbackOffButton.setToggleState(false, juce::dontSendNotification);
    loopbackOnButton.setToggleState(false, juce::dontSendNotification);
    button->setToggleState(true, juce::dontSendNotification);

    repaint();
    sendActionMessage("loopback_update");
}

void PatchGridLoopbackDialog::initConnectionPaths()
{
    if (pathsInitialised)
        return;

    pathsInitialised = true;

    const auto add = [this](juce::OwnedArray<LoopBackConnectionPath>& paths, juce::Point<float> start,
                            juce::Point<float> end)
    { paths.add(new LoopBackConnectionPath(start, end))->curveColour = pathColour; };

    add(loopbackOffPaths, offStartPoints[0], rightPoints[0]);
    add(loopbackOffPaths, offStartPoints[1], rightPoints[1]);
    add(loopbackOnPaths, onStartPoints[0], rightPoints[0]);
    add(loopbackOnPaths, onStartPoints[1], rightPoints[1]);
}

int PatchGridLoopbackDialog::getLoopbackState() const
{
    if (loopbackOnButton.getToggleState())
        return 1;

    return loopbackOffButton.getToggleState() ? 0 : -1;
}
