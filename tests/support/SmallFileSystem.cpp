#include "SmallFileSystem.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace pelktest
{
SmallFileSystem::SmallFileSystem(const juce::File& f) : folder(f)
{
    folder.createDirectory();
    if (::geteuid() != 0)
        fault = "a small file system can be mounted only as root";
    else if (::mount("tmpfs", folder.getFullPathName().toRawUTF8(), "tmpfs", 0, "size=64k") != 0)
        fault = std::strerror(errno);
    else
        isMounted = true;
}

SmallFileSystem::~SmallFileSystem()
{
    if (isMounted)
        ::umount2(folder.getFullPathName().toRawUTF8(), MNT_DETACH);
}

juce::String SmallFileSystem::fill() const
{
    const int fd = ::open(folder.getChildFile("filler").getFullPathName().toRawUTF8(),
                          O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    // Whole blocks first, then single bytes into what is left of the last one.
    const char bytes[512] = {};
    while (fd >= 0 && ::write(fd, bytes, sizeof(bytes)) > 0)
    {
    }
    while (fd >= 0 && ::write(fd, bytes, 1) > 0)
    {
    }
    ::close(fd);
    return std::strerror(ENOSPC);
}

bool SmallFileSystem::removeFiller() const
{
    return folder.getChildFile("filler").deleteFile();
}

bool SmallFileSystem::setReadOnly(bool readOnly) const
{
    unsigned long flags = MS_REMOUNT;
    if (readOnly)
        flags |= MS_RDONLY;
    return ::mount(nullptr, folder.getFullPathName().toRawUTF8(), nullptr, flags, nullptr) == 0;
}
} // namespace pelktest
