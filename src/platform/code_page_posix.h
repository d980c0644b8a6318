#pragma once
// Character sets on POSIX, built on iconv. Internal to the POSIX platform
// implementation: the rest of the program uses text.h.

#include <memory>
#include <string>
#include <string_view>

namespace platform::posix {

// One character set: decodes bytes to Unicode code points and encodes them
// back. Bytes that do not decode become U+FFFD; code points the set cannot
// hold are encoded as '?'.
class Charset {
public:
    virtual ~Charset() = default;
    virtual std::u32string decode(std::string_view bytes) const = 0;
    virtual std::string encode(std::u32string_view text) const = 0;
    // Single-byte sets answer every byte; others return nullptr.
    virtual const char32_t* single_byte_table() const { return nullptr; }
    virtual bool is_lead_byte(unsigned char) const { return false; }
};

// The charset of a Windows code page; throws Exception when iconv lacks it.
const Charset& charset_for_code_page(int code_page);
// The charset of the user's locale (LC_ALL / LC_CTYPE / LANG); the "C" and
// "POSIX" locales are taken as UTF-8.
const Charset& locale_charset();

// Native (locale charset) file name from ANSI text, and back.
std::string to_native(std::string_view ansi);
std::string from_native(std::string_view native);

}  // namespace platform::posix
