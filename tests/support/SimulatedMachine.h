// The shared fixture of every test that runs against the simulated machine: a fresh world per test. The
// device tests' fixture (tests/device/DeviceTestSupport.h) clears the device layer's handles with it.
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

// Drops the old world and makes a fresh one.
inline void freshMachine(const sim::Config& config = {})
{
    sim::reset(config);
}

class SimulatedMachine : public ::testing::Test
{
protected:
    void SetUp() override { resetWorld(config()); }
    void TearDown() override { EXPECT_TRUE(sim::violations().empty()) << joinedLines(sim::violations()); }

    // The world each test starts in.
    virtual sim::Config config() const { return {}; }
    // Makes that world; a fixture that also holds handles into the world clears them here.
    virtual void resetWorld(const sim::Config& worldConfig) { freshMachine(worldConfig); }
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
