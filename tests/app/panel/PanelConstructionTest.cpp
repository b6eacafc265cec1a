// Building the panel with and without the interface, the restore of the stored monitoring state on
// device ready, and the teardown.

#include "PanelTestSupport.h"

#include "RegisterDeviceCallBacksMac.h"
#include "USBCommands.h"

using namespace paneltest;

namespace
{
class PanelConstruction : public PanelTest
{
};

TEST_F(PanelConstruction, WithoutTheInterfaceTheDeviceWidgetsAreOffAndNothingIsSent)
{
    auto& p = makePanel();
    settlePanel();

    for (auto* widget : deviceWidgets(p))
    {
        EXPECT_FALSE(widget->isEnabled()) << widget->getName();
        EXPECT_FALSE(widget->isVisible()) << widget->getName();
    }
    EXPECT_EQ(p.getWidth(), 452);
    EXPECT_EQ(p.getHeight(), 696);
    EXPECT_EQ(p.menuBarHeight, 0);
    EXPECT_EQ(p.sliderVolMon->getValue(), 0.0);
    EXPECT_FALSE(p.hasPendingRestore());
    EXPECT_TRUE(sim::usbRequests().empty());
    EXPECT_EQ(gInAudioObjectID.load(), 0u);
    EXPECT_EQ(mydeviceStruct.owner.load(), &p);

    // Both dialog windows exist, hidden; the loopback window's content is 314 x 322.
    ASSERT_NE(p.loopbackDialogWindow, nullptr);
    ASSERT_NE(p.aboutDialogWindow, nullptr);
    EXPECT_FALSE(p.loopbackDialogWindow->isVisible());
    EXPECT_FALSE(p.aboutDialogWindow->isVisible());
    EXPECT_EQ(p.loopbackDialogWindow->getName(), "Loopback");
    EXPECT_EQ(p.aboutDialogWindow->getName(), "About Pelk VOD");
    EXPECT_FALSE(p.loopbackDialogWindow->isUsingNativeTitleBar());
    EXPECT_EQ(p.loopbackDialog->getWidth(), 314);
    EXPECT_EQ(p.loopbackDialog->getHeight(), 322);
}

TEST_F(PanelConstruction, WithTheInterfaceTheControlsShowTheSystemsVolumesAndMutes)
{
    sim::plug();
    sim::setVolumeDb(inputDevice(), sim::Direction::input, 1, -12.5f);
    sim::setVolumeDb(inputDevice(), sim::Direction::input, 2, -70.0f);
    sim::setVolumeDb(outputDevice(), sim::Direction::output, 1, -3.0f);
    sim::setVolumeDb(outputDevice(), sim::Direction::output, 2, -12.34567f);
    sim::setMute(inputDevice(), sim::Direction::input, 2, true);
    ASSERT_TRUE(sim::waitAudioIdle());

    auto& p = makePanel();
    // Device ready ran inside the constructor: faders, mutes and enabling are there at once.
    EXPECT_EQ(p.sliderInL->getValue(), -12.5);
    EXPECT_EQ(p.sliderInR->getValue(), -60.0);
    EXPECT_EQ(p.sliderOutL->getValue(), -3.0);
    EXPECT_EQ(p.sliderOutR->getValue(), -12.5);
    EXPECT_TRUE(p.buttonMuteIn->getToggleState());
    EXPECT_FALSE(p.buttonMuteOut->getToggleState());
    EXPECT_TRUE(p.hasPendingRestore());
    EXPECT_TRUE(sim::interfaceState().commands.empty()) << "the restore waits for the event loop";
    EXPECT_EQ(p.getTimerInterval(MainComponent::readBackTimerId), 200);

    ASSERT_TRUE(pumpUntil([&] { return !p.isTimerRunning(MainComponent::readBackTimerId); }));
    for (auto* widget : deviceWidgets(p))
    {
        if (widget == p.sliderVolMon.get())
            continue;
        EXPECT_TRUE(widget->isEnabled());
        EXPECT_TRUE(widget->isVisible());
    }
    EXPECT_EQ(p.labelInL->getText(), "-12.5 dB");
    EXPECT_EQ(p.labelInR->getText(), "-70 dB");
    EXPECT_EQ(p.labelOutL->getText(), "-3 dB");
    EXPECT_EQ(p.labelOutR->getText(), "-12.3457 dB");
}

// Stored monitoring state -> the command bytes after device ready, in order, and what the knob shows.
struct RestoreCase
{
    const char* name;
    std::vector<std::pair<juce::String, juce::String>> stored;
    std::vector<int> expectedCommands;
    double knob;
    bool knobShown;
};

class PanelRestore : public PanelTest, public ::testing::WithParamInterface<RestoreCase>
{
};

TEST_P(PanelRestore, DeviceReadySendsTheStoredStateOnceAfterTheCallback)
{
    const auto& c = GetParam();
    if (!c.stored.empty())
        storeSettings(c.stored);
    sim::plug();

    auto& p = makePanelAndSettle();
    settlePanel();

    EXPECT_EQ(commands(), c.expectedCommands);
    EXPECT_EQ(p.sliderVolMon->getValue(), c.knob);
    EXPECT_EQ(p.sliderVolMon->isVisible(), c.knobShown);
    EXPECT_EQ(p.sliderVolMon->isEnabled(), c.knobShown);
    const auto state = sim::interfaceState();
    EXPECT_EQ(state.headphone, c.knobShown ? sim::Tri::on : sim::Tri::off);
    EXPECT_EQ(p.buttonTriggerMonitoringHP->getToggleState(), c.knobShown);
    EXPECT_EQ(p.buttonTriggerMonitoringRecord->getToggleState(), state.record == sim::Tri::on);
    EXPECT_EQ(state.protocolViolations, 0);
}

const RestoreCase restoreCases[] = {
    {"FirstRun", {}, {5, 7}, 0.0, false},
    {"HeadphoneOnRecordOffKnob20",
     {{"MonitoringHP", "1"}, {"MonitoringRecord", "0"}, {"MonitoringVol", "-20"}},
     {36, 4, 6},
     -20.0,
     true},
    {"KnobRoundsToWholeDb", {{"MonitoringVol", "-20.6"}}, {37, 5, 7}, -21.0, false},
    {"KnobBelowRangeIsClamped", {{"MonitoringVol", "-200"}}, {126, 5, 7}, -110.0, false},
    {"KnobAboveRangeIsClamped", {{"MonitoringVol", "5"}}, {5, 7}, 0.0, false},
    {"KnobHugeValueIsClamped", {{"MonitoringVol", "1e308"}}, {5, 7}, 0.0, false},
    {"KnobHugeNegativeValueIsClamped", {{"MonitoringVol", "-1e308"}}, {126, 5, 7}, -110.0, false},
    {"KnobNotANumberReadsAsZero", {{"MonitoringVol", "nan"}}, {5, 7}, 0.0, false},
    {"KnobTextReadsAsZero", {{"MonitoringVol", "loud"}}, {5, 7}, 0.0, false},
    {"HeadphoneAnyTextButZeroIsOn", {{"MonitoringHP", "false"}}, {4, 7}, 0.0, true},
    {"RecordZeroIsOff", {{"MonitoringRecord", "0"}}, {5, 6}, 0.0, false},
};

INSTANTIATE_TEST_SUITE_P(StoredStates, PanelRestore, ::testing::ValuesIn(restoreCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(PanelConstruction, AStoredLoopbackOutsideZeroAndOneIsRepairedAtConstruction)
{
    storeSettings({{"loopback", "2"}});
    auto& p = makePanel();
    EXPECT_EQ(p.loopbackState, 0);
    destroyPanel();
    EXPECT_EQ(storedSetting("loopback"), "0");
}

// Teardown: the USB device is closed before any widget goes, the settings are written, and no event
// reaches the panel afterwards.
TEST_F(PanelConstruction, TeardownClosesTheDeviceFirstWritesTheSettingsAndTakesNoEventAfter)
{
    sim::plug();
    auto& p = makePanelAndSettle();
    ASSERT_TRUE(sim::usbStats().open);

    p.sliderVolMon->setValue(-37.0, juce::sendNotificationSync);
    p.buttonTriggerMonitoringHP->setToggleState(true, juce::sendNotificationSync);
    ASSERT_EQ(commandsSince(2), (std::vector<int>{53, 4}));

    struct DeletionWatch : juce::ComponentListener
    {
        std::vector<bool> deviceOpenAtDeletion;
        void componentBeingDeleted(juce::Component&) override
        {
            deviceOpenAtDeletion.push_back(sim::usbStats().open);
        }
    } watch;
    for (auto* widget : deviceWidgets(p))
        widget->addComponentListener(&watch);
    p.sliderInL->addComponentListener(&watch);

    const auto listenersBefore = sim::listenerCount(inputDevice());
    EXPECT_GT(listenersBefore, 0);

    destroyPanel();

    ASSERT_EQ(watch.deviceOpenAtDeletion.size(), 16u);
    for (const bool open : watch.deviceOpenAtDeletion)
        EXPECT_FALSE(open);
    EXPECT_EQ(sim::usbStats().closes, 1);
    EXPECT_EQ(mydeviceStruct.owner.load(), nullptr);
    EXPECT_EQ(sim::listenerCount(inputDevice()), 0);

    EXPECT_EQ(storedSetting("MonitoringVol"), "-37.0");
    EXPECT_EQ(storedSetting("MonitoringHP"), "1");
    EXPECT_EQ(storedSetting("MonitoringRecord"), "1");

    // Changes and plugs after the panel has gone reach nobody and send nothing.
    sim::setVolumeDb(inputDevice(), sim::Direction::input, 1, -30.0f);
    sim::unplug();
    sim::plug();
    settlePanel();
    EXPECT_TRUE(sim::waitAudioIdle());
    EXPECT_EQ(commands(), (std::vector<int>{5, 7, 53, 4}));
}
} // namespace

// The loopback window keeps its limits and ratio for the area inside its frame (its own title bar and
// edges), and keeps the proposed top-left corner.
struct LoopbackSizeCase
{
    const char* name;
    int requestedWidth; // of the area inside the frame
    int requestedHeight;
    int width;
    int height;
};

class LoopbackWindowSize : public PanelTest, public ::testing::WithParamInterface<LoopbackSizeCase>
{
};

TEST_P(LoopbackWindowSize, IsConstrainedInsideItsFrame)
{
    const auto& c = GetParam();
    auto& p = makePanel();
    auto& window = *p.loopbackDialogWindow;
    const auto border = window.getContentComponentBorder();
    ASSERT_GT(border.getTop(), 0) << "the window draws its own title bar";

    window.setBoundsConstrained(
        {100, 80, c.requestedWidth + border.getLeftAndRight(), c.requestedHeight + border.getTopAndBottom()});

    EXPECT_EQ(window.getPosition(), juce::Point<int>(100, 80));
    EXPECT_EQ(p.loopbackDialog->getWidth(), c.width);
    EXPECT_EQ(p.loopbackDialog->getHeight(), c.height);
}

const LoopbackSizeCase loopbackSizeCases[] = {
    {"Larger", 1000, 1000, 314, 322},
    {"Smaller", 10, 10, 223, 229},
    {"InRangeAtTheRatio", 273, 280, 273, 280},
};

INSTANTIATE_TEST_SUITE_P(Sizes, LoopbackWindowSize, ::testing::ValuesIn(loopbackSizeCases),
                         [](const auto& param) { return std::string(param.param.name); });
