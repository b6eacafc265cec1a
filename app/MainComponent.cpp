// The main panel's construction and teardown, its device events and timers, and its controls. Layout and
// painting live in MainComponentLayout.cpp, the menus and their commands in MainComponentMenus.cpp.

#include "MainComponent.h"

#include "AboutWindow.h"
#include "BinaryData.h"
#include "ContentBorderConstrainer.h"
#include "DeviceEventHandOff.h"
#include "LevelFaders.h"
#include "PanelAudio.h"
#include "PatchGridLoopbackDialog.h"
#include "RegisterDeviceCallBacksMac.h"
#include "SettingsFile.h"
#include "USBCommands.h"

#include <cmath>

namespace
{
// Created by the first panel, deleted by the panel's destructor. No command is registered with it.
std::unique_ptr<juce::ApplicationCommandManager> applicationCommandManager;

// The version shown in the About box when no application object runs (a panel built by a test).
const char* const fallbackVersion = "1.5.0.0";

constexpr float monitoringMinDb = -110.0f;
constexpr float monitoringMaxDb = 0.0f;

juce::Image embeddedImage(const unsigned char* data, int size)
{
    return juce::ImageCache::getFromMemory(data, size);
}

// A fader's or the knob's value as its read-out shows it.
juce::String readoutText(double decibels)
{
    return juce::String(decibels) + " dB";
}

// The stored monitoring volume: a text that is not a number reads as 0 dB, any other value is kept
// within the knob's range before it is narrowed, so no command byte comes from a value out of range.
float storedMonitoringVolume(juce::PropertiesFile& settings)
{
    const double stored =
        settings.getValue(SettingsKeys::monitoringVol, SettingsDefaults::monitoringVol).getDoubleValue();
    if (std::isnan(stored))
        return 0.0f;
    return (float) juce::jlimit((double) monitoringMinDb, (double) monitoringMaxDb, stored);
}

// A stored switch is off exactly when its text is "0" (ignoring case).
bool storedSwitchOn(juce::PropertiesFile& settings, const char* key, const char* defaultText)
{
    return !settings.getValue(key, defaultText).equalsIgnoreCase("0");
}
} // namespace

