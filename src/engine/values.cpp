#include "engine/values.h"

#include "platform/exception.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace engine {
namespace {

constexpr std::int64_t kMillisecondsPerDay = 86400000;

std::uint64_t get_big_endian(const std::uint8_t* bytes, std::size_t width) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < width; ++i) v = (v << 8) | bytes[i];
    return v;
}

void put_big_endian(std::uint8_t* bytes, std::size_t width, std::uint64_t v) {
    for (std::size_t i = width; i-- > 0;) {
        bytes[i] = static_cast<std::uint8_t>(v);
        v >>= 8;
    }
}

// Integers: big-endian two's complement with the sign bit flipped.
std::int64_t get_integer(const std::uint8_t* bytes, std::size_t width) {
    const std::uint64_t sign = std::uint64_t{1} << (width * 8 - 1);
    const std::uint64_t raw = get_big_endian(bytes, width) ^ sign;
    return static_cast<std::int64_t>(raw ^ sign) - static_cast<std::int64_t>(sign);
}

void put_integer(std::uint8_t* bytes, std::size_t width, std::int64_t v) {
    const std::uint64_t sign = std::uint64_t{1} << (width * 8 - 1);
    put_big_endian(bytes, width, static_cast<std::uint64_t>(v) ^ sign);
}

// Doubles: big-endian IEEE bits; positive values get the sign bit set,
// negative ones are stored inverted, so the bytes sort like the numbers.
double get_double(const std::uint8_t* bytes) {
    std::uint64_t bits = get_big_endian(bytes, 8);
    if (bits & (std::uint64_t{1} << 63))
        bits &= ~(std::uint64_t{1} << 63);
    else
        bits = ~bits;
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

void put_double(std::uint8_t* bytes, double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    if (bits & (std::uint64_t{1} << 63))
        bits = ~bits;
    else
        bits |= std::uint64_t{1} << 63;
    put_big_endian(bytes, 8, bits);
}

std::string format_double(double v) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string(buffer, result.ptr);
}

std::string two(int v) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02d", v);
    return buffer;
}

std::string format_date(std::int64_t days) {
    int year, month, day;
    civil_from_days(days, year, month, day);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d", day, month, year);
    return buffer;
}

std::string format_time(std::int64_t milliseconds) {
    const std::int64_t seconds = milliseconds / 1000;
    std::string text = two(static_cast<int>(seconds / 3600)) + ":" +
                       two(static_cast<int>(seconds / 60 % 60)) + ":" +
                       two(static_cast<int>(seconds % 60));
    if (milliseconds % 1000 != 0) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, ",%03d", static_cast<int>(milliseconds % 1000));
        text += buffer;
    }
    return text;
}

std::string format_bcd(const std::uint8_t* bytes) {
    const bool negative = (bytes[0] & 0x80) == 0;
    const unsigned decimals = bytes[0] & 0x3F;
    const unsigned flip = negative ? 0x0F : 0x00;
    std::string digits;
    for (unsigned i = 2; i < 34; ++i) {
        const unsigned nibble = ((i % 2 ? bytes[i / 2] : bytes[i / 2] >> 4) & 0x0F) ^ flip;
        digits += static_cast<char>('0' + (nibble > 9 ? 9 : nibble));
    }
    const std::size_t point = decimals > 32 ? 0 : 32 - decimals;
    std::string whole = digits.substr(0, point);
    const std::size_t first = whole.find_first_not_of('0');
    whole = first == std::string::npos ? "0" : whole.substr(first);
    std::string text = negative ? "-" + whole : whole;
    if (point < 32) text += "." + digits.substr(point);
    return text;
}

[[noreturn]] void bad_value(const FieldDef& field, std::string_view text, const char* what) {
    throw Exception("'" + std::string(text) + "' is not a valid " + what + " for column " +
                    field.name);
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
    return text;
}

bool parse_integer(std::string_view text, std::int64_t& v) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    const auto result = std::from_chars(text.data(), text.data() + text.size(), v);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool parse_double(std::string_view text, double& v) {
    std::string copy(text);
    for (char& c : copy)
        if (c == ',') c = '.';
    if (!copy.empty() && copy.front() == '+') copy.erase(0, 1);
    const auto result = std::from_chars(copy.data(), copy.data() + copy.size(), v);
    return result.ec == std::errc() && result.ptr == copy.data() + copy.size() && std::isfinite(v);
}

