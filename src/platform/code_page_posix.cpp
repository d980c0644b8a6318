#include "platform/code_page_posix.h"

#include "platform/exception.h"
#include "platform/text.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <array>
#include <cerrno>
#include <map>
#include <mutex>
#include <unordered_map>

namespace platform::posix {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kInvalid = 0xFFFFFFFF;

// iconv descriptor owned for the lifetime of a conversion.
class IconvHandle {
public:
    IconvHandle(const std::string& to, const std::string& from)
        : handle_(iconv_open(to.c_str(), from.c_str())) {}
    ~IconvHandle() {
        if (ok()) iconv_close(handle_);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;
    bool ok() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return handle_; }
    void reset() const { iconv(handle_, nullptr, nullptr, nullptr, nullptr); }

private:
    iconv_t handle_;
};

std::string iconv_name(int code_page) {
    return "CP" + std::to_string(code_page);
}

class Utf8Charset final : public Charset {
public:
    std::u32string decode(std::string_view bytes) const override {
        std::u32string out;
        out.reserve(bytes.size());
        std::size_t i = 0;
        while (i < bytes.size()) {
            const auto c = static_cast<unsigned char>(bytes[i]);
            int extra = 0;
            char32_t cp = 0;
            if (c < 0x80) {
                cp = c;
            } else if ((c & 0xE0) == 0xC0 && c >= 0xC2) {
                extra = 1;
                cp = c & 0x1F;
            } else if ((c & 0xF0) == 0xE0) {
                extra = 2;
                cp = c & 0x0F;
            } else if ((c & 0xF8) == 0xF0 && c <= 0xF4) {
                extra = 3;
                cp = c & 0x07;
            } else {
                out.push_back(kReplacement);
                ++i;
                continue;
            }
            if (extra > 0 && i + extra >= bytes.size()) {
                out.push_back(kReplacement);
                ++i;
                continue;
            }
            bool good = true;
            for (int k = 1; k <= extra; ++k) {
                const auto t = static_cast<unsigned char>(bytes[i + k]);
                if ((t & 0xC0) != 0x80) {
                    good = false;
                    break;
                }
                cp = (cp << 6) | (t & 0x3F);
            }
            const bool overlong = (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000);
            if (!good || overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
                out.push_back(kReplacement);
                ++i;
                continue;
            }
            out.push_back(cp);
            i += static_cast<std::size_t>(extra) + 1;
        }
        return out;
    }

    std::string encode(std::u32string_view text) const override {
        std::string out;
        out.reserve(text.size());
        for (char32_t cp : text) {
            if (cp == kReplacement) {
                out.push_back('?');  // what could not be decoded shows as '?'
            } else if (cp < 0x80) {
                out.push_back(static_cast<char>(cp));
            } else if (cp < 0x800) {
                out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
                out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
            } else if (cp < 0x10000) {
                if (cp >= 0xD800 && cp <= 0xDFFF) {
                    out.push_back('?');
                    continue;
                }
                out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
                out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
                out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
            } else if (cp <= 0x10FFFF) {
                out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
                out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
                out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
                out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
            } else {
                out.push_back('?');
            }
        }
        return out;
    }
};

// A single-byte code page as two tables, built once from iconv.
class SingleByteCharset final : public Charset {
public:
    explicit SingleByteCharset(const std::string& name) {
        IconvHandle to_unicode("UTF-32LE", name);
        if (!to_unicode.ok()) throw Exception("Unsupported code page " + name);
        for (int b = 0; b < 256; ++b) {
            table_[b] = kInvalid;
            char in = static_cast<char>(b);
            char* in_ptr = &in;
            std::size_t in_left = 1;
            unsigned char out[8] = {};
            char* out_ptr = reinterpret_cast<char*>(out);
            std::size_t out_left = sizeof out;
            to_unicode.reset();
            if (iconv(to_unicode.get(), &in_ptr, &in_left, &out_ptr, &out_left) !=
                    static_cast<std::size_t>(-1) &&
                out_left == sizeof out - 4) {
                const char32_t cp = static_cast<char32_t>(out[0]) | (static_cast<char32_t>(out[1]) << 8) |
                                    (static_cast<char32_t>(out[2]) << 16) |
                                    (static_cast<char32_t>(out[3]) << 24);
                table_[b] = cp;
                reverse_.emplace(cp, static_cast<unsigned char>(b));
            }
        }
    }

    std::u32string decode(std::string_view bytes) const override {
        std::u32string out(bytes.size(), U'\0');
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const char32_t cp = table_[static_cast<unsigned char>(bytes[i])];
            out[i] = cp == kInvalid ? kReplacement : cp;
        }
        return out;
    }

    std::string encode(std::u32string_view text) const override {
        std::string out(text.size(), '?');
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] < 0x80 && table_[text[i]] == text[i]) {
                out[i] = static_cast<char>(text[i]);
                continue;
            }
            const auto found = reverse_.find(text[i]);
            if (found != reverse_.end()) out[i] = static_cast<char>(found->second);
        }
        return out;
    }

    const char32_t* single_byte_table() const override { return table_.data(); }

private:
    std::array<char32_t, 256> table_{};
    std::unordered_map<char32_t, unsigned char> reverse_;
};

