// Discovery of the interface's audio devices and the property listener placed on them.

#include "NominalRate.h"
#include "RegisterDeviceCallBacksMac.h"

#include "PlatformJuce.h"

#include <algorithm>
#include <map>
#include <vector>

std::atomic<AudioObjectID> gInAudioObjectID{0};
std::atomic<AudioObjectID> gOutAudioObjectID{0};

namespace
{
// Devices that carry our listener, with the reference it was installed with. Main thread only
// (discovery and teardown).
std::map<AudioObjectID, void*> gListenedDevices;

constexpr AudioObjectPropertyAddress kListenerAddress{kAudioObjectPropertySelectorWildcard,
                                                      kAudioObjectPropertyScopeWildcard,
                                                      kAudioObjectPropertyElementWildcard};

constexpr Float64 kKnownRates[] = {32000.0, 44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0};

bool isKnownRate(Float64 rate)
{
    for (Float64 known : kKnownRates)
        if (rate == known)
            return true;
    return false;
}

// Reads the audio service's current device list by the size actually returned. False when it cannot be
// read; an empty list is a successful read.
bool readDeviceList(std::vector<AudioObjectID>& devices)
{
    devices.clear();
    const AudioObjectPropertyAddress address{kAudioHardwarePropertyDevices, kAudioObjectPropertyScopeGlobal,
                                             0};
    UInt32 size = 0;
    if (AudioObjectGetPropertyDataSize(kAudioObjectSystemObject, &address, 0, nullptr, &size) != 0)
        return false;

    devices.assign(size / sizeof(AudioObjectID), 0);
    if (devices.empty())
        return true;
    size = static_cast<UInt32>(devices.size() * sizeof(AudioObjectID));
    if (AudioObjectGetPropertyData(kAudioObjectSystemObject, &address, 0, nullptr, &size, devices.data()) !=
        0)
    {
        devices.clear();
        return false;
    }
    devices.resize(std::min<size_t>(devices.size(), size / sizeof(AudioObjectID)));
    return true;
}

// Reads a string property; a null string counts as a failed read.
CFStringRef copyStringProperty(AudioObjectID device, AudioObjectPropertySelector selector,
                               AudioObjectPropertyScope scope)
{
    const AudioObjectPropertyAddress address{selector, scope, 0};
    CFStringRef value = nullptr;
    UInt32 size = sizeof(value);
    if (AudioObjectGetPropertyData(device, &address, 0, nullptr, &size, &value) != 0)
    {
        if (value != nullptr)
            CFRelease(value);
        return nullptr;
    }
    return value;
}

// True when the device has at least one stream in the scope's direction.
bool hasStreams(AudioObjectID device, AudioObjectPropertyScope scope)
{
    const AudioObjectPropertyAddress address{kAudioDevicePropertyStreamConfiguration, scope, 0};
    UInt32 size = 0;
    if (AudioObjectGetPropertyDataSize(device, &address, 0, nullptr, &size) != 0 || size < sizeof(UInt32))
        return false;

    std::vector<UInt8> buffer(size, 0);
    if (AudioObjectGetPropertyData(device, &address, 0, nullptr, &size, buffer.data()) != 0 ||
        size < sizeof(UInt32))
        return false;
    return reinterpret_cast<const AudioBufferList*>(buffer.data())->mNumberBuffers != 0;
}

// The device name passes when it equals the wanted name ignoring case, or when it is a case-sensitive
// prefix of the wanted name.
bool nameMatches(CFStringRef deviceName, CFStringRef wantedName)
{
    if (CFStringCompare(deviceName, wantedName, kCFCompareCaseInsensitive) == kCFCompareEqualTo)
        return true;
    const juce::String device = platform::toJuceString(deviceName);
    const juce::String wanted = platform::toJuceString(wantedName);
    return wanted.substring(0, device.length()) == device;
}

bool deviceMatches(AudioObjectID device, AudioObjectPropertyScope scope, CFStringRef name,
                   CFStringRef manufacturer)
{
    CFStringRef uid = copyStringProperty(device, kAudioDevicePropertyDeviceUID, scope);
    CFStringRef deviceName =
        uid != nullptr ? copyStringProperty(device, kAudioObjectPropertyName, scope) : nullptr;
    CFStringRef deviceMaker =
        deviceName != nullptr ? copyStringProperty(device, kAudioObjectPropertyManufacturer, scope) : nullptr;

    const bool match =
        deviceMaker != nullptr && hasStreams(device, scope) && nameMatches(deviceName, name) &&
        CFStringCompare(deviceMaker, manufacturer, kCFCompareCaseInsensitive) == kCFCompareEqualTo;

    for (CFStringRef text : {uid, deviceName, deviceMaker})
        if (text != nullptr)
            CFRelease(text);
    return match;
}

// A device that already carries our listener counts as installed.
bool installListener(AudioObjectID device, void* reference)
{
    if (gListenedDevices.count(device) != 0)
        return true;
    if (AudioObjectAddPropertyListener(device, &kListenerAddress, myAudioObjectPropertyListenerProc,
                                       reference) != 0)
        return false;
    gListenedDevices[device] = reference;
    return true;
}

void searchPass(const std::vector<AudioObjectID>& devices, AudioObjectPropertyScope scope, CFStringRef name,
                CFStringRef manufacturer, void* reference)
{
    const bool input = scope == kAudioObjectPropertyScopeInput;
    std::atomic<AudioObjectID>& mine = input ? gInAudioObjectID : gOutAudioObjectID;
    std::atomic<AudioObjectID>& other = input ? gOutAudioObjectID : gInAudioObjectID;

    for (AudioObjectID device : devices)
    {
        if (!deviceMatches(device, scope, name, manufacturer))
            continue;
        if (installListener(device, reference) || other.load() == device)
            mine = device;
    }
}

void raiseAudioEvent(void* reference)
{
    raiseDeviceEvent(reference, ORV_EVENT_AUDIO_PROPERTY_CHANGED);
}

// Brings both interface devices to rate unless one is there already.
void synchroniseRate(Float64 rate)
{
    for (AudioObjectID device : {gInAudioObjectID.load(), gOutAudioObjectID.load()})
        if (readNominalRate(device).rate != rate)
            writeNominalRate(device, rate);
}
} // namespace

