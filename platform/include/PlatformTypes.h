// Basic scalar types and the four-character codes shared by the platform headers.
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint8_t UInt8;
typedef uint16_t UInt16;
typedef uint32_t UInt32;
typedef uint64_t UInt64;
typedef int8_t SInt8;
typedef int16_t SInt16;
typedef int32_t SInt32;
typedef int64_t SInt64;
typedef float Float32;
typedef double Float64;
typedef unsigned char Boolean;
typedef SInt32 OSStatus;
typedef SInt32 HRESULT;
typedef UInt32 ULONG;
typedef void* LPVOID;

// A four-character code: the first character in the most significant byte ("dev#" = 0x64657623).
constexpr UInt32 platformFourCC(const char (&code)[5])
{
    return (UInt32(UInt8(code[0])) << 24) | (UInt32(UInt8(code[1])) << 16) | (UInt32(UInt8(code[2])) << 8) |
           UInt32(UInt8(code[3]));
}
