// The simulated USB bus through IOKit and Mach: matching notifications with arming by draining, plug and
// unplug of bus devices, object references and iterators, notification ports and registry properties.

#include "World.h"

#include "DeviceIds.h"

#include <cstring>

using namespace platform::sim;
using namespace platform::sim::detail;
using platform::violation;

namespace
{
constexpr mach_port_t kMasterPort = 0x0B07;
constexpr mach_port_t kTaskPort = 0x0103;

// ---- Matching ----

bool serviceMatches(const Service& s, const Properties& criteria)
{
    for (auto& [key, wanted] : criteria)
    {
        if (key == kIOProviderClassKey)
        {
            if (wanted != RegistryValue(std::string(kIOUSBDeviceClassName)))
                return false;
            continue;
        }
        bool found = false;
        for (auto& [k, v] : s.properties)
            if (k == key && v == wanted)
                found = true;
        if (!found)
            return false;
    }
    return true;
}

// Criteria from a matching dictionary; false when it holds something a registry value cannot be.
bool criteriaFrom(const platform::cf::Dictionary& d, Properties& out)
{
    using namespace platform::cf;
    for (auto& [key, value] : d.entries)
    {
        if (key->kind != Kind::string)
            return false;
        const std::string& name = static_cast<const String*>(key)->text;
        if (value->kind == Kind::string)
            out.emplace_back(name, static_cast<const String*>(value)->text);
        else if (value->kind == Kind::number && !static_cast<const Number*>(value)->isFloat)
            out.emplace_back(name, SInt32(static_cast<const Number*>(value)->integer));
        else
            return false;
    }
    return true;
}

void deliverMatching(World& w, io_iterator_t iterator)
{
    Registration& r = w.registrations[iterator];
    if (!r.armed || r.posted)
        return;
    r.armed = false;
    r.posted = true;
    postToPort(w, r.port,
               [iterator]
               {
                   Lock lock(mutex());
                   World& current = world();
                   auto it = current.registrations.find(iterator);
                   if (it == current.registrations.end() || !livePort(current, it->second.port))
                       return; // released, or its port destroyed while the delivery waited
                   it->second.posted = false;
                   auto callback = it->second.callback;
                   void* refCon = it->second.refCon;
                   lock.unlock();
                   callback(refCon, iterator);
               });
}

void offerService(World& w, io_object_t handle, bool arrival, bool reverse)
{
    std::vector<io_iterator_t> order = w.registrationOrder;
    if (reverse)
        std::reverse(order.begin(), order.end());
    Service& s = w.services[handle];
    for (io_iterator_t iterator : order)
    {
        auto it = w.registrations.find(iterator);
        if (it == w.registrations.end())
            continue;
        Registration& r = it->second;
        if ((r.type == Registration::terminate) == arrival || !serviceMatches(s, r.criteria))
            continue;
        ++s.refs;
        r.pending.push_back(handle);
        deliverMatching(w, iterator);
    }
}

} // namespace

