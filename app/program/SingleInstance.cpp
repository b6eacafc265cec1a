#include "SingleInstance.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace pelk::program
{
namespace
{
constexpr const char* lockName = "Pelk VOD Panel.lock";
constexpr const char* socketName = "Pelk VOD Panel.sock";
constexpr char magic[4] = {'P', 'V', 'P', '1'};
constexpr char answer[3] = {'o', 'k', '\n'};
constexpr char ending[3] = {'n', 'o', '\n'}; // the instance is ending and takes nothing more

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline)
{
    // Rounded up, so that a wait never ends before its deadline.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? (int) left : 0;
}

// Waits for the descriptor to become ready for the events; false on time-out or error.
bool waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;)
    {
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, msLeft(deadline));
        if (r > 0)
            return (p.revents & (events | POLLHUP)) != 0 && (p.revents & POLLNVAL) == 0;
        if (r == 0 || errno != EINTR)
            return false;
    }
}

// Reads until `got` reaches n bytes or the deadline passes; false on end of stream, error or time-out.
bool readUpTo(int fd, char* data, size_t n, size_t& got, Clock::time_point deadline)
{
    while (got < n)
    {
        const auto r = ::recv(fd, data + got, n - got, 0);
        if (r > 0)
        {
            got += (size_t) r;
            continue;
        }
        if (r == 0)
            return false;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        if (!waitFor(fd, POLLIN, deadline))
            return false;
    }
    return true;
}

// Reads exactly n bytes before the deadline; false on end of stream, error or time-out.
bool readExactly(int fd, char* data, size_t n, Clock::time_point deadline)
{
    size_t got = 0;
    return readUpTo(fd, data, n, got, deadline);
}

bool writeAll(int fd, const char* data, size_t n, Clock::time_point deadline)
{
    size_t sent = 0;
    while (sent < n)
    {
        const auto r = ::send(fd, data + sent, n - sent, MSG_NOSIGNAL);
        if (r > 0)
        {
            sent += (size_t) r;
            continue;
        }
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(fd, POLLOUT, deadline))
            continue;
        return false;
    }
    return true;
}

// One short reply into a fresh connection, without waiting: true only when all of it went.
bool sendAtOnce(int fd, const char* data, size_t n)
{
    ssize_t r;
    do
        r = ::send(fd, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    while (r < 0 && errno == EINTR);
    return r == (ssize_t) n;
}

juce::String secondsText(int ms)
{
    return (ms % 1000 == 0 ? juce::String(ms / 1000) : juce::String(ms / 1000.0, 1)) + " s";
}

// The user id of the process at the other end of a connected socket, or nothing.
std::optional<uid_t> peerUser(int fd)
{
    ucred cred{};
    socklen_t len = sizeof(cred);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0)
        return std::nullopt;
    return cred.uid;
}

bool peerIsThisUser(int fd)
{
    return peerUser(fd) == ::geteuid();
}

bool fillAddress(sockaddr_un& address, const std::string& path)
{
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

juce::String folderText(const juce::File& f)
{
    return "\"" + f.getFullPathName() + "\"";
}

// Owns a descriptor and closes it when it goes, unless it was released first.
class Descriptor
{
public:
    explicit Descriptor(int owned = -1) noexcept : fd(owned) {}
    Descriptor(Descriptor&& other) noexcept : fd(other.release()) {}
    Descriptor& operator=(Descriptor&&) = delete;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }

    int get() const noexcept { return fd; }
    bool valid() const noexcept { return fd >= 0; }
    int release() noexcept { return std::exchange(fd, -1); }

private:
    int fd;
};

