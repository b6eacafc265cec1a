// IOKit and Mach over the simulated USB bus: matching notifications with arming by draining, registry
// properties, the plug-in and device interface with the interface's command decoder, and system power.

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
constexpr io_service_t kRootDomain = 0x0F01;

IOReturn badArgument(const std::string& what)
{
    violation(what);
    return kIOReturnBadArgument;
}

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

// ---- Plug-in and device interface ----

ComObject* comFrom(World& w, void* self, bool device)
{
    for (auto* c : w.comObjects)
        if (c == self && c->isDevice == device && c->refs > 0)
            return c;
    violation(self == nullptr ? "interface call: null object" : "interface call: released or unknown object");
    return nullptr;
}

bool dead(World& w, const ComObject& c)
{
    const BusDevice& d = w.bus[c.device];
    return !d.plugged || d.plugGeneration != c.plugGeneration;
}

bool sameUuid(const CFUUIDBytes& a, CFUUIDRef b)
{
    const CFUUIDBytes bytes = CFUUIDGetUUIDBytes(b);
    return std::memcmp(&a, &bytes, sizeof bytes) == 0;
}

void closeLocked(World& w, ComObject& c)
{
    if (!c.open)
        return;
    c.open = false;
    BusDevice& d = w.bus[c.device];
    if (d.openBy == &c)
    {
        d.openBy = nullptr;
        d.configuration = 0;
    }
    ++d.stats.closes;
}

ULONG addRef(void* self, bool device)
{
    Lock lock(mutex());
    ComObject* c = comFrom(world(), self, device);
    return c == nullptr ? 0 : ULONG(++c->refs);
}

ULONG releaseCom(void* self, bool device)
{
    Lock lock(mutex());
    World& w = world();
    ComObject* c = comFrom(w, self, device);
    if (c == nullptr)
        return 0;
    if (--c->refs == 0)
    {
        closeLocked(w, *c);
        --w.bus[c->device].stats.liveInterfaces;
    }
    return ULONG(c->refs);
}

IOReturn withDevice(void* self, const std::function<IOReturn(World&, ComObject&)>& f)
{
    Lock lock(mutex());
    World& w = world();
    ComObject* c = comFrom(w, self, true);
    return c == nullptr ? kIOReturnBadArgument : f(w, *c);
}

template <typename T> IOReturn answer(void* self, T* out, const std::function<T(World&, ComObject&)>& value)
{
    if (out == nullptr)
        return badArgument("interface call: null output");
    return withDevice(self,
                      [&](World& w, ComObject& c)
                      {
                          if (auto fault = takeFault(w, Step::deviceInfo, c.device))
                              return *fault;
                          *out = value(w, c);
                          return kIOReturnSuccess;
                      });
}

const UsbDeviceSpec& specOf(World& w, const ComObject& c)
{
    return w.bus[c.device].spec;
}

void feedDecoder(World& w, UInt8 byte)
{
    auto& s = w.interface;
    switch (w.decoder.phase)
    {
        case Decoder::idle:
            if (byte == 0x55)
                w.decoder.phase = Decoder::lead1;
            else
                ++s.protocolViolations;
            return;
        case Decoder::lead1:
            if (byte == 0xAA)
                w.decoder.phase = Decoder::lead2;
            else
            {
                ++s.protocolViolations;
                w.decoder.phase = byte == 0x55 ? Decoder::lead1 : Decoder::idle;
            }
            return;
        case Decoder::lead2:
            w.decoder.phase = Decoder::idle;
            break;
    }
    const auto tri = [](bool on) { return on ? Tri::on : Tri::off; };
    if (byte == 4 || byte == 5)
        s.headphone = tri(byte == 4);
    else if (byte == 6 || byte == 7)
        s.record = tri(byte == 7);
    else if (byte == 8 || byte == 9)
        s.loopback = tri(byte == 9);
    else if (byte >= 16 && byte <= 126)
        s.monitorVolumeDb = -(int(byte) - 16);
    else
    {
        ++s.unknownCommands;
        return;
    }
    s.commands.push_back(byte);
    journalLine(w, "command " + std::to_string(byte));
}

