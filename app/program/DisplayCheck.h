// Whether the program can reach a display before it makes any window.
#pragma once

#include <optional>
#include <string>

namespace pelk::program
{
// Tries the display named by DISPLAY (an empty or unset DISPLAY names none) with a connection of its own.
// Nothing when the display answers; otherwise the reason, naming the display tried, as one line for
// standard error. A refused connection is tried again for up to a second: an X server that has just lost
// its last client resets itself and refuses connections meanwhile. A connection that succeeds stays open
// until the program ends, so that its closing cannot make the server reset under the framework's own.
std::optional<std::string> unreachableDisplay();
} // namespace pelk::program
