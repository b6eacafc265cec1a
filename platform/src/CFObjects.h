// Internal: the objects behind the CoreFoundation references.
#pragma once

#include "PlatformCF.h"

#include <atomic>
#include <string>
#include <utility>
#include <vector>

namespace platform::cf
{
enum class Kind : CFTypeID
{
    string = 7,
    number = 22,
    dictionary = 18,
    uuid = 29
};

struct Object
{
    Object(Kind k, bool constant = false);
    virtual ~Object();
    virtual void dispose() {} // gives back what the object holds, when its last reference goes
    const Kind kind;
    const bool immortal;
    mutable std::atomic<int> refs{1};
};

struct String : Object
{
    explicit String(std::string t, bool constant = false) : Object(Kind::string, constant), text(std::move(t))
    {
    }
    const std::string text;
};

struct Number : Object
{
    Number() : Object(Kind::number) {}
    bool isFloat = false;
    SInt64 integer = 0;
    Float64 real = 0;
    Float64 asDouble() const { return isFloat ? real : Float64(integer); }
};

struct Dictionary : Object
{
    Dictionary() : Object(Kind::dictionary) {}
    void dispose() override;
    const Object* find(const Object* key) const;
    void set(const Object* key, const Object* value); // retains both
    std::vector<std::pair<const Object*, const Object*>> entries;
};

struct Uuid : Object
{
    explicit Uuid(const CFUUIDBytes& b) : Object(Kind::uuid, true), bytes(b) {}
    const CFUUIDBytes bytes;
};

const Object* live(CFTypeRef ref);                                // null unless a live object
const Object* expect(CFTypeRef ref, Kind kind, const char* call); // records a violation when not
void retain(const Object* object);
void release(const Object* object);
bool equal(const Object* a, const Object* b);
const String* makeString(const std::string& text); // +1
const Number* makeNumber(SInt64 value);            // +1
const String* constantString(const std::string& text);
} // namespace platform::cf

namespace platform
{
// Records a contract violation (a null, unknown or wrong-typed argument). Never writes any output.
void violation(const std::string& what);
std::vector<std::string> takeViolations(bool clear);
} // namespace platform
