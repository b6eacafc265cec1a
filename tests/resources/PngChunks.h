#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pelk::test
{
struct PngChunk
{
    std::string type;
    std::vector<uint8_t> data;
};

// Walks the chunks of a PNG file held in memory. Fills `chunks` and returns an empty string when the
// signature, every chunk length and every CRC are sound and IEND ends the data exactly; otherwise
// returns what is wrong.
std::string readPngChunks(const void* data, size_t size, std::vector<PngChunk>& chunks);

// Checks the form every panel picture must have: 8-bit indexed colour with a palette of at most 256
// entries, not interlaced, no transparency chunk, nothing after IEND. Returns an empty string when the
// file has that form, else the first thing that is wrong.
std::string checkIndexedOpaquePng(const void* data, size_t size);
} // namespace pelk::test
