// The settings guard: which documents and paths are usable, how usable ones read (as the framework's reader
// reads them) and survive saves, the byte format of its saves against the framework's, the file's
// permissions kept, a killed save's temporary file removed, an unusable file kept aside, and saves into a
// full or read-only folder reported once per failure and retried with the next change.

#include "SettingsGuard.h"
#include "SettingsTestSupport.h"
#include "SmallFileSystem.h"
#include "Wait.h"

#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
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

std::string withContent(const std::string& content)
{
    return "<PROPERTIES><VALUE name=\"v\" val=\"attribute\">" + content + "</VALUE></PROPERTIES>";
}

// Markup that two readers could end differently, followed by tens of thousands of open elements.
std::string thenDeep(const std::string& start, int depth = 30000)
{
    return start + repeated("<a>", depth);
}

// Keys and values at every limit at once: the most keys besides the program's own, the most text in them,
// each byte one that grows six-fold when escaped, and the program's own keys at their longest.
std::string atTheLimits()
{
    const SettingsLimits limits;
    std::string doc = "<PROPERTIES>";
    std::size_t text = 0;
    for (int i = 0; i < limits.maxKeys; ++i)
    {
        const auto name = "k" + std::to_string(i);
        const auto length = limits.maxTextBytes / (std::size_t) limits.maxKeys - name.size() +
                            (i == 0 ? limits.maxTextBytes % (std::size_t) limits.maxKeys : 0);
        doc += "<VALUE name=\"" + name + "\" val=\"" + repeated("&quot;", (int) length) + "\"/>";
        text += name.size() + length;
    }
    EXPECT_EQ(text, limits.maxTextBytes);
    for (const char* key : writtenSettingsKeys)
        doc += std::string("<VALUE name=\"") + key + "\" val=\"" +
               repeated("&quot;", (int) limits.maxWrittenValueBytes) + "\"/>";
    return doc + "</PROPERTIES>";
}

