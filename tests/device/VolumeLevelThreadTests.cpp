// The volume worker: its log lines, where each request goes, stopping, and a ring that fills up.

#include "DeviceTestSupport.h"
#include "RegisterDeviceCallBacksMac.h"
#include "VolumeLevelThread.h"

#include <juce_core/juce_core.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sstream>

namespace
{
class VolumeWorkerTest : public SimulatedMachine
{
protected:
    void SetUp() override
    {
        SimulatedMachine::SetUp();
        in = sim::addAudioDevice({"in", "PELK", "Orvalis", 1, 0});
        out = sim::addAudioDevice({"out", "PELK", "Orvalis", 0, 1});
        gInAudioObjectID = in;
        gOutAudioObjectID = out;
    }

    void TearDown() override
    {
        gInAudioObjectID = 0;
        gOutAudioObjectID = 0;
        SimulatedMachine::TearDown();
    }

    // Waits until the device holds the value (the worker has written it).
    static bool waitForVolume(AudioObjectID device, sim::Direction direction, UInt32 element, Float32 value)
    {
        return waitUntil([=] { return sim::volumeDb(device, direction, element) == value; });
    }

    static std::vector<std::string> lines(const std::string& text)
    {
        std::vector<std::string> result;
        std::istringstream stream(text);
        for (std::string line; std::getline(stream, line);)
            result.push_back(line);
        return result;
    }

    // The 'vold' writes in the journal, as "<scope> <element> <value>" of each line.
    static std::vector<std::string> volumeWrites()
    {
        std::vector<std::string> result;
        for (const auto& line : sim::journal())
            if (line.rfind("audio-set", 0) == 0 && line.find("vold") != std::string::npos)
                result.push_back(line);
        return result;
    }

    AudioObjectID in = 0;
    AudioObjectID out = 0;
};

// Waits until the threads started with the worker (its own, and any a sanitizer starts beside it) all
// sleep: the worker then waits for work, as with the ring empty nothing else puts it to sleep.
void waitUntilIdle(const std::vector<pid_t>& workerThreads)
{
    ASSERT_FALSE(workerThreads.empty());
    ASSERT_TRUE(waitUntil(
        [&]
        {
            return std::all_of(workerThreads.begin(), workerThreads.end(),
                               [](pid_t thread) { return threadSleeps(thread); });
        }));
}

bool waitForHeldWriter()
{
    return waitUntil([] { return sim::heldWriters() > 0; });
}
} // namespace

TEST_F(VolumeWorkerTest, TheFirstRequestIsLoggedOnEnqueueAndOnDequeue)
{
    OutputCapture capture;
    {
        const auto before = threadIds();
        VolumeLevelThread worker;
        EXPECT_EQ(worker.getThreadName(), "VolumeLevel Thread");
        waitUntilIdle(newThreads(before));
        worker.setLevelVolume(1, 1, -12.5);
        worker.notify();
        ASSERT_TRUE(waitForVolume(in, sim::Direction::input, 1, -12.5f));
    }
    EXPECT_EQ(capture.err(), "set write: 1 Read: 0\nget write: 1 Read: 1\n");
    EXPECT_EQ(capture.out(), "");
}

TEST_F(VolumeWorkerTest, EachRequestGoesToItsDirectionAndChannel)
{
    const struct
    {
        int isInput;
        int channel;
        double decibels;
        bool toInput;
    } cases[] = {{1, 1, -1.5, true},  {1, 2, -2.5, true},  {0, 1, -3.5, false},
                 {0, 2, -4.5, false}, {2, 1, -5.5, false}, {-1, 2, -6.5, false}};

    OutputCapture quiet;
    VolumeLevelThread worker;
    for (const auto& c : cases)
    {
        worker.setLevelVolume(c.isInput, c.channel, c.decibels);
        worker.notify();
        const AudioObjectID device = c.toInput ? in : out;
        const auto direction = c.toInput ? sim::Direction::input : sim::Direction::output;
        EXPECT_TRUE(waitForVolume(device, direction, UInt32(c.channel), Float32(c.decibels)))
            << c.isInput << "/" << c.channel;
    }
}

