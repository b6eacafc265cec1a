#pragma once

// End-to-end harness: runs the real pelk-vod-panel on a private Xvfb display (optionally with openbox),
// with its own HOME, XDG_CONFIG_HOME, XDG_RUNTIME_DIR, simulator control pipe and journal, so tests run in
// parallel and never share an instance. Every wait is a condition polled up to a bounded time-out.
//
//   pelk::e2e::Harness h({.windowManager = true});
//   auto& app = h.launch();                       // first instance
//   ASSERT_TRUE(app.waitForStderr("POS: Korr: "));
//   auto win = h.waitForWindow();                 // X window id of "Pelk VOD Panel v1.5.0.0"
//   h.control("unplug");                          // a simulator command through the control pipe
//   h.screenshot(*win, h.file("unplugged.png"));
//   h.click(x, y);  h.drag(x0, y0, x1, y1);      // xdotool on the private display
//   app.terminate(SIGTERM); EXPECT_EQ(app.waitExit(), 0);
//   h.setting("WindowPosition");                  // from the settings file

#include "Scratch.h"
#include "Wait.h"

#include <juce_graphics/juce_graphics.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace pelk::e2e
{
using Milliseconds = std::chrono::milliseconds;

// Polls the condition every 20 ms (conditions here run tools or read files) until it holds or the time-out
// passes.
inline bool waitUntil(const std::function<bool()>& condition, Milliseconds timeout = Milliseconds(10000))
{
    return pelktest::waitUntil(condition, timeout, Milliseconds(20));
}

// Runs a tool to its end (bounded); returns its standard output, or nothing when it failed.
std::optional<std::string> runTool(const std::vector<std::string>& argv,
                                   const std::map<std::string, std::string>& env,
                                   Milliseconds timeout = Milliseconds(10000));

// A started process with its standard output and error collected.
class Process
{
public:
    // Runs in the folder cwd, or in this process's own folder when cwd is empty.
    Process(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
            const std::string& cwd = {});
    ~Process(); // kills and reaps a process that is still running

    int pid() const { return child; }
    std::string stderrText() const;
    std::string stdoutText() const;
    bool waitForStderr(const std::string& text, Milliseconds timeout = Milliseconds(15000)) const;
    // The exit status, or -1 when the process did not end in time (or ended by a signal).
    int waitExit(Milliseconds timeout = Milliseconds(15000));
    bool running();
    void terminate(int signalNumber);

private:
    void readLoop(int fd, std::string& into);

    int child = -1;
    bool reaped = false;
    int status = 0;
    mutable std::mutex mutex;
    std::string out, err;
    std::thread outReader, errReader;
};

struct WindowGeometry
{
    int x = 0, y = 0, width = 0, height = 0;
    bool viewable = false;
};

struct Options
{
    bool windowManager = false;     // run openbox on the display
    const char* simStart = nullptr; // PELK_SIM_START, unset when null
    int screenWidth = 1280, screenHeight = 1024;
};

class Harness
{
public:
    // The main window's content border: the edge (1), the title bar (26), the menu bar (24).
    static constexpr int borderLeft = 1, borderRight = 1, borderBottom = 1, borderTop = 1 + 26 + 24;

    explicit Harness(Options options = {});
    ~Harness();

    // Starts the program with the sandbox's environment, in the sandbox's folder work/ (so that whatever
    // it writes to relative paths stays in the sandbox); extra variables override the environment.
    Process& launch(const std::vector<std::string>& args = {},
                    const std::map<std::string, std::string>& extraEnv = {});
    // The same for another executable (a comparison program, for example).
    Process& launchExecutable(const std::string& path, const std::vector<std::string>& args = {},
                              const std::map<std::string, std::string>& extraEnv = {});

    std::map<std::string, std::string> environment() const;
    juce::File file(const juce::String& name) const { return root.getChildFile(name); }
    juce::File settingsFile() const;
    juce::String setting(const juce::String& key) const; // empty when absent
    bool hasSetting(const juce::String& key) const;
    void writeSettings(const std::map<juce::String, juce::String>& values) const;

    // Writes one simulator command line to the control pipe.
    bool control(const std::string& command);
    // Sends a "mark" through the control pipe and waits for its journal line: whatever the program had
    // posted to its main loop before has run then (checks that nothing else follows wait for this).
    bool waitForMark();
    std::string journal() const;
    bool waitForJournal(const std::string& text, Milliseconds timeout = Milliseconds(10000)) const;

    std::optional<unsigned long> waitForWindow(const std::string& title = "Pelk VOD Panel v1.5.0.0",
                                               Milliseconds timeout = Milliseconds(15000));
    // The visible windows of that title (none is an empty list), or nothing when the query failed.
    std::optional<std::vector<unsigned long>> findWindows(const std::string& title) const;
    // Waits until exactly `count` menus are open (each open menu or submenu is a window named "menu");
    // a failed query never counts.
    bool waitForMenus(size_t count, Milliseconds timeout = Milliseconds(10000)) const;
    std::optional<WindowGeometry> geometry(unsigned long window) const;
    // The panel's rectangle on screen (the window less its content border).
    std::optional<WindowGeometry> panelGeometry(unsigned long window) const;
    // Waits until the window's rectangle (the panel's, with panel true) meets the condition; a query that
    // fails never does.
    bool waitForGeometry(unsigned long window, const std::function<bool(const WindowGeometry&)>& condition,
                         bool panel = false, Milliseconds timeout = Milliseconds(10000)) const;

    bool screenshot(unsigned long window, const juce::File& png) const;
    bool screenshotRoot(const juce::File& png) const;
    // Shots until two in a row are the same, so what was started has been drawn (for pictures a person
    // looks at; a test compares pictures it has waited for by their own conditions).
    bool settledScreenshot(unsigned long window, const juce::File& png) const;
    bool settledScreenshotRoot(const juce::File& png) const;
    // Share of differing pixels between two pictures of the same size (0..1), or nothing.
    std::optional<double> difference(const juce::File& a, const juce::File& b) const;

    bool xdo(const std::vector<std::string>& args) const;
    bool click(int x, int y) const;
    bool drag(int x0, int y0, int x1, int y1) const;

    std::string display() const { return displayName; }
    // A display name that no X server answers to (empty when none is found).
    static std::string displayWithNoServer();

private:
    bool settled(const std::function<bool(const juce::File&)>& shoot, const juce::File& png) const;

    Options options;
    pelktest::ScratchFolder scratch{"pelk-e2e"};
    juce::File root;
    std::string displayName;
    std::unique_ptr<Process> xserver, windowManager;
    std::vector<std::unique_ptr<Process>> programs;
    int marks = 0;
};
} // namespace pelk::e2e