std::string manyKeys(int count)
{
    std::string doc = "<PROPERTIES>";
    for (int i = 0; i < count; ++i)
        doc += "<VALUE name=\"k" + std::to_string(i) + "\" val=\"1\"/>";
    return doc + "<VALUE name=\"MonitoringHP\" val=\"1\"/></PROPERTIES>";
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
     [] { return std::string("<PROPERTIES><VALUE name='&lt;a>&lt;a>' val=\">>/\"/></PROPERTIES>"); }, ""},
    {"FourByteCharacters", [] { return withValue("\xF0\x9F\x8E\xA7 \xC3\xA9"); }, ""},
    {"CharactersThatGrowWhenEscaped", [] { return withValue(repeated("&gt;", 16384)); }, ""},
    {"EscapedLineBreaksAndTabs", [] { return withValue("a&#10;b&#13;&#10;c&#9;d &amp; &apos;"); }, ""},
    {"MarkupValueText", [] { return withValue(repeated("&lt;a&gt;", 17) + repeated("&lt;/a&gt;", 17)); }, ""},
    {"MarkupValueAsAnElement",
     [] { return withContent("<SOME a=\"1\" b='&quot;x&apos;'><B>text &amp; more</B><C/></SOME>"); }, ""},
    {"MarkupValueWithBlanksAndComments",
     []
     { return withContent("\n  <!-- old -->\n  <A x=\"a&#10;b\">one<!-- c --> two<B/>  </A>\n  <Later/>"); },
     ""},
    {"TextValueAsContent", [] { return withContent("a &lt; b &amp; c"); }, ""},
    {"CdataValueAsContent", [] { return withContent("  <![CDATA[<x> & \"y\"]]><A/>"); }, ""},
    {"BlankContent", [] { return withContent("\n   \n"); }, ""},
    {"DuplicateKeys",
     []
     {
         return std::string("<PROPERTIES><VALUE name=\"a\" val=\"1\"/><VALUE name=\"b\" val=\"2\"/>"
                            "<VALUE name=\"a\" val=\"3\"/><VALUE val=\"no name\"/><OTHER name=\"c\"/>"
                            "</PROPERTIES>");
     },
     ""},
    {"Depth16", [] { return nestedIn(15); }, ""},
    {"Depth17", [] { return nestedIn(16); }, "nested deeper than 16 levels"},
    {"MarkupValueAtTheDepth", [] { return withContent(repeated("<a>", 14) + repeated("</a>", 14)); }, ""},
    {"DepthUnclosed", [] { return "<PROPERTIES>" + repeated("<a>", 80000); }, "nested deeper than 16 levels"},
    {"Elements4096", [] { return "<PROPERTIES>" + repeated("<x/>", 4095) + "</PROPERTIES>"; }, ""},
    {"Elements4097", [] { return "<PROPERTIES>" + repeated("<x/>", 4096) + "</PROPERTIES>"; },
     "more than 4096 elements"},
    {"Keys1000", [] { return manyKeys(1000); }, ""},
    {"Keys1001", [] { return manyKeys(1001); }, "more than 1000 keys"},
    {"AllLimitsAtOnce", atTheLimits, ""},
    {"ValueOf16KiB", [] { return withValue(std::string(16 * 1024, 'x')); }, ""},
    {"ValueOf16KiBAndOne", [] { return withValue(std::string(16 * 1024 + 1, 'x')); },
     "a value longer than 16384 bytes"},
    {"MarkupValueOf16KiBAndOne", [] { return withContent("<a>" + std::string(16 * 1024 - 6, 'x') + "</a>"); },
     "a value longer than 16384 bytes"},
    {"TextOver64KiB",
     []
     {
         std::string doc = "<PROPERTIES>";
         for (int i = 0; i < 5; ++i)
             doc += "<VALUE name=\"k" + std::to_string(i) + "\" val=\"" + std::string(14000, 'x') + "\"/>";
         return doc + "</PROPERTIES>";
     },
     "more than 64 KiB of keys and values"},
    {"OwnValueOf257Bytes",
     [] {
         return "<PROPERTIES><VALUE name=\"WindowPosition\" val=\"" + std::string(257, '1') +
                "\"/></PROPERTIES>";
     },
     "a value longer than 256 bytes"},
    {"Size512KiB", [] { return ofSize(512 * 1024); }, "a value longer than 16384 bytes"},
    {"Size512KiBOfComment", [] { return "<PROPERTIES/><!--" + std::string(512 * 1024 - 20, ' ') + "-->"; },
     ""},
    {"Size512KiBAndOne", [] { return ofSize(512 * 1024 + 1); }, "larger than 512 KiB"},
    {"NulByte", [] { return std::string("<PROPERTIES>\0</PROPERTIES>", 26); }, "NUL bytes"},
    {"Overlong", [] { return withValue("\xC0\xAF"); }, "not UTF-8 text"},
    {"Surrogate", [] { return withValue("\xED\xA0\x80"); }, "not UTF-8 text"},
    {"BeyondUnicode", [] { return withValue("\xF4\x90\x80\x80"); }, "not UTF-8 text"},
    {"LoneContinuation", [] { return withValue("\x80"); }, "not UTF-8 text"},
    {"CutSequence", [] { return std::string("<PROPERTIES/>\xE2\x82"); }, "not UTF-8 text"},
    {"DocumentType", [] { return "<!DOCTYPE PROPERTIES [<!ENTITY e \"x\">]>" + withValue("&e;"); },
     "a document type declaration"},
    {"UndeclaredEntity", [] { return withValue("&e;"); }, "not a settings document"},
    {"OtherRoot", [] { return std::string("<SETTINGS><VALUE name=\"a\" val=\"1\"/></SETTINGS>"); },
     "not a settings document"},
    {"Text", [] { return std::string("settings"); }, "not a settings document"},
    {"CutInATag", [] { return std::string("<PROPERTIES><VALUE name=\"a\" va"); }, "not a settings document"},
    {"AngleBracketInAnAttribute", [] { return withValue("<a>"); }, "not a settings document"},
    // Where two readers could disagree about where markup ends, the one reader stops at the first fault.
    {"StrayDoubleQuoteInATag", [] { return thenDeep("<PROPERTIES><x \""); }, "not a settings document"},
    {"StraySingleQuoteInATag", [] { return thenDeep("<PROPERTIES><x '"); }, "not a settings document"},
    {"AttributeBeforeAStrayQuote", [] { return thenDeep("<PROPERTIES><x y=\"1\" \""); },
     "not a settings document"},
    {"UnquotedAttribute", [] { return thenDeep("<PROPERTIES><x y=1>"); }, "not a settings document"},
    {"TagLeftOpen", [] { return thenDeep("<PROPERTIES><x "); }, "not a settings document"},
    {"UnclosedComment", [] { return thenDeep("<PROPERTIES><!--"); }, "not a settings document"},
    {"UnclosedProcessingInstruction", [] { return thenDeep("<PROPERTIES><?x "); }, "not a settings document"},
    {"UnclosedCdata", [] { return thenDeep("<PROPERTIES><VALUE name=\"v\"><![CDATA["); },
     "not a settings document"},
    {"DeepMarkupInASingleQuotedValue",
     []
     { return "<PROPERTIES><VALUE name=\"v\" val='<y><x \"" + repeated("<a>", 80000) + "'/></PROPERTIES>"; },
     "not a settings document"},
    {"DeepMarkupInADoubleQuotedValue", [] { return withValue("<y><x '" + repeated("<a>", 80000)); },
     "not a settings document"},
    {"DeepEscapedMarkupInAValue", [] { return withValue(repeated("&lt;a&gt;", 30000)); },
     "a value longer than 16384 bytes"},
};