bool failsNow(World& w, UInt8 data, bool hasData)
{
    UsbFailRule& r = w.failRule;
    const int index = ++w.requestsSinceRule;
    switch (r.when)
    {
        case UsbFailRule::When::off:
            return false;
        case UsbFailRule::When::always:
            return true;
        case UsbFailRule::When::dataByte:
            return hasData && data == r.byte;
        case UsbFailRule::When::next:
        case UsbFailRule::When::nth:
        {
            const int n = r.when == UsbFailRule::When::next ? 1 : r.n;
            if (index != n)
                return false;
            r.when = UsbFailRule::When::off;
            return true;
        }
    }
    return false;
}

IOReturn deviceRequest(void* self, IOUSBDevRequest* request)
{
    if (request == nullptr)
        return badArgument("DeviceRequest: null request");
    return withDevice(
        self,
        [&](World& w, ComObject& c)
        {
            if (request->wLength > 0 && request->pData == nullptr)
                return badArgument("DeviceRequest: null data with a non-zero length");
            UsbRequest record;
            record.device = c.device;
            const UInt8 setup[8] = {request->bmRequestType,  request->bRequest,
                                    UInt8(request->wValue),  UInt8(request->wValue >> 8),
                                    UInt8(request->wIndex),  UInt8(request->wIndex >> 8),
                                    UInt8(request->wLength), UInt8(request->wLength >> 8)};
            std::memcpy(record.setup, setup, 8);
            const bool hasData = request->wLength >= 1 && (request->bmRequestType & 0x80) == 0;
            const UInt8 data = hasData ? *static_cast<const UInt8*>(request->pData) : 0;
            record.data = hasData ? data : -1;
            record.thread = roleLocked(w);
            request->wLenDone = 0;

            IOReturn status = kIOReturnSuccess;
            bool deliver = false;
            if (dead(w, c))
                status = kIOReturnNoDevice;
            else if (!c.open)
                status = kIOReturnNotOpen;
            else
            {
                static const UInt8 commandSetup[8] = {0x21, 0x01, 0x00, 0x20, 0x00, 0x03, 0x01, 0x00};
                const bool isCommand =
                    std::memcmp(setup, commandSetup, 8) == 0 && specOf(w, c).decodesCommands;
                const bool fail = failsNow(w, data, hasData);
                deliver = isCommand && (!fail || w.failRule.delivered);
                status = fail ? w.failRule.status : (isCommand ? kIOReturnSuccess : kIOUSBPipeStalled);
                if (status == kIOReturnSuccess)
                    request->wLenDone = request->wLength;
            }
            record.status = status;
            w.requests.push_back(record);
            journalLine(w, "usb " + (hasData ? (data < 16 ? "0" : "") + hex(data) : std::string("-")) + " " +
                               hex(UInt32(status)));
            if (deliver)
                feedDecoder(w, data);
            return status;
        });
}

IOReturn deviceOpen(void* self)
{
    return withDevice(self,
                      [](World& w, ComObject& c)
                      {
                          if (dead(w, c))
                              return kIOReturnNoDevice;
                          if (auto fault = takeFault(w, Step::open, c.device))
                              return *fault;
                          BusDevice& d = w.bus[c.device];
                          if (d.openBy != nullptr)
                              return kIOReturnExclusiveAccess;
                          d.openBy = &c;
                          c.open = true;
                          ++d.stats.opens;
                          return kIOReturnSuccess;
                      });
}

IOReturn deviceClose(void* self)
{
    return withDevice(self,
                      [](World& w, ComObject& c)
                      {
                          if (!c.open)
                              return kIOReturnNotOpen;
                          closeLocked(w, c);
                          return dead(w, c) ? kIOReturnNoDevice : kIOReturnSuccess;
                      });
}