MainComponent::MainComponent()
    : buttonMuteIn(std::make_unique<juce::ImageButton>("MuteIn")),
      buttonMuteOut(std::make_unique<juce::ImageButton>("MuteOut")),
      labelInL(std::make_unique<juce::Label>()), labelInR(std::make_unique<juce::Label>()),
      labelOutL(std::make_unique<juce::Label>()), labelOutR(std::make_unique<juce::Label>()),
      sliderInL(std::make_unique<juce::Slider>()), sliderInR(std::make_unique<juce::Slider>()),
      sliderOutL(std::make_unique<juce::Slider>()), sliderOutR(std::make_unique<juce::Slider>()),
      sliderVolMon(std::make_unique<juce::Slider>("VolMon")),
      buttonTriggerMonitoringRecord(std::make_unique<juce::ImageButton>("buttonTriggerMonitoringRecord")),
      buttonTriggerMonitoringHP(std::make_unique<juce::ImageButton>("buttonTriggerMonitoringHP")),
      levelMeter1(std::make_unique<LevelMeter2>()), levelMeter2(std::make_unique<LevelMeter2>()),
      levelMeter3(std::make_unique<LevelMeter2>()), levelMeter4(std::make_unique<LevelMeter2>()),
      menuBar(std::make_unique<juce::MenuBarComponent>(this)),
      popupMenuLookAndFeel(std::make_unique<PopupMenuLookandFeel>())
{
    // Settings, with the "loopback" repair.
    appProperties.setStorageParameters(makeSettingsOptions());
    loopbackState = readLoopbackState(*appProperties.getUserSettings());

    currentSampleRate = 0.0;

    if (applicationCommandManager == nullptr)
        applicationCommandManager = std::make_unique<juce::ApplicationCommandManager>();
    addKeyListener(applicationCommandManager->getKeyMappings());
    setApplicationCommandManagerToWatch(applicationCommandManager.get());

    systemVolumeBusy = false;

    // The in-window bar shows no menus and takes no height: on this system the main window carries the
    // panel's menus in its own menu bar, which the program installs with the panel as its model.
    addAndMakeVisible(*menuBar);
    menuBackgroundColour = juce::Colours::lightgrey;
    menuTextColour = juce::Colours::black;
    menuBarHeight = 0;
    menuBar->setModel(nullptr);

    RegisterRawDeviceCallBacks();

    backgroundImage =
        embeddedImage(ORVBIN::temp_binary_data_10, ORVBIN::temp_binary_data_10Size).createCopy();
    buttonFaceImage =
        embeddedImage(ORVBIN::temp_binary_data_11, ORVBIN::temp_binary_data_11Size).createCopy();
    imageOffset = {0, menuBarHeight};

    // Loopback dialog and its window. The panel owns the dialog; the window only shows it.
    loopbackDialog = std::make_unique<PatchGridLoopbackDialog>();
    if (!loopbackDialog->pathsInitialised)
        loopbackDialog->initConnectionPaths();
    loopbackDialog->resized();
    loopbackDialog->addActionListener(this);

    juce::DialogWindow::LaunchOptions options;
    options.dialogTitle = "Loopback";
    options.content.setNonOwned(loopbackDialog.get());
    options.escapeKeyTriggersCloseButton = true;
    options.useNativeTitleBar = false;
    options.resizable = true;
    loopbackDialogWindow.reset(options.create());
    {
        auto& window = *loopbackDialogWindow;
        window.setResizable(true, false);

        loopbackConstrainer = std::make_unique<ContentBorderConstrainer>(window);
        window.setConstrainer(loopbackConstrainer.get());

        const auto small = embeddedImage(ORVBIN::temp_binary_data_4, ORVBIN::temp_binary_data_4Size);
        const auto large = embeddedImage(ORVBIN::temp_binary_data_6, ORVBIN::temp_binary_data_6Size);
        loopbackConstrainer->setFixedAspectRatio(
            (double) ((float) small.getWidth() / (float) small.getHeight()));
        window.setContentComponentSize(large.getWidth(), large.getHeight());
        loopbackConstrainer->setSizeLimits(214, 229, large.getWidth(), large.getHeight());
    }

    // About box and its window.
    juce::String version = fallbackVersion;
    if (auto* app = juce::JUCEApplicationBase::getInstance())
        version = app->getApplicationVersion();
    aboutWindow = std::make_unique<AboutWindow>(juce::String("Pelk VOD") + " v" + version);
    options.dialogTitle = "About Pelk VOD";
    options.content.setNonOwned(aboutWindow.get());
    options.escapeKeyTriggersCloseButton = true;
    options.useNativeTitleBar = false;
    options.resizable = false;
    aboutDialogWindow.reset(options.create());

    imageWidth = backgroundImage.getWidth();
    imageHeight = backgroundImage.getHeight();

    for (auto* button : {buttonMuteOut.get(), buttonMuteIn.get(), buttonTriggerMonitoringRecord.get(),
                         buttonTriggerMonitoringHP.get()})
    {
        button->setClickingTogglesState(true);
        addAndMakeVisible(*button);
        button->addListener(this);
        button->setEnabled(true);
    }

    levelfaders::loadThumbs(sliderLookAndFeel2);

    const auto setUpFader = [this](juce::Slider& fader)
    {
        levelfaders::setUp(fader, sliderLookAndFeel2);
        addAndMakeVisible(fader);
        fader.setEnabled(true);
        fader.addListener(this);
    };

    setUpFader(*sliderInL);
    setUpFader(*sliderInR);
    sliderInGroup = levelfaders::makePair("sliderInGroup", *sliderInL, *sliderInR, sliderLookAndFeel2);
    addAndMakeVisible(*sliderInGroup);

    setUpFader(*sliderOutL);
    setUpFader(*sliderOutR);
    sliderOutGroup = levelfaders::makePair("sliderOutGroup", *sliderOutL, *sliderOutR, sliderLookAndFeel2);
    addAndMakeVisible(*sliderOutGroup);

    addAndMakeVisible(*sliderVolMon);
    sliderVolMon->setSliderStyle(juce::Slider::RotaryHorizontalVerticalDrag);
    sliderVolMon->setTextBoxStyle(juce::Slider::NoTextBox, true, 0, 0);
    sliderVolMon->addListener(this);
    sliderVolMon->setRange(monitoringMinDb, monitoringMaxDb, 1.0);
    const float pi = juce::MathConstants<float>::pi;
    sliderVolMon->setRotaryParameters(1.25f * pi, 2.75f * pi, true);
    sliderVolMon->setLookAndFeel(&rotaryLookAndFeel);
    sliderVolMon->setValue(0.0, juce::sendNotificationSync);

    setSize((int) imageWidth, (int) (imageHeight + menuBarHeight));

    for (auto* label : {labelOutR.get(), labelOutL.get(), labelInR.get(), labelInL.get()})
        addAndMakeVisible(*label);
    for (auto* label : {labelInL.get(), labelInR.get(), labelOutL.get(), labelOutR.get()})
    {
        label->setText("", juce::dontSendNotification);
        label->setLookAndFeel(&dBLabelLookAndFeel);
        label->setJustificationType(juce::Justification::centredRight);
    }

    enabledButtons(false);

    setInterfaceIdentity(&MainComponent::OnApiCallback, this);

    // With the interface present, device ready is handled in here.
    RegisterDeviceCallBacks();

    resized();
}

