#include "VolumeLevelThread.h"

#include "DeviceLog.h"
#include "RegisterDeviceCallBacksMac.h"

namespace
{
constexpr uint32_t nextIndex(uint32_t index)
{
    return (index + 1) % VolumeLevelThread::ringSize;
}
} // namespace

VolumeLevelThread::VolumeLevelThread() : juce::Thread("VolumeLevel Thread")
{
    queueLock = new juce::CriticalSection();
    for (auto& request : requests)
        request = new VolumeRequest();
    addListener(this);
    startThread();
}

VolumeLevelThread::~VolumeLevelThread()
{
    const bool stopped = stopThread(stopTimeoutMs);
    removeListener(this);
    if (!stopped)
        return; // a thread that was killed may still hold the lock or a record: leave them alive

    for (auto*& request : requests)
    {
        delete request;
        request = nullptr;
    }
    delete queueLock;
    queueLock = nullptr;
}

void VolumeLevelThread::exitSignalSent()
{
    stopRequestedAt = juce::jmax<uint32_t>(1, juce::Time::getMillisecondCounter());
}

bool VolumeLevelThread::stopDeadlinePassed() const
{
    const uint32_t requestedAt = stopRequestedAt.load();
    return requestedAt != 0 && juce::Time::getMillisecondCounter() - requestedAt > drainGraceMs;
}

size_t VolumeLevelThread::overflowSlot(const VolumeRequest& request)
{
    const size_t direction = request.isInput == 1 ? 0 : 2;
    return direction + (request.channel == 1 ? 0 : 1);
}

void VolumeLevelThread::setLevelVolume(int isInput, int channel, double decibels)
{
    const uint32_t write = writeIndex.load(std::memory_order_relaxed);
    const uint32_t read = readIndex.load(std::memory_order_acquire);
    const VolumeRequest request{isInput, channel, decibels};

    // While requests wait aside, later ones join them there, so that the newest value always wins.
    if (nextIndex(write) == read || overflowPending.load(std::memory_order_acquire))
    {
        {
            const juce::SpinLock::ScopedLockType guard(overflowLock);
            const size_t slot = overflowSlot(request);
            overflow.latest[slot] = request;
            overflow.used[slot] = true;
            overflow.pending = true;
            overflowPending.store(true, std::memory_order_release);
        }
        deviceLog(stderr, "set write: %u Read: %u\n", write, read);
        return;
    }

    *requests[write] = request;
    const uint32_t next = nextIndex(write);
    writeIndex.store(next, std::memory_order_release);
    deviceLog(stderr, "set write: %u Read: %u\n", next, readIndex.load(std::memory_order_acquire));
}

void VolumeLevelThread::writeRequest(const VolumeRequest& request)
{
    const bool input = request.isInput == 1;
    const AudioObjectID device = input ? gInAudioObjectID.load() : gOutAudioObjectID.load();
    const AudioObjectPropertyAddress address{kAudioDevicePropertyVolumeDecibels,
                                             input ? kAudioObjectPropertyScopeInput
                                                   : kAudioObjectPropertyScopeOutput,
                                             static_cast<AudioObjectPropertyElement>(request.channel)};
    const Float32 value = static_cast<Float32>(request.decibels);
    AudioObjectSetPropertyData(device, &address, 0, nullptr, sizeof(value), &value);
}

// Empties the ring, then writes what waited aside. Returns false when the stop's grace ran out.
bool VolumeLevelThread::drainRing()
{
    for (;;)
    {
        uint32_t read = readIndex.load(std::memory_order_relaxed);
        while (read != writeIndex.load(std::memory_order_acquire))
        {
            if (stopDeadlinePassed())
                return false;

            const juce::ScopedLock guard(*queueLock);
            const VolumeRequest request = *requests[read];
            read = nextIndex(read);
            readIndex.store(read, std::memory_order_release);
            deviceLog(stderr, "get write: %u Read: %u\n", writeIndex.load(std::memory_order_acquire), read);
            writeRequest(request);
        }

        if (!overflowPending.load(std::memory_order_acquire))
            return true;

        Overflow waiting;
        {
            const juce::SpinLock::ScopedLockType guard(overflowLock);
            waiting = overflow;
            overflow = Overflow();
            overflowPending.store(false, std::memory_order_release);
        }

        const juce::ScopedLock guard(*queueLock);
        for (size_t slot = 0; slot < overflowSlots; ++slot)
        {
            if (!waiting.used[slot])
                continue;
            deviceLog(stderr, "get write: %u Read: %u\n", writeIndex.load(std::memory_order_acquire),
                      readIndex.load(std::memory_order_relaxed));
            writeRequest(waiting.latest[slot]);
        }
    }
}

void VolumeLevelThread::run()
{
    while (!threadShouldExit())
    {
        if (!drainRing())
            return;
        wait(-1);
    }
}
