#include "SettingsDocument.h"

#include <cstdint>
#include <cstring>
#include <expat.h>
#include <unordered_map>
#include <unordered_set>

namespace
{
constexpr const char* rootTag = "PROPERTIES";
constexpr const char* valueTag = "VALUE";
constexpr const char* nameAttribute = "name";
constexpr const char* valueAttribute = "val";

// True when the bytes are UTF-8 as the standard defines it: no overlong forms, no surrogates, nothing
// above U+10FFFF. NUL bytes are reported before this is asked.
bool isUtf8(const unsigned char* p, std::size_t size)
{
    for (std::size_t i = 0; i < size;)
    {
        const unsigned c = p[i];
        if (c < 0x80)
        {
            ++i;
            continue;
        }

        std::size_t length = 0;
        unsigned low = 0x80, high = 0xbf; // the allowed range of the second byte
        if (c >= 0xc2 && c <= 0xdf)
            length = 2;
        else if (c >= 0xe0 && c <= 0xef)
        {
            length = 3;
            low = c == 0xe0 ? 0xa0 : 0x80;
            high = c == 0xed ? 0x9f : 0xbf;
        }
        else if (c >= 0xf0 && c <= 0xf4)
        {
            length = 4;
            low = c == 0xf0 ? 0x90 : 0x80;
            high = c == 0xf4 ? 0x8f : 0xbf;
        }
        else
            return false;

        if (size - i < length || p[i + 1] < low || p[i + 1] > high)
            return false;
        for (std::size_t k = 2; k < length; ++k)
            if ((p[i + k] & 0xc0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

// The characters the framework's writer leaves as they are; every other one is escaped.
bool isPlain(std::uint32_t c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::strchr(" .,;:-()_+=?!$#@[]/|*%~{}'\\", (int) c) != nullptr;
}

// The next code point of UTF-8 text; a byte that starts no sequence stands for itself.
std::uint32_t nextCodePoint(const std::string& s, std::size_t& i)
{
    const auto c = (unsigned char) s[i++];
    const int length = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 1;
    std::uint32_t code = length == 1 ? c : c & (0x3fu >> (length - 1));
    for (int k = 1; k < length && i < s.size() && ((unsigned char) s[i] & 0xc0) == 0x80; ++k)
        code = (code << 6) | ((unsigned char) s[i++] & 0x3f);
    return code;
}

// Escapes text as the framework's writer does: the plain ASCII characters stay, '&', '"', '<' and '>'
// become named entities, everything else a decimal character reference. Line breaks stay as they are in
// element text and are escaped in attributes.
void appendEscaped(std::string& out, const std::string& text, bool inAttribute)
{
    for (std::size_t i = 0; i < text.size();)
    {
        const auto c = nextCodePoint(text, i);
        if (c != 0 && c < 0x80 && isPlain(c))
            out += (char) c;
        else if (c == '&')
            out += "&amp;";
        else if (c == '"')
            out += "&quot;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '<')
            out += "&lt;";
        else if ((c == '\n' || c == '\r') && !inAttribute)
            out += (char) c;
        else
            out += "&#" + std::to_string(c) + ";";
    }
}

bool isBlank(const std::string& text)
{
    return text.find_first_not_of(" \t\n\r\v\f") == std::string::npos;
}

// One parse of a document. The limits are checked in the parser's callbacks, which stop it at the first
// fault; the parser itself keeps its open elements on the heap, so no depth costs stack.
class Reader
{
public:
    Reader(const SettingsLimits& l) : limits(l), parser(XML_ParserCreate("UTF-8"))
    {
        for (const char* key : writtenSettingsKeys)
            written.emplace(key);
    }

    ~Reader() { XML_ParserFree(parser); }

    SettingsReadResult read(const char* data, std::size_t size)
    {
        if (parser == nullptr)
            return {"not readable: out of memory", {}};

        XML_SetUserData(parser, this);
        XML_SetElementHandler(parser, &Reader::onStart, &Reader::onEnd);
        XML_SetCharacterDataHandler(parser, &Reader::onText);
        XML_SetCdataSectionHandler(parser, &Reader::onCdataStart, &Reader::onCdataEnd);
        XML_SetStartDoctypeDeclHandler(parser, &Reader::onDoctype);
        XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);

        const bool parsed = XML_Parse(parser, data, (int) size, XML_TRUE) == XML_STATUS_OK;
        if (fault.empty() && !parsed)
            fault = "not a settings document";
        if (!fault.empty())
            return {fault, {}};
        return {{}, std::move(values)};
    }

private:
    // What a VALUE element gives while it is read.
    struct Value
    {
        std::string name, attribute;
        bool hasChild = false; // its first child (an element, a text that is not blank, a CDATA section) seen
        bool capturing = false; // inside that child element, whose markup is being written out
        bool tagOpen = false;   // the last start tag written is not closed yet ('>' or "/>" to follow)
        std::string child;      // the first child's text as the framework shows it
    };

    static Reader& self(void* data) { return *static_cast<Reader*>(data); }

    void fail(std::string why)
    {
        if (fault.empty())
            fault = std::move(why);
        XML_StopParser(parser, XML_FALSE);
    }

    bool checkLength(const std::string& text, std::size_t limit)
    {
        if (text.size() <= limit)
            return true;
        fail("a value longer than " + std::to_string(limit) + " bytes");
        return false;
    }

    // The text read since the last tag, as the framework's reader groups it: one run up to the next tag or
    // CDATA section (comments do not end it), dropped when blank.
    void flushText()
    {
        if (isBlank(run))
        {
            run.clear();
            return;
        }
        if (!value.hasChild)
        {
            value.hasChild = true;
            appendEscaped(value.child, run, false);
        }
        else if (value.capturing)
        {
            closeOpenTag();
            appendEscaped(value.child, run, false);
        }
        run.clear();
        checkLength(value.child, limits.maxValueBytes);
    }

    void closeOpenTag()
    {
        if (value.tagOpen)
            value.child += '>';
        value.tagOpen = false;
    }

    void start(const char* tag, const char** attributes)
    {
        if (++elements > limits.maxElements)
            return fail("more than " + std::to_string(limits.maxElements) + " elements");
        if (++depth > limits.maxDepth)
            return fail("nested deeper than " + std::to_string(limits.maxDepth) + " levels");

        if (depth == 1)
        {
            if (std::strcmp(tag, rootTag) != 0)
                fail("not a settings document");
            return;
        }

        if (depth == 2)
        {
            inValue = std::strcmp(tag, valueTag) == 0;
            if (!inValue)
                return;
            value = {};
            for (auto a = attributes; *a != nullptr; a += 2)
            {
                if (std::strcmp(a[0], nameAttribute) == 0)
                    value.name = a[1];
                else if (std::strcmp(a[0], valueAttribute) == 0)
                    value.attribute = a[1];
            }
            return;
        }

        if (!inValue)
            return;
        flushText();
        if (depth == 3 && !value.hasChild)
            value.hasChild = value.capturing = true;
        if (!value.capturing)
            return;

        // The element's markup on one line, attributes in their order, escaped as the writer escapes them.
        closeOpenTag();
        value.child += '<';
        value.child += tag;
        for (auto a = attributes; *a != nullptr; a += 2)
        {
            value.child += ' ';
            value.child += a[0];
            value.child += "=\"";
            appendEscaped(value.child, a[1], true);
            value.child += '"';
        }
        value.tagOpen = true;
        checkLength(value.child, limits.maxValueBytes);
    }

    void end(const char* tag)
    {
        if (inValue && depth >= 2)
            flushText();

        if (inValue && value.capturing && depth >= 3)
        {
            if (value.tagOpen)
                value.child += "/>";
            else
                value.child += std::string("</") + tag + ">";
            value.tagOpen = false;
            value.capturing = depth > 3;
            checkLength(value.child, limits.maxValueBytes);
        }

        if (inValue && depth == 2)
        {
            inValue = false;
            if (!value.name.empty())
                keep(std::move(value.name),
                     value.hasChild ? std::move(value.child) : std::move(value.attribute));
        }
        --depth;
    }

    // Adds a key, or replaces the value of one already read, within the limits.
    void keep(std::string name, std::string text)
    {
        const auto own = written.find(name);
        if (own != written.end())
        {
            if (!checkLength(text, limits.maxWrittenValueBytes))
                return;
        }
        else
        {
            if (!checkLength(name, limits.maxValueBytes) || !checkLength(text, limits.maxValueBytes))
                return;
        }

        const auto [at, added] = index.emplace(name, values.size());
        if (own == written.end())
        {
            if (added && ++keys > limits.maxKeys)
                return fail("more than " + std::to_string(limits.maxKeys) + " keys");
            textBytes += text.size() + (added ? name.size() : 0);
            if (!added)
                textBytes -= values[at->second].second.size();
            if (textBytes > limits.maxTextBytes)
                return fail("more than " + std::to_string(limits.maxTextBytes / 1024) +
                            " KiB of keys and values");
        }

        if (added)
            values.emplace_back(std::move(name), std::move(text));
        else
            values[at->second].second = std::move(text);
    }

    static void XMLCALL onStart(void* data, const XML_Char* tag, const XML_Char** attributes)
    {
        self(data).start(tag, attributes);
    }

    static void XMLCALL onEnd(void* data, const XML_Char* tag) { self(data).end(tag); }

    static void XMLCALL onText(void* data, const XML_Char* s, int length)
    {
        auto& r = self(data);
        if (!r.inValue)
            return;
        if (r.inCdata)
            r.cdata.append(s, (std::size_t) length);
        else
            r.run.append(s, (std::size_t) length);
    }

    static void XMLCALL onCdataStart(void* data)
    {
        auto& r = self(data);
        if (r.inValue)
            r.flushText();
        r.inCdata = true;
        r.cdata.clear();
    }

    // A CDATA section is a child of its own, kept even when blank or empty.
    static void XMLCALL onCdataEnd(void* data)
    {
        auto& r = self(data);
        r.inCdata = false;
        if (!r.inValue)
            return;
        if (!r.value.hasChild || r.value.capturing)
        {
            r.value.hasChild = true;
            r.closeOpenTag();
            appendEscaped(r.value.child, r.cdata, false);
            r.checkLength(r.value.child, r.limits.maxValueBytes);
        }
        r.cdata.clear();
    }

    static void XMLCALL onDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int)
    {
        self(data).fail("a document type declaration");
    }

    const SettingsLimits& limits;
    XML_Parser parser;
    std::string fault;
    int depth = 0;
    int elements = 0;
    int keys = 0;
    std::size_t textBytes = 0;
    SettingsValues values;
    std::unordered_map<std::string, std::size_t> index;
    std::unordered_set<std::string> written;

    bool inValue = false;
    bool inCdata = false;
    Value value;
    std::string run, cdata; // the text since the last tag; a CDATA section's text
};
} // namespace

SettingsReadResult readSettingsDocument(const void* data, std::size_t size, const SettingsLimits& limits)
{
    if (size > limits.maxBytes)
        return {"larger than " + std::to_string(limits.maxBytes / 1024) + " KiB", {}};

    const auto* bytes = static_cast<const unsigned char*>(data);
    if (size > 0 && std::memchr(bytes, 0, size) != nullptr)
        return {"NUL bytes", {}};
    if (!isUtf8(bytes, size))
        return {"not UTF-8 text", {}};

    return Reader(limits).read(static_cast<const char*>(data), size);
}

std::string writeSettingsDocument(const SettingsValues& values)
{
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n";
    if (values.empty())
        return out + "<PROPERTIES/>\r\n";

    out += "<PROPERTIES>";
    for (const auto& [name, text] : values)
    {
        // The framework's writer starts a new line, indented under the tag name, for an attribute that
        // follows more than 60 bytes of attributes.
        const auto start = out.size();
        out += "\r\n  <VALUE name=\"";
        appendEscaped(out, name, true);
        out += '"';
        const auto attributeBytes = out.size() - start - std::strlen("\r\n  <VALUE");
        out += attributeBytes > 60 ? "\r\n         val=\"" : " val=\"";
        appendEscaped(out, text, true);
        out += "\"/>";
    }
    return out + "\r\n</PROPERTIES>\r\n";
}
