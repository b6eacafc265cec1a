// One instance per user: the lock, the hand-over of a later launch's command line, and a channel that
// refuses or drops bad input within its bounds without harm to the running instance.

#include "SingleInstance.h"
#include "Scratch.h"
#include "Wait.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using pelk::program::SingleInstance;
using Role = SingleInstance::Role;

namespace
{
SingleInstance::Limits quickLimits()
{
    SingleInstance::Limits l;
    l.maxMessageBytes = 4096;
    l.senderWaitMs = 1500;
    l.answerWaitMs = 1500;
    l.receiverWaitMs = 300;
    return l;
}

// A launch on a thread of its own, seen from outside while it waits.
class LaunchOnAThread
{
public:
    LaunchOnAThread(SingleInstance& launch, const juce::String& commandLine)
        : role(std::async(std::launch::async,
                          [this, &launch, commandLine]
                          {
                              thread = pelktest::currentThreadId();
                              return launch.claim(commandLine);
                          }))
    {
    }

    bool ended() const { return role.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }
    bool blockedInPoll() const { return thread != 0 && pelktest::blockedInPoll(thread); }
    bool blockedInSleep() const { return thread != 0 && pelktest::blockedInSleep(thread); }
    Role get() { return role.get(); }

private:
    std::atomic<pid_t> thread{0};
    std::future<Role> role;
};

class SingleInstanceTest : public ::testing::Test
{
protected:
    void SetUp() override { folder = root.child("Pelk VOD Panel"); }

    // Runs the message loop until the running instance has received `count` texts, or 2 s have passed.
    void pumpUntilReceived(size_t count)
    {
        pelktest::pumpUntil([&] { return received.size() >= count; }, 2000);
    }

    // What the listening instance received, once a marker handed over after it has arrived: the instance
    // serves one connection after another, so whatever came before the marker has arrived too.
    std::vector<juce::String> receivedBeforeAMarker()
    {
        EXPECT_EQ(launchSecond("marker"), Role::handedOver);
        const auto marker = [&] { return std::find(received.begin(), received.end(), "marker"); };
        EXPECT_TRUE(pelktest::pumpUntil([&] { return marker() != received.end(); }, 2000)) << "no marker";
        auto all = received;
        all.erase(std::remove(all.begin(), all.end(), "marker"), all.end());
        return all;
    }

    std::unique_ptr<SingleInstance> startFirst()
    {
        auto first = std::make_unique<SingleInstance>(std::vector<juce::File>{folder}, quickLimits());
        EXPECT_EQ(first->claim(""), Role::first);
        first->startListening([this](const juce::String& text) { received.push_back(text); });
        return first;
    }

    Role launchSecond(const juce::String& commandLine)
    {
        SingleInstance second({folder}, quickLimits());
        return second.claim(commandLine);
    }

