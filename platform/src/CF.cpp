// CoreFoundation objects: strings, numbers, dictionaries and UUIDs with atomic reference counts.
// Every object handed out is listed as live, so a null, released or foreign pointer is recognised before it
// is touched.

#include "CFObjects.h"
#include "PlatformJuce.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <unordered_set>

namespace platform::cf
{
namespace
{
std::mutex& liveMutex()
{
    static auto* m = new std::mutex;
    return *m;
}

std::unordered_set<const Object*>& liveSet()
{
    static auto* s = new std::unordered_set<const Object*>;
    return *s;
}
} // namespace

std::vector<std::string>& violationList()
{
    static auto* list = new std::vector<std::string>;
    return *list;
}

Object::Object(Kind k, bool constant) : kind(k), immortal(constant)
{
    std::lock_guard<std::mutex> lock(liveMutex());
    liveSet().insert(this);
}

Object::~Object() = default;

const Object* live(CFTypeRef ref)
{
    if (ref == nullptr)
        return nullptr;
    std::lock_guard<std::mutex> lock(liveMutex());
    auto* object = static_cast<const Object*>(ref);
    return liveSet().count(object) != 0 ? object : nullptr;
}

const Object* expect(CFTypeRef ref, Kind kind, const char* call)
{
    const Object* object = live(ref);
    if (object == nullptr || object->kind != kind)
    {
        violation(std::string(call) +
                  (ref == nullptr ? ": null argument" : ": invalid or wrong-typed argument"));
        return nullptr;
    }
    return object;
}

void retain(const Object* object)
{
    if (!object->immortal)
        object->refs.fetch_add(1);
}

void release(const Object* object)
{
    if (object->immortal)
        return;
    if (object->refs.fetch_sub(1) != 1)
        return;
    // The memory is kept a while, so that a released pointer is not soon mistaken for a new object.
    static auto* quarantine = new std::deque<const Object*>;
    const Object* oldest = nullptr;
    {
        std::lock_guard<std::mutex> lock(liveMutex());
        liveSet().erase(object);
        quarantine->push_back(object);
        if (quarantine->size() > 4096)
        {
            oldest = quarantine->front();
            quarantine->pop_front();
        }
    }
    const_cast<Object*>(object)->dispose();
    delete oldest;
}

bool equal(const Object* a, const Object* b)
{
    if (a == b)
        return true;
    if (a == nullptr || b == nullptr || a->kind != b->kind)
        return false;
    switch (a->kind)
    {
        case Kind::string:
            return static_cast<const String*>(a)->text == static_cast<const String*>(b)->text;
        case Kind::number:
        {
            auto* x = static_cast<const Number*>(a);
            auto* y = static_cast<const Number*>(b);
            return x->isFloat || y->isFloat ? x->asDouble() == y->asDouble() : x->integer == y->integer;
        }
        case Kind::uuid:
            return std::memcmp(&static_cast<const Uuid*>(a)->bytes, &static_cast<const Uuid*>(b)->bytes,
                               16) == 0;
        case Kind::dictionary:
        {
            auto* x = static_cast<const Dictionary*>(a);
            auto* y = static_cast<const Dictionary*>(b);
            if (x->entries.size() != y->entries.size())
                return false;
            for (auto& [key, value] : x->entries)
            {
                auto* other = y->find(key);
                if (other == nullptr || !equal(value, other))
                    return false;
            }
            return true;
        }
    }
    return false;
}

void Dictionary::dispose()
{
    auto old = std::move(entries);
    entries.clear();
    for (auto& [key, value] : old)
    {
        release(key);
        release(value);
    }
}

const Object* Dictionary::find(const Object* key) const
{
    for (auto& [k, v] : entries)
        if (equal(k, key))
            return v;
    return nullptr;
}

void Dictionary::set(const Object* key, const Object* value)
{
    retain(key);
    retain(value);
    for (auto& entry : entries)
        if (equal(entry.first, key))
        {
            release(entry.first);
            release(entry.second);
            entry = {key, value};
            return;
        }
    entries.emplace_back(key, value);
}

const String* makeString(const std::string& text)
{
    return new String(text);
}

const Number* makeNumber(SInt64 value)
{
    auto* number = new Number;
    number->integer = value;
    return number;
}

const String* constantString(const std::string& text)
{
    static auto* m = new std::mutex;
    static auto* table = new std::map<std::string, const String*>;
    std::lock_guard<std::mutex> lock(*m);
    auto& slot = (*table)[text];
    if (slot == nullptr)
        slot = new String(text, true);
    return slot;
}

} // namespace platform::cf

