// The panel's controls: faders through the worker to the audio service and back, the mute buttons and
// their settle time, the monitoring knob's command byte, and both monitoring switches.

#include "PanelTestSupport.h"

#include "RegisterDeviceCallBacksMac.h"
#include "USBCommands.h"

using namespace paneltest;

namespace
{
class PanelControls : public PanelTest
{
protected:
    MainComponent& pluggedPanel()
    {
        sim::plug();
        return makePanelAndSettle();
    }
};

struct FaderCase
{
    const char* name;
    int fader; // 0 in L, 1 in R, 2 out L, 3 out R
    double value;
    const char* readout;
};

class PanelFader : public PanelControls, public ::testing::WithParamInterface<FaderCase>
{
};

// A fader change goes through the worker to the audio service, and the service's change comes back as a
// read-back into the fader's read-out.
TEST_P(PanelFader, ReachesTheAudioServiceAndComesBack)
{
    const auto& c = GetParam();
    auto& p = pluggedPanel();
    juce::Slider* const faders[] = {p.sliderInL.get(), p.sliderInR.get(), p.sliderOutL.get(),
                                    p.sliderOutR.get()};
    juce::Label* const labels[] = {p.labelInL.get(), p.labelInR.get(), p.labelOutL.get(), p.labelOutR.get()};
    const bool input = c.fader < 2;
    const auto device = input ? inputDevice() : outputDevice();
    const auto direction = input ? sim::Direction::input : sim::Direction::output;
    const UInt32 element = (UInt32) (c.fader % 2 + 1);

    // Start away from the value, so that the change is reported.
    sim::setVolumeDb(device, direction, element, -30.0f);
    ASSERT_TRUE(pumpUntil([&] { return labels[c.fader]->getText() == "-30 dB"; }));

    faders[c.fader]->setValue(c.value, juce::sendNotificationSync);
    EXPECT_EQ(labels[c.fader]->getText(), c.readout) << "the read-out is written at once";
    labels[c.fader]->setText("", juce::dontSendNotification);

    ASSERT_TRUE(pumpUntil([&] { return sim::volumeDb(device, direction, element) == (float) c.value; }));
    ASSERT_TRUE(pumpUntil([&] { return labels[c.fader]->getText() == c.readout; }))
        << "the read-back after the service's change";
    EXPECT_EQ(faders[c.fader]->getValue(), c.value);
    for (int other = 0; other < 4; ++other)
    {
        if (other != c.fader)
        {
            EXPECT_EQ(faders[other]->getValue(), 0.0);
        }
    }
}

const FaderCase faderCases[] = {
    {"InRightHalfStep", 1, -12.5, "-12.5 dB"},
    {"InLeftBottom", 0, -60.0, "-60 dB"},
    {"OutLeftTop", 2, 0.0, "0 dB"},
    {"OutRight", 3, -7.5, "-7.5 dB"},
};

INSTANTIATE_TEST_SUITE_P(Faders, PanelFader, ::testing::ValuesIn(faderCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(PanelControls, MuteWritesBothChannelsAndHoldsReadBacksFiftyMilliseconds)
{
    auto& p = pluggedPanel();

    p.buttonMuteIn->setToggleState(true, juce::sendNotificationSync);
    EXPECT_TRUE(p.systemVolumeBusy);
    EXPECT_TRUE(p.isTimerRunning(MainComponent::muteSettleTimerId));
    EXPECT_EQ(p.getTimerInterval(MainComponent::muteSettleTimerId), 50);
    EXPECT_TRUE(sim::mute(inputDevice(), sim::Direction::input, 1));
    EXPECT_TRUE(sim::mute(inputDevice(), sim::Direction::input, 2));
    EXPECT_FALSE(sim::mute(outputDevice(), sim::Direction::output, 1));

    ASSERT_TRUE(pumpUntil([&] { return !p.systemVolumeBusy; }));
    EXPECT_FALSE(p.isTimerRunning(MainComponent::muteSettleTimerId));

    p.buttonMuteOut->setToggleState(true, juce::sendNotificationSync);
    EXPECT_TRUE(sim::mute(outputDevice(), sim::Direction::output, 1));
    EXPECT_TRUE(sim::mute(outputDevice(), sim::Direction::output, 2));
    p.buttonMuteOut->setToggleState(false, juce::sendNotificationSync);
    EXPECT_FALSE(sim::mute(outputDevice(), sim::Direction::output, 1));
    EXPECT_FALSE(sim::mute(outputDevice(), sim::Direction::output, 2));
    EXPECT_TRUE(p.systemVolumeBusy);
    ASSERT_TRUE(pumpUntil([&] { return !p.systemVolumeBusy; }));

    // The next read-back shows what the system holds.
    p.startTimer(MainComponent::readBackTimerId, 1);
    ASSERT_TRUE(pumpUntil([&] { return !p.isTimerRunning(MainComponent::readBackTimerId); }));
    EXPECT_TRUE(p.buttonMuteIn->getToggleState());
    EXPECT_FALSE(p.buttonMuteOut->getToggleState());
}

TEST_F(PanelControls, AReadBackDuringTheMuteSettleIsSkipped)
{
    auto& p = pluggedPanel();
    p.buttonMuteIn->setToggleState(true, juce::sendNotificationSync);
    p.labelInL->setText("untouched", juce::dontSendNotification);
    p.timerCallback(MainComponent::readBackTimerId);
    EXPECT_EQ(p.labelInL->getText(), "untouched");
    EXPECT_FALSE(p.isTimerRunning(MainComponent::readBackTimerId));
}

struct KnobCase
{
    double value;
    int byte;
    const char* stored;
};

class PanelKnob : public PanelControls, public ::testing::WithParamInterface<KnobCase>
{
};

TEST_P(PanelKnob, WritesTheMonitoringCommandAndStoresTheValue)
{
    const auto& c = GetParam();
    auto& p = pluggedPanel();
    p.sliderVolMon->setValue(-55.0, juce::dontSendNotification);
    const auto mark = commandMark();

    p.sliderVolMon->setValue(c.value, juce::sendNotificationSync);
    EXPECT_EQ(commandsSince(mark), std::vector<int>{c.byte});
    EXPECT_EQ(sim::interfaceState().monitorVolumeDb, std::optional<int>((int) c.value));
    destroyPanel();
    EXPECT_EQ(storedSetting("MonitoringVol"), c.stored);
}

INSTANTIATE_TEST_SUITE_P(Values, PanelKnob,
                         ::testing::Values(KnobCase{0.0, 16, "0.0"}, KnobCase{-1.0, 17, "-1.0"},
                                           KnobCase{-37.0, 53, "-37.0"}, KnobCase{-110.0, 126, "-110.0"}),
                         [](const auto& param) { return "Byte" + std::to_string(param.param.byte); });

TEST_F(PanelControls, KnobWithoutTheDeviceSendsNothingAndStillStores)
{
    auto& p = makePanel();
    p.sliderVolMon->setValue(-37.0, juce::sendNotificationSync);
    EXPECT_TRUE(sim::usbRequests().empty());
    EXPECT_EQ(storedSetting("MonitoringVol"), "<absent>") << "written 3 s after the change";
    destroyPanel();
    EXPECT_EQ(storedSetting("MonitoringVol"), "-37.0");
}

// The knob's value that never reached the interface is sent when the interface comes, although the
// stored value is the knob's own.
TEST_F(PanelControls, KnobTurnedWithoutTheDeviceIsSentOnThePlugIn)
{
    auto& p = makePanel();
    p.sliderVolMon->setValue(-37.0, juce::sendNotificationSync);
    plugAndSettle();
    ASSERT_TRUE(pumpUntil([&] { return !p.hasPendingRestore() && p.sliderInGroup->isVisible(); }));
    EXPECT_EQ(commands(), (std::vector<int>{53, 5, 7}));
    EXPECT_EQ(sim::interfaceState().monitorVolumeDb, std::optional<int>(-37));
}

struct SwitchCase
{
    const char* name;
    bool headphone;
    bool on;
    int byte;
};

class PanelSwitch : public PanelControls, public ::testing::WithParamInterface<SwitchCase>
{
};

TEST_P(PanelSwitch, SendsItsCommandAndStoresItsState)
{
    const auto& c = GetParam();
    // Start from the opposite of the case's state, so that the click changes it.
    storeSettings({{"MonitoringHP", c.headphone && !c.on ? "1" : "0"},
                   {"MonitoringRecord", !c.headphone && !c.on ? "1" : "0"}});
    auto& p = pluggedPanel();
    auto& button = c.headphone ? *p.buttonTriggerMonitoringHP : *p.buttonTriggerMonitoringRecord;
    ASSERT_EQ(button.getToggleState(), !c.on);
    const auto mark = commandMark();

    button.triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return button.getToggleState() == c.on; }));

