// The audio service over the simulated devices: property sizes, reads and writes with change reports, and
// listener installation. Reports are delivered by the notification thread (World.cpp).

#include "World.h"

#include <cmath>
#include <cstddef>
#include <cstring>

using namespace platform::sim;
using namespace platform::sim::detail;
using platform::violation;

namespace
{
enum class Prop
{
    none,
    string,
    streams,
    rate,
    format,
    volumeDb,
    volumeScalar,
    mute,
    playThru,
    dataSource
};

// Directions a scope names: bit 0 input, bit 1 output.
int scopeDirections(AudioObjectPropertyScope scope)
{
    if (scope == kAudioObjectPropertyScopeInput)
        return 1;
    if (scope == kAudioObjectPropertyScopeOutput)
        return 2;
    if (scope == kAudioObjectPropertyScopeWildcard || scope == kAudioObjectPropertyScopeGlobal)
        return 3;
    return 0;
}

int dirOf(AudioObjectPropertyScope scope)
{
    return scope == kAudioObjectPropertyScopeOutput ? 1 : 0;
}

Prop propertyOf(const AudioDevice& d, const AudioObjectPropertyAddress& a)
{
    const bool input = a.mScope == kAudioObjectPropertyScopeInput;
    const bool output = a.mScope == kAudioObjectPropertyScopeOutput;
    const bool directional = input || output;
    const bool hasStreams = directional && d.dir[dirOf(a.mScope)].streams > 0;
    switch (a.mSelector)
    {
        case kAudioDevicePropertyDeviceUID:
        case kAudioObjectPropertyName:
        case kAudioObjectPropertyManufacturer:
            return a.mElement == 0 && scopeDirections(a.mScope) != 0 ? Prop::string : Prop::none;
        case kAudioDevicePropertyStreamConfiguration:
            return directional && a.mElement == 0 ? Prop::streams : Prop::none;
        case kAudioDevicePropertyNominalSampleRate:
            return a.mElement == 0 && scopeDirections(a.mScope) != 0 ? Prop::rate : Prop::none;
        case kAudioStreamPropertyPhysicalFormat:
        {
            const bool any = a.mScope == kAudioObjectPropertyScopeWildcard &&
                             (d.dir[0].streams > 0 || d.dir[1].streams > 0);
            return a.mElement == 0 && (hasStreams || any) ? Prop::format : Prop::none;
        }
        case kAudioDevicePropertyVolumeDecibels:
        case kAudioDevicePropertyVolumeScalar:
        case kAudioDevicePropertyMute:
            if (!hasStreams || a.mElement < 1 || a.mElement > 2)
                return Prop::none;
            return a.mSelector == kAudioDevicePropertyMute
                       ? Prop::mute
                       : (a.mSelector == kAudioDevicePropertyVolumeDecibels ? Prop::volumeDb
                                                                            : Prop::volumeScalar);
        case kAudioDevicePropertyPlayThru:
            return hasStreams && a.mElement == 0 ? Prop::playThru : Prop::none;
        case kAudioDevicePropertyDataSource:
            return hasStreams && a.mElement == 0 ? Prop::dataSource : Prop::none;
        default:
            return Prop::none;
    }
}

UInt32 sizeOf(const AudioDevice& d, Prop p, AudioObjectPropertyScope scope)
{
    switch (p)
    {
        case Prop::string:
            return sizeof(CFStringRef);
        case Prop::streams:
        {
            const int n = d.dir[dirOf(scope)].streams;
            return UInt32(offsetof(AudioBufferList, mBuffers) + sizeof(AudioBuffer) * size_t(n));
        }
        case Prop::rate:
            return sizeof(Float64);
        case Prop::format:
            return sizeof(AudioStreamBasicDescription);
        case Prop::none:
            return 0;
        default:
            return 4;
    }
}

bool matchesFault(const PropertyFault& f, AudioOp op, AudioObjectID object,
                  const AudioObjectPropertyAddress& a)
{
    return f.op == op && (f.device == 0 || f.device == object) &&
           (f.selector == kAudioObjectPropertySelectorWildcard || f.selector == a.mSelector) &&
           (f.scope == kAudioObjectPropertyScopeWildcard || f.scope == a.mScope) &&
           (f.element == kAudioObjectPropertyElementWildcard || f.element == a.mElement);
}

// The fault that applies to this call, consuming one count; a copy, as consuming may erase it.
std::optional<PropertyFault> takePropertyFault(World& w, AudioOp op, AudioObjectID object,
                                               const AudioObjectPropertyAddress& a)
{
    for (auto it = w.propertyFaults.begin(); it != w.propertyFaults.end(); ++it)
    {
        if (!matchesFault(*it, op, object, a))
            continue;
        PropertyFault f = *it;
        if (it->count > 0 && --it->count == 0)
            w.propertyFaults.erase(it);
        return f;
    }
    return std::nullopt;
}

OSStatus illegal(const char* what)
{
    violation(what);
    return kAudioHardwareIllegalOperationError;
}

bool formatAccepted(const AudioDevice& d, const AudioStreamBasicDescription& f)
{
    if (!std::isfinite(f.mSampleRate) || f.mSampleRate <= 0 || f.mFormatID != kAudioFormatLinearPCM ||
        f.mFormatFlags != (kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked) ||
        f.mFramesPerPacket != 1 || f.mBytesPerFrame != f.mChannelsPerFrame * f.mBitsPerChannel / 8 ||
        f.mBytesPerPacket != f.mBytesPerFrame)
        return false;
    const bool rateKnown =
        std::find(d.acceptedRates.begin(), d.acceptedRates.end(), f.mSampleRate) != d.acceptedRates.end();
    if (f.mChannelsPerFrame == 2 && f.mBitsPerChannel == 16)
        return f.mSampleRate == 32000;
    return f.mChannelsPerFrame == 4 && f.mBitsPerChannel == 24 && rateKnown && f.mSampleRate != 32000;
}

std::string valueText(Prop p, const void* data)
{
    char text[160];
    switch (p)
    {
        case Prop::rate:
            std::snprintf(text, sizeof text, "%g", *static_cast<const Float64*>(data));
            break;
        case Prop::volumeDb:
        case Prop::volumeScalar:
            std::snprintf(text, sizeof text, "%g", double(*static_cast<const Float32*>(data)));
            break;
        case Prop::format:
        {
            auto* f = static_cast<const AudioStreamBasicDescription*>(data);
            std::snprintf(text, sizeof text, "%g/%s/%x/%u/%u/%u/%u/%u/%u", f->mSampleRate,
                          fourCC(f->mFormatID).c_str(), unsigned(f->mFormatFlags),
                          unsigned(f->mBytesPerPacket), unsigned(f->mFramesPerPacket),
                          unsigned(f->mBytesPerFrame), unsigned(f->mChannelsPerFrame),
                          unsigned(f->mBitsPerChannel), unsigned(f->mReserved));
            break;
        }
        default:
            std::snprintf(text, sizeof text, "%u", unsigned(*static_cast<const UInt32*>(data)));
            break;
    }
    return text;
}

void settleRate(World& w, AudioDevice& d)
{
    if (!d.ratePending)
        return;
    if (--d.pendingReads > 0)
        return;
    applyRate(w, d, d.pendingRate, 0);
}

OSStatus writeProperty(World& w, AudioDevice& d, Prop p, const AudioObjectPropertyAddress& a,
                       const void* data)
{
    const int dir = dirOf(a.mScope);
    switch (p)
    {
        case Prop::rate:
        {
            const Float64 rate = *static_cast<const Float64*>(data);
            if (!std::isfinite(rate) || rate <= 0 ||
                std::find(d.acceptedRates.begin(), d.acceptedRates.end(), rate) == d.acceptedRates.end())
                return kAudioHardwareIllegalOperationError;
            applyRate(w, d, rate);
            return 0;
        }
        case Prop::format:
        {
            AudioStreamBasicDescription f;
            std::memcpy(&f, data, sizeof f);
            if (!formatAccepted(d, f))
                return kAudioHardwareIllegalOperationError;
            std::vector<AudioObjectPropertyAddress> reports;
            for (int i = 0; i < 2; ++i)
            {
                if (d.dir[i].streams == 0 || !(scopeDirections(a.mScope) & (1 << i)))
                    continue;
                const Float64 rate = d.dir[i].format.mSampleRate;
                f.mSampleRate = rate; // the stored rate follows the nominal rate below
                if (std::memcmp(&d.dir[i].format, &f, sizeof f) != 0)
                {
                    d.dir[i].format = f;
                    reports.push_back({kAudioStreamPropertyPhysicalFormat, scopeOf(i), 0});
                }
            }
            enqueueNotification(w, d.id, reports);
            std::memcpy(&f, data, sizeof f);
            applyRate(w, d, f.mSampleRate);
            return 0;
        }
        case Prop::volumeDb:
            return changeVolume(w, d, dir, a.mElement, *static_cast<const Float32*>(data))
                       ? 0
                       : kAudioHardwareIllegalOperationError;
        case Prop::volumeScalar:
        {
            const Float32 scalar = *static_cast<const Float32*>(data);
            if (!std::isfinite(scalar))
                return kAudioHardwareIllegalOperationError;
            changeVolume(w, d, dir, a.mElement, scalarToDb(std::min(1.0f, std::max(0.0f, scalar))));
            return 0;
        }
        case Prop::mute:
            changeMute(w, d, dir, a.mElement, *static_cast<const UInt32*>(data) != 0);
            return 0;
        case Prop::playThru:
        case Prop::dataSource:
        {
            UInt32& stored = p == Prop::playThru ? d.dir[dir].playThru : d.dir[dir].dataSource;
            const UInt32 value = *static_cast<const UInt32*>(data);
            if (stored != value)
            {
                stored = value;
                enqueueNotification(w, d.id, {{a.mSelector, a.mScope, 0}});
            }
            return 0;
        }
        default:
            return kAudioHardwareIllegalOperationError;
    }
}

bool isSystemDevices(AudioObjectID object, const AudioObjectPropertyAddress& a)
{
    return object == kAudioObjectSystemObject && a.mSelector == kAudioHardwarePropertyDevices &&
           (a.mScope == kAudioObjectPropertyScopeGlobal || a.mScope == kAudioObjectPropertyScopeWildcard) &&
           (a.mElement == 0 || a.mElement == kAudioObjectPropertyElementWildcard);
}

// The listed device and the property an address names on it, or the status a call returns when either is
// missing.
OSStatus findProperty(World& w, AudioObjectID object, const AudioObjectPropertyAddress& address,
                      AudioDevice*& device, Prop& prop)
{
    device = listedDevice(w, object);
    if (device == nullptr)
        return kAudioHardwareBadObjectError;
    prop = propertyOf(*device, address);
    return prop == Prop::none ? kAudioHardwareUnknownPropertyError : 0;
}
} // namespace

