#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// One routing curve of the loopback dialog: a quadratic curve from a playback dot to a recording dot.
// It is a component only by descent; it is used as a plain record, never given a parent nor shown.
class LoopBackConnectionPath : public juce::Component
{
public:
    // The curve starts as a quadratic segment through (0, 0); the dialog's layout reshapes it.
    LoopBackConnectionPath(juce::Point<float> start, juce::Point<float> end);
    ~LoopBackConnectionPath() override;

    juce::Path curvePath;
    juce::Colour curveColour;
    juce::Point<float> startPoint;
    juce::Point<float> endPoint;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(LoopBackConnectionPath)
};

// The loopback dialog: a picture of the interface's routing with two image buttons at its left edge,
// the upper one choosing loopback off, the lower one loopback on. The chosen routing is drawn over the
// picture as two green curves with a dot at each end.
//
// The dialog sends nothing to the interface itself. Every click on either button, the one already on
// included, broadcasts the action message "loopback_update"; the listener reads the choice with
// getLoopbackState(). The owner may turn a button on directly with setToggleState and synchronous
// click notification, which runs buttonClicked when the state changes and nothing when it does not.
class PatchGridLoopbackDialog : public juce::Component,
                                public juce::Button::Listener,
                                public juce::ActionBroadcaster
{
public:
    PatchGridLoopbackDialog();
    ~PatchGridLoopbackDialog() override;

    void paint(juce::Graphics& g) override;
    void paintOverChildren(juce::Graphics& g) override;
    void resized() override;

    void buttonClicked(juce::Button* button) override;

    // Creates the four curve records from the current scaled points; does nothing the second time.
    void initConnectionPaths();

    // 1 when loopback on is chosen, 0 when loopback off is chosen, -1 before any choice.
    int getLoopbackState() const;

    // A PNG file compiled into the program.
    struct EmbeddedPicture
    {
        const void* data;
        int size;
    };

    bool pathsInitialised = false;
    juce::OwnedArray<LoopBackConnectionPath> loopbackOffPaths;
    juce::OwnedArray<LoopBackConnectionPath> loopbackOnPaths;

    // Dots and buttons as fractions of the large picture's size.
    juce::Point<float> rightPointFractions[2];
    juce::Point<float> offStartFractions[2];
    juce::Point<float> onStartFractions[2];
    juce::Rectangle<float> offButtonFractions;
    juce::Rectangle<float> onButtonFractions;

    // The same points at the current size, and the curves' control points; whole pixels.
    juce::Point<float> rightPoints[2];
    juce::Point<float> offStartPoints[2];
    juce::Point<float> onStartPoints[2];
    juce::Point<float> offControlPoints[2];
    juce::Point<float> onControlPoints[2];

    juce::ImageButton loopbackOffButton;
    juce::ImageButton loopbackOnButton;

    juce::Image backgroundImage;
    juce::Image buttonFaceImage;

    EmbeddedPicture smallPicture;
    EmbeddedPicture largePicture;
    EmbeddedPicture litPicture;

    juce::Colour pathColour;

private:
    static juce::Image decode(const EmbeddedPicture& picture);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(PatchGridLoopbackDialog)
};
