#include "AudioSettingsLauncher.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace AudioSettingsLauncher
{
std::vector<std::string> splitCommandLine(const std::string& line)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;

    for (const char c : line)
    {
        if (c == '"')
        {
            quoted = !quoted;
            inWord = true; // "" is an empty argument
        }
        else if (!quoted && (c == ' ' || c == '\t'))
        {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
        }
        else
        {
            word += c;
            inWord = true;
        }
    }

    if (inWord)
        words.push_back(word);
    return words;
}

static bool isExecutableFile(const std::string& path)
{
    struct stat info
    {
    };
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string findExecutable(const std::string& name, const std::string& path)
{
    if (name.empty())
        return {};

    if (name.find('/') != std::string::npos)
        return isExecutableFile(name) ? name : std::string();

    std::string::size_type begin = 0;
    for (;;)
    {
        const auto end = path.find(':', begin);
        std::string dir = path.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        if (dir.empty())
            dir = ".";

        const auto candidate = dir + "/" + name;
        if (isExecutableFile(candidate))
            return candidate;

        if (end == std::string::npos)
            return {};
        begin = end + 1;
    }
}

static std::string searchPath()
{
    const char* path = std::getenv("PATH");
    return path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
}

std::vector<std::string> chooseCommand()
{
    if (const char* configured = std::getenv(commandVariable))
        return splitCommandLine(configured);

    const std::vector<std::vector<std::string>> candidates{{"pavucontrol"},
                                                           {"gnome-control-center", "sound"}};
    const auto path = searchPath();

    for (const auto& candidate : candidates)
        if (!findExecutable(candidate.front(), path).empty())
            return candidate;

    return {};
}

// Waits for the child on a thread of its own, so the panel never blocks on it and no zombie is left.
static void reapInBackground(pid_t child)
{
    try
    {
        std::thread(
            [child]
            {
                while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR)
                {
                }
            })
            .detach();
    }
    catch (const std::system_error&)
    {
        // No thread to spare: the child stays a zombie until the panel ends, which is harmless.
    }
}

bool start(const std::vector<std::string>& arguments)
{
    if (arguments.empty())
        return false;

    const auto program = findExecutable(arguments.front(), searchPath());
    if (program.empty())
        return false;

    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return false;
    if (posix_spawnattr_init(&attributes) != 0)
    {
        posix_spawn_file_actions_destroy(&actions);
        return false;
    }

    // Only standard input, output and error go to the tool: the panel's sockets and pipes stay its own.
    bool ready = posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0;

    // The tool starts with default signal handling and nothing blocked, in a session of its own, so it
    // outlives the panel and ignores signals meant for the panel's terminal.
    sigset_t noSignals, defaultSignals;
    sigemptyset(&noSignals);
    sigemptyset(&defaultSignals);
    for (const int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGQUIT})
        sigaddset(&defaultSignals, signal);
    ready = ready && posix_spawnattr_setsigmask(&attributes, &noSignals) == 0 &&
            posix_spawnattr_setsigdefault(&attributes, &defaultSignals) == 0 &&
            posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                                      POSIX_SPAWN_SETSID) == 0;

    pid_t child = -1;
    // glibc reports a failed exec through the result and reaps that child itself.
    const bool started =
        ready && posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(), environ) == 0;

    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);

    if (started)
        reapInBackground(child);
    return started;
}

bool launch()
{
    return start(chooseCommand());
}
} // namespace AudioSettingsLauncher
