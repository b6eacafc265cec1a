// The factory settings: what reaches the interface and the audio devices, what the panel shows, what is
// left alone, how they meet a monitoring restore still pending, and the window re-centred.

#include "MenuTestSupport.h"

#include <ostream>

namespace
{
using namespace menutest;
using Bytes = std::vector<int>;

constexpr int factoryDefaultsId = 8195;

// Stored monitoring states that all differ from the factory ones.
void storeNonFactoryStates()
{
    storeSettings(
        {{"MonitoringHP", "1"}, {"MonitoringRecord", "0"}, {"MonitoringVol", "-20"}, {"loopback", "1"}});
}

struct StoredKeys
{
    juce::String hp, record, volume, loopback;
    bool operator==(const StoredKeys& o) const
    {
        return hp == o.hp && record == o.record && volume == o.volume && loopback == o.loopback;
    }
};

StoredKeys storedKeys(MainComponent& p)
{
    auto& s = *p.appProperties.getUserSettings();
    return {s.getValue("MonitoringHP"), s.getValue("MonitoringRecord"), s.getValue("MonitoringVol"),
            s.getValue("loopback")};
}

void expectFactoryPanel(MainComponent& p)
{
    EXPECT_TRUE(p.buttonTriggerMonitoringRecord->getToggleState());
    EXPECT_FALSE(p.buttonTriggerMonitoringHP->getToggleState());
    EXPECT_FALSE(p.sliderVolMon->isEnabled());
    EXPECT_FALSE(p.sliderVolMon->isVisible());
    for (auto* fader : {p.sliderInL.get(), p.sliderInR.get(), p.sliderOutL.get(), p.sliderOutR.get()})
        EXPECT_EQ(fader->getValue(), 0.0);
    EXPECT_EQ(p.loopbackDialog->getLoopbackState(), 0);
}

TEST_F(MenuTest, WithTheInterfaceEverythingReturnsToTheFactoryState)
{
    storeNonFactoryStates();
    sim::plug();
    sim::setInterfaceState(sim::Tri::unknown, sim::Tri::unknown, sim::Tri::on, std::nullopt);
    auto& p = makePanelAndSettle();
    ASSERT_EQ(commands(), Bytes({36, 4, 6}));
    // Changes made elsewhere: a muted channel in each direction, other volumes, another rate.
    const auto in = inputDevice();
    const auto out = outputDevice();
    sim::setMute(in, sim::Direction::input, 2, true);
    sim::setMute(out, sim::Direction::output, 1, true);
    sim::setVolumeDb(in, sim::Direction::input, 1, -30.0f);
    sim::setVolumeDb(out, sim::Direction::output, 2, -12.5f);
    sim::setRate(in, 96000.0);
    sim::setRate(out, 96000.0);
    ASSERT_TRUE(
        pumpUntil([&] { return p.buttonMuteIn->getToggleState() && p.buttonMuteOut->getToggleState(); }));
    const auto keysBefore = storedKeys(p);
    const auto knobBefore = p.sliderVolMon->getValue();

    p.menuItemSelected(factoryDefaultsId, 1);

    // At once: record monitoring on, headphone monitoring off; loopback off once the loop runs.
    EXPECT_EQ(commandsSince(3), Bytes({7, 5}));
    EXPECT_FALSE(p.buttonMuteIn->getToggleState());
    EXPECT_FALSE(p.buttonMuteOut->getToggleState());
    for (auto* label : {p.labelInL.get(), p.labelInR.get(), p.labelOutL.get(), p.labelOutR.get()})
        EXPECT_EQ(label->getText(), "0 dB");
    ASSERT_TRUE(pumpUntil([&] { return commands().size() == 6; }));
    settlePanel();
    EXPECT_EQ(commandsSince(3), Bytes({7, 5, 8}));

    for (const UInt32 element : {1u, 2u})
    {
        EXPECT_FALSE(sim::mute(in, sim::Direction::input, element));
        EXPECT_FALSE(sim::mute(out, sim::Direction::output, element));
        EXPECT_EQ(sim::volumeDb(in, sim::Direction::input, element), 0.0f);
        EXPECT_EQ(sim::volumeDb(out, sim::Direction::output, element), 0.0f);
    }
    EXPECT_EQ(sim::rate(in), 48000.0);
    EXPECT_EQ(sim::rate(out), 48000.0);
    const auto state = sim::interfaceState();
    EXPECT_EQ(state.headphone, sim::Tri::off);
    EXPECT_EQ(state.record, sim::Tri::on);
    EXPECT_EQ(state.loopback, sim::Tri::off);

    expectFactoryPanel(p);
    EXPECT_EQ(p.sliderVolMon->getValue(), knobBefore);
    EXPECT_EQ(p.loopbackState, 0);
    // The monitoring keys are not factory settings; "loopback" follows the accepted command.
    auto keysAfter = keysBefore;
    keysAfter.loopback = "0";
    EXPECT_TRUE(storedKeys(p) == keysAfter);
}

TEST_F(MenuTest, AppliedTwiceTheSecondTimeSendsNoLoopbackCommand)
{
    sim::plug();
    auto& p = makePanelAndSettle();
    const auto mark = commandMark();

    p.setFactoryDefaults();
    settlePanel();
    p.setFactoryDefaults();
    settlePanel();

    EXPECT_EQ(commandsSince(mark), Bytes({7, 5, 8, 7, 5}));
    expectFactoryPanel(p);
}

TEST_F(MenuTest, WithoutTheInterfaceOnlyThePanelChanges)
{
    storeNonFactoryStates();
    auto& p = makePanelAndSettle();
    for (auto* label : {p.labelInL.get(), p.labelInR.get(), p.labelOutL.get(), p.labelOutR.get()})
        label->setText("-12.5 dB", juce::dontSendNotification);
    p.sliderInR->setValue(-12.5, juce::dontSendNotification);
    const auto keysBefore = storedKeys(p);

    p.menuItemSelected(factoryDefaultsId, 1);
    settlePanel();

    EXPECT_TRUE(commands().empty());
    expectFactoryPanel(p);
    for (auto* label : {p.labelInL.get(), p.labelInR.get(), p.labelOutL.get(), p.labelOutR.get()})
        EXPECT_EQ(label->getText(), "-12.5 dB"); // the read-outs keep their text
    EXPECT_EQ(p.loopbackState, 1);               // the loopback-off command was refused
    EXPECT_TRUE(storedKeys(p) == keysBefore);
}

TEST_F(MenuTest, AfterUnplugAndReplugTheStoredSwitchStatesComeBack)
{
    storeNonFactoryStates();
    sim::plug();
    auto& p = makePanelAndSettle();
    p.setFactoryDefaults();
    settlePanel();
    const auto mark = commandMark();

    unplugAndSettle();
    plugAndSettle();
    ASSERT_TRUE(pumpUntil([&] { return !p.hasPendingRestore(); }));

    // The knob kept its value (-20), so only the two switches are sent.
    EXPECT_EQ(commandsSince(mark), Bytes({4, 6}));
    EXPECT_TRUE(p.buttonTriggerMonitoringHP->getToggleState());
    EXPECT_FALSE(p.buttonTriggerMonitoringRecord->getToggleState());
    EXPECT_TRUE(p.sliderVolMon->isVisible());
}

struct PendingCase
{
    const char* name;
    bool dropPending; // the start with "/init": the queued restore never runs
    Bytes atOnce;
    Bytes afterLoop;
};

// Test names in the test list show the case, not its bytes.
[[maybe_unused]] void PrintTo(const PendingCase& c, std::ostream* os)
{
    *os << c.name;
}

class PendingRestore : public MenuTest, public ::testing::WithParamInterface<PendingCase>
{
};

TEST_P(PendingRestore, TheFactorySettingsAreTheFinalState)
{
    const auto& c = GetParam();
    storeNonFactoryStates();
    sim::plug();
    auto& p = makePanel(); // device ready handled inside; its restore waits for the event loop
    ASSERT_TRUE(p.hasPendingRestore());
    ASSERT_TRUE(commands().empty());
    const auto keysBefore = storedKeys(p);

    if (c.dropPending)
        p.voidPendingRestore();
    p.setFactoryDefaults();

    EXPECT_EQ(commands(), c.atOnce);
    EXPECT_FALSE(p.hasPendingRestore());
    expectFactoryPanel(p);

    settlePanel(); // the queued restore job finds nothing to do
    EXPECT_EQ(commands(), c.afterLoop);
    expectFactoryPanel(p);
    EXPECT_EQ(p.appProperties.getUserSettings()->getValue("MonitoringHP"), keysBefore.hp);
    EXPECT_EQ(p.appProperties.getUserSettings()->getValue("MonitoringRecord"), keysBefore.record);
}

INSTANTIATE_TEST_SUITE_P(
    Callers, PendingRestore,
    ::testing::Values(PendingCase{"RunFirst", false, {36, 4, 6, 7, 5}, {36, 4, 6, 7, 5, 8}},
                      PendingCase{"Dropped", true, {7, 5}, {7, 5, 8}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct CentreCase
{
    const char* name;
    int panelWidth, panelHeight;
    int expectedHeight; // 0: the window stays as it was
};

// Test names in the test list show the case, not its bytes.
[[maybe_unused]] void PrintTo(const CentreCase& c, std::ostream* os)
{
    *os << c.name;
}

class Recentre : public MenuTest, public ::testing::WithParamInterface<CentreCase>
{
};

TEST_P(Recentre, TheWindowIsCentredWithContent316Wide)
{
    const auto& c = GetParam();
    auto& p = makePanelAndSettle();
    auto& w = showInWindow(40, 60);
    w.setContentComponentSize(c.panelWidth, c.panelHeight);
    ASSERT_EQ(p.getWidth(), c.panelWidth);
    ASSERT_EQ(p.getHeight(), c.panelHeight);
    const auto before = w.getBounds();

    p.setFactoryDefaults();
    settlePanel();

    if (c.expectedHeight == 0)
    {
        EXPECT_EQ(w.getBounds(), before);
        return;
    }
    EXPECT_EQ(p.getWidth(), 316);
    EXPECT_EQ(p.getHeight(), c.expectedHeight);
    const auto area = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->userArea;
    EXPECT_NEAR(w.getBounds().getCentreX(), area.getCentreX(), 1);
    EXPECT_NEAR(w.getBounds().getCentreY(), area.getCentreY(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, Recentre,
    ::testing::Values(CentreCase{"Largest", 452, 696, 486}, CentreCase{"Default", 316, 486, 486},
                      CentreCase{"Smallest", 226, 348, 486}, CentreCase{"OtherRatio", 300, 400, 421},
                      CentreCase{"ZeroWidth", 0, 486, 0}, CentreCase{"ZeroHeight", 316, 0, 0}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });
} // namespace
