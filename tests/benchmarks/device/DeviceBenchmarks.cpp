// The volume road: the main thread's share of one fader change, and the worker draining requests into the
// simulated audio service. Standard error goes to a file while they run, as the worker's lines would in
// normal use.

#include "RegisterDeviceCallBacksMac.h"
#include "SimControl.h"
#include "VolumeLevelThread.h"

#include <benchmark/benchmark.h>
#include <juce_core/juce_core.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace sim = platform::sim;

namespace
{
// Sends standard error to a scratch file for the lifetime of the object.
class StderrToFile
{
public:
    StderrToFile()
    {
        std::fflush(stderr);
        saved = dup(STDERR_FILENO);
        auto path = juce::File::getSpecialLocation(juce::File::tempDirectory)
                        .getChildFile("pelk-device-bench-XXXXXX")
                        .getFullPathName()
                        .toStdString();
        const int file = mkstemp(path.data());
        unlink(path.c_str());
        dup2(file, STDERR_FILENO);
        close(file);
    }
    ~StderrToFile()
    {
        std::fflush(stderr);
        dup2(saved, STDERR_FILENO);
        close(saved);
    }

private:
    int saved = -1;
};

struct Devices
{
    AudioObjectID in;
    AudioObjectID out;
};

Devices freshMachine()
{
    sim::reset();
    Devices d{sim::addAudioDevice({"in", "PELK", "Orvalis", 1, 0}),
              sim::addAudioDevice({"out", "PELK", "Orvalis", 0, 1})};
    gInAudioObjectID = d.in;
    gOutAudioObjectID = d.out;
    return d;
}

// Request i of a run: the four channels in turn, each value distinct within the run.
void request(int i, int& isInput, int& channel, double& decibels)
{
    isInput = (i & 2) == 0 ? 1 : 0;
    channel = 1 + (i & 1);
    decibels = -double(i % 19000) / 200.0;
}

bool channelHolds(const Devices& d, int isInput, int channel, double decibels)
{
    const AudioObjectID device = isInput == 1 ? d.in : d.out;
    const auto direction = isInput == 1 ? sim::Direction::input : sim::Direction::output;
    return sim::volumeDb(device, direction, UInt32(channel)) == Float32(decibels);
}

// Waits until the last request of every channel among the final four is on the device.
bool lastValuesArrived(const Devices& d, int lastRequest)
{
    for (int wait = 0; wait < 20000; ++wait)
    {
        bool all = true;
        for (int i = lastRequest - 3; i <= lastRequest && all; ++i)
        {
            int isInput, channel;
            double decibels;
            request(i, isInput, channel, decibels);
            all = channelHolds(d, isInput, channel, decibels);
        }
        if (all)
            return true;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return false;
}

size_t volumeWrites()
{
    size_t writes = 0;
    for (const auto& line : sim::journal())
        writes += line.rfind("audio-set", 0) == 0 && line.find(" vold ") != std::string::npos ? 1u : 0u;
    return writes;
}

// Main thread: one setLevelVolume and its notify, with the "set write:" line going to a file.
void BM_SetLevelVolumeAndNotify(benchmark::State& state)
{
    const Devices d = freshMachine();
    StderrToFile redirect;
    VolumeLevelThread worker;
    int i = 0;
    for (auto _ : state)
    {
        int isInput, channel;
        double decibels;
        request(i++, isInput, channel, decibels);
        worker.setLevelVolume(isInput, channel, decibels);
        worker.notify();
    }
    state.counters["last_values_ok"] = lastValuesArrived(d, i - 1) ? 1 : 0;
    gInAudioObjectID = 0;
    gOutAudioObjectID = 0;
}
BENCHMARK(BM_SetLevelVolumeAndNotify)->Repetitions(5)->ReportAggregatesOnly(true);

// Worker: 100,000 requests, queued 1000 at a time while the writes are held and then drained; only the
// draining is timed. Every request is written: lost = requests - writes.
void BM_WorkerDrain100k(benchmark::State& state)
{
    constexpr int batches = 100;
    constexpr int batchSize = 1000;
    for (auto _ : state)
    {
        const Devices d = freshMachine();
        StderrToFile redirect;
        double drainSeconds = 0.0;
        bool lastOk = true;
        {
            VolumeLevelThread worker;
            int next = 0;
            for (int b = 0; b < batches; ++b)
            {
                sim::holdWrites();
                for (int k = 0; k < batchSize; ++k, ++next)
                {
                    int isInput, channel;
                    double decibels;
                    request(next, isInput, channel, decibels);
                    worker.setLevelVolume(isInput, channel, decibels);
                }
                worker.notify();
                const auto start = std::chrono::steady_clock::now();
                sim::releaseWrites();
                lastOk = lastValuesArrived(d, next - 1) && lastOk;
                drainSeconds +=
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            }
        }
        const double requests = double(batches * batchSize);
        const double writes = double(volumeWrites());
        state.SetIterationTime(drainSeconds);
        state.counters["requests"] = requests;
        state.counters["lost"] = requests - writes;
        state.counters["last_values_ok"] = lastOk ? 1 : 0;
        state.counters["requests_per_s"] = requests / drainSeconds;
        gInAudioObjectID = 0;
        gOutAudioObjectID = 0;
    }
}
BENCHMARK(BM_WorkerDrain100k)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
} // namespace

BENCHMARK_MAIN();
