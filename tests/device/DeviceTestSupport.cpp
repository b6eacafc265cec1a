#include "DeviceTestSupport.h"

#include "RegisterDeviceCallBacksMac.h"
#include "USBCommands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

OutputCapture::OutputCapture()
{
    begin(stdoutStream, STDOUT_FILENO);
    begin(stderrStream, STDERR_FILENO);
    active = true;
}

OutputCapture::~OutputCapture()
{
    stop();
}

void OutputCapture::begin(Stream& stream, int fd)
{
    std::fflush(fd == STDOUT_FILENO ? stdout : stderr);
    stream.path = folder.child(fd == STDOUT_FILENO ? "stdout" : "stderr").getFullPathName().toStdString();
    const int file = ::open(stream.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    stream.fd = fd;
    stream.saved = dup(fd);
    dup2(file, fd);
    close(file);
}

void OutputCapture::end(Stream& stream)
{
    std::fflush(stream.fd == STDOUT_FILENO ? stdout : stderr);
    dup2(stream.saved, stream.fd);
    close(stream.saved);
    std::ifstream file(stream.path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    stream.text = text.str();
}

void OutputCapture::stop()
{
    if (!active)
        return;
    active = false;
    end(stdoutStream);
    end(stderrStream);
}

const std::string& OutputCapture::out()
{
    stop();
    return stdoutStream.text;
}

const std::string& OutputCapture::err()
{
    stop();
    return stderrStream.text;
}

namespace
{
EventRecorder* currentRecorder = nullptr;
}

EventRecorder::EventRecorder()
{
    currentRecorder = this;
    setInterfaceIdentity(&EventRecorder::callback, this);
}

EventRecorder::~EventRecorder()
{
    mydeviceStruct.owner = nullptr;
    currentRecorder = nullptr;
}

void EventRecorder::callback(void* owner, void* argument, ORV_CallbackEvent event)
{
    auto* recorder = static_cast<EventRecorder*>(owner);
    EXPECT_EQ(recorder, currentRecorder);
    EXPECT_EQ(argument, nullptr);
    EXPECT_NE(static_cast<int>(event), 4);
    if (recorder == nullptr)
        return;
    {
        std::lock_guard<std::mutex> guard(recorder->mutex);
        recorder->received.push_back({owner, argument, event, std::this_thread::get_id()});
    }
    if (recorder->onEvent)
        recorder->onEvent(event);
}

std::vector<RecordedEvent> EventRecorder::events() const
{
    std::lock_guard<std::mutex> guard(mutex);
    return received;
}

Events EventRecorder::codes() const
{
    Events result;
    for (const auto& e : events())
        result.push_back(e.event);
    return result;
}

void PrintTo(ORV_CallbackEvent event, std::ostream* os)
{
    switch (event)
    {
        case ORV_EVENT_DEVICE_READY:
            *os << "ORV_EVENT_DEVICE_READY";
            return;
        case ORV_EVENT_DEVICE_REMOVED:
            *os << "ORV_EVENT_DEVICE_REMOVED";
            return;
        case ORV_EVENT_AUDIO_PROPERTY_CHANGED:
            *os << "ORV_EVENT_AUDIO_PROPERTY_CHANGED";
            return;
        case ORV_EVENT_SYSTEM_WILL_SLEEP:
            *os << "ORV_EVENT_SYSTEM_WILL_SLEEP";
            return;
        case ORV_EVENT_SYSTEM_WILL_POWER_ON:
            *os << "ORV_EVENT_SYSTEM_WILL_POWER_ON";
            return;
        case ORV_EVENT_SYSTEM_HAS_POWERED_ON:
            *os << "ORV_EVENT_SYSTEM_HAS_POWERED_ON";
            return;
    }
    *os << "event " << static_cast<int>(event);
}

std::vector<int> dataBytesFrom(size_t first)
{
    const std::vector<int> all = sim::usbDataBytes();
    return first < all.size() ? std::vector<int>(all.begin() + static_cast<std::ptrdiff_t>(first), all.end())
                              : std::vector<int>();
}

std::string rawStartLines(bool present)
{
    std::string lines =
        "Raw Device Removed called....\nRaw Device Removed called....\nRaw Device Added called....\n";
    if (present)
        lines += "device (vendor = 7E57, product = 1 , realse = 100)\n"
                 "Found device (vendor = 32343, product = 1, release = 256)\n";
    return lines;
}

void freshDeviceMachine(const sim::Config& config)
{
    pelktest::freshMachine(config);
    gInAudioObjectID = 0;
    gOutAudioObjectID = 0;
    gUSBdevice = nullptr;
    root_port = 0;
    gMasterDevicePort = 0;
    gRunLoopSource = nullptr;
}

namespace
{
std::string firstLine(const std::string& path)
{
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}
} // namespace

std::vector<pid_t> threadIds()
{
    std::vector<pid_t> ids;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr)
        return ids;
    while (dirent* entry = readdir(tasks))
        if (entry->d_name[0] != '.')
            ids.push_back(static_cast<pid_t>(std::stol(entry->d_name)));
    closedir(tasks);
    return ids;
}

std::vector<pid_t> newThreads(const std::vector<pid_t>& before)
{
    std::vector<pid_t> added;
    for (pid_t id : threadIds())
        if (std::find(before.begin(), before.end(), id) == before.end())
            added.push_back(id);
    return added;
}

bool threadSleeps(pid_t thread)
{
    // The state follows the name in parentheses, which may itself hold spaces or parentheses.
    const std::string line = firstLine("/proc/self/task/" + std::to_string(thread) + "/stat");
    const auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'S';
}
