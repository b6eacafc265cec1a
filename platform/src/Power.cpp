// System power through IOKit: registration, messages delivered on the main run loop, and their
// acknowledgement or cancellation.

#include "World.h"

using namespace platform::sim;
using namespace platform::sim::detail;
using platform::violation;

namespace
{
constexpr io_service_t kRootDomain = 0x0F01;
} // namespace

namespace platform::sim::detail
{
void sendPowerLocked(World& w, UInt32 messageType)
{
    for (auto& [connection, p] : w.power)
    {
        if (!p.active)
            continue;
        const io_connect_t handle = connection;
        postToPort(w, p.port,
                   [handle, messageType]
                   {
                       Lock lock(mutex());
                       World& current = world();
                       auto it = current.power.find(handle);
                       if (it == current.power.end() || !it->second.active ||
                           !livePort(current, it->second.port))
                           return;
                       const intptr_t id = current.nextNotificationId++;
                       current.pendingAcks[id] = messageType;
                       auto callback = it->second.callback;
                       void* refCon = it->second.refCon;
                       lock.unlock();
                       callback(refCon, kRootDomain, messageType, reinterpret_cast<void*>(id));
                   });
    }
}
} // namespace platform::sim::detail

// ---- Power ----

io_connect_t IORegisterForSystemPower(void* refCon, IONotificationPortRef* port,
                                      IOServiceInterestCallback callback, io_object_t* notifier)
{
    if (port != nullptr)
        *port = nullptr;
    if (notifier != nullptr)
        *notifier = 0;
    if (port == nullptr || callback == nullptr || notifier == nullptr)
    {
        violation("IORegisterForSystemPower: null port output, handler or notifier output");
        return 0;
    }
    Lock lock(mutex());
    World& w = world();
    if (takeFault(w, Step::powerRegistration))
        return 0;
    PowerRegistration p;
    p.port = makePort(w);
    p.callback = callback;
    p.refCon = refCon;
    p.notifier = newHandle();
    const io_connect_t connection = newHandle();
    w.power[connection] = p;
    *port = p.port;
    *notifier = p.notifier;
    return connection;
}

IOReturn IODeregisterForSystemPower(io_object_t* notifier)
{
    if (notifier == nullptr)
        return badArgument("IODeregisterForSystemPower: null notifier");
    Lock lock(mutex());
    for (auto& [connection, p] : world().power)
        if (p.notifier == *notifier && p.active && *notifier != 0)
        {
            p.active = false;
            *notifier = 0;
            return kIOReturnSuccess;
        }
    return badArgument("IODeregisterForSystemPower: unknown notifier");
}

// Takes the acknowledgement or cancellation of a pending power message; only an acknowledgement is
// recorded as one.
static IOReturn answerPower(io_connect_t rootPort, intptr_t notificationID, const char* what, bool allow)
{
    Lock lock(mutex());
    World& w = world();
    if (w.power.count(rootPort) == 0)
        return badArgument(std::string(what) + ": unknown root port");
    auto it = w.pendingAcks.find(notificationID);
    if (it == w.pendingAcks.end())
        return badArgument(std::string(what) + ": unknown notification id");
    const UInt32 message = it->second;
    w.pendingAcks.erase(it);
    if (allow)
    {
        w.acks.push_back(message);
        journalLine(w, "power-ack " + hex(message));
    }
    return kIOReturnSuccess;
}

IOReturn IOAllowPowerChange(io_connect_t rootPort, intptr_t notificationID)
{
    return answerPower(rootPort, notificationID, "IOAllowPowerChange", true);
}

IOReturn IOCancelPowerChange(io_connect_t rootPort, intptr_t notificationID)
{
    return answerPower(rootPort, notificationID, "IOCancelPowerChange", false);
}

kern_return_t IOServiceClose(io_connect_t connection)
{
    Lock lock(mutex());
    World& w = world();
    auto it = w.power.find(connection);
    if (it == w.power.end())
        return badArgument("IOServiceClose: unknown connection");
    it->second.active = false;
    return kIOReturnSuccess;
}
