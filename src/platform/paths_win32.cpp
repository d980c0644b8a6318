// Path texts at the edge of the W file functions: the code page of the file
// functions, and the long form of paths that pass MAX_PATH.

#include "platform/win32.h"

namespace platform::win32 {
namespace {

UINT file_code_page() { return AreFileApisANSI() ? CP_ACP : CP_OEMCP; }

bool starts_with(std::wstring_view text, std::wstring_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::wstring widen(std::string_view text) {
    if (text.empty()) return {};
    const UINT code_page = file_code_page();
    const int length = MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string narrow(std::wstring_view text) {
    if (text.empty()) return {};
    const UINT code_page = file_code_page();
    const int length =
        WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string result(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), result.data(), length, nullptr,
                        nullptr);
    return result;
}

std::wstring full_wide_path(const std::wstring& path) {
    if (path.empty()) return {};
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length == 0) return {};
        // Too small: the length is the size needed, terminator included.
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(length);
    }
}

std::wstring wide_path(std::string_view path) {
    std::wstring wide = widen(path);
    // Already in a form that the system takes as it stands.
    if (starts_with(wide, L"\\\\?\\") || starts_with(wide, L"\\\\.\\")) return wide;
    // A short text names a short path unless it is relative: only then can
    // the current directory make it long.
    const bool absolute = starts_with(wide, L"\\\\") || (wide.size() >= 3 && wide[1] == L':' && wide[2] == L'\\');
    if (absolute && wide.size() < MAX_PATH) return wide;
    const std::wstring full = full_wide_path(wide);
    if (full.size() < MAX_PATH) return wide;
    // The long form takes the text as it stands, so it must be the full path,
    // already normalised ("..", "/" and trailing dots resolved).
    if (starts_with(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

}  // namespace platform::win32
