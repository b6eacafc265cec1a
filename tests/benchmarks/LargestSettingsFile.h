#pragma once

// The largest settings file the program accepts, for the benchmarks of its start and of the file's read.

#include "SettingsDocument.h"

#include <algorithm>
#include <string>

namespace pelkbench
{
// `bytes` in all: `keys` keys holding `textBytes` of names and values (or what fits), the values written as
// "&quot;" (six bytes for each one decoded, the costliest text to decode), and a comment filling the rest.
// The defaults are the program's limits.
inline std::string largestSettingsFile(std::size_t bytes = SettingsLimits{}.maxBytes,
                                       int keys = SettingsLimits{}.maxKeys,
                                       std::size_t textBytes = SettingsLimits{}.maxTextBytes)
{
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n<PROPERTIES>";
    const std::string tail = "\r\n</PROPERTIES>\r\n<!--", close = "-->";
    const auto element = [](int i, const std::string& value)
    { return "\r\n  <VALUE name=\"k" + std::to_string(i) + "\" val=\"" + value + "\"/>"; };

    std::size_t fixed = head.size() + tail.size() + close.size(), names = 0;
    for (int i = 0; i < keys; ++i)
    {
        fixed += element(i, {}).size();
        names += std::to_string(i).size() + 1;
    }
    const auto perValue =
        std::min((textBytes - names) / (std::size_t) keys, (bytes - fixed) / (std::size_t) keys / 6);

    std::string value;
    for (std::size_t i = 0; i < perValue; ++i)
        value += "&quot;";
    std::string doc = head;
    for (int i = 0; i < keys; ++i)
        doc += element(i, value);
    doc += tail;
    doc.append(bytes - std::min(bytes, doc.size() + close.size()), ' ');
    return doc + close;
}
} // namespace pelkbench
