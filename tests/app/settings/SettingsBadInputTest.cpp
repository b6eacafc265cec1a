// Settings files that are damaged, foreign or hand-edited: each key reads as stored or as its default,
// nothing crashes, and the next write leaves a well-formed file holding every key set since. The stored
// loopback mode is repaired: another integer becomes 0 and is written back, a text without digits reads
// as 0 and stays.

#include "SettingsTestSupport.h"

using namespace settingstest;

namespace
{
juce::MemoryBlock textBytes(const juce::String& text)
{
    return juce::MemoryBlock(text.toRawUTF8(), text.getNumBytesAsUTF8());
}

juce::MemoryBlock randomBytes(int size, const char* start = "")
{
    juce::MemoryBlock block(start, strlen(start));
    juce::Random random(20261210);
    while ((int) block.getSize() < size)
    {
        const auto byte = (char) random.nextInt(256);
        block.append(&byte, 1);
    }
    return block;
}

struct Stored
{
    const char* windowPosition;
    const char* monitoringVol;
    const char* monitoringHP;
    const char* monitoringRecord;
    int loopbackState;
};

constexpr Stored defaults{"", "0.0", "0", "1", 0};

struct BadFileCase
{
    const char* label;
    std::function<juce::MemoryBlock()> content; // nothing planted when null
    Stored expected;
};

void PrintTo(const BadFileCase& c, std::ostream* os)
{
    *os << c.label;
}

const BadFileCase badFiles[] = {
    {"Missing", nullptr, defaults},
    {"Empty", [] { return juce::MemoryBlock(); }, defaults},
    {"MalformedXml",
     [] {
         return textBytes(
             "<?xml version=\"1.0\"?>\n<PROPERTIES><VALUE name=\"MonitoringHP\" val=\"1\"/><VALUE");
     },
     defaults},
    {"BinaryGarbage", [] { return randomBytes(4096); }, defaults},
    {"GarbageBehindTheBinaryFormsMark", [] { return randomBytes(4096, "PROP"); }, defaults},
    {"GarbageBehindTheCompressedMark", [] { return randomBytes(4096, "CPRP"); }, defaults},
    {"TenMegabytesOfText",
     [] { return textBytes(juce::String::repeatedString("settings ", 10 * 1024 * 1024 / 9 + 1)); }, defaults},
    {"TenMegabyteDocument",
     []
     {
         return textBytes(
             settingsDocument({{"huge", juce::String::repeatedString("x", 10 * 1024 * 1024).toRawUTF8()},
                               {SettingsKeys::monitoringRecord, "0"}}));
     },
     {"", "0.0", "0", "0", 0}},
    {"OtherRootElement",
     [] { return textBytes("<SETTINGS><VALUE name=\"MonitoringHP\" val=\"1\"/></SETTINGS>"); }, defaults},
    {"UnknownElements",
     []
     {
         return textBytes("<PROPERTIES><FOO name=\"loopback\" val=\"1\"/><VALUE val=\"1\"/>"
                          "<VALUE name=\"MonitoringHP\" val=\"1\"><!-- note --></VALUE>"
                          "<VALUE name=\"MonitoringVol\"/><BAR>text</BAR></PROPERTIES>");
     },
     {"", "", "1", "1", 0}},
    {"KeysOfTheWrongCase",
     []
     {
         return textBytes(settingsDocument({{"windowposition", "fs 1 2 3 4"},
                                            {"MONITORINGVOL", "-30.0"},
                                            {"monitoringHP", "1"},
                                            {"Monitoringrecord", "0"},
                                            {"Loopback", "1"}}));
     },
     defaults},
    {"ValuesOfTheWrongType",
     []
     {
         return textBytes(settingsDocument({{SettingsKeys::windowPosition, "12"},
                                            {SettingsKeys::monitoringVol, "loud"},
                                            {SettingsKeys::monitoringHP, "false"},
                                            {SettingsKeys::monitoringRecord, "-1.5"},
                                            {SettingsKeys::loopback, "on"}}));
     },
     {"12", "loud", "false", "-1.5", 0}},
    {"LoopbackTwo",
     [] {
         return textBytes(settingsDocument({{SettingsKeys::loopback, "2"}}));
     },
     defaults},
    {"LoopbackMinusOne",
     [] {
         return textBytes(settingsDocument({{SettingsKeys::loopback, "-1"}}));
     },
     defaults},
    {"LoopbackWord",
     [] {
         return textBytes(settingsDocument({{SettingsKeys::loopback, "abc"}}));
     },
     defaults},
    {"LoopbackTwoAndText",
     [] {
         return textBytes(settingsDocument({{SettingsKeys::loopback, "2x"}}));
     },
     defaults},
};

struct SettingsBadFile : SettingsFolders, ::testing::WithParamInterface<BadFileCase>
{
};
} // namespace

