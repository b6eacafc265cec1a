#include "ProgramHarness.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef PELK_PROGRAM_PATH
#error "PELK_PROGRAM_PATH must name the program under test"
#endif

namespace pelk::e2e
{
using Clock = std::chrono::steady_clock;

std::optional<std::string> runTool(const std::vector<std::string>& argv,
                                   const std::map<std::string, std::string>& env, Milliseconds timeout)
{
    Process p(argv, env);
    if (p.waitExit(timeout) != 0)
        return std::nullopt;
    return p.stdoutText();
}

//==============================================================================
Process::Process(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                 const std::string& cwd)
{
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0)
        return;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    if (!cwd.empty())
        posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());

    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    std::vector<std::string> envStrings;
    for (const auto& [k, v] : env)
        envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : envStrings)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data()) == 0)
        child = pid;
    posix_spawn_file_actions_destroy(&actions);

    ::close(outPipe[1]);
    ::close(errPipe[1]);
    outReader = std::thread([this, fd = outPipe[0]] { readLoop(fd, out); });
    errReader = std::thread([this, fd = errPipe[0]] { readLoop(fd, err); });
}

Process::~Process()
{
    if (child > 0 && running())
    {
        ::kill(child, SIGKILL);
        waitExit(Milliseconds(5000));
    }
    if (outReader.joinable())
        outReader.join();
    if (errReader.joinable())
        errReader.join();
}

