// Device events from the notification threads, handed to the message thread.
#pragma once

#include <functional>

// Runs the handler of an event delivered to owner on the message thread, while mydeviceStruct names owner,
// so that it is shut out from all other message-thread work. On the message thread it runs at once. From
// any other thread the event goes to the message thread as a posted message, and the calling thread waits
// until the handler has run there; it gives up (and the event is dropped) when the record no longer names
// owner, when the event loop has stopped, or when there is no message manager, before the handler started.
// Returns whether the handler ran.
bool runDeviceEventOnMessageThread(void* owner, const std::function<void()>& handler);

// Wakes every thread still waiting for its event to be handled, so that it sees a cleared owner and gives
// up. Called right after the owner is cleared.
void wakeWaitingDeviceEvents();