Boolean AudioObjectHasProperty(AudioObjectID object, const AudioObjectPropertyAddress* address)
{
    if (address == nullptr)
    {
        violation("AudioObjectHasProperty: null address");
        return false;
    }
    Lock lock(mutex());
    World& w = world();
    if (isSystemDevices(object, *address))
        return true;
    AudioDevice* d = listedDevice(w, object);
    return d != nullptr && propertyOf(*d, *address) != Prop::none;
}

OSStatus AudioObjectGetPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress* address,
                                        UInt32, const void*, UInt32* outSize)
{
    if (address == nullptr || outSize == nullptr)
        return illegal("AudioObjectGetPropertyDataSize: null address or output");
    Lock lock(mutex());
    World& w = world();
    if (isSystemDevices(object, *address))
    {
        ++w.discoveryRuns;
        refreshInterfaceAudio(w);
    }
    if (auto fault = takePropertyFault(w, AudioOp::size, object, *address))
        return fault->status;
    if (isSystemDevices(object, *address))
    {
        *outSize = UInt32(w.deviceList.size() * sizeof(AudioObjectID));
        return 0;
    }
    AudioDevice* d = nullptr;
    Prop p = Prop::none;
    if (const OSStatus status = findProperty(w, object, *address, d, p); status != 0)
        return status;
    *outSize = sizeOf(*d, p, address->mScope);
    return 0;
}

