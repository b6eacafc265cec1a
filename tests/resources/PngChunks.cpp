#include "PngChunks.h"

#include <algorithm>
#include <array>

namespace pelk::test
{
namespace
{
uint32_t readBigEndian32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

uint32_t crc32(const uint8_t* p, size_t n)
{
    static const auto table = []
    {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i)
        {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();

    uint32_t c = 0xffffffffu;
    for (size_t i = 0; i < n; ++i)
        c = table[(c ^ p[i]) & 0xff] ^ (c >> 8);
    return c ^ 0xffffffffu;
}
} // namespace

std::string readPngChunks(const void* data, size_t size, std::vector<PngChunk>& chunks)
{
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a};
    const auto* bytes = static_cast<const uint8_t*>(data);
    chunks.clear();

    if (size < 8 || !std::equal(signature, signature + 8, bytes))
        return "no PNG signature";

    size_t pos = 8;
    while (pos < size)
    {
        if (size - pos < 12)
            return "truncated chunk header at byte " + std::to_string(pos);

        const uint32_t length = readBigEndian32(bytes + pos);
        if (length > size - pos - 12)
            return "chunk at byte " + std::to_string(pos) + " runs past the end";

        PngChunk chunk;
        chunk.type.assign(reinterpret_cast<const char*>(bytes + pos + 4), 4);
        chunk.data.assign(bytes + pos + 8, bytes + pos + 8 + length);

        if (crc32(bytes + pos + 4, length + 4) != readBigEndian32(bytes + pos + 8 + length))
            return "bad CRC in chunk " + chunk.type;

        pos += 12 + length;
        chunks.push_back(std::move(chunk));

        if (chunks.back().type == "IEND")
            return pos == size ? "" : std::to_string(size - pos) + " bytes after IEND";
    }
    return "no IEND chunk";
}

std::string checkIndexedOpaquePng(const void* data, size_t size)
{
    std::vector<PngChunk> chunks;
    if (auto fault = readPngChunks(data, size, chunks); !fault.empty())
        return fault;

    if (chunks.front().type != "IHDR" || chunks.front().data.size() != 13)
        return "IHDR is not the first chunk";

    const auto& ihdr = chunks.front().data;
    if (ihdr[8] != 8)
        return "bit depth " + std::to_string(ihdr[8]) + ", not 8";
    if (ihdr[9] != 3)
        return "colour type " + std::to_string(ihdr[9]) + ", not 3 (indexed)";
    if (ihdr[12] != 0)
        return "interlaced";

    bool paletteSeen = false, imageDataSeen = false;
    for (const auto& chunk : chunks)
    {
        if (chunk.type == "tRNS")
            return "has a tRNS chunk";
        if (chunk.type == "IDAT")
            imageDataSeen = true;
        if (chunk.type == "PLTE")
        {
            if (imageDataSeen)
                return "PLTE after IDAT";
            if (chunk.data.empty() || chunk.data.size() % 3 != 0 || chunk.data.size() > 256 * 3)
                return "palette of " + std::to_string(chunk.data.size()) + " bytes";
            paletteSeen = true;
        }
    }
    if (!paletteSeen)
        return "no PLTE chunk";
    if (!imageDataSeen)
        return "no IDAT chunk";
    return "";
}
} // namespace pelk::test
