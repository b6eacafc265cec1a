// The world: lifetime, clock, main run loop, notification thread, journal and the control API.

#include "World.h"

#include "DeviceIds.h"
#include "PlatformJuce.h"

#include <juce_events/juce_events.h>

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
    if (w.config.mainLoop == MainLoop::juce)
        if (auto* mm = juce::MessageManager::getInstanceWithoutCreating())
            return mm->isThisTheMessageThread();
    return std::this_thread::get_id() == w.mainThread;
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
    if (w.config.mainLoop == MainLoop::juce)
    {
        const UInt64 generation = w.generation;
        juce::MessageManager::callAsync([generation] { runOneMain(generation); });
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

static bool stopNotifier(Lock& lock, std::shared_ptr<Notifier> n, int timeoutMs)
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

// ---- Control API ----

namespace platform::sim
{
using namespace detail;

UsbDeviceSpec& UsbDeviceSpec::set(const std::string& key, RegistryValue value)
{
    erase(key);
    registry.emplace_back(key, std::move(value));
    return *this;
}

UsbDeviceSpec& UsbDeviceSpec::erase(const std::string& key)
{
    for (auto it = registry.begin(); it != registry.end(); ++it)
        if (it->first == key)
        {
            registry.erase(it);
            break;
        }
    return *this;
}

UsbDeviceSpec otherDeviceSpec(UInt16 vendorId, UInt16 productId, const std::string& vendorName,
                              const std::string& productName)
{
    UsbDeviceSpec spec;
    spec.set(kUSBVendorID, SInt32(vendorId)).set(kUSBProductID, SInt32(productId));
    spec.set(kUSBVendorString, vendorName).set(kUSBProductString, productName);
    spec.descriptorVendor = vendorId;
    spec.descriptorProduct = productId;
    return spec;
}

UsbDeviceSpec interfaceSpec()
{
    UsbDeviceSpec spec = otherDeviceSpec(UInt16(pelk::kUsbVendorId), UInt16(pelk::kUsbProductId),
                                         pelk::kManufacturerName, pelk::kProductName);
    spec.descriptorRelease = UInt16(pelk::kUsbReleaseNumber);
    spec.decodesCommands = true;
    return spec;
}

void reset(const Config& config)
{
    Lock lock(mutex());
    if (current != nullptr)
    {
        stopNotifier(lock, current->notifier, 500);
        current->notifier.reset();
        delete current;
    }
    current = new World;
    setUp(*current, config);
    platform::takeViolations(true);
    changed().notify_all(); // writers held at the old world's gate go on
}

UsbDevice addUsbDevice(const UsbDeviceSpec& spec)
{
    Lock lock(mutex());
    World& w = world();
    w.bus.emplace_back();
    w.bus.back().spec = spec;
    return UsbDevice(w.bus.size() - 1);
}

void setInterfaceSpec(const UsbDeviceSpec& spec)
{
    Lock lock(mutex());
    world().bus[kInterface].spec = spec;
}

bool plug(UsbDevice device, const PlugOptions& options)
{
    Lock lock(mutex());
    World& w = world();
    if (device < 0 || device >= int(w.bus.size()) || w.bus[device].plugged)
        return false;
    plugLocked(w, device, options);
    return true;
}

bool unplug(UsbDevice device, const UnplugOptions& options)
{
    Lock lock(mutex());
    World& w = world();
    if (device < 0 || device >= int(w.bus.size()) || !w.bus[device].plugged)
        return false;
    unplugLocked(w, device, options);
    return true;
}

bool isPlugged(UsbDevice device)
{
    Lock lock(mutex());
    World& w = world();
    return device >= 0 && device < int(w.bus.size()) && w.bus[device].plugged;
}

void failUsbRequests(const UsbFailRule& rule)
{
    Lock lock(mutex());
    world().failRule = rule;
    world().requestsSinceRule = 0;
}

void failStep(Step step, IOReturn status, int count, UsbDevice device)
{
    Lock lock(mutex());
    if (count != 0)
        world().faults.push_back({step, status, count, device});
}

void clearStep(Step step)
{
    Lock lock(mutex());
    auto& faults = world().faults;
    faults.erase(std::remove_if(faults.begin(), faults.end(), [&](const Fault& f) { return f.step == step; }),
                 faults.end());
}

AudioObjectID interfaceAudioDevice(Direction direction)
{
    Lock lock(mutex());
    World& w = world();
    refreshInterfaceAudio(w);
    if (!w.interfaceAudioListed)
        return 0;
    return direction == Direction::input ? w.interfaceIn : w.interfaceOut;
}

AudioDevice detail::makeAudioDevice(const AudioDeviceSpec& spec)
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

AudioObjectID addAudioDevice(const AudioDeviceSpec& spec, int position)
{
    Lock lock(mutex());
    World& w = world();
    AudioDevice d = makeAudioDevice(spec);
    const AudioObjectID id = d.id;
    w.audio[id] = std::move(d);
    if (position < 0 || position >= int(w.deviceList.size()))
        w.deviceList.push_back(id);
    else
        w.deviceList.insert(w.deviceList.begin() + position, id);
    return id;
}

std::vector<AudioObjectID> audioDevices()
{
    Lock lock(mutex());
    refreshInterfaceAudio(world());
    return world().deviceList;
}

template <typename F> static bool onDevice(AudioObjectID id, F&& f)
{
    Lock lock(mutex());
    World& w = world();
    AudioDevice* d = listedDevice(w, id);
    return d != nullptr && f(w, *d);
}

static int dirIndex(Direction d)
{
    return d == Direction::input ? 0 : 1;
}

bool setVolumeDb(AudioObjectID device, Direction direction, UInt32 element, Float32 decibels)
{
    return onDevice(device, [&](World& w, AudioDevice& d)
                    { return changeVolume(w, d, dirIndex(direction), element, decibels); });
}

bool setMute(AudioObjectID device, Direction direction, UInt32 element, bool muted)
{
    return onDevice(device, [&](World& w, AudioDevice& d)
                    { return changeMute(w, d, dirIndex(direction), element, muted); });
}

bool setRate(AudioObjectID device, Float64 rate)
{
    return std::isfinite(rate) && rate > 0 && setRateUnchecked(device, rate);
}

bool setRateUnchecked(AudioObjectID device, Float64 rate)
{
    return onDevice(device,
                    [&](World& w, AudioDevice& d)
                    {
                        applyRate(w, d, rate);
                        return true;
                    });
}

bool setPlayThru(AudioObjectID device, Direction direction, UInt32 on)
{
    return onDevice(device,
                    [&](World& w, AudioDevice& d)
                    {
                        DirectionState& s = d.dir[dirIndex(direction)];
                        if (s.streams == 0)
                            return false;
                        if (s.playThru != on)
                        {
                            s.playThru = on;
                            enqueueNotification(
                                w, d.id, {{kAudioDevicePropertyPlayThru, scopeOf(dirIndex(direction)), 0}});
                        }
                        return true;
                    });
}

bool notifyRaw(AudioObjectID device, const std::vector<AudioObjectPropertyAddress>& addresses)
{
    Lock lock(mutex());
    World& w = world();
    if (w.notificationsRefused || addresses.empty())
        return false;
    enqueueNotification(w, device, addresses, Coalescing::perChange);
    return true;
}

template <typename T, typename F> static T readDevice(AudioObjectID id, T fallback, F&& f)
{
    Lock lock(mutex());
    World& w = world();
    auto it = w.audio.find(id);
    return it == w.audio.end() ? fallback : f(it->second);
}

Float32 volumeDb(AudioObjectID device, Direction direction, UInt32 element)
{
    return readDevice<Float32>(
        device, NAN,
        [&](AudioDevice& d)
        { return element >= 1 && element <= 2 ? d.dir[dirIndex(direction)].controls[element].db : NAN; });
}

Float32 volumeScalar(AudioObjectID device, Direction direction, UInt32 element)
{
    return dbToScalar(volumeDb(device, direction, element));
}

bool mute(AudioObjectID device, Direction direction, UInt32 element)
{
    return readDevice<bool>(device, false,
                            [&](AudioDevice& d) {
                                return element >= 1 && element <= 2 &&
                                       d.dir[dirIndex(direction)].controls[element].mute;
                            });
}

Float64 rate(AudioObjectID device)
{
    return readDevice<Float64>(device, 0.0, [](AudioDevice& d) { return d.rate; });
}

AudioStreamBasicDescription physicalFormat(AudioObjectID device, Direction direction)
{
    return readDevice<AudioStreamBasicDescription>(
        device, {}, [&](AudioDevice& d) { return d.dir[dirIndex(direction)].format; });
}

int listenerCount(AudioObjectID device)
{
    Lock lock(mutex());
    int count = 0;
    for (auto& l : world().listeners)
        count += !l->removed && l->object == device;
    return count;
}

void setAcceptedRates(AudioObjectID device, const std::vector<Float64>& rates)
{
    readDevice<bool>(device, false,
                     [&](AudioDevice& d)
                     {
                         d.acceptedRates = rates;
                         return true;
                     });
}

void setRateLatency(AudioObjectID device, int reads)
{
    readDevice<bool>(device, false,
                     [&](AudioDevice& d)
                     {
                         d.latencyReads = std::max(0, reads);
                         return true;
                     });
}

void shrinkDeviceListBetweenSizeAndRead(int devices)
{
    Lock lock(mutex());
    world().shrinkNext = std::max(0, devices);
}

void failProperty(const PropertyFault& fault)
{
    Lock lock(mutex());
    if (fault.count != 0)
        world().propertyFaults.push_back(fault);
}

void clearPropertyFaults()
{
    Lock lock(mutex());
    world().propertyFaults.clear();
}

void holdWrites()
{
    Lock lock(mutex());
    world().holdWrites = true;
}

void releaseWrites()
{
    Lock lock(mutex());
    world().holdWrites = false;
    changed().notify_all();
}

bool releaseOneWrite()
{
    Lock lock(mutex());
    World& w = world();
    if (w.heldWriters == 0)
        return false;
    ++w.gatePassed;
    changed().notify_all();
    return true;
}

int heldWriters()
{
    Lock lock(mutex());
    return world().heldWriters;
}

void systemSleep(bool idle)
{
    Lock lock(mutex());
    if (idle)
        sendPowerLocked(world(), kIOMessageCanSystemSleep);
    sendPowerLocked(world(), kIOMessageSystemWillSleep);
}

void systemWake(bool reenumerate)
{
    Lock lock(mutex());
    World& w = world();
    sendPowerLocked(w, kIOMessageSystemWillPowerOn);
    if (reenumerate && w.bus[kInterface].plugged)
    {
        unplugLocked(w, kInterface, {});
        plugLocked(w, kInterface, w.interfacePlug);
    }
    sendPowerLocked(w, kIOMessageSystemHasPoweredOn);
}

void sendPowerMessage(UInt32 messageType)
{
    Lock lock(mutex());
    sendPowerLocked(world(), messageType);
}

std::vector<UInt32> powerAcks()
{
    Lock lock(mutex());
    return world().acks;
}

void advance(int milliseconds)
{
    Lock lock(mutex());
    if (world().config.clock == Clock::virtualTime && milliseconds > 0)
        world().virtualMs += milliseconds;
}

SInt64 nowMs()
{
    Lock lock(mutex());
    return now(world());
}

int sleepCalls()
{
    Lock lock(mutex());
    return world().sleepCalls;
}

int discoveryRuns()
{
    Lock lock(mutex());
    return world().discoveryRuns;
}

int pumpMain()
{
    int count = 0;
    for (;;)
    {
        Lock lock(mutex());
        World& w = world();
        if (w.mainQueue.empty())
            return count;
        auto item = std::move(w.mainQueue.front());
        w.mainQueue.pop_front();
        lock.unlock();
        item();
        ++count;
    }
}

int pendingMain()
{
    Lock lock(mutex());
    return int(world().mainQueue.size());
}

bool waitAudioIdle(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    auto* mm = juce::MessageManager::getInstanceWithoutCreating();
    const bool onMessageThread = mm != nullptr && mm->isThisTheMessageThread();
    Lock lock(mutex());
    for (;;)
    {
        auto n = world().notifier;
        if (!n || n->done || (n->queue.empty() && !n->busy))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        if (onMessageThread)
        {
            // A listener may be waiting for the message thread: keep its loop running meanwhile.
            lock.unlock();
            mm->runDispatchLoopUntil(2);
            lock.lock();
        }
        else
            changed().wait_for(lock, std::chrono::milliseconds(5));
    }
}

bool shutdownNotifications(int timeoutMs)
{
    Lock lock(mutex());
    World& w = world();
    w.notificationsRefused = true;
    auto n = w.notifier;
    const bool ended = stopNotifier(lock, n, timeoutMs);
    return ended;
}

std::string currentThreadRole()
{
    Lock lock(mutex());
    return roleLocked(world());
}

} // namespace platform::sim
namespace platform::sim::detail
{
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
} // namespace platform::sim::detail

namespace platform::sim
{
bool isNotificationThread()
{
    return threadRole != nullptr;
}

InterfaceState interfaceState()
{
    Lock lock(mutex());
    InterfaceState state = world().interface;
    state.plugged = world().bus[kInterface].plugged;
    return state;
}

void setInterfaceState(Tri headphone, Tri record, Tri loopback, std::optional<int> monitorVolumeDb)
{
    Lock lock(mutex());
    auto& s = world().interface;
    s.headphone = headphone;
    s.record = record;
    s.loopback = loopback;
    s.monitorVolumeDb = monitorVolumeDb;
}

std::vector<UsbRequest> usbRequests()
{
    Lock lock(mutex());
    return world().requests;
}

std::vector<int> usbDataBytes()
{
    Lock lock(mutex());
    std::vector<int> bytes;
    for (auto& r : world().requests)
        bytes.push_back(r.data);
    return bytes;
}

UsbDeviceStats usbStats(UsbDevice device)
{
    Lock lock(mutex());
    World& w = world();
    if (device < 0 || device >= int(w.bus.size()))
        return {};
    UsbDeviceStats stats = w.bus[device].stats;
    stats.open = w.bus[device].openBy != nullptr;
    stats.configuration = w.bus[device].configuration;
    return stats;
}

std::vector<std::string> journal()
{
    Lock lock(mutex());
    return world().journal;
}

void note(const std::string& text)
{
    Lock lock(mutex());
    world().journal.push_back("note " + text);
}

std::vector<std::string> violations()
{
    return platform::takeViolations(false);
}

} // namespace platform::sim

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

juce::String platform::toJuceString(CFStringRef string)
{
    return juce::String::fromUTF8(platform::toStdString(string).c_str());
}