IOReturn setConfiguration(void* self, UInt8 value)
{
    return withDevice(self,
                      [value](World& w, ComObject& c)
                      {
                          if (dead(w, c))
                              return kIOReturnNoDevice;
                          if (!c.open)
                              return kIOReturnNotOpen;
                          if (auto fault = takeFault(w, Step::setConfiguration, c.device))
                              return *fault;
                          const auto& configs = specOf(w, c).configurations;
                          if (std::find(configs.begin(), configs.end(), value) == configs.end())
                              return kIOReturnBadArgument;
                          w.bus[c.device].configuration = value;
                          return kIOReturnSuccess;
                      });
}

IOReturn configDescriptor(void* self, UInt8 index, IOUSBConfigurationDescriptorPtr* out)
{
    if (out == nullptr)
        return badArgument("GetConfigurationDescriptorPtr: null output");
    return withDevice(self,
                      [&](World& w, ComObject& c)
                      {
                          *out = nullptr;
                          if (auto fault = takeFault(w, Step::configDescriptor, c.device))
                              return *fault;
                          if (index >= c.descriptors.size())
                              return kIOReturnBadArgument;
                          *out = &c.descriptors[index];
                          return kIOReturnSuccess;
                      });
}

HRESULT queryInterface(void* self, REFIID iid, LPVOID* out, bool fromDevice);

IOUSBDeviceInterface deviceTable{
    nullptr,
    [](void* self, REFIID iid, LPVOID* out) { return queryInterface(self, iid, out, true); },
    [](void* self) { return addRef(self, true); },
    [](void* self) { return releaseCom(self, true); },
    deviceOpen,
    deviceClose,
    [](void* self, UInt16* out) {
        return answer<UInt16>(self, out,
                              [](World& w, ComObject& c) { return specOf(w, c).descriptorVendor; });
    },
    [](void* self, UInt16* out) {
        return answer<UInt16>(self, out,
                              [](World& w, ComObject& c) { return specOf(w, c).descriptorProduct; });
    },
    [](void* self, UInt16* out) {
        return answer<UInt16>(self, out,
                              [](World& w, ComObject& c) { return specOf(w, c).descriptorRelease; });
    },
    [](void* self, UInt32* out)
    { return answer<UInt32>(self, out, [](World&, ComObject& c) { return UInt32(0x14000000 + c.device); }); },
    [](void* self, UInt8* out)
    {
        return answer<UInt8>(self, out,
                             [](World& w, ComObject& c)
                             {
                                 if (takeFault(w, Step::zeroConfigurations, c.device))
                                     return UInt8(0);
                                 return UInt8(c.descriptors.size());
                             });
    },
    configDescriptor,
    [](void* self, UInt8* out)
    {
        return answer<UInt8>(self, out,
                             [](World& w, ComObject& c) { return UInt8(w.bus[c.device].configuration); });
    },
    setConfiguration,
    deviceRequest,
};

IOCFPlugInInterface plugInTable{
    nullptr,
    [](void* self, REFIID iid, LPVOID* out) { return queryInterface(self, iid, out, false); },
    [](void* self) { return addRef(self, false); },
    [](void* self) { return releaseCom(self, false); },
    1,
    0,
};

ComObject* makeCom(World& w, bool device, UsbDevice busDevice)
{
    auto* c = new ComObject{device ? static_cast<void*>(&deviceTable) : static_cast<void*>(&plugInTable),
                            device,
                            busDevice,
                            w.bus[busDevice].plugGeneration,
                            1,
                            false,
                            {}};
    if (device)
        for (UInt8 value : w.bus[busDevice].spec.configurations)
            c->descriptors.push_back({9, 2, 25, 1, value, 0, 0x80, 50});
    w.comObjects.push_back(c);
    ++w.bus[busDevice].stats.liveInterfaces;
    return c;
}

