// The settings guard: which documents and paths are usable, the byte format of its saves against the
// framework's, an unusable file kept aside, and saves into a full or read-only folder reported once per
// failure and retried with the next change.

#include "SettingsGuard.h"
#include "SettingsTestSupport.h"
#include "SmallFileSystem.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

using namespace settingstest;

namespace
{
std::string repeated(const std::string& text, int times)
{
    std::string s;
    for (int i = 0; i < times; ++i)
        s += text;
    return s;
}

std::string nestedIn(int depth)
{
    return "<PROPERTIES>" + repeated("<a>", depth) + repeated("</a>", depth) + "</PROPERTIES>";
}

std::string selfClosing(int count)
{
    return "<PROPERTIES>" + repeated("<VALUE name=\"k\" val=\"1\"/>", count) + "</PROPERTIES>";
}

// A document of exactly the given size: one value padded with x.
std::string ofSize(std::size_t size)
{
    const std::string head = "<PROPERTIES><VALUE name=\"pad\" val=\"", tail = "\"/></PROPERTIES>";
    return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

std::string withValue(const std::string& attributeText)
{
    return "<PROPERTIES><VALUE name=\"v\" val=\"" + attributeText + "\"/></PROPERTIES>";
}

struct DocumentCase
{
    const char* label;
    std::function<std::string()> bytes;
    const char* fault; // "" when usable
};

void PrintTo(const DocumentCase& c, std::ostream* os)
{
    *os << c.label;
}

const DocumentCase documents[] = {
    {"WrittenByTheProgram",
     [] {
         return settingsDocument({{"WindowPosition", "300 200 318 538"}, {"MonitoringHP", "1"}})
             .toStdString();
     },
     ""},
    {"MarkAndDeclarationAndCommentAndCdata",
     []
     {
         return std::string("\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- <a><a><a> -->\n<PROPERTIES>"
                            "<VALUE name=\"t\"><![CDATA[<b><b><b>]]></VALUE></PROPERTIES>");
     },
     ""},
    {"QuotedMarkupInAttributes", [] { return withValue("a&gt;b") + "<!-- x -->"; }, ""},
    {"AngleBracketsInQuotes",
     [] { return std::string("<PROPERTIES><VALUE name='<a><a>' val=\">>/\"/></PROPERTIES>"); }, ""},
    {"FourByteCharacters", [] { return withValue("\xF0\x9F\x8E\xA7 \xC3\xA9"); }, ""},
    {"MarkupValueWithinTheDepth",
     [] { return withValue(repeated("&lt;a&gt;", 16) + repeated("&lt;/a&gt;", 16)); }, ""},
    {"Depth16", [] { return nestedIn(15); }, ""},
    {"Depth17", [] { return nestedIn(16); }, "nested deeper than 16 levels"},
    {"DepthUnclosed", [] { return "<PROPERTIES>" + repeated("<a>", 80000); }, "nested deeper than 16 levels"},
    {"Elements1000", [] { return selfClosing(999); }, ""},
    {"Elements1001", [] { return selfClosing(1000); }, "more than 1000 elements"},
    {"Size256KiB", [] { return ofSize(256 * 1024); }, ""},
    {"Size256KiBAndOne", [] { return ofSize(256 * 1024 + 1); }, "larger than 256 KiB"},
    {"NulByte", [] { return std::string("<PROPERTIES>\0</PROPERTIES>", 26); }, "NUL bytes"},
    {"Overlong", [] { return withValue("\xC0\xAF"); }, "not UTF-8 text"},
    {"Surrogate", [] { return withValue("\xED\xA0\x80"); }, "not UTF-8 text"},
    {"BeyondUnicode", [] { return withValue("\xF4\x90\x80\x80"); }, "not UTF-8 text"},
    {"LoneContinuation", [] { return withValue("\x80"); }, "not UTF-8 text"},
    {"CutSequence", [] { return std::string("<PROPERTIES/>\xE2\x82"); }, "not UTF-8 text"},
    {"DocumentType", [] { return "<!DOCTYPE PROPERTIES [<!ENTITY e \"x\">]>" + withValue("&e;"); },
     "a document type declaration"},
    {"DeepMarkupInAValuesText", [] { return withValue(repeated("&lt;a&gt;", 17)); },
     "in a value: nested deeper than 16 levels"},
    {"OtherRoot", [] { return std::string("<SETTINGS><VALUE name=\"a\" val=\"1\"/></SETTINGS>"); },
     "not a settings document"},
    {"Text", [] { return std::string("settings"); }, "not a settings document"},
    {"CutInATag", [] { return std::string("<PROPERTIES><VALUE name=\"a\" va"); }, "not a settings document"},
};

struct DocumentVetting : ::testing::TestWithParam<DocumentCase>
{
};
} // namespace

TEST_P(DocumentVetting, FindsTheFaultOrNone)
{
    const auto bytes = GetParam().bytes();
    EXPECT_EQ(findSettingsDocumentFault(bytes.data(), bytes.size()), GetParam().fault);
}

INSTANTIATE_TEST_SUITE_P(Documents, DocumentVetting, ::testing::ValuesIn(documents),
                         [](const auto& c) { return std::string(c.param.label); });

namespace
{
using Kind = SettingsFileVerdict::Kind;

struct PathCase
{
    const char* label;
    std::function<void(const juce::File& path, const juce::File& elsewhere)> make;
    Kind kind;
    const char* fault;
};

void PrintTo(const PathCase& c, std::ostream* os)
{
    *os << c.label;
}

void link(const juce::String& target, const juce::File& at)
{
    ASSERT_EQ(::symlink(target.toRawUTF8(), at.getFullPathName().toRawUTF8()), 0);
}

void write(const juce::File& file, const juce::String& text)
{
    ASSERT_TRUE(file.replaceWithData(text.toRawUTF8(), text.getNumBytesAsUTF8()));
}

const juce::String good = settingsDocument({{"MonitoringHP", "1"}});

const PathCase paths[] = {
    {"Nothing", [](auto&, auto&) {}, Kind::absent, ""},
    {"EmptyFile", [](auto& p, auto&) { write(p, {}); }, Kind::absent, ""},
    {"GoodFile", [](auto& p, auto&) { write(p, good); }, Kind::usable, ""},
    {"BadFile", [](auto& p, auto&) { write(p, "<PROPERTIES>"); }, Kind::unusable, "not a settings document"},
    {"NamedPipe", [](auto& p, auto&) { ASSERT_EQ(::mkfifo(p.getFullPathName().toRawUTF8(), 0644), 0); },
     Kind::unusable, "a named pipe"},
    {"Folder", [](auto& p, auto&) { ASSERT_TRUE(p.createDirectory()); }, Kind::unusable, "a folder"},
    {"LinkToADevice", [](auto& p, auto&) { link("/dev/zero", p); }, Kind::unusable,
     "a symbolic link to a device"},
    {"LinkToAFolder", [](auto& p, auto& e) { link(e.getParentDirectory().getFullPathName(), p); },
     Kind::unusable, "a symbolic link to a folder"},
    {"LinkToNothing", [](auto& p, auto& e) { link(e.getFullPathName(), p); }, Kind::unusable,
     "a symbolic link that leads to no file"},
    {"LinkToAGoodFile",
     [](auto& p, auto& e)
     {
         write(e, good);
         link(e.getFullPathName(), p);
     },
     Kind::usable, ""},
    {"LinkToALinkToAGoodFile",
     [](auto& p, auto& e)
     {
         write(e, good);
         link(e.getFullPathName(), e.getSiblingFile("second"));
         link(e.getSiblingFile("second").getFullPathName(), p);
     },
     Kind::usable, ""},
};

struct PathVetting : SettingsFolders, ::testing::WithParamInterface<PathCase>
{
};
} // namespace

TEST_P(PathVetting, TellsWhatLiesThere)
{
    ASSERT_TRUE(folder().createDirectory());
    const auto elsewhere = root.getChildFile("elsewhere/settings.xml");
    ASSERT_TRUE(elsewhere.getParentDirectory().createDirectory());
    GetParam().make(settingsFile(), elsewhere);

    const auto verdict = vetSettingsFile(settingsFile());
    EXPECT_EQ(verdict.kind, GetParam().kind);
    EXPECT_EQ(verdict.fault, GetParam().fault);
}

INSTANTIATE_TEST_SUITE_P(Paths, PathVetting, ::testing::ValuesIn(paths),
                         [](const auto& c) { return std::string(c.param.label); });

namespace
{
// A store on the test's settings file whose lines are collected.
struct Store
{
    SettingsStore store;
    juce::StringArray lines;

