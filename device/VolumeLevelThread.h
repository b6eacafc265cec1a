// The worker thread that writes the faders' channel volumes to the interface's audio devices.
#pragma once

#include <juce_core/juce_core.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

struct VolumeRequest
{
    int32_t isInput = -1; // 1: the input device; any other value: the output device
    int32_t channel = -1; // the audio-device element, 1 or 2
    double decibels = 0.0;
};

// One producer (the main thread, setLevelVolume then notify) and one consumer (the worker). The ring
// never overwrites a request the worker has not taken; while it is full, the latest request per
// (direction, channel) is kept aside and written once the ring has been emptied, so the last value of
// every channel always reaches the device.
class VolumeLevelThread : public juce::Thread, private juce::Thread::Listener
{
public:
    static constexpr uint32_t ringSize = 1024;
    static constexpr int stopTimeoutMs = 2000;
    // A stop that finds the worker emptying a long ring lets it go on for this long at most, well inside
    // the stop's time-out, so that the thread is never killed with a request in hand.
    static constexpr uint32_t drainGraceMs = 1500;

    VolumeLevelThread();
    ~VolumeLevelThread() override;

    void run() override;

    // Main thread only. Does not wake the worker: call notify() afterwards.
    void setLevelVolume(int isInput, int channel, double decibels);

private:
    // Latest requests that found the ring full, one per (direction, channel 1 or 2); other channels
    // share the last entry of their direction.
    static constexpr size_t overflowSlots = 4;

    struct Overflow
    {
        bool pending = false;
        std::array<bool, overflowSlots> used{};
        std::array<VolumeRequest, overflowSlots> latest{};
    };

    void exitSignalSent() override;
    void writeRequest(const VolumeRequest& request);
    bool drainRing();
    bool stopDeadlinePassed() const;
    static size_t overflowSlot(const VolumeRequest& request);

    std::array<VolumeRequest*, ringSize> requests{};
    std::atomic<uint32_t> readIndex{0};
    std::atomic<uint32_t> writeIndex{0};
    // Heap-allocated so that it can be left alive for a thread that outlived its stop.
    juce::CriticalSection* queueLock = nullptr;

    juce::SpinLock overflowLock;
    Overflow overflow;
    std::atomic<bool> overflowPending{false};

    // When the stop was asked for, in milliseconds of the framework's counter; 0 while none was.
    std::atomic<uint32_t> stopRequestedAt{0};

    JUCE_DECLARE_NON_COPYABLE(VolumeLevelThread)
};
