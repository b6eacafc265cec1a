// The program against a bare JUCE DocumentWindow of the same size, side by side on private Xvfb displays:
// time from start to the window mapped (with the machine's own fonts, and with about 2,000 font files in
// the private HOME's ~/.fonts; with the program's own settings file and with the largest one it accepts),
// CPU use while idle for 10 s, and resident memory once shown.
// Run with the benchmark tree: build/bin/program_benchmarks

#include "LargestSettingsFile.h"
#include "support/ProgramHarness.h"

#include <X11/Xlib.h>
#include <benchmark/benchmark.h>
#include <csignal>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <unistd.h>

using namespace pelk::e2e;
using Clock = std::chrono::steady_clock;

namespace
{
enum Program
{
    panel = 0,
    bare = 1
};

// The font files the framework reads from the machine's own folders (the extensions it scans).
juce::Array<juce::File> machineFonts()
{
    juce::Array<juce::File> fonts;
    for (const auto* folder : {"/usr/share/fonts", "/usr/local/share/fonts"})
        for (const auto& entry :
             juce::RangedDirectoryIterator(juce::File(folder), true, "*", juce::File::findFiles))
            if (entry.getFile().hasFileExtension("ttf;pfb;pcf;otf"))
                fonts.add(entry.getFile());
    return fonts;
}

// Fills the private HOME's ~/.fonts with at least `count` symbolic links to the machine's fonts (copies of
// the whole set in numbered folders), as on a desktop with many fonts installed; the number made.
int linkManyFonts(const juce::File& home, int count)
{
    const auto fonts = machineFonts();
    int made = 0;
    for (int copy = 0; !fonts.isEmpty() && made < count; ++copy)
    {
        const auto folder = home.getChildFile(".fonts/copy-" + juce::String(copy));
        folder.createDirectory();
        for (const auto& font : fonts)
            if (font.createSymbolicLink(folder.getChildFile(font.getFileName()), false))
                ++made;
    }
    return made;
}

Process& start(Harness& h, int which)
{
    return which == panel ? h.launch() : h.launchExecutable(PELK_BARE_WINDOW_PATH);
}

// Waits for the first top-level window to be mapped on the harness's display; the time it took, or a
// negative duration on time-out.
struct MapWatcher
{
    explicit MapWatcher(const std::string& display) : x(XOpenDisplay(display.c_str()))
    {
        if (x != nullptr)
        {
            XSelectInput(x, DefaultRootWindow(x), SubstructureNotifyMask);
            XSync(x, False);
        }
    }
    ~MapWatcher()
    {
        if (x != nullptr)
            XCloseDisplay(x);
    }

    bool waitForMap(Milliseconds timeout)
    {
        const auto deadline = Clock::now() + timeout;
        while (x != nullptr && Clock::now() < deadline)
        {
            while (XPending(x) > 0)
            {
                XEvent e;
                XNextEvent(x, &e);
                if (e.type == MapNotify)
                    return true;
            }
            pollfd p{ConnectionNumber(x), POLLIN, 0};
            ::poll(&p, 1, 5);
        }
        return false;
    }

    Display* x;
};

// Starts the program or the bare window and takes the time until its window is mapped as the iteration's
// time; the process, or null (the benchmark skipped) when no window came.
Process* timedStart(benchmark::State& state, Harness& h, int which)
{
    MapWatcher watcher(h.display());
    const auto begin = Clock::now();
    auto& p = start(h, which);
    if (!watcher.waitForMap(Milliseconds(10000)))
    {
        state.SkipWithError("no window");
        return nullptr;
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - begin).count());
    return &p;
}

