// The world's internals: its lifetime, clock, main run loop, notification thread, journal and the audio
// helpers shared by the service and the control functions (those are in SimControl.cpp).

#include "World.h"

#include <juce_core/juce_core.h>

#include <cmath>
#include <cstdio>
#include <pthread.h>

namespace platform::sim::detail
{
namespace
{
World* current = nullptr;
thread_local const char* threadRole = nullptr;

// Objects a client may still point at after a reset are kept here instead of being freed.
std::vector<ComObject*>& comGraveyard()
{
    static auto* v = new std::vector<ComObject*>;
    return *v;
}
std::vector<IONotificationPort*>& portGraveyard()
{
    static auto* v = new std::vector<IONotificationPort*>;
    return *v;
}
} // namespace

std::mutex& mutex()
{
    static auto* m = new std::mutex;
    return *m;
}

std::condition_variable& changed()
{
    static auto* cv = new std::condition_variable;
    return *cv;
}

MainThreadLoop& mainThreadLoop()
{
    static auto* loop = new MainThreadLoop;
    return *loop;
}

// A fresh world: the interface on the bus (unplugged), the calling thread as the main thread.
static void setUp(World& w, const Config& config)
{
    static UInt64 generations = 0;
    w.config = config;
    w.generation = ++generations;
    w.mainThread = std::this_thread::get_id();
    w.bus.emplace_back();
    w.bus.back().spec = interfaceSpec();
    if (!config.journalPath.empty())
        w.journalFile = std::fopen(config.journalPath.c_str(), "a");
}

// The world is made on first use, so a client that starts with a command or a platform call, without a
// reset, finds the same default world that reset(Config{}) gives.
World& world()
{
    if (current == nullptr)
    {
        current = new World;
        setUp(*current, Config{});
    }
    return *current;
}

void replaceWorld(Lock& lock, const Config& config)
{
    if (current != nullptr)
    {
        stopNotifier(lock, current->notifier, 500);
        current->notifier.reset();
        delete current;
    }
    current = new World;
    setUp(*current, config);
}

World::~World()
{
    if (journalFile != nullptr)
        std::fclose(journalFile);
    auto& coms = comGraveyard();
    coms.insert(coms.end(), comObjects.begin(), comObjects.end());
    auto& ps = portGraveyard();
    ps.insert(ps.end(), ports.begin(), ports.end());
}

io_object_t newHandle()
{
    static std::atomic<io_object_t> next{0x1000};
    return next.fetch_add(1);
}

AudioObjectID newAudioId()
{
    static std::atomic<AudioObjectID> next{40};
    return next.fetch_add(1);
}

bool isMainThread(const World& w)
{
    if (const auto& isLoopThread = mainThreadLoop().isLoopThread;
        w.config.mainLoop == MainLoop::juce && isLoopThread)
        if (const std::optional<bool> onLoop = isLoopThread())
            return *onLoop;
    return std::this_thread::get_id() == w.mainThread;
}

bool onNotificationThread()
{
    return threadRole != nullptr;
}

std::string roleLocked(const World& w)
{
    if (isMainThread(w))
        return "main";
    if (threadRole != nullptr)
        return threadRole;
    if (auto* thread = juce::Thread::getCurrentThread())
        return thread->getThreadName().toStdString();
    return "other";
}

SInt64 now(const World& w)
{
    if (w.config.clock == Clock::virtualTime)
        return w.virtualMs;
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - w.start)
        .count();
}

void journalLine(World& w, const std::string& line)
{
    w.journal.push_back(line);
    if (w.journalFile != nullptr)
    {
        std::fputs((line + "\n").c_str(), w.journalFile);
        std::fflush(w.journalFile);
    }
}

std::string hex(UInt32 value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", unsigned(value));
    return text;
}

std::string fourCC(UInt32 code)
{
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8)
        text += char((code >> shift) & 0xFF);
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

std::optional<IOReturn> takeFault(World& w, Step step, UsbDevice device)
{
    for (auto it = w.faults.begin(); it != w.faults.end(); ++it)
    {
        if (it->step != step || (it->device != kAnyDevice && device != kAnyDevice && it->device != device))
            continue;
        const IOReturn status = it->status;
        if (it->count > 0 && --it->count == 0)
            w.faults.erase(it);
        return status;
    }
    return std::nullopt;
}

