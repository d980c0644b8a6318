#pragma once
// Shared pieces of the Win32 implementation of the platform layer: the one
// place that includes <windows.h>, the translation of an OS error into an
// Exception, and move-only owners of kernel handles. Included only by the
// *_win32.cpp files; nothing above platform/ sees it.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

#include "platform/exception.h"

namespace platform::win32 {

// The system's text for an error code (ANSI, in the user's language),
// without the trailing line end and full stop.
inline std::string error_text(DWORD code) {
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text;
    if (length != 0 && buffer != nullptr) text.assign(buffer, length);
    if (buffer != nullptr) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' ||
                             text.back() == '.'))
        text.pop_back();
    if (text.empty()) text = "error " + std::to_string(code);
    return text;
}

// Throws the Exception for a failed call on a file: what was tried, the
// file, and the system's reason for the given error code.
// What kind of failure an error code is.
inline ErrorKind error_kind(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
            return ErrorKind::not_found;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            return ErrorKind::permission;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE:
        case ERROR_DRIVE_LOCKED:
            return ErrorKind::in_use;
        case ERROR_HANDLE_DISK_FULL:
        case ERROR_DISK_FULL:
        case 1295:  // ERROR_DISK_QUOTA_EXCEEDED, missing from mingw-w64's headers
            return ErrorKind::no_space;
        default:
            return ErrorKind::other;
    }
}

[[noreturn]] inline void fail(std::string_view action, std::string_view path, DWORD code) {
    const std::string reason = error_text(code);
    throw Exception(std::string(action) + " \"" + std::string(path) + "\": " + reason, error_kind(code), reason);
}

[[noreturn]] inline void fail_last(std::string_view action, std::string_view path) {
    fail(action, path, GetLastError());
}

// ANSI text as UTF-16 and back, in the code page of the file functions (the
// ANSI one unless a caller switched them to OEM), as the A functions of the
// API convert their texts. (paths_win32.cpp)
std::wstring widen(std::string_view text);
std::string narrow(std::wstring_view text);
// The same into the caller's room, which a caller going through many texts
// keeps from one to the next.
void widen(std::string_view text, std::wstring& out);
void narrow(std::wstring_view text, std::string& out);

// A path for the W file functions. The A functions, and the W functions
// given a plain path, stop at MAX_PATH characters, which the program's own
// files pass where a table's path is close to it: its INI file has a longer
// extension, its temporaries a suffix. A path whose full form is that long
// is therefore handed over in the long form ("\\?\C:\..." or
// "\\?\UNC\server\share\..."), which reaches 32767 characters; any
// other path is handed over as given, so that short ones behave exactly as
// they do for the A functions.
std::wstring wide_path(std::string_view path);

// GetFullPathNameW over a UTF-16 path, at any length; empty on failure.
std::wstring full_wide_path(const std::wstring& path);
void full_wide_path(const std::wstring& path, std::wstring& out);

// A function of user32.dll, or null when it cannot be had. The library is
// loaded on the first call, not when the process starts: loading it brings
// up the window system's side of the process, which under Wine costs more
// than converting a small table. A run whose texts are all ASCII never needs
// it. (system_win32.cpp)
FARPROC user32_function(const char* name);

// The same, typed as the function's declaration in <windows.h>
// (decltype(&CharUpperBuffA), say).
template <typename Function>
Function user32_or_null(const char* name) {
    // Through a pointer to a function without parameters, the cast the
    // compiler accepts between unrelated function types.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(user32_function(name)));
}

// The same; throws when the function cannot be had.
template <typename Function>
Function user32(const char* name) {
    const Function function = user32_or_null<Function>(name);
    if (function == nullptr) throw Exception(std::string("user32.dll has no function ") + name);
    return function;
}

// Owns one handle and releases it with Close when it goes away.
template <typename Traits>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, Traits::invalid())) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, Traits::invalid());
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != Traits::invalid(); }
    void reset() {
        if (valid()) Traits::close(std::exchange(handle_, Traits::invalid()));
    }

private:
    HANDLE handle_ = Traits::invalid();
};

struct FileHandleTraits {
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE handle) { CloseHandle(handle); }
};
struct FindHandleTraits {
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE handle) { FindClose(handle); }
};

using FileHandle = UniqueHandle<FileHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;

}  // namespace platform::win32
