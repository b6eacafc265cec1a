// The placement of a dialog window beside the panel.

#include "DialogPlacement.h"

#include <climits>
#include <gtest/gtest.h>
#include <ostream>

namespace
{
struct PlacementCase
{
    int panelX, panelWidth, dialogWidth, monitorWidth;
    int expectedX;
};

// Test names in the test list show the case, not its bytes.
[[maybe_unused]] void PrintTo(const PlacementCase& c, std::ostream* os)
{
    *os << "px " << c.panelX << " pw " << c.panelWidth << " dw " << c.dialogWidth << " mw " << c.monitorWidth;
}

class DialogPlacement : public ::testing::TestWithParam<PlacementCase>
{
};

TEST_P(DialogPlacement, GoesToTheSideWithMoreRoom)
{
    const auto& c = GetParam();
    EXPECT_EQ(besideDialogX(c.panelX, c.panelWidth, c.dialogWidth, c.monitorWidth), c.expectedX);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, DialogPlacement,
    ::testing::Values(
        PlacementCase{100, 316, 314, 1440, 416},   // right 1024, left -214: right
        PlacementCase{1100, 316, 314, 1440, 786},  // right 24, left 786: left
        PlacementCase{1500, 316, 314, 1440, 1816}, // right -376 -> 1064, left 1186 -> -254: right
        PlacementCase{1300, 316, 314, 1440, 1616}, // overhang: right -176 -> 1264, left -454: right
        PlacementCase{719, 316, 314, 1440, 405},   // right 405, left 405: equal goes left
        PlacementCase{718, 316, 314, 1440, 1034},  // right 406, left 404: right
        PlacementCase{0, 316, 314, 1440, 316},     // at the left edge: right
        PlacementCase{1124, 316, 314, 1440, 810},  // flush with the right edge: left
        // px + pw passes INT_MAX: the sums wrap as 32-bit values (right comes out negative,
        // then -2147481073; left 2147481883), so the window goes left.
        PlacementCase{INT_MAX - 10, 316, 314, 1440, INT_MAX - 324}));
} // namespace