// ---- Main run loop ----

static void runOneMain(UInt64 generation)
{
    Lock lock(mutex());
    World& w = world();
    if (w.generation != generation || w.mainQueue.empty())
        return;
    auto item = std::move(w.mainQueue.front());
    w.mainQueue.pop_front();
    lock.unlock();
    item();
}

void postMain(World& w, std::function<void()> item)
{
    w.mainQueue.push_back(std::move(item));
    if (const auto& post = mainThreadLoop().post; w.config.mainLoop == MainLoop::juce && post)
    {
        const UInt64 generation = w.generation;
        post([generation] { runOneMain(generation); });
    }
}

void postToPort(World& w, IONotificationPort* port, std::function<void()> item)
{
    if (port == nullptr || port->destroyed)
        return;
    if (port->attached)
        postMain(w, std::move(item));
    else
        port->held.push_back(std::move(item));
}

void attachPort(World& w, IONotificationPort* port)
{
    if (port->attached || port->destroyed)
        return;
    port->attached = true;
    while (!port->held.empty())
    {
        postMain(w, std::move(port->held.front()));
        port->held.pop_front();
    }
}

bool livePort(const World& w, const IONotificationPort* port)
{
    for (auto* p : w.ports)
        if (p == port)
            return !p->destroyed;
    return false;
}

// ---- Notification thread ----

static bool matches(UInt32 wanted, UInt32 actual, UInt32 wildcard)
{
    return wanted == wildcard || wanted == actual;
}

static void notificationLoop(std::shared_ptr<Notifier> n)
{
    threadRole = "audio-notify";
    pthread_setname_np(pthread_self(), "audio-notify");
    Lock lock(mutex());
    while (true)
    {
        changed().wait(lock, [&] { return n->stop || !n->queue.empty(); });
        if (n->stop)
            break;
        Notification item = std::move(n->queue.front());
        n->queue.pop_front();
        n->busy = true;
        auto listeners = world().listeners;
        for (auto& l : listeners)
        {
            if (n->stop)
                break;
            if (l->removed || l->object != item.object)
                continue;
            std::vector<AudioObjectPropertyAddress> wanted;
            for (auto& a : item.addresses)
                if (matches(l->address.mSelector, a.mSelector, kAudioObjectPropertySelectorWildcard) &&
                    matches(l->address.mScope, a.mScope, kAudioObjectPropertyScopeWildcard) &&
                    matches(l->address.mElement, a.mElement, kAudioObjectPropertyElementWildcard))
                    wanted.push_back(a);
            if (wanted.empty())
                continue;
            lock.unlock();
            l->proc(item.object, UInt32(wanted.size()), wanted.data(), l->clientData);
            lock.lock();
        }
        n->busy = false;
        changed().notify_all();
    }
    n->done = true;
    changed().notify_all();
}

void enqueueNotification(World& w, AudioObjectID object, std::vector<AudioObjectPropertyAddress> addresses)
{
    enqueueNotification(w, object, std::move(addresses), w.config.coalescing);
}

void enqueueNotification(World& w, AudioObjectID object, std::vector<AudioObjectPropertyAddress> addresses,
                         Coalescing coalescing)
{
    if (w.notificationsRefused || addresses.empty())
        return;
    if (!w.notifier)
    {
        w.notifier = std::make_shared<Notifier>();
        w.notifier->thread = std::thread(notificationLoop, w.notifier);
    }
    if (coalescing == Coalescing::perChange)
        w.notifier->queue.push_back({object, std::move(addresses)});
    else
        for (auto& a : addresses)
            w.notifier->queue.push_back({object, {a}});
    changed().notify_all();
}

bool stopNotifier(Lock& lock, std::shared_ptr<Notifier> n, int timeoutMs)
{
    if (!n)
        return true;
    n->stop = true;
    n->queue.clear();
    changed().notify_all();
    const bool ended =
        changed().wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return n->done; });
    if (n->thread.joinable())
    {
        if (ended && n->thread.get_id() != std::this_thread::get_id())
        {
            lock.unlock();
            n->thread.join();
            lock.lock();
        }
        else
            n->thread.detach(); // stuck in a listener: left behind, it ends on its own once released
    }
    return ended;
}

