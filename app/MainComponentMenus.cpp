// The main panel's menus and their commands, the "loopback_update" message from the loopback dialog, and
// the factory settings.

#include "MainComponent.h"

#include "AboutWindow.h"
#include "AudioSettingsLauncher.h"
#include "DialogPlacement.h"
#include "PanelAudio.h"
#include "PanelSize.h"
#include "PatchGridLoopbackDialog.h"
#include "RegisterDeviceCallBacksMac.h"
#include "SettingsFile.h"
#include "USBCommands.h"
#include "WindowOnScreen.h"

#include <cstdio>
#include <limits>

namespace
{
enum CommandId
{
    alwaysOnTopId = 8192,
    audioSettingsId = 8193,
    closeId = 8194,
    factoryDefaultsId = 8195,
    loopbackId = 8197,
    aboutId = 8198,
    firstSampleRateId = 8448,
    resetId = 9218
};

struct SampleRateItem
{
    double rate;
    const char* text;
};

// The rates offered, in menu order; the item ids are firstSampleRateId plus the row.
constexpr SampleRateItem sampleRates[] = {{44100.0, "44100  Hz"},  {48000.0, "48000  Hz"},
                                          {88200.0, "88200  Hz"},  {96000.0, "96000  Hz"},
                                          {176400.0, "176400 Hz"}, {192000.0, "192000 Hz"}};
constexpr int sampleRateCount = (int) (sizeof(sampleRates) / sizeof(sampleRates[0]));

// The content border of the window that shows a component; none for a component that is not a window.
juce::BorderSize<int> contentBorderOf(juce::Component& window)
{
    if (auto* resizable = dynamic_cast<juce::ResizableWindow*>(&window))
        return resizable->getContentComponentBorder();
    return {};
}

} // namespace

juce::StringArray MainComponent::getMenuBarNames()
{
    return {"File", "Config", "PatchGRID", "Help"};
}

juce::PopupMenu MainComponent::getMenuForIndex(int topLevelMenuIndex, const juce::String&)
{
    juce::PopupMenu menu;

    switch (topLevelMenuIndex)
    {
        case 0:
        {
            auto* window = getParentComponent();
            menu.addItem(alwaysOnTopId, "Always on top", true, window != nullptr && window->isAlwaysOnTop());
            menu.addSeparator();
            menu.addItem(audioSettingsId, "macOS Audio Settings", true, false);
            menu.addSeparator();
            menu.addItem(closeId, "Close", true, false);
            break;
        }
        case 1:
        {
            menu.addItem(factoryDefaultsId, "Factory Defaults", true, false);
            menu.addSeparator();
            currentSampleRate = hw_getSampleRate();
            juce::PopupMenu rates;
            for (int row = 0; row < sampleRateCount; ++row)
                rates.addItem(firstSampleRateId + row, sampleRates[row].text, true,
                              currentSampleRate == sampleRates[row].rate);
            menu.addSubMenu("Sample rate", rates);
            break;
        }
        case 2:
        {
            const bool enabled = isEnabled();
            menu.addItem(loopbackId, "Loopback", enabled,
                         loopbackDialog != nullptr && loopbackDialog->getLoopbackState() > 0);
            menu.addItem(resetId, "Reset", enabled, false);
            break;
        }
        case 3:
            menu.addItem(aboutId, "About", true, false);
            break;
        default:
            break;
    }

    popupMenuLookAndFeel->setColour(juce::PopupMenu::textColourId, menuTextColour);
    popupMenuLookAndFeel->setColour(juce::PopupMenu::backgroundColourId, menuBackgroundColour);
    return menu;
}

