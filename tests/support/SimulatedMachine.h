// The shared fixture of every test that runs against the simulated machine: a fresh world per test and,
// when the test links the device layer, device globals that name nothing of an earlier world.
//
//   class PlugRoadTest : public pelktest::SimulatedMachine {};        // default world
//   sim::Config config() const override { ... }                        // another world for a fixture
//   class RowTest : public pelktest::SimulatedMachineWithParam<Row> {}; // one case per table row
//   pelktest::freshMachine(config);                                     // the same reset without a fixture
//
// TearDown expects no contract violations; a test that provokes them on purpose checks them and calls
// freshMachine() before it ends.
#pragma once

#include "SimControl.h"

#if __has_include("RegisterDeviceCallBacksMac.h")
#include "RegisterDeviceCallBacksMac.h"
#include "USBCommands.h"
#define PELKTEST_WITH_DEVICE_LAYER 1
#endif

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pelktest
{
namespace sim = platform::sim;

inline std::string joinedLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    return text;
}

// Drops the old world and makes a fresh one. The device layer's handles into the old world (audio device
// ids, the held USB device, the power and notification handles) are cleared with it; the owner record
// (mydeviceStruct) belongs to the test's stand-in for the panel and is left as it is.
inline void freshMachine(const sim::Config& config = {})
{
    sim::reset(config);
#ifdef PELKTEST_WITH_DEVICE_LAYER
    gInAudioObjectID = 0;
    gOutAudioObjectID = 0;
    gUSBdevice = nullptr;
    root_port = 0;
    gMasterDevicePort = 0;
    gRunLoopSource = nullptr;
#endif
}

class SimulatedMachine : public ::testing::Test
{
protected:
    void SetUp() override { freshMachine(config()); }
    void TearDown() override { EXPECT_TRUE(sim::violations().empty()) << joinedLines(sim::violations()); }

    // The world each test starts in.
    virtual sim::Config config() const { return {}; }
};

template <typename Row>
class SimulatedMachineWithParam : public SimulatedMachine, public ::testing::WithParamInterface<Row>
{
};

// A readable test name from a row's description: letters and digits kept, every other run of characters
// becomes one underscore.
inline std::string rowName(const std::string& text)
{
    std::string name;
    for (char c : text)
    {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (keep)
            name += c;
        else if (!name.empty() && name.back() != '_')
            name += '_';
    }
    while (!name.empty() && name.back() == '_')
        name.pop_back();
    return name.empty() ? "row" : name;
}

// Names each case of a parameterised suite after its row's `what`; the rows of a table must differ there.
struct NameByWhat
{
    template <typename Row> std::string operator()(const ::testing::TestParamInfo<Row>& row) const
    {
        return rowName(row.param.what);
    }
};
} // namespace pelktest