namespace platform::sim::detail
{
IOReturn badArgument(const std::string& what)
{
    violation(what);
    return kIOReturnBadArgument;
}

Service* heldService(World& w, io_object_t handle, const char* call)
{
    auto it = w.services.find(handle);
    if (it == w.services.end() || it->second.refs <= 0)
    {
        violation(std::string(call) + (handle == 0 ? ": null service" : ": unknown or released service"));
        return nullptr;
    }
    return &it->second;
}

IONotificationPort* makePort(World& w)
{
    auto* port = new IONotificationPort;
    w.ports.push_back(port);
    return port;
}

void plugLocked(World& w, UsbDevice device, const PlugOptions& options)
{
    BusDevice& d = w.busDevice(device);
    d.plugged = true;
    ++d.plugGeneration;
    const io_object_t handle = newHandle();
    static UInt64 entryIds = 0x100000500;
    Service s;
    s.device = device;
    s.entryId = ++entryIds;
    s.properties = d.spec.registry;
    w.services[handle] = s;
    d.service = handle;
    if (device == kInterface)
    {
        w.interfacePlug = options;
        w.plugTimeMs = now(w);
        w.discoveryRuns = 0;
        w.interfaceAudioListed = false;
        w.decoder = {};
        const auto make = [&](const std::string& uid, int in, int out)
        {
            AudioDevice a = makeAudioDevice({"", pelk::kAudioDeviceName, pelk::kManufacturerName, in, out});
            a.uid = uid + "-" + std::to_string(a.id);
            const AudioObjectID id = a.id;
            w.audio[id] = std::move(a);
            return id;
        };
        if (w.config.topology == Topology::combined)
            w.interfaceIn = w.interfaceOut = make("PELK", 1, 1);
        else
        {
            w.interfaceIn = make("PELK-in", 1, 0);
            w.interfaceOut = make("PELK-out", 0, 1);
        }
        refreshInterfaceAudio(w);
    }
    offerService(w, handle, true, options.reverseOrder);
}

// The interface's audio devices in and out leave the service; they are the current ones unless the
// interface was plugged in again meanwhile.
static void removeInterfaceAudio(World& w, AudioObjectID in, AudioObjectID out)
{
    for (AudioObjectID id : {in, out})
    {
        w.deviceList.erase(std::remove(w.deviceList.begin(), w.deviceList.end(), id), w.deviceList.end());
        w.audio.erase(id);
    }
    if (w.interfaceIn == in && w.interfaceOut == out)
    {
        w.interfaceIn = w.interfaceOut = 0;
        w.interfaceAudioListed = false;
    }
}

void unplugLocked(World& w, UsbDevice device, const UnplugOptions& options)
{
    BusDevice& d = w.busDevice(device);
    d.plugged = false;
    d.openBy = nullptr;
    d.configuration = 0;
    const io_object_t handle = d.service;
    d.service = 0;
    w.services[handle].terminated = true;
    if (device == kInterface && !options.audioLast)
        removeInterfaceAudio(w, w.interfaceIn, w.interfaceOut);
    offerService(w, handle, false, w.interfacePlug.reverseOrder);
    if (device == kInterface && options.audioLast)
    {
        const AudioObjectID in = w.interfaceIn, out = w.interfaceOut;
        postMain(w,
                 [in, out]
                 {
                     Lock lock(mutex());
                     removeInterfaceAudio(world(), in, out);
                 });
    }
}
} // namespace platform::sim::detail

// ---- Mach ----

mach_port_t mach_task_self()
{
    return kTaskPort;
}

kern_return_t mach_port_deallocate(mach_port_t task, mach_port_t name)
{
    if (task != kTaskPort || name != kMasterPort)
        return badArgument("mach_port_deallocate: unknown task or port");
    return kIOReturnSuccess;
}

kern_return_t IOMasterPort(mach_port_t, mach_port_t* masterPort)
{
    if (masterPort == nullptr)
        return badArgument("IOMasterPort: null output");
    Lock lock(mutex());
    if (auto fault = takeFault(world(), Step::masterPort))
    {
        *masterPort = 0;
        return *fault;
    }
    *masterPort = kMasterPort;
    return kIOReturnSuccess;
}

// ---- Objects and iterators ----

kern_return_t IOObjectRetain(io_object_t object)
{
    Lock lock(mutex());
    World& w = world();
    if (Service* s = heldService(w, object, "IOObjectRetain"))
    {
        ++s->refs;
        return kIOReturnSuccess;
    }
    return kIOReturnBadArgument;
}

