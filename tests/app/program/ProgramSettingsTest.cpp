// The real program with whatever lies at its settings path: a file that would crash, stall or block the
// start, a pipe, a folder, a link to a device. Each time the program starts, restores the defaults, ends
// with status 0 and leaves a well-formed settings file, and what was there is kept aside with one line on
// standard error. A link to a good file is used and written through. A save into a full or read-only
// folder leaves the old file whole and says so. A file the program accepts, at its limits or as an older
// version wrote it, is accepted again after every save at quit.

#include "SettingsDocument.h"
#include "SmallFileSystem.h"
#include "support/ProgramHarness.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

using namespace pelk::e2e;

namespace
{
// Device ready with the default switch states: headphone monitoring off (5), record monitoring on (7).
const std::string defaultRestore =
    "usb 55 0\nusb aa 0\nusb 05 0\ncommand 5\nusb 55 0\nusb aa 0\nusb 07 0\ncommand 7\n";

juce::MemoryBlock bytesOf(const juce::String& text)
{
    return juce::MemoryBlock(text.toRawUTF8(), text.getNumBytesAsUTF8());
}

// A document as the program writes it, with the values that would show if it were read.
juce::String goodDocument()
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n\n<PROPERTIES>\n"
           "  <VALUE name=\"WindowPosition\" val=\"300 200 318 538\"/>\n"
           "  <VALUE name=\"MonitoringHP\" val=\"1\"/>\n"
           "  <VALUE name=\"MonitoringRecord\" val=\"0\"/>\n"
           "</PROPERTIES>\n";
}

juce::String nested(const juce::String& open, const juce::String& close, int depth)
{
    return juce::String::repeatedString(open, depth) + juce::String::repeatedString(close, depth);
}

juce::String deepInRoot(int depth)
{
    return "<PROPERTIES>" + nested("<a>", "</a>", depth) + "</PROPERTIES>";
}

juce::String deepInValue(int depth)
{
    return "<PROPERTIES><VALUE name=\"MonitoringHP\">" + nested("<a>", "</a>", depth) +
           "</VALUE><VALUE name=\"MonitoringRecord\" val=\"0\"/></PROPERTIES>";
}

// Markup inside the value's text, which an earlier version parsed when it saved.
juce::String deepInValueText(int depth)
{
    return "<PROPERTIES><VALUE name=\"x\" val=\"" + nested("&lt;a&gt;", "&lt;/a&gt;", depth) +
           "\"/><VALUE name=\"MonitoringHP\" val=\"1\"/></PROPERTIES>";
}

juce::String thenDeep(const juce::String& start, int depth)
{
    return start + juce::String::repeatedString("<a>", depth);
}

juce::String manyKeys(int count)
{
    juce::MemoryOutputStream text;
    text << "<PROPERTIES>";
    for (int i = 0; i < count; ++i)
        text << "<VALUE name=\"k" << i << "\" val=\"" << i << "\"/>";
    text << "<VALUE name=\"MonitoringHP\" val=\"1\"/></PROPERTIES>";
    return text.toString();
}

// Writes the text's bytes as they are (no line-ending conversion), creating the folder.
bool plant(const juce::File& file, const juce::String& text)
{
    return file.getParentDirectory().createDirectory() &&
           file.replaceWithData(text.toRawUTF8(), text.getNumBytesAsUTF8());
}

juce::MemoryBlock withByte(const juce::String& text, int at, char byte)
{
    auto block = bytesOf(text);
    block[(size_t) at] = byte;
    return block;
}

juce::MemoryBlock utf16(const juce::String& text)
{
    juce::MemoryOutputStream out;
    out.writeByte((char) 0xff);
    out.writeByte((char) 0xfe);
    for (auto p = text.getCharPointer(); !p.isEmpty(); ++p)
        out.writeShort((short) *p);
    return out.getMemoryBlock();
}

juce::MemoryBlock cut(const juce::String& text, int length)
{
    return juce::MemoryBlock(text.toRawUTF8(), (size_t) length);
}