OSStatus AudioObjectGetPropertyData(AudioObjectID object, const AudioObjectPropertyAddress* address, UInt32,
                                    const void*, UInt32* ioSize, void* outData)
{
    if (address == nullptr || ioSize == nullptr || (outData == nullptr && *ioSize > 0))
        return illegal("AudioObjectGetPropertyData: null address, size or buffer");
    Lock lock(mutex());
    World& w = world();
    const auto fault = takePropertyFault(w, AudioOp::get, object, *address);
    if (fault && !fault->nullString)
        return fault->status;
    if (isSystemDevices(object, *address))
    {
        refreshInterfaceAudio(w);
        size_t count = w.deviceList.size();
        count -= std::min(count, size_t(w.shrinkNext));
        w.shrinkNext = 0;
        if (*ioSize < count * sizeof(AudioObjectID))
            return kAudioHardwareBadPropertySizeError;
        if (count > 0)
            std::memcpy(outData, w.deviceList.data(), count * sizeof(AudioObjectID));
        *ioSize = UInt32(count * sizeof(AudioObjectID));
        return 0;
    }
    AudioDevice* d = nullptr;
    Prop p = Prop::none;
    if (const OSStatus status = findProperty(w, object, *address, d, p); status != 0)
        return status;
    const UInt32 size = sizeOf(*d, p, address->mScope);
    if (*ioSize < size)
        return kAudioHardwareBadPropertySizeError;
    const int dir = dirOf(address->mScope);
    switch (p)
    {
        case Prop::string:
        {
            CFStringRef text = nullptr;
            if (!(fault && fault->nullString))
            {
                const std::string& value = address->mSelector == kAudioObjectPropertyName ? d->name
                                           : address->mSelector == kAudioObjectPropertyManufacturer
                                               ? d->manufacturer
                                               : d->uid;
                text = reinterpret_cast<CFStringRef>(platform::cf::makeString(value));
            }
            std::memcpy(outData, &text, sizeof text);
            break;
        }
        case Prop::streams:
        {
            std::memset(outData, 0, size);
            auto* list = static_cast<AudioBufferList*>(outData);
            list->mNumberBuffers = UInt32(d->dir[dir].streams);
            for (int i = 0; i < d->dir[dir].streams; ++i)
                list->mBuffers[i] = {4, 0, nullptr};
            break;
        }
        case Prop::rate:
            settleRate(w, *d);
            std::memcpy(outData, &d->rate, sizeof d->rate);
            break;
        case Prop::format:
        {
            const int from =
                address->mScope == kAudioObjectPropertyScopeWildcard && d->dir[0].streams == 0 ? 1 : dir;
            std::memcpy(outData, &d->dir[from].format, size);
            break;
        }
        case Prop::volumeDb:
        case Prop::volumeScalar:
        {
            const Float32 db = d->dir[dir].controls[address->mElement].db;
            const Float32 value = p == Prop::volumeDb ? db : dbToScalar(db);
            std::memcpy(outData, &value, sizeof value);
            break;
        }
        default:
        {
            const UInt32 value = p == Prop::mute       ? UInt32(d->dir[dir].controls[address->mElement].mute)
                                 : p == Prop::playThru ? d->dir[dir].playThru
                                                       : d->dir[dir].dataSource;
            std::memcpy(outData, &value, sizeof value);
            break;
        }
    }
    *ioSize = size;
    return 0;
}

