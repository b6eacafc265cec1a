// Internal: the simulated machine behind the platform calls. One process-wide world under one mutex;
// client callbacks are always called with the mutex released.
#pragma once

#include "CFObjects.h"
#include "SimControl.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

struct __CFRunLoop
{
    bool serviced; // the main run loop; every other thread's loop is never serviced
};

struct __CFRunLoopSource
{
    IONotificationPort* port;
};

struct IONotificationPort
{
    __CFRunLoopSource source{this};
    bool attached = false; // its source is on the main run loop in a serviced mode
    bool destroyed = false;
    std::deque<std::function<void()>> held; // deliveries posted before the source was attached
};

namespace platform::sim::detail
{
using Lock = std::unique_lock<std::mutex>;
using Properties = std::vector<std::pair<std::string, RegistryValue>>;

std::mutex& mutex();
std::condition_variable& changed(); // notified on notification-queue, gate and idle changes

struct Service
{
    UsbDevice device = kInterface;
    UInt64 entryId = 0;
    Properties properties;
    bool terminated = false;
    int refs = 0;
};

struct Registration
{
    enum Type
    {
        firstMatch,
        matched,
        terminate
    } type = firstMatch;
    IONotificationPort* port = nullptr;
    Properties criteria;
    std::deque<io_object_t> pending;
    bool armed = false;
    bool posted = false;
    IOServiceMatchingCallback callback = nullptr;
    void* refCon = nullptr;
};

struct PowerRegistration
{
    IONotificationPort* port = nullptr;
    IOServiceInterestCallback callback = nullptr;
    void* refCon = nullptr;
    io_object_t notifier = 0;
    bool active = true;
};

// A plug-in or device interface; the table pointer comes first so that a pointer to it is the
// interface's "Interface**". Never freed while the process runs, so a stale call is answered, not a crash.
struct ComObject
{
    void* table;
    bool isDevice;
    UsbDevice device;
    UInt64 plugGeneration; // the device's plug count when it was made; a later unplug makes it dead
    int refs = 1;
    bool open = false;
    std::vector<IOUSBConfigurationDescriptor> descriptors;
};

struct Decoder
{
    enum
    {
        idle,
        lead1,
        lead2
    } phase = idle;
};

struct BusDevice
{
    UsbDeviceSpec spec;
    bool plugged = false;
    io_object_t service = 0;
    UInt64 plugGeneration = 0;
    ComObject* openBy = nullptr;
    int configuration = 0;
    UsbDeviceStats stats;
};

struct Control
{
    Float32 db = 0;
    bool mute = false;
};

struct DirectionState
{
    int streams = 0;
    Control controls[3]; // elements 1 and 2
    AudioStreamBasicDescription format{};
    UInt32 dataSource = 1;
    UInt32 playThru = 0;
};

struct AudioDevice
{
    AudioObjectID id = 0;
    std::string uid, name, manufacturer;
    DirectionState dir[2];
    Float64 rate = 48000;
    std::vector<Float64> acceptedRates;
    int latencyReads = 0;
    bool ratePending = false;
    Float64 pendingRate = 0;
    int pendingReads = 0;
};

struct Listener
{
    AudioObjectID object;
    AudioObjectPropertyAddress address;
    AudioObjectPropertyListenerProc proc;
    void* clientData;
    bool removed = false;
};

struct Notification
{
    AudioObjectID object;
    std::vector<AudioObjectPropertyAddress> addresses;
};

struct Notifier
{
    std::deque<Notification> queue;
    bool stop = false;
    bool busy = false;
    bool done = false;
    std::thread thread;
};

struct Fault
{
    Step step;
    IOReturn status;
    int count;
    UsbDevice device;
};

struct World
{
    Config config;
    UInt64 generation = 0;
    std::thread::id mainThread;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    SInt64 virtualMs = 0;
    int sleepCalls = 0;

    // Main run loop.
    std::deque<std::function<void()>> mainQueue;

    // Handles.
    std::map<io_object_t, Service> services;
    std::map<io_object_t, Registration> registrations; // by iterator handle, in creation order of handles
    std::vector<io_iterator_t> registrationOrder;
    std::map<io_connect_t, PowerRegistration> power; // by connection handle
    std::vector<IONotificationPort*> ports;
    std::vector<ComObject*> comObjects;

    // USB bus.
    std::vector<BusDevice> bus;
    // The device a bus handle names; the handle is its index on the bus, checked by the caller.
    BusDevice& busDevice(UsbDevice device) { return bus[static_cast<size_t>(device)]; }
    UsbFailRule failRule;
    int requestsSinceRule = 0;
    std::vector<Fault> faults;
    Decoder decoder;
    InterfaceState interface;
    std::vector<UsbRequest> requests;

