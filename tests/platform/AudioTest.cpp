// The simulated audio service: the interface's devices, property reads and writes, and listener delivery on
// the notification thread (concrete addresses, several per call, nothing for an unchanged write, the scalar
// report of a dB write, the rate report of a format write), listener removal and a bounded shutdown.

#include "SimTestSupport.h"
#include "SimulatedMachine.h"
#include "Wait.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <thread>

using namespace simtest;

namespace
{
constexpr AudioObjectPropertyScope kIn = kAudioObjectPropertyScopeInput;
constexpr AudioObjectPropertyScope kOut = kAudioObjectPropertyScopeOutput;
constexpr AudioObjectPropertyScope kAll = kAudioObjectPropertyScopeWildcard;
const AudioObjectPropertyAddress kEverything{kAudioObjectPropertySelectorWildcard, kAll,
                                             kAudioObjectPropertyElementWildcard};

struct Call
{
    AudioObjectID object;
    std::vector<AudioObjectPropertyAddress> addresses;
    std::string thread;
};

// Records every listener call; thread-safe.
struct Recorder
{
    std::mutex m;
    std::vector<Call> calls;

    static OSStatus proc(AudioObjectID object, UInt32 count, const AudioObjectPropertyAddress* a, void* data)
    {
        auto* self = static_cast<Recorder*>(data);
        std::lock_guard<std::mutex> lock(self->m);
        self->calls.push_back({object, {a, a + count}, sim::currentThreadRole()});
        return 0;
    }

    std::vector<Call> take()
    {
        EXPECT_TRUE(sim::waitAudioIdle());
        std::lock_guard<std::mutex> lock(m);
        return std::exchange(calls, {});
    }
};

std::string text(const std::vector<AudioObjectPropertyAddress>& addresses)
{
    std::string out;
    for (auto& a : addresses)
    {
        const UInt32 codes[2] = {a.mSelector, a.mScope};
        for (UInt32 c : codes)
            for (int shift = 24; shift >= 0; shift -= 8)
                out += char((c >> shift) & 0xFF);
        out += std::to_string(a.mElement) + ";";
    }
    return out;
}

template <typename T>
OSStatus get(AudioObjectID id, AudioObjectPropertySelector sel, AudioObjectPropertyScope scope,
             UInt32 element, T& value)
{
    const AudioObjectPropertyAddress a{sel, scope, element};
    UInt32 size = sizeof(T);
    return AudioObjectGetPropertyData(id, &a, 0, nullptr, &size, &value);
}

template <typename T>
OSStatus set(AudioObjectID id, AudioObjectPropertySelector sel, AudioObjectPropertyScope scope,
             UInt32 element, const T& value)
{
    const AudioObjectPropertyAddress a{sel, scope, element};
    return AudioObjectSetPropertyData(id, &a, 0, nullptr, sizeof(T), &value);
}

std::vector<AudioObjectID> deviceList()
{
    const AudioObjectPropertyAddress a{kAudioHardwarePropertyDevices, kAudioObjectPropertyScopeGlobal, 0};
    UInt32 size = 0;
    if (AudioObjectGetPropertyDataSize(kAudioObjectSystemObject, &a, 0, nullptr, &size) != 0)
        return {};
    std::vector<AudioObjectID> ids(size / 4);
    if (AudioObjectGetPropertyData(kAudioObjectSystemObject, &a, 0, nullptr, &size, ids.data()) != 0)
        return {};
    ids.resize(size / 4);
    return ids;
}

std::string stringProperty(AudioObjectID id, AudioObjectPropertySelector sel, AudioObjectPropertyScope scope)
{
    CFStringRef s = nullptr;
    if (get(id, sel, scope, 0, s) != 0)
        return "<failed>";
    if (s == nullptr)
        return "<null>";
    std::string value = platform::toStdString(s);
    CFRelease(s);
    return value;
}

UInt32 streams(AudioObjectID id, AudioObjectPropertyScope scope)
{
    const AudioObjectPropertyAddress a{kAudioDevicePropertyStreamConfiguration, scope, 0};
    UInt32 size = 0;
    EXPECT_EQ(AudioObjectGetPropertyDataSize(id, &a, 0, nullptr, &size), 0);
    EXPECT_GE(size, 4u);
    std::vector<UInt8> buffer(size);
    EXPECT_EQ(AudioObjectGetPropertyData(id, &a, 0, nullptr, &size, buffer.data()), 0);
    return reinterpret_cast<AudioBufferList*>(buffer.data())->mNumberBuffers;
}

class Audio : public pelktest::SimulatedMachine
{
protected:
    // A fresh world with the interface plugged in.
    void start(const sim::Config& world = {})
    {
        pelktest::freshMachine(world);
        plugInterface();
    }
    void plugInterface()
    {
        sim::plug();
        in = sim::interfaceAudioDevice(sim::Direction::input);
        out = sim::interfaceAudioDevice(sim::Direction::output);
        ASSERT_NE(in, 0u);
        ASSERT_NE(out, 0u);
    }
    void SetUp() override
    {
        SimulatedMachine::SetUp();
        plugInterface();
    }
    void TearDown() override
    {
        SimulatedMachine::TearDown();
        sim::shutdownNotifications();
    }
    void listen(AudioObjectID id)
    {
        ASSERT_EQ(AudioObjectAddPropertyListener(id, &kEverything, Recorder::proc, &rec), 0);
    }