    pelktest::ScratchFolder root{"pelk-instance-test"};
    juce::File folder;
    std::vector<juce::String> received;
};

TEST_F(SingleInstanceTest, ALaterLaunchHandsItsCommandLineToTheRunningInstance)
{
    auto first = startFirst();

    EXPECT_EQ(launchSecond("/Defaults"), Role::handedOver);
    EXPECT_EQ(launchSecond(""), Role::handedOver);
    EXPECT_EQ(launchSecond(juce::CharPointer_UTF8("\"a b\" \xc3\xa4")), Role::handedOver);
    pumpUntilReceived(3);

    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0], "/Defaults");
    EXPECT_EQ(received[1], "");
    EXPECT_EQ(received[2], juce::String(juce::CharPointer_UTF8("\"a b\" \xc3\xa4")));

    struct stat st
    {
    };
    ASSERT_EQ(::stat(folder.getFullPathName().toRawUTF8(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "the folder is the user's alone";
}

// Texts the channel would refuse, an over-long one and bytes that are not UTF-8 (an argument in another
// encoding), arrive as the empty command line at once: the running instance still comes forward.
class UnsendableCommandLine : public SingleInstanceTest, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(UnsendableCommandLine, ArrivesAsTheEmptyOneAtOnce)
{
    const juce::String text = GetParam() == std::string("over-long")
                                  ? juce::String("/shutdown").paddedRight(' ', 100 * 1024)
                                  : juce::String(juce::CharPointer_UTF8("/init \xff\xfe"));
    auto first = startFirst();
    const auto start = std::chrono::steady_clock::now();
    SingleInstance second({folder}, quickLimits());
    EXPECT_EQ(second.claim(text), Role::handedOver);
    EXPECT_TRUE(second.diagnostics().isEmpty()) << second.diagnostics().joinIntoString("\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(quickLimits().senderWaitMs));
    pumpUntilReceived(1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], "");
}

INSTANTIATE_TEST_SUITE_P(Kinds, UnsendableCommandLine, ::testing::Values("over-long", "not UTF-8"),
                         [](const auto& test)
                         { return std::string(test.param) == "over-long" ? "OverLong" : "NotUtf8"; });

TEST_F(SingleInstanceTest, TheLockGoesWithTheInstance)
{
    {
        auto first = startFirst();
        first->release();
    }
    EXPECT_FALSE(folder.getChildFile("Pelk VOD Panel.sock").exists());
    auto next = startFirst();
    EXPECT_EQ(launchSecond("x"), Role::handedOver);
    pumpUntilReceived(1);
    EXPECT_EQ(received.size(), 1u);
}

TEST_F(SingleInstanceTest, TwoLaunchesAtTheSameMomentMakeOneFirstInstance)
{
    std::atomic<int> firsts{0};
    std::vector<std::unique_ptr<SingleInstance>> instances;
    for (int i = 0; i < 4; ++i)
        instances.push_back(std::make_unique<SingleInstance>(std::vector<juce::File>{folder}, quickLimits()));

    std::vector<std::thread> launches;
    for (auto& inst : instances)
        launches.emplace_back(
            [&firsts, &inst]
            {
                if (inst->claim("") == Role::first)
                {
                    ++firsts;
                    inst->startListening([](const juce::String&) {});
                }
            });
    for (auto& t : launches)
        t.join();

    EXPECT_EQ(firsts.load(), 1);
}

TEST_F(SingleInstanceTest, ALaterLaunchWhileTheInstanceIsEndingStartsAfreshOnceItHasGone)
{
    auto first = startFirst();
    first->stopAccepting(); // the instance's event loop is stopping

    std::atomic<pid_t> laterThread{0};
    auto later = std::async(std::launch::async,
                            [this, &laterThread]
                            {
                                laterThread = pelktest::currentThreadId();
                                SingleInstance next({folder}, quickLimits());
                                return next.claim("/defaults");
                            });
    // Released only once the later launch has met the ending instance and waits to try again.
    EXPECT_TRUE(
        pelktest::waitUntil([&] { return laterThread != 0 && pelktest::blockedInSleep(laterThread); }, 5000));
    first->release();

    EXPECT_EQ(later.get(), Role::first) << "a launch handed to an ending instance would be lost";
    EXPECT_TRUE(pelktest::drainMessageLoop());
    EXPECT_TRUE(received.empty());
}

TEST_F(SingleInstanceTest, ALockFileRemovedUnderAWaitingLaunchStillLetsOnlyOneInstanceRun)
{
    auto first = startFirst();
    first->stopAccepting();

    // The later launch holds the old lock file open and waits for it when the first start removes it.
    SingleInstance later({folder}, quickLimits());
    LaunchOnAThread launch(later, "");
    EXPECT_TRUE(pelktest::waitUntil([&] { return launch.blockedInSleep(); }, 5000));
    first->releaseAndRemove();
    ASSERT_EQ(launch.get(), Role::first);
    later.startListening([this](const juce::String& text) { received.push_back(text); });

    // Its lock is the one the folder names, so the next launch finds it running.
    EXPECT_TRUE(folder.getChildFile("Pelk VOD Panel.lock").existsAsFile());
    EXPECT_EQ(launchSecond("x"), Role::handedOver);
    pumpUntilReceived(1);
    EXPECT_EQ(received, std::vector<juce::String>{"x"});
}

TEST_F(SingleInstanceTest, AStartThatEndsBeforeItRanLeavesNothingBehind)
{
    startFirst()->releaseAndRemove();
    EXPECT_FALSE(folder.exists()) << "the folder this launch made stays";

    // A folder that was there before stays, with anything else in it.
    ASSERT_TRUE(folder.createDirectory());
    const auto other = folder.getChildFile("other");
    ASSERT_TRUE(other.replaceWithText("x"));
    startFirst()->releaseAndRemove();
    EXPECT_TRUE(other.existsAsFile());
    EXPECT_FALSE(folder.getChildFile("Pelk VOD Panel.lock").exists());
    EXPECT_FALSE(folder.getChildFile("Pelk VOD Panel.sock").exists());
}

//==============================================================================
// A later launch while the running instance is still starting: it holds the lock and its socket takes
// connections into the backlog, but it accepts them only once its start-up is over, which may outlast the
// time a launch keeps trying the lock.
struct SlowStart
{
    const char* name;
    int answerWaitMs;
    bool outlastsTheAnswerWait; // the start-up ends only after the launch gave up
    bool thenListens;           // else it ends without taking any (an "/init" start)
    Role role;
    const char* note;
    std::vector<juce::String> carriedOut;
};

class LaunchDuringStartUp : public SingleInstanceTest, public ::testing::WithParamInterface<SlowStart>
{
};

TEST_P(LaunchDuringStartUp, IsTakenOnceOrTruthfullyNotTaken)
{
    const auto& c = GetParam();
    auto limits = quickLimits();
    limits.senderWaitMs = 200;
    limits.answerWaitMs = c.answerWaitMs;

    SingleInstance first({folder}, limits);
    ASSERT_EQ(first.claim(""), Role::first);

    SingleInstance second({folder}, limits);
    const auto launchStart = std::chrono::steady_clock::now();
    LaunchOnAThread launch(second, "/shutdown");
    if (c.outlastsTheAnswerWait)
        EXPECT_TRUE(pelktest::waitUntil([&] { return launch.ended(); }, 5000));
    else
        // The start-up lasts past the launch's tries, and the launch waits for the answer meanwhile.
        EXPECT_TRUE(pelktest::waitUntil(
            [&]
            {
                return std::chrono::steady_clock::now() - launchStart >
                           std::chrono::milliseconds(limits.senderWaitMs + 100) &&
                       launch.blockedInPoll();
            },
            5000));

    if (c.thenListens)
        first.startListening([this](const juce::String& text) { received.push_back(text); });
    else
        first.release();

    EXPECT_EQ(launch.get(), c.role);
    EXPECT_EQ(second.diagnostics().joinIntoString("\n"), c.note);
    // After a withdrawn command line, the instance still serves the next launch.
    if (c.thenListens && c.note[0] != 0)
    {
        EXPECT_EQ(launchSecond("later"), Role::handedOver);
    }
    if (c.thenListens)
    {
        EXPECT_EQ(receivedBeforeAMarker(), c.carriedOut);
    }
    else
    {
        EXPECT_TRUE(pelktest::drainMessageLoop());
        EXPECT_EQ(received, c.carriedOut);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LaunchDuringStartUp,
    ::testing::Values(
        SlowStart{"ListensAfterTheTries", 3000, false, true, Role::handedOver, "", {"/shutdown"}},
        SlowStart{"EndsWithoutListening", 3000, false, false, Role::first, "", {}},
        SlowStart{"OutlastsTheAnswerWait",
                  600,
                  true,
                  true,
                  Role::handedOver,
                  "Pelk VOD Panel: another instance is running but did not answer within 0.6 s; "
                  "the command line was not handed over",
                  {"later"}}),
    [](const auto& test) { return std::string(test.param.name); });

// A crowd of launches while the running instance is still starting (a desktop's burst, a script): every
// one waits in the socket's queue, is taken once the instance listens, and is carried out once.
TEST_F(SingleInstanceTest, ACrowdOfLaunchesDuringTheStartUpIsTakenWhole)
{
    constexpr int crowd = 32;
    auto limits = quickLimits();
    limits.answerWaitMs = 8000; // the start-up here lasts until the whole crowd is waiting

    SingleInstance first({folder}, limits);
    ASSERT_EQ(first.claim(""), Role::first);

    std::vector<std::unique_ptr<SingleInstance>> instances;
    std::vector<std::unique_ptr<LaunchOnAThread>> launches;
    for (int i = 0; i < crowd; ++i)
    {
        instances.push_back(std::make_unique<SingleInstance>(std::vector<juce::File>{folder}, limits));
        launches.push_back(std::make_unique<LaunchOnAThread>(*instances.back(), "launch " + juce::String(i)));
    }
    // Every launch has connected and waits for the answer, or has already given up.
    EXPECT_TRUE(pelktest::waitUntil(
        [&]
        {
            return std::all_of(launches.begin(), launches.end(),
                               [](const auto& launch) { return launch->ended() || launch->blockedInPoll(); });
        },
        5000));

    first.startListening([this](const juce::String& text) { received.push_back(text); });

    std::vector<juce::String> expected;
    for (int i = 0; i < crowd; ++i)
    {
        EXPECT_EQ(launches[(size_t) i]->get(), Role::handedOver) << i;
        EXPECT_EQ(instances[(size_t) i]->diagnostics().joinIntoString("\n"), "") << i;
        expected.push_back("launch " + juce::String(i));
    }
    auto carriedOut = receivedBeforeAMarker();
    std::sort(carriedOut.begin(), carriedOut.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(carriedOut, expected);
}

// Stands in for a running instance: it holds the lock and listens with the smallest backlog, and takes
// connections only when the test asks it to.
class StandInInstance
{
public:
    explicit StandInInstance(const juce::File& folder)
    {
        EXPECT_TRUE(folder.createDirectory());
        ::chmod(folder.getFullPathName().toRawUTF8(), 0700);
        lock = ::open(folder.getChildFile("Pelk VOD Panel.lock").getFullPathName().toRawUTF8(),
                      O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        EXPECT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);

        std::strcpy(address.sun_path,
                    folder.getChildFile("Pelk VOD Panel.sock").getFullPathName().toRawUTF8());
        listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        EXPECT_EQ(::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        EXPECT_EQ(::listen(listening, 0), 0);
    }

    ~StandInInstance()
    {
        emptyTheQueue();
        ::close(listening);
        ::close(lock);
    }

    // Fills the queue with connections of its own that send nothing, until a further connect fails.
    void fillTheQueue()
    {
        for (;;)
        {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
            {
                EXPECT_EQ(errno, EAGAIN);
                ::close(fd);
                break;
            }
            fillers.push_back(fd);
        }
        EXPECT_FALSE(fillers.empty());
    }

    // Closes the fillers; their connections stay queued until they are served.
    void emptyTheQueue()
    {
        for (const int fd : fillers)
            ::close(fd);
        fillers.clear();
    }

    // Waits up to timeoutMs for a queued connection and takes its command line: the connection, or -1.
    int takeOne(std::string& text, int timeoutMs)
    {
        pollfd p{listening, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1)
            return -1;
        const int fd = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
        const timeval bound{2, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof(bound));
        unsigned char head[8];
        text.clear();
        if (::recv(fd, head, sizeof(head), MSG_WAITALL) == (ssize_t) sizeof(head))
        {
            const uint32_t n =
                head[4] | (uint32_t) head[5] << 8 | (uint32_t) head[6] << 16 | (uint32_t) head[7] << 24;
            text.resize(n);
            if (n > 0 && ::recv(fd, text.data(), n, MSG_WAITALL) != (ssize_t) n)
                text = "(incomplete)";
        }
        return fd;
    }

    // Serves what is queued now as the running instance does: each command line that came is answered
    // "ok" and returned; connections that sent nothing are closed.
    std::vector<std::string> serveTheQueue()
    {
        std::vector<std::string> texts;
        std::string text;
        for (int fd; (fd = takeOne(text, 0)) >= 0; ::close(fd))
            if (!text.empty())
            {
                texts.push_back(text);
                ::send(fd, "ok\n", 3, MSG_NOSIGNAL);
            }
        return texts;
    }

private:
    sockaddr_un address{AF_UNIX, {}};
    int lock = -1;
    int listening = -1;
    std::vector<int> fillers;
};

// A connection refused for a full queue is no connection: the launch keeps trying while the instance is
// busy, and tells the truth when its queue stays full to the end of the wait.
class LaunchAtAFullQueue : public SingleInstanceTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(LaunchAtAFullQueue, RetriesUntilTheInstanceTakesItOrTheWaitIsOver)
{
    const bool queueEmptied = GetParam();
    StandInInstance busy(folder);
    busy.fillTheQueue();
    const auto limits = quickLimits();

    SingleInstance second({folder}, limits);
    const auto start = std::chrono::steady_clock::now();
    LaunchOnAThread launch(second, "/defaults");
    // Still trying: it waits between its tries instead of reading the unconnected socket as an answer.
    EXPECT_TRUE(pelktest::waitUntil([&] { return launch.blockedInSleep(); }, 5000));

    std::vector<std::string> served;
    if (queueEmptied)
    {
        busy.emptyTheQueue();
        EXPECT_TRUE(pelktest::waitUntil(
            [&]
            {
                const auto texts = busy.serveTheQueue();
                served.insert(served.end(), texts.begin(), texts.end());
                return launch.ended();
            },
            5000));
    }

    EXPECT_EQ(launch.get(), Role::handedOver);
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(limits.answerWaitMs + 1000));
    if (queueEmptied)
    {
        EXPECT_EQ(served, std::vector<std::string>{"/defaults"});
        EXPECT_EQ(second.diagnostics().joinIntoString("\n"), "");
    }
    else
    {
        EXPECT_EQ(second.diagnostics().joinIntoString("\n"),
                  "Pelk VOD Panel: another instance is running but took no further launch within 1.5 s; "
                  "the command line was not handed over");
    }
}

INSTANTIATE_TEST_SUITE_P(Queues, LaunchAtAFullQueue, ::testing::Bool(),
                         [](const auto& test) { return test.param ? "Emptied" : "StaysFull"; });

// An instance that answers each connection late, and then only that it is ending: the launch's whole wait,
// across its connections, stays within the one bound.
TEST_F(SingleInstanceTest, AnInstanceAnsweringLateNeverStretchesTheWaitPastTheBound)
{
    auto limits = quickLimits();
    limits.senderWaitMs = 1000;
    limits.answerWaitMs = 1000;
    StandInInstance late(folder);

    std::atomic<bool> stop{false};
    std::thread answering(
        [&]
        {
            std::string text;
            while (!stop)
            {
                const int fd = late.takeOne(text, 20);
                if (fd < 0)
                    continue;
                // Answers after 0.6 of the bound, or sooner when the launch has gone.
                pollfd p{fd, POLLRDHUP, 0};
                ::poll(&p, 1, limits.answerWaitMs * 6 / 10);
                ::send(fd, "no\n", 3, MSG_NOSIGNAL);
                ::close(fd);
            }
        });

    SingleInstance second({folder}, limits);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(second.claim("/shutdown"), Role::handedOver);
    const auto waited = std::chrono::steady_clock::now() - start;
    stop = true;
    answering.join();

    EXPECT_GE(waited, std::chrono::milliseconds(limits.answerWaitMs));
    EXPECT_LT(waited, std::chrono::milliseconds(limits.answerWaitMs + 400));
    EXPECT_EQ(second.diagnostics().joinIntoString("\n"),
              "Pelk VOD Panel: another instance is running but did not answer within 1 s; "
              "the command line was not handed over");
}

TEST_F(SingleInstanceTest, AnAnswerThatIsNoAnswerIsReportedAsSuch)
{
    StandInInstance odd(folder);
    std::thread answering(
        [&]
        {
            std::string text;
            const int fd = odd.takeOne(text, 5000);
            ::send(fd, "hi!", 3, MSG_NOSIGNAL);
            ::close(fd);
        });
    SingleInstance second({folder}, quickLimits());
    EXPECT_EQ(second.claim("/init"), Role::handedOver);
    answering.join();
    EXPECT_EQ(second.diagnostics().joinIntoString("\n"),
              "Pelk VOD Panel: another instance is running but its answer was not understood; "
              "the command line was not handed over");
}

// A sender that withdrew its command line while it sat in the backlog, by no longer reading or by closing:
// the instance does not carry it out once it accepts it.
class WithdrawnCommandLine : public SingleInstanceTest, public ::testing::WithParamInterface<int>
{
};

TEST_P(WithdrawnCommandLine, IsNotCarriedOut)
{
    SingleInstance first({folder}, quickLimits());
    ASSERT_EQ(first.claim(""), Role::first);

    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, folder.getChildFile("Pelk VOD Panel.sock").getFullPathName().toRawUTF8());
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    const std::string message = std::string("PVP1\x09\0\0\0", 8) + "/shutdown";
    ASSERT_EQ(::send(fd, message.data(), message.size(), MSG_NOSIGNAL), (ssize_t) message.size());
    if (GetParam() == SHUT_RD)
        ::shutdown(fd, SHUT_RD);
    else
        ::close(fd);

    first.startListening([this](const juce::String& text) { received.push_back(text); });
    EXPECT_EQ(launchSecond("later"), Role::handedOver);
    EXPECT_EQ(receivedBeforeAMarker(), std::vector<juce::String>{"later"});
    if (GetParam() == SHUT_RD)
        ::close(fd);
}

INSTANTIATE_TEST_SUITE_P(Ways, WithdrawnCommandLine, ::testing::Values((int) SHUT_RD, -1),
                         [](const auto& test)
                         { return test.param == SHUT_RD ? "StoppedReading" : "Closed"; });

// What is left at the socket's name by an instance that was killed, or put there by something else.
class LeftOverSocketFile : public SingleInstanceTest, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(LeftOverSocketFile, IsTakenOverByTheNextInstance)
{
    ASSERT_TRUE(folder.createDirectory());
    const auto path = folder.getChildFile("Pelk VOD Panel.sock").getFullPathName().toStdString();
    const std::string kind = GetParam();
    if (kind == "stale socket")
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path.c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        ::listen(fd, 1);
        ::close(fd); // the file stays, nobody listens: connections are refused
    }
    else
    {
        ASSERT_TRUE(juce::File(path).replaceWithText("not a socket"));
    }

    auto first = startFirst();
    EXPECT_EQ(launchSecond("/init"), Role::handedOver);
    pumpUntilReceived(1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], "/init");
}

INSTANTIATE_TEST_SUITE_P(Kinds, LeftOverSocketFile, ::testing::Values("stale socket", "regular file"));

TEST_F(SingleInstanceTest, ASocketFileReplacedUnderTheRunningInstanceLetsALaterLaunchEndInTime)
{
    auto first = startFirst();
    ASSERT_TRUE(folder.getChildFile("Pelk VOD Panel.sock").replaceWithText("replaced"));

    const auto start = std::chrono::steady_clock::now();
    SingleInstance second({folder}, quickLimits());
    EXPECT_EQ(second.claim("/shutdown"), Role::handedOver);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(second.diagnostics().size(), 1);

    EXPECT_TRUE(pelktest::drainMessageLoop());
    EXPECT_TRUE(received.empty());
}

TEST_F(SingleInstanceTest, AFolderPathTooLongForASocketAddressStillWorks)
{
    folder = root.child(juce::String().paddedRight('d', 60))
                 .getChildFile(juce::String().paddedRight('e', 60))
                 .getChildFile("Pelk VOD Panel");
    ASSERT_GT(folder.getFullPathName().length(), 110);

    auto first = startFirst();
    EXPECT_EQ(launchSecond("/default"), Role::handedOver);
    pumpUntilReceived(1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], "/default");
}