struct DocumentReading : ::testing::TestWithParam<DocumentCase>
{
};

struct UsableDocument : ::testing::TestWithParam<DocumentCase>
{
};

std::vector<DocumentCase> usableDocuments()
{
    std::vector<DocumentCase> usable;
    for (const auto& c : documents)
        if (*c.fault == '\0')
            usable.push_back(c);
    return usable;
}

// The values of a document as the framework's own reader reads it from a file.
SettingsValues readByTheFramework(const std::string& bytes)
{
    pelktest::ScratchFolder scratch("pelk-settings-framework");
    const auto file = scratch.child("settings.xml");
    EXPECT_TRUE(file.replaceWithData(bytes.data(), bytes.size()));
    auto options = makeSettingsOptions();
    options.doNotSave = true;
    juce::PropertiesFile framework(file, options);
    SettingsValues values;
    const auto& all = framework.getAllProperties();
    for (int i = 0; i < all.size(); ++i)
        values.emplace_back(all.getAllKeys()[i].toStdString(), all.getAllValues()[i].toStdString());
    return values;
}
} // namespace

TEST_P(DocumentReading, FindsTheFaultOrNone)
{
    const auto bytes = GetParam().bytes();
    EXPECT_EQ(readSettingsDocument(bytes.data(), bytes.size()).fault, GetParam().fault);
}

// A usable document reads as the framework's reader reads it (markup values of older files included), and
// its values, written and read again any number of times, stay the same, within the limits; the written
// document reads the same in the framework's reader too.
TEST_P(UsableDocument, ReadsAsTheFrameworkReadsItAndSurvivesEverySave)
{
    const auto bytes = GetParam().bytes();
    const auto first = readSettingsDocument(bytes.data(), bytes.size());
    ASSERT_EQ(first.fault, "");
    EXPECT_EQ(first.values, readByTheFramework(bytes));

    auto written = writeSettingsDocument(first.values);
    for (int save = 0; save < 3; ++save)
    {
        EXPECT_LE(written.size(), SettingsLimits{}.maxBytes);
        const auto again = readSettingsDocument(written.data(), written.size());
        ASSERT_EQ(again.fault, "") << "save " << save;
        ASSERT_EQ(again.values, first.values) << "save " << save;
        const auto rewritten = writeSettingsDocument(again.values);
        EXPECT_EQ(rewritten, written) << "save " << save;
        written = rewritten;
    }
    EXPECT_EQ(readByTheFramework(written), first.values);
}

INSTANTIATE_TEST_SUITE_P(Documents, DocumentReading, ::testing::ValuesIn(documents),
                         [](const auto& c) { return std::string(c.param.label); });
INSTANTIATE_TEST_SUITE_P(Documents, UsableDocument, ::testing::ValuesIn(usableDocuments()),
                         [](const auto& c) { return std::string(c.param.label); });

