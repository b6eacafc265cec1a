// The control functions of the simulated machine (SimControl.h): each takes the world's lock and forwards
// to the world (World.cpp) or reads it.

#include "World.h"

#include "DeviceIds.h"

#include <cmath>

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
    replaceWorld(lock, config);
    platform::takeViolations(true);
    changed().notify_all(); // writers held at the old world's gate go on
}

MainThreadLoop setMainThreadLoop(MainThreadLoop loop)
{
    Lock lock(mutex());
    std::swap(mainThreadLoop(), loop);
    return loop;
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
    if (device < 0 || device >= int(w.bus.size()) || w.busDevice(device).plugged)
        return false;
    plugLocked(w, device, options);
    return true;
}

bool unplug(UsbDevice device, const UnplugOptions& options)
{
    Lock lock(mutex());
    World& w = world();
    if (device < 0 || device >= int(w.bus.size()) || !w.busDevice(device).plugged)
        return false;
    unplugLocked(w, device, options);
    return true;
}

bool isPlugged(UsbDevice device)
{
    Lock lock(mutex());
    World& w = world();
    return device >= 0 && device < int(w.bus.size()) && w.busDevice(device).plugged;
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
    if (reenumerate && w.busDevice(kInterface).plugged)
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
    Lock lock(mutex());
    const MainThreadLoop loop = mainThreadLoop();
    const bool onLoopThread = loop.isLoopThread && loop.runFor && loop.isLoopThread().value_or(false);
    for (;;)
    {
        auto n = world().notifier;
        if (!n || n->done || (n->queue.empty() && !n->busy))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        if (onLoopThread)
        {
            // A listener may be waiting for the loop's thread: keep its loop running meanwhile.
            lock.unlock();
            loop.runFor(2);
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

bool isNotificationThread()
{
    return onNotificationThread();
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
    UsbDeviceStats stats = w.busDevice(device).stats;
    stats.open = w.busDevice(device).openBy != nullptr;
    stats.configuration = w.busDevice(device).configuration;
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

void mark(const std::string& text)
{
    Lock lock(mutex());
    postMain(world(),
             [text]
             {
                 const Lock inner(mutex());
                 journalLine(world(), "mark " + text);
             });
}

std::vector<std::string> violations()
{
    return platform::takeViolations(false);
}

} // namespace platform::sim
