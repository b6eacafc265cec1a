#include "DeviceEventHandOff.h"

#include "DeviceIdentity.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace
{
// One event on its way to the message thread. The waiting thread may give up and leave while the message
// is still queued, and the message may run after the waiter has left: each holds it by shared ownership,
// so neither ever touches what the other has destroyed.
struct PendingEvent
{
    enum class Stage
    {
        queued,   // the message has not run yet
        running,  // the handler runs on the message thread
        finished, // the message has run, with or without the handler
        abandoned // the waiter gave up first: the message does nothing
    };

    std::mutex mutex;
    std::condition_variable changed;
    Stage stage = Stage::queued;
    bool handled = false;
};

// The events whose threads are waiting, for wakeWaitingDeviceEvents().
std::mutex& waitingMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::vector<std::shared_ptr<PendingEvent>>& waitingEvents()
{
    static std::vector<std::shared_ptr<PendingEvent>> events;
    return events;
}

bool ownerIsCurrent(void* owner)
{
    return mydeviceStruct.owner.load() == owner;
}

bool eventLoopGone()
{
    auto* manager = juce::MessageManager::getInstanceWithoutCreating();
    return manager == nullptr || manager->hasStopMessageBeenSent();
}

// The posted message's work, on the message thread.
void runPending(PendingEvent& pending, void* owner, const std::function<void()>& handler)
{
    {
        const std::lock_guard<std::mutex> guard(pending.mutex);
        if (pending.stage != PendingEvent::Stage::queued)
            return;
        if (!ownerIsCurrent(owner))
        {
            pending.stage = PendingEvent::Stage::finished;
            pending.changed.notify_all();
            return;
        }
        pending.stage = PendingEvent::Stage::running;
    }

    // The waiter is told even when the handler throws.
    struct Finish
    {
        PendingEvent& pending;
        ~Finish()
        {
            const std::lock_guard<std::mutex> guard(pending.mutex);
            pending.stage = PendingEvent::Stage::finished;
            pending.handled = true;
            pending.changed.notify_all();
        }
    } finish{pending};
    handler();
}
} // namespace

bool runDeviceEventOnMessageThread(void* owner, const std::function<void()>& handler)
{
    if (owner == nullptr)
        return false;

    // The message thread runs the handler itself, whether or not its loop is still running.
    auto* manager = juce::MessageManager::getInstanceWithoutCreating();
    if (manager != nullptr && manager->isThisTheMessageThread())
    {
        if (!ownerIsCurrent(owner))
            return false;
        handler();
        return true;
    }

    if (!ownerIsCurrent(owner) || eventLoopGone())
        return false;

    auto pending = std::make_shared<PendingEvent>();
    {
        const std::lock_guard<std::mutex> guard(waitingMutex());
        waitingEvents().push_back(pending);
    }

    // The message fails to post once the loop has been told to stop.
    const bool posted =
        juce::MessageManager::callAsync([pending, owner, handler] { runPending(*pending, owner, handler); });
    bool handled = false;
    {
        std::unique_lock<std::mutex> lock(pending->mutex);
        if (!posted)
            pending->stage = PendingEvent::Stage::abandoned;
        // A cleared owner wakes this thread at once; a stopped loop is noticed within one interval.
        while (pending->stage == PendingEvent::Stage::queued ||
               pending->stage == PendingEvent::Stage::running)
        {
            if (pending->stage == PendingEvent::Stage::queued && (!ownerIsCurrent(owner) || eventLoopGone()))
            {
                pending->stage = PendingEvent::Stage::abandoned;
                break;
            }
            pending->changed.wait_for(lock, std::chrono::milliseconds(10));
        }
        handled = pending->handled;
    }

    const std::lock_guard<std::mutex> guard(waitingMutex());
    auto& waiting = waitingEvents();
    waiting.erase(std::remove(waiting.begin(), waiting.end(), pending), waiting.end());
    return handled;
}

void wakeWaitingDeviceEvents()
{
    const std::lock_guard<std::mutex> guard(waitingMutex());
    for (const auto& pending : waitingEvents())
    {
        const std::lock_guard<std::mutex> eventGuard(pending->mutex);
        pending->changed.notify_all();
    }
}