MainComponent::~MainComponent()
{
    // No event reaches the panel from here on: the record's owner is cleared and every notification
    // withdrawn; the USB device is closed and released first of all, so no command is written after.
    UnregisterDeviceCallBacks();
    stopTimer(muteSettleTimerId);
    stopTimer(readBackTimerId);
    voidPendingRestore();

    // The main window removes its menu bar before it deletes the panel.
    menuBar->setLookAndFeel(nullptr);
    juce::PopupMenu::dismissAllActiveMenus();
    menuBar.reset();

    // The faders go before their look, which is declared after them.
    sliderInGroup.reset();
    sliderOutGroup.reset();
    sliderInL.reset();
    sliderInR.reset();
    sliderOutL.reset();
    sliderOutR.reset();

    aboutWindow.reset();
    aboutDialogWindow.reset();

    for (auto* meter : {levelMeter1.get(), levelMeter2.get(), levelMeter3.get(), levelMeter4.get()})
    {
        meter->levelSource = nullptr;
        meter->displayLevel = 0;
    }
    levelMeter1.reset();
    levelMeter2.reset();
    levelMeter3.reset();
    levelMeter4.reset();

    sliderVolMon->setLookAndFeel(nullptr);

    removeKeyListener(applicationCommandManager->getKeyMappings());
    setApplicationCommandManagerToWatch(nullptr);
    applicationCommandManager.reset();

    // The loopback window lets go of its constrainer before either is destroyed; the window does not own
    // the dialog, so each goes exactly once.
    loopbackDialogWindow->setConstrainer(nullptr);
    loopbackDialogWindow.reset();
    loopbackDialog->removeActionListener(this);
    loopbackDialog.reset();
    loopbackConstrainer.reset();
}

// ---- Device events and timers ---------------------------------------------------------------------------

void MainComponent::OnApiCallback(void* owner, void*, ORV_CallbackEvent event)
{
    const auto handle = [owner, event]
    {
        auto* panel = static_cast<MainComponent*>(owner);
        switch (event)
        {
            case ORV_EVENT_AUDIO_PROPERTY_CHANGED:
                panel->startTimer(readBackTimerId, 50);
                break;
            case ORV_EVENT_DEVICE_REMOVED:
                panel->handleDeviceRemoved();
                break;
            case ORV_EVENT_DEVICE_READY:
                panel->handleDeviceReady();
                break;
            default:
                break;
        }
    };
    // Handled on the message thread while the panel is current; once the panel is going or the event loop
    // has ended, the event is dropped.
    runDeviceEventOnMessageThread(owner, handle);
}

void MainComponent::handleDeviceRemoved()
{
    enabledButtons(false);
    gInAudioObjectID = 0;
    gOutAudioObjectID = 0;
}

