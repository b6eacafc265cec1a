#pragma once

// The main panel's sizes, the menu bar left out. The art is drawn at the smallest and at the largest size;
// the window keeps the panel between the two at the art's aspect ratio, and opens at the default size.
namespace PanelSize
{
inline constexpr int minimumWidth = 226;
inline constexpr int minimumHeight = 348;
inline constexpr int maximumWidth = 452;
inline constexpr int maximumHeight = 696;
inline constexpr int defaultWidth = 316;
inline constexpr int defaultHeight = 486;
// Width over height.
inline constexpr double aspectRatio = (double) minimumWidth / (double) minimumHeight;
} // namespace PanelSize