    AudioObjectID in = 0, out = 0;
    Recorder rec;
};

class AudioTopology : public Audio, public ::testing::WithParamInterface<sim::Topology>
{
protected:
    sim::Config config() const override
    {
        sim::Config c;
        c.topology = GetParam();
        return c;
    }
};

INSTANTIATE_TEST_SUITE_P(SplitOrCombined, AudioTopology,
                         ::testing::Values(sim::Topology::split, sim::Topology::combined),
                         [](const ::testing::TestParamInfo<sim::Topology>& row)
                         { return std::string(row.param == sim::Topology::split ? "Split" : "Combined"); });

TEST_P(AudioTopology, TheInterfaceShowsTwoDevicesOrOneCombined)
{
    const auto list = deviceList();
    const bool split = GetParam() == sim::Topology::split;
    ASSERT_EQ(list.size(), split ? 2u : 1u);
    EXPECT_EQ(list.front(), in);
    EXPECT_EQ(list.back(), out);
    for (AudioObjectID id : list)
        for (AudioObjectPropertyScope scope : {kIn, kOut})
        {
            EXPECT_EQ(stringProperty(id, kAudioObjectPropertyName, scope), "PELK");
            EXPECT_EQ(stringProperty(id, kAudioObjectPropertyManufacturer, scope), "Orvalis");
            EXPECT_NE(stringProperty(id, kAudioDevicePropertyDeviceUID, scope), "<failed>");
        }
    EXPECT_EQ(streams(in, kIn), 1u);
    EXPECT_EQ(streams(out, kOut), 1u);
    EXPECT_EQ(streams(in, kOut), split ? 0u : 1u) << "no stream: mNumberBuffers 0, size still readable";
    Float64 rate = 0;
    EXPECT_EQ(get(out, kAudioDevicePropertyNominalSampleRate, kAll, 0, rate), 0);
    EXPECT_EQ(rate, 48000.0);
}

struct DiscoveryRunRow
{
    std::string what;
    int atRun;
    size_t devicesAtRun[5];
};

class AudioDiscoveryRuns : public pelktest::SimulatedMachineWithParam<DiscoveryRunRow>
{
};

INSTANTIATE_TEST_SUITE_P(KthRunOrNever, AudioDiscoveryRuns,
                         ::testing::Values(DiscoveryRunRow{"first run", 1, {2, 2, 2, 2, 2}},
                                           DiscoveryRunRow{"third run", 3, {0, 0, 2, 2, 2}},
                                           DiscoveryRunRow{"never", 0, {0, 0, 0, 0, 0}}),
                         pelktest::NameByWhat());

TEST_P(AudioDiscoveryRuns, AudioDevicesAppearAtTheirRun)
{
    const DiscoveryRunRow& c = GetParam();
    sim::PlugOptions options;
    options.audioAtRun = c.atRun;
    sim::plug(sim::kInterface, options);
    for (int run = 0; run < 5; ++run)
        EXPECT_EQ(deviceList().size(), c.devicesAtRun[run]) << "run " << run + 1;
    EXPECT_EQ(sim::discoveryRuns(), 5);
}

TEST_F(Audio, UnpluggedTheIdsGoStale)
{
    sim::unplug();
    Float64 rate = 0;
    EXPECT_EQ(get(in, kAudioDevicePropertyNominalSampleRate, kAll, 0, rate), kAudioHardwareBadObjectError);
    EXPECT_TRUE(deviceList().empty());
}

TEST_F(Audio, ListenersRunOnTheNotificationThreadWithConcreteAddresses)
{
    listen(in);
    listen(out);
    EXPECT_EQ(set(out, kAudioDevicePropertyVolumeDecibels, kOut, 1, Float32(-12.5f)), 0);
    EXPECT_EQ(set(in, kAudioDevicePropertyMute, kIn, 2, UInt32(1)), 0);
    auto calls = rec.take();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].object, out);
    EXPECT_EQ(text(calls[0].addresses), "voldoutp1;");
    EXPECT_EQ(text(calls[1].addresses), "volmoutp1;") << "a dB write also reports the scalar volume";
    EXPECT_EQ(calls[2].object, in);
    EXPECT_EQ(text(calls[2].addresses), "muteinpt2;");
    for (auto& c : calls)
        EXPECT_EQ(c.thread, "audio-notify");

    Float32 db = 0, scalar = 0;
    EXPECT_EQ(get(out, kAudioDevicePropertyVolumeDecibels, kOut, 1, db), 0);
    EXPECT_EQ(db, -12.5f) << "stored as given";
    EXPECT_EQ(get(out, kAudioDevicePropertyVolumeScalar, kOut, 1, scalar), 0);
    EXPECT_GT(scalar, 0.0f);
    EXPECT_LT(scalar, 1.0f);

    // Writes that change nothing report nothing.
    EXPECT_EQ(set(out, kAudioDevicePropertyVolumeDecibels, kOut, 1, Float32(-12.5f)), 0);
    EXPECT_EQ(set(in, kAudioDevicePropertyMute, kIn, 2, UInt32(7)), 0);
    EXPECT_EQ(set(in, kAudioDevicePropertyNominalSampleRate, kAll, 0, Float64(48000)), 0);
    EXPECT_TRUE(rec.take().empty());

    // Changes made elsewhere take the same road; an unchecked rate is stored and reported whatever it is.
    EXPECT_FALSE(sim::setRate(in, -1));
    EXPECT_TRUE(rec.take().empty());
    sim::setRateUnchecked(in, NAN);
    Float64 nan = 0;
    EXPECT_EQ(get(in, kAudioDevicePropertyNominalSampleRate, kAll, 0, nan), 0);
    EXPECT_TRUE(std::isnan(nan));
    EXPECT_EQ(rec.take().size(), 1u);
    sim::setRate(in, 44100);
    sim::setPlayThru(out, sim::Direction::output, 1);
    calls = rec.take();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(text(calls[0].addresses), "nsrtglob0;");
    EXPECT_EQ(text(calls[1].addresses), "thruoutp0;");
}

