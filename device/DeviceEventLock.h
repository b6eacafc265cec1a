// The message-thread lock for a device event receiver.
#pragma once

#include <juce_events/juce_events.h>

// Takes the framework's message-thread lock for an event delivered to owner, retrying until it holds it,
// but giving up (and so dropping the event) once the record no longer names owner, once the event loop
// has stopped, or when there is no message manager. isLocked() tells whether the receiver may go on.
class DeviceEventLock
{
public:
    explicit DeviceEventLock(void* owner);
    ~DeviceEventLock();

    bool isLocked() const noexcept { return locked; }

    // Wakes every receiver still waiting for the lock, so that it sees a cleared owner and gives up.
    static void abortPendingLocks();

private:
    juce::MessageManager::Lock lock;
    bool locked = false;

    JUCE_DECLARE_NON_COPYABLE(DeviceEventLock)
};