void platform::violation(const std::string& what)
{
    std::lock_guard<std::mutex> lock(cf::liveMutex());
    cf::violationList().push_back(what);
}

std::vector<std::string> platform::takeViolations(bool clear)
{
    std::lock_guard<std::mutex> lock(cf::liveMutex());
    auto copy = cf::violationList();
    if (clear)
        cf::violationList().clear();
    return copy;
}

using namespace platform::cf;
using platform::violation;

CFTypeID CFGetTypeID(CFTypeRef object)
{
    const Object* o = live(object);
    return o == nullptr ? 0 : CFTypeID(o->kind);
}
CFTypeID CFStringGetTypeID()
{
    return CFTypeID(Kind::string);
}
CFTypeID CFNumberGetTypeID()
{
    return CFTypeID(Kind::number);
}
CFTypeID CFDictionaryGetTypeID()
{
    return CFTypeID(Kind::dictionary);
}
CFTypeID CFUUIDGetTypeID()
{
    return CFTypeID(Kind::uuid);
}

CFTypeRef CFRetain(CFTypeRef object)
{
    const Object* o = live(object);
    if (o == nullptr)
    {
        violation(object == nullptr ? "CFRetain: null argument" : "CFRetain: released or foreign object");
        return object == nullptr ? nullptr : object;
    }
    retain(o);
    return object;
}

void CFRelease(CFTypeRef object)
{
    const Object* o = live(object);
    if (o == nullptr)
    {
        violation(object == nullptr ? "CFRelease: null argument" : "CFRelease: released or foreign object");
        return;
    }
    release(o);
}

CFIndex CFGetRetainCount(CFTypeRef object)
{
    const Object* o = live(object);
    if (o == nullptr)
        return 0;
    return o->immortal ? std::numeric_limits<CFIndex>::max() : CFIndex(o->refs.load());
}

Boolean CFEqual(CFTypeRef a, CFTypeRef b)
{
    const Object* x = live(a);
    const Object* y = live(b);
    if (x == nullptr || y == nullptr)
    {
        violation("CFEqual: null or invalid argument");
        return false;
    }
    return equal(x, y);
}

// ---- Strings ----

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* text, CFStringEncoding encoding)
{
    if (text == nullptr)
    {
        violation("CFStringCreateWithCString: null text");
        return nullptr;
    }
    if (encoding != kCFStringEncodingASCII && encoding != kCFStringEncodingUTF8)
        return nullptr;
    std::string value(text);
    if (encoding == kCFStringEncodingASCII &&
        std::any_of(value.begin(), value.end(), [](char c) { return UInt8(c) > 127; }))
        return nullptr;
    return reinterpret_cast<CFStringRef>(makeString(value));
}

static const String* asString(CFStringRef ref, const char* call)
{
    return static_cast<const String*>(expect(ref, Kind::string, call));
}

static CFIndex utf8Characters(const std::string& text)
{
    return CFIndex(std::count_if(text.begin(), text.end(), [](char c) { return (UInt8(c) & 0xC0) != 0x80; }));
}

CFIndex CFStringGetLength(CFStringRef string)
{
    const String* s = asString(string, "CFStringGetLength");
    return s == nullptr ? 0 : utf8Characters(s->text);
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding)
{
    if (length < 0)
        return 0;
    return encoding == kCFStringEncodingUTF8 ? length * 4 : length;
}

Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex bufferSize, CFStringEncoding encoding)
{
    if (buffer == nullptr || bufferSize <= 0)
    {
        violation("CFStringGetCString: null or empty buffer");
        return false;
    }
    buffer[0] = 0;
    const String* s = asString(string, "CFStringGetCString");
    if (s == nullptr)
        return false;
    if (encoding == kCFStringEncodingASCII &&
        std::any_of(s->text.begin(), s->text.end(), [](char c) { return UInt8(c) > 127; }))
        return false;
    if (encoding != kCFStringEncodingASCII && encoding != kCFStringEncodingUTF8)
        return false;
    if (CFIndex(s->text.size()) + 1 > bufferSize)
        return false;
    std::memcpy(buffer, s->text.c_str(), s->text.size() + 1);
    return true;
}

