#include "SettingsGuard.h"

#include "SettingsFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{
constexpr const char* rootTag = "PROPERTIES";
constexpr const char* valueTag = "VALUE";
constexpr const char* nameAttribute = "name";
constexpr const char* valueAttribute = "val";

juce::String errnoText(int error)
{
    return juce::String(std::strerror(error));
}

juce::String quoted(const juce::File& file)
{
    return "\"" + file.getFullPathName() + "\"";
}

// True when the bytes are UTF-8 as the standard defines it: no overlong forms, no surrogates, nothing
// above U+10FFFF. NUL bytes are reported before this is asked.
bool isUtf8(const unsigned char* p, std::size_t size)
{
    for (std::size_t i = 0; i < size;)
    {
        const unsigned c = p[i];
        if (c < 0x80)
        {
            ++i;
            continue;
        }

        std::size_t length = 0;
        unsigned low = 0x80, high = 0xbf; // the allowed range of the second byte
        if (c >= 0xc2 && c <= 0xdf)
            length = 2;
        else if (c >= 0xe0 && c <= 0xef)
        {
            length = 3;
            low = c == 0xe0 ? 0xa0 : 0x80;
            high = c == 0xed ? 0x9f : 0xbf;
        }
        else if (c >= 0xf0 && c <= 0xf4)
        {
            length = 4;
            low = c == 0xf0 ? 0x90 : 0x80;
            high = c == 0xf4 ? 0x8f : 0xbf;
        }
        else
            return false;

        if (size - i < length || p[i + 1] < low || p[i + 1] > high)
            return false;
        for (std::size_t k = 2; k < length; ++k)
            if ((p[i + k] & 0xc0) != 0x80)
                return false;
        i += length;
    }
    return true;
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

// The framework's XML properties document for a key set, built as the framework builds it (a value that
// reads as markup is stored as a child element, any other as the "val" attribute) and written with its
// default text format. A value whose markup could harm the reader is stored as text.
juce::MemoryBlock documentBytes(const juce::StringPairArray& properties)
{
    juce::XmlElement doc(rootTag);
    const auto& keys = properties.getAllKeys();
    const auto& values = properties.getAllValues();

    for (int i = 0; i < properties.size(); ++i)
    {
        auto* e = doc.createNewChildElement(valueTag);
        e->setAttribute(nameAttribute, keys[i]);

        const auto& value = values[i];
        std::unique_ptr<juce::XmlElement> child;
        if (findMarkupFault(value.toRawUTF8(), value.getNumBytesAsUTF8()).isEmpty())
            child = juce::parseXML(value);

        if (child != nullptr)
            e->addChildElement(child.release());
        else
            e->setAttribute(valueAttribute, value);
    }

    juce::MemoryOutputStream out;
    doc.writeTo(out, {});
    return out.getMemoryBlock();
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

// Replaces the settings file whole: a new file next to it, written, synced and renamed onto it, so the old
// file stays as it was until the new one is complete. An empty text on success, else the reason.
juce::String replaceFile(const juce::File& file, const juce::MemoryBlock& bytes)
{
    juce::String fault;
    const auto target = saveTarget(file, fault);
    if (target == juce::File())
        return fault;

    const auto folder = target.getParentDirectory();
    if (fault = createFolders(folder); fault.isNotEmpty())
        return fault;

    // Named as the framework names its temporary files.
    juce::File temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt)
    {
        temporary = folder.getChildFile(target.getFileNameWithoutExtension() + "_temp" +
                                        juce::String::toHexString(juce::Random::getSystemRandom().nextInt()) +
                                        target.getFileExtension());
        fd = ::open(temporary.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST)
            return errnoText(errno);
    }
    if (fd < 0)
        return errnoText(EEXIST);

    int error = 0;
    if (!writeAll(fd, static_cast<const char*>(bytes.getData()), bytes.getSize()) || ::fsync(fd) != 0)
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
} // namespace

juce::String findMarkupFault(const char* text, std::size_t size, const SettingsLimits& limits)
{
    const std::string_view s(text, size);
    int depth = 0;
    int elements = 0;

    // Skips to just past the end marker, or reports that the markup is cut short.
    const auto skipPast = [&s](std::size_t& at, std::size_t from, std::string_view end)
    {
        const auto found = s.find(end, from);
        if (found == std::string_view::npos)
            return false;
        at = found + end.size();
        return true;
    };

    for (std::size_t at = s.find('<'); at != std::string_view::npos; at = s.find('<', at))
    {
        const auto rest = s.substr(at);
        if (rest.rfind("<!--", 0) == 0)
        {
            if (!skipPast(at, at + 4, "-->"))
                break;
        }
        else if (rest.rfind("<![CDATA[", 0) == 0)
        {
            if (!skipPast(at, at + 9, "]]>"))
                break;
        }
        else if (rest.rfind("<!", 0) == 0)
        {
            return "a document type declaration";
        }
        else if (rest.rfind("<?", 0) == 0)
        {
            if (!skipPast(at, at + 2, "?>"))
                break;
        }
        else if (rest.rfind("</", 0) == 0)
        {
            if (depth > 0)
                --depth;
            if (!skipPast(at, at + 2, ">"))
                break;
        }
        else
        {
            if (++elements > limits.maxElements)
                return "more than " + juce::String(limits.maxElements) + " elements";

            // The tag's end, passing over quoted attribute values.
            std::size_t i = at + 1;
            while (i < s.size() && s[i] != '>')
            {
                if (s[i] == '"' || s[i] == '\'')
                {
                    const auto close = s.find(s[i], i + 1);
                    if (close == std::string_view::npos)
                        return {};
                    i = close;
                }
                ++i;
            }
            if (i >= s.size())
                break;

            if (s[i - 1] != '/' && ++depth > limits.maxDepth)
                return "nested deeper than " + juce::String(limits.maxDepth) + " levels";
            at = i + 1;
        }
    }
    return {};
}

juce::String findSettingsDocumentFault(const void* data, std::size_t size, const SettingsLimits& limits)
{
    if (size > limits.maxBytes)
        return "larger than " + juce::String((juce::int64) limits.maxBytes / 1024) + " KiB";

    const auto* bytes = static_cast<const unsigned char*>(data);
    if (std::memchr(bytes, 0, size) != nullptr)
        return "NUL bytes";
    if (!isUtf8(bytes, size))
        return "not UTF-8 text";

    if (auto fault = findMarkupFault(static_cast<const char*>(data), size, limits); fault.isNotEmpty())
        return fault;

    // Read as the framework reads the file (a byte-order mark dropped), then parsed by its reader, which
    // the checks above keep within bounds.
    const auto document =
        juce::parseXMLIfTagMatches(juce::String::createStringFromData(data, (int) size), rootTag);
    if (document == nullptr)
        return "not a settings document";

    for (auto* e : document->getChildWithTagNameIterator(valueTag))
    {
        const auto value = e->getStringAttribute(valueAttribute);
        if (auto fault = findMarkupFault(value.toRawUTF8(), value.getNumBytesAsUTF8(), limits);
            fault.isNotEmpty())
            return "in a value: " + fault;
    }
    return {};
}

SettingsFileVerdict vetSettingsFile(const juce::File& file, const SettingsLimits& limits)
{
    using Kind = SettingsFileVerdict::Kind;
    const auto path = file.getFullPathName();
    struct stat st
    {
    };

    // Nothing that can be looked at: the framework reads nothing there either, and a save reports why.
    if (lstat(path.toRawUTF8(), &st) != 0)
        return {};

    juce::String through;
    if (S_ISLNK(st.st_mode))
    {
        if (stat(path.toRawUTF8(), &st) != 0)
            return {Kind::unusable, "a symbolic link that leads to no file"};
        through = "a symbolic link to ";
    }
    if (!S_ISREG(st.st_mode))
        return {Kind::unusable, through + describeKind(st.st_mode)};

    // Opened without waiting, and checked again, in case something else has taken its place meanwhile.
    const int fd = ::open(path.toRawUTF8(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return {Kind::unusable, "not readable: " + errnoText(errno)};

    SettingsFileVerdict verdict;
    std::vector<char> bytes;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        verdict = {Kind::unusable, through + describeKind(st.st_mode)};
    else if ((std::size_t) st.st_size > limits.maxBytes)
        verdict = {Kind::unusable, findSettingsDocumentFault(nullptr, (std::size_t) st.st_size, limits)};
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
                verdict = {Kind::unusable, "not readable: " + errnoText(errno)};
                break;
            }
            if (n == 0)
                break;
            got += (std::size_t) n;
        }

        if (verdict.fault.isEmpty() && got > 0)
        {
            verdict.fault = findSettingsDocumentFault(bytes.data(), got, limits);
            verdict.kind = verdict.fault.isEmpty() ? Kind::usable : Kind::unusable;
        }
    }
    ::close(fd);
    return verdict;
}

