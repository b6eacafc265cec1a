#include "DeviceLog.h"

#include <cstdarg>
#include <unistd.h>
#include <vector>

namespace
{
// Standard error is unbuffered: its lines go straight to the descriptor in one write, without taking the
// stream's lock, so the main thread never waits for the worker's line. Standard output is buffered and
// shared with other writers, so it goes through the stream and is flushed.
void writeLine(std::FILE* stream, const char* text, size_t length)
{
    if (stream == stderr)
    {
        while (length > 0)
        {
            const ssize_t written = ::write(STDERR_FILENO, text, length);
            if (written <= 0)
                return;
            text += written;
            length -= static_cast<size_t>(written);
        }
        return;
    }
    std::fwrite(text, 1, length, stream);
    std::fflush(stream);
}
} // namespace

void deviceLog(std::FILE* stream, const char* format, ...)
{
    char small[256];
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(small, sizeof(small), format, args);
    va_end(args);

    if (length < 0)
    {
        va_end(copy);
        return;
    }

    if (static_cast<size_t>(length) < sizeof(small))
    {
        writeLine(stream, small, static_cast<size_t>(length));
    }
    else
    {
        std::vector<char> large(static_cast<size_t>(length) + 1);
        std::vsnprintf(large.data(), large.size(), format, copy);
        writeLine(stream, large.data(), static_cast<size_t>(length));
    }
    va_end(copy);
}
