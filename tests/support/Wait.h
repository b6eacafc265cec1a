// Waiting on conditions, never for a while: every wait in the tests names what it waits for and gives up
// after a time-out, so a loaded machine only makes a test slower and a fast one never makes it test less.
#pragma once

#include <chrono>
#include <functional>
#include <initializer_list>
#include <sys/types.h>

namespace pelktest
{
using Milliseconds = std::chrono::milliseconds;

// Checks the condition every `every` (sleeping in between, for conditions another thread or process makes
// true) until it holds or the time-out passes; returns whether it holds.
bool waitUntil(const std::function<bool()>& condition, Milliseconds timeout = Milliseconds(10000),
               Milliseconds every = Milliseconds(1));
bool waitUntil(const std::function<bool()>& condition, int timeoutMs);

// Runs the message loop until the condition holds or the time-out passes; returns whether it holds. On the
// message thread only.
bool pumpUntil(const std::function<bool()>& condition, int timeoutMs = 5000);

// Runs the message loop until a chain of markers has run: the first is posted now, each one posts the next
// when it runs, `depth` in all. Everything posted before the first has run then, and what that posted in
// turn, up to `depth` steps deep (a click that posts a broadcast that posts a command, say). False when the
// chain did not end within the time-out. Timers are not covered: a test waits for a timer's effect, or for
// the timer to stop.
bool drainMessageLoop(int depth = 4, int timeoutMs = 5000);

// The kernel id of the calling thread, and whether a thread of this process is blocked now in one of the
// given system calls (SYS_... numbers): a thread that waits on purpose is seen waiting, never guessed.
pid_t currentThreadId();
bool blockedIn(pid_t thread, std::initializer_list<long> systemCalls);
// blockedIn() for a timed sleep (nanosleep, clock_nanosleep) and for a poll (poll, ppoll).
bool blockedInSleep(pid_t thread);
bool blockedInPoll(pid_t thread);
} // namespace pelktest
