#include "platform/path_parts.h"

#include "platform/text.h"

#include <array>

namespace platform {

namespace {

// The position of the first directory separator at or after `from` that is
// not the second byte of a double-byte character; npos when none.
std::size_t find_separator(std::string_view path, std::size_t from) {
    for (std::size_t i = from; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (is_lead_byte(c))
            ++i;
        else if (c == '\\')
            return i;
    }
    return std::string_view::npos;
}

}  // namespace

std::size_t drive_length(std::string_view path) {
    if (path.size() >= 2 && path[1] == ':' && !is_lead_byte(static_cast<unsigned char>(path[0]))) return 2;
    if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
        const std::size_t first = find_separator(path, 2);
        const std::size_t second = first == std::string_view::npos ? first : find_separator(path, first + 1);
        if (second != std::string_view::npos) return second;
        if (first == path.size() - 1) return first;
        return path.size();
    }
    return 0;
}

std::string drive_part(std::string_view path) { return std::string(path.substr(0, drive_length(path))); }

std::size_t file_name_start(std::string_view path) {
    // Called for every row of a table: on a code page without double-byte
    // characters every byte is a character, and the last separator is
    // looked for from the end.
    // The separators are looked up in a table of all bytes, made once.
    static const std::array<bool, 256> separator = [] {
        std::array<bool, 256> table{};
        for (int c = 0; c < 256; ++c) table[c] = is_path_separator(static_cast<unsigned char>(c));
        return table;
    }();
    if (!code_page_has_lead_bytes()) {
        for (std::size_t i = path.size(); i > 0; --i)
            if (separator[static_cast<unsigned char>(path[i - 1])]) return i;
        return 0;
    }
    std::size_t start = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (is_lead_byte(c))
            ++i;
        else if (is_path_separator(c))
            start = i + 1;
    }
    return start;
}

std::string directory_part(std::string_view path) { return std::string(path.substr(0, file_name_start(path))); }

std::string directory_or_dot(std::string_view path) {
    const std::size_t start = file_name_start(path);
    return start == 0 ? std::string(".") : std::string(path.substr(0, start));
}

std::string file_name_part(std::string_view path) { return std::string(path.substr(file_name_start(path))); }

std::size_t extension_start(std::string_view path) {
    std::size_t dot = path.size();
    for (std::size_t i = file_name_start(path); i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (is_lead_byte(c))
            ++i;
        else if (c == '.')
            dot = i;
    }
    return dot;
}

std::string extension_part(std::string_view path) { return std::string(path.substr(extension_start(path))); }

std::string replace_extension(std::string_view path, std::string_view extension) {
    std::string result(path.substr(0, extension_start(path)));
    result += '.';
    result += extension;
    return result;
}

}  // namespace platform
