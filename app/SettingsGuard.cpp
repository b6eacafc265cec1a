#include "SettingsGuard.h"

#include "SettingsDocument.h"
#include "SettingsFile.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{
juce::String errnoText(int error)
{
    return juce::String(std::strerror(error));
}

juce::String quoted(const juce::File& file)
{
    return "\"" + file.getFullPathName() + "\"";
}

juce::String describeKind(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a named pipe";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "a special file";
}

// The framework's XML properties document for a key set, every value as text.
std::string documentBytes(const juce::StringPairArray& properties)
{
    SettingsValues values;
    values.reserve((std::size_t) properties.size());
    for (int i = 0; i < properties.size(); ++i)
        values.emplace_back(properties.getAllKeys()[i].toStdString(),
                            properties.getAllValues()[i].toStdString());
    return writeSettingsDocument(values);
}

// Creates a folder and the folders it lies in; an empty text on success, else the reason.
juce::String createFolders(const juce::File& folder)
{
    const auto path = folder.getFullPathName();
    if (mkdir(path.toRawUTF8(), 0777) == 0)
        return {};

    const int error = errno;
    if (error == EEXIST)
        return folder.isDirectory() ? juce::String() : errnoText(ENOTDIR);

    if (error == ENOENT && folder.getParentDirectory() != folder)
    {
        if (const auto parentFault = createFolders(folder.getParentDirectory()); parentFault.isNotEmpty())
            return parentFault;
        if (mkdir(path.toRawUTF8(), 0777) == 0 || (errno == EEXIST && folder.isDirectory()))
            return {};
        return errnoText(errno);
    }

    return errnoText(error);
}

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0)
    {
        const auto written = ::write(fd, data, size);
        if (written < 0)
        {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= (std::size_t) written;
    }
    return true;
}

// Where a save of the settings path lands: the path itself, or through a symbolic link the regular file it
// leads to. An empty File, with the reason, when the path holds something else.
juce::File saveTarget(const juce::File& file, juce::String& fault)
{
    const auto path = file.getFullPathName();
    struct stat st
    {
    };
    if (lstat(path.toRawUTF8(), &st) != 0 || S_ISREG(st.st_mode))
        return file;

    if (S_ISLNK(st.st_mode))
    {
        if (char* resolved = realpath(path.toRawUTF8(), nullptr))
        {
            const juce::File target(juce::String::fromUTF8(resolved));
            std::free(resolved);
            if (stat(target.getFullPathName().toRawUTF8(), &st) == 0 && S_ISREG(st.st_mode))
                return target;
        }
        fault = "the path is a symbolic link that leads to no regular file";
        return {};
    }

    fault = "the path is " + describeKind(st.st_mode);
    return {};
}

// The temporary file a save writes before renaming it onto the target, named as the framework names
// its own: "<name>_temp<hex>.<extension>" next to the target.
juce::File temporaryFileFor(const juce::File& target, std::uint32_t number)
{
    return target.getSiblingFile(target.getFileNameWithoutExtension() + "_temp" +
                                 juce::String::toHexString((int) number) + target.getFileExtension());
}

bool isTemporaryFileOf(const juce::File& target, const juce::String& name)
{
    const auto head = target.getFileNameWithoutExtension() + "_temp", tail = target.getFileExtension();
    if (!name.startsWith(head) || !name.endsWith(tail))
        return false;
    const auto number = name.substring(head.length(), name.length() - tail.length());
    return number.length() >= 1 && number.length() <= 8 && number.containsOnly("0123456789abcdef") &&
           temporaryFileFor(target, (std::uint32_t) number.getHexValue32()).getFileName() == name;
}

// Removes the regular files in the target's folder that a save killed before its rename left behind.
void removeLeftoverTemporaryFiles(const juce::File& target)
{
    const auto folder = target.getParentDirectory().getFullPathName();
    DIR* dir = ::opendir(folder.toRawUTF8());
    if (dir == nullptr)
        return;
    while (const auto* entry = ::readdir(dir))
    {
        const auto name = juce::String::fromUTF8(entry->d_name);
        struct stat st
        {
        };
        const auto path = target.getSiblingFile(name).getFullPathName();
        if (isTemporaryFileOf(target, name) && ::lstat(path.toRawUTF8(), &st) == 0 && S_ISREG(st.st_mode))
            ::unlink(path.toRawUTF8());
    }
    ::closedir(dir);
}

