// The text command language: every command's effect, one error line and no change for every malformed or
// unknown command, and the environment front end (start state, set-up file, control pipe, journal file).

#include "Scratch.h"
#include "SimTestSupport.h"
#include "SimulatedMachine.h"
#include "Wait.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace simtest;

namespace
{
// A test's files and pipes live in its scratch folder, and its PELK_SIM_* variables and the pipe's reader go
// at its end, pass or fail.
class Commands : public pelktest::SimulatedMachine
{
protected:
    void TearDown() override
    {
        sim::stopFromEnvironment();
        pelktest::SimulatedMachine::TearDown();
    }

    std::string tempPath(const std::string& name) const
    {
        return scratch.child(name).getFullPathName().toStdString();
    }
    void setVariable(const char* name, const std::string& value) { environment.set(name, value); }

    pelktest::ScratchFolder scratch{"pelk-sim"};
    pelktest::ScopedEnvironment environment;
};

// Everything a command could change, as one comparable text.
std::string snapshot()
{
    std::ostringstream s;
    s << sim::command("state") << " requests=" << sim::usbRequests().size()
      << " journal=" << sim::journal().size() << " main=" << sim::pendingMain()
      << " devices=" << sim::audioDevices().size();
    for (AudioObjectID id : sim::audioDevices())
        for (auto d : {sim::Direction::input, sim::Direction::output})
            s << " " << sim::volumeDb(id, d, 1) << "/" << sim::volumeDb(id, d, 2) << "/"
              << sim::mute(id, d, 1) << sim::mute(id, d, 2) << "/" << sim::rate(id);
    return s.str();
}

// A client may start with a command and no reset (each test runs in its own process, so this one meets the
// world as a fresh program does): it finds the unplugged interface of a default world.
TEST(CommandsWithoutReset, TheFirstCommandMeetsTheDefaultWorld)
{
    EXPECT_EQ(sim::command("state"), "hp=unknown rec=unknown loopback=unknown monvol=unknown plugged=no");
    EXPECT_EQ(sim::command("set hp on"), "ok");
    EXPECT_EQ(sim::command("plug"), "ok");
    EXPECT_EQ(sim::command("state"), "hp=on rec=unknown loopback=unknown monvol=unknown plugged=yes");
}

TEST_F(Commands, EachCommandChangesWhatItNames)
{
    EXPECT_EQ(sim::command("state"), "hp=unknown rec=unknown loopback=unknown monvol=unknown plugged=no");
    struct Case
    {
        const char* line;
        std::function<bool()> holds;
    };
    const auto in = [] { return sim::interfaceAudioDevice(sim::Direction::input); };
    const auto out = [] { return sim::interfaceAudioDevice(sim::Direction::output); };
    const std::vector<Case> cases{
        {"set hp on", [] { return sim::interfaceState().headphone == sim::Tri::on; }},
        {"set rec off", [] { return sim::interfaceState().record == sim::Tri::off; }},
        {"set loopback on", [] { return sim::interfaceState().loopback == sim::Tri::on; }},
        {"set monvol -37", [] { return sim::interfaceState().monitorVolumeDb == -37; }},
        {"plug", [] { return sim::isPlugged() && sim::interfaceAudioDevice(sim::Direction::input) != 0; }},
        {"vol in 1 -12.5", [&] { return sim::volumeDb(in(), sim::Direction::input, 1) == -12.5f; }},
        {"vol out 2 -60", [&] { return sim::volumeDb(out(), sim::Direction::output, 2) == -60.0f; }},
        {"mute out 1 on", [&] { return sim::mute(out(), sim::Direction::output, 1); }},
        {"mute out 1 off", [&] { return !sim::mute(out(), sim::Direction::output, 1); }},
        {"rate in 44100", [&] { return sim::rate(in()) == 44100 && sim::rate(out()) == 48000; }},
        {"rate both 96000", [&] { return sim::rate(in()) == 96000 && sim::rate(out()) == 96000; }},
        {"usbfail nth=2 status=e0001234", [] { return true; }},
        {"usbfail off", [] { return true; }},
        {"plug-other vid=1234 pid=0x00ab vendor=\"Acme Corp\" product=\"Big Mouse\"",
         [] { return sim::isPlugged(1); }},
        {"unplug", [] { return !sim::isPlugged() && sim::audioDevices().empty(); }},
        {"  plug   audio-at=3 ", [] { return sim::isPlugged() && sim::audioDevices().empty(); }},
        {"unplug", [] { return !sim::isPlugged(); }},
        {"plug audio-at=never", [] { return sim::isPlugged(); }},
        {"sleep", [] { return true; }},
        {"wake", [] { return true; }},
    };
    for (auto& c : cases)
    {
        EXPECT_EQ(sim::command(c.line), "ok") << c.line;
        EXPECT_TRUE(c.holds()) << c.line;
    }
    EXPECT_EQ(sim::command("state"), "hp=on rec=off loopback=on monvol=-37 plugged=yes");
}

TEST_F(Commands, MalformedOrUnknownCommandsGiveOneErrorLineAndChangeNothing)
{
    sim::command("plug");
    sim::command("set monvol -5");
    const std::vector<const char*> bad{
        "",
        "   ",
        "jump",
        "PLUG",
        "plug", // already plugged
        "plug audio-at=0",
        "plug audio-at=x",
        "plug delay=3",
        "plug audio-at=2 audio-at=3",
        "unplug now",
        "plug-other vid=1234 pid=1",
        "plug-other vid=12345 pid=1 vendor=\"a\" product=\"b\"",
        "plug-other vid=zz pid=1 vendor=\"a\" product=\"b\"",
        "plug-other vid=1 pid=1 vendor=\"a product=\"b\"",
        "vol",
        "vol in 3 -10",
        "vol sideways 1 -10",
        "vol in 1 loud",
        "vol in 1 -10dB",
        "vol in 1 5",
        "vol in 1 nan",
        "vol in 1 -10 extra",
        "mute in 1 maybe",
        "mute in 0 on",
        "rate in",
        "rate left 48000",
        "rate both -48000",
        "rate both inf",
        "sleep now",
        "wake up",
        "usbfail",
        "usbfail nth=0",
        "usbfail nth=-1",
        "usbfail sometimes",
        "usbfail next status=xyz",
        "usbfail next colour=red",
        "set",
        "set hp",
        "set hp yes",
        "set volume on",
        "set monvol -111",
        "set monvol 1",
        "set monvol -3.5",
        "state now",
    };
    for (const char* line : bad)
    {
        const std::string before = snapshot();
        const std::string reply = sim::command(line);
        EXPECT_EQ(reply.rfind("error: ", 0), 0u) << "'" << line << "' gave '" << reply << "'";
        EXPECT_EQ(reply.find('\n'), std::string::npos) << line;
        EXPECT_EQ(snapshot(), before) << line;
    }
    // A long word is cut in the error line, which stays short whatever was sent.
    const std::string longWord(5000, 'x');
    for (const std::string& line : {longWord, "vol in 1 " + longWord, "plug-other " + longWord + "=1"})
    {
        const std::string reply = sim::command(line);
        EXPECT_EQ(reply.rfind("error: ", 0), 0u) << reply.substr(0, 80);
        EXPECT_LT(reply.size(), 120u) << reply.substr(0, 80);
    }
    EXPECT_EQ(sim::command(longWord), "error: unknown command '" + std::string(40, 'x') + "...'");
    // Without the audio devices, the audio commands are refused.
    sim::command("unplug");
    for (const char* line : {"vol in 1 -10", "mute out 2 on", "rate both 48000"})
        EXPECT_EQ(sim::command(line).rfind("error: ", 0), 0u) << line;
    EXPECT_EQ(sim::command("unplug"), "error: the interface is not plugged in");
}

TEST_F(Commands, CommandsFromTwoFrontEndsAtOnceLoseNoChange)
{
    // The pipe's reader and the C++ call may run commands at the same time; each "set" changes its own
    // field only, so one front end never undoes the other's change.
    std::atomic<bool> stop{false};
    std::atomic<int> done{0};
    std::thread other(
        [&]
        {
            for (int i = 0; !stop; ++i, ++done)
                sim::command(i % 2 ? "set hp on" : "set hp off");
        });
    while (done < 100)
        std::this_thread::yield();
    int lost = 0;
    for (int i = 0; i < 20000; ++i)
    {
        const bool on = i % 2 == 0;
        sim::command(on ? "set rec on" : "set rec off");
        lost += sim::interfaceState().record != (on ? sim::Tri::on : sim::Tri::off);
    }
    stop = true;
    other.join();
    EXPECT_EQ(lost, 0);
}

std::vector<std::string> lines(const std::string& path)
{
    std::ifstream file(path);
    std::vector<std::string> out;
    for (std::string line; std::getline(file, line);)
        out.push_back(line);
    return out;
}

TEST_F(Commands, TheEnvironmentStartsTheMachineThePipeAndTheJournal)
{
    const std::string setup = tempPath("setup"), pipe = tempPath("control"), journal = tempPath("journal");
    std::ofstream(setup) << "# left from an earlier session\nset hp on\nset monvol -20\n\nbogus\nplug\n";
    setVariable("PELK_SIM_START", "absent");
    setVariable("PELK_SIM_SETUP", setup);
    setVariable("PELK_SIM_CONTROL", pipe);
    setVariable("PELK_SIM_JOURNAL", journal);

    const auto errors = sim::startFromEnvironment();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], setup + ":5: error: unknown command 'bogus'");
    EXPECT_EQ(sim::command("state"), "hp=on rec=unknown loopback=unknown monvol=-20 plugged=yes");

    // A client opens the interface and writes a command, the power handler acknowledges, the audio service
    // takes a write: each leaves its journal line.
    IOUSBDeviceInterface** dev = openDevice(presentService());
    ASSERT_NE(dev, nullptr);
    for (UInt8 b : {0x55, 0xAA, 5})
        sendByte(dev, b);
    IONotificationPortRef port = nullptr;
    io_object_t notifier = 0;
    static io_connect_t root = 0;
    root = IORegisterForSystemPower(
        nullptr, &port,
        [](void*, io_service_t, UInt32, void* argument)
        { IOAllowPowerChange(root, reinterpret_cast<intptr_t>(argument)); },
        &notifier);
    CFRunLoopAddSource(CFRunLoopGetCurrent(), IONotificationPortGetRunLoopSource(port),
                       kCFRunLoopCommonModes);

    // Commands through the pipe, run on its reader thread; "state" and errors answer in <pipe>.out.
    {
        const int fd = ::open(pipe.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        const std::string text = "sleep\nrate both 44100\nfly away\nstate\n";
        ASSERT_EQ(::write(fd, text.data(), text.size()), ssize_t(text.size()));
        ::close(fd);
    }
    ASSERT_TRUE(pelktest::pumpUntil([&] { return lines(pipe + ".out").size() >= 2; }));
    EXPECT_EQ(lines(pipe + ".out"),
              (std::vector<std::string>{"error: unknown command 'fly'",
                                        "hp=off rec=unknown loopback=unknown monvol=-20 plugged=yes"}));
    ASSERT_TRUE(pelktest::pumpUntil([] { return sim::powerAcks().size() == 2; }))
        << "the JUCE loop delivered the power messages";

    const AudioObjectID out = sim::interfaceAudioDevice(sim::Direction::output);
    const AudioObjectPropertyAddress vol{kAudioDevicePropertyVolumeDecibels, kAudioObjectPropertyScopeOutput,
                                         2};
    const Float32 db = -6.5f;
    EXPECT_EQ(AudioObjectSetPropertyData(out, &vol, 0, nullptr, 4, &db), 0);
    closeDevice(dev);
    sim::stopFromEnvironment();

    EXPECT_EQ(lines(journal), (std::vector<std::string>{
                                  "usb 55 0",
                                  "usb aa 0",
                                  "usb 05 0",
                                  "command 5",
                                  "power-ack e0000270",
                                  "power-ack e0000280",
                                  "audio-set " + std::to_string(out) + " vold outp 2 -6.5",
                              }));
}

