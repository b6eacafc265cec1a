// The main run loop and the others: which notification ports deliver, and in which modes.

#include "World.h"

using namespace platform::sim;
using namespace platform::sim::detail;
using platform::violation;

// ---- Run loops ----

static __CFRunLoop mainLoop{true};
static __CFRunLoop otherLoop{false};

CFRunLoopRef CFRunLoopGetCurrent()
{
    Lock lock(mutex());
    return isMainThread(world()) ? &mainLoop : &otherLoop;
}

CFRunLoopRef CFRunLoopGetMain()
{
    return &mainLoop;
}

static IONotificationPort* portOfSource(World& w, CFRunLoopSourceRef source)
{
    for (auto* p : w.ports)
        if (&p->source == source)
            return p;
    return nullptr;
}

static bool servicedMode(CFStringRef mode)
{
    const std::string name = platform::toStdString(mode);
    return name == "kCFRunLoopDefaultMode" || name == "kCFRunLoopCommonModes";
}

// The port behind source when loop, source and mode are all known; null (and a violation naming call)
// otherwise.
static IONotificationPort* knownSource(World& w, CFRunLoopRef loop, CFRunLoopSourceRef source,
                                       CFStringRef mode, const char* call)
{
    IONotificationPort* port = portOfSource(w, source);
    if ((loop != &mainLoop && loop != &otherLoop) || port == nullptr || platform::cf::live(mode) == nullptr)
    {
        violation(std::string(call) + ": null or unknown loop, source or mode");
        return nullptr;
    }
    return port;
}

void CFRunLoopAddSource(CFRunLoopRef loop, CFRunLoopSourceRef source, CFStringRef mode)
{
    Lock lock(mutex());
    World& w = world();
    IONotificationPort* port = knownSource(w, loop, source, mode, "CFRunLoopAddSource");
    if (port != nullptr && loop == &mainLoop && servicedMode(mode))
        attachPort(w, port);
}

void CFRunLoopRemoveSource(CFRunLoopRef loop, CFRunLoopSourceRef source, CFStringRef mode)
{
    Lock lock(mutex());
    World& w = world();
    IONotificationPort* port = knownSource(w, loop, source, mode, "CFRunLoopRemoveSource");
    if (port != nullptr && loop == &mainLoop)
        port->attached = false;
}