TEST_F(Audio, OneCallMayCarrySeveralAddresses)
{
    sim::Config config;
    config.coalescing = sim::Coalescing::perChange;
    start(config);
    listen(out);
    set(out, kAudioDevicePropertyVolumeDecibels, kOut, 2, Float32(-3));
    sim::notifyRaw(out, {{kAudioDevicePropertyVolumeScalar, kOut, 1}, {kAudioDevicePropertyMute, kOut, 1}});
    const auto calls = rec.take();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(text(calls[0].addresses), "voldoutp2;volmoutp2;");
    EXPECT_EQ(text(calls[1].addresses), "volmoutp1;muteoutp1;");

    // A listener for one selector gets only the addresses it asked for.
    Recorder muteOnly;
    const AudioObjectPropertyAddress mute{kAudioDevicePropertyMute, kAll,
                                          kAudioObjectPropertyElementWildcard};
    ASSERT_EQ(AudioObjectAddPropertyListener(out, &mute, Recorder::proc, &muteOnly), 0);
    sim::notifyRaw(out, {{kAudioDevicePropertyVolumeScalar, kOut, 1}, {kAudioDevicePropertyMute, kOut, 1}});
    const auto only = muteOnly.take();
    ASSERT_EQ(only.size(), 1u);
    EXPECT_EQ(text(only[0].addresses), "muteoutp1;");
}