// The lines about the settings file on the program's standard error.
juce::StringArray settingsLines(const Process& app)
{
    juce::StringArray lines;
    for (const auto& line : juce::StringArray::fromLines(juce::String(app.stderrText())))
        if (line.startsWith("Pelk VOD Panel: the settings") ||
            line.startsWith("Pelk VOD Panel: could not save"))
            lines.add(line);
    return lines;
}

// Starts the program, waits for its window and ends it: status 0 and no line about the settings.
void startAndQuitQuietly(Harness& h)
{
    auto& app = h.launch();
    ASSERT_TRUE(h.waitForWindow().has_value()) << app.stderrText();
    app.terminate(SIGTERM);
    EXPECT_EQ(app.waitExit(), 0) << app.stderrText();
    EXPECT_TRUE(settingsLines(app).isEmpty()) << app.stderrText();
}

enum class Kind
{
    file,
    pipe,
    folder,
    link,
};

struct BadPathCase
{
    const char* label;
    Kind kind;
    std::function<juce::MemoryBlock()> bytes; // a file's bytes, a link's target or a folder's content
    const char* fault;                        // the reason the line gives
};

void PrintTo(const BadPathCase& c, std::ostream* os)
{
    *os << c.label;
}

const int goodLength = (int) goodDocument().getNumBytesAsUTF8();

