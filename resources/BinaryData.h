#pragma once

// The panel's pictures, each one complete PNG file compiled into the program. Decode with
// juce::ImageCache::getFromMemory(ORVBIN::temp_binary_data_N, ORVBIN::temp_binary_data_NSize).
//
//   2, 3    routing matrix, unlit and lit, 522 x 424 (not shown anywhere)
//   4       loopback picture 1x, 157 x 161 (half of 6)
//   6       loopback picture 2x, 314 x 322, both buttons off
//   7       loopback picture 2x, 314 x 322, both buttons lit
//   8, 10   panel background 1x (226 x 348) and 2x (452 x 696), every button off
//   9, 11   panel button face 1x (226 x 348) and 2x (452 x 696), buttons lit
//   12, 14  fader thumb 1x (11 x 17) and 2x (22 x 33)
//   13, 15  linked fader thumb 1x (11 x 17) and 2x (22 x 33)
//   17      about box, 534 x 212
namespace ORVBIN
{
extern const unsigned char temp_binary_data_2[];
extern const int temp_binary_data_2Size;
extern const unsigned char temp_binary_data_3[];
extern const int temp_binary_data_3Size;
extern const unsigned char temp_binary_data_4[];
extern const int temp_binary_data_4Size;
extern const unsigned char temp_binary_data_6[];
extern const int temp_binary_data_6Size;
extern const unsigned char temp_binary_data_7[];
extern const int temp_binary_data_7Size;
extern const unsigned char temp_binary_data_8[];
extern const int temp_binary_data_8Size;
extern const unsigned char temp_binary_data_9[];
extern const int temp_binary_data_9Size;
extern const unsigned char temp_binary_data_10[];
extern const int temp_binary_data_10Size;
extern const unsigned char temp_binary_data_11[];
extern const int temp_binary_data_11Size;
extern const unsigned char temp_binary_data_12[];
extern const int temp_binary_data_12Size;
extern const unsigned char temp_binary_data_13[];
extern const int temp_binary_data_13Size;
extern const unsigned char temp_binary_data_14[];
extern const int temp_binary_data_14Size;
extern const unsigned char temp_binary_data_15[];
extern const int temp_binary_data_15Size;
extern const unsigned char temp_binary_data_17[];
extern const int temp_binary_data_17Size;
} // namespace ORVBIN