TEST_P(SettingsBadFile, ReadsSafelyAndTheNextWriteIsWellFormed)
{
    if (GetParam().content)
        plant(GetParam().content());

    const auto& expected = GetParam().expected;

    {
        juce::ApplicationProperties properties;
        properties.setStorageParameters(makeSettingsOptions());
        auto& settings = *properties.getUserSettings();

        EXPECT_EQ(settings.getValue(SettingsKeys::windowPosition, SettingsDefaults::windowPosition),
                  expected.windowPosition);
        EXPECT_EQ(settings.getValue(SettingsKeys::monitoringVol, SettingsDefaults::monitoringVol),
                  expected.monitoringVol);
        EXPECT_EQ(settings.getValue(SettingsKeys::monitoringHP, SettingsDefaults::monitoringHP),
                  expected.monitoringHP);
        EXPECT_EQ(settings.getValue(SettingsKeys::monitoringRecord, SettingsDefaults::monitoringRecord),
                  expected.monitoringRecord);
        EXPECT_EQ(readLoopbackState(settings), expected.loopbackState);

        settings.setValue(SettingsKeys::monitoringVol, -37.0);
        settings.setValue(SettingsKeys::monitoringHP, true);
        settings.setValue(SettingsKeys::windowPosition, "fs 40 50 316 486");
    }

    const auto xml = storedXml();
    ASSERT_NE(xml, nullptr) << "the written file is XML";
    EXPECT_EQ(xml->getTagName(), "PROPERTIES");

    const auto stored = storedValues();
    EXPECT_EQ(stored[SettingsKeys::monitoringVol], "-37.0");
    EXPECT_EQ(stored[SettingsKeys::monitoringHP], "1");
    EXPECT_EQ(stored[SettingsKeys::windowPosition], "fs 40 50 316 486");

    juce::PropertiesFile reread(settingsFile(), makeSettingsOptions());
    EXPECT_EQ(reread.getValue(SettingsKeys::monitoringRecord, SettingsDefaults::monitoringRecord),
              expected.monitoringRecord);
    EXPECT_EQ(readLoopbackState(reread), expected.loopbackState);
}

INSTANTIATE_TEST_SUITE_P(Files, SettingsBadFile, ::testing::ValuesIn(badFiles),
                         [](const auto& c) { return std::string(c.param.label); });

namespace
{
struct LoopbackCase
{
    const char* label;
    const char* stored;
    int state;
    const char* storedAfter; // the text the file holds after the read
};

void PrintTo(const LoopbackCase& c, std::ostream* os)
{
    *os << c.label;
}

struct LoopbackRepair : SettingsFolders, ::testing::WithParamInterface<LoopbackCase>
{
};
} // namespace

TEST_P(LoopbackRepair, OtherIntegersBecomeZeroAndTextWithoutDigitsStays)
{
    const auto& c = GetParam();
    plant(settingsDocument({{SettingsKeys::loopback, c.stored}, {SettingsKeys::monitoringHP, "1"}}));
    const bool rewritten = juce::String(c.stored) != c.storedAfter;

    {
        juce::ApplicationProperties properties;
        properties.setStorageParameters(makeSettingsOptions());
        auto& settings = *properties.getUserSettings();

        EXPECT_EQ(readLoopbackState(settings), c.state);
        EXPECT_EQ(settings.getValue(SettingsKeys::loopback), c.storedAfter);
        EXPECT_EQ(settings.needsToBeSaved(), rewritten);

        // Reading again changes nothing further.
        EXPECT_EQ(readLoopbackState(settings), c.state);
    }

    const auto stored = storedValues();
    EXPECT_EQ(stored[SettingsKeys::loopback], c.storedAfter);
    EXPECT_EQ(stored[SettingsKeys::monitoringHP], "1") << "the repair keeps the other keys";
}

INSTANTIATE_TEST_SUITE_P(
    Values, LoopbackRepair,
    ::testing::Values(LoopbackCase{"Zero", "0", 0, "0"}, LoopbackCase{"One", "1", 1, "1"},
                      LoopbackCase{"Two", "2", 0, "0"}, LoopbackCase{"MinusOne", "-1", 0, "0"},
                      LoopbackCase{"Word", "abc", 0, "abc"}, LoopbackCase{"TwoAndText", "2x", 0, "0"},
                      LoopbackCase{"OneAndText", "1x", 1, "1x"}, LoopbackCase{"Blank", "", 0, ""},
                      LoopbackCase{"LeadingBlanks", "  1", 1, "  1"},
                      LoopbackCase{"LeadingZeros", "001", 1, "001"}, LoopbackCase{"MinusZero", "-0", 0, "-0"},
                      LoopbackCase{"Fraction", "1.9", 1, "1.9"},
                      LoopbackCase{"WrapsToOneIn32Bits", "4294967297", 0, "0"},
                      LoopbackCase{"WrapsToZeroIn32Bits", "4294967296", 0, "0"},
                      LoopbackCase{"VeryLong", "100000000000000000000000000000001", 0, "0"}),
    [](const auto& c) { return std::string(c.param.label); });
