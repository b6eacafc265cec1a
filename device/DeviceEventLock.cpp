#include "DeviceEventLock.h"

#include "DeviceIdentity.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace
{
std::mutex& pendingMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::vector<const juce::MessageManager::Lock*>& pendingLocks()
{
    static std::vector<const juce::MessageManager::Lock*> locks;
    return locks;
}

bool eventLoopGone()
{
    auto* manager = juce::MessageManager::getInstanceWithoutCreating();
    return manager == nullptr || manager->hasStopMessageBeenSent();
}
} // namespace

DeviceEventLock::DeviceEventLock(void* owner)
{
    // The message thread holds the lock already, whether or not its loop is still running.
    auto* manager = juce::MessageManager::getInstanceWithoutCreating();
    if (manager != nullptr && manager->isThisTheMessageThread())
    {
        locked = owner != nullptr && mydeviceStruct.owner.load() == owner;
        return;
    }

    {
        std::lock_guard<std::mutex> guard(pendingMutex());
        pendingLocks().push_back(&lock);
    }

    while (owner != nullptr && mydeviceStruct.owner.load() == owner && !eventLoopGone())
    {
        if (lock.tryEnter())
        {
            // The owner may have been cleared while this thread waited.
            locked = mydeviceStruct.owner.load() == owner;
            if (!locked)
                lock.exit();
            break;
        }
    }

    std::lock_guard<std::mutex> guard(pendingMutex());
    auto& locks = pendingLocks();
    locks.erase(std::remove(locks.begin(), locks.end(), &lock), locks.end());
}

DeviceEventLock::~DeviceEventLock()
{
    if (locked)
        lock.exit();
}

void DeviceEventLock::abortPendingLocks()
{
    std::lock_guard<std::mutex> guard(pendingMutex());
    for (const juce::MessageManager::Lock* pending : pendingLocks())
        pending->abort();
}
