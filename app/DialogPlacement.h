// Where a dialog window goes beside the main panel.
#pragma once

#include <cstdint>

// The screen x of a dialog window dialogWidth wide placed beside a panel at panelX, panelWidth wide, on a
// monitor area monitorWidth wide: on the side with more room, the left one when both have the same. A
// panel that overhangs the right edge has its room counted one monitor width further, so the dialog then
// goes right. The area's origin is not used and nothing is clamped to the screen. Signed 32-bit
// arithmetic; a sum beyond its range wraps instead of being undefined.
inline int besideDialogX(int panelX, int panelWidth, int dialogWidth, int monitorWidth)
{
    const auto wrap = [](std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); };

    std::int32_t right = wrap(std::int64_t(monitorWidth) - wrap(std::int64_t(panelX) + panelWidth));
    std::int32_t left = wrap(std::int64_t(panelX) - dialogWidth);

    if (right < 0)
    {
        right = wrap(std::int64_t(right) + monitorWidth);
        left = wrap(std::int64_t(left) - monitorWidth);
    }

    return left >= right ? wrap(std::int64_t(panelX) - dialogWidth) : wrap(std::int64_t(panelX) + panelWidth);
}