    Store()
    {
        store.setStorageParameters(makeSettingsOptions());
        store.setReporter([this](const juce::String& line) { lines.add(line); });
    }

    juce::PropertiesFile& settings() { return *store.getUserSettings(); }
};

juce::MemoryBlock contentOf(const juce::File& file)
{
    juce::MemoryBlock block;
    file.loadFileAsData(block);
    return block;
}
} // namespace

// The same key set saved by the framework's properties file and by the store gives the same bytes, after
// a first save and after a change to a loaded file.
TEST_F(SettingsFolders, TheStoreSavesTheFrameworksBytes)
{
    const std::pair<const char*, juce::var> values[] = {
        {"WindowPosition", "fs 10 20 316 486"},
        {"MonitoringVol", -37.0},
        {"MonitoringHP", true},
        {"loopback", 1},
        {"empty", ""},
        {"marks", "a & b < c > d \"q\" 'a' \t tab"},
        {"lines", "one\ntwo\r\nthree"},
        {"unicode", juce::String::fromUTF8("Gr\xC3\xBC\xC3\x9F\x65 \xE2\x9C\x93 \xF0\x9F\x8E\xA7")},
        {"markup", "<SOME a=\"1\"><B>text &amp; more</B><C/></SOME>"},
        {"notMarkup", "<a><b></a>"},
    };

    auto frameworkOptions = makeSettingsOptions();
    frameworkOptions.folderName = root.getChildFile("framework").getFullPathName();
    const auto frameworkFile = frameworkOptions.getDefaultFile();

    {
        juce::PropertiesFile framework(frameworkOptions);
        Store store;
        for (const auto& [key, value] : values)
        {
            framework.setValue(key, value);
            store.settings().setValue(key, value);
        }
    }
    ASSERT_TRUE(settingsFile().existsAsFile());
    EXPECT_TRUE(contentOf(settingsFile()) == contentOf(frameworkFile))
        << settingsFile().loadFileAsString() << frameworkFile.loadFileAsString();

    {
        juce::PropertiesFile framework(frameworkOptions);
        Store store;
        framework.setValue("MonitoringVol", -12.0);
        store.settings().setValue("MonitoringVol", -12.0);
        EXPECT_EQ(store.settings().getAllProperties().size(), (int) std::size(values));
        EXPECT_TRUE(store.lines.isEmpty());
    }
    EXPECT_TRUE(contentOf(settingsFile()) == contentOf(frameworkFile))
        << settingsFile().loadFileAsString() << frameworkFile.loadFileAsString();
}

// An unusable file goes aside, replacing an older one kept there; with a folder in the way it stays where it
// is, unread, and nothing is saved over it.
TEST_F(SettingsFolders, AnUnusableFileIsKeptAsideOrLeftAloneButNeverOverwritten)
{
    const auto aside = unusableSettingsFileFor(settingsFile());
    EXPECT_EQ(aside.getFileName(), "Pelk VOD Panel.settings.unusable");
    plant(juce::String("<PROPERTIES><VALUE name=\"MonitoringHP\" val=\"1\"/>"));
    ASSERT_TRUE(aside.replaceWithText("older"));

    {
        Store store;
        EXPECT_EQ(store.settings().getValue("MonitoringHP", "0"), "0");
        store.settings().setValue("MonitoringRecord", false);
        ASSERT_EQ(store.lines.size(), 1);
        EXPECT_EQ(store.lines[0], "Pelk VOD Panel: the settings file \"" + settingsFile().getFullPathName() +
                                      "\" is unusable (not a settings document); it was kept as \"" +
                                      aside.getFullPathName() + "\" and the defaults apply");
    }
    EXPECT_EQ(aside.loadFileAsString(), "<PROPERTIES><VALUE name=\"MonitoringHP\" val=\"1\"/>");
    EXPECT_EQ(storedValues()["MonitoringRecord"], "0");

    // Now a folder holds the place: the bad file is neither read, moved nor replaced.
    ASSERT_TRUE(aside.deleteFile());
    ASSERT_TRUE(aside.createDirectory());
    ASSERT_TRUE(aside.getChildFile("kept").replaceWithText("kept"));
    const juce::MemoryBlock notUtf8("<PROPERTIES>\xEF", 13);
    plant(notUtf8);
    {
        Store store;
        store.settings().setValue("MonitoringRecord", true);
        EXPECT_TRUE(store.settings().needsToBeSaved());
        ASSERT_EQ(store.lines.size(), 1);
        EXPECT_TRUE(store.lines[0].endsWith(
            "is unusable (not UTF-8 text) and could not be kept as \"" + aside.getFullPathName() +
            "\" (Is a directory); the defaults apply and the settings will not be saved"))
            << store.lines[0];
    }
    EXPECT_TRUE(contentOf(settingsFile()) == notUtf8);
    EXPECT_EQ(folder().getNumberOfChildFiles(juce::File::findFilesAndDirectories), 2);
}

namespace
{
enum class Blocker
{
    full,
    readOnly,
};

struct BlockerCase
{
    const char* label;
    Blocker blocker;
};

void PrintTo(const BlockerCase& c, std::ostream* os)
{
    *os << c.label;
}

// The settings folder on a small tmpfs of its own, made full or read-only, and freed again.
struct SettingsSaveFailure : SettingsFolders, ::testing::WithParamInterface<BlockerCase>
{
    std::unique_ptr<pelktest::SmallFileSystem> fileSystem;