kern_return_t IOObjectRelease(io_object_t object)
{
    Lock lock(mutex());
    World& w = world();
    if (auto reg = w.registrations.find(object); reg != w.registrations.end())
    {
        for (io_object_t pending : reg->second.pending)
            --w.services[pending].refs;
        w.registrations.erase(reg);
        w.registrationOrder.erase(std::remove(w.registrationOrder.begin(), w.registrationOrder.end(), object),
                                  w.registrationOrder.end());
        return kIOReturnSuccess;
    }
    for (auto& [connection, p] : w.power)
        if ((p.notifier == object || connection == object) && p.active)
        {
            p.active = false; // the notifier or the root-domain connection: no more messages
            return kIOReturnSuccess;
        }
    Service* s = heldService(w, object, "IOObjectRelease");
    if (s == nullptr)
        return kIOReturnBadArgument;
    --s->refs;
    if (auto fault = takeFault(w, Step::releaseService, s->device))
        return *fault;
    return kIOReturnSuccess;
}

io_object_t IOIteratorNext(io_iterator_t iterator)
{
    if (iterator == 0)
        return 0;
    Lock lock(mutex());
    World& w = world();
    auto it = w.registrations.find(iterator);
    if (it == w.registrations.end())
    {
        violation("IOIteratorNext: unknown or released iterator");
        return 0;
    }
    Registration& r = it->second;
    if (r.pending.empty())
    {
        r.armed = true;
        return 0;
    }
    const io_object_t service = r.pending.front();
    r.pending.pop_front();
    return service;
}

// ---- Matching and notification ports ----

CFMutableDictionaryRef IOServiceMatching(const char* name)
{
    if (name == nullptr)
    {
        violation("IOServiceMatching: null class name");
        return nullptr;
    }
    {
        Lock lock(mutex());
        if (takeFault(world(), Step::matchingDictionary))
            return nullptr;
    }
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr);
    CFStringRef value = CFStringCreateWithCString(nullptr, name, kCFStringEncodingUTF8);
    CFDictionarySetValue(d, CFSTR(kIOProviderClassKey), value);
    CFRelease(value);
    return d;
}

IONotificationPortRef IONotificationPortCreate(mach_port_t masterPort)
{
    if (masterPort != kMasterPort && masterPort != kIOMasterPortDefault)
    {
        violation("IONotificationPortCreate: unknown master port");
        return nullptr;
    }
    Lock lock(mutex());
    World& w = world();
    if (takeFault(w, Step::notificationPort))
        return nullptr;
    return makePort(w);
}

void IONotificationPortDestroy(IONotificationPortRef port)
{
    Lock lock(mutex());
    World& w = world();
    if (!livePort(w, port))
    {
        violation("IONotificationPortDestroy: null, unknown or destroyed port");
        return;
    }
    port->destroyed = true;
    port->attached = false;
    port->held.clear();
}

CFRunLoopSourceRef IONotificationPortGetRunLoopSource(IONotificationPortRef port)
{
    Lock lock(mutex());
    if (!livePort(world(), port))
    {
        violation("IONotificationPortGetRunLoopSource: null, unknown or destroyed port");
        return nullptr;
    }
    return &port->source;
}

kern_return_t IOServiceAddMatchingNotification(IONotificationPortRef port, const char* notificationType,
                                               CFDictionaryRef matching, IOServiceMatchingCallback callback,
                                               void* refCon, io_iterator_t* notification)
{
    using namespace platform::cf;
    const Object* object = live(matching);
    if (object == nullptr || object->kind != Kind::dictionary)
        return badArgument(
            "IOServiceAddMatchingNotification: null, released or wrong-typed matching dictionary");
    auto* dictionary = static_cast<const Dictionary*>(object); // only once its kind is known
    Properties criteria;
    const bool validCriteria = criteriaFrom(*dictionary, criteria);
    CFRelease(matching); // each registration consumes one reference
    if (notification != nullptr)
        *notification = 0;
    if (!validCriteria)
        return badArgument("IOServiceAddMatchingNotification: matching dictionary with unusable values");
    if (notificationType == nullptr || callback == nullptr || notification == nullptr)
        return badArgument("IOServiceAddMatchingNotification: null type, handler or output");
    Registration r;
    const std::string type = notificationType;
    if (type == kIOFirstMatchNotification)
        r.type = Registration::firstMatch;
    else if (type == kIOMatchedNotification)
        r.type = Registration::matched;
    else if (type == kIOTerminatedNotification)
        r.type = Registration::terminate;
    else
        return badArgument("IOServiceAddMatchingNotification: unknown notification type");

    Lock lock(mutex());
    World& w = world();
    if (!livePort(w, port))
        return badArgument("IOServiceAddMatchingNotification: null, unknown or destroyed port");
    if (auto fault = takeFault(w, Step::addNotification))
        return *fault;
    r.port = port;
    r.criteria = std::move(criteria);
    r.callback = callback;
    r.refCon = refCon;
    if (r.type != Registration::terminate)
        for (auto& [handle, s] : w.services)
            if (!s.terminated && serviceMatches(s, r.criteria))
            {
                ++s.refs;
                r.pending.push_back(handle);
            }
    const io_iterator_t handle = newHandle();
    w.registrations[handle] = std::move(r);
    w.registrationOrder.push_back(handle);
    *notification = handle;
    return kIOReturnSuccess;
}