TEST_F(Commands, EnvironmentPathsThatCannotBeUsedAreReported)
{
    const std::string missing = tempPath("no-such-directory") + "/file";
    const std::string plain = tempPath("plain-file");
    std::ofstream(plain) << "";
    struct Case
    {
        const char* variable;
        std::string value;
        std::string error;
    };
    const std::vector<Case> cases{
        {"PELK_SIM_SETUP", missing, "error: cannot read " + missing},
        {"PELK_SIM_CONTROL", missing, "error: cannot create the control pipe " + missing},
        {"PELK_SIM_CONTROL", plain, "error: " + plain + " is not a named pipe"},
        {"PELK_SIM_JOURNAL", missing, "error: cannot open the journal " + missing},
    };
    for (const auto& c : cases)
    {
        pelktest::ScopedEnvironment one;
        one.set(c.variable, c.value);
        EXPECT_EQ(sim::startFromEnvironment(), std::vector<std::string>{c.error}) << c.variable;
        EXPECT_TRUE(sim::isPlugged()) << "the machine still starts";
        sim::stopFromEnvironment();
    }
}

// Writes text to the control pipe as one writer: open, write, close.
void sendToPipe(const std::string& pipe, const std::string& text)
{
    const int fd = ::open(pipe.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, text.data(), text.size()), ssize_t(text.size()));
    ::close(fd);
}