void CreateInputDeviceArray(CFStringRef name, CFStringRef manufacturer, void* reference)
{
    if (name == nullptr || manufacturer == nullptr)
        return;

    std::vector<AudioObjectID> devices;
    if (!readDeviceList(devices) || devices.empty())
        return;

    // A listener goes away with its device; forget devices that have left the list.
    for (auto it = gListenedDevices.begin(); it != gListenedDevices.end();)
        it = std::find(devices.begin(), devices.end(), it->first) == devices.end()
                 ? gListenedDevices.erase(it)
                 : std::next(it);

    searchPass(devices, kAudioObjectPropertyScopeInput, name, manufacturer, reference);
    searchPass(devices, kAudioObjectPropertyScopeOutput, name, manufacturer, reference);
}

OSStatus myAudioObjectPropertyListenerProc(AudioObjectID object, UInt32 count,
                                           const AudioObjectPropertyAddress* addresses, void* reference)
{
    for (UInt32 i = 0; addresses != nullptr && i < count; ++i)
    {
        const AudioObjectPropertyAddress& address = addresses[i];
        switch (address.mSelector)
        {
            case kAudioDevicePropertyMute:
            case kAudioDevicePropertyPlayThru:
            case kAudioDevicePropertyDataSource:
                raiseAudioEvent(reference);
                break;

            case kAudioDevicePropertyVolumeScalar:
            {
                Float32 volume = 0.0f;
                UInt32 size = sizeof(volume);
                if (AudioObjectGetPropertyData(object, &address, 0, nullptr, &size, &volume) == 0)
                    raiseAudioEvent(reference);
                break;
            }

            case kAudioDevicePropertyNominalSampleRate:
            {
                // A rate that is not a positive finite number is treated as unreadable, so it is never
                // written back.
                const RateRead read = readNominalRate(object);
                const Float64 rate = read.status == 0 && isUsableRate(read.rate) ? read.rate : 0.0;
                if (rate != 0.0)
                    synchroniseRate(rate);
                if (isKnownRate(rate))
                    raiseAudioEvent(reference);
                break;
            }

            default:
                break;
        }
    }
    return 0;
}

void DropDepartedAudioDevices()
{
    if (gInAudioObjectID.load() == 0 && gOutAudioObjectID.load() == 0)
        return;
    // A list that cannot be read tells nothing about which devices have gone.
    std::vector<AudioObjectID> devices;
    if (!readDeviceList(devices))
        return;
    for (std::atomic<AudioObjectID>* id : {&gInAudioObjectID, &gOutAudioObjectID})
        if (std::find(devices.begin(), devices.end(), id->load()) == devices.end())
            *id = 0;
}

void RemoveAudioPropertyListeners()
{
    for (const auto& [device, reference] : gListenedDevices)
        AudioObjectRemovePropertyListener(device, &kListenerAddress, myAudioObjectPropertyListenerProc,
                                          reference);
    gListenedDevices.clear();
}