void Process::readLoop(int fd, std::string& into)
{
    char buffer[4096];
    for (;;)
    {
        const auto n = ::read(fd, buffer, sizeof(buffer));
        if (n > 0)
        {
            const std::lock_guard<std::mutex> lock(mutex);
            into.append(buffer, (size_t) n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    ::close(fd);
}

std::string Process::stderrText() const
{
    const std::lock_guard<std::mutex> lock(mutex);
    return err;
}

std::string Process::stdoutText() const
{
    const std::lock_guard<std::mutex> lock(mutex);
    return out;
}

bool Process::waitForStderr(const std::string& text, Milliseconds timeout) const
{
    return waitUntil([&] { return stderrText().find(text) != std::string::npos; }, timeout);
}

bool Process::running()
{
    if (child <= 0 || reaped)
        return false;
    int s = 0;
    const pid_t r = ::waitpid(child, &s, WNOHANG);
    if (r == child)
    {
        reaped = true;
        status = s;
        return false;
    }
    return r == 0;
}

int Process::waitExit(Milliseconds timeout)
{
    if (child <= 0)
        return -1;
    if (!waitUntil([this] { return !running(); }, timeout))
        return -1;
    if (outReader.joinable())
        outReader.join();
    if (errReader.joinable())
        errReader.join();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Process::terminate(int signalNumber)
{
    if (child > 0 && running())
        ::kill(child, signalNumber);
}

// A suite run that checks what it leaves behind (.ci/run) names in PELK_TEST_DISPLAYS a file for the X
// servers it starts: one line "<display number> <process id> <process start time> <socket inode>" each,
// so that the check counts the server, lock file and socket of this one and never those of a later server
// on the same display number.
namespace
{
void recordDisplay(const std::string& number, int pid)
{
    const char* record = std::getenv("PELK_TEST_DISPLAYS");
    if (record == nullptr || *record == 0 || number.empty())
        return;
    // The start time is field 22 of /proc/<pid>/stat, the 20th after the parenthesised command name.
    std::string start = "0";
    const auto procStat = juce::File("/proc/" + juce::String(pid) + "/stat").loadFileAsString();
    const auto fields =
        juce::StringArray::fromTokens(procStat.fromLastOccurrenceOf(")", false, false), " ", "");
    if (fields.size() > 19)
        start = fields[19].toStdString();
    struct stat info;
    const auto inode = ::stat(("/tmp/.X11-unix/X" + number).c_str(), &info) == 0 ? info.st_ino : 0;

    const int fd = ::open(record, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const auto line = number + " " + std::to_string(pid) + " " + start + " " + std::to_string(inode) + "\n";
    [[maybe_unused]] const auto written = ::write(fd, line.data(), line.size());
    ::close(fd);
}
} // namespace

//==============================================================================
Harness::Harness(Options o) : options(o), root(scratch.path())
{
    for (const auto* sub : {"home", "config", "runtime", "work"})
        root.getChildFile(sub).createDirectory();
    ::chmod(root.getChildFile("runtime").getFullPathName().toRawUTF8(), 0700);

    // A private display: Xvfb picks a free number and writes it to its standard output.
    const auto screen =
        std::to_string(options.screenWidth) + "x" + std::to_string(options.screenHeight) + "x24";
    xserver = std::make_unique<Process>(
        std::vector<std::string>{"Xvfb", "-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp"},
        std::map<std::string, std::string>{{"PATH", "/usr/bin:/bin"}});
    waitUntil([this] { return xserver->stdoutText().find('\n') != std::string::npos; });
    displayName = ":" + juce::String(xserver->stdoutText()).trim().toStdString();
    recordDisplay(displayName.substr(1), xserver->pid());

    if (options.windowManager)
    {
        windowManager =
            std::make_unique<Process>(std::vector<std::string>{"openbox", "--sm-disable"}, environment());
        // openbox announces itself by owning the window-manager selection of screen 0.
        waitUntil(
            [this]
            {
                auto out = runTool({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, environment(),
                                   Milliseconds(2000));
                return out && out->find("window id") != std::string::npos;
            });
    }
}

Harness::~Harness()
{
    for (auto& p : programs)
        p->terminate(SIGKILL);
    programs.clear();
    // Ended politely, so the X server removes its lock file and socket.
    for (auto* p : {windowManager.get(), xserver.get()})
        if (p != nullptr)
        {
            p->terminate(SIGTERM);
            p->waitExit(Milliseconds(3000));
        }
    windowManager.reset();
    xserver.reset();
    // The scratch folder goes after this, with everything in it.
}

std::map<std::string, std::string> Harness::environment() const
{
    std::map<std::string, std::string> env{
        {"PATH", "/usr/local/bin:/usr/bin:/bin"},
        {"DISPLAY", displayName},
        {"HOME", root.getChildFile("home").getFullPathName().toStdString()},
        {"XDG_CONFIG_HOME", root.getChildFile("config").getFullPathName().toStdString()},
        {"XDG_RUNTIME_DIR", root.getChildFile("runtime").getFullPathName().toStdString()},
        {"PELK_SIM_CONTROL", root.getChildFile("control").getFullPathName().toStdString()},
        {"PELK_SIM_JOURNAL", root.getChildFile("journal").getFullPathName().toStdString()},
        {"LANG", "C.UTF-8"}};

    // The run's temporary folder, so that what the program and the tools make there stays in it.
    if (const char* tmp = std::getenv("TMPDIR"))
        env["TMPDIR"] = tmp;
    // A sanitizer build of the program reports with the suite's own settings and suppressions.
    for (const auto* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"})
        if (const char* value = std::getenv(name))
            env[name] = value;
    return env;
}

Process& Harness::launch(const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& extraEnv)
{
    return launchExecutable(PELK_PROGRAM_PATH, args, extraEnv);
}

Process& Harness::launchExecutable(const std::string& path, const std::vector<std::string>& args,
                                   const std::map<std::string, std::string>& extraEnv)
{
    auto env = environment();
    if (options.simStart != nullptr)
        env["PELK_SIM_START"] = options.simStart;
    for (const auto& [k, v] : extraEnv)
        env[k] = v;

    std::vector<std::string> argv{path};
    argv.insert(argv.end(), args.begin(), args.end());
    programs.push_back(
        std::make_unique<Process>(argv, env, root.getChildFile("work").getFullPathName().toStdString()));
    return *programs.back();
}

juce::File Harness::settingsFile() const
{
    return root.getChildFile("config/Pelk VOD Panel/Pelk VOD Panel.settings");
}

bool Harness::hasSetting(const juce::String& key) const
{
    const auto xml = juce::parseXML(settingsFile());
    if (xml == nullptr)
        return false;
    for (auto* v : xml->getChildWithTagNameIterator("VALUE"))
        if (v->getStringAttribute("name") == key)
            return true;
    return false;
}

juce::String Harness::setting(const juce::String& key) const
{
    const auto xml = juce::parseXML(settingsFile());
    if (xml == nullptr)
        return {};
    for (auto* v : xml->getChildWithTagNameIterator("VALUE"))
        if (v->getStringAttribute("name") == key)
            return v->getStringAttribute("val");
    return {};
}

void Harness::writeSettings(const std::map<juce::String, juce::String>& values) const
{
    juce::XmlElement xml("PROPERTIES");
    for (const auto& [k, v] : values)
    {
        auto* e = xml.createNewChildElement("VALUE");
        e->setAttribute("name", k);
        e->setAttribute("val", v);
    }
    settingsFile().getParentDirectory().createDirectory();
    xml.writeTo(settingsFile());
}

bool Harness::control(const std::string& command)
{
    const auto path = root.getChildFile("control").getFullPathName();
    // The program creates the pipe at start; a non-blocking open fails until it reads.
    int fd = -1;
    waitUntil(
        [&]
        {
            fd = ::open(path.toRawUTF8(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            return fd >= 0;
        });
    if (fd < 0)
        return false;
    const std::string line = command + "\n";
    const bool ok = ::write(fd, line.data(), line.size()) == (ssize_t) line.size();
    ::close(fd);
    return ok;
}

bool Harness::waitForMark()
{
    const auto name = "harness-" + std::to_string(++marks);
    return control("mark " + name) && waitForJournal("mark " + name + "\n");
}

std::string Harness::journal() const
{
    return root.getChildFile("journal").loadFileAsString().toStdString();
}

bool Harness::waitForJournal(const std::string& text, Milliseconds timeout) const
{
    return waitUntil([&] { return journal().find(text) != std::string::npos; }, timeout);
}

std::optional<std::vector<unsigned long>> Harness::findWindows(const std::string& title) const
{
    // The JUCE window carries its title as WM_NAME. `xdotool search` exits 1 both when it finds none and
    // when it fails; only a failure says why on standard error (the display cannot be opened, an X error).
    Process p({"xdotool", "search", "--onlyvisible", "--name", "^" + title + "$"}, environment());
    const int status = p.waitExit(Milliseconds(5000));
    if (status == 1 && juce::String(p.stderrText()).trim().isEmpty())
        return std::vector<unsigned long>{};
    if (status != 0)
        return std::nullopt;

    std::vector<unsigned long> ids;
    for (const auto& line : juce::StringArray::fromLines(p.stdoutText()))
        if (line.trim().isNotEmpty())
            ids.push_back((unsigned long) line.trim().getLargeIntValue());
    return ids;
}

bool Harness::waitForMenus(size_t count, Milliseconds timeout) const
{
    return waitUntil(
        [&]
        {
            const auto menus = findWindows("menu");
            return menus && menus->size() == count;
        },
        timeout);
}

std::optional<unsigned long> Harness::waitForWindow(const std::string& title, Milliseconds timeout)
{
    std::optional<unsigned long> found;
    waitUntil(
        [&]
        {
            const auto ids = findWindows(title);
            if (!ids || ids->empty())
                return false;
            const auto g = geometry(ids->front());
            if (!g || !g->viewable)
                return false;
            found = ids->front();
            return true;
        },
        timeout);
    return found;
}

std::optional<WindowGeometry> Harness::geometry(unsigned long window) const
{
    const auto out = runTool({"xwininfo", "-id", std::to_string(window)}, environment(), Milliseconds(5000));
    if (!out)
        return std::nullopt;

    WindowGeometry g;
    const auto value = [&](const char* label) -> int
    {
        const auto pos = out->find(label);
        return pos == std::string::npos ? 0 : std::atoi(out->c_str() + pos + std::strlen(label));
    };
    g.x = value("Absolute upper-left X:");
    g.y = value("Absolute upper-left Y:");
    g.width = value("Width:");
    g.height = value("Height:");
    g.viewable = out->find("Map State: IsViewable") != std::string::npos;
    return g;
}

std::optional<WindowGeometry> Harness::panelGeometry(unsigned long window) const
{
    auto g = geometry(window);
    if (!g)
        return g;
    g->x += borderLeft;
    g->y += borderTop;
    g->width -= borderLeft + borderRight;
    g->height -= borderTop + borderBottom;
    return g;
}

bool Harness::waitForGeometry(unsigned long window,
                              const std::function<bool(const WindowGeometry&)>& condition, bool panel,
                              Milliseconds timeout) const
{
    return waitUntil(
        [&]
        {
            const auto g = panel ? panelGeometry(window) : geometry(window);
            return g && condition(*g);
        },
        timeout);
}

bool Harness::screenshot(unsigned long window, const juce::File& png) const
{
    png.getParentDirectory().createDirectory();
    return runTool({"import", "-window", std::to_string(window), png.getFullPathName().toStdString()},
                   environment())
        .has_value();
}

bool Harness::screenshotRoot(const juce::File& png) const
{
    png.getParentDirectory().createDirectory();
    return runTool({"import", "-window", "root", png.getFullPathName().toStdString()}, environment())
        .has_value();
}

bool Harness::settled(const std::function<bool(const juce::File&)>& shoot, const juce::File& png) const
{
    const auto previous = root.getChildFile("settling.png");
    return waitUntil(
        [&]
        {
            if (!shoot(previous) || !shoot(png))
                return false;
            const auto d = difference(previous, png);
            return d && *d == 0.0;
        });
}

bool Harness::settledScreenshot(unsigned long window, const juce::File& png) const
{
    return settled([&](const juce::File& file) { return screenshot(window, file); }, png);
}

bool Harness::settledScreenshotRoot(const juce::File& png) const
{
    return settled([&](const juce::File& file) { return screenshotRoot(file); }, png);
}

std::optional<double> Harness::difference(const juce::File& a, const juce::File& b) const
{
    const auto imageA = juce::ImageFileFormat::loadFrom(a);
    const auto imageB = juce::ImageFileFormat::loadFrom(b);
    if (!imageA.isValid() || !imageB.isValid() || imageA.getBounds() != imageB.getBounds())
        return std::nullopt;

    const juce::Image::BitmapData da(imageA, juce::Image::BitmapData::readOnly);
    const juce::Image::BitmapData db(imageB, juce::Image::BitmapData::readOnly);
    long differing = 0;
    for (int y = 0; y < imageA.getHeight(); ++y)
        for (int x = 0; x < imageA.getWidth(); ++x)
            if (da.getPixelColour(x, y).getARGB() != db.getPixelColour(x, y).getARGB())
                ++differing;
    return (double) differing / (imageA.getWidth() * imageA.getHeight());
}

std::string Harness::displayWithNoServer()
{
    // An X server of display n holds the lock file /tmp/.X<n>-lock and listens at /tmp/.X11-unix/X<n>.
    for (int n = 987; n < 1100; ++n)
        if (!juce::File("/tmp/.X" + juce::String(n) + "-lock").exists() &&
            !juce::File("/tmp/.X11-unix/X" + juce::String(n)).exists())
            return ":" + std::to_string(n);
    return {};
}

bool Harness::xdo(const std::vector<std::string>& args) const
{
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    return runTool(argv, environment()).has_value();
}

bool Harness::click(int x, int y) const
{
    return xdo({"mousemove", std::to_string(x), std::to_string(y), "sleep", "0.05", "click", "1"});
}

bool Harness::drag(int x0, int y0, int x1, int y1) const
{
    // In steps, so the program sees a drag and not a jump.
    std::vector<std::string> args{
        "mousemove", std::to_string(x0), std::to_string(y0), "sleep", "0.05", "mousedown", "1"};
    for (int i = 1; i <= 8; ++i)
    {
        args.insert(args.end(), {"mousemove", std::to_string(x0 + (x1 - x0) * i / 8),
                                 std::to_string(y0 + (y1 - y0) * i / 8), "sleep", "0.03"});
    }
    args.insert(args.end(), {"mouseup", "1"});
    return xdo(args);
}
} // namespace pelk::e2e
