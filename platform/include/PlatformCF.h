// The CoreFoundation subset the device layer uses: reference-counted strings, numbers, dictionaries and
// UUIDs, and run loops with their sources and modes.
//
// Ownership follows the create/copy rule: a function whose name contains Create or Copy hands over one
// reference the caller gives back with CFRelease; every other result is borrowed. A null, released or
// wrong-typed argument never crashes: the call returns null, 0 or false and is recorded as a contract
// violation (see platform::sim::violations()).
#pragma once

#include "PlatformTypes.h"

#include <string>

typedef const void* CFTypeRef;
typedef const struct __CFString* CFStringRef;
typedef struct __CFString* CFMutableStringRef;
typedef const struct __CFNumber* CFNumberRef;
typedef const struct __CFDictionary* CFDictionaryRef;
typedef struct __CFDictionary* CFMutableDictionaryRef;
typedef const struct __CFAllocator* CFAllocatorRef;
typedef const struct __CFUUID* CFUUIDRef;
typedef struct __CFRunLoop* CFRunLoopRef;
typedef struct __CFRunLoopSource* CFRunLoopSourceRef;
typedef long CFIndex;
typedef unsigned long CFTypeID;
typedef unsigned long CFOptionFlags;
typedef UInt32 CFStringEncoding;

#define kCFAllocatorDefault ((CFAllocatorRef) nullptr)

// Type identifiers (CFGetTypeID).
CFTypeID CFGetTypeID(CFTypeRef object); // 0 for anything that is not a live object
CFTypeID CFStringGetTypeID();
CFTypeID CFNumberGetTypeID();
CFTypeID CFDictionaryGetTypeID();
CFTypeID CFUUIDGetTypeID();

CFTypeRef CFRetain(CFTypeRef object); // returns object; null stays null
void CFRelease(CFTypeRef object);
CFIndex CFGetRetainCount(CFTypeRef object); // 0 once released (or for a constant: a large count)
Boolean CFEqual(CFTypeRef a, CFTypeRef b);

// Strings.
enum : CFStringEncoding
{
    kCFStringEncodingASCII = 0x0600,
    kCFStringEncodingUTF8 = 0x08000100,
};

typedef CFIndex CFComparisonResult;
enum : CFComparisonResult
{
    kCFCompareLessThan = -1,
    kCFCompareEqualTo = 0,
    kCFCompareGreaterThan = 1,
};
enum : CFOptionFlags
{
    kCFCompareCaseInsensitive = 1,
};

// Null when the text is null or not valid in the encoding (ASCII: a byte above 127).
CFStringRef CFStringCreateWithCString(CFAllocatorRef allocator, const char* text, CFStringEncoding encoding);
CFIndex CFStringGetLength(CFStringRef string); // in characters
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length,
                                          CFStringEncoding encoding); // bytes, without the NUL
// Copies the text with its NUL; false when it does not fit or cannot be encoded (buffer then holds "").
Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex bufferSize, CFStringEncoding encoding);
const char* CFStringGetCStringPtr(CFStringRef string, CFStringEncoding encoding); // borrowed, may be null
// Case-insensitive comparison folds ASCII letters only.
CFComparisonResult CFStringCompare(CFStringRef a, CFStringRef b, CFOptionFlags options);

// A constant string: never released, same object for the same text.
CFStringRef platformConstantString(const char* text);
#define CFSTR(text) platformConstantString("" text "")

// Numbers.
typedef CFIndex CFNumberType;
enum : CFNumberType
{
    kCFNumberSInt8Type = 1,
    kCFNumberSInt16Type = 2,
    kCFNumberSInt32Type = 3,
    kCFNumberSInt64Type = 4,
    kCFNumberFloat32Type = 5,
    kCFNumberFloat64Type = 6,
    kCFNumberIntType = 9,
    kCFNumberLongLongType = 11,
    kCFNumberDoubleType = 13,
};
CFNumberRef CFNumberCreate(CFAllocatorRef allocator, CFNumberType type, const void* value);
// Converts to the requested type; false when the value does not fit exactly (out is still written).
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* out);

// Dictionaries. Keys and values are retained; keys compare with CFEqual.
typedef struct
{
    int unused;
} CFDictionaryKeyCallBacks, CFDictionaryValueCallBacks;
extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef allocator, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks);
void CFDictionarySetValue(CFMutableDictionaryRef dictionary, const void* key, const void* value);
void CFDictionaryRemoveValue(CFMutableDictionaryRef dictionary, const void* key);
const void* CFDictionaryGetValue(CFDictionaryRef dictionary, const void* key); // borrowed; null if missing
CFIndex CFDictionaryGetCount(CFDictionaryRef dictionary);

// UUIDs: constants, never released.
typedef struct
{
    UInt8 byte0, byte1, byte2, byte3, byte4, byte5, byte6, byte7, byte8, byte9, byte10, byte11, byte12,
        byte13, byte14, byte15;
} CFUUIDBytes;
CFUUIDRef CFUUIDGetConstantUUIDWithBytes(CFAllocatorRef allocator, UInt8 byte0, UInt8 byte1, UInt8 byte2,
                                         UInt8 byte3, UInt8 byte4, UInt8 byte5, UInt8 byte6, UInt8 byte7,
                                         UInt8 byte8, UInt8 byte9, UInt8 byte10, UInt8 byte11, UInt8 byte12,
                                         UInt8 byte13, UInt8 byte14, UInt8 byte15);
CFUUIDBytes CFUUIDGetUUIDBytes(CFUUIDRef uuid); // all zero for a null or foreign argument

// Run loops. On the main thread CFRunLoopGetCurrent is the main run loop, which the simulator services
// (through the JUCE message loop, or by hand with platform::sim::pumpMain()). Any other thread gets a loop
// that is never serviced. Sources added in the default or the common modes are serviced.
extern const CFStringRef kCFRunLoopDefaultMode;
extern const CFStringRef kCFRunLoopCommonModes;

CFRunLoopRef CFRunLoopGetCurrent();
CFRunLoopRef CFRunLoopGetMain();
void CFRunLoopAddSource(CFRunLoopRef loop, CFRunLoopSourceRef source, CFStringRef mode);
void CFRunLoopRemoveSource(CFRunLoopRef loop, CFRunLoopSourceRef source, CFStringRef mode);

namespace platform
{
// The text of a string as UTF-8; "" for null or a non-string.
std::string toStdString(CFStringRef string);
} // namespace platform