const BadPathCase badPaths[] = {
    {"DeepInTheRoot17", Kind::file, [] { return bytesOf(deepInRoot(16)); }, "nested deeper than 16 levels"},
    {"DeepInTheRoot10000", Kind::file, [] { return bytesOf(deepInRoot(10000)); }, "nested deeper"},
    {"DeepInTheRoot30000", Kind::file, [] { return bytesOf(deepInRoot(30000)); }, "nested deeper"},
    {"DeepAndUnclosed80000", Kind::file,
     [] { return bytesOf("<PROPERTIES>" + juce::String::repeatedString("<a>", 80000)); }, "nested deeper"},
    {"DeepInTheRoot2Million", Kind::file, [] { return bytesOf(deepInRoot(2000000)); }, "larger than 512 KiB"},
    {"DeepInAValue15", Kind::file, [] { return bytesOf(deepInValue(15)); }, "nested deeper than 16 levels"},
    {"DeepInAValue30000", Kind::file, [] { return bytesOf(deepInValue(30000)); }, "nested deeper"},
    {"DeepInAValuesText12000", Kind::file, [] { return bytesOf(deepInValueText(12000)); },
     "a value longer than"},
    {"DeepInAValue1Million", Kind::file, [] { return bytesOf(deepInValue(1000000)); }, "larger than 512 KiB"},
    {"FarTooLarge", Kind::file,
     []
     {
         return bytesOf("<PROPERTIES><VALUE name=\"huge\" val=\"" +
                        juce::String::repeatedString("x", 10 << 20) +
                        "\"/><VALUE name=\"MonitoringHP\" val=\"1\"/></PROPERTIES>");
     },
     "larger than 512 KiB"},
    {"ManyKeys5000", Kind::file, [] { return bytesOf(manyKeys(5000)); }, "more than 1000 keys"},
    {"ManyKeys100000", Kind::file, [] { return bytesOf(manyKeys(100000)); }, "larger than 512 KiB"},
    // Markup that two readers could end differently, then 30,000 levels (or 80,000 inside a value).
    {"StrayDoubleQuoteInATag", Kind::file, [] { return bytesOf(thenDeep("<PROPERTIES><x \"", 30000)); },
     "not a settings document"},
    {"StraySingleQuoteInATag", Kind::file, [] { return bytesOf(thenDeep("<PROPERTIES><x '", 30000)); },
     "not a settings document"},
    {"AttributeBeforeAStrayQuote", Kind::file,
     [] { return bytesOf(thenDeep("<PROPERTIES><x y=\"1\" \"", 30000)); }, "not a settings document"},
    {"UnquotedAttribute", Kind::file, [] { return bytesOf(thenDeep("<PROPERTIES><x y=1>", 30000)); },
     "not a settings document"},
    {"TagLeftOpen", Kind::file, [] { return bytesOf(thenDeep("<PROPERTIES><x ", 30000)); },
     "not a settings document"},
    {"UnclosedComment", Kind::file, [] { return bytesOf(thenDeep("<PROPERTIES><!--", 30000)); },
     "not a settings document"},
    {"UnclosedProcessingInstruction", Kind::file, [] { return bytesOf(thenDeep("<PROPERTIES><?x ", 30000)); },
     "not a settings document"},
    {"UnclosedCdata", Kind::file,
     [] { return bytesOf(thenDeep("<PROPERTIES><VALUE name=\"v\"><![CDATA[", 30000)); },
     "not a settings document"},
    {"DeepMarkupInASingleQuotedValue", Kind::file,
     []
     { return bytesOf(thenDeep("<PROPERTIES><VALUE name=\"v\" val='<y><x \"", 80000) + "'/></PROPERTIES>"); },
     "not a settings document"},
    {"DeepMarkupInADoubleQuotedValue", Kind::file,
     [] {
         return bytesOf(thenDeep("<PROPERTIES><VALUE name=\"v\" val=\"<y><x '", 80000) + "\"/></PROPERTIES>");
     },
     "not a settings document"},
    {"DeepEscapedMarkupInAValue", Kind::file,
     []
     {
         return bytesOf("<PROPERTIES><VALUE name=\"v\" val=\"" +
                        juce::String::repeatedString("&lt;a&gt;", 30000) + "\"/></PROPERTIES>");
     },
     "a value longer than"},
    {"NulByte", Kind::file, [] { return withByte(goodDocument(), goodLength / 2, 0); }, "NUL bytes"},
    {"Latin1", Kind::file, [] { return withByte(goodDocument(), goodLength / 2, (char) 0xe9); }, "not UTF-8"},
    {"Utf16", Kind::file, [] { return utf16(goodDocument()); }, "NUL bytes"},
    {"EntityExpansion", Kind::file,
     []
     {
         return bytesOf(
             "<?xml version=\"1.0\"?><!DOCTYPE PROPERTIES [<!ENTITY a \"aaaaaaaaaa\">"
             "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\">]>"
             "<PROPERTIES><VALUE name=\"x\" val=\"&c;\"/></PROPERTIES>");
     },
     "a document type declaration"},
    {"CutInTheHeader", Kind::file, [] { return cut(goodDocument(), 12); }, "not a settings document"},
    {"CutInAValue", Kind::file, [] { return cut(goodDocument(), goodLength / 2); },
     "not a settings document"},
    {"CutInTheLastValue", Kind::file, [] { return cut(goodDocument(), goodLength - 17); },
     "not a settings document"},
    {"NamedPipe", Kind::pipe, nullptr, "a named pipe"},
    {"Folder", Kind::folder, [] { return bytesOf(goodDocument()); }, "a folder"},
    {"LinkToADevice", Kind::link, [] { return bytesOf("/dev/zero"); }, "a symbolic link to a device"},
    {"LinkToNothing", Kind::link, [] { return bytesOf("/nonexistent/Pelk VOD Panel.settings"); },
     "a symbolic link that leads to no file"},
};

struct ProgramBadSettings : ::testing::TestWithParam<BadPathCase>
{
    Harness h{{false, "plugged"}};
    juce::File path = h.settingsFile();
    juce::File aside = path.getSiblingFile("Pelk VOD Panel.settings.unusable");

