// The desktop audio-settings launcher: command-line splitting, the search on PATH, the choice of tool and
// the start of a recording stand-in.

#include "AudioSettingsLauncher.h"

#include "Scratch.h"
#include "Wait.h"

#include <gtest/gtest.h>
#include <juce_core/juce_core.h>
#include <ostream>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace
{
using Words = std::vector<std::string>;

struct SplitCase
{
    std::string line;
    Words words;
};

// Test names in the test list show the case, not its bytes.
[[maybe_unused]] void PrintTo(const SplitCase& c, std::ostream* os)
{
    *os << '"' << c.line << '"';
}

class SplitCommandLine : public ::testing::TestWithParam<SplitCase>
{
};

TEST_P(SplitCommandLine, SplitsAtBlanksKeepingQuotedParts)
{
    EXPECT_EQ(AudioSettingsLauncher::splitCommandLine(GetParam().line), GetParam().words);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SplitCommandLine,
    ::testing::Values(SplitCase{"", {}}, SplitCase{"   ", {}}, SplitCase{"pavucontrol", {"pavucontrol"}},
                      SplitCase{"gnome-control-center sound", {"gnome-control-center", "sound"}},
                      SplitCase{"  a \t b  ", {"a", "b"}},
                      SplitCase{"\"/opt/my tools/run\" \"two words\" x",
                                {"/opt/my tools/run", "two words", "x"}},
                      SplitCase{"a\"b c\"d e", {"ab cd", "e"}}, SplitCase{"\"\" x", {"", "x"}},
                      SplitCase{"say $HOME; rm *", {"say", "$HOME;", "rm", "*"}},
                      SplitCase{"\"unclosed part", {"unclosed part"}}));

// A scratch folder with files and a PATH of its own; the environment it changes gets its values back.
class LauncherFixture : public ::testing::Test
{
protected:
    void SetUp() override { environment.unset(AudioSettingsLauncher::commandVariable); }

    juce::File makeScript(const juce::String& relative, const juce::String& body, bool executable = true)
    {
        auto file = dir.getChildFile(relative);
        file.getParentDirectory().createDirectory();
        file.replaceWithText("#!/bin/sh\n" + body + "\n", false, false, "\n");
        file.setExecutePermission(executable);
        return file;
    }

    // Waits up to five seconds for a file to hold a line ending in "done".
    juce::String waitForRecord(const juce::File& file)
    {
        pelktest::waitUntil([&] { return file.loadFileAsString().contains("done"); }, 5000);
        return file.loadFileAsString();
    }

    pelktest::ScratchFolder scratch{"launcher"};
    const juce::File dir = scratch.path();
    pelktest::ScopedEnvironment environment;
};

TEST_F(LauncherFixture, FindsOnlyExecutableRegularFilesOnThePath)
{
    const auto a = dir.getChildFile("a");
    const auto b = dir.getChildFile("b");
    makeScript("a/tool", "exit 0", false);           // not executable
    makeScript("b/tool", "exit 0");                  // the one
    dir.getChildFile("a/dirtool").createDirectory(); // a directory is no program
    const auto path = (a.getFullPathName() + ":" + b.getFullPathName()).toStdString();

    EXPECT_EQ(AudioSettingsLauncher::findExecutable("tool", path),
              b.getChildFile("tool").getFullPathName().toStdString());
    EXPECT_EQ(AudioSettingsLauncher::findExecutable("dirtool", path), "");
    EXPECT_EQ(AudioSettingsLauncher::findExecutable("missing", path), "");
    EXPECT_EQ(AudioSettingsLauncher::findExecutable("", path), "");
    // A name with a slash is taken as it is, without the search.
    EXPECT_EQ(AudioSettingsLauncher::findExecutable(b.getChildFile("tool").getFullPathName().toStdString(),
                                                    "/nowhere"),
              b.getChildFile("tool").getFullPathName().toStdString());
    EXPECT_EQ(
        AudioSettingsLauncher::findExecutable(a.getChildFile("tool").getFullPathName().toStdString(), path),
        "");
    EXPECT_EQ(AudioSettingsLauncher::findExecutable(a.getChildFile("dirtool").getFullPathName().toStdString(),
                                                    path),
              "");
}

struct ChoiceCase
{
    const char* name;
    const char* variable;            // nullptr: unset
    std::vector<const char*> onPath; // programs present on PATH
    Words expected;
};

// Test names in the test list show the case, not its bytes.
[[maybe_unused]] void PrintTo(const ChoiceCase& c, std::ostream* os)
{
    *os << c.name;
}

class ChooseCommand : public LauncherFixture, public ::testing::WithParamInterface<ChoiceCase>
{
};

TEST_P(ChooseCommand, VariableFirstThenTheToolsOnThePathInOrder)
{
    const auto& c = GetParam();
    for (const auto* program : c.onPath)
        makeScript(juce::String("bin/") + program, "exit 0");
    dir.getChildFile("bin").createDirectory();
    environment.set("PATH", dir.getChildFile("bin").getFullPathName().toRawUTF8());
    if (c.variable != nullptr)
        environment.set(AudioSettingsLauncher::commandVariable, c.variable);

    EXPECT_EQ(AudioSettingsLauncher::chooseCommand(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Choices, ChooseCommand,
    ::testing::Values(
        ChoiceCase{"VariableWins", "my-tool \"a b\"", {"pavucontrol"}, {"my-tool", "a b"}},
        ChoiceCase{"EmptyVariableNamesNothing", "", {"pavucontrol"}, {}},
        ChoiceCase{"FirstToolOnPath", nullptr, {"pavucontrol", "gnome-control-center"}, {"pavucontrol"}},
        ChoiceCase{"SecondToolOnPath", nullptr, {"gnome-control-center"}, {"gnome-control-center", "sound"}},
        ChoiceCase{"NoToolOnPath", nullptr, {"other"}, {}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct FailureCase
{
    const char* name;
    const char* variable; // relative names are made absolute inside the scratch folder
};

// Test names in the test list show the case, not its bytes.
[[maybe_unused]] void PrintTo(const FailureCase& c, std::ostream* os)
{
    *os << c.name;
}

class StartFailure : public LauncherFixture, public ::testing::WithParamInterface<FailureCase>
{
};

TEST_P(StartFailure, ReportsNotStarted)
{
    makeScript("plain", "exit 0", false);
    dir.getChildFile("folder").createDirectory();
    environment.set("PATH", dir.getFullPathName().toRawUTF8());
    environment.set(AudioSettingsLauncher::commandVariable, GetParam().variable);

    EXPECT_FALSE(AudioSettingsLauncher::launch());
}

INSTANTIATE_TEST_SUITE_P(Failures, StartFailure,
                         ::testing::Values(FailureCase{"Empty", ""}, FailureCase{"Blank", "   "},
                                           FailureCase{"Missing", "no-such-program --flag"},
                                           FailureCase{"MissingPath", "/no/such/program"},
                                           FailureCase{"Directory", "folder"},
                                           FailureCase{"NotExecutable", "plain"}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// Zombie children of this process, found through /proc.
static int zombieChildren()
{
    int zombies = 0;
    for (const auto& entry : juce::File("/proc").findChildFiles(juce::File::findDirectories, false))
    {
        const auto stat = entry.getChildFile("stat").loadFileAsString();
        const auto fields =
            juce::StringArray::fromTokens(stat.fromLastOccurrenceOf(")", false, false), " ", "");
        if (fields.size() > 2 && fields[2].getIntValue() == (int) ::getpid() && fields[1] == "Z")
            ++zombies;
    }
    return zombies;
}

TEST_F(LauncherFixture, StandInGetsItsArgumentsAndNoneOfTheCallersDescriptors)
{
    const auto record = dir.getChildFile("record.txt");
    makeScript("bin/recorder", "for a in \"$@\"; do echo \"arg:$a\"; done > '" + record.getFullPathName() +
                                   "'\nfor f in /proc/$$/fd/*; do echo \"fd:${f##*/}\"; done >> '" +
                                   record.getFullPathName() + "'\necho done >> '" + record.getFullPathName() +
                                   "'");
    environment.set("PATH", dir.getChildFile("bin").getFullPathName().toRawUTF8());
    environment.set(AudioSettingsLauncher::commandVariable, "recorder \"two words\" x");

    int open[2];
    ASSERT_EQ(::pipe(open), 0); // inheritable: no close-on-exec
    const int file = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(file, 0);

    EXPECT_TRUE(AudioSettingsLauncher::launch());
    const auto text = waitForRecord(record);
    ::close(open[0]);
    ::close(open[1]);
    ::close(file);

    const auto lines = juce::StringArray::fromLines(text.trim());
    EXPECT_EQ(lines[0], "arg:two words");
    EXPECT_EQ(lines[1], "arg:x");
    EXPECT_EQ(lines[lines.size() - 1], "done");
    EXPECT_TRUE(lines.contains("fd:2")) << text;
    for (const int fd : {open[0], open[1], file})
        EXPECT_FALSE(lines.contains("fd:" + juce::String(fd))) << "descriptor " << fd << " reached the tool";
    EXPECT_TRUE(lines.contains("fd:0"));

    // The stand-in exits at once and is reaped without anyone waiting for it.
    EXPECT_TRUE(pelktest::waitUntil([] { return zombieChildren() == 0; }, 5000)) << zombieChildren();
}

TEST_F(LauncherFixture, AToolThatKeepsRunningDoesNotHoldTheCaller)
{
    const auto record = dir.getChildFile("pid.txt");
    makeScript("hang", "echo $$ done > '" + record.getFullPathName() + "'\nexec sleep 60");
    environment.set(AudioSettingsLauncher::commandVariable,
                    dir.getChildFile("hang").getFullPathName().toRawUTF8());

    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(AudioSettingsLauncher::launch());
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));

    const auto pid = waitForRecord(record).getIntValue();
    ASSERT_GT(pid, 0);
    // It runs in a session of its own.
    EXPECT_EQ(::getsid(pid), pid);
    ::kill(pid, SIGKILL);
}
} // namespace
