// Device events and the read-back timers: event 3 read-backs, event 2, a second event 1, events the
// panel ignores, and the interface going away at awkward moments.

#include "PanelTestSupport.h"

#include "RegisterDeviceCallBacksMac.h"
#include "USBCommands.h"

using namespace paneltest;

namespace
{
// Counts the read-backs that timer 4100 makes.
class CountingPanel : public MainComponent
{
public:
    void timerCallback(int timerID) override
    {
        if (timerID == readBackTimerId && !systemVolumeBusy)
            ++readBacks;
        MainComponent::timerCallback(timerID);
    }
    std::atomic<int> readBacks{0};
};

class PanelEvents : public PanelTest
{
protected:
    CountingPanel& makeSettledCountingPanel()
    {
        sim::plug();
        auto& p = makePanel<CountingPanel>();
        EXPECT_TRUE(pumpUntil([&] { return !p.hasPendingRestore() && p.readBacks == 1; }));
        return p;
    }
};

TEST_F(PanelEvents, EventThreeRestartsTheReadBackWithFiftyMilliseconds)
{
    sim::plug();
    auto& p = makePanel<CountingPanel>();
    ASSERT_EQ(p.getTimerInterval(MainComponent::readBackTimerId), 200);

    // A change reported within the 200 ms after device ready restarts the timer at 50 ms.
    sim::setVolumeDb(inputDevice(), sim::Direction::input, 1, -20.0f);
    ASSERT_TRUE(pumpUntil([&] { return p.getTimerInterval(MainComponent::readBackTimerId) == 50; }));
    ASSERT_TRUE(pumpUntil([&] { return p.readBacks == 1; }));
    EXPECT_EQ(p.labelInL->getText(), "-20 dB");
    settlePanel();
    EXPECT_EQ(p.readBacks, 1);
    EXPECT_FALSE(p.isTimerRunning(MainComponent::readBackTimerId));
}

// A burst of changes from the audio service's thread gives exactly one read-back, after the last.
TEST_F(PanelEvents, ABurstOfEventsThreeGivesOneReadBack)
{
    auto& p = makeSettledCountingPanel();
    settlePanel();
    ASSERT_EQ(p.readBacks, 1);

    const auto in = inputDevice();
    std::thread writer(
        [in]
        {
            for (int i = 0; i < 1000; ++i)
                sim::setVolumeDb(in, sim::Direction::input, 2, -(float) (i % 100) * 0.5f - 0.5f);
            sim::setVolumeDb(in, sim::Direction::input, 2, -42.5f);
        });
    // The events wait for the message thread, so the loop runs while they arrive.
    ASSERT_TRUE(pumpUntil([&] { return sim::volumeDb(in, sim::Direction::input, 2) == -42.5f; }, 20000));
    writer.join();
    ASSERT_TRUE(pumpUntil([&] { return sim::waitAudioIdle(0); }, 20000));
    ASSERT_TRUE(pumpUntil([&] { return p.readBacks >= 2; }));
    settlePanel();

    EXPECT_EQ(p.readBacks, 2);
    EXPECT_EQ(p.labelInR->getText(), "-42.5 dB");
    EXPECT_EQ(p.sliderInR->getValue(), -42.5);
}

TEST_F(PanelEvents, TheReadBackShowsVolumesAsReadAndFadersOnTheirGrid)
{
    auto& p = makeSettledCountingPanel();
    sim::setVolumeDb(inputDevice(), sim::Direction::input, 1, -70.0f);
    sim::setVolumeDb(outputDevice(), sim::Direction::output, 2, -12.34567f);
    sim::setMute(outputDevice(), sim::Direction::output, 1, true);
    ASSERT_TRUE(pumpUntil([&] { return p.readBacks >= 2 && p.labelOutR->getText() == "-12.3457 dB"; }));

    EXPECT_EQ(p.labelInL->getText(), "-70 dB");
    EXPECT_EQ(p.sliderInL->getValue(), -60.0);
    EXPECT_EQ(p.sliderOutR->getValue(), -12.5);
    EXPECT_TRUE(p.buttonMuteOut->getToggleState());
    EXPECT_FALSE(p.buttonMuteIn->getToggleState());
}

// Reads that fail count as 0 dB and not muted.
TEST_F(PanelEvents, FailedAudioReadsShowZeroDecibelsAndNotMuted)
{
    sim::plug();
    sim::setVolumeDb(inputDevice(), sim::Direction::input, 1, -20.0f);
    sim::setMute(inputDevice(), sim::Direction::input, 1, true);
    ASSERT_TRUE(sim::waitAudioIdle());
    sim::PropertyFault volumeFault;
    volumeFault.op = sim::AudioOp::get;
    volumeFault.selector = kAudioDevicePropertyVolumeDecibels;
    sim::failProperty(volumeFault);
    sim::PropertyFault muteFault = volumeFault;
    muteFault.selector = kAudioDevicePropertyMute;
    sim::failProperty(muteFault);

    auto& p = makePanelAndSettle();
    EXPECT_EQ(p.sliderInL->getValue(), 0.0);
    EXPECT_EQ(p.labelInL->getText(), "0 dB");
    EXPECT_FALSE(p.buttonMuteIn->getToggleState());
    EXPECT_TRUE(p.sliderInGroup->isVisible());
}

TEST_F(PanelEvents, EventTwoHidesTheControlsClosesAboutAndLeavesTheLoopbackWindow)
{
    sim::plug();
    auto& p = makePanelAndSettle();
    p.aboutDialogWindow->setVisible(true);
    p.aboutDialogWindow->enterModalState(false);
    p.loopbackDialogWindow->setVisible(true);
    p.levelMeter1->displayLevel = 40;

    unplugAndSettle();

    for (auto* widget : deviceWidgets(p))
    {
        EXPECT_FALSE(widget->isEnabled());
        EXPECT_FALSE(widget->isVisible());
    }
    EXPECT_FALSE(p.aboutDialogWindow->isVisible());
    EXPECT_FALSE(p.aboutDialogWindow->isCurrentlyModal()) << "a modal About box ends";
    EXPECT_TRUE(p.loopbackDialogWindow->isVisible());
    EXPECT_EQ(p.levelMeter1->displayLevel, 0);
    EXPECT_EQ(p.levelMeter1->levelSource, nullptr);
    EXPECT_EQ(gInAudioObjectID.load(), 0u);
    EXPECT_EQ(gOutAudioObjectID.load(), 0u);
    p.loopbackDialogWindow->setVisible(false);

    // Plugged in again, the stored state comes back.
    const auto mark = commandMark();
    plugAndSettle();
    ASSERT_TRUE(pumpUntil([&] { return !p.hasPendingRestore(); }));
    EXPECT_EQ(commandsSince(mark), (std::vector<int>{5, 7}));
    EXPECT_TRUE(p.sliderInGroup->isVisible());
}

// Two device-ready events before the loop runs: the switches end as stored, each command sent once.
TEST_F(PanelEvents, ASecondDeviceReadyBeforeTheRestoreRunsDoesNotInvertTheSwitches)
{
    storeSettings({{"MonitoringHP", "1"}, {"MonitoringRecord", "0"}, {"MonitoringVol", "-20"}});
    sim::plug();
    auto& p = makePanel();
    raiseDeviceEvent(&mydeviceStruct, ORV_EVENT_DEVICE_READY);
    ASSERT_TRUE(pumpUntil([&] { return !p.hasPendingRestore(); }));
    settlePanel();

    EXPECT_EQ(commands(), (std::vector<int>{36, 4, 6}));
    EXPECT_TRUE(p.buttonTriggerMonitoringHP->getToggleState());
    EXPECT_FALSE(p.buttonTriggerMonitoringRecord->getToggleState());
    EXPECT_EQ(storedSetting("MonitoringHP"), "1");
    EXPECT_EQ(storedSetting("MonitoringRecord"), "0");
    EXPECT_TRUE(p.sliderVolMon->isVisible());
}

// A second device ready while the controls are on re-applies the four faders through the worker.
TEST_F(PanelEvents, ASecondDeviceReadyWithTheControlsOnReappliesTheFaders)
{
    sim::plug();
    auto& p = makePanelAndSettle();
    p.sliderInL->setValue(-10.0, juce::dontSendNotification);
    p.sliderInR->setValue(-11.0, juce::dontSendNotification);
    p.sliderOutL->setValue(-12.0, juce::dontSendNotification);
    p.sliderOutR->setValue(-13.0, juce::dontSendNotification);
    // The system's volumes are what device ready reads; set them apart from 0 so the re-apply shows.
    sim::setVolumeDb(inputDevice(), sim::Direction::input, 1, -1.0f);
    sim::setVolumeDb(inputDevice(), sim::Direction::input, 2, -2.0f);
    sim::setVolumeDb(outputDevice(), sim::Direction::output, 1, -3.0f);
    sim::setVolumeDb(outputDevice(), sim::Direction::output, 2, -4.0f);
    ASSERT_TRUE(pumpUntil([&] { return p.labelOutR->getText() == "-4 dB"; }));
    p.labelInL->setText("", juce::dontSendNotification);

    const auto journalMark = sim::journal().size();
    raiseDeviceEvent(&mydeviceStruct, ORV_EVENT_DEVICE_READY);
    // The faders take the system's values, which are queued again and written back by the worker.
    EXPECT_EQ(p.labelInL->getText(), "-1 dB");
    EXPECT_EQ(p.labelOutR->getText(), "-4 dB");
    ASSERT_TRUE(pumpUntil([&] { return !p.hasPendingRestore(); }));
    EXPECT_EQ(commandsSince(2), (std::vector<int>{5, 7}));

    const auto in = std::to_string(inputDevice());
    const auto out = std::to_string(outputDevice());
    const std::vector<std::string> expected{
        "audio-set " + in + " vold inpt 1 -1", "audio-set " + in + " vold inpt 2 -2",
        "audio-set " + out + " vold outp 1 -3", "audio-set " + out + " vold outp 2 -4"};
    std::vector<std::string> written;
    ASSERT_TRUE(pumpUntil(
        [&]
        {
            written.clear();
            const auto journal = sim::journal();
            for (size_t i = journalMark; i < journal.size(); ++i)
                if (journal[i].find(" vold ") != std::string::npos)
                    written.push_back(journal[i]);
            return written.size() >= 4;
        }));
    EXPECT_EQ(written, expected);
}

TEST_F(PanelEvents, PulledBetweenDeviceReadyAndItsRestoreSendsNothing)
{
    sim::plug();
    auto& p = makePanel();
    ASSERT_TRUE(p.hasPendingRestore());
    // The removal is handled before the queued restore runs.
    raiseDeviceEvent(&mydeviceStruct, ORV_EVENT_DEVICE_REMOVED);
    sim::unplug();
    settlePanel();

    EXPECT_FALSE(p.hasPendingRestore());
    EXPECT_TRUE(commands().empty());
    EXPECT_FALSE(p.sliderVolMon->isVisible());
    EXPECT_EQ(storedSetting("MonitoringHP"), "<absent>");
}

TEST_F(PanelEvents, RestoreCanBeRunAtOnceOrVoided)
{
    storeSettings({{"MonitoringHP", "1"}});
    sim::plug();
    auto& p = makePanel();
    ASSERT_TRUE(p.hasPendingRestore());
    p.runPendingRestore();
    EXPECT_EQ(commands(), (std::vector<int>{4, 7}));
    EXPECT_FALSE(p.hasPendingRestore());
    settlePanel();
    EXPECT_EQ(commands(), (std::vector<int>{4, 7})) << "the queued job finds nothing left to do";

    raiseDeviceEvent(&mydeviceStruct, ORV_EVENT_DEVICE_READY);
    ASSERT_TRUE(p.hasPendingRestore());
    p.voidPendingRestore();
    settlePanel();
    EXPECT_EQ(commands(), (std::vector<int>{4, 7}));
}

TEST_F(PanelEvents, SleepAndWakeChangeNothing)
{
    auto& p = makeSettledCountingPanel();
    const auto mark = commandMark();
    for (const auto event : {ORV_EVENT_SYSTEM_WILL_SLEEP, ORV_EVENT_SYSTEM_WILL_POWER_ON,
                             ORV_EVENT_SYSTEM_HAS_POWERED_ON, static_cast<ORV_CallbackEvent>(4)})
        MainComponent::OnApiCallback(&p, nullptr, event);
    sim::systemSleep();
    sim::systemWake();
    settlePanel();

    EXPECT_EQ(commandsSince(mark), std::vector<int>{});
    EXPECT_FALSE(p.isTimerRunning(MainComponent::readBackTimerId));
    EXPECT_EQ(p.readBacks, 1);
    EXPECT_TRUE(p.sliderInGroup->isVisible());
}

TEST_F(PanelEvents, ANullOwnerIsDropped)
{
    auto& p = makePanel();
    MainComponent::OnApiCallback(nullptr, nullptr, ORV_EVENT_AUDIO_PROPERTY_CHANGED);
    EXPECT_FALSE(p.isTimerRunning(MainComponent::readBackTimerId));
}
} // namespace