// Reads "dd.mm.yyyy" or "yyyy-mm-dd".
bool parse_date(std::string_view text, std::int64_t& days) {
    int a = 0, b = 0, c = 0;
    char s1 = 0, s2 = 0;
    int consumed = 0;
    const std::string copy(text);
    if (std::sscanf(copy.c_str(), "%d%c%d%c%d%n", &a, &s1, &b, &s2, &c, &consumed) != 5 ||
        consumed != static_cast<int>(copy.size()))
        return false;
    int year, month, day;
    if (s1 == '.' && s2 == '.') {
        day = a, month = b, year = c;
    } else if (s1 == '-' && s2 == '-') {
        year = a, month = b, day = c;
    } else {
        return false;
    }
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31) return false;
    days = days_from_civil(year, month, day);
    int y2, m2, d2;
    civil_from_days(days, y2, m2, d2);
    return d2 == day;  // rejects 31.02
}

// Reads "hh:mm", "hh:mm:ss" or "hh:mm:ss,mmm" (or ".mmm").
bool parse_time(std::string_view text, std::int64_t& milliseconds) {
    int h = 0, m = 0, s = 0, ms = 0;
    const std::string copy(text);
    int consumed = 0;
    if (std::sscanf(copy.c_str(), "%2d:%2d%n", &h, &m, &consumed) != 2) return false;
    std::string_view rest = std::string_view(copy).substr(static_cast<std::size_t>(consumed));
    if (!rest.empty()) {
        int n = 0;
        const std::string tail(rest);
        if (std::sscanf(tail.c_str(), ":%2d%n", &s, &n) != 1) return false;
        rest.remove_prefix(static_cast<std::size_t>(n));
        if (!rest.empty()) {
            const std::string fraction(rest);
            if ((rest[0] != ',' && rest[0] != '.') ||
                std::sscanf(fraction.c_str() + 1, "%3d%n", &ms, &n) != 1 ||
                static_cast<std::size_t>(n) + 1 != rest.size())
                return false;
        }
    }
    if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59 || ms < 0) return false;
    milliseconds = ((h * 60 + m) * 60 + s) * std::int64_t{1000} + ms;
    return true;
}

bool parse_bcd(std::string_view text, unsigned decimals, std::uint8_t* bytes) {
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::string whole, fraction;
    bool point = false;
    for (char c : text) {
        if (c == '.' || c == ',') {
            if (point) return false;
            point = true;
        } else if (c >= '0' && c <= '9') {
            (point ? fraction : whole) += c;
        } else {
            return false;
        }
    }
    if (whole.empty() && fraction.empty()) return false;
    const std::size_t integer_digits = 32 - decimals;
    const std::size_t first = whole.find_first_not_of('0');
    whole = first == std::string::npos ? "" : whole.substr(first);
    if (whole.size() > integer_digits) return false;
    fraction.resize(decimals, '0');  // extra decimals are cut
    const std::string digits = std::string(integer_digits - whole.size(), '0') + whole + fraction;
    const unsigned flip = negative ? 0x0F : 0x00;
    std::memset(bytes, 0, 17);
    bytes[0] = static_cast<std::uint8_t>((negative ? 0x00 : 0x80) | decimals);
    for (unsigned i = 2; i < 34; ++i) {
        const unsigned nibble = static_cast<unsigned>(digits[i - 2] - '0') ^ flip;
        bytes[i / 2] = static_cast<std::uint8_t>(i % 2 ? (bytes[i / 2] | nibble) : (nibble << 4));
    }
    return true;
}

}  // namespace