void MainComponent::handleDeviceReady()
{
    const AudioObjectID input = gInAudioObjectID;
    const AudioObjectID output = gOutAudioObjectID;

    if (!systemVolumeBusy)
    {
        const double in1 = readVolume(input, kAudioObjectPropertyScopeInput, 1);
        const double in2 = readVolume(input, kAudioObjectPropertyScopeInput, 2);
        sliderInL->setValue(in1, juce::dontSendNotification);
        sliderInR->setValue(in2, juce::dontSendNotification);
        const double out1 = readVolume(output, kAudioObjectPropertyScopeOutput, 1);
        const double out2 = readVolume(output, kAudioObjectPropertyScopeOutput, 2);
        sliderOutL->setValue(out1, juce::dontSendNotification);
        sliderOutR->setValue(out2, juce::dontSendNotification);
        hw_setSampleRateEx(hw_getSampleRate());
    }

    // The monitoring restore runs from the event loop after this event has been handled. One job only:
    // a newer device ready replaces an older one that is still queued.
    auto& settings = *appProperties.getUserSettings();
    pendingRestore.pending = true;
    const auto generation = ++pendingRestore.generation;
    pendingRestore.monitoringVolume = storedMonitoringVolume(settings);
    pendingRestore.headphoneOn =
        storedSwitchOn(settings, SettingsKeys::monitoringHP, SettingsDefaults::monitoringHP);
    pendingRestore.recordOn =
        storedSwitchOn(settings, SettingsKeys::monitoringRecord, SettingsDefaults::monitoringRecord);
    // Until the restore runs, each switch shows the opposite of its stored state, as before its click.
    buttonTriggerMonitoringHP->setToggleState(!pendingRestore.headphoneOn, juce::dontSendNotification);
    buttonTriggerMonitoringRecord->setToggleState(!pendingRestore.recordOn, juce::dontSendNotification);
    juce::MessageManager::callAsync(
        [safe = juce::Component::SafePointer<MainComponent>(this), generation]
        {
            if (safe != nullptr && safe->pendingRestore.pending &&
                safe->pendingRestore.generation == generation)
                safe->runPendingRestore();
        });

    if (sliderOutGroup->isEnabled() && sliderInGroup->isEnabled())
    {
        sliderValueChanged(sliderInL.get());
        sliderValueChanged(sliderInR.get());
        sliderValueChanged(sliderOutL.get());
        sliderValueChanged(sliderOutR.get());
    }

    buttonMuteIn->setToggleState(readEitherMuted(input, kAudioObjectPropertyScopeInput),
                                 juce::dontSendNotification);
    buttonMuteOut->setToggleState(readEitherMuted(output, kAudioObjectPropertyScopeOutput),
                                  juce::dontSendNotification);

    enabledButtons(true);
    menuItemsChanged();
    startTimer(readBackTimerId, 200);
    repaint();
}

void MainComponent::runPendingRestore()
{
    if (!pendingRestore.pending)
        return;
    pendingRestore.pending = false;
    const auto restore = pendingRestore;

    // The knob sends its command when the stored value differs from its own, and also when the interface
    // never received the knob's value (no device then, or the command failed).
    const double before = sliderVolMon->getValue();
    sliderVolMon->setValue(restore.monitoringVolume, juce::sendNotificationSync);
    if (sliderVolMon->getValue() == before && monitoringVolumeUndelivered && gUSBdevice != nullptr)
        sliderValueChanged(sliderVolMon.get());
    restoreSwitch(*buttonTriggerMonitoringHP, restore.headphoneOn);
    restoreSwitch(*buttonTriggerMonitoringRecord, restore.recordOn);
}

void MainComponent::voidPendingRestore()
{
    pendingRestore.pending = false;
}

// A click that leaves the switch in the stored state, sending its command and storing it; like a click,
// it is ignored while the switch is disabled (the interface went away meanwhile).
void MainComponent::restoreSwitch(juce::ImageButton& button, bool on)
{
    if (!button.isEnabled())
        return;
    button.setToggleState(on, juce::dontSendNotification);
    buttonClicked(&button);
}

void MainComponent::enabledButtons(bool on)
{
    juce::Component* const widgets[] = {buttonMuteOut.get(),
                                        buttonMuteIn.get(),
                                        buttonTriggerMonitoringHP.get(),
                                        buttonTriggerMonitoringRecord.get(),
                                        sliderVolMon.get(),
                                        labelInL.get(),
                                        labelInR.get(),
                                        labelOutL.get(),
                                        labelOutR.get(),
                                        sliderInGroup.get(),
                                        sliderOutGroup.get(),
                                        levelMeter3.get(),
                                        levelMeter4.get(),
                                        levelMeter1.get(),
                                        levelMeter2.get()};
    for (auto* widget : widgets)
    {
        widget->setEnabled(on);
        widget->setVisible(on);
    }

    if (!on)
    {
        aboutDialogWindow->setVisible(false);
        for (auto* meter : {levelMeter1.get(), levelMeter2.get(), levelMeter3.get(), levelMeter4.get()})
        {
            meter->levelSource = nullptr;
            meter->displayLevel = 0;
        }
    }
}