namespace
{
// The plug handler's pauses take real time here, so the interface can be pulled while it searches.
class PanelEventsRealClock : public PanelEvents
{
protected:
    sim::Config simConfig() const override
    {
        auto config = PanelEvents::simConfig();
        config.clock = sim::Clock::real;
        return config;
    }
};

TEST_F(PanelEventsRealClock, PulledWhileThePlugHandlerSearchesLeavesTheControlsOff)
{
    auto& p = makePanel();
    sim::PlugOptions late;
    late.audioAtRun = 3;
    sim::plug(sim::kInterface, late);

    // Pull the interface once the plug handler has begun its search on the main thread.
    std::thread puller(
        []
        {
            EXPECT_TRUE(pelktest::waitUntil([] { return sim::discoveryRuns() >= 1; }));
            sim::unplug();
        });
    ASSERT_TRUE(pumpUntil([] { return sim::discoveryRuns() >= 1; }, 10000));
    puller.join();
    ASSERT_TRUE(pumpUntil([] { return sim::pendingMain() == 0; }, 10000));
    settlePanel();

    EXPECT_FALSE(p.sliderInGroup->isVisible());
    EXPECT_FALSE(p.hasPendingRestore());
    EXPECT_TRUE(commands().empty());
    EXPECT_EQ(gUSBdevice, nullptr);

    // The next plug-in works as usual.
    sim::plug();
    ASSERT_TRUE(pumpUntil([&] { return p.sliderInGroup->isVisible() && !p.hasPendingRestore(); }, 10000));
    EXPECT_EQ(commands(), (std::vector<int>{5, 7}));
}
} // namespace