OSStatus AudioObjectSetPropertyData(AudioObjectID object, const AudioObjectPropertyAddress* address, UInt32,
                                    const void*, UInt32 size, const void* data)
{
    if (address == nullptr || data == nullptr)
        return illegal("AudioObjectSetPropertyData: null address or data");
    Lock lock(mutex());
    if (address->mSelector == kAudioDevicePropertyVolumeDecibels && world().holdWrites &&
        !isMainThread(world()))
    {
        // Held at the gate; a reset meanwhile opens it (the write then goes to the fresh world).
        const UInt64 generation = world().generation;
        const UInt64 ticket = world().gateTickets++;
        ++world().heldWriters;
        changed().wait(lock,
                       [&] {
                           return world().generation != generation || !world().holdWrites ||
                                  world().gatePassed > ticket;
                       });
        if (world().generation == generation)
        {
            --world().heldWriters;
            world().gatePassed = std::max(world().gatePassed, ticket + 1);
        }
    }
    World& w = world();
    if (auto fault = takePropertyFault(w, AudioOp::set, object, *address))
        return fault->status;
    AudioDevice* d = nullptr;
    Prop p = Prop::none;
    if (const OSStatus status = findProperty(w, object, *address, d, p); status != 0)
        return status;
    if (p == Prop::string || p == Prop::streams)
        return kAudioHardwareIllegalOperationError;
    if (size != sizeOf(*d, p, address->mScope))
        return kAudioHardwareBadPropertySizeError;
    const OSStatus status = writeProperty(w, *d, p, *address, data);
    if (status == 0)
        journalLine(w, "audio-set " + std::to_string(object) + " " + fourCC(address->mSelector) + " " +
                           fourCC(address->mScope) + " " + std::to_string(address->mElement) + " " +
                           valueText(p, data));
    return status;
}

