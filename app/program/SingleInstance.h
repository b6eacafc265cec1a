#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// One running instance per user: an exclusive flock on "<folder>/Pelk VOD Panel.lock" marks the running
// instance, and a Unix socket "<folder>/Pelk VOD Panel.sock" beside it carries a later launch's command
// line to it. The folder is the first usable one of the candidates, made private to the user (0700).
// Everything is opened close-on-exec; both ends check the other's user id; a message is bounded in
// length and in time, so a broken or hostile sender never blocks the running instance for long and a
// second launch never hangs.
namespace pelk::program
{
class SingleInstance
{
public:
    using Clock = std::chrono::steady_clock;

    enum class Role
    {
        first,      // this process holds the lock and listens
        handedOver, // another instance runs; the command line went to it (or could not be delivered)
        alone       // no usable folder or socket: runs without the single-instance guard
    };

    struct Limits
    {
        size_t maxMessageBytes = 64 * 1024;
        int senderWaitMs = 3000; // how long a second launch keeps trying to take the lock or to connect
        // The bound of a second launch's whole wait, from its first try to the running instance's answer.
        // The instance answers once its start-up is over, which may take several seconds (the plug
        // search); while its queue of launches is full, the launch retries within this bound.
        int answerWaitMs = 10000;
        int receiverWaitMs = 1000; // how long the running instance waits for one sender's message
    };

    // The candidate folders in order: "$XDG_RUNTIME_DIR/Pelk VOD Panel" when that variable names an
    // absolute, writable folder, then the given settings folder.
    static std::vector<juce::File> defaultFolders(const juce::File& settingsFolder);

    SingleInstance(std::vector<juce::File> candidateFolders, Limits limits);
    explicit SingleInstance(std::vector<juce::File> candidateFolders)
        : SingleInstance(std::move(candidateFolders), Limits())
    {
    }
    ~SingleInstance();

    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock, or hands the command line to the instance that holds it.
    Role claim(const juce::String& commandLine);

    // First instance: accepts later launches on a background thread; each command line received is
    // passed to the receiver on the message thread.
    void startListening(std::function<void(const juce::String&)> receiver);

    // From now on a later launch is told that this instance is ending, and waits to take the lock over
    // instead of handing its command line to an event loop that will not run it. Call it on the message
    // thread before stopping the event loop: every command line taken before it is already queued ahead
    // of the stop.
    void stopAccepting();

    // Stops listening, removes the socket and lets the lock go.
    void release();

    // As release(), and removes the lock file too, and the folder when this launch made it: for a start
    // that ends before the program ran, leaving nothing behind.
    void releaseAndRemove();

    // Lines for standard error about anything that did not go as planned.
    const juce::StringArray& diagnostics() const { return notes; }

    juce::File folder() const { return chosenFolder; }

private:
    enum class Claim
    {
        locked,     // this process took the lock
        handedOver, // the command line went to the instance that holds it, or could not be delivered
        unusable    // the lock cannot be taken in this folder: try the next one
    };
    // Tries the lock, and hands the command line over while another instance holds it, until one of them
    // succeeds or the wait is over.
    Claim lockOrHandOver(int lock, const std::string& text);
    // The socket for later launches, and the pipe that wakes its listener; on failure neither is left.
    bool bindSocket();
    enum class HandOver
    {
        taken,        // the running instance took the command line
        notListening, // nothing accepts connections on the socket: try the lock again
        busy,         // the instance's queue of launches is full: try again
        ending,       // the instance answered that it is ending, or closed without an answer: it is going
        unanswered,   // no answer by the deadline: the command line was withdrawn
        refused,      // the instance on the socket belongs to another user: it gets nothing
        garbled,      // the instance answered something that is no answer
        unreachable   // no socket address for the folder
    };
    // One connection: the command line goes over and the answer is awaited until answerDeadline.
    HandOver handOverOnce(const std::string& text, Clock::time_point answerDeadline);
    void listenLoop();
    void serveOne(int connection);

    std::vector<juce::File> candidates;
    Limits limits;
    juce::File chosenFolder;
    juce::StringArray notes;

    int lockFd = -1;
    int dirFd = -1;
    bool madeFolder = false; // the folder did not exist before this launch made it
    int listenFd = -1;
    int wakePipe[2] = {-1, -1};
    std::string socketAddress; // the path bound, possibly through /proc/self/fd
    std::thread listener;
    std::function<void(const juce::String&)> onMessage;
    std::mutex acceptingLock; // taken while a command line is queued for the message thread
    bool accepting = true;
    std::shared_ptr<std::atomic<bool>> alive = std::make_shared<std::atomic<bool>>(true);
};

// The address a socket in the folder open as dirFd is reached by: its path when that fits a Unix socket
// address, else the shorter path through the process's descriptor table, else empty.
std::string socketAddressFor(const juce::File& folder, int dirFd, const char* fileName);
} // namespace pelk::program