// The markup text a VALUE element gives, as older files hold it.
TEST(SettingsDocument, AValueThatHoldsMarkupReadsAsThatMarkupOnOneLine)
{
    const std::string doc = "<PROPERTIES>\r\n  <VALUE name=\"m\">\r\n    <SOME a='1' b=\"x&#10;y\">\r\n"
                            "      <B>text &amp; more</B>\r\n      <C/>\r\n    </SOME>\r\n  </VALUE>\r\n"
                            "  <VALUE name=\"t\">a &lt; b</VALUE>\r\n</PROPERTIES>\r\n";
    const auto read = readSettingsDocument(doc.data(), doc.size());
    ASSERT_EQ(read.fault, "");
    EXPECT_EQ(read.values,
              (SettingsValues{{"m", "<SOME a=\"1\" b=\"x&#10;y\"><B>text &amp; more</B><C/></SOME>"},
                              {"t", "a &lt; b"}}));
}

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

    const auto verdict = readSettingsFile(settingsFile());
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
// a first save and after a change to a loaded file. A value that reads as markup, which the framework's
// writer stores as an element, is stored as text, and the framework's reader reads it back the same.
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
        {"notMarkup", "<a><b></a>"},
        {"a name long enough that the writer puts its value on a line of its own", "wrapped"},
        {"a name one byte short of wrapping its line: 52 bytes", "x"},
        {"a name just long enough to wrap its line: 53 bytes...", "y"},
    };
    const juce::String markup = "<SOME a=\"1\"><B>text &amp; more</B>\n<C/></SOME>";

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

    {
        Store store;
        store.settings().setValue("markup", markup);
    }
    EXPECT_EQ(storedValues()["markup"], markup);
    EXPECT_EQ(storedValues().size(), (int) std::size(values) + 1);
}

// At start the settings path is opened once, and what is read from it there is all the settings hold: no
// second reader opens it by name.
TEST_F(SettingsFolders, TheFileIsOpenedOnceAndItsValuesComeFromThatRead)
{
    plant(settingsDocument({{"MonitoringHP", "1"}, {"foreign", "kept"}}));
    struct Watcher
    {
        int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ~Watcher()
        {
            if (fd >= 0)
                ::close(fd);
        }
    } opened;
    const int watcher = opened.fd;
    ASSERT_GE(watcher, 0);
    ASSERT_GE(inotify_add_watch(watcher, folder().getFullPathName().toRawUTF8(), IN_OPEN), 0);

    Store store;
    EXPECT_EQ(store.settings().getValue("MonitoringHP"), "1");
    EXPECT_EQ(store.settings().getValue("foreign"), "kept");

    int opens = 0;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t got; (got = ::read(watcher, buffer, sizeof(buffer))) > 0;)
        for (ssize_t at = 0; at < got;)
        {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->len > 0 && settingsFile().getFileName() == event->name)
                ++opens;
            at += (ssize_t) (sizeof(inotify_event) + event->len);
        }
    EXPECT_EQ(opens, 1);
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
struct ModeCase
{
    const char* label;
    mode_t mode;
    bool throughALink;
};

void PrintTo(const ModeCase& c, std::ostream* os)
{
    *os << c.label;
}

struct SettingsModes : SettingsFolders, ::testing::WithParamInterface<ModeCase>
{
};

mode_t modeOf(const juce::File& file)
{
    struct stat st
    {
    };
    EXPECT_EQ(::stat(file.getFullPathName().toRawUTF8(), &st), 0);
    return st.st_mode & 07777;
}
} // namespace

// A save keeps the permission bits of the file it replaces, also when it replaces it through a link.
TEST_P(SettingsModes, ASaveKeepsTheFilesPermissions)
{
    const auto& c = GetParam();
    plant(settingsDocument({{"MonitoringHP", "1"}}));
    auto target = settingsFile();
    if (c.throughALink)
    {
        target = root.getChildFile("elsewhere.settings");
        ASSERT_TRUE(settingsFile().moveFileTo(target));
        ASSERT_EQ(
            ::symlink(target.getFullPathName().toRawUTF8(), settingsFile().getFullPathName().toRawUTF8()), 0);
    }
    ASSERT_EQ(::chmod(target.getFullPathName().toRawUTF8(), c.mode), 0);

    for (const double volume : {-10.0, -20.0})
    {
        Store store;
        store.settings().setValue("MonitoringVol", volume);
    }
    EXPECT_EQ(modeOf(target), c.mode);
    EXPECT_EQ(settingsFile().isSymbolicLink(), c.throughALink);
    EXPECT_EQ(storedValues()["MonitoringVol"], "-20.0");
    EXPECT_EQ(storedValues()["MonitoringHP"], "1");
}

