// The plug-in and the device interface of a simulated USB device: references, open and close,
// configuration, control requests with their faults, and the interface's command decoder.

#include "World.h"

#include <cstring>

using namespace platform::sim;
using namespace platform::sim::detail;
using platform::violation;

namespace
{
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
    const BusDevice& d = w.busDevice(c.device);
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
    BusDevice& d = w.busDevice(c.device);
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
        --w.busDevice(c->device).stats.liveInterfaces;
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
    return w.busDevice(c.device).spec;
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
                          BusDevice& d = w.busDevice(c.device);
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
                          w.busDevice(c.device).configuration = value;
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
        return answer<UInt8>(
            self, out, [](World& w, ComObject& c) { return UInt8(w.busDevice(c.device).configuration); });
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
                            w.busDevice(busDevice).plugGeneration,
                            1,
                            false,
                            {}};
    if (device)
        for (UInt8 value : w.busDevice(busDevice).spec.configurations)
            c->descriptors.push_back({9, 2, 25, 1, value, 0, 0x80, 50});
    w.comObjects.push_back(c);
    ++w.busDevice(busDevice).stats.liveInterfaces;
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
} // namespace

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