TEST_F(Audio, APhysicalFormatWriteChangesTheNominalRate)
{
    listen(out);
    const AudioStreamBasicDescription f96{96000, kAudioFormatLinearPCM, 0xC, 12, 1, 12, 4, 24, 0};
    EXPECT_EQ(set(out, kAudioStreamPropertyPhysicalFormat, kOut, 0, f96), 0);
    EXPECT_EQ(sim::rate(out), 96000.0);
    auto calls = rec.take();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(text(calls.back().addresses), "nsrtglob0;");

    const AudioStreamBasicDescription f32k{32000, kAudioFormatLinearPCM, 0xC, 4, 1, 4, 2, 16, 0};
    EXPECT_EQ(set(out, kAudioStreamPropertyPhysicalFormat, kAll, 0, f32k), 0);
    EXPECT_EQ(sim::rate(out), 32000.0);
    EXPECT_EQ(sim::physicalFormat(out, sim::Direction::output).mChannelsPerFrame, 2u);
    const auto journal = sim::journal();
    EXPECT_EQ(journal.back(), "audio-set " + std::to_string(out) + " pft **** 0 32000/lpcm/c/4/1/4/2/16/0");

    struct Refused
    {
        const char* what;
        AudioStreamBasicDescription format;
    };
    for (auto& r : {Refused{"rate 0", {0, kAudioFormatLinearPCM, 0xC, 12, 1, 12, 4, 24, 0}},
                    Refused{"unknown rate", {22050, kAudioFormatLinearPCM, 0xC, 12, 1, 12, 4, 24, 0}},
                    Refused{"NaN rate", {NAN, kAudioFormatLinearPCM, 0xC, 12, 1, 12, 4, 24, 0}},
                    Refused{"16-bit at 48000", {48000, kAudioFormatLinearPCM, 0xC, 4, 1, 4, 2, 16, 0}},
                    Refused{"float flags", {48000, kAudioFormatLinearPCM, 0x9, 12, 1, 12, 4, 24, 0}}})
        EXPECT_NE(set(out, kAudioStreamPropertyPhysicalFormat, kOut, 0, r.format), 0) << r.what;
    EXPECT_EQ(sim::rate(out), 32000.0);
    for (Float64 bad : {0.0, -48000.0, double(NAN), 22050.0})
        EXPECT_NE(set(out, kAudioDevicePropertyNominalSampleRate, kAll, 0, bad), 0) << bad;
    sim::setAcceptedRates(out, {22050, 48000});
    EXPECT_EQ(set(out, kAudioDevicePropertyNominalSampleRate, kAll, 0, Float64(22050)), 0);
    EXPECT_EQ(sim::rate(out), 22050.0);
}

// The listener writes from inside its call: the resulting reports are queued, never delivered recursively,
// and the two devices settle because an unchanged write reports nothing.
struct Sync
{
    AudioObjectID in, out;
    std::atomic<int> calls{0};
    std::atomic<int> depth{0};
    std::atomic<int> maxDepth{0};