// ---- Audio helpers shared by the service and the control API ----

Float32 dbToScalar(Float32 db)
{
    return (db + 100.0f) / 100.0f;
}

Float32 scalarToDb(Float32 scalar)
{
    return scalar * 100.0f - 100.0f;
}

AudioStreamBasicDescription format24x4(Float64 rate)
{
    return {rate,
            kAudioFormatLinearPCM,
            kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked,
            12,
            1,
            12,
            4,
            24,
            0};
}

AudioDevice* listedDevice(World& w, AudioObjectID id)
{
    if (id == 0)
        return nullptr;
    refreshInterfaceAudio(w);
    for (auto listed : w.deviceList)
        if (listed == id)
            return &w.audio[id];
    return nullptr;
}

void refreshInterfaceAudio(World& w)
{
    if (w.interfaceAudioListed || w.interfaceIn == 0 || w.interfacePlug.audioAtRun <= 0)
        return;
    if ((w.interfacePlug.audioAtRun > 1 && w.discoveryRuns < w.interfacePlug.audioAtRun) ||
        now(w) < w.plugTimeMs + w.interfacePlug.audioDelayMs)
        return;
    w.interfaceAudioListed = true;
    w.deviceList.push_back(w.interfaceIn);
    if (w.interfaceOut != w.interfaceIn)
        w.deviceList.push_back(w.interfaceOut);
}

void applyRate(World& w, AudioDevice& d, Float64 rate)
{
    applyRate(w, d, rate, d.latencyReads);
}

void applyRate(World& w, AudioDevice& d, Float64 rate, int latencyReads)
{
    if (latencyReads > 0)
    {
        d.ratePending = true;
        d.pendingRate = rate;
        d.pendingReads = latencyReads;
        return;
    }
    d.ratePending = false;
    if (d.rate == rate)
        return;
    d.rate = rate;
    for (auto& dir : d.dir)
        dir.format.mSampleRate = rate;
    enqueueNotification(w, d.id,
                        {{kAudioDevicePropertyNominalSampleRate, kAudioObjectPropertyScopeGlobal, 0}});
}

AudioDevice makeAudioDevice(const AudioDeviceSpec& spec)
{
    AudioDevice d;
    d.id = newAudioId();
    d.uid = spec.uid.empty() ? "device-" + std::to_string(d.id) : spec.uid;
    d.name = spec.name;
    d.manufacturer = spec.manufacturer;
    d.dir[0].streams = spec.inputStreams;
    d.dir[1].streams = spec.outputStreams;
    d.rate = spec.rate;
    d.acceptedRates = kKnownRates;
    for (auto& dir : d.dir)
        dir.format = format24x4(spec.rate);
    return d;
}

bool changeVolume(World& w, AudioDevice& d, int dir, UInt32 element, Float32 db)
{
    if (element < 1 || element > 2 || d.dir[dir].streams == 0 || !std::isfinite(db))
        return false;
    db = std::min(0.0f, std::max(-100.0f, db));
    Control& c = d.dir[dir].controls[element];
    if (c.db == db)
        return true;
    c.db = db;
    enqueueNotification(w, d.id,
                        {{kAudioDevicePropertyVolumeDecibels, scopeOf(dir), element},
                         {kAudioDevicePropertyVolumeScalar, scopeOf(dir), element}});
    return true;
}

bool changeMute(World& w, AudioDevice& d, int dir, UInt32 element, bool muted)
{
    if (element < 1 || element > 2 || d.dir[dir].streams == 0)
        return false;
    Control& c = d.dir[dir].controls[element];
    if (c.mute != muted)
    {
        c.mute = muted;
        enqueueNotification(w, d.id, {{kAudioDevicePropertyMute, scopeOf(dir), element}});
    }
    return true;
}

} // namespace platform::sim::detail

unsigned platform::sleep(unsigned seconds)
{
    using namespace platform::sim::detail;
    Lock lock(mutex());
    World& w = world();
    ++w.sleepCalls;
    if (w.config.clock == platform::sim::Clock::virtualTime)
    {
        w.virtualMs += SInt64(seconds) * 1000;
        return 0;
    }
    lock.unlock();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return 0;
}
