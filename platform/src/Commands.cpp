// The text command language of the simulator and its front ends: the C++ call, the set-up file and the
// control pipe named by the environment.

#include "World.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::sim
{
namespace
{
struct ParseError
{
    std::string message;
};

// Words separated by blanks; a double-quoted part (key="two words") keeps its blanks, quotes removed.
std::vector<std::string> tokens(const std::string& line)
{
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size())
    {
        if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n')
        {
            ++i;
            continue;
        }
        std::string word;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '\n')
        {
            if (line[i] == '"')
            {
                const size_t end = line.find('"', i + 1);
                if (end == std::string::npos)
                    throw ParseError{"unterminated quote"};
                word += line.substr(i + 1, end - i - 1);
                i = end + 1;
            }
            else
                word += line[i++];
        }
        out.push_back(word);
    }
    return out;
}

// A word from the command line, quoted for an error line; a long word is cut, so the reply stays one
// readable line whatever was sent.
std::string quoted(const std::string& word)
{
    constexpr size_t kMax = 40;
    return "'" + (word.size() > kMax ? word.substr(0, kMax) + "..." : word) + "'";
}

double number(const std::string& text, const char* what)
{
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || errno != 0 || !std::isfinite(value))
        throw ParseError{std::string("bad ") + what + " " + quoted(text)};
    return value;
}

long integer(const std::string& text, const char* what, int base, long low, long high)
{
    std::string digits = text;
    if (base == 16 && (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0))
        digits = digits.substr(2);
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(digits.c_str(), &end, base);
    if (digits.empty() || digits[0] == '+' || (base == 16 && digits[0] == '-') ||
        end != digits.c_str() + digits.size() || errno != 0 || value < low || value > high)
        throw ParseError{std::string("bad ") + what + " " + quoted(text)};
    return value;
}

// key=value arguments; every key must be one of the allowed ones and appear at most once.
std::map<std::string, std::string> options(const std::vector<std::string>& words, size_t first,
                                           const std::vector<std::string>& allowed)
{
    std::map<std::string, std::string> out;
    for (size_t i = first; i < words.size(); ++i)
    {
        const size_t eq = words[i].find('=');
        const std::string key = eq == std::string::npos ? words[i] : words[i].substr(0, eq);
        if (eq == std::string::npos || std::find(allowed.begin(), allowed.end(), key) == allowed.end())
            throw ParseError{"unexpected argument " + quoted(words[i])};
        if (!out.emplace(key, words[i].substr(eq + 1)).second)
            throw ParseError{"repeated argument " + quoted(key)};
    }
    return out;
}

void arity(const std::vector<std::string>& words, size_t count, const char* usage)
{
    if (words.size() != count)
        throw ParseError{std::string("usage: ") + usage};
}

Direction direction(const std::string& word, const char* usage)
{
    if (word == "in")
        return Direction::input;
    if (word == "out")
        return Direction::output;
    throw ParseError{std::string("usage: ") + usage};
}

bool onOff(const std::string& word, const char* usage)
{
    if (word == "on")
        return true;
    if (word == "off")
        return false;
    throw ParseError{std::string("usage: ") + usage};
}

AudioObjectID audioDevice(Direction d)
{
    const AudioObjectID id = interfaceAudioDevice(d);
    if (id == 0)
        throw ParseError{"the interface's audio devices are not present"};
    return id;
}

std::string triText(Tri t)
{
    return t == Tri::on ? "on" : (t == Tri::off ? "off" : "unknown");
}

std::string stateLine()
{
    const InterfaceState s = interfaceState();
    return "hp=" + triText(s.headphone) + " rec=" + triText(s.record) + " loopback=" + triText(s.loopback) +
           " monvol=" + (s.monitorVolumeDb ? std::to_string(*s.monitorVolumeDb) : std::string("unknown")) +
           " plugged=" + (s.plugged ? "yes" : "no");
}

using Words = std::vector<std::string>;

std::string plugCommand(const Words& w)
{
    auto o = options(w, 1, {"audio-at"});
    PlugOptions plugOptions;
    if (o.count("audio-at"))
        plugOptions.audioAtRun =
            o["audio-at"] == "never" ? 0 : int(integer(o["audio-at"], "audio-at", 10, 1, 1000000));
    if (!plug(kInterface, plugOptions))
        throw ParseError{"the interface is already plugged in"};
    return "ok";
}

std::string unplugCommand(const Words& w)
{
    arity(w, 1, "unplug");
    if (!unplug(kInterface))
        throw ParseError{"the interface is not plugged in"};
    return "ok";
}

std::string plugOtherCommand(const Words& w)
{
    const char* usage = "plug-other vid=<hex> pid=<hex> vendor=\"<text>\" product=\"<text>\"";
    auto o = options(w, 1, {"vid", "pid", "vendor", "product"});
    if (o.size() != 4)
        throw ParseError{std::string("usage: ") + usage};
    const auto vid = UInt16(integer(o["vid"], "vid", 16, 0, 0xFFFF));
    const auto pid = UInt16(integer(o["pid"], "pid", 16, 0, 0xFFFF));
    plug(addUsbDevice(otherDeviceSpec(vid, pid, o["vendor"], o["product"])));
    return "ok";
}