    EXPECT_EQ(commandsSince(mark), std::vector<int>{c.byte});
    const auto key = c.headphone ? "MonitoringHP" : "MonitoringRecord";
    EXPECT_EQ(p.appProperties.getUserSettings()->getValue(key), c.on ? "1" : "0");
    if (c.headphone)
    {
        EXPECT_EQ(p.sliderVolMon->isVisible(), c.on);
        EXPECT_EQ(p.sliderVolMon->isEnabled(), c.on);
        if (c.on)
        {
            EXPECT_EQ(p.sliderVolMon->findColour(juce::Slider::thumbColourId), juce::Colour(0xff30649eu));
        }
    }
    destroyPanel();
    EXPECT_EQ(storedSetting(key), c.on ? "1" : "0");
}

const SwitchCase switchCases[] = {
    {"HeadphoneOn", true, true, 4},
    {"HeadphoneOff", true, false, 5},
    {"RecordOn", false, true, 7},
    {"RecordOff", false, false, 6},
};

INSTANTIATE_TEST_SUITE_P(Switches, PanelSwitch, ::testing::ValuesIn(switchCases),
                         [](const auto& param) { return std::string(param.param.name); });

// A USB request refused at the first, second or third request of a switch or knob command: the panel
// keeps running and keeps the key; the next plug-in restores the stored state.
struct RefusedCase
{
    const char* name;
    bool knob; // the knob's command, else the headphone switch's
    int request;
};

