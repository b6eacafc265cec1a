#include "DeviceLog.h"

#include <cstdarg>
#include <vector>

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
        std::fwrite(small, 1, static_cast<size_t>(length), stream);
    }
    else
    {
        std::vector<char> large(static_cast<size_t>(length) + 1);
        std::vsnprintf(large.data(), large.size(), format, copy);
        std::fwrite(large.data(), 1, static_cast<size_t>(length), stream);
    }
    va_end(copy);
    std::fflush(stream);
}