OSStatus AudioObjectAddPropertyListener(AudioObjectID object, const AudioObjectPropertyAddress* address,
                                        AudioObjectPropertyListenerProc listener, void* clientData)
{
    if (address == nullptr || listener == nullptr)
        return illegal("AudioObjectAddPropertyListener: null address or listener");
    Lock lock(mutex());
    World& w = world();
    if (auto fault = takePropertyFault(w, AudioOp::addListener, object, *address))
        return fault->status;
    if (object != kAudioObjectSystemObject && listedDevice(w, object) == nullptr)
        return kAudioHardwareBadObjectError;
    for (auto& l : w.listeners)
    {
        const bool same = !l->removed && l->object == object && l->proc == listener &&
                          l->clientData == clientData &&
                          std::memcmp(&l->address, address, sizeof *address) == 0;
        if (!same)
            continue;
        if (w.config.duplicateListeners == DuplicateListeners::refuse)
            return kAudioHardwareIllegalOperationError;
        if (w.config.duplicateListeners == DuplicateListeners::acceptIdempotent)
            return 0;
        break;
    }
    w.listeners.push_back(std::make_shared<Listener>(Listener{object, *address, listener, clientData}));
    return 0;
}

OSStatus AudioObjectRemovePropertyListener(AudioObjectID object, const AudioObjectPropertyAddress* address,
                                           AudioObjectPropertyListenerProc listener, void* clientData)
{
    if (address == nullptr || listener == nullptr)
        return illegal("AudioObjectRemovePropertyListener: null address or listener");
    Lock lock(mutex());
    World& w = world();
    for (auto it = w.listeners.begin(); it != w.listeners.end(); ++it)
    {
        auto& l = **it;
        if (!l.removed && l.object == object && l.proc == listener && l.clientData == clientData &&
            std::memcmp(&l.address, address, sizeof *address) == 0)
        {
            l.removed = true; // a call already running finishes; none begins from now on
            w.listeners.erase(it);
            return 0;
        }
    }
    return kAudioHardwareIllegalOperationError;
}
