// The command-line switches act only on a whole-text match, ignoring case.

#include "CommandLine.h"

#include <gtest/gtest.h>

using pelk::program::CommandLineSwitch;

namespace
{
struct Case
{
    const char* commandLine;
    CommandLineSwitch expected;
    bool reset;
};

class CommandLineMatch : public ::testing::TestWithParam<Case>
{
};

TEST_P(CommandLineMatch, MatchesTheWholeTextIgnoringCase)
{
    const auto& c = GetParam();
    EXPECT_EQ(pelk::program::matchCommandLine(c.commandLine), c.expected) << c.commandLine;
    EXPECT_EQ(pelk::program::isResetCommandLine(c.commandLine), c.reset) << c.commandLine;
}

INSTANTIATE_TEST_SUITE_P(Switches, CommandLineMatch,
                         ::testing::Values(Case{"", CommandLineSwitch::none, false},
                                           Case{"/shutdown", CommandLineSwitch::shutdown, false},
                                           Case{"/SHUTDOWN", CommandLineSwitch::shutdown, false},
                                           Case{"/default", CommandLineSwitch::defaults, true},
                                           Case{"/Defaults", CommandLineSwitch::defaults, true},
                                           Case{"/init", CommandLineSwitch::init, true},
                                           Case{"/INIT", CommandLineSwitch::init, true},
                                           Case{"/init x", CommandLineSwitch::none, false},
                                           Case{"x /init", CommandLineSwitch::none, false},
                                           Case{"/defaultsx", CommandLineSwitch::none, false},
                                           Case{"shutdown", CommandLineSwitch::none, false},
                                           Case{"\"/shutdown\"", CommandLineSwitch::none, false}));

TEST(CommandLineMatch, AHundredKilobyteCommandLineIsNoSwitch)
{
    const auto longLine = juce::String("/init ").paddedRight('x', 100 * 1024);
    EXPECT_EQ(pelk::program::matchCommandLine(longLine), CommandLineSwitch::none);
}
} // namespace
