// When and how the settings file is written: one write per burst of changes, holding the last value;
// none for a value that does not change; a last write at destruction only when changes are pending;
// keys that differ by case kept apart. The settings are the store the panel uses.

#include "SettingsGuard.h"
#include "SettingsTestSupport.h"
#include "Wait.h"

using namespace settingstest;

namespace
{
struct SettingsWrites : SettingsFolders
{
    std::unique_ptr<SettingsStore> properties;
    std::unique_ptr<WriteCounter> writes;

    void SetUp() override
    {
        SettingsFolders::SetUp();
        ASSERT_TRUE(folder().createDirectory());
        writes = std::make_unique<WriteCounter>(folder(), "Pelk VOD Panel.settings");
        ASSERT_TRUE(writes->isWatching());
        open();
    }

    void TearDown() override
    {
        properties.reset();
        writes.reset();
        SettingsFolders::TearDown();
    }

    void open()
    {
        properties = std::make_unique<SettingsStore>();
        properties->setStorageParameters(makeSettingsOptions());
    }

    juce::PropertiesFile& settings() { return *properties->getUserSettings(); }
};
} // namespace

TEST_F(SettingsWrites, ABurstOfChangesGivesOneWriteHoldingTheLastValue)
{
    // The knob moved through five values, 500 ms apart: each change restarts the 3000 ms delay.
    const double knob[] = {-5.0, -12.0, -20.0, -31.0, -37.0};
    auto lastChange = juce::Time::getMillisecondCounter();

    for (const auto value : knob)
    {
        settings().setValue(SettingsKeys::monitoringVol, value);
        lastChange = juce::Time::getMillisecondCounter();
        pump(500);
    }

    // 2.5 s after the first change and well within 3 s of the last one: nothing written yet.
    pump(1500);
    if (juce::Time::getMillisecondCounter() - lastChange < 2900)
    {
        EXPECT_EQ(writes->count(), 0) << "the delay restarts with every change";
    }

    EXPECT_TRUE(pelktest::pumpUntil([&] { return writes->count() >= 1; }, 5000));
    EXPECT_EQ(writes->count(), 1);
    EXPECT_FALSE(settings().needsToBeSaved());
    EXPECT_EQ(storedValues()[SettingsKeys::monitoringVol], "-37.0");

    // Nothing further follows on its own: the next write is the one a further change makes.
    settings().setValue(SettingsKeys::monitoringVol, -40.0);
    EXPECT_TRUE(pelktest::pumpUntil([&] { return writes->count() >= 2; }, 5000));
    EXPECT_EQ(writes->count(), 2);
}

TEST_F(SettingsWrites, SettingTheStoredTextAgainSchedulesNoWrite)
{
    plant(settingsDocument({{SettingsKeys::monitoringHP, "1"}, {SettingsKeys::monitoringVol, "-20.0"}}));
    open();
    const int before = writes->count();

    settings().setValue(SettingsKeys::monitoringHP, true);
    settings().setValue(SettingsKeys::monitoringVol, -20.0);
    settings().setValue(SettingsKeys::monitoringHP, "1");
    EXPECT_FALSE(settings().needsToBeSaved());

    // Nothing is pending: closing, which saves what is, writes nothing.
    properties.reset();
    EXPECT_EQ(writes->count(), before);
    open();

    // The first change of a switch does write; writing the same state again right after does not add
    // a second write.
    settings().setValue(SettingsKeys::monitoringRecord, false);
    EXPECT_TRUE(settings().needsToBeSaved());
    EXPECT_TRUE(pelktest::pumpUntil([&] { return writes->count() > before; }, 5000));
    EXPECT_EQ(writes->count(), before + 1);

    settings().setValue(SettingsKeys::monitoringRecord, false);
    EXPECT_FALSE(settings().needsToBeSaved());
    properties.reset();
    EXPECT_EQ(writes->count(), before + 1);
    EXPECT_EQ(storedValues()[SettingsKeys::monitoringRecord], "0");
}

TEST_F(SettingsWrites, ClosingWritesPendingChangesOnlyWhenThereAreAny)
{
    settings().setValue(SettingsKeys::monitoringRecord, false);
    settings().setValue(SettingsKeys::loopback, 1);
    properties.reset();

    EXPECT_EQ(writes->count(), 1);
    EXPECT_EQ(storedValues()[SettingsKeys::monitoringRecord], "0");
    EXPECT_EQ(storedValues()[SettingsKeys::loopback], "1");

    // Opened again and closed without a change: the file is left alone.
    const auto modified = settingsFile().getLastModificationTime();
    open();
    EXPECT_EQ(readLoopbackState(settings()), 1);
    properties.reset();
    EXPECT_EQ(writes->count(), 1);
    EXPECT_EQ(settingsFile().getLastModificationTime(), modified);
}

TEST_F(SettingsWrites, KeysThatDifferByCaseAreDifferentKeys)
{
    settings().setValue(SettingsKeys::loopback, 1);
    settings().setValue("Loopback", juce::var(0));
    settings().setValue("MONITORINGHP", "1");

    EXPECT_EQ(settings().getValue(SettingsKeys::loopback), "1");
    EXPECT_EQ(settings().getValue("Loopback"), "0");
    EXPECT_EQ(settings().getValue(SettingsKeys::monitoringHP, SettingsDefaults::monitoringHP), "0");
    properties.reset();

    const auto stored = storedValues();
    EXPECT_EQ(stored.size(), 3);
    EXPECT_EQ(stored[SettingsKeys::loopback], "1");
    EXPECT_EQ(stored["Loopback"], "0");
    EXPECT_EQ(stored["MONITORINGHP"], "1");

    open();
    EXPECT_EQ(readLoopbackState(settings()), 1);
    EXPECT_FALSE(settings().containsKey("LOOPBACK"));
}

TEST_F(SettingsWrites, TheFileIsTheFrameworksXmlPropertiesForm)
{
    settings().setValue(SettingsKeys::windowPosition, "fs 10 20 316 486");
    settings().setValue(SettingsKeys::monitoringVol, -37.0);
    settings().setValue(SettingsKeys::monitoringHP, true);
    settings().setValue(SettingsKeys::monitoringRecord, false);
    settings().setValue(SettingsKeys::loopback, 1);
    properties.reset();

    const auto xml = storedXml();
    ASSERT_NE(xml, nullptr);
    EXPECT_EQ(xml->getTagName(), "PROPERTIES");

    juce::StringPairArray found;
    for (auto* value : xml->getChildIterator())
    {
        EXPECT_EQ(value->getTagName(), "VALUE");
        found.set(value->getStringAttribute("name"), value->getStringAttribute("val"));
    }

    EXPECT_EQ(found.size(), 5);
    EXPECT_EQ(found[SettingsKeys::windowPosition], "fs 10 20 316 486");
    EXPECT_EQ(found[SettingsKeys::monitoringVol], "-37.0");
    EXPECT_EQ(found[SettingsKeys::monitoringHP], "1");
    EXPECT_EQ(found[SettingsKeys::monitoringRecord], "0");
    EXPECT_EQ(found[SettingsKeys::loopback], "1");
}