// The direction and channel of "vol" and "mute": <verb> in|out 1|2 <value>.
std::pair<Direction, UInt32> channelOf(const Words& w, const char* usage)
{
    arity(w, 4, usage);
    const Direction d = direction(w[1], usage);
    return {d, UInt32(integer(w[2], "channel", 10, 1, 2))};
}

std::string volCommand(const Words& w)
{
    const auto [d, element] = channelOf(w, "vol in|out 1|2 <dB>");
    const double db = number(w[3], "dB");
    if (db < -100 || db > 0)
        throw ParseError{"dB out of range (-100 to 0)"};
    setVolumeDb(audioDevice(d), d, element, Float32(db));
    return "ok";
}

std::string muteCommand(const Words& w)
{
    const char* usage = "mute in|out 1|2 on|off";
    const auto [d, element] = channelOf(w, usage);
    const bool on = onOff(w[3], usage);
    setMute(audioDevice(d), d, element, on);
    return "ok";
}

std::string rateCommand(const Words& w)
{
    const char* usage = "rate in|out|both <Hz>";
    arity(w, 3, usage);
    if (w[1] != "in" && w[1] != "out" && w[1] != "both")
        throw ParseError{std::string("usage: ") + usage};
    const double hz = number(w[2], "rate");
    if (hz <= 0)
        throw ParseError{"rate must be above 0"};
    const AudioObjectID in = w[1] != "out" ? audioDevice(Direction::input) : 0;
    const AudioObjectID out = w[1] != "in" ? audioDevice(Direction::output) : 0;
    if (in != 0)
        setRate(in, hz);
    if (out != 0 && out != in)
        setRate(out, hz);
    return "ok";
}

std::string sleepCommand(const Words& w)
{
    arity(w, 1, "sleep");
    systemSleep(true);
    return "ok";
}

std::string wakeCommand(const Words& w)
{
    arity(w, 1, "wake");
    systemWake(false);
    return "ok";
}

std::string usbfailCommand(const Words& w)
{
    const char* usage = "usbfail nth=<n>|next|off [status=<hex>]";
    if (w.size() < 2 || w.size() > 3)
        throw ParseError{std::string("usage: ") + usage};
    UsbFailRule rule;
    if (w[1] == "next")
        rule.when = UsbFailRule::When::next;
    else if (w[1] == "off")
        rule.when = UsbFailRule::When::off;
    else if (w[1].rfind("nth=", 0) == 0)
    {
        rule.when = UsbFailRule::When::nth;
        rule.n = int(integer(w[1].substr(4), "nth", 10, 1, 1000000));
    }
    else
        throw ParseError{std::string("usage: ") + usage};
    if (w.size() == 3)
    {
        auto o = options(w, 2, {"status"});
        rule.status = IOReturn(UInt32(integer(o["status"], "status", 16, 1, 0xFFFFFFFFL)));
    }
    failUsbRequests(rule);
    return "ok";
}

std::string setCommand(const Words& w)
{
    const char* usage = "set hp|rec|loopback on|off, or set monvol <dB>";
    arity(w, 3, usage);
    InterfaceState s = interfaceState();
    if (w[1] == "monvol")
        s.monitorVolumeDb = int(integer(w[2], "monvol", 10, -110, 0));
    else
    {
        const Tri value = onOff(w[2], usage) ? Tri::on : Tri::off;
        if (w[1] == "hp")
            s.headphone = value;
        else if (w[1] == "rec")
            s.record = value;
        else if (w[1] == "loopback")
            s.loopback = value;
        else
            throw ParseError{std::string("usage: ") + usage};
    }
    setInterfaceState(s.headphone, s.record, s.loopback, s.monitorVolumeDb);
    return "ok";
}

std::string stateCommand(const Words& w)
{
    arity(w, 1, "state");
    return stateLine();
}

std::string markCommand(const Words& w)
{
    arity(w, 2, "mark <text>");
    mark(w[1]);
    return "ok";
}

struct Verb
{
    const char* name;
    std::string (*run)(const Words& words); // words[0] is the verb
};

const Verb kVerbs[] = {
    {"plug", plugCommand},   {"unplug", unplugCommand}, {"plug-other", plugOtherCommand},
    {"vol", volCommand},     {"mute", muteCommand},     {"rate", rateCommand},
    {"sleep", sleepCommand}, {"wake", wakeCommand},     {"usbfail", usbfailCommand},
    {"set", setCommand},     {"state", stateCommand},   {"mark", markCommand},
};

std::string run(const Words& w)
{
    for (const Verb& verb : kVerbs)
        if (w[0] == verb.name)
            return verb.run(w);
    throw ParseError{"unknown command " + quoted(w[0])};
}

// ---- Control pipe ----

std::atomic<bool> stopPipe{false};
std::thread* pipeThread =
    nullptr; // never destroyed, so a program that ends without stopping it does not abort