    void SetUp() override
    {
        const auto& c = GetParam();
        ASSERT_TRUE(path.getParentDirectory().createDirectory());
        const auto raw = path.getFullPathName().toStdString();
        switch (c.kind)
        {
            case Kind::file:
            {
                const auto block = c.bytes();
                ASSERT_TRUE(path.replaceWithData(block.getData(), block.getSize()));
                break;
            }
            case Kind::pipe:
                ASSERT_EQ(::mkfifo(raw.c_str(), 0644), 0);
                break;
            case Kind::folder:
                ASSERT_TRUE(path.createDirectory());
                ASSERT_TRUE(plant(path.getChildFile("inside"), c.bytes().toString()));
                break;
            case Kind::link:
                ASSERT_EQ(::symlink(c.bytes().toString().toRawUTF8(), raw.c_str()), 0);
                break;
        }
    }

    // What was at the path, now at the aside path, unchanged.
    void expectKeptAside() const
    {
        const auto& c = GetParam();
        struct stat st
        {
        };
        ASSERT_EQ(::lstat(aside.getFullPathName().toRawUTF8(), &st), 0) << "nothing kept aside";
        switch (c.kind)
        {
            case Kind::file:
            {
                juce::MemoryBlock kept;
                ASSERT_TRUE(aside.loadFileAsData(kept));
                EXPECT_TRUE(kept == c.bytes()) << "the kept file is the original";
                break;
            }
            case Kind::pipe:
                EXPECT_TRUE(S_ISFIFO(st.st_mode));
                break;
            case Kind::folder:
                EXPECT_TRUE(S_ISDIR(st.st_mode));
                EXPECT_EQ(aside.getChildFile("inside").loadFileAsString(), c.bytes().toString());
                break;
            case Kind::link:
                ASSERT_TRUE(S_ISLNK(st.st_mode));
                EXPECT_EQ(aside.getLinkedTarget().getFullPathName(), c.bytes().toString());
                break;
        }
    }
};
} // namespace