double cpuSeconds(int pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
    {
        if (i == 14)
            utime = std::stol(field);
        if (i == 15)
            stime = std::stol(field);
    }
    return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

long residentKilobytes(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

void BM_StartToWindowShown(benchmark::State& state)
{
    Harness h({false, "plugged"});
    const auto fontFolder = h.file("home").getChildFile(".fonts");
    if (state.range(1) != 0)
        state.counters["font_links"] = linkManyFonts(h.file("home"), 2000);
    // One start to the window and its end; the time it took, or nothing on time-out.
    const auto startOnce = [&]() -> std::optional<double>
    {
        MapWatcher watcher(h.display());
        const auto begin = Clock::now();
        auto& p = start(h, (int) state.range(0));
        const bool mapped = watcher.waitForMap(Milliseconds(10000));
        const auto took = std::chrono::duration<double>(Clock::now() - begin).count();
        p.terminate(SIGTERM);
        p.waitExit();
        return mapped ? std::optional<double>(took) : std::nullopt;
    };
    // The first start with new fonts in a folder that fontconfig has no cache for yet makes that cache
    // (installing fonts on a desktop does so with fc-cache); it is reported apart, not timed.
    if (const auto first = startOnce())
        state.counters["first_start_ms"] = *first * 1000.0;
    for (auto _ : state)
    {
        const auto took = startOnce();
        if (!took)
        {
            state.SkipWithError("no window");
            break;
        }
        state.SetIterationTime(*took);
    }
    // Links only: the machine's fonts stay.
    fontFolder.deleteRecursively(false);
}

// Start to window mapped with the program's own settings file (0) or the largest accepted one (1).
void BM_StartWithSettingsFile(benchmark::State& state)
{
    Harness h({false, "plugged"});
    const auto file = h.settingsFile();
    file.getParentDirectory().createDirectory();
    // The program's limits, unless the environment names others (to measure a build with other limits).
    const SettingsLimits limits;
    const auto bytes = (std::size_t) juce::SystemStats::getEnvironmentVariable(
                           "PELK_BENCH_SETTINGS_BYTES", juce::String((juce::int64) limits.maxBytes))
                           .getLargeIntValue();
    const auto keys =
        juce::SystemStats::getEnvironmentVariable("PELK_BENCH_SETTINGS_KEYS", juce::String(limits.maxKeys))
            .getIntValue();
    const auto text = state.range(0) == 0
                          ? std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n"
                                        "<PROPERTIES>\r\n  <VALUE name=\"WindowPosition\" "
                                        "val=\"300 200 316 486\"/>\r\n  <VALUE "
                                        "name=\"MonitoringHP\" val=\"1\"/>\r\n</PROPERTIES>\r\n")
                          : pelkbench::largestSettingsFile(bytes, keys);
    state.counters["file_bytes"] = (double) text.size();
    for (auto _ : state)
    {
        file.replaceWithData(text.data(), text.size());
        auto* p = timedStart(state, h, panel);
        if (p == nullptr)
            break;
        p->terminate(SIGTERM);
        p->waitExit();
        if (p->stderrText().find("unusable") != std::string::npos)
        {
            state.SkipWithError("the file was not accepted");
            break;
        }
    }
}

void BM_IdleCpuOver10s(benchmark::State& state)
{
    Harness h({false, state.range(1) == 1 ? "plugged" : "absent"});
    for (auto _ : state)
    {
        auto& p = start(h, (int) state.range(0));
        if (!h.waitForWindow(state.range(0) == panel ? "Pelk VOD Panel v1.5.0.0" : "Bare Window"))
        {
            state.SkipWithError("no window");
            break;
        }
        std::this_thread::sleep_for(std::chrono::seconds(1)); // past start-up and the first read-backs
        const double before = cpuSeconds(p.pid());
        std::this_thread::sleep_for(std::chrono::seconds(10));
        const double used = cpuSeconds(p.pid()) - before;
        state.counters["cpu_percent"] = used / 10.0 * 100.0;
        state.counters["cpu_ms"] = used * 1000.0;
        p.terminate(SIGTERM);
        p.waitExit();
    }
}

void BM_ResidentMemory(benchmark::State& state)
{
    Harness h({false, "plugged"});
    for (auto _ : state)
    {
        auto& p = start(h, (int) state.range(0));
        if (!h.waitForWindow(state.range(0) == panel ? "Pelk VOD Panel v1.5.0.0" : "Bare Window"))
        {
            state.SkipWithError("no window");
            break;
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
        state.counters["rss_kib"] = (double) residentKilobytes(p.pid());
        p.terminate(SIGTERM);
        p.waitExit();
    }
}
} // namespace

// Argument 0: the panel program (0) or the bare window (1); for the start, argument 1: about 2,000 font
// files in ~/.fonts (1) or the machine's own fonts only (0); for CPU, argument 1: interface plugged (1) or
// not.
BENCHMARK(BM_StartToWindowShown)
    ->ArgsProduct({{panel, bare}, {0, 1}})
    ->ArgNames({"bare", "manyfonts"})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
BENCHMARK(BM_StartWithSettingsFile)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("largest")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
BENCHMARK(BM_IdleCpuOver10s)
    ->Args({panel, 1})
    ->Args({panel, 0})
    ->Args({bare, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_ResidentMemory)->Arg(panel)->Arg(bare)->Iterations(3)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
