#include "DisplayCheck.h"

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
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

struct Disconnect
{
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};

// The check's connection once it succeeded, kept for the program's life.
std::unique_ptr<xcb_connection_t, Disconnect> kept;
} // namespace

std::optional<std::string> unreachableDisplay()
{
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0')
        return std::string("Pelk VOD Panel: no display to open: DISPLAY is empty or not set");

    // xcb reports the failure as a code and prints nothing itself.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    for (;;)
    {
        std::unique_ptr<xcb_connection_t, Disconnect> connection(xcb_connect(name, nullptr));
        const int error = xcb_connection_has_error(connection.get());
        if (error == 0)
        {
            kept = std::move(connection);
            return std::nullopt;
        }
        if (error != XCB_CONN_ERROR || std::chrono::steady_clock::now() >= giveUp)
            return "Pelk VOD Panel: cannot open the display \"" + std::string(name) +
                   "\": " + reasonFor(error);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
} // namespace pelk::program