TEST_F(VolumeWorkerTest, ValuesSetQuicklyAreAllWrittenInOrder)
{
    OutputCapture quiet;
    VolumeLevelThread worker;
    for (double value : {-10.0, -20.0, -30.0})
    {
        worker.setLevelVolume(0, 1, value);
        worker.notify();
    }
    ASSERT_TRUE(waitForVolume(out, sim::Direction::output, 1, -30.0f));
    const auto writes = volumeWrites();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_NE(writes[0].find("-10"), std::string::npos);
    EXPECT_NE(writes[1].find("-20"), std::string::npos);
    EXPECT_NE(writes[2].find("-30"), std::string::npos);
}

TEST_F(VolumeWorkerTest, TheRequestInSlot1023WrapsTheWriteIndexToZero)
{
    OutputCapture capture;
    {
        const auto before = threadIds();
        VolumeLevelThread worker;
        const auto workerThreads = newThreads(before);
        for (int i = 0; i < 1023; ++i)
        {
            worker.setLevelVolume(1, 1 + i % 2, -double(i) / 20.0);
            worker.notify();
            if (i % 100 == 99 || i == 1022)
            {
                ASSERT_TRUE(
                    waitForVolume(in, sim::Direction::input, UInt32(1 + i % 2), Float32(-double(i) / 20.0)));
            }
        }
        waitUntilIdle(workerThreads);
        worker.setLevelVolume(1, 2, -55.0);
        worker.notify();
        ASSERT_TRUE(waitForVolume(in, sim::Direction::input, 2, -55.0f));
    }
    const auto all = lines(capture.err());
    EXPECT_NE(std::find(all.begin(), all.end(), "set write: 0 Read: 1023"), all.end());
    EXPECT_NE(std::find(all.begin(), all.end(), "get write: 0 Read: 0"), all.end());
}

TEST_F(VolumeWorkerTest, WritesAreMadeOnTheWorkerThread)
{
    OutputCapture quiet;
    VolumeLevelThread worker;
    sim::holdWrites(); // holds 'vold' writes made off the main thread only
    worker.setLevelVolume(1, 1, -7.0);
    worker.notify();
    EXPECT_TRUE(waitUntil([] { return sim::heldWriters() == 1; }));
    sim::releaseWrites();
    EXPECT_TRUE(waitForVolume(in, sim::Direction::input, 1, -7.0f));
}

TEST_F(VolumeWorkerTest, AStopDuringEmptyingLetsTheEmptyingFinish)
{
    OutputCapture quiet;
    auto worker = std::make_unique<VolumeLevelThread>();
    sim::holdWrites();
    for (double value : {-1.0, -2.0, -3.0})
        worker->setLevelVolume(0, 2, value);
    worker->notify();
    ASSERT_TRUE(waitForHeldWriter());

    const VolumeLevelThread* const running = worker.get(); // alive until the held write is let go
    std::thread stopper([&] { worker.reset(); });
    ASSERT_TRUE(waitUntil([running] { return running->threadShouldExit(); }));
    const auto start = std::chrono::steady_clock::now();
    sim::releaseWrites();
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
    EXPECT_EQ(sim::volumeDb(out, sim::Direction::output, 2), -3.0f);
    EXPECT_EQ(volumeWrites().size(), 3u);
}

// More requests than the ring holds while the worker is stuck: nothing stale is written after a newer
// value, and the last value of every channel reaches the device.
TEST_F(VolumeWorkerTest, AFullRingStillDeliversTheLastValueOfEveryChannel)
{
    OutputCapture quiet;
    VolumeLevelThread worker;
    sim::holdWrites();
    worker.setLevelVolume(1, 1, -0.5);
    worker.notify();
    ASSERT_TRUE(waitForHeldWriter());

    const int requests = 3000;
    for (int i = 1; i <= requests; ++i)
    {
        worker.setLevelVolume(i % 4 < 2 ? 1 : 0, 1 + i % 2, -double(i) / 100.0);
        worker.notify();
    }
    sim::releaseWrites();

    ASSERT_TRUE(waitForVolume(out, sim::Direction::output, 2, Float32(-double(requests - 1) / 100.0)));
    ASSERT_TRUE(waitForVolume(in, sim::Direction::input, 1, Float32(-double(requests) / 100.0)));
    EXPECT_TRUE(waitForVolume(in, sim::Direction::input, 2, Float32(-double(requests - 3) / 100.0)));
    EXPECT_TRUE(waitForVolume(out, sim::Direction::output, 1, Float32(-double(requests - 2) / 100.0)));
}