    // Audio service.
    std::map<AudioObjectID, AudioDevice> audio;
    std::vector<AudioObjectID> deviceList;
    AudioObjectID interfaceIn = 0, interfaceOut = 0; // made at plug, listed once they appear
    bool interfaceAudioListed = false;
    PlugOptions interfacePlug;
    SInt64 plugTimeMs = 0;
    int discoveryRuns = 0;
    int shrinkNext = 0;
    std::vector<PropertyFault> propertyFaults;
    std::vector<std::shared_ptr<Listener>> listeners;
    std::shared_ptr<Notifier> notifier;
    bool notificationsRefused = false;
    bool holdWrites = false;
    int heldWriters = 0;
    UInt64 gateTickets = 0; // writers held so far, in arrival order
    UInt64 gatePassed = 0;  // tickets let through one at a time

    // Power.
    std::map<intptr_t, UInt32> pendingAcks;
    intptr_t nextNotificationId = 1;
    std::vector<UInt32> acks;

    // Journal.
    std::vector<std::string> journal;
    FILE* journalFile = nullptr;

    ~World();
};

World& world(); // caller holds mutex()
// Drops the current world (its notification thread stopped with a bounded wait) for a fresh one. Caller holds
// lock on mutex().
void replaceWorld(Lock& lock, const Config& config);
// The main thread's loop in force for every world; caller holds mutex().
MainThreadLoop& mainThreadLoop();

// Handles are unique in the process, so a handle from an earlier world is never mistaken for a new one.
io_object_t newHandle();
AudioObjectID newAudioId();

bool isMainThread(const World& w);
std::string roleLocked(const World& w); // "main", "audio-notify", the JUCE thread's name or "other"
bool onNotificationThread();
SInt64 now(const World& w);
void journalLine(World& w, const std::string& line);
std::string hex(UInt32 value);
std::string fourCC(UInt32 code); // trailing blanks dropped

// Fault in force for this step (and device); consumes one count. nullopt when none.
std::optional<IOReturn> takeFault(World& w, Step step, UsbDevice device = kAnyDevice);

void postMain(World& w, std::function<void()> item);
void postToPort(World& w, IONotificationPort* port, std::function<void()> item);
void attachPort(World& w, IONotificationPort* port);
bool livePort(const World& w, const IONotificationPort* port);

// USB.
IOReturn badArgument(const std::string& what); // records the violation; kIOReturnBadArgument
IONotificationPort* makePort(World& w);
// The live, referenced service behind handle; null (and a violation naming call) otherwise.
Service* heldService(World& w, io_object_t handle, const char* call);
void plugLocked(World& w, UsbDevice device, const PlugOptions& options);
void unplugLocked(World& w, UsbDevice device, const UnplugOptions& options);
void sendPowerLocked(World& w, UInt32 messageType);

// Audio.
// Queues a notification, split or coalesced as the world is configured, or as coalescing says.
void enqueueNotification(World& w, AudioObjectID object, std::vector<AudioObjectPropertyAddress> addresses);
void enqueueNotification(World& w, AudioObjectID object, std::vector<AudioObjectPropertyAddress> addresses,
                         Coalescing coalescing);
// Stops the notification thread: drops its queue and waits up to timeoutMs for it to end (a thread stuck
// in a listener is left behind). Caller holds lock on mutex(). true when it ended in time.
bool stopNotifier(Lock& lock, std::shared_ptr<Notifier> n, int timeoutMs);
void refreshInterfaceAudio(World& w);
AudioDevice* listedDevice(World& w, AudioObjectID id);
// A rate write: lands after the device's latency in reads (latencyReads, or the device's own), then
// notifies when it changed the rate.
void applyRate(World& w, AudioDevice& device, Float64 rate);
void applyRate(World& w, AudioDevice& device, Float64 rate, int latencyReads);
// The rates a device accepts unless a test says otherwise.
inline const std::vector<Float64> kKnownRates{32000, 44100, 48000, 88200, 96000, 176400, 192000};
// An audio device as the spec describes it, with a fresh id, accepting the known rates.
AudioDevice makeAudioDevice(const AudioDeviceSpec& spec);
bool changeVolume(World& w, AudioDevice& d, int dir, UInt32 element, Float32 db);
bool changeMute(World& w, AudioDevice& d, int dir, UInt32 element, bool muted);
Float32 dbToScalar(Float32 db);
Float32 scalarToDb(Float32 scalar);
AudioStreamBasicDescription format24x4(Float64 rate);

inline AudioObjectPropertyScope scopeOf(int dir)
{
    return dir == 0 ? kAudioObjectPropertyScopeInput : kAudioObjectPropertyScopeOutput;
}
} // namespace platform::sim::detail
