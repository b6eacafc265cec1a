// The settings file's read at start: the largest file the program accepts opened, read and parsed, and
// the same with the store's settings built from it, against the program's own small file.
// Run with the benchmark tree: build/bin/settings_benchmarks

#include "LargestSettingsFile.h"
#include "Scratch.h"
#include "SettingsFile.h"
#include "SettingsGuard.h"

#include <benchmark/benchmark.h>

namespace
{
const std::string ownFile = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n<PROPERTIES>\r\n"
                            "  <VALUE name=\"WindowPosition\" val=\"300 200 316 486\"/>\r\n"
                            "  <VALUE name=\"MonitoringHP\" val=\"1\"/>\r\n</PROPERTIES>\r\n";

// Argument 0: the program's own file (0) or the largest accepted one (1).
void BM_ReadSettingsFile(benchmark::State& state)
{
    pelktest::ScratchFolder scratch("pelk-settings-bench");
    const auto file = scratch.child("Pelk VOD Panel.settings");
    const auto bytes = state.range(0) == 0 ? ownFile : pelkbench::largestSettingsFile();
    file.replaceWithData(bytes.data(), bytes.size());
    state.counters["file_bytes"] = (double) bytes.size();
    for (auto _ : state)
    {
        const auto verdict = readSettingsFile(file);
        if (verdict.kind != SettingsFileVerdict::Kind::usable)
        {
            state.SkipWithError(verdict.fault.toRawUTF8());
            break;
        }
        benchmark::DoNotOptimize(verdict.values.data());
    }
}

void BM_OpenTheStore(benchmark::State& state)
{
    pelktest::ScratchFolder scratch("pelk-settings-bench");
    pelktest::ScopedEnvironment environment;
    environment.set("XDG_CONFIG_HOME", scratch.path().getFullPathName().toStdString());
    const auto file = makeSettingsOptions().getDefaultFile();
    file.getParentDirectory().createDirectory();
    const auto bytes = state.range(0) == 0 ? ownFile : pelkbench::largestSettingsFile();
    file.replaceWithData(bytes.data(), bytes.size());
    for (auto _ : state)
    {
        SettingsStore store;
        store.setStorageParameters(makeSettingsOptions());
        store.setReporter([&state](const juce::String& line) { state.SkipWithError(line.toRawUTF8()); });
        benchmark::DoNotOptimize(store.getUserSettings()->getAllProperties().size());
    }
}
} // namespace

BENCHMARK(BM_ReadSettingsFile)->Arg(0)->Arg(1)->ArgName("largest")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenTheStore)->Arg(0)->Arg(1)->ArgName("largest")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
