#include "DisplayCheck.h"

#include <cstdlib>
#include <xcb/xcb.h>

namespace pelk::program
{
namespace
{
std::string reasonFor(int error)
{
    switch (error)
    {
        case XCB_CONN_CLOSED_PARSE_ERR:
            return "it is not a display name";
        case XCB_CONN_CLOSED_INVALID_SCREEN:
            return "the display has no such screen";
        case XCB_CONN_ERROR:
            return "no X server answers there, or it refused the connection";
        default:
            return "the connection failed (error " + std::to_string(error) + ")";
    }
}
} // namespace

std::optional<std::string> unreachableDisplay()
{
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0')
        return std::string("Pelk VOD Panel: no display to open: DISPLAY is empty or not set");

    // xcb reports the failure as a code and prints nothing itself.
    xcb_connection_t* connection = xcb_connect(name, nullptr);
    const int error = xcb_connection_has_error(connection);
    xcb_disconnect(connection);
    if (error == 0)
        return std::nullopt;
    return "Pelk VOD Panel: cannot open the display \"" + std::string(name) + "\": " + reasonFor(error);
}
} // namespace pelk::program