TEST_F(SingleInstanceTest, AnUnusableFolderFallsBackToTheNextCandidate)
{
    const auto blocked = root.child("blocked");
    ASSERT_TRUE(root.path().createDirectory());
    ASSERT_TRUE(blocked.replaceWithText("a file where a folder should be"));

    SingleInstance first({blocked.getChildFile("Pelk VOD Panel"), folder}, quickLimits());
    EXPECT_EQ(first.claim(""), Role::first);
    EXPECT_EQ(first.folder(), folder);

    SingleInstance alone({blocked.getChildFile("Pelk VOD Panel")}, quickLimits());
    EXPECT_EQ(alone.claim(""), Role::alone);
    EXPECT_EQ(alone.diagnostics().size(), 1);
}

//==============================================================================
// Bad messages on the channel: each is dropped within the receiver's bound, nothing is delivered, and a
// proper later launch still gets through afterwards.
struct BadMessage
{
    const char* what;
    std::string bytes;
    bool holdOpen; // the sender keeps the connection open after writing
};

std::string header(const char* magic, uint32_t length)
{
    std::string h(magic, 4);
    for (int i = 0; i < 4; ++i)
        h.push_back((char) ((length >> (8 * i)) & 0xff));
    return h;
}

class BadMessageTest : public SingleInstanceTest, public ::testing::WithParamInterface<BadMessage>
{
};