    void SetUp() override
    {
        SettingsFolders::SetUp();
        fileSystem = std::make_unique<pelktest::SmallFileSystem>(folder());
        ASSERT_TRUE(folder().isDirectory());
        if (::geteuid() != 0)
            GTEST_SKIP() << "a small file system for the settings folder can be mounted only as root";
        ASSERT_TRUE(fileSystem->mounted()) << fileSystem->mountFault();
    }

    void TearDown() override
    {
        fileSystem.reset();
        SettingsFolders::TearDown();
    }

    // Blocks the folder; returns the reason a save then fails with.
    juce::String block()
    {
        if (GetParam().blocker == Blocker::readOnly)
        {
            EXPECT_TRUE(fileSystem->setReadOnly(true));
            return std::strerror(EROFS);
        }
        return fileSystem->fill();
    }

    void unblock()
    {
        if (GetParam().blocker == Blocker::readOnly)
            EXPECT_TRUE(fileSystem->setReadOnly(false));
        else
            EXPECT_TRUE(fileSystem->removeFiller());
    }
};
} // namespace

TEST_P(SettingsSaveFailure, EachFailureIsReportedTheOldFileStaysWholeAndTheNextChangeRetries)
{
    const auto original = settingsDocument({{"MonitoringHP", "1"}, {"loopback", "1"}});
    plant(original);
    const auto reason = block();

    Store store;
    EXPECT_EQ(store.settings().getValue("MonitoringHP"), "1");
    const auto line = "Pelk VOD Panel: could not save the settings to \"" + settingsFile().getFullPathName() +
                      "\": " + reason;

    store.settings().setValue("MonitoringVol", -20.0);
    pump(3400);
    EXPECT_EQ(store.lines, juce::StringArray(line));
    EXPECT_TRUE(store.settings().needsToBeSaved());

    store.settings().setValue("MonitoringVol", -25.0);
    pump(3400);
    EXPECT_EQ(store.lines, juce::StringArray(line, line)) << "one line per failure";
    EXPECT_EQ(settingsFile().loadFileAsString(), original) << "the old file is whole";
    EXPECT_EQ(folder().findChildFiles(juce::File::findFiles, false, "*_temp*").size(), 0);

    unblock();
    store.settings().setValue("MonitoringRecord", false);
    pump(3400);
    EXPECT_EQ(store.lines.size(), 2);
    EXPECT_FALSE(store.settings().needsToBeSaved());
    const auto stored = storedValues();
    EXPECT_EQ(stored["MonitoringHP"], "1");
    EXPECT_EQ(stored["MonitoringVol"], "-25.0");
    EXPECT_EQ(stored["MonitoringRecord"], "0");
}

INSTANTIATE_TEST_SUITE_P(Folders, SettingsSaveFailure,
                         ::testing::Values(BlockerCase{"Full", Blocker::full},
                                           BlockerCase{"ReadOnly", Blocker::readOnly}),
                         [](const auto& c) { return std::string(c.param.label); });