// Date arithmetic after Howard Hinnant's public-domain civil calendar
// algorithms, shifted so that 1 January of year 1 is day 1.
void civil_from_days(std::int64_t days, int& year, int& month, int& day) {
    // 1 January of year 1 is day 719163 before 1 January 1970; the algorithm
    // counts from 1 March of year 0, 719468 days before 1970.
    const std::int64_t z = days - 719163 + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

std::int64_t days_from_civil(int year, int month, int day) {
    const std::int64_t y = year - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468 + 719163;
}

bool is_blank(const std::uint8_t* bytes, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
        if (bytes[i] != 0) return false;
    return true;
}

std::string decode_value(const FieldDef& field, const std::uint8_t* bytes) {
    if (field.type == kAlpha) {
        const char* text = reinterpret_cast<const char*>(bytes);
        return std::string(text, strnlen(text, field.width));
    }
    if (field.type == kBytes) return std::string(reinterpret_cast<const char*>(bytes), field.width);
    if (is_blank(bytes, field.width)) return {};
    switch (field.type) {
    case kShort:
    case kLong:
    case kAutoIncrement:
        return std::to_string(get_integer(bytes, field.width));
    case kMoney:
    case kNumber:
        return format_double(get_double(bytes));
    case kLogical:
        return (bytes[0] ^ 0x80) != 0 ? "True" : "False";
    case kDate:
        return format_date(get_integer(bytes, 4));
    case kTime:
        return format_time(get_integer(bytes, 4));
    case kTimestamp: {
        const double ms = std::floor(get_double(bytes));
        if (!std::isfinite(ms) || std::fabs(ms) > 1e17) return format_double(ms);
        const auto total = static_cast<std::int64_t>(ms);
        std::int64_t days = total / kMillisecondsPerDay;
        std::int64_t rest = total % kMillisecondsPerDay;
        if (rest < 0) rest += kMillisecondsPerDay, --days;
        return format_date(days) + " " + format_time(rest);
    }
    case kBcd:
        return format_bcd(bytes);
    default:
        return {};
    }
}

void encode_value(const FieldDef& field, std::string_view text, std::uint8_t* bytes) {
    if (field.type == kAlpha || field.type == kBytes) {
        const std::size_t n = text.size() < field.width ? text.size() : field.width;
        std::memset(bytes, 0, field.width);
        std::memcpy(bytes, text.data(), n);
        return;
    }
    if (is_blob_type(field.type))
        throw Exception("Column " + field.name + " is a memo or blob column and cannot be set");
    const std::string_view value = trim(text);
    if (value.empty()) {
        std::memset(bytes, 0, field.width);  // blank; an auto-increment gets its value when posted
        return;
    }
    if (field.type == kAutoIncrement)
        throw Exception("Column " + field.name + " is an auto-increment column and cannot be set");
    switch (field.type) {
    case kShort:
    case kLong: {
        std::int64_t v = 0;
        const std::int64_t limit = field.type == kShort ? 32767 : 2147483647;
        if (!parse_integer(value, v) || v < -limit || v > limit) bad_value(field, text, "integer");
        put_integer(bytes, field.width, v);
        return;
    }
    case kMoney:
    case kNumber: {
        double v = 0;
        if (!parse_double(value, v)) bad_value(field, text, "number");
        put_double(bytes, v);
        return;
    }
    case kLogical: {
        std::string lower;
        for (char c : value) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        if (lower == "true" || lower == "t" || lower == "yes" || lower == "y" || lower == "1")
            bytes[0] = 0x81;
        else if (lower == "false" || lower == "f" || lower == "no" || lower == "n" || lower == "0")
            bytes[0] = 0x80;
        else
            bad_value(field, text, "logical value");
        return;
    }
    case kDate: {
        std::int64_t days = 0;
        if (!parse_date(value, days)) bad_value(field, text, "date");
        put_integer(bytes, 4, days);
        return;
    }
    case kTime: {
        std::int64_t ms = 0;
        if (!parse_time(value, ms)) bad_value(field, text, "time");
        put_integer(bytes, 4, ms);
        return;
    }
    case kTimestamp: {
        const std::size_t blank = value.find(' ');
        std::int64_t days = 0, ms = 0;
        if (!parse_date(value.substr(0, blank), days) ||
            (blank != std::string_view::npos && !parse_time(trim(value.substr(blank)), ms)))
            bad_value(field, text, "timestamp");
        put_double(bytes, static_cast<double>(days * kMillisecondsPerDay + ms));
        return;
    }
    case kBcd:
        if (!parse_bcd(value, field.size_code, bytes)) bad_value(field, text, "decimal number");
        return;
    default:
        throw Exception("Column " + field.name + " has a type that cannot be set");
    }
}

}  // namespace engine