const char* CFStringGetCStringPtr(CFStringRef string, CFStringEncoding encoding)
{
    const String* s = asString(string, "CFStringGetCStringPtr");
    if (s == nullptr || (encoding != kCFStringEncodingUTF8 && encoding != kCFStringEncodingASCII))
        return nullptr;
    if (encoding == kCFStringEncodingASCII &&
        std::any_of(s->text.begin(), s->text.end(), [](char c) { return UInt8(c) > 127; }))
        return nullptr;
    return s->text.c_str();
}

static std::string foldAscii(std::string text)
{
    for (auto& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

CFComparisonResult CFStringCompare(CFStringRef a, CFStringRef b, CFOptionFlags options)
{
    const String* x = asString(a, "CFStringCompare");
    const String* y = asString(b, "CFStringCompare");
    if (x == nullptr || y == nullptr)
        return x == y ? kCFCompareEqualTo : (x == nullptr ? kCFCompareLessThan : kCFCompareGreaterThan);
    const bool fold = (options & kCFCompareCaseInsensitive) != 0;
    const int c = fold ? foldAscii(x->text).compare(foldAscii(y->text)) : x->text.compare(y->text);
    return c < 0 ? kCFCompareLessThan : (c > 0 ? kCFCompareGreaterThan : kCFCompareEqualTo);
}

CFStringRef platformConstantString(const char* text)
{
    return reinterpret_cast<CFStringRef>(constantString(text == nullptr ? "" : text));
}

const CFStringRef kCFRunLoopDefaultMode = platformConstantString("kCFRunLoopDefaultMode");
const CFStringRef kCFRunLoopCommonModes = platformConstantString("kCFRunLoopCommonModes");

std::string platform::toStdString(CFStringRef string)
{
    const Object* o = live(string);
    return o != nullptr && o->kind == Kind::string ? static_cast<const String*>(o)->text : std::string();
}

juce::String platform::toJuceString(CFStringRef string)
{
    return juce::String::fromUTF8(platform::toStdString(string).c_str());
}

// ---- Numbers ----

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType type, const void* value)
{
    if (value == nullptr)
    {
        violation("CFNumberCreate: null value");
        return nullptr;
    }
    auto* number = new Number;
    switch (type)
    {
        case kCFNumberSInt8Type:
            number->integer = *static_cast<const SInt8*>(value);
            break;
        case kCFNumberSInt16Type:
            number->integer = *static_cast<const SInt16*>(value);
            break;
        case kCFNumberSInt32Type:
        case kCFNumberIntType:
            number->integer = *static_cast<const SInt32*>(value);
            break;
        case kCFNumberSInt64Type:
        case kCFNumberLongLongType:
            number->integer = *static_cast<const SInt64*>(value);
            break;
        case kCFNumberFloat32Type:
            number->isFloat = true;
            number->real = *static_cast<const Float32*>(value);
            break;
        case kCFNumberFloat64Type:
        case kCFNumberDoubleType:
            number->isFloat = true;
            number->real = *static_cast<const Float64*>(value);
            break;
        default:
            delete number;
            violation("CFNumberCreate: unknown number type");
            return nullptr;
    }
    return reinterpret_cast<CFNumberRef>(number);
}

template <typename T> static Boolean store(const Number* n, void* out)
{
    if (n->isFloat)
    {
        *static_cast<T*>(out) = T(n->real);
        return std::isfinite(n->real) && Float64(T(n->real)) == n->real;
    }
    *static_cast<T*>(out) = T(n->integer);
    return SInt64(T(n->integer)) == n->integer;
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* out)
{
    auto* n = static_cast<const Number*>(expect(number, Kind::number, "CFNumberGetValue"));
    if (n == nullptr || out == nullptr)
    {
        if (out == nullptr)
            violation("CFNumberGetValue: null output");
        return false;
    }
    switch (type)
    {
        case kCFNumberSInt8Type:
            return store<SInt8>(n, out);
        case kCFNumberSInt16Type:
            return store<SInt16>(n, out);
        case kCFNumberSInt32Type:
        case kCFNumberIntType:
            return store<SInt32>(n, out);
        case kCFNumberSInt64Type:
        case kCFNumberLongLongType:
            return store<SInt64>(n, out);
        case kCFNumberFloat32Type:
            *static_cast<Float32*>(out) = Float32(n->asDouble());
            return true;
        case kCFNumberFloat64Type:
        case kCFNumberDoubleType:
            *static_cast<Float64*>(out) = n->asDouble();
            return true;
        default:
            violation("CFNumberGetValue: unknown number type");
            return false;
    }
}

// ---- Dictionaries ----

const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks{0};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks{0};

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef, CFIndex, const CFDictionaryKeyCallBacks*,
                                                 const CFDictionaryValueCallBacks*)
{
    return reinterpret_cast<CFMutableDictionaryRef>(new Dictionary);
}