// Any other character set (double-byte code pages, a locale's charset),
// converted through iconv with every failure replaced rather than fatal.
class IconvCharset final : public Charset {
public:
    explicit IconvCharset(std::string name) : name_(std::move(name)) {
        IconvHandle probe("UTF-32LE", name_);
        if (!probe.ok()) throw Exception("Unsupported character set " + name_);
        // A lead byte is one that, alone, is an incomplete character.
        for (int b = 0x80; b < 256; ++b) {
            char in = static_cast<char>(b);
            char* in_ptr = &in;
            std::size_t in_left = 1;
            char out[8];
            char* out_ptr = out;
            std::size_t out_left = sizeof out;
            probe.reset();
            if (iconv(probe.get(), &in_ptr, &in_left, &out_ptr, &out_left) ==
                    static_cast<std::size_t>(-1) &&
                errno == EINVAL)
                lead_[b] = true;
        }
    }

    std::u32string decode(std::string_view bytes) const override {
        IconvHandle cd("UTF-32LE", name_);
        std::u32string out;
        std::string buffer(bytes.size() * 4 + 16, '\0');
        char* in_ptr = const_cast<char*>(bytes.data());
        std::size_t in_left = bytes.size();
        while (in_left > 0) {
            char* out_ptr = buffer.data();
            std::size_t out_left = buffer.size();
            const std::size_t r = iconv(cd.get(), &in_ptr, &in_left, &out_ptr, &out_left);
            append_utf32(out, buffer.data(), buffer.size() - out_left);
            if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
                // An undecodable byte, or a lead byte without its trail byte.
                out.push_back(kReplacement);
                const std::size_t skip =
                    (lead_[static_cast<unsigned char>(*in_ptr)] && in_left >= 2) ? 2 : 1;
                in_ptr += skip;
                in_left -= skip;
                cd.reset();
            }
        }
        return out;
    }

    std::string encode(std::u32string_view text) const override {
        IconvHandle cd(name_, "UTF-32LE");
        std::string out;
        out.reserve(text.size());
        char buffer[16];
        for (char32_t cp : text) {
            unsigned char in[4] = {static_cast<unsigned char>(cp), static_cast<unsigned char>(cp >> 8),
                                   static_cast<unsigned char>(cp >> 16),
                                   static_cast<unsigned char>(cp >> 24)};
            char* in_ptr = reinterpret_cast<char*>(in);
            std::size_t in_left = 4;
            char* out_ptr = buffer;
            std::size_t out_left = sizeof buffer;
            if (iconv(cd.get(), &in_ptr, &in_left, &out_ptr, &out_left) ==
                static_cast<std::size_t>(-1)) {
                out.push_back('?');
                cd.reset();
                continue;
            }
            out.append(buffer, sizeof buffer - out_left);
        }
        return out;
    }

    bool is_lead_byte(unsigned char c) const override { return lead_[c]; }

private:
    static void append_utf32(std::u32string& out, const char* data, std::size_t n) {
        for (std::size_t i = 0; i + 4 <= n; i += 4) {
            const auto* p = reinterpret_cast<const unsigned char*>(data + i);
            out.push_back(static_cast<char32_t>(p[0]) | (static_cast<char32_t>(p[1]) << 8) |
                          (static_cast<char32_t>(p[2]) << 16) |
                          (static_cast<char32_t>(p[3]) << 24));
        }
    }

    std::string name_;
    std::array<bool, 256> lead_{};
};

bool is_double_byte(int code_page) {
    return code_page == 932 || code_page == 936 || code_page == 949 || code_page == 950;
}

std::mutex& cache_mutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

const Charset& charset_for_code_page(int code_page) {
    static std::map<int, std::unique_ptr<Charset>> cache;
    std::lock_guard lock(cache_mutex());
    auto& slot = cache[code_page];
    if (!slot) {
        if (code_page == 65001)
            slot = std::make_unique<Utf8Charset>();
        else if (is_double_byte(code_page))
            slot = std::make_unique<IconvCharset>(iconv_name(code_page));
        else
            slot = std::make_unique<SingleByteCharset>(iconv_name(code_page));
    }
    return *slot;
}

const Charset& locale_charset() {
    static const std::unique_ptr<Charset> charset = []() -> std::unique_ptr<Charset> {
        std::string codeset = "UTF-8";
        if (locale_t loc = newlocale(LC_CTYPE_MASK, "", nullptr)) {
            codeset = nl_langinfo_l(CODESET, loc);
            freelocale(loc);
        }
        if (codeset == "UTF-8" || codeset == "utf8" || codeset == "ANSI_X3.4-1968" ||
            codeset.empty())
            return std::make_unique<Utf8Charset>();
        try {
            return std::make_unique<IconvCharset>(codeset);
        } catch (const Exception&) {
            return std::make_unique<Utf8Charset>();
        }
    }();
    return *charset;
}

std::string to_native(std::string_view ansi) {
    return locale_charset().encode(charset_for_code_page(ansi_code_page()).decode(ansi));
}

std::string from_native(std::string_view native) {
    return charset_for_code_page(ansi_code_page()).encode(locale_charset().decode(native));
}

}  // namespace platform::posix