// True for a whole "set write: <n> Read: <n>" or "get write: <n> Read: <n>" line.
static bool isWholeQueueLine(const std::string& l)
{
    size_t pos = 0;
    const auto literal = [&](const char* text)
    {
        const size_t n = std::strlen(text);
        if (l.compare(pos, n, text) != 0)
            return false;
        pos += n;
        return true;
    };
    const auto number = [&]
    {
        const size_t start = pos;
        while (pos < l.size() && l[pos] >= '0' && l[pos] <= '9')
            ++pos;
        return pos > start;
    };
    return (literal("set write: ") || literal("get write: ")) && number() && literal(" Read: ") && number() &&
           pos == l.size();
}

TEST_F(VolumeWorkerTest, LinesFromBothThreadsNeverInterleave)
{
    OutputCapture capture;
    {
        VolumeLevelThread worker;
        for (int i = 0; i < 3000; ++i)
        {
            worker.setLevelVolume(1, 1 + i % 2, -double(i % 60));
            worker.notify();
        }
        ASSERT_TRUE(waitForVolume(in, sim::Direction::input, 2, -59.0f));
    }
    const auto all = lines(capture.err());
    EXPECT_GE(all.size(), 3000u);
    for (const auto& l : all)
        ASSERT_TRUE(isWholeQueueLine(l)) << l;
}

// A stop that finds a long emptying under way ends it well before the stop's time-out, so the thread is
// never killed while it holds the lock or a request; the records are freed only after a clean stop.
TEST_F(VolumeWorkerTest, AStopThatWouldOutlastItsTimeOutEndsTheEmptyingInTime)
{
    OutputCapture capture;
    auto worker = std::make_unique<VolumeLevelThread>();
    sim::holdWrites();
    for (int i = 0; i < 1000; ++i)
        worker->setLevelVolume(1, 1, -double(i) / 20.0);
    worker->notify();
    ASSERT_TRUE(waitForHeldWriter());

    // Told of the stop after the worker's own listener, which starts the worker's count of the grace.
    struct StopSeen : juce::Thread::Listener
    {
        std::atomic<bool> seen{false};
        std::chrono::steady_clock::time_point at;
        void exitSignalSent() override
        {
            at = std::chrono::steady_clock::now();
            seen = true;
        }
    } stop;
    worker->addListener(&stop);

    std::thread stopper([&] { worker.reset(); });
    ASSERT_TRUE(waitUntil([&] { return stop.seen.load(); }));
    // The first write stays stuck until the grace a stop allows the emptying has passed.
    std::this_thread::sleep_until(stop.at + std::chrono::milliseconds(VolumeLevelThread::drainGraceMs + 2));
    sim::releaseWrites();
    stopper.join();
    const auto took = std::chrono::steady_clock::now() - stop.at;

    EXPECT_LT(took, std::chrono::milliseconds(VolumeLevelThread::stopTimeoutMs));
    EXPECT_EQ(capture.err().find("killing thread"), std::string::npos);
    EXPECT_LT(volumeWrites().size(), 10u);
}

// The device identifiers change on the main thread while the worker reads them.
TEST_F(VolumeWorkerTest, IdentifiersChangingUnderTheWorkerAreReadWhole)
{
    OutputCapture quiet;
    VolumeLevelThread worker;
    for (int i = 0; i < 2000; ++i)
    {
        worker.setLevelVolume(1, 1, -double(i % 50));
        worker.notify();
        gInAudioObjectID = i % 2 == 0 ? 0 : in;
    }
    gInAudioObjectID = in;
    worker.setLevelVolume(1, 1, -51.0);
    worker.notify();
    EXPECT_TRUE(waitForVolume(in, sim::Direction::input, 1, -51.0f));
}