void MainComponent::menuItemSelected(int menuItemID, int)
{
    sendChangeMessage();

    switch (menuItemID)
    {
        case alwaysOnTopId:
            if (auto* window = getParentComponent())
            {
                window->setAlwaysOnTop(!window->isAlwaysOnTop());
                dialogsFollowAlwaysOnTop();
            }
            break;

        case audioSettingsId:
        {
            const bool started = AudioSettingsLauncher::launch();
            std::fputs(started ? "Call Audio MIDI Setup: OK\n" : "Call Audio MIDI Setup: not OK\n", stderr);
            std::fflush(stderr);
            break;
        }

        case closeId:
            // Ends the event loop; shut-down then stores the window state and the settings.
            if (auto* app = juce::JUCEApplicationBase::getInstance())
                app->systemRequestedQuit();
            break;

        case factoryDefaultsId:
            setFactoryDefaults();
            break;

        case loopbackId:
            if (loopbackDialog != nullptr)
            {
                // Selecting the accepted mode in the dialog sends it again whenever the selection differs.
                if (loopbackState == 1)
                    loopbackDialog->loopbackOnButton.setToggleState(true, juce::sendNotificationSync);
                else if (loopbackState == 0)
                    loopbackDialog->loopbackOffButton.setToggleState(true, juce::sendNotificationSync);
                loopbackDialog->repaint();
                dialogsFollowAlwaysOnTop();
                showPatchGRIDDialog(loopbackDialogWindow.get());
            }
            break;

        case aboutId:
            if (aboutDialogWindow != nullptr)
            {
                // The box's content goes to the panel's left edge, 50 pixels below its top.
                const auto panel = getScreenBounds();
                auto& window = *aboutDialogWindow;
                const auto border = contentBorderOf(window);
                window.setBounds(panel.getX() - border.getLeft(), panel.getY() + 50 - border.getTop(),
                                 window.getWidth(), window.getHeight());
                window.setResizable(false, false);
                dialogsFollowAlwaysOnTop();
                window.runModalLoop();
                window.setVisible(false);
            }
            break;

        case resetId:
            if (loopbackDialog != nullptr)
            {
                loopbackDialog->loopbackOffButton.setToggleState(true, juce::sendNotificationSync);
                loopbackDialog->repaint();
            }
            break;

        default:
            if (menuItemID >= firstSampleRateId && menuItemID < firstSampleRateId + sampleRateCount)
                hw_setSampleRateEx(sampleRates[menuItemID - firstSampleRateId].rate);
            break;
    }

    menuItemsChanged();
}

void MainComponent::actionListenerCallback(const juce::String& message)
{
    if (message == "loopback_update" && loopbackDialog != nullptr)
    {
        const int selected = loopbackDialog->getLoopbackState();
        if (selected == 0 || selected == 1)
        {
            // The panel's state follows only what the interface accepted.
            if (usb_hw_toggleLoopbackMode((UInt32) selected) == 0)
                loopbackState = selected;
        }
        appProperties.getUserSettings()->setValue(SettingsKeys::loopback, loopbackState);
        menuBar->sendLookAndFeelChange();
    }

    menuItemsChanged();
}

void MainComponent::showPatchGRIDDialog(juce::DialogWindow* window)
{
    if (window == nullptr)
        return;

    window->setVisible(true);
    const bool wasOnTop = window->isAlwaysOnTop();
    window->setAlwaysOnTop(true);

    // Positions and widths are those of the dialog's content, inside the window's own title bar and edges.
    const auto panel = getScreenBounds();
    const auto border = contentBorderOf(*window);
    const int dialogWidth = window->getWidth() - border.getLeftAndRight();
    const int monitorWidth = getParentMonitorArea().getWidth();
    const int x = besideDialogX(panel.getX(), panel.getWidth(), dialogWidth, monitorWidth);

    window->setBounds(x - border.getLeft(), panel.getY() - border.getTop(), window->getWidth(),
                      window->getHeight());
    window->setAlwaysOnTop(wasOnTop);
}