HRESULT queryInterface(void* self, REFIID iid, LPVOID* out, bool fromDevice)
{
    if (out == nullptr)
    {
        violation("QueryInterface: null output");
        return E_POINTER;
    }
    *out = nullptr;
    Lock lock(mutex());
    World& w = world();
    ComObject* c = comFrom(w, self, fromDevice);
    if (c == nullptr)
        return E_POINTER;
    if (fromDevice && sameUuid(iid, kIOUSBDeviceInterfaceID))
    {
        ++c->refs;
        *out = c;
        return S_OK;
    }
    if (fromDevice || !sameUuid(iid, kIOUSBDeviceInterfaceID))
        return E_NOINTERFACE;
    if (auto fault = takeFault(w, Step::queryInterface, c->device))
        return *fault;
    *out = makeCom(w, true, c->device);
    return S_OK;
}

IONotificationPort* makePort(World& w)
{
    auto* port = new IONotificationPort;
    w.ports.push_back(port);
    return port;
}
} // namespace

namespace platform::sim::detail
{
void plugLocked(World& w, UsbDevice device, const PlugOptions& options)
{
    BusDevice& d = w.bus[device];
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
    BusDevice& d = w.bus[device];
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

void sendPowerLocked(World& w, UInt32 messageType)
{
    for (auto& [connection, p] : w.power)
    {
        if (!p.active)
            continue;
        const io_connect_t handle = connection;
        postToPort(w, p.port,
                   [handle, messageType]
                   {
                       Lock lock(mutex());
                       World& current = world();
                       auto it = current.power.find(handle);
                       if (it == current.power.end() || !it->second.active ||
                           !livePort(current, it->second.port))
                           return;
                       const intptr_t id = current.nextNotificationId++;
                       current.pendingAcks[id] = messageType;
                       auto callback = it->second.callback;
                       void* refCon = it->second.refCon;
                       lock.unlock();
                       callback(refCon, kRootDomain, messageType, reinterpret_cast<void*>(id));
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

// ---- Plug-in creation ----

kern_return_t IOCreatePlugInInterfaceForService(io_service_t service, CFUUIDRef pluginType,
                                                CFUUIDRef interfaceType, IOCFPlugInInterface*** plugIn,
                                                SInt32* score)
{
    if (plugIn == nullptr)
        return badArgument("IOCreatePlugInInterfaceForService: null output");
    *plugIn = nullptr;
    if (score != nullptr)
        *score = 0;
    const bool typesKnown = sameUuid(CFUUIDGetUUIDBytes(pluginType), kIOUSBDeviceUserClientTypeID) &&
                            sameUuid(CFUUIDGetUUIDBytes(interfaceType), kIOCFPlugInInterfaceID);
    Lock lock(mutex());
    World& w = world();
    Service* s = heldService(w, service, "IOCreatePlugInInterfaceForService");
    if (s == nullptr)
        return kIOReturnBadArgument;
    if (!typesKnown)
        return kIOReturnUnsupported;
    if (s->terminated)
        return kIOReturnNoDevice;
    if (auto fault = takeFault(w, Step::plugIn, s->device))
        return *fault;
    *plugIn = reinterpret_cast<IOCFPlugInInterface**>(makeCom(w, false, s->device));
    return kIOReturnSuccess;
}

// ---- Power ----

io_connect_t IORegisterForSystemPower(void* refCon, IONotificationPortRef* port,
                                      IOServiceInterestCallback callback, io_object_t* notifier)
{
    if (port != nullptr)
        *port = nullptr;
    if (notifier != nullptr)
        *notifier = 0;
    if (port == nullptr || callback == nullptr || notifier == nullptr)
    {
        violation("IORegisterForSystemPower: null port output, handler or notifier output");
        return 0;
    }
    Lock lock(mutex());
    World& w = world();
    if (takeFault(w, Step::powerRegistration))
        return 0;
    PowerRegistration p;
    p.port = makePort(w);
    p.callback = callback;
    p.refCon = refCon;
    p.notifier = newHandle();
    const io_connect_t connection = newHandle();
    w.power[connection] = p;
    *port = p.port;
    *notifier = p.notifier;
    return connection;
}

IOReturn IODeregisterForSystemPower(io_object_t* notifier)
{
    if (notifier == nullptr)
        return badArgument("IODeregisterForSystemPower: null notifier");
    Lock lock(mutex());
    for (auto& [connection, p] : world().power)
        if (p.notifier == *notifier && p.active && *notifier != 0)
        {
            p.active = false;
            *notifier = 0;
            return kIOReturnSuccess;
        }
    return badArgument("IODeregisterForSystemPower: unknown notifier");
}

// Takes the acknowledgement or cancellation of a pending power message; only an acknowledgement is
// recorded as one.
static IOReturn answerPower(io_connect_t rootPort, intptr_t notificationID, const char* what, bool allow)
{
    Lock lock(mutex());
    World& w = world();
    if (w.power.count(rootPort) == 0)
        return badArgument(std::string(what) + ": unknown root port");
    auto it = w.pendingAcks.find(notificationID);
    if (it == w.pendingAcks.end())
        return badArgument(std::string(what) + ": unknown notification id");
    const UInt32 message = it->second;
    w.pendingAcks.erase(it);
    if (allow)
    {
        w.acks.push_back(message);
        journalLine(w, "power-ack " + hex(message));
    }
    return kIOReturnSuccess;
}

IOReturn IOAllowPowerChange(io_connect_t rootPort, intptr_t notificationID)
{
    return answerPower(rootPort, notificationID, "IOAllowPowerChange", true);
}

IOReturn IOCancelPowerChange(io_connect_t rootPort, intptr_t notificationID)
{
    return answerPower(rootPort, notificationID, "IOCancelPowerChange", false);
}

kern_return_t IOServiceClose(io_connect_t connection)
{
    Lock lock(mutex());
    World& w = world();
    auto it = w.power.find(connection);
    if (it == w.power.end())
        return badArgument("IOServiceClose: unknown connection");
    it->second.active = false;
    return kIOReturnSuccess;
}

// ---- Run loops ----

static __CFRunLoop mainLoop{true};
static __CFRunLoop otherLoop{false};

CFRunLoopRef CFRunLoopGetCurrent()
{
    Lock lock(mutex());
    return isMainThread(world()) ? &mainLoop : &otherLoop;
}

CFRunLoopRef CFRunLoopGetMain()
{
    return &mainLoop;
}

static IONotificationPort* portOfSource(World& w, CFRunLoopSourceRef source)
{
    for (auto* p : w.ports)
        if (&p->source == source)
            return p;
    return nullptr;
}

static bool servicedMode(CFStringRef mode)
{
    const std::string name = platform::toStdString(mode);
    return name == "kCFRunLoopDefaultMode" || name == "kCFRunLoopCommonModes";
}

void CFRunLoopAddSource(CFRunLoopRef loop, CFRunLoopSourceRef source, CFStringRef mode)
{
    Lock lock(mutex());
    World& w = world();
    IONotificationPort* port = portOfSource(w, source);
    if ((loop != &mainLoop && loop != &otherLoop) || port == nullptr || platform::cf::live(mode) == nullptr)
    {
        violation("CFRunLoopAddSource: null or unknown loop, source or mode");
        return;
    }
    if (loop == &mainLoop && servicedMode(mode))
        attachPort(w, port);
}

void CFRunLoopRemoveSource(CFRunLoopRef loop, CFRunLoopSourceRef source, CFStringRef mode)
{
    Lock lock(mutex());
    World& w = world();
    IONotificationPort* port = portOfSource(w, source);
    if ((loop != &mainLoop && loop != &otherLoop) || port == nullptr || platform::cf::live(mode) == nullptr)
    {
        violation("CFRunLoopRemoveSource: null or unknown loop, source or mode");
        return;
    }
    if (loop == &mainLoop)
        port->attached = false;
}