    static OSStatus proc(AudioObjectID object, UInt32 count, const AudioObjectPropertyAddress* a, void* data)
    {
        auto* self = static_cast<Sync*>(data);
        const int d = ++self->depth;
        self->maxDepth = std::max(self->maxDepth.load(), d);
        ++self->calls;
        for (UInt32 i = 0; i < count; ++i)
            if (a[i].mSelector == kAudioDevicePropertyNominalSampleRate)
            {
                Float64 rate = 0;
                get(object, a[i].mSelector, a[i].mScope, a[i].mElement, rate);
                for (AudioObjectID id : {self->in, self->out})
                    set(id, kAudioDevicePropertyNominalSampleRate, kAll, 0, rate);
            }
        --self->depth;
        return 0;
    }
};

TEST_F(Audio, AListenerMayWriteFromItsCallWithoutRecursion)
{
    Sync sync{in, out};
    ASSERT_EQ(AudioObjectAddPropertyListener(in, &kEverything, Sync::proc, &sync), 0);
    ASSERT_EQ(AudioObjectAddPropertyListener(out, &kEverything, Sync::proc, &sync), 0);
    sim::setRate(in, 96000);
    EXPECT_TRUE(sim::waitAudioIdle());
    EXPECT_EQ(sim::rate(out), 96000.0);
    EXPECT_EQ(sync.calls.load(), 2) << "the input's report, then the output's, then quiet";
    EXPECT_EQ(sync.maxDepth.load(), 1);
}

// A listener that blocks until released, like one waiting for the message thread.
struct Stuck
{
    std::mutex m;
    std::condition_variable cv;
    bool inside = false;
    bool release = false;
    int calls = 0;

    static OSStatus proc(AudioObjectID, UInt32, const AudioObjectPropertyAddress*, void* data)
    {
        auto* self = static_cast<Stuck*>(data);
        std::unique_lock<std::mutex> lock(self->m);
        ++self->calls;
        self->inside = true;
        self->cv.notify_all();
        self->cv.wait(lock, [&] { return self->release; });
        return 0;
    }
    void waitInside()
    {
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return inside; }));
    }
    void letGo()
    {
        std::lock_guard<std::mutex> lock(m);
        release = true;
        cv.notify_all();
    }
};

