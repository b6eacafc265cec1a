// Fuzz target of the settings file's reader and writer. For bytes the reader accepts, the writer's document
// stays within the size limit and reads back as the same values, and writing those gives the same bytes;
// anything else is a crash the fuzzer reports.

#include "SettingsDocument.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    const SettingsLimits limits;
    const auto first = readSettingsDocument(data, size, limits);
    if (!first.fault.empty())
        return 0;

    const auto written = writeSettingsDocument(first.values);
    const auto again = readSettingsDocument(written.data(), written.size(), limits);
    if (written.size() > limits.maxBytes || !again.fault.empty() || again.values != first.values ||
        writeSettingsDocument(again.values) != written)
    {
        std::fprintf(stderr, "round trip failed (%s): %zu bytes written\n", again.fault.c_str(),
                     written.size());
        std::abort();
    }
    return 0;
}