// Creates the folder (and its parents) if need be and opens it, when it is a real folder of this user's,
// made private to the user (0700); an invalid descriptor otherwise.
Descriptor openPrivateFolder(const juce::File& dir, bool& made)
{
    const auto path = dir.getFullPathName().toStdString();
    made = false;
    if (!dir.getParentDirectory().createDirectory())
        return Descriptor();
    if (::mkdir(path.c_str(), 0700) == 0)
        made = true;
    else if (errno != EEXIST)
        return Descriptor();

    Descriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.valid())
        return folder;

    struct stat st
    {
    };
    if (::fstat(folder.get(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
        ((st.st_mode & 077) != 0 && ::fchmod(folder.get(), 0700) != 0))
        return Descriptor();
    return folder;
}

// Takes the exclusive lock without waiting: 0, or the error that kept it from being taken.
int tryLock(int lockFd)
{
    int r;
    do
        r = ::flock(lockFd, LOCK_EX | LOCK_NB);
    while (r != 0 && errno == EINTR);
    return r == 0 ? 0 : errno;
}

// Whether the locked descriptor is still the file the folder names: a start that ended before it ran
// removes its lock file, so a launch that waited on the old file must take the lock of the new one.
bool isNamedLock(int lockFd, int folderFd)
{
    struct stat held
    {
    };
    struct stat named
    {
    };
    return ::fstat(lockFd, &held) == 0 && ::fstatat(folderFd, lockName, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}
} // namespace

std::string socketAddressFor(const juce::File& folder, int folderFd, const char* fileName)
{
    const std::string direct = (folder.getFullPathName() + "/" + fileName).toStdString();
    if (direct.size() < sizeof(sockaddr_un::sun_path))
        return direct;

    // A deep folder: /proc/self/fd/N names the same folder in a few bytes, and both bind and connect
    // resolve through it.
    if (folderFd >= 0 && ::access("/proc/self/fd", X_OK) == 0)
    {
        const std::string viaFd = "/proc/self/fd/" + std::to_string(folderFd) + "/" + fileName;
        if (viaFd.size() < sizeof(sockaddr_un::sun_path))
            return viaFd;
    }
    return {};
}

std::vector<juce::File> SingleInstance::defaultFolders(const juce::File& settingsFolder)
{
    std::vector<juce::File> folders;

    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/')
    {
        const juce::File dir(runtime);
        if (dir.isDirectory() && ::access(runtime, W_OK | X_OK) == 0)
            folders.push_back(dir.getChildFile("Pelk VOD Panel"));
    }

    folders.push_back(settingsFolder);
    return folders;
}

SingleInstance::SingleInstance(std::vector<juce::File> candidateFolders, Limits l)
    : candidates(std::move(candidateFolders)), limits(l)
{
}

SingleInstance::~SingleInstance()
{
    release();
}

SingleInstance::Role SingleInstance::claim(const juce::String& commandLine)
{
    // An over-long command line, or one that is not UTF-8 (an argument in another encoding), can match no
    // switch and would be refused by the channel; it is handed over as the empty one, which only brings
    // the running instance forward.
    std::string text = commandLine.toStdString();
    if (text.size() > limits.maxMessageBytes ||
        !juce::CharPointer_UTF8::isValidString(text.data(), (int) text.size()))
        text.clear();

    for (const auto& dir : candidates)
    {
        // A lock taken on a file that was removed meanwhile, with its folder perhaps, keeps nobody out: the
        // folder and the file are opened again, and the lock taken there.
        for (int attempt = 0; attempt < 8; ++attempt)
        {
            bool made = false;
            Descriptor folder = openPrivateFolder(dir, made);
            if (!folder.valid())
                break;
            Descriptor lock(
                ::openat(folder.get(), lockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (!lock.valid())
                break;

            chosenFolder = dir;
            socketAddress = socketAddressFor(dir, folder.get(), socketName);

            const auto outcome = lockOrHandOver(lock.get(), text);
            if (outcome == Claim::locked && !isNamedLock(lock.get(), folder.get()))
                continue;
            if (outcome == Claim::locked)
            {
                madeFolder = made;
                dirFd = folder.release();
                lockFd = lock.release();
                if (!bindSocket())
                    // The lock still keeps other launches out; they just cannot hand anything over.
                    notes.add("Pelk VOD Panel: no socket for later launches in " + folderText(dir) +
                              "; a second launch will not reach this instance");
                return Role::first;
            }
            if (outcome == Claim::handedOver)
                return Role::handedOver;
            break;
        }
    }

    notes.add("Pelk VOD Panel: no usable folder for the single-instance lock; running without it");
    return Role::alone;
}

SingleInstance::Claim SingleInstance::lockOrHandOver(int lock, const std::string& text)
{
    // The running instance binds its socket right after taking the lock, and lets the lock go a little
    // after it stops taking command lines: until the deadline, each round tries the lock, then the
    // hand-over. An instance found ending gets a fresh round of tries to go, and an instance whose queue
    // of launches is full is retried: it is running and takes them in turn. Everything, from the first try
    // to the answer, ends by one bound, answerWaitMs after the start.
    const auto tryWait = std::chrono::milliseconds(limits.senderWaitMs);
    const auto start = Clock::now();
    const auto latest = start + std::chrono::milliseconds(limits.answerWaitMs);
    auto deadline = std::min(start + tryWait, latest);
    for (;;)
    {
        const int lockError = tryLock(lock);
        if (lockError == 0)
            return Claim::locked;
        if (lockError != EWOULDBLOCK)
            return Claim::unusable;

        const auto handOver = handOverOnce(text, latest);
        if (handOver == HandOver::ending)
            deadline = std::min(std::max(deadline, Clock::now() + tryWait), latest);

        // What went wrong when the command line did not go over, or nothing while there is time to retry.
        const auto now = Clock::now();
        const bool late = now >= deadline;
        juce::String failure;
        if (handOver == HandOver::unanswered)
            failure =
                "another instance is running but did not answer within " + secondsText(limits.answerWaitMs);
        else if (handOver == HandOver::refused)
            failure = "the instance on the socket belongs to another user, so it was refused";
        else if (handOver == HandOver::garbled)
            failure = "another instance is running but its answer was not understood";
        else if (handOver == HandOver::busy && now >= latest)
            failure = "another instance is running but took no further launch within " +
                      secondsText(limits.answerWaitMs);
        else if (handOver == HandOver::ending && late)
            failure = "another instance is ending but has not ended yet";
        else if (handOver == HandOver::unreachable || (handOver == HandOver::notListening && late))
            failure = "another instance is running but could not be reached";

        if (handOver == HandOver::taken || failure.isNotEmpty())
        {
            if (failure.isNotEmpty())
                notes.add("Pelk VOD Panel: " + failure + "; the command line was not handed over");
            return Claim::handedOver;
        }
        std::this_thread::sleep_until(std::min(now + std::chrono::milliseconds(20), latest));
    }
}

bool SingleInstance::bindSocket()
{
    sockaddr_un address;
    if (!fillAddress(address, socketAddress))
        return false;

    Descriptor listening(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listening.valid())
        return false;

    // Whatever is left under the socket's name (a socket of a killed instance, or anything else) is
    // stale: only the holder of the lock binds, so no live instance can be listening there.
    ::unlinkat(dirFd, socketName, 0);

    if (::bind(listening.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
        return false;

    // Bound, the socket has its file: a socket that cannot take launches takes its file with it, so none
    // is left where nothing listens.
    if (::fchmodat(dirFd, socketName, 0600, 0) != 0 || ::listen(listening.get(), SOMAXCONN) != 0 ||
        ::pipe2(wakePipe, O_CLOEXEC) != 0)
    {
        ::unlinkat(dirFd, socketName, 0);
        return false;
    }

    listenFd = listening.release();
    return true;
}

SingleInstance::HandOver SingleInstance::handOverOnce(const std::string& text,
                                                      Clock::time_point answerDeadline)
{
    sockaddr_un address;
    if (!fillAddress(address, socketAddress))
        return HandOver::unreachable;

    const Descriptor connection(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!connection.valid())
        return HandOver::unreachable;
    const int fd = connection.get();

    // A Unix socket connects at once or not at all: EAGAIN means the instance's queue of launches is full
    // (it is busy, and the socket stays unconnected), any other error that nothing listens there.
    int r;
    do
        r = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    while (r != 0 && errno == EINTR);
    if (r != 0)
        return errno == EAGAIN ? HandOver::busy : HandOver::notListening;

    // Truly connected: a peer of another user is someone else's instance.
    const auto peer = peerUser(fd);
    if (!peer.has_value())
        return HandOver::notListening;
    if (*peer != ::geteuid())
        return HandOver::refused;

    char header[8];
    std::memcpy(header, magic, 4);
    const auto n = (uint32_t) text.size();
    for (int i = 0; i < 4; ++i)
        header[4 + i] = (char) ((n >> (8 * i)) & 0xff);

    // Connected: the running instance answers once it accepts, which may be only after its start-up.
    char reply[sizeof(answer)];
    size_t got = 0;
    bool answered = writeAll(fd, header, sizeof(header), answerDeadline) &&
                    writeAll(fd, text.data(), text.size(), answerDeadline) &&
                    readUpTo(fd, reply, sizeof(reply), got, answerDeadline);
    // Not answered: the instance closed the connection (it is ending), or it is still silent, or its
    // answer is arriving just now.
    bool withdrawn = false;
    if (!answered)
    {
        char next;
        const auto peeked = ::recv(fd, &next, 1, MSG_PEEK | MSG_DONTWAIT);
        if (peeked > 0 || (peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)))
        {
            // Withdrawn: once this end no longer reads, the instance's answer fails and it drops the
            // command line. An answer that came before is still here to read, so either both ends see it
            // taken or neither does.
            withdrawn = true;
            ::shutdown(fd, SHUT_RD);
            answered = readUpTo(fd, reply, sizeof(reply), got, Clock::now());
        }
    }

    if (!answered)
        return withdrawn ? HandOver::unanswered : HandOver::ending;
    if (std::memcmp(reply, ending, sizeof(ending)) == 0)
        return HandOver::ending;
    return std::memcmp(reply, answer, sizeof(answer)) == 0 ? HandOver::taken : HandOver::garbled;
}

void SingleInstance::startListening(std::function<void(const juce::String&)> receiver)
{
    if (listenFd < 0 || listener.joinable())
        return;

    onMessage = std::move(receiver);
    listener = std::thread([this] { listenLoop(); });
}

void SingleInstance::listenLoop()
{
    for (;;)
    {
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
        const int r = ::poll(fds, 2, -1);
        if (r < 0)
        {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;

        const int connection = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (connection < 0)
            continue;

        serveOne(connection);
        ::close(connection);
    }
}

void SingleInstance::serveOne(int connection)
{
    if (!peerIsThisUser(connection))
        return;

    const auto deadline = Clock::now() + std::chrono::milliseconds(limits.receiverWaitMs);

    char header[8];
    if (!readExactly(connection, header, sizeof(header), deadline) || std::memcmp(header, magic, 4) != 0)
        return;

    uint32_t n = 0;
    for (int i = 0; i < 4; ++i)
        n |= (uint32_t) (unsigned char) header[4 + i] << (8 * i);
    if (n > limits.maxMessageBytes)
        return;

    std::string text(n, '\0');
    if (!readExactly(connection, text.data(), n, deadline))
        return;
    if (text.find('\0') != std::string::npos || !juce::CharPointer_UTF8::isValidString(text.data(), (int) n))
        return;

    // Queued under the lock that stopAccepting() takes, so a command line is either queued ahead of the
    // event loop's stop or answered as not taken. The answer goes first and decides: a sender that gave up
    // waiting (this connection may have sat in the backlog through a long start-up) has closed or stopped
    // reading, so the answer fails and its command line is not carried out.
    const std::lock_guard<std::mutex> guard(acceptingLock);
    if (!accepting)
    {
        sendAtOnce(connection, ending, sizeof(ending));
        return;
    }
    if (!sendAtOnce(connection, answer, sizeof(answer)))
        return;

    auto receiver = onMessage;
    auto stillAlive = alive;
    juce::MessageManager::callAsync(
        [receiver, stillAlive, message = juce::String::fromUTF8(text.data(), (int) n)]
        {
            if (stillAlive->load() && receiver)
                receiver(message);
        });
}

void SingleInstance::stopAccepting()
{
    const std::lock_guard<std::mutex> guard(acceptingLock);
    accepting = false;
}

void SingleInstance::releaseAndRemove()
{
    // The file goes while the lock is held, so no launch can take a lock on it that counts (isNamedLock).
    if (lockFd >= 0 && dirFd >= 0)
        ::unlinkat(dirFd, lockName, 0);
    release();
    // Only a folder this launch made, and only when empty: rmdir leaves anything else alone.
    if (madeFolder)
        ::rmdir(chosenFolder.getFullPathName().toRawUTF8());
    madeFolder = false;
}

void SingleInstance::release()
{
    stopAccepting();
    alive->store(false);

    if (listener.joinable())
    {
        const char byte = 'x';
        [[maybe_unused]] const auto written = ::write(wakePipe[1], &byte, 1);
        listener.join();
    }

    if (listenFd >= 0)
    {
        ::close(listenFd);
        listenFd = -1;
        if (dirFd >= 0)
            ::unlinkat(dirFd, socketName, 0);
    }

    for (auto& fd : wakePipe)
        if (fd >= 0)
        {
            ::close(fd);
            fd = -1;
        }

    if (dirFd >= 0)
    {
        ::close(dirFd);
        dirFd = -1;
    }

    if (lockFd >= 0)
    {
        ::close(lockFd);
        lockFd = -1;
    }
}
} // namespace pelk::program