juce::File unusableSettingsFileFor(const juce::File& file)
{
    return file.getSiblingFile(file.getFileName() + ".unusable");
}

// The user settings: the framework's properties file, loaded by the framework from a vetted path, whose
// saves this class makes. The framework's own saving is switched off in the options it is given.
class SettingsStore::GuardedFile final : public juce::PropertiesFile
{
public:
    GuardedFile(const juce::File& path, const juce::PropertiesFile::Options& storeOptions, bool saving,
                const Reporter& reporter)
        : juce::PropertiesFile(path, frameworkOptions(storeOptions)),
          delay(storeOptions.millisecondsBeforeSaving), canSave(saving && !storeOptions.doNotSave),
          report(reporter)
    {
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

        const auto fault = replaceFile(getFile(), documentBytes(getAllProperties()));
        if (fault.isEmpty())
            setNeedsToBeSaved(false);
        else
            report(juce::String(settingsApplicationName) + ": could not save the settings to " +
                   quoted(getFile()) + ": " + fault);
    }

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
    const auto verdict = vetSettingsFile(path);

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

    file = std::make_unique<GuardedFile>(path, options, saving, report);

    // The framework's application properties also load the common settings, which here are the same file
    // (the folder is an absolute path), as the user settings' fallback.
    fallback.getAllProperties() = file->getAllProperties();
    file->setFallbackPropertySet(&fallback);
    return file.get();
}