INSTANTIATE_TEST_SUITE_P(Modes, SettingsModes,
                         ::testing::Values(ModeCase{"OwnerOnly", 0600, false},
                                           ModeCase{"OwnerOnlyThroughALink", 0600, true},
                                           ModeCase{"GroupReadable", 0640, false}),
                         [](const auto& c) { return std::string(c.param.label); });

// A temporary file that a save killed before its rename left is removed at the next start; files that only
// look like one stay.
TEST_F(SettingsFolders, ATemporaryFileAKilledSaveLeftIsRemovedAtTheNextStart)
{
    plant(settingsDocument({{"MonitoringHP", "1"}}));
    const juce::String leftovers[] = {"Pelk VOD Panel_temp5eadbeef.settings", "Pelk VOD Panel_temp0.settings",
                                      "Pelk VOD Panel_tempffffffff.settings"};
    const juce::String others[] = {"Pelk VOD Panel_temp5EADBEEF.settings",
                                   "Pelk VOD Panel_temp05eadbee.settings",
                                   "Pelk VOD Panel_temp123456789.settings",
                                   "Pelk VOD Panel_temp.settings",
                                   "Pelk VOD Panel_tempxyz.settings",
                                   "Pelk VOD Panel_temp12.settings.old",
                                   "Other_temp12.settings",
                                   "notes.txt"};
    for (const auto& name : leftovers)
        ASSERT_TRUE(folder().getChildFile(name).replaceWithText("<PROPERTIES><VALUE name=\"x\" va"));
    for (const auto& name : others)
        ASSERT_TRUE(folder().getChildFile(name).replaceWithText("kept"));
    // A folder and a link by the temporary name are not files a save left.
    ASSERT_TRUE(folder().getChildFile("Pelk VOD Panel_temp1.settings").createDirectory());
    ASSERT_EQ(::symlink("notes.txt",
                        folder().getChildFile("Pelk VOD Panel_temp2.settings").getFullPathName().toRawUTF8()),
              0);

    Store store;
    EXPECT_EQ(store.settings().getValue("MonitoringHP"), "1");
    for (const auto& name : leftovers)
        EXPECT_FALSE(folder().getChildFile(name).exists()) << name;
    for (const auto& name : others)
        EXPECT_EQ(folder().getChildFile(name).loadFileAsString(), "kept") << name;
    EXPECT_TRUE(folder().getChildFile("Pelk VOD Panel_temp1.settings").isDirectory());
    EXPECT_TRUE(folder().getChildFile("Pelk VOD Panel_temp2.settings").isSymbolicLink());
    EXPECT_TRUE(store.lines.isEmpty());
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

    // Each failed save, when its delay has passed, is one line; the changes stay pending.
    store.settings().setValue("MonitoringVol", -20.0);
    ASSERT_TRUE(pelktest::pumpUntil([&] { return store.lines.size() == 1; }));
    EXPECT_EQ(store.lines, juce::StringArray(line));
    EXPECT_TRUE(store.settings().needsToBeSaved());

    store.settings().setValue("MonitoringVol", -25.0);
    ASSERT_TRUE(pelktest::pumpUntil([&] { return store.lines.size() == 2; }));
    EXPECT_EQ(store.lines, juce::StringArray(line, line)) << "one line per failure";
    EXPECT_EQ(settingsFile().loadFileAsString(), original) << "the old file is whole";
    EXPECT_EQ(folder().findChildFiles(juce::File::findFiles, false, "*_temp*").size(), 0);

    unblock();
    store.settings().setValue("MonitoringRecord", false);
    ASSERT_TRUE(pelktest::pumpUntil([&] { return !store.settings().needsToBeSaved(); }));
    EXPECT_EQ(store.lines.size(), 2);
    const auto stored = storedValues();
    EXPECT_EQ(stored["MonitoringHP"], "1");
    EXPECT_EQ(stored["MonitoringVol"], "-25.0");
    EXPECT_EQ(stored["MonitoringRecord"], "0");
}

INSTANTIATE_TEST_SUITE_P(Folders, SettingsSaveFailure,
                         ::testing::Values(BlockerCase{"Full", Blocker::full},
                                           BlockerCase{"ReadOnly", Blocker::readOnly}),
                         [](const auto& c) { return std::string(c.param.label); });