TEST_F(Commands, EachWriterOfThePipeEndsItsLastLineByClosingAndLongLinesArriveWholeOrRefused)
{
    const std::string pipe = tempPath("control-writers");
    setVariable("PELK_SIM_START", "absent");
    setVariable("PELK_SIM_CONTROL", pipe);
    ASSERT_TRUE(sim::startFromEnvironment().empty());
    const auto replies = [&](size_t count)
    { return pelktest::pumpUntil([&] { return lines(pipe + ".out").size() >= count; }); };

    sendToPipe(pipe, "set hp on\nstate"); // the last line has no newline
    ASSERT_TRUE(replies(1)) << "the line a writer left unfinished runs when it closes";
    sendToPipe(pipe, "set rec on\nstate\n");
    ASSERT_TRUE(replies(2)) << "the next writer's first line stands on its own";
    const std::string vendor(3000, 'v'); // longer than any single read of the pipe
    sendToPipe(pipe, "plug-other vid=1 pid=2 vendor=\"" + vendor + "\" product=\"p\"\nstate\n");
    ASSERT_TRUE(replies(3));
    // A line without end is refused once, and the pipe goes on with the next line.
    sendToPipe(pipe, std::string(200000, 'x') + "\nset loopback on\nstate\n");
    ASSERT_TRUE(replies(5));
    sim::stopFromEnvironment();

    const std::string end = " loopback=unknown monvol=unknown plugged=no";
    EXPECT_EQ(lines(pipe + ".out"),
              (std::vector<std::string>{"hp=on rec=unknown" + end, "hp=on rec=on" + end, "hp=on rec=on" + end,
                                        "error: command line too long",
                                        "hp=on rec=on loopback=on monvol=unknown plugged=no"}));
    EXPECT_TRUE(sim::isPlugged(1)) << "the long line was one command";
}