// Replaces the settings file whole: a new file next to it, written, synced and renamed onto it, so the old
// file stays as it was until the new one is complete. An empty text on success, else the reason.
juce::String replaceFile(const juce::File& file, const std::string& bytes)
{
    juce::String fault;
    const auto target = saveTarget(file, fault);
    if (target == juce::File())
        return fault;

    const auto folder = target.getParentDirectory();
    if (fault = createFolders(folder); fault.isNotEmpty())
        return fault;

    juce::File temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt)
    {
        temporary = temporaryFileFor(target, (std::uint32_t) juce::Random::getSystemRandom().nextInt());
        fd = ::open(temporary.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST)
            return errnoText(errno);
    }
    if (fd < 0)
        return errnoText(EEXIST);

    // The file keeps its permission bits; a new one is made with the default ones.
    struct stat st
    {
    };
    int error = 0;
    if (::stat(target.getFullPathName().toRawUTF8(), &st) == 0 && ::fchmod(fd, st.st_mode & 07777) != 0)
        error = errno;
    if (error == 0 && (!writeAll(fd, bytes.data(), bytes.size()) || ::fsync(fd) != 0))
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 &&
        std::rename(temporary.getFullPathName().toRawUTF8(), target.getFullPathName().toRawUTF8()) != 0)
        error = errno;

    if (error != 0)
    {
        ::unlink(temporary.getFullPathName().toRawUTF8());
        return errnoText(error);
    }

    // The rename itself is made durable with the folder; a folder that cannot be synced loses nothing now.
    const int folderFd = ::open(folder.getFullPathName().toRawUTF8(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0)
    {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return {};
}

// Renames an unusable file aside, replacing an older one kept there unless that is a folder. An empty text
// on success, else the reason.
juce::String keepAside(const juce::File& file, const juce::File& aside)
{
    const auto from = file.getFullPathName();
    const auto to = aside.getFullPathName();
    if (std::rename(from.toRawUTF8(), to.toRawUTF8()) == 0)
        return {};

    const int error = errno;
    struct stat st
    {
    };
    if ((error == ENOTDIR || error == EISDIR || error == EEXIST || error == ENOTEMPTY) &&
        lstat(to.toRawUTF8(), &st) == 0 && !S_ISDIR(st.st_mode) && ::unlink(to.toRawUTF8()) == 0 &&
        std::rename(from.toRawUTF8(), to.toRawUTF8()) == 0)
        return {};

    return errnoText(error);
}

SettingsFileVerdict unusable(const juce::String& fault)
{
    return {SettingsFileVerdict::Kind::unusable, fault, {}};
}
} // namespace

