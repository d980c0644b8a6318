// Path texts at the edge of the W file functions: the code page of the file
// functions, and the long form of paths that pass MAX_PATH.

#include "platform/win32.h"
#include "platform/words.h"

#include <algorithm>

namespace platform::win32 {
namespace {

UINT file_code_page() { return AreFileApisANSI() ? CP_ACP : CP_OEMCP; }

bool starts_with(std::wstring_view text, std::wstring_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// True when every unit is ASCII, which every Windows code page maps to the
// same byte and back: such texts (most paths) need no conversion call.
bool is_ascii(std::wstring_view text) {
    for (const wchar_t c : text)
        if (c >= 0x80) return false;
    return true;
}

}  // namespace

void widen(std::string_view text, std::wstring& out) {
    out.clear();
    if (text.empty()) return;
    if (words::is_ascii(text)) {
        out.assign(text.begin(), text.end());
        return;
    }
    const UINT code_page = file_code_page();
    const int length = MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return;
    out.resize(static_cast<std::size_t>(length));
    MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), out.data(), length);
}

std::wstring widen(std::string_view text) {
    std::wstring wide;
    widen(text, wide);
    return wide;
}

void narrow(std::wstring_view text, std::string& out) {
    out.clear();
    if (text.empty()) return;
    if (is_ascii(text)) {
        out.resize(text.size());
        for (std::size_t i = 0; i < text.size(); ++i) out[i] = static_cast<char>(text[i]);
        return;
    }
    const UINT code_page = file_code_page();
    const int length =
        WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (length <= 0) return;
    out.resize(static_cast<std::size_t>(length));
    WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), out.data(), length, nullptr,
                        nullptr);
}

std::string narrow(std::wstring_view text) {
    std::string result;
    narrow(text, result);
    return result;
}

void full_wide_path(const std::wstring& path, std::wstring& out) {
    out.clear();
    if (path.empty()) return;
    // The room of the last call, at least MAX_PATH, fits most full paths.
    out.resize(std::max<std::size_t>(out.capacity(), MAX_PATH));
    for (;;) {
        const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(out.size()), out.data(), nullptr);
        if (length == 0) {
            out.clear();
            return;
        }
        // Too small: the length is the size needed, terminator included.
        if (length < out.size()) {
            out.resize(length);
            return;
        }
        out.resize(length);
    }
}

std::wstring full_wide_path(const std::wstring& path) {
    std::wstring full;
    full_wide_path(path, full);
    return full;
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