TEST_P(BadMessageTest, IsDroppedAndTheInstanceKeepsServing)
{
    auto first = startFirst();
    const auto& m = GetParam();

    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, folder.getChildFile("Pelk VOD Panel.sock").getFullPathName().toRawUTF8());
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    if (!m.bytes.empty())
    {
        ASSERT_EQ(::send(fd, m.bytes.data(), m.bytes.size(), MSG_NOSIGNAL), (ssize_t) m.bytes.size());
    }
    if (!m.holdOpen)
        ::shutdown(fd, SHUT_WR);

    // The running instance closes the connection without an answer, within its bound.
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1) << m.what << ": the connection was not closed in time";
    char reply[4];
    EXPECT_LE(::recv(fd, reply, sizeof(reply), 0), 0) << m.what;
    ::close(fd);

    EXPECT_EQ(launchSecond("after"), Role::handedOver);
    pumpUntilReceived(1);
    ASSERT_EQ(received.size(), 1u) << m.what;
    EXPECT_EQ(received[0], "after");
}

INSTANTIATE_TEST_SUITE_P(
    Messages, BadMessageTest,
    ::testing::Values(BadMessage{"nothing written, connection held", "", true},
                      BadMessage{"header only, connection held", header("PVP1", 5), true},
                      BadMessage{"partial text, then closed", header("PVP1", 10) + "/shut", false},
                      BadMessage{"too long", header("PVP1", 1u << 30) + "xxxx", false},
                      BadMessage{"wrong magic", header("HTTP", 2) + "ab", false},
                      BadMessage{"not UTF-8", header("PVP1", 3) + std::string("\xff\xfe\x01", 3), false},
                      BadMessage{"a zero byte", header("PVP1", 3) + std::string("a\0b", 3), false}),
    [](const auto& test)
    {
        std::string name;
        for (const char* c = test.param.what; *c != 0; ++c)
            if (std::isalnum((unsigned char) *c))
                name += *c;
        return name;
    });

