// Whether the program can reach a display before it makes any window.
#pragma once

#include <optional>
#include <string>

namespace pelk::program
{
// Tries the display named by DISPLAY (an empty or unset DISPLAY names none) with a connection of its own,
// closed again at once. Nothing when the display answers; otherwise the reason, naming the display tried,
// as one line for standard error.
std::optional<std::string> unreachableDisplay();
} // namespace pelk::program
