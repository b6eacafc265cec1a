#include "QuitSignals.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace pelk::program
{
namespace
{
std::atomic<int> signalPipeWriteFd{-1};

extern "C" void onQuitSignal(int)
{
    const int savedErrno = errno;
    const int fd = signalPipeWriteFd.load(std::memory_order_relaxed);
    if (fd >= 0)
    {
        const char byte = 'q';
        [[maybe_unused]] const auto written = ::write(fd, &byte, 1); // a full pipe already holds a request
    }
    errno = savedErrno;
}

void setHandler(int signalNumber, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signalNumber, &action, nullptr);
}
} // namespace

QuitSignals::QuitSignals(std::function<void()> onQuitRequest) : onQuit(std::move(onQuitRequest))
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;

    readFd = fds[0];
    writeFd = fds[1];
    signalPipeWriteFd.store(writeFd);

    juce::LinuxEventLoop::registerFdCallback(readFd, [this](int) { drain(); });

    setHandler(SIGTERM, onQuitSignal);
    setHandler(SIGHUP, onQuitSignal);
}

QuitSignals::~QuitSignals()
{
    if (readFd < 0)
        return;

    setHandler(SIGTERM, SIG_DFL);
    setHandler(SIGHUP, SIG_DFL);
    signalPipeWriteFd.store(-1);

    juce::LinuxEventLoop::unregisterFdCallback(readFd);
    ::close(readFd);
    ::close(writeFd);
}

void QuitSignals::drain()
{
    char buffer[64];
    bool requested = false;
    while (::read(readFd, buffer, sizeof(buffer)) > 0)
        requested = true;

    if (requested && onQuit)
        onQuit();
}
} // namespace pelk::program
