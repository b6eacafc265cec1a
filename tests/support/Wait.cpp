#include "Wait.h"

#include <juce_events/juce_events.h>

#include <fstream>
#include <memory>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace pelktest
{
bool waitUntil(const std::function<bool()>& condition, Milliseconds timeout, Milliseconds every)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;)
    {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(every);
    }
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    return waitUntil(condition, Milliseconds(timeoutMs));
}

bool pumpUntil(const std::function<bool()>& condition, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + Milliseconds(timeoutMs);
    while (!condition())
    {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        juce::MessageManager::getInstance()->runDispatchLoopUntil(2);
    }
    return true;
}

namespace
{
void postMarker(std::shared_ptr<int> left)
{
    juce::MessageManager::callAsync(
        [left]
        {
            if (--*left > 0)
                postMarker(left);
        });
}
} // namespace

bool drainMessageLoop(int depth, int timeoutMs)
{
    // Shared, so a marker that runs after a time-out finds its count still there.
    auto left = std::make_shared<int>(depth);
    postMarker(left);
    return pumpUntil([left] { return *left <= 0; }, timeoutMs);
}

pid_t currentThreadId()
{
    return (pid_t)::syscall(SYS_gettid);
}

bool blockedIn(pid_t thread, std::initializer_list<long> systemCalls)
{
    // The first field is the number of the call the thread is blocked in ("running" when it is not).
    std::ifstream file("/proc/self/task/" + std::to_string(thread) + "/syscall");
    long number = -1;
    if (thread <= 0 || !(file >> number))
        return false;
    for (const long call : systemCalls)
        if (number == call)
            return true;
    return false;
}

bool blockedInSleep(pid_t thread)
{
    return blockedIn(thread, {SYS_nanosleep, SYS_clock_nanosleep});
}

bool blockedInPoll(pid_t thread)
{
    return blockedIn(thread, {SYS_poll, SYS_ppoll});
}
} // namespace pelktest
