// Helpers for the device tests (beside the shared SimulatedMachine fixture): capture of the process's
// standard output and error, and a recording event receiver standing in for the panel.
#pragma once

#include "DeviceIdentity.h"
#include "Scratch.h"
#include "SimulatedMachine.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

// Redirects the stdout and stderr file descriptors into temporary files while it is active.
class OutputCapture
{
public:
    OutputCapture();
    ~OutputCapture();

    // Ends the capture (once) and keeps what was written.
    void stop();

    const std::string& out();
    const std::string& err();

private:
    struct Stream
    {
        int fd = -1;
        int saved = -1;
        std::string path;
        std::string text;
    };

    void begin(Stream& stream, int fd);
    void end(Stream& stream);

    // Holds the files the two streams go to while captured.
    pelktest::ScratchFolder folder{"pelk-device-capture"};
    Stream stdoutStream;
    Stream stderrStream;
    bool active = false;
};

using Events = std::vector<ORV_CallbackEvent>;

// Failure messages name the event instead of printing its number.
void PrintTo(ORV_CallbackEvent event, std::ostream* os);

struct RecordedEvent
{
    void* owner;
    void* argument;
    ORV_CallbackEvent event;
    std::thread::id thread;
};

// Fills mydeviceStruct with the interface's identifiers and names and itself as owner, and records
// every event it receives.
class EventRecorder
{
public:
    EventRecorder();
    ~EventRecorder();

    std::vector<RecordedEvent> events() const;
    std::vector<ORV_CallbackEvent> codes() const;

    // An action run inside the callback, for tests that look at the state while an event is handled.
    std::function<void(ORV_CallbackEvent)> onEvent;

    static void callback(void* owner, void* argument, ORV_CallbackEvent event);

private:
    mutable std::mutex mutex;
    std::vector<RecordedEvent> received;
};

namespace sim = platform::sim;
using pelktest::waitUntil;

// pelktest::freshMachine(), and the device layer's handles into the old world (audio device ids, the held
// USB device, the power and notification handles) cleared with it. The owner record (mydeviceStruct)
// belongs to the test's stand-in for the panel and is left as it is.
void freshDeviceMachine(const sim::Config& config = {});

// The shared simulated-machine fixture for tests of the device layer.
class DeviceMachine : public pelktest::SimulatedMachine
{
protected:
    void resetWorld(const sim::Config& config) override { freshDeviceMachine(config); }
};
using SimulatedMachine = DeviceMachine;

// The kernel ids of this process's threads.
std::vector<pid_t> threadIds();
// The threads in threadIds() now but not in before.
std::vector<pid_t> newThreads(const std::vector<pid_t>& before);
// Whether the thread with this kernel id is asleep, blocked in a wait (state S).
bool threadSleeps(pid_t thread);

// The data bytes of the requests made since index first.
std::vector<int> dataBytesFrom(size_t first);

// Four lines of the raw road at a first start with the interface present.
std::string rawStartLines(bool present);
