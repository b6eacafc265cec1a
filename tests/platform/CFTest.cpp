// CoreFoundation objects: reference counts, the consumed matching dictionary, strings, numbers and the
// handling of null, released and wrong-typed arguments.

#include "PlatformJuce.h"
#include "SimTestSupport.h"
#include "SimulatedMachine.h"

namespace sim = platform::sim;

namespace
{
class CF : public pelktest::SimulatedMachine
{
};

TEST_F(CF, EachRegistrationConsumesOneDictionaryReference)
{
    CFMutableDictionaryRef matching = IOServiceMatching(kIOUSBDeviceClassName);
    ASSERT_NE(matching, nullptr);
    EXPECT_EQ(CFGetRetainCount(matching), 1);
    CFRetain(matching);
    EXPECT_EQ(CFGetRetainCount(matching), 2);

    IONotificationPortRef port = IONotificationPortCreate(kIOMasterPortDefault);
    io_iterator_t first = 0, second = 0, third = 0;
    auto handler = [](void*, io_iterator_t) {};
    EXPECT_EQ(
        IOServiceAddMatchingNotification(port, kIOTerminatedNotification, matching, handler, nullptr, &first),
        kIOReturnSuccess);
    EXPECT_EQ(CFGetRetainCount(matching), 1);
    EXPECT_EQ(
        IOServiceAddMatchingNotification(port, kIOMatchedNotification, matching, handler, nullptr, &second),
        kIOReturnSuccess);
    EXPECT_EQ(CFGetRetainCount(matching), 0) << "the second registration consumed the last reference";
    EXPECT_TRUE(sim::violations().empty());

    // A third registration without a further CFRetain uses a released dictionary: refused, not a crash.
    EXPECT_EQ(
        IOServiceAddMatchingNotification(port, kIOMatchedNotification, matching, handler, nullptr, &third),
        kIOReturnBadArgument);
    EXPECT_EQ(third, 0u);
    EXPECT_EQ(sim::violations().size(), 1u);
    pelktest::freshMachine(); // the violation above was wanted
}

TEST_F(CF, StringsCompareConvertAndRefuseNonAscii)
{
    CFStringRef pelk = CFStringCreateWithCString(nullptr, "PeLk", kCFStringEncodingASCII);
    EXPECT_EQ(CFStringCompare(pelk, CFSTR("PELK"), kCFCompareCaseInsensitive), kCFCompareEqualTo);
    EXPECT_NE(CFStringCompare(pelk, CFSTR("PELK"), 0), kCFCompareEqualTo);
    EXPECT_NE(CFStringCompare(pelk, CFSTR("PELK Pro"), kCFCompareCaseInsensitive), kCFCompareEqualTo);
    EXPECT_EQ(CFStringGetLength(pelk), 4);
    EXPECT_EQ(platform::toJuceString(pelk), juce::String("PeLk"));

    char small[4];
    EXPECT_FALSE(CFStringGetCString(pelk, small, sizeof small, kCFStringEncodingUTF8)) << "needs 5 bytes";
    EXPECT_STREQ(small, "");
    char enough[5];
    EXPECT_TRUE(CFStringGetCString(pelk, enough, sizeof enough, kCFStringEncodingUTF8));
    EXPECT_STREQ(enough, "PeLk");
    CFRelease(pelk);

    EXPECT_EQ(CFStringCreateWithCString(nullptr, "Gr\xc3\xbc\xc3\x9f", kCFStringEncodingASCII), nullptr);
    CFStringRef utf8 = CFStringCreateWithCString(nullptr, "Gr\xc3\xbc\xc3\x9f", kCFStringEncodingUTF8);
    EXPECT_EQ(CFStringGetLength(utf8), 4);
    CFRelease(utf8);
    EXPECT_EQ(CFSTR("same"), CFSTR("same")) << "constant strings are shared";
    EXPECT_TRUE(sim::violations().empty());
}

TEST_F(CF, NumbersConvertExactlyOrSayTheyDidNot)
{
    const SInt32 big = 70000;
    CFNumberRef n = CFNumberCreate(nullptr, kCFNumberSInt32Type, &big);
    SInt32 asInt = 0;
    SInt16 asShort = 0;
    double asDouble = 0;
    EXPECT_TRUE(CFNumberGetValue(n, kCFNumberSInt32Type, &asInt));
    EXPECT_EQ(asInt, 70000);
    EXPECT_FALSE(CFNumberGetValue(n, kCFNumberSInt16Type, &asShort)) << "70000 does not fit 16 bits";
    EXPECT_TRUE(CFNumberGetValue(n, kCFNumberFloat64Type, &asDouble));
    EXPECT_EQ(asDouble, 70000.0);
    EXPECT_EQ(CFGetTypeID(n), CFNumberGetTypeID());
    CFRelease(n);
}

TEST_F(CF, DictionariesRetainTheirContents)
{
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                         &kCFTypeDictionaryValueCallBacks);
    CFStringRef key = CFStringCreateWithCString(nullptr, "idVendor", kCFStringEncodingASCII);
    const SInt32 value = 0x7E57;
    CFNumberRef number = CFNumberCreate(nullptr, kCFNumberSInt32Type, &value);
    CFDictionarySetValue(d, key, number);
    EXPECT_EQ(CFGetRetainCount(number), 2);
    CFRelease(number);
    CFRelease(key);
    // Keys compare by value: the constant string finds the entry made with another string object.
    auto* found = static_cast<CFNumberRef>(CFDictionaryGetValue(d, CFSTR("idVendor")));
    SInt32 read = 0;
    ASSERT_NE(found, nullptr);
    EXPECT_TRUE(CFNumberGetValue(found, kCFNumberSInt32Type, &read));
    EXPECT_EQ(read, 0x7E57);
    EXPECT_EQ(CFDictionaryGetValue(d, CFSTR("idProduct")), nullptr);
    CFRelease(d);
    EXPECT_EQ(CFGetRetainCount(found), 0) << "released with the dictionary";
}

