// The main panel: the content of the main window. It owns the volume worker, every widget, both dialogs,
// the looks and the settings file; it receives the device events and turns the controls into volume
// requests, audio-service writes and interface commands.
#pragma once

#include "DeviceIdentity.h"
#include "LevelMeter2.h"
#include "ORVBorderBoundsConstrainer.h"
#include "ORVLabel.h"
#include "PopupMenuLookAndFeel.h"
#include "SettingsGuard.h"
#include "SliderLookAndFeel.h"
#include "SliderLookAndFeel2.h"
#include "SliderStereoGroup2.h"
#include "VolumeLevelThread.h"

#include <juce_data_structures/juce_data_structures.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdint>
#include <memory>

class AboutWindow;
class PatchGridLoopbackDialog;

class MainComponent : public juce::Component,
                      public juce::Button::Listener,
                      public juce::MenuBarModel,
                      public juce::ChangeBroadcaster,
                      public juce::ActionListener,
                      public juce::MultiTimer,
                      public juce::Slider::Listener
{
public:
    // Timer identifiers of the panel's multi-timer.
    static constexpr int muteSettleTimerId = 4096; // 50 ms after a mute click, read-backs are held back
    static constexpr int readBackTimerId = 4100;   // one read-back of volumes and mutes

    MainComponent();
    ~MainComponent() override;

    void visibilityChanged() override {}
    void paint(juce::Graphics& g) override;
    void resized() override;
    void buttonClicked(juce::Button* button) override;
    void timerCallback(int timerID) override;
    juce::StringArray getMenuBarNames() override;
    juce::PopupMenu getMenuForIndex(int topLevelMenuIndex, const juce::String& menuName) override;
    void menuBarActivated(bool) override {}
    void sliderValueChanged(juce::Slider* slider) override;
    void menuItemSelected(int menuItemID, int topLevelMenuIndex) override;
    void actionListenerCallback(const juce::String& message) override;

    // Enables and shows (on) or disables and hides the fifteen device-dependent widgets; switching them off
    // also closes the About box and clears the level meters.
    void enabledButtons(bool on);
    // The device event receiver placed in mydeviceStruct. Event 3 may arrive on the audio service's
    // notification thread; every other event on the main thread.
    static void OnApiCallback(void* owner, void* unused, ORV_CallbackEvent event);
    void setFactoryDefaults();
    // Shows a dialog window beside the panel, its content's top level with the panel's top.
    void showPatchGRIDDialog(juce::DialogWindow* window);
    // Gives the loopback and About windows the main window's always-on-top state (off without a main
    // window), so that the window manager keeps them above an always-on-top panel.
    void dialogsFollowAlwaysOnTop();
    // Stores the main window's state under "WindowPosition" (an empty text forgets it).
    void savedWindowPosition(juce::String state);

    // Device ready leaves the monitoring restore (knob value, headphone click, record click) pending for
    // the event loop. runPendingRestore carries it out at once; voidPendingRestore drops it unrun. Both
    // do nothing when none is pending.
    void runPendingRestore();
    void voidPendingRestore();
    bool hasPendingRestore() const noexcept { return pendingRestore.pending; }

    VolumeLevelThread volumeLevelThread;
    ORVdBLabelLookAndFeel dBLabelLookAndFeel;
    SettingsStore appProperties;
    std::unique_ptr<juce::ImageButton> buttonMuteIn;
    std::unique_ptr<juce::ImageButton> buttonMuteOut;
    std::unique_ptr<juce::Label> labelInL;
    std::unique_ptr<juce::Label> labelInR;
    std::unique_ptr<juce::Label> labelOutL;
    std::unique_ptr<juce::Label> labelOutR;
    std::unique_ptr<SliderStereoGroup2> sliderInGroup;
    std::unique_ptr<SliderStereoGroup2> sliderOutGroup;
    std::unique_ptr<juce::Slider> sliderInL;
    std::unique_ptr<juce::Slider> sliderInR;
    std::unique_ptr<juce::Slider> sliderOutL;
    std::unique_ptr<juce::Slider> sliderOutR;
    std::unique_ptr<juce::Slider> sliderVolMon;
    std::unique_ptr<juce::ImageButton> buttonTriggerMonitoringRecord;
    std::unique_ptr<juce::ImageButton> buttonTriggerMonitoringHP;
    std::unique_ptr<LevelMeter2> levelMeter1;
    std::unique_ptr<LevelMeter2> levelMeter2;
    std::unique_ptr<LevelMeter2> levelMeter3;
    std::unique_ptr<LevelMeter2> levelMeter4;
    std::unique_ptr<juce::MenuBarComponent> menuBar;
    std::unique_ptr<PopupMenuLookandFeel> popupMenuLookAndFeel;
    std::unique_ptr<juce::DialogWindow> loopbackDialogWindow;
    std::unique_ptr<PatchGridLoopbackDialog> loopbackDialog;
    std::unique_ptr<juce::DialogWindow> aboutDialogWindow;
    std::unique_ptr<AboutWindow> aboutWindow;
    int loopbackState = 0;
    int menuBarHeight = 0;
    OrvSliderLookAndFeel2 sliderLookAndFeel2;
    OrvRotarySliderLookAndFeel rotaryLookAndFeel;
    juce::Image backgroundImage;
    juce::Image buttonFaceImage;
    juce::Point<int> imageOffset;
    bool systemVolumeBusy = false;
    double imageWidth = 0.0;
    double imageHeight = 0.0;
    double currentSampleRate = 0.0;
    juce::Colour menuBackgroundColour;
    juce::Colour menuTextColour;
    std::unique_ptr<BorderBoundsConstrainer> loopbackConstrainer;

private:
    // The decoded art for the panel's current width. Held here, a resize never decodes it again: the
    // framework's image cache drops a picture that nobody else holds once it has rested a few seconds.
    struct DecodedArt
    {
        const unsigned char* background = nullptr; // the embedded picture it was decoded from
        juce::Image backgroundImage, faceImage;
    };
    DecodedArt decodedArt;

    // The monitoring restore that device ready leaves for the event loop. A newer device ready replaces
    // it, so an older job that is still queued finds a newer generation and does nothing.
    struct PendingRestore
    {
        bool pending = false;
        std::uint64_t generation = 0;
        float monitoringVolume = 0.0f;
        bool headphoneOn = false;
        bool recordOn = true;
    };

    void handleDeviceReady();
    void handleDeviceRemoved();
    void readBackVolumesAndMutes();
    void restoreSwitch(juce::ImageButton& button, bool on);

    PendingRestore pendingRestore;
    // The knob's value has not reached the interface: its last command could not be written.
    bool monitoringVolumeUndelivered = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(MainComponent)
};