TEST_F(Audio, RemovalDoesNotWaitAndNoCallBeginsAfterIt)
{
    Stuck stuck;
    ASSERT_EQ(AudioObjectAddPropertyListener(out, &kEverything, Stuck::proc, &stuck), 0);
    sim::setMute(out, sim::Direction::output, 1, true);
    stuck.waitInside();
    sim::setMute(out, sim::Direction::output, 2, true); // queued behind the stuck call

    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(AudioObjectRemovePropertyListener(out, &kEverything, Stuck::proc, &stuck), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
    EXPECT_EQ(sim::listenerCount(out), 0);
    EXPECT_NE(AudioObjectRemovePropertyListener(out, &kEverything, Stuck::proc, &stuck), 0)
        << "already removed";

    stuck.letGo();
    EXPECT_TRUE(sim::waitAudioIdle());
    std::lock_guard<std::mutex> lock(stuck.m);
    EXPECT_EQ(stuck.calls, 1) << "the queued report did not reach the removed listener";
}

TEST_F(Audio, ShutdownIsBoundedWhileAListenerIsStuck)
{
    auto stuck = std::make_shared<Stuck>(); // outlives the thread left behind
    static std::shared_ptr<Stuck> keep;
    keep = stuck;
    ASSERT_EQ(AudioObjectAddPropertyListener(out, &kEverything, Stuck::proc, stuck.get()), 0);
    sim::setMute(out, sim::Direction::output, 1, true);
    stuck->waitInside();
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(sim::shutdownNotifications(100)) << "reported as not ended in time";
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    sim::setMute(out, sim::Direction::output, 2, true); // refused quietly after shutdown
    stuck->letGo();
    pelktest::freshMachine();
}

// A listener that takes the message-thread lock, as the panel's event handler does.
struct NeedsMessageThread
{
    std::atomic<int> calls{0};
    std::atomic<bool> entered{false};
    static OSStatus proc(AudioObjectID, UInt32, const AudioObjectPropertyAddress*, void* data)
    {
        auto* self = static_cast<NeedsMessageThread*>(data);
        self->entered = true;
        const juce::MessageManagerLock lock;
        ++self->calls;
        return 0;
    }
};

TEST_F(Audio, WaitingForIdleKeepsTheMessageLoopGoingForAListenerThatNeedsIt)
{
    NeedsMessageThread listener;
    ASSERT_EQ(AudioObjectAddPropertyListener(out, &kEverything, NeedsMessageThread::proc, &listener), 0);
    sim::setMute(out, sim::Direction::output, 1, true);
    sim::setMute(out, sim::Direction::output, 2, true);
    EXPECT_TRUE(sim::waitAudioIdle(5000));
    EXPECT_EQ(listener.calls.load(), 2);
}

TEST_F(Audio, ShutdownIsBoundedWhileAListenerWaitsForTheMessageThread)
{
    static NeedsMessageThread listener; // outlives the thread, whatever happens
    ASSERT_EQ(AudioObjectAddPropertyListener(out, &kEverything, NeedsMessageThread::proc, &listener), 0);
    sim::setMute(out, sim::Direction::output, 1, true);
    while (!listener.entered)
        std::this_thread::yield();
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(sim::shutdownNotifications(100))
        << "the message thread is busy here, so the call cannot finish";
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    // Once the message loop runs again the listener gets its lock and finishes; nothing more is delivered.
    EXPECT_TRUE(pelktest::pumpUntil([&] { return listener.calls != 0; }));
    EXPECT_TRUE(pelktest::drainMessageLoop());
    EXPECT_EQ(listener.calls.load(), 1);
}

TEST_F(Audio, FaultsFailTheChosenCalls)
{
    const OSStatus e = 0x12345;
    sim::PropertyFault nameOnce;
    nameOnce.selector = kAudioObjectPropertyName;
    nameOnce.status = e;
    nameOnce.count = 1;
    sim::failProperty(nameOnce);
    EXPECT_EQ(stringProperty(in, kAudioObjectPropertyName, kIn), "<failed>");
    EXPECT_EQ(stringProperty(in, kAudioObjectPropertyName, kIn), "PELK") << "count 1";

    sim::PropertyFault nullMaker;
    nullMaker.selector = kAudioObjectPropertyManufacturer;
    nullMaker.device = out;
    nullMaker.nullString = true;
    sim::failProperty(nullMaker);
    EXPECT_EQ(stringProperty(out, kAudioObjectPropertyManufacturer, kOut), "<null>");
    EXPECT_EQ(stringProperty(in, kAudioObjectPropertyManufacturer, kIn), "Orvalis");

    sim::PropertyFault sizeFault;
    sizeFault.op = sim::AudioOp::size;
    sizeFault.selector = kAudioHardwarePropertyDevices;
    sizeFault.status = e;
    sim::failProperty(sizeFault);
    EXPECT_TRUE(deviceList().empty());

    sim::PropertyFault setFault;
    setFault.op = sim::AudioOp::set;
    setFault.scope = kOut;
    setFault.status = e;
    sim::failProperty(setFault);
    EXPECT_EQ(set(out, kAudioDevicePropertyMute, kOut, 1, UInt32(1)), e);
    EXPECT_FALSE(sim::mute(out, sim::Direction::output, 1));
    EXPECT_EQ(set(in, kAudioDevicePropertyMute, kIn, 1, UInt32(1)), 0);

    sim::PropertyFault listenFault;
    listenFault.op = sim::AudioOp::addListener;
    listenFault.device = in;
    listenFault.status = e;
    sim::failProperty(listenFault);
    EXPECT_EQ(AudioObjectAddPropertyListener(in, &kEverything, Recorder::proc, &rec), e);
    EXPECT_EQ(sim::listenerCount(in), 0);

    sim::clearPropertyFaults();
    EXPECT_EQ(deviceList().size(), 2u);
}

struct InstallationRow
{
    std::string what;
    sim::DuplicateListeners policy;
    bool secondRefused;
    size_t callsPerChange;
};

class AudioRepeatedInstallation : public Audio, public ::testing::WithParamInterface<InstallationRow>
{
protected:
    sim::Config config() const override
    {
        sim::Config c;
        c.duplicateListeners = GetParam().policy;
        return c;
    }
};

INSTANTIATE_TEST_SUITE_P(
    Policies, AudioRepeatedInstallation,
    ::testing::Values(
        InstallationRow{"refuse", sim::DuplicateListeners::refuse, true, 1},
        InstallationRow{"accept idempotent", sim::DuplicateListeners::acceptIdempotent, false, 1},
        InstallationRow{"accept duplicate", sim::DuplicateListeners::acceptDuplicate, false, 2}),
    pelktest::NameByWhat());

TEST_P(AudioRepeatedInstallation, FollowsThePolicy)
{
    const InstallationRow& c = GetParam();
    Recorder r;
    ASSERT_EQ(AudioObjectAddPropertyListener(in, &kEverything, Recorder::proc, &r), 0);
    const OSStatus second = AudioObjectAddPropertyListener(in, &kEverything, Recorder::proc, &r);
    EXPECT_EQ(second != 0, c.secondRefused);
    sim::setMute(in, sim::Direction::input, 1, true);
    EXPECT_EQ(r.take().size(), c.callsPerChange);
}

TEST_F(Audio, RateLatencyListShrinkAndHeldWrites)
{
    sim::setRateLatency(in, 2);
    EXPECT_EQ(set(in, kAudioDevicePropertyNominalSampleRate, kAll, 0, Float64(96000)), 0);
    std::vector<Float64> reads;
    for (int i = 0; i < 3; ++i)
    {
        Float64 rate = 0;
        get(in, kAudioDevicePropertyNominalSampleRate, kAll, 0, rate);
        reads.push_back(rate);
    }
    EXPECT_EQ(reads, (std::vector<Float64>{48000, 96000, 96000})) << "lands at the second read";

    sim::shrinkDeviceListBetweenSizeAndRead(1);
    EXPECT_EQ(deviceList().size(), 1u) << "the read returned fewer than the size announced";
    EXPECT_EQ(deviceList().size(), 2u);

    sim::holdWrites();
    std::thread worker([&] { set(out, kAudioDevicePropertyVolumeDecibels, kOut, 1, Float32(-20)); });
    while (sim::heldWriters() == 0)
        std::this_thread::yield();
    EXPECT_EQ(sim::volumeDb(out, sim::Direction::output, 1), 0.0f);
    EXPECT_EQ(set(out, kAudioDevicePropertyVolumeDecibels, kOut, 2, Float32(-5)), 0) << "main is never held";
    sim::releaseWrites();
    worker.join();
    EXPECT_EQ(sim::volumeDb(out, sim::Direction::output, 1), -20.0f);

    // One at a time: the gate stays closed for the next writer.
    sim::holdWrites();
    std::thread two(
        [&]
        {
            for (Float32 db : {-30.0f, -40.0f})
                set(out, kAudioDevicePropertyVolumeDecibels, kOut, 1, db);
        });
    while (sim::heldWriters() == 0)
        std::this_thread::yield();
    EXPECT_TRUE(sim::releaseOneWrite());
    while (sim::volumeDb(out, sim::Direction::output, 1) != -30.0f || sim::heldWriters() == 0)
        std::this_thread::yield();
    EXPECT_EQ(sim::volumeDb(out, sim::Direction::output, 1), -30.0f) << "the second write is held";
    EXPECT_TRUE(sim::releaseOneWrite());
    two.join();
    EXPECT_EQ(sim::volumeDb(out, sim::Direction::output, 1), -40.0f);
    EXPECT_FALSE(sim::releaseOneWrite());
    sim::releaseWrites();
}

TEST_F(Audio, NullAndUnknownArgumentsFail)
{
    const AudioObjectPropertyAddress name{kAudioObjectPropertyName, kIn, 0};
    UInt32 size = 8;
    CFStringRef s = nullptr;
    Float32 small = 0;
    EXPECT_NE(AudioObjectGetPropertyData(in, nullptr, 0, nullptr, &size, &s), 0);
    EXPECT_NE(AudioObjectGetPropertyData(in, &name, 0, nullptr, nullptr, &s), 0);
    EXPECT_NE(AudioObjectGetPropertyData(in, &name, 0, nullptr, &size, nullptr), 0)
        << "null buffer of 8 bytes";
    EXPECT_NE(AudioObjectGetPropertyDataSize(in, &name, 0, nullptr, nullptr), 0);
    EXPECT_NE(AudioObjectSetPropertyData(in, &name, 0, nullptr, 8, nullptr), 0);
    EXPECT_NE(AudioObjectAddPropertyListener(in, &kEverything, nullptr, nullptr), 0);
    EXPECT_NE(AudioObjectRemovePropertyListener(in, nullptr, Recorder::proc, nullptr), 0);
    EXPECT_EQ(sim::violations().size(), 7u);
    start();
    EXPECT_EQ(get(0, kAudioDevicePropertyNominalSampleRate, kAll, 0, small), kAudioHardwareBadObjectError);
    EXPECT_EQ(set(12345, kAudioDevicePropertyNominalSampleRate, kAll, 0, Float64(48000)),
              kAudioHardwareBadObjectError);
    EXPECT_EQ(get(in, kAudioDevicePropertyNominalSampleRate, kAll, 0, small),
              kAudioHardwareBadPropertySizeError);
    EXPECT_EQ(set(in, kAudioDevicePropertyNominalSampleRate, kAll, 0, Float32(48000)),
              kAudioHardwareBadPropertySizeError);
    EXPECT_EQ(get(in, kAudioDevicePropertyVolumeDecibels, kOut, 1, small), kAudioHardwareUnknownPropertyError)
        << "the input-only device has no output volume";
    EXPECT_EQ(get(in, kAudioDevicePropertyVolumeDecibels, kIn, 3, small), kAudioHardwareUnknownPropertyError);
    EXPECT_NE(AudioObjectAddPropertyListener(0, &kEverything, Recorder::proc, &rec), 0);
}

// The notification thread, the main thread and a worker all active at once (run under ThreadSanitizer).
TEST_F(Audio, MainWorkerAndNotificationThreadTogether)
{
    struct Reader
    {
        std::atomic<int> events{0};
        static OSStatus proc(AudioObjectID object, UInt32 count, const AudioObjectPropertyAddress* a,
                             void* data)
        {
            for (UInt32 i = 0; i < count; ++i)
                if (a[i].mSelector == kAudioDevicePropertyVolumeScalar)
                {
                    Float32 scalar = 0;
                    if (get(object, a[i].mSelector, a[i].mScope, a[i].mElement, scalar) == 0)
                        ++static_cast<Reader*>(data)->events;
                }
            return 0;
        }
    } reader;
    ASSERT_EQ(AudioObjectAddPropertyListener(out, &kEverything, Reader::proc, &reader), 0);
    ASSERT_EQ(AudioObjectAddPropertyListener(in, &kEverything, Reader::proc, &reader), 0);
    std::thread worker(
        [&]
        {
            for (int i = 1; i <= 200; ++i)
                set(out, kAudioDevicePropertyVolumeDecibels, kOut, 1 + UInt32(i % 2), Float32(-i % 60));
        });
    for (int i = 0; i < 200; ++i)
    {
        set(in, kAudioDevicePropertyMute, kIn, 1, UInt32(i % 2));
        set(in, kAudioDevicePropertyVolumeDecibels, kIn, 2, Float32(-(i % 30)));
    }
    worker.join();
    EXPECT_TRUE(sim::waitAudioIdle(5000));
    EXPECT_GT(reader.events.load(), 100);
    EXPECT_EQ(sim::volumeDb(in, sim::Direction::input, 2), -19.0f) << "the last write, 199 % 30";
}
} // namespace