TEST_F(CF, NullReleasedAndWrongTypedArgumentsFailWithoutCrashing)
{
    const SInt32 one = 1;
    CFNumberRef number = CFNumberCreate(nullptr, kCFNumberSInt32Type, &one);
    CFStringRef released = CFStringCreateWithCString(nullptr, "gone", kCFStringEncodingASCII);
    CFRelease(released);
    char buffer[8] = "x";
    SInt32 out = 0;

    struct Case
    {
        const char* what;
        std::function<bool()> failed;
    };
    const std::vector<Case> cases{
        {"length of a number", [&] { return CFStringGetLength(reinterpret_cast<CFStringRef>(number)) == 0; }},
        {"length of null", [&] { return CFStringGetLength(nullptr) == 0; }},
        {"length of a released string", [&] { return CFStringGetLength(released) == 0; }},
        {"text of a number",
         [&] {
             return !CFStringGetCString(reinterpret_cast<CFStringRef>(number), buffer, 8,
                                        kCFStringEncodingUTF8);
         }},
        {"text into null",
         [&] { return !CFStringGetCString(CFSTR("a"), nullptr, 8, kCFStringEncodingUTF8); }},
        {"value of a string", [&]
         { return !CFNumberGetValue(reinterpret_cast<CFNumberRef>(CFSTR("1")), kCFNumberSInt32Type, &out); }},
        {"value into null", [&] { return !CFNumberGetValue(number, kCFNumberSInt32Type, nullptr); }},
        {"lookup in a string",
         [&] {
             return CFDictionaryGetValue(reinterpret_cast<CFDictionaryRef>(CFSTR("d")), CFSTR("k")) ==
                    nullptr;
         }},
        {"lookup in null", [&] { return CFDictionaryGetValue(nullptr, CFSTR("k")) == nullptr; }},
        {"compare with null", [&] { return CFStringCompare(nullptr, CFSTR("a"), 0) != kCFCompareEqualTo; }},
        {"release of null",
         [&]
         {
             CFRelease(nullptr);
             return true;
         }},
        {"release of a released string",
         [&]
         {
             CFRelease(released);
             return true;
         }},
        {"type of a released string", [&] { return CFGetTypeID(released) == 0; }},
        {"juce text of a number",
         [&] { return platform::toJuceString(reinterpret_cast<CFStringRef>(number)).isEmpty(); }},
    };
    for (auto& c : cases)
        EXPECT_TRUE(c.failed()) << c.what;
    EXPECT_GE(sim::violations().size(), cases.size() - 2);
    CFRelease(number);
    pelktest::freshMachine(); // the violations above were wanted
}
} // namespace