sockaddr_un addressOf(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    return address;
}

// In a forked child run as root: becomes the user "nobody" and opens a Unix socket; -1 on failure.
int socketOfAnotherUser()
{
    if (::setgid(65534) != 0 || ::setuid(65534) != 0)
        return -1;
    return ::socket(AF_UNIX, SOCK_STREAM, 0);
}

TEST_F(SingleInstanceTest, AConnectionFromAnotherUserIsRefused)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";

    auto first = startFirst();
    ASSERT_EQ(::chmod(root.path().getFullPathName().toRawUTF8(), 0755), 0);
    // The folder is private; open it up so that the other user can reach the socket at all.
    ASSERT_EQ(::chmod(folder.getFullPathName().toRawUTF8(), 0777), 0);
    ASSERT_EQ(::chmod(folder.getChildFile("Pelk VOD Panel.sock").getFullPathName().toRawUTF8(), 0777), 0);

    const auto path = folder.getChildFile("Pelk VOD Panel.sock").getFullPathName().toStdString();
    const std::string message = header("PVP1", 9) + "/shutdown";

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        const int fd = socketOfAnotherUser();
        const auto address = addressOf(path);
        if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
            ::_exit(3);
        [[maybe_unused]] auto n = ::send(fd, message.data(), message.size(), MSG_NOSIGNAL);
        char reply[4];
        ::_exit(::recv(fd, reply, sizeof(reply), 0) > 0 ? 1 : 0);
    }

    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the other user got an answer (1) or could not connect (3)";

    EXPECT_TRUE(receivedBeforeAMarker().empty());
}