void MainComponent::dialogsFollowAlwaysOnTop()
{
    // A window that changes the state is made anew on some platforms and then shows above the windows of
    // its layer; the dialogs go after the main window, so they end up above it.
    auto* window = getParentComponent();
    const bool onTop = window != nullptr && window->isAlwaysOnTop();
    for (auto* dialog : {loopbackDialogWindow.get(), aboutDialogWindow.get()})
        if (dialog != nullptr)
            dialog->setAlwaysOnTop(onTop);
}

void MainComponent::setFactoryDefaults()
{
    // A monitoring restore still waiting from device ready takes effect first: the factory settings are
    // the final state.
    runPendingRestore();

    const AudioObjectID input = gInAudioObjectID;
    const AudioObjectID output = gOutAudioObjectID;

    // Unmute both directions.
    writeMute(output, kAudioObjectPropertyScopeOutput, false);
    writeMute(input, kAudioObjectPropertyScopeInput, false);

    // The factory rate.
    hw_setSampleRateEx(48000.0);

    // 0 dB on every channel, directly.
    writeVolume(output, kAudioObjectPropertyScopeOutput, 1, 0.0f);
    writeVolume(output, kAudioObjectPropertyScopeOutput, 2, 0.0f);
    writeVolume(input, kAudioObjectPropertyScopeInput, 1, 0.0f);
    writeVolume(input, kAudioObjectPropertyScopeInput, 2, 0.0f);

    // Record monitoring on, headphone monitoring off.
    usb_hw_toggleMonitoringRecording(1);
    usb_hw_toggleMonitoringHP(1);

    // The switches show it without their click handling (nothing is stored); the knob is disabled and hidden.
    buttonTriggerMonitoringRecord->setToggleState(true, juce::dontSendNotification);
    buttonTriggerMonitoringHP->setToggleState(false, juce::dontSendNotification);
    sliderVolMon->setEnabled(false);
    sliderVolMon->setVisible(false);

    // Loopback off through the dialog: it reports "loopback_update" when "off" was not selected yet,
    // and the command goes out when the event loop delivers that.
    if (loopbackDialog != nullptr)
    {
        loopbackDialog->loopbackOffButton.setToggleState(true, juce::sendNotificationSync);
        loopbackDialog->repaint();
    }

    // The mute buttons as the system now reports.
    buttonMuteOut->setToggleState(readEitherMuted(output, kAudioObjectPropertyScopeOutput),
                                  juce::dontSendNotification);
    buttonMuteIn->setToggleState(readEitherMuted(input, kAudioObjectPropertyScopeInput),
                                 juce::dontSendNotification);

    // Faders at 0 dB, sent through the worker while the interface is there.
    juce::Slider* const faders[] = {sliderInL.get(), sliderInR.get(), sliderOutL.get(), sliderOutR.get()};
    for (auto* fader : faders)
        fader->setValue(0.0, juce::dontSendNotification);
    if (sliderInGroup->isEnabled() && sliderOutGroup->isEnabled())
        for (auto* fader : faders)
            sliderValueChanged(fader);

    // The window re-centred with content at the default width and the panel's aspect ratio; a panel
    // without a positive size has no ratio and leaves the window where it is.
    if (auto* window = getParentComponent())
    {
        const int w = getWidth();
        const int h = getHeight();
        if (w > 0 && h > 0)
        {
            // A panel far taller than wide would give a height beyond int; such a height is kept in range.
            const double exact = (double) PanelSize::defaultWidth / ((double) w / (double) h);
            const int height = (int) juce::jmin(exact, (double) (std::numeric_limits<int>::max() / 2));
            const auto border = contentBorderOf(*window);
            window->centreWithSize(PanelSize::defaultWidth + border.getLeftAndRight(),
                                   height + border.getTopAndBottom());
            // Centred on a screen too small for it, the window is brought whole onto it.
            if (auto* resizable = dynamic_cast<juce::ResizableWindow*>(window))
                keepWholeOnScreen(*resizable);
        }
    }
}
