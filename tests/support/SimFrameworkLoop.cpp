// The framework's message loop as the simulator's main-thread loop, installed before main() in every test
// that links the control surface: a world reset with MainLoop::juce posts its deliveries to the message
// loop, and waitAudioIdle() on the message thread keeps that loop going. A test may install another one.

#include "SimControl.h"

#include <juce_events/juce_events.h>

namespace
{
const bool installed = []
{
    platform::sim::MainThreadLoop loop;
    loop.post = [](std::function<void()> call) { juce::MessageManager::callAsync(std::move(call)); };
    loop.isLoopThread = []() -> std::optional<bool>
    {
        if (auto* manager = juce::MessageManager::getInstanceWithoutCreating())
            return manager->isThisTheMessageThread();
        return std::nullopt;
    };
    loop.runFor = [](int milliseconds)
    {
        if (auto* manager = juce::MessageManager::getInstanceWithoutCreating())
            manager->runDispatchLoopUntil(milliseconds);
    };
    platform::sim::setMainThreadLoop(std::move(loop));
    return true;
}();
} // namespace