TEST_F(Commands, TheDefaultStartIsPluggedAndABadStartValueIsReported)
{
    for (const char* value : {"", "plugged", "sideways"})
    {
        setVariable("PELK_SIM_START", value);
        const auto errors = sim::startFromEnvironment();
        EXPECT_EQ(errors.size(), std::string(value) == "sideways" ? 1u : 0u) << value;
        EXPECT_TRUE(sim::isPlugged()) << value;
        sim::stopFromEnvironment();
    }
}

// A mark is journalled when the main loop reaches it, after what was waiting there before it.
TEST_F(Commands, AMarkIsJournalledFromTheMainLoopBehindWhatWaitsThere)
{
    const auto journalled = [](const std::string& line)
    {
        const auto j = sim::journal();
        return std::find(j.begin(), j.end(), line) != j.end();
    };

    sim::note("before");
    ASSERT_EQ(sim::command("mark first"), "ok");
    sim::mark("second");
    EXPECT_FALSE(journalled("mark first")) << "journalled before the main loop ran";
    EXPECT_EQ(sim::pendingMain(), 2);
    EXPECT_EQ(sim::pumpMain(), 2);
    const auto j = sim::journal();
    ASSERT_GE(j.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(j.end() - 3, j.end()),
              (std::vector<std::string>{"note before", "mark first", "mark second"}));
    EXPECT_EQ(sim::command("mark"), "error: usage: mark <text>");
    EXPECT_EQ(sim::command("mark a b"), "error: usage: mark <text>");
}
} // namespace