void MainComponent::readBackVolumesAndMutes()
{
    const AudioObjectID input = gInAudioObjectID;
    const AudioObjectID output = gOutAudioObjectID;

    const double volumes[4] = {readVolume(input, kAudioObjectPropertyScopeInput, 1),
                               readVolume(input, kAudioObjectPropertyScopeInput, 2),
                               readVolume(output, kAudioObjectPropertyScopeOutput, 1),
                               readVolume(output, kAudioObjectPropertyScopeOutput, 2)};

    buttonMuteIn->setToggleState(readEitherMuted(input, kAudioObjectPropertyScopeInput),
                                 juce::dontSendNotification);
    buttonMuteOut->setToggleState(readEitherMuted(output, kAudioObjectPropertyScopeOutput),
                                  juce::dontSendNotification);

    juce::Slider* const faders[4] = {sliderInL.get(), sliderInR.get(), sliderOutL.get(), sliderOutR.get()};
    juce::Label* const labels[4] = {labelInL.get(), labelInR.get(), labelOutL.get(), labelOutR.get()};
    for (int i = 0; i < 4; ++i)
    {
        labels[i]->setText(readoutText(volumes[i]), juce::dontSendNotification);
        faders[i]->setValue(volumes[i], juce::dontSendNotification);
    }
}

void MainComponent::timerCallback(int timerID)
{
    if (timerID == muteSettleTimerId)
    {
        stopTimer(muteSettleTimerId);
        systemVolumeBusy = false;
    }
    else if (timerID == readBackTimerId)
    {
        if (!systemVolumeBusy)
            readBackVolumesAndMutes();
        stopTimer(readBackTimerId);
    }
}

// ---- Controls -------------------------------------------------------------------------------------------

void MainComponent::buttonClicked(juce::Button* button)
{
    const bool state = button->getToggleState();

    if (button == buttonMuteIn.get())
    {
        systemVolumeBusy = true;
        writeMute(gInAudioObjectID, kAudioObjectPropertyScopeInput, state);
        startTimer(muteSettleTimerId, 50);
    }
    if (button == buttonMuteOut.get())
    {
        systemVolumeBusy = true;
        writeMute(gOutAudioObjectID, kAudioObjectPropertyScopeOutput, state);
        startTimer(muteSettleTimerId, 50);
    }
    if (button == buttonTriggerMonitoringRecord.get())
    {
        usb_hw_toggleMonitoringRecording(state ? 1u : 0u);
        appProperties.getUserSettings()->setValue(SettingsKeys::monitoringRecord, state);
    }
    if (button == buttonTriggerMonitoringHP.get())
    {
        usb_hw_toggleMonitoringHP(state ? 0u : 1u);
        appProperties.getUserSettings()->setValue(SettingsKeys::monitoringHP, state);
        sliderVolMon->setEnabled(state);
        sliderVolMon->setVisible(state);
        if (state)
            sliderVolMon->setColour(juce::Slider::thumbColourId, juce::Colour(0xff30649eu));
    }
}

void MainComponent::sliderValueChanged(juce::Slider* slider)
{
    const double value = slider->getValue();
    const auto text = readoutText(value);

    const auto fader = [&](int isInput, int channel, juce::Label& label)
    {
        volumeLevelThread.setLevelVolume(isInput, channel, value);
        label.setText(text, juce::dontSendNotification);
    };

    if (slider == sliderInL.get())
        fader(1, 1, *labelInL);
    else if (slider == sliderInR.get())
        fader(1, 2, *labelInR);
    else if (slider == sliderOutL.get())
        fader(0, 1, *labelOutL);
    else if (slider == sliderOutR.get())
        fader(0, 2, *labelOutR);
    else if (slider == sliderVolMon.get())
    {
        bool delivered = false;
        if (gUSBdevice != nullptr && std::isfinite(value))
            delivered = writeDeviceCommand(monitorVolumeCommand(value)) == 0;
        monitoringVolumeUndelivered = !delivered;
        appProperties.getUserSettings()->setValue(SettingsKeys::monitoringVol, value);
    }

    volumeLevelThread.notify();
}

void MainComponent::savedWindowPosition(juce::String state)
{
    appProperties.getUserSettings()->setValue(SettingsKeys::windowPosition, state);
}