// ---- Registry ----

static CFTypeRef makeValue(const RegistryValue& v)
{
    if (auto* text = std::get_if<std::string>(&v))
        return CFStringCreateWithCString(nullptr, text->c_str(), kCFStringEncodingUTF8);
    const SInt32 number = std::get<SInt32>(v);
    return CFNumberCreate(nullptr, kCFNumberSInt32Type, &number);
}

// Snapshot of a held service's properties, or the failure status.
static IOReturn readProperties(io_registry_entry_t entry, Properties& out, const char* call)
{
    Lock lock(mutex());
    World& w = world();
    Service* s = heldService(w, entry, call);
    if (s == nullptr)
        return kIOReturnBadArgument;
    if (auto fault = takeFault(w, s->terminated ? Step::propertiesOnTerminate : Step::properties, s->device))
        return *fault;
    out = s->properties;
    return kIOReturnSuccess;
}

kern_return_t IORegistryEntryCreateCFProperties(io_registry_entry_t entry, CFMutableDictionaryRef* properties,
                                                CFAllocatorRef, IOOptionBits)
{
    if (properties == nullptr)
        return badArgument("IORegistryEntryCreateCFProperties: null output");
    *properties = nullptr;
    Properties snapshot;
    if (IOReturn status = readProperties(entry, snapshot, "IORegistryEntryCreateCFProperties"))
        return status;
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr);
    for (auto& [key, value] : snapshot)
    {
        CFStringRef k = CFStringCreateWithCString(nullptr, key.c_str(), kCFStringEncodingUTF8);
        CFTypeRef v = makeValue(value);
        CFDictionarySetValue(d, k, v);
        CFRelease(k);
        CFRelease(v);
    }
    *properties = d;
    return kIOReturnSuccess;
}

CFTypeRef IORegistryEntryCreateCFProperty(io_registry_entry_t entry, CFStringRef key, CFAllocatorRef,
                                          IOOptionBits)
{
    const std::string name = platform::toStdString(key);
    if (platform::cf::live(key) == nullptr)
    {
        violation("IORegistryEntryCreateCFProperty: null or invalid key");
        return nullptr;
    }
    Properties snapshot;
    if (readProperties(entry, snapshot, "IORegistryEntryCreateCFProperty") != kIOReturnSuccess)
        return nullptr;
    for (auto& [k, v] : snapshot)
        if (k == name)
            return makeValue(v);
    return nullptr;
}

kern_return_t IORegistryEntryGetRegistryEntryID(io_registry_entry_t entry, UInt64* entryID)
{
    if (entryID == nullptr)
        return badArgument("IORegistryEntryGetRegistryEntryID: null output");
    Lock lock(mutex());
    Service* s = heldService(world(), entry, "IORegistryEntryGetRegistryEntryID");
    if (s == nullptr)
        return kIOReturnBadArgument;
    *entryID = s->entryId;
    return kIOReturnSuccess;
}