// The other way round: the process listening on the socket belongs to another user. It is refused the
// command line, and only then does the launch say "refused".
TEST_F(SingleInstanceTest, AnInstanceOfAnotherUserIsRefusedTheCommandLine)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";

    ASSERT_TRUE(folder.createDirectory());
    ASSERT_EQ(::chmod(root.path().getFullPathName().toRawUTF8(), 0755), 0);
    ASSERT_EQ(::chmod(folder.getFullPathName().toRawUTF8(), 0777), 0);
    const int lock = ::open(folder.getChildFile("Pelk VOD Panel.lock").getFullPathName().toRawUTF8(),
                            O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    const auto path = folder.getChildFile("Pelk VOD Panel.sock").getFullPathName().toStdString();

    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        ::close(ready[0]);
        ::close(release[1]);
        const int fd = socketOfAnotherUser();
        const auto address = addressOf(path);
        if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
            ::chmod(path.c_str(), 0777) != 0 || ::listen(fd, 4) != 0)
            ::_exit(3);
        [[maybe_unused]] auto n = ::write(ready[1], "r", 1);
        char byte;
        n = ::read(release[0], &byte, 1); // until the test is done
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    char byte = 0;
    const bool listening = ::read(ready[0], &byte, 1) == 1;

    SingleInstance second({folder}, quickLimits());
    const auto role = listening ? second.claim("/shutdown") : Role::alone;
    ::close(release[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(ready[0]);
    ::close(lock);

    ASSERT_TRUE(listening) << "the other user's listener did not start";
    EXPECT_EQ(role, Role::handedOver);
    EXPECT_EQ(second.diagnostics().joinIntoString("\n"),
              "Pelk VOD Panel: the instance on the socket belongs to another user, so it was refused; "
              "the command line was not handed over");
}

// Takes every free descriptor number but `spare` (the soft limit lowered to at most 256 for it); gives them
// back, and the limit, when it goes.
class DescriptorsTaken
{
public:
    explicit DescriptorsTaken(int spare)
    {
        ::getrlimit(RLIMIT_NOFILE, &original);
        rlimit lowered = original;
        lowered.rlim_cur = std::min<rlim_t>(original.rlim_cur, 256);
        ::setrlimit(RLIMIT_NOFILE, &lowered);
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            taken.push_back(fd);
        for (int i = 0; i < spare && !taken.empty(); ++i)
        {
            ::close(taken.back());
            taken.pop_back();
        }
    }

    ~DescriptorsTaken()
    {
        for (const int fd : taken)
            ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &original);
    }

private:
    rlimit original{};
    std::vector<int> taken;
};

// The socket is bound (its file made) but cannot be set up to take launches: three descriptors are left,
// for the folder, the lock and the socket, so the wake-up pipe that follows listen() finds none. The
// instance runs without its socket and leaves no file under the socket's name.
TEST_F(SingleInstanceTest, ASocketThatCannotBeSetUpLeavesNoFileBehind)
{
    SingleInstance first({folder}, quickLimits());
    Role role;
    {
        const DescriptorsTaken onlyThree(3);
        role = first.claim("");
    }

    EXPECT_EQ(role, Role::first);
    EXPECT_EQ(first.diagnostics().joinIntoString("\n"),
              "Pelk VOD Panel: no socket for later launches in \"" + folder.getFullPathName() +
                  "\"; a second launch will not reach this instance");
    EXPECT_FALSE(folder.getChildFile("Pelk VOD Panel.sock").exists());
    EXPECT_TRUE(folder.getChildFile("Pelk VOD Panel.lock").exists());
}
} // namespace