void appendLine(const std::string& path, const std::string& line)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const std::string text = line + "\n";
    ssize_t written = ::write(fd, text.data(), text.size());
    (void) written;
    ::close(fd);
}

// Runs one line read from the pipe; the reply to "state" and every error line go to the reply file.
void runPipeLine(const std::string& line, const std::string& replyPath)
{
    if (line.find_first_not_of(" \t\r") == std::string::npos)
        return;
    const std::string reply = command(line);
    if (reply != "ok")
        appendLine(replyPath, reply);
}

void readPipe(int fd, std::string path, std::string replyPath)
{
    constexpr size_t kLongestLine = 65536; // a writer that never sends a newline cannot grow this without end
    std::string pending;
    bool skipping = false; // in the rest of a line that was too long
    char buffer[512];
    while (!stopPipe.load())
    {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
        {
            // Every writer has closed the pipe: what the last one left without a newline is its last line.
            // A fresh descriptor, opened before the old one is closed, waits for the next writer (the old one
            // would report the end at once from now on, and closing it first would fail a writer opening
            // meanwhile).
            if (!skipping)
                runPipeLine(pending, replyPath);
            pending.clear();
            skipping = false;
            const int fresh = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            struct stat st;
            if (fresh >= 0 && ::fstat(fresh, &st) == 0 && S_ISFIFO(st.st_mode))
            {
                ::close(fd);
                fd = fresh;
            }
            else
            {
                if (fresh >= 0)
                    ::close(fresh);
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            continue;
        }
        if (n < 0)
            continue;
        pending.append(buffer, size_t(n));
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos)
        {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!skipping)
                runPipeLine(line, replyPath);
            skipping = false;
        }
        if (pending.size() > kLongestLine)
        {
            if (!skipping)
                appendLine(replyPath, "error: command line too long");
            skipping = true;
            pending.clear();
        }
    }
    ::close(fd);
}

std::string startPipe(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
    {
        if (::mkfifo(path.c_str(), 0600) != 0)
            return "error: cannot create the control pipe " + path;
    }
    else if (!S_ISFIFO(st.st_mode))
        return "error: " + path + " is not a named pipe";
    // Read only, without waiting for a writer; the reader sees each writer's close as the end of its text.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return "error: cannot open the control pipe " + path;
    const std::string replyPath = path + ".out";
    const int out = ::open(replyPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out >= 0)
        ::close(out);
    stopPipe = false;
    pipeThread = new std::thread(readPipe, fd, path, replyPath);
    return {};
}
} // namespace

std::string command(const std::string& line)
{
    // One command at a time, whichever front end it comes from: a command reads the machine and then changes
    // it, and another command in between would be undone. Never destroyed, as the pipe's reader may outlive
    // the program's static objects.
    static auto* serial = new std::mutex;
    const std::lock_guard<std::mutex> lock(*serial);
    try
    {
        const auto words = tokens(line);
        if (words.empty())
            return "error: empty command";
        return run(words);
    }
    catch (const ParseError& e)
    {
        return "error: " + e.message;
    }
}

std::vector<std::string> startFromEnvironment()
{
    stopFromEnvironment();
    std::vector<std::string> errors;
    const auto env = [](const char* name) { return std::string(std::getenv(name) ? std::getenv(name) : ""); };
    Config config;
    config.clock = Clock::real;
    config.mainLoop = MainLoop::juce;
    config.journalPath = env("PELK_SIM_JOURNAL");
    reset(config);
    if (!config.journalPath.empty())
    {
        const detail::Lock lock(detail::mutex());
        if (detail::world().journalFile == nullptr)
            errors.push_back("error: cannot open the journal " + config.journalPath);
    }

    const std::string start = env("PELK_SIM_START");
    if (start.empty() || start == "plugged")
        plug();
    else if (start != "absent")
    {
        errors.push_back("error: PELK_SIM_START must be plugged or absent");
        plug();
    }

    if (const std::string setup = env("PELK_SIM_SETUP"); !setup.empty())
    {
        std::ifstream file(setup);
        if (!file)
            errors.push_back("error: cannot read " + setup);
        std::string line;
        for (int number = 1; std::getline(file, line); ++number)
        {
            if (line.find_first_not_of(" \t\r") == std::string::npos ||
                line[line.find_first_not_of(" \t")] == '#')
                continue;
            const std::string reply = command(line);
            if (reply.rfind("error: ", 0) == 0)
                errors.push_back(setup + ":" + std::to_string(number) + ": " + reply);
        }
    }

    if (const std::string control = env("PELK_SIM_CONTROL"); !control.empty())
        if (std::string error = startPipe(control); !error.empty())
            errors.push_back(error);
    return errors;
}

void stopFromEnvironment()
{
    if (pipeThread != nullptr)
    {
        stopPipe = true;
        pipeThread->join();
        delete pipeThread;
        pipeThread = nullptr;
    }
    shutdownNotifications(500);
}

} // namespace platform::sim