TEST_P(ProgramBadSettings, StartsWithTheDefaultsKeepsTheFileAsideAndSavesAFreshOne)
{
    auto& app = h.launch();
    ASSERT_TRUE(app.waitForStderr("POS: Korr: ")) << app.stderrText();
    ASSERT_TRUE(h.waitForWindow().has_value());

    // Device ready restores the default switch states.
    ASSERT_TRUE(h.waitForJournal("command 7\n")) << h.journal();
    const auto journal = h.journal();
    ASSERT_GE(journal.size(), defaultRestore.size());
    EXPECT_EQ(journal.substr(journal.size() - defaultRestore.size()), defaultRestore) << journal;

    app.terminate(SIGTERM);
    EXPECT_EQ(app.waitExit(), 0) << app.stderrText();

    // One line names both files and the reason.
    const auto reported = settingsLines(app);
    ASSERT_EQ(reported.size(), 1) << app.stderrText();
    const auto start = "Pelk VOD Panel: the settings file \"" + path.getFullPathName() + "\" is unusable (";
    EXPECT_TRUE(reported[0].startsWith(start + GetParam().fault)) << reported[0];
    EXPECT_TRUE(
        reported[0].endsWith("); it was kept as \"" + aside.getFullPathName() + "\" and the defaults apply"))
        << reported[0];

    expectKeptAside();

    // A fresh, well-formed file in its place with what this run stored.
    struct stat st
    {
    };
    ASSERT_EQ(::lstat(path.getFullPathName().toRawUTF8(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    const auto xml = juce::parseXML(path);
    ASSERT_NE(xml, nullptr);
    EXPECT_EQ(xml->getTagName(), "PROPERTIES");
    EXPECT_EQ(h.setting("MonitoringHP"), "0");
    EXPECT_EQ(h.setting("MonitoringRecord"), "1");
    EXPECT_TRUE(h.setting("WindowPosition").isNotEmpty());

    // The next start reads the saved file: no line, nothing crashes, and its save at quit is read again.
    for (int run = 0; run < 2; ++run)
        ASSERT_NO_FATAL_FAILURE(startAndQuitQuietly(h)) << "run " << run;
    EXPECT_EQ(h.setting("MonitoringRecord"), "1");
}

INSTANTIATE_TEST_SUITE_P(Paths, ProgramBadSettings, ::testing::ValuesIn(badPaths),
                         [](const auto& c) { return std::string(c.param.label); });

namespace
{
struct UsableCase
{
    const char* label;
    std::function<std::string()> bytes;
};

void PrintTo(const UsableCase& c, std::ostream* os)
{
    *os << c.label;
}

std::string repeated(const std::string& text, std::size_t times)
{
    std::string s;
    for (std::size_t i = 0; i < times; ++i)
        s += text;
    return s;
}

// Keys and values at every limit: the most foreign keys and text, each byte one that grows six-fold when
// written, and a markup value as an older version stored it.
std::string atTheLimits()
{
    const SettingsLimits limits;
    std::string doc = "<PROPERTIES><VALUE name=\"markup\"><A b='1'><C/></A></VALUE>";
    std::size_t text = std::strlen("markup") + std::strlen("<A b=\"1\"><C/></A>");
    for (int i = 1; i < limits.maxKeys; ++i)
    {
        const auto name = "k" + std::to_string(i);
        const auto length =
            std::min(limits.maxValueBytes, (limits.maxTextBytes - text) / (std::size_t)(limits.maxKeys - i)) -
            name.size();
        doc += "<VALUE name=\"" + name + "\" val=\"" + repeated("&quot;", length) + "\"/>";
        text += name.size() + length;
    }
    return doc + "<VALUE name=\"MonitoringHP\" val=\"1\"/></PROPERTIES>";
}

const UsableCase usableFiles[] = {
    {"AllLimitsAtOnce", atTheLimits},
    {"ValueThatGrowsWhenWritten",
     [] { return "<PROPERTIES><VALUE name=\"x\" val=\"" + repeated("&gt;", 16384) + "\"/></PROPERTIES>"; }},
    {"MarkupValueOfAnOlderVersion",
     []
     {
         return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n<PROPERTIES>\r\n"
                            "  <VALUE name=\"routing\">\r\n    <ROUTING a=\"1\">\r\n      <IN n=\"1\"/>\r\n"
                            "    </ROUTING>\r\n  </VALUE>\r\n  <VALUE name=\"MonitoringHP\" val=\"1\"/>\r\n"
                            "</PROPERTIES>\r\n");
     }},
};

struct ProgramUsableSettings : ::testing::TestWithParam<UsableCase>
{
    Harness h{{false, "plugged"}};
};

// The keys of a settings file other than those the program writes, with their values.
SettingsValues valuesIn(const juce::File& file)
{
    juce::MemoryBlock bytes;
    EXPECT_TRUE(file.loadFileAsData(bytes));
    const auto read = readSettingsDocument(bytes.getData(), bytes.getSize());
    EXPECT_EQ(read.fault, "");
    SettingsValues foreign;
    for (const auto& [key, value] : read.values)
        if (std::find(std::begin(writtenSettingsKeys), std::end(writtenSettingsKeys), key) ==
            std::end(writtenSettingsKeys))
            foreign.emplace_back(key, value);
    return foreign;
}
} // namespace

// The keys whose values differ or that only one side holds, named; empty when both hold the same.
std::string differences(const SettingsValues& got, const SettingsValues& expected)
{
    std::map<std::string, std::string> left(got.begin(), got.end()), right(expected.begin(), expected.end());
    std::string found;
    for (const auto& [key, value] : left)
        if (right.count(key) == 0 || right[key] != value)
            found += key + " ";
    for (const auto& [key, value] : right)
        if (left.count(key) == 0)
            found += "(missing " + key + ") ";
    return found;
}

// A file the program accepts is accepted again after every save at quit, with the same keys and values.
TEST_P(ProgramUsableSettings, IsReadAgainAfterEverySave)
{
    const auto bytes = GetParam().bytes();
    ASSERT_TRUE(h.settingsFile().getParentDirectory().createDirectory());
    ASSERT_TRUE(h.settingsFile().replaceWithData(bytes.data(), bytes.size()));
    const auto original = valuesIn(h.settingsFile());

    for (int run = 0; run < 3; ++run)
    {
        ASSERT_NO_FATAL_FAILURE(startAndQuitQuietly(h)) << "run " << run;
        EXPECT_TRUE(h.setting("WindowPosition").isNotEmpty()) << "saved at quit, run " << run;
        EXPECT_EQ(differences(valuesIn(h.settingsFile()), original), "") << "run " << run;
    }
    EXPECT_FALSE(h.settingsFile().getSiblingFile("Pelk VOD Panel.settings.unusable").exists());
}

INSTANTIATE_TEST_SUITE_P(Files, ProgramUsableSettings, ::testing::ValuesIn(usableFiles),
                         [](const auto& c) { return std::string(c.param.label); });

// A link to a good file elsewhere: the program reads it and its saves go through the link to that file.
TEST(ProgramSettingsLink, ALinkToAGoodFileIsReadAndWrittenThrough)
{
    Harness h{{false, "absent"}};
    const auto path = h.settingsFile();
    const auto target = h.file("elsewhere/settings.xml");
    ASSERT_TRUE(target.getParentDirectory().createDirectory());
    ASSERT_TRUE(plant(target, goodDocument()));
    ASSERT_TRUE(path.getParentDirectory().createDirectory());
    ASSERT_EQ(::symlink(target.getFullPathName().toRawUTF8(), path.getFullPathName().toRawUTF8()), 0);

    auto& app = h.launch();
    const auto window = h.waitForWindow();
    ASSERT_TRUE(window.has_value());
    ASSERT_TRUE(waitUntil([&] { return h.geometry(*window).value().x == 300; }))
        << "the stored position is used";
    ASSERT_TRUE(h.xdo({"windowmove", std::to_string(*window), "320", "210"}));
    ASSERT_TRUE(waitUntil([&] { return h.geometry(*window).value().x == 320; }));

    app.terminate(SIGTERM);
    EXPECT_EQ(app.waitExit(), 0) << app.stderrText();
    EXPECT_TRUE(settingsLines(app).isEmpty()) << app.stderrText();

    EXPECT_TRUE(path.isSymbolicLink()) << "the link stays";
    EXPECT_FALSE(path.getSiblingFile("Pelk VOD Panel.settings.unusable").exists());
    const auto stored = juce::parseXML(target);
    ASSERT_NE(stored, nullptr);
    EXPECT_TRUE(h.setting("WindowPosition").startsWith("320 210 318 ")) << target.loadFileAsString();
    EXPECT_EQ(h.setting("MonitoringHP"), "1");
}

// The place for the kept file is taken by a folder that is not empty: nothing is destroyed, the run goes
// on with the defaults and saves nothing, and the line says so.
TEST(ProgramSettingsLink, AnUnusableFileThatCannotBeKeptAsideIsLeftAloneAndNothingIsSaved)
{
    Harness h{{false, "plugged"}};
    const auto path = h.settingsFile();
    const auto aside = path.getSiblingFile("Pelk VOD Panel.settings.unusable");
    ASSERT_TRUE(plant(aside.getChildFile("older"), "kept before"));
    const auto bad = deepInRoot(30000);
    ASSERT_TRUE(plant(path, bad));

    auto& app = h.launch();
    ASSERT_TRUE(h.waitForWindow().has_value());
    ASSERT_TRUE(h.waitForJournal("command 7\n")) << h.journal();
    const auto journal = h.journal();
    EXPECT_EQ(journal.substr(journal.size() - defaultRestore.size()), defaultRestore) << journal;
    app.terminate(SIGTERM);
    EXPECT_EQ(app.waitExit(), 0) << app.stderrText();

    const auto lines = settingsLines(app);
    ASSERT_EQ(lines.size(), 1) << app.stderrText();
    EXPECT_EQ(lines[0], "Pelk VOD Panel: the settings file \"" + path.getFullPathName() +
                            "\" is unusable (nested deeper than 16 levels) and could not be kept as \"" +
                            aside.getFullPathName() +
                            "\" (Is a directory); the defaults apply and the settings will not be saved");
    EXPECT_EQ(path.loadFileAsString(), bad);
    EXPECT_EQ(aside.getChildFile("older").loadFileAsString(), "kept before");
    EXPECT_EQ(path.getParentDirectory().getNumberOfChildFiles(juce::File::findFilesAndDirectories), 2);
}

namespace
{
enum class Blocker
{
    full,
    readOnly,
};

struct SaveFailureCase
{
    const char* label;
    Blocker blocker;
};

void PrintTo(const SaveFailureCase& c, std::ostream* os)
{
    *os << c.label;
}

// The settings folder on a small file system of its own (mounted when the tests run as root, which they do
// in CI), made full or read-only after the good file is in it.
struct ProgramSaveFailure : ::testing::TestWithParam<SaveFailureCase>
{
    std::unique_ptr<Harness> h = std::make_unique<Harness>(Options{false, "plugged"});
    juce::File folder = h->settingsFile().getParentDirectory();
    std::unique_ptr<pelktest::SmallFileSystem> fileSystem;

    void TearDown() override
    {
        if (fileSystem == nullptr || !fileSystem->mounted())
            ::chmod(folder.getFullPathName().toRawUTF8(), 0755);
        fileSystem.reset();
        h.reset();
    }

    // Leaves the folder holding the good file, blocked; returns the reason a write there fails with.
    juce::String plantAndBlock()
    {
        fileSystem = std::make_unique<pelktest::SmallFileSystem>(folder);
        EXPECT_TRUE(folder.isDirectory());
        if (::geteuid() == 0 ? !fileSystem->mounted() : GetParam().blocker == Blocker::full)
            return {};

        EXPECT_TRUE(plant(h->settingsFile(), goodDocument()));
        if (GetParam().blocker == Blocker::full)
            return fileSystem->fill();

        if (fileSystem->mounted())
            return fileSystem->setReadOnly(true) ? std::strerror(EROFS) : "";
        ::chmod(folder.getFullPathName().toRawUTF8(), 0555);
        return std::strerror(EACCES);
    }
};
} // namespace

TEST_P(ProgramSaveFailure, LeavesTheOldFileWholeAndSaysSo)
{
    const auto reason = plantAndBlock();
    if (reason.isEmpty())
        GTEST_SKIP() << "a small file system for the settings folder can be mounted only as root";

    auto& app = h->launch();
    const auto window = h->waitForWindow();
    ASSERT_TRUE(window.has_value());
    ASSERT_TRUE(waitUntil([&] { return h->geometry(*window).value().x == 300; }));
    ASSERT_TRUE(h->xdo({"windowmove", std::to_string(*window), "320", "210"}));
    ASSERT_TRUE(waitUntil([&] { return h->geometry(*window).value().x == 320; }));

    // Closing stores the moved window's state, and that save fails.
    app.terminate(SIGTERM);
    EXPECT_EQ(app.waitExit(), 0) << app.stderrText();

    const auto lines = settingsLines(app);
    ASSERT_EQ(lines.size(), 1) << app.stderrText();
    EXPECT_EQ(lines[0], "Pelk VOD Panel: could not save the settings to \"" +
                            h->settingsFile().getFullPathName() + "\": " + reason);
    EXPECT_EQ(h->settingsFile().loadFileAsString(), goodDocument()) << "the old file is whole";
    EXPECT_EQ(folder.findChildFiles(juce::File::findFiles, false, "*_temp*").size(), 0);
}

INSTANTIATE_TEST_SUITE_P(Folders, ProgramSaveFailure,
                         ::testing::Values(SaveFailureCase{"Full", Blocker::full},
                                           SaveFailureCase{"ReadOnly", Blocker::readOnly}),
                         [](const auto& c) { return std::string(c.param.label); });
