// Control surface of the simulated machine behind the platform layer: one USB bus holding the interface
// (plus any unrelated or look-alike devices), the audio service with the interface's audio devices and a
// notification thread of its own, system power, the main run loop and a clock.
//
// The world is process-wide and thread-safe. reset() makes a fresh one; tests call it first. No client
// callback (matching handler, power handler, property listener) is ever called while the world's lock is
// held. The same operations are reachable as text commands through command() (see docs/simulator.md).
#pragma once

#include "Platform.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace platform::sim
{

// ---- Set-up -------------------------------------------------------------------------------------------

enum class Clock
{
    virtualTime, // platform::sleep() advances virtual time at once; advance() moves it from a test
    real         // platform::sleep() really sleeps
};

enum class MainLoop
{
    manual, // deliveries wait until pumpMain() runs them on the calling thread
    juce    // each delivery is posted to the installed MainThreadLoop (below: the framework's message loop,
            // juce::MessageManager::callAsync), in order with other messages
};

enum class Topology
{
    split,   // "PELK" input-only device and "PELK" output-only device
    combined // one "PELK" device with streams in both directions
};

enum class DuplicateListeners
{
    refuse,           // a second identical installation fails (non-zero status), one registration stays
    acceptIdempotent, // succeeds, one registration stays
    acceptDuplicate   // succeeds, the listener is then called twice
};

enum class Coalescing
{
    separate, // one listener call per changed address
    perChange // one listener call carrying every address of one change (a dB write: 'vold' and 'volm')
};

struct Config
{
    Clock clock = Clock::virtualTime;
    MainLoop mainLoop = MainLoop::manual;
    Topology topology = Topology::split;
    DuplicateListeners duplicateListeners = DuplicateListeners::refuse;
    Coalescing coalescing = Coalescing::separate;
    std::string journalPath; // when set, every journal line is also appended to this file and flushed
};

// Drops the old world (its notification thread is stopped with a bounded wait) and makes a fresh one: the
// interface unplugged, with unknown monitoring state; no other devices; nothing registered; time 0. The
// calling thread becomes the main thread (with MainLoop::juce: the installed loop's thread, the JUCE message
// thread). Needs no MainThreadLoop.
void reset(const Config& config = {});

// How deliveries reach the main thread's loop with MainLoop::juce. The program's start-up installs the
// framework's message loop; the tests linking pelk_platform_sim get that same loop installed by default.
// With no loop (or no post), deliveries wait for pumpMain() as with MainLoop::manual.
struct MainThreadLoop
{
    // Queues one call to run on the loop's thread, after the calls queued before it.
    std::function<void(std::function<void()>)> post;
    // Whether the calling thread is the loop's thread; nullopt when the loop cannot tell (it is not there),
    // and then, as when unset, the thread that called reset() is the main thread (MainLoop::juce only).
    std::function<std::optional<bool>()> isLoopThread;
    // Runs the loop's pending work on its thread for about this many milliseconds: waitAudioIdle() on the
    // loop's thread (in either mode) keeps the loop going while it waits.
    std::function<void(int milliseconds)> runFor;
};
// Installs the loop for the worlds from now on (reset() keeps it); MainThreadLoop{} removes it. Returns the
// loop it replaces.
MainThreadLoop setMainThreadLoop(MainThreadLoop loop);

// ---- USB bus ------------------------------------------------------------------------------------------

using UsbDevice = int;              // a device on the bus (stays the same across plug and unplug)
constexpr UsbDevice kInterface = 0; // the interface, always present on the bus
constexpr UsbDevice kAnyDevice = -1;

using RegistryValue = std::variant<SInt32, std::string>;

struct UsbDeviceSpec
{
    // Registry properties (IORegistryEntryCreateCFProperties). Any key, any of the two types, so
    // wrong-typed values can be tested; a missing key is simply absent.
    std::vector<std::pair<std::string, RegistryValue>> registry;
    // What the device descriptor answers (GetDeviceVendor/Product/ReleaseNumber); may differ from registry.
    UInt16 descriptorVendor = 0;
    UInt16 descriptorProduct = 0;
    UInt16 descriptorRelease = 0x0100;
    std::vector<UInt8> configurations{1}; // bConfigurationValue of each configuration
    bool decodesCommands = false;         // feeds 0x55, 0xAA, command requests to an interface decoder

    UsbDeviceSpec& set(const std::string& key, RegistryValue value);
    UsbDeviceSpec& erase(const std::string& key);
};

// The interface's own spec: idVendor/idProduct, "USB Vendor Name" "Orvalis", "USB Product Name" "PELK",
// descriptor ids the same, release 0x0100, one configuration (value 1). Start here for look-alikes.
UsbDeviceSpec interfaceSpec();
// An unrelated device with these ids and names (registry and descriptor alike).
UsbDeviceSpec otherDeviceSpec(UInt16 vendorId, UInt16 productId, const std::string& vendorName,
                              const std::string& productName);

UsbDevice addUsbDevice(const UsbDeviceSpec& spec); // on the bus, not plugged in
void setInterfaceSpec(const UsbDeviceSpec& spec);  // changes what the interface answers from its next plug

struct PlugOptions
{
    // The interface's audio devices join the device list at this discovery run after the plug (a run is
    // one size read of 'dev#' on the system object): 1 = at once, 0 = never.
    int audioAtRun = 1;
    int audioDelayMs = 0;      // and not before this much (virtual or real) time has passed
    bool reverseOrder = false; // deliver to the registrations in reverse order of registration
};

struct UnplugOptions
{
    bool audioLast = false; // the audio devices leave after the USB removal deliveries have run
};

// Plugging gives the device a new service (never reused) and posts the matching deliveries; the handlers
// run on the main run loop. false when the device is unknown or already in that state.
bool plug(UsbDevice device = kInterface, const PlugOptions& options = {});
bool unplug(UsbDevice device = kInterface, const UnplugOptions& options = {});
bool isPlugged(UsbDevice device = kInterface);

// ---- USB faults ---------------------------------------------------------------------------------------

struct UsbFailRule
{
    enum class When
    {
        off,
        next,    // the next request, once
        nth,     // the n-th request from now (1 = the next), once
        always,  // every request
        dataByte // every request carrying this data byte
    };
    When when = When::off;
    int n = 1;
    UInt8 byte = 0;
    IOReturn status = kIOUSBPipeStalled;
    bool delivered = false; // the byte still reaches the device (and its decoder) before the failure
};
void failUsbRequests(const UsbFailRule& rule); // replaces the rule in force

enum class Step
{
    masterPort,            // IOMasterPort
    matchingDictionary,    // IOServiceMatching returns null
    notificationPort,      // IONotificationPortCreate returns null
    addNotification,       // IOServiceAddMatchingNotification
    plugIn,                // IOCreatePlugInInterfaceForService (no plug-in)
    queryInterface,        // QueryInterface for the device interface
    releaseService,        // IOObjectRelease of a service (the release still happens)
    open,                  // USBDeviceOpen
    zeroConfigurations,    // GetNumberOfConfigurations answers 0
    configDescriptor,      // GetConfigurationDescriptorPtr
    setConfiguration,      // SetConfiguration
    properties,            // IORegistryEntryCreateCFProperties on a present service
    propertiesOnTerminate, // IORegistryEntryCreateCFProperties on a terminated service
    powerRegistration,     // IORegisterForSystemPower returns 0
    deviceInfo // GetDeviceVendor/Product/ReleaseNumber, GetNumberOfConfigurations (and GetLocationID,
               // GetConfiguration) fail with the status and leave their output unwritten
};
// The step fails with status (where the call returns one) for count calls (-1: until cleared), on device
// (kAnyDevice: every device; ignored for steps not tied to a device).
void failStep(Step step, IOReturn status = kIOReturnError, int count = -1, UsbDevice device = kAnyDevice);
void clearStep(Step step);

// ---- Audio service ------------------------------------------------------------------------------------

enum class Direction
{
    input,
    output
};

struct AudioDeviceSpec
{
    std::string uid;
    std::string name;
    std::string manufacturer;
    int inputStreams = 0; // 0: no stream in that direction ('slay' answers mNumberBuffers 0)
    int outputStreams = 0;
    Float64 rate = 48000;
};

// The interface's current audio devices (the same id twice for the combined topology); 0 while absent.
AudioObjectID interfaceAudioDevice(Direction direction);
// Extra devices; position -1 appends, otherwise the index in the device list.
AudioObjectID addAudioDevice(const AudioDeviceSpec& spec, int position = -1);
std::vector<AudioObjectID> audioDevices(); // the device list in service order

// External changes ("elsewhere in the system"): applied and reported as the service's own writes are, but
// not journalled as audio-set. false when the device or address is unknown. Element: 1 or 2.
bool setVolumeDb(AudioObjectID device, Direction direction, UInt32 element, Float32 decibels);
bool setMute(AudioObjectID device, Direction direction, UInt32 element, bool muted);
bool setRate(AudioObjectID device, Float64 rate);          // any finite rate above 0
bool setRateUnchecked(AudioObjectID device, Float64 rate); // any value, NaN, 0 and negatives included
bool setPlayThru(AudioObjectID device, Direction direction, UInt32 on);
// Queues one listener delivery carrying exactly these addresses.
bool notifyRaw(AudioObjectID device, const std::vector<AudioObjectPropertyAddress>& addresses);

// Reads of the stored values (no fault applies, nothing journalled).
Float32 volumeDb(AudioObjectID device, Direction direction, UInt32 element);
Float32 volumeScalar(AudioObjectID device, Direction direction, UInt32 element);
bool mute(AudioObjectID device, Direction direction, UInt32 element);
Float64 rate(AudioObjectID device);
AudioStreamBasicDescription physicalFormat(AudioObjectID device, Direction direction);
int listenerCount(AudioObjectID device); // installed and not removed

// The rates AudioObjectSetPropertyData accepts for 'nsrt' (default: 32000, 44100, 48000, 88200, 96000,
// 176400, 192000). Physical formats are accepted at these rates: 24-bit 4 channels, or 16-bit 2 channels
// at 32000, linear PCM, flags 0xC, packed.
void setAcceptedRates(AudioObjectID device, const std::vector<Float64>& rates);
// A rate write lands at the n-th 'nsrt' read of the device after it (reads before that still return the old
// rate); 0: at once.
void setRateLatency(AudioObjectID device, int reads);
// The next 'dev#' read returns this many fewer devices than the size read before it said.
void shrinkDeviceListBetweenSizeAndRead(int devices);

enum class AudioOp
{
    size,
    get,
    set,
    addListener
};
struct PropertyFault
{
    AudioOp op = AudioOp::get;
    AudioObjectID device = 0; // 0: any object
    AudioObjectPropertySelector selector = kAudioObjectPropertySelectorWildcard;
    AudioObjectPropertyScope scope = kAudioObjectPropertyScopeWildcard;
    AudioObjectPropertyElement element = kAudioObjectPropertyElementWildcard;
    OSStatus status = kAudioHardwareUnspecifiedError;
    int count = -1;          // calls that fail; -1: until cleared
    bool nullString = false; // a string read succeeds but hands back a null CFStringRef
};
void failProperty(const PropertyFault& fault); // adds a fault; the first matching fault applies
void clearPropertyFaults();

// A gate for 'vold' writes made on threads other than main: while held they block inside
// AudioObjectSetPropertyData. heldWriters() tells how many are waiting.
void holdWrites();
void releaseWrites();   // opens the gate
bool releaseOneWrite(); // lets the longest-held writer through; the gate stays closed. false if none waits
int heldWriters();

// ---- Power --------------------------------------------------------------------------------------------

void systemSleep(bool idle = true);        // idle: can-sleep, then will-sleep; forced: will-sleep only
void systemWake(bool reenumerate = false); // will-power-on, then has-powered-on (replugging in between)
void sendPowerMessage(UInt32 messageType);
std::vector<UInt32> powerAcks(); // message types acknowledged with IOAllowPowerChange, in order

// ---- Time, loops, threads -----------------------------------------------------------------------------

void advance(int milliseconds); // virtual clock only
SInt64 nowMs();                 // world time since reset
int sleepCalls();               // platform::sleep calls since reset
int discoveryRuns();            // 'dev#' size reads since the last plug

int pumpMain(); // runs the pending main-loop deliveries in order (also those they post); returns how many
int pendingMain();
// Waits until the notification queue is empty and no listener call is running. false on time-out.
bool waitAudioIdle(int timeoutMs = 2000);
// Drops queued notifications, refuses new ones and waits for the notification thread to end; a thread stuck
// in a listener is left behind after timeoutMs. true when it ended in time.
bool shutdownNotifications(int timeoutMs = 500);

// "main", "audio-notify", the JUCE thread's name, or "other".
std::string currentThreadRole();
bool isNotificationThread();

// ---- Observation --------------------------------------------------------------------------------------

enum class Tri
{
    unknown,
    off,
    on
};

struct InterfaceState
{
    Tri headphone = Tri::unknown;
    Tri record = Tri::unknown;
    Tri loopback = Tri::unknown;
    std::optional<int> monitorVolumeDb; // 0 to -110
    std::vector<int> commands;          // command bytes applied, in order
    int unknownCommands = 0;            // complete sequences with an unknown command byte
    int protocolViolations = 0;         // bytes out of the 0x55, 0xAA, command sequence
    bool plugged = false;
};
InterfaceState interfaceState();
void setInterfaceState(Tri headphone, Tri record, Tri loopback, std::optional<int> monitorVolumeDb);

struct UsbRequest
{
    UsbDevice device = kInterface;
    UInt8 setup[8] = {}; // as on the wire, 16-bit fields little-endian
    int data = -1;       // the data byte, -1 when there is none
    IOReturn status = 0;
    std::string thread;
};
std::vector<UsbRequest> usbRequests();
std::vector<int> usbDataBytes(); // data bytes of every request, in order

struct UsbDeviceStats
{
    int opens = 0;          // successful USBDeviceOpen
    int closes = 0;         // USBDeviceClose of an open device
    int liveInterfaces = 0; // plug-ins and device interfaces not yet released
    bool open = false;
    int configuration = 0; // selected configuration value, 0 none
};
UsbDeviceStats usbStats(UsbDevice device = kInterface);

std::vector<std::string> journal(); // the journal lines (as in the file) and note() lines, in order
void note(const std::string& text); // adds "note <text>"
// Queues on the main loop, behind every delivery already waiting there (and, with MainLoop::juce, behind
// whatever the program posted to that loop before), a delivery that journals "mark <text>". A test that
// checks that nothing else follows waits for its mark instead of waiting for a while.
void mark(const std::string& text);
std::vector<std::string> violations(); // contract violations: null, unknown or wrong-typed arguments

// ---- Text commands and environment -----------------------------------------------------------------------

// Runs one text command; returns "ok", the state line for "state", or one "error: ..." line (and then
// changes nothing).
std::string command(const std::string& line);

// Reads PELK_SIM_START, PELK_SIM_SETUP, PELK_SIM_CONTROL and PELK_SIM_JOURNAL, resets the world for the
// program (real clock, JUCE main loop) and starts the control pipe. Returns the error lines of the start-up:
// a bad PELK_SIM_START value, a path that cannot be used, each failing set-up command (empty when all went
// well).
std::vector<std::string> startFromEnvironment();
void stopFromEnvironment(); // stops the control pipe and the notification thread (bounded)

} // namespace platform::sim
