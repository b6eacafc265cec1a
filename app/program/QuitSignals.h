#pragma once

#include <functional>

// Turns SIGTERM and SIGHUP (a logout, a `kill`) into a call on the message thread, so the program ends
// through its normal quit path and keeps its window state and pending settings. The handler only writes
// one byte to a non-blocking pipe (async-signal-safe); the read end is watched by JUCE's event loop, so a
// signal that comes before the loop runs acts as soon as it starts. One instance at a time.
namespace pelk::program
{
class QuitSignals
{
public:
    explicit QuitSignals(std::function<void()> onQuitRequest);
    ~QuitSignals();

    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

    bool isActive() const { return readFd >= 0; }

private:
    void drain();

    std::function<void()> onQuit;
    int readFd = -1;
    int writeFd = -1;
};
} // namespace pelk::program