SettingsFileVerdict readSettingsFile(const juce::File& file, const SettingsLimits& limits)
{
    using Kind = SettingsFileVerdict::Kind;
    const auto path = file.getFullPathName();
    struct stat st
    {
    };

    // Nothing that can be looked at: nothing to read, and a save reports why.
    if (lstat(path.toRawUTF8(), &st) != 0)
        return {};

    juce::String through;
    if (S_ISLNK(st.st_mode))
    {
        if (stat(path.toRawUTF8(), &st) != 0)
            return unusable("a symbolic link that leads to no file");
        through = "a symbolic link to ";
    }
    if (!S_ISREG(st.st_mode))
        return unusable(through + describeKind(st.st_mode));

    // Opened once, without waiting, and checked again, in case something else has taken its place
    // meanwhile; what is read from this descriptor is all that is ever read of the file.
    const int fd = ::open(path.toRawUTF8(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return unusable("not readable: " + errnoText(errno));

    SettingsFileVerdict verdict;
    std::vector<char> bytes;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        verdict = unusable(through + describeKind(st.st_mode));
    else if ((std::size_t) st.st_size > limits.maxBytes)
        verdict =
            unusable(juce::String(readSettingsDocument(nullptr, (std::size_t) st.st_size, limits).fault));
    else
    {
        // One byte more than allowed, to see a file that has grown since.
        bytes.resize(limits.maxBytes + 1);
        std::size_t got = 0;
        while (got < bytes.size())
        {
            const auto n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
            {
                verdict = unusable("not readable: " + errnoText(errno));
                break;
            }
            if (n == 0)
                break;
            got += (std::size_t) n;
        }

        if (verdict.fault.isEmpty() && got > 0)
        {
            auto document = readSettingsDocument(bytes.data(), got, limits);
            verdict.fault = juce::String::fromUTF8(document.fault.data(), (int) document.fault.size());
            verdict.kind = verdict.fault.isEmpty() ? Kind::usable : Kind::unusable;
            verdict.values = std::move(document.values);
        }
    }
    ::close(fd);
    return verdict;
}

juce::File unusableSettingsFileFor(const juce::File& file)
{
    return file.getSiblingFile(file.getFileName() + ".unusable");
}

// The user settings: the framework's properties file holding the values read from the settings path,
// whose saves this class makes. The framework's file is given no path, so it never reads one, and its own
// saving is switched off in the options it is given.
class SettingsStore::GuardedFile final : public juce::PropertiesFile
{
public:
    GuardedFile(const juce::File& settingsPath, const SettingsValues& values,
                const juce::PropertiesFile::Options& storeOptions, bool saving, const Reporter& reporter)
        : juce::PropertiesFile(juce::File(), frameworkOptions(storeOptions)), path(settingsPath),
          delay(storeOptions.millisecondsBeforeSaving), canSave(saving && !storeOptions.doNotSave),
          report(reporter)
    {
        for (const auto& [name, text] : values)
            getAllProperties().set(juce::String::fromUTF8(name.data(), (int) name.size()),
                                   juce::String::fromUTF8(text.data(), (int) text.size()));
        saveTimer.owner = this;
    }

    ~GuardedFile() override
    {
        saveIfPending();
        setNeedsToBeSaved(false);
    }

private:
    struct SaveTimer final : juce::Timer
    {
        GuardedFile* owner = nullptr;
        void timerCallback() override { owner->saveIfPending(); }
    };

    static juce::PropertiesFile::Options frameworkOptions(juce::PropertiesFile::Options o)
    {
        o.doNotSave = true;
        o.millisecondsBeforeSaving = -1;
        return o;
    }

    // As the framework's properties file: the change is announced and marked, and the save follows after
    // the delay (restarted by every change), at once with no delay, or only when asked with a negative one.
    void propertyChanged() override
    {
        juce::PropertiesFile::propertyChanged();
        if (delay > 0)
            saveTimer.startTimer(delay);
        else if (delay == 0)
            saveIfPending();
    }

    void saveIfPending()
    {
        const juce::ScopedLock sl(getLock());
        saveTimer.stopTimer();
        if (!needsToBeSaved() || !canSave)
            return;

        const auto fault = replaceFile(path, documentBytes(getAllProperties()));
        if (fault.isEmpty())
            setNeedsToBeSaved(false);
        else
            report(juce::String(settingsApplicationName) + ": could not save the settings to " +
                   quoted(path) + ": " + fault);
    }

    juce::File path;
    int delay;
    bool canSave;
    const Reporter& report;
    SaveTimer saveTimer;
};

SettingsStore::SettingsStore()
    : report(
          [](const juce::String& line)
          {
              std::fprintf(stderr, "%s\n", line.toRawUTF8());
              std::fflush(stderr);
          })
{
}

SettingsStore::~SettingsStore() = default;

void SettingsStore::setStorageParameters(const juce::PropertiesFile::Options& newOptions)
{
    options = newOptions;
}

void SettingsStore::setReporter(Reporter newReporter)
{
    report = std::move(newReporter);
}

juce::PropertiesFile* SettingsStore::getUserSettings()
{
    if (file != nullptr || options.applicationName.isEmpty())
        return file.get();

    auto path = options.getDefaultFile();
    bool saving = true;
    const auto verdict = readSettingsFile(path);

    if (verdict.kind == SettingsFileVerdict::Kind::unusable)
    {
        const auto aside = unusableSettingsFileFor(path);
        const auto prefix = juce::String(settingsApplicationName) + ": the settings file " + quoted(path) +
                            " is unusable (" + verdict.fault + ")";
        if (const auto fault = keepAside(path, aside); fault.isEmpty())
        {
            report(prefix + "; it was kept as " + quoted(aside) + " and the defaults apply");
        }
        else
        {
            // Left where it is, unread and never overwritten: the settings point nowhere for this run.
            report(prefix + " and could not be kept as " + quoted(aside) + " (" + fault +
                   "); the defaults apply and the settings will not be saved");
            path = juce::File();
            saving = false;
        }
    }

    if (saving)
    {
        juce::String ignored;
        if (const auto target = saveTarget(path, ignored); target != juce::File())
            removeLeftoverTemporaryFiles(target);
    }

    file = std::make_unique<GuardedFile>(path, verdict.values, options, saving, report);

    // The framework's application properties also load the common settings, which here are the same file
    // (the folder is an absolute path), as the user settings' fallback.
    fallback.getAllProperties() = file->getAllProperties();
    file->setFallbackPropertySet(&fallback);
    return file.get();
}