class PanelRefusedRequest : public PanelControls, public ::testing::WithParamInterface<RefusedCase>
{
};

TEST_P(PanelRefusedRequest, KeepsTheKeyAndTheNextPlugRestoresIt)
{
    const auto& c = GetParam();
    auto& p = pluggedPanel();
    ASSERT_EQ(sim::interfaceState().headphone, sim::Tri::off);

    sim::UsbFailRule rule;
    rule.when = sim::UsbFailRule::When::nth;
    rule.n = c.request;
    sim::failUsbRequests(rule);
    if (c.knob)
        p.sliderVolMon->setValue(-5.0, juce::sendNotificationSync);
    else
        p.buttonTriggerMonitoringHP->setToggleState(true, juce::sendNotificationSync);

    EXPECT_EQ(gUSBdevice, nullptr) << "a failed command forgets the device";
    const auto key = c.knob ? "MonitoringVol" : "MonitoringHP";
    EXPECT_EQ(p.appProperties.getUserSettings()->getValue(key), c.knob ? "-5.0" : "1");
    EXPECT_TRUE(sim::interfaceState().commands == (std::vector<int>{5, 7}));

    // Nothing more is sent until the interface is plugged in again.
    const auto requests = sim::usbRequests().size();
    p.buttonTriggerMonitoringRecord->setToggleState(false, juce::sendNotificationSync);
    p.buttonTriggerMonitoringRecord->setToggleState(true, juce::sendNotificationSync);
    EXPECT_EQ(sim::usbRequests().size(), requests);

    unplugAndSettle();
    plugAndSettle();
    ASSERT_TRUE(pumpUntil([&] { return !p.hasPendingRestore(); }));
    const auto state = sim::interfaceState();
    EXPECT_EQ(state.headphone, c.knob ? sim::Tri::off : sim::Tri::on);
    EXPECT_EQ(state.record, sim::Tri::on);
    if (c.knob)
    {
        EXPECT_EQ(state.monitorVolumeDb, std::optional<int>(-5));
    }

    // Once delivered, an unchanged knob is not sent again on the next plug-in.
    const auto mark = commandMark();
    unplugAndSettle();
    plugAndSettle();
    ASSERT_TRUE(pumpUntil([&] { return !p.hasPendingRestore(); }));
    EXPECT_EQ(commandsSince(mark), (std::vector<int>{c.knob ? 5 : 4, 7}));
}

const RefusedCase refusedCases[] = {
    {"SwitchFirstRequest", false, 1}, {"SwitchSecondRequest", false, 2}, {"SwitchThirdRequest", false, 3},
    {"KnobFirstRequest", true, 1},    {"KnobSecondRequest", true, 2},    {"KnobThirdRequest", true, 3},
};

INSTANTIATE_TEST_SUITE_P(Commands, PanelRefusedRequest, ::testing::ValuesIn(refusedCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(PanelControls, PulledWhileAFaderIsDraggedKeepsRunning)
{
    auto& p = pluggedPanel();
    for (int i = 0; i < 40; ++i)
    {
        p.sliderOutL->setValue(-0.5 * i, juce::sendNotificationSync);
        if (i == 20)
            sim::unplug();
        juce::MessageManager::getInstance()->runDispatchLoopUntil(1);
    }
    settlePanel();
    EXPECT_FALSE(p.sliderOutGroup->isVisible());
    EXPECT_EQ(gOutAudioObjectID.load(), 0u);
    EXPECT_TRUE(sim::waitAudioIdle());

    // Plugged in again, the fader works as before.
    plugAndSettle();
    ASSERT_TRUE(pumpUntil([&] { return p.sliderOutGroup->isVisible() && !p.hasPendingRestore(); }));
    p.sliderOutL->setValue(-6.0, juce::sendNotificationSync);
    ASSERT_TRUE(pumpUntil([&] { return sim::volumeDb(outputDevice(), sim::Direction::output, 1) == -6.0f; }));
}
} // namespace