static Dictionary* asDictionary(CFTypeRef ref, const char* call)
{
    return const_cast<Dictionary*>(static_cast<const Dictionary*>(expect(ref, Kind::dictionary, call)));
}

void CFDictionarySetValue(CFMutableDictionaryRef dictionary, const void* key, const void* value)
{
    Dictionary* d = asDictionary(dictionary, "CFDictionarySetValue");
    const Object* k = live(key);
    const Object* v = live(value);
    if (d == nullptr || k == nullptr || v == nullptr)
    {
        if (d != nullptr)
            violation("CFDictionarySetValue: null or invalid key or value");
        return;
    }
    d->set(k, v);
}

void CFDictionaryRemoveValue(CFMutableDictionaryRef dictionary, const void* key)
{
    Dictionary* d = asDictionary(dictionary, "CFDictionaryRemoveValue");
    const Object* k = live(key);
    if (d == nullptr || k == nullptr)
        return;
    for (auto it = d->entries.begin(); it != d->entries.end(); ++it)
        if (equal(it->first, k))
        {
            release(it->first);
            release(it->second);
            d->entries.erase(it);
            return;
        }
}

const void* CFDictionaryGetValue(CFDictionaryRef dictionary, const void* key)
{
    Dictionary* d = asDictionary(dictionary, "CFDictionaryGetValue");
    const Object* k = live(key);
    if (d == nullptr || k == nullptr)
    {
        if (d != nullptr)
            violation("CFDictionaryGetValue: null or invalid key");
        return nullptr;
    }
    return d->find(k);
}

CFIndex CFDictionaryGetCount(CFDictionaryRef dictionary)
{
    Dictionary* d = asDictionary(dictionary, "CFDictionaryGetCount");
    return d == nullptr ? 0 : CFIndex(d->entries.size());
}

// ---- UUIDs ----

CFUUIDRef CFUUIDGetConstantUUIDWithBytes(CFAllocatorRef, UInt8 b0, UInt8 b1, UInt8 b2, UInt8 b3, UInt8 b4,
                                         UInt8 b5, UInt8 b6, UInt8 b7, UInt8 b8, UInt8 b9, UInt8 b10,
                                         UInt8 b11, UInt8 b12, UInt8 b13, UInt8 b14, UInt8 b15)
{
    const CFUUIDBytes bytes{b0, b1, b2, b3, b4, b5, b6, b7, b8, b9, b10, b11, b12, b13, b14, b15};
    static auto* m = new std::mutex;
    static auto* table = new std::vector<const Uuid*>;
    std::lock_guard<std::mutex> lock(*m);
    for (auto* u : *table)
        if (std::memcmp(&u->bytes, &bytes, 16) == 0)
            return reinterpret_cast<CFUUIDRef>(u);
    table->push_back(new Uuid(bytes));
    return reinterpret_cast<CFUUIDRef>(table->back());
}

CFUUIDBytes CFUUIDGetUUIDBytes(CFUUIDRef uuid)
{
    auto* u = static_cast<const Uuid*>(expect(uuid, Kind::uuid, "CFUUIDGetUUIDBytes"));
    return u == nullptr ? CFUUIDBytes{} : u->bytes;
}
