// Process-level services on Windows: OEM console text, MessageBoxA, the
// module file name for the title, and the Win32 current-directory and
// full-path functions (their W forms, which take paths of any length).

#include "platform/system.h"
#include "platform/path_parts.h"

#include <atomic>
#include <cstdio>
#include <utility>

#include "platform/text.h"
#include "platform/win32.h"

namespace platform {
namespace {

// Paths of the ANSI functions fit in MAX_PATH characters, terminator included.
constexpr DWORD kPathBuffer = MAX_PATH;
// The longest full path that the A functions of other programs open, and the
// longest name of one file or directory that the file systems of Windows
// hold (NTFS, FAT32, exFAT), in UTF-16 units.
constexpr std::size_t kMaxFullPath = MAX_PATH - 1;
constexpr std::size_t kMaxName = 255;

ErrorBoxHandler& error_box_handler() {
    static ErrorBoxHandler handler;
    return handler;
}

// stdout and stderr are text streams: the runtime turns "\n" into CR LF.
void write_line(std::FILE* stream, std::string_view ansi) {
    const std::string line = to_console(ansi) + '\n';
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
}

std::string module_file_name() {
    std::string buffer(kPathBuffer, '\0');
    for (;;) {
        const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

void write_console_line(std::string_view ansi) { write_line(stdout, ansi); }

void write_error_line(std::string_view ansi) { write_line(stderr, ansi); }

void show_error_box(std::string_view text, std::string_view caption) {
    if (const ErrorBoxHandler& handler = error_box_handler()) {
        handler(text, caption);
        return;
    }
    const std::string text_z(text);
    const std::string caption_z(caption);
    // Without an interactive desktop no box appears and the call fails at
    // once; the message then goes to standard error so it is not lost.
    const int answer = MessageBoxA(nullptr, text_z.c_str(), caption_z.c_str(), MB_OK | MB_ICONERROR);
    if (answer <= 0) write_error_line(caption_z + ": " + text_z);
}

ErrorBoxHandler set_error_box_handler(ErrorBoxHandler handler) {
    return std::exchange(error_box_handler(), std::move(handler));
}

std::string application_title() {
    std::string path = module_file_name();
    // The module name comes in the code page of the file functions; only
    // when a caller switched them to OEM does it need converting to ANSI.
    if (!path.empty() && !AreFileApisANSI()) OemToCharBuffA(path.data(), path.data(), static_cast<DWORD>(path.size()));
    std::string title = file_name_part(path);
    if (const auto dot = title.find('.'); dot != std::string::npos) title.resize(dot);
    if (!title.empty()) {
        const std::size_t first = is_lead_byte(static_cast<unsigned char>(title[0])) ? 2 : 1;
        if (title.size() > first) title = title.substr(0, first) + lower_case(title.substr(first));
    }
    return title;
}

void set_program_path(std::string_view) {
    // GetModuleFileNameA knows the executable; argv[0] is not needed.
}

std::string full_path(std::string_view path) {
    std::string out;
    full_path(path, out);
    return out;
}

void full_path(std::string_view path, std::string& out) {
    // Never cut: a cut path would name another file. Every row of a table
    // passes through here: its texts are made in room kept from the row
    // before.
    static thread_local std::wstring wide;
    static thread_local std::wstring full;
    if (path.empty()) {
        out.clear();
        return;
    }
    win32::widen(path, wide);
    win32::full_wide_path(wide, full);
    win32::narrow(full, out);
}

bool path_too_long(std::string_view full_path) {
    return win32::widen(full_path).size() > kMaxFullPath || name_too_long(full_path);
}

bool name_too_long(std::string_view path) {
    const std::wstring wide = win32::widen(path);
    std::size_t start = 0;
    for (std::size_t i = 0; i <= wide.size(); ++i) {
        if (i == wide.size() || wide[i] == L'\\' || wide[i] == L'/' || wide[i] == L':') {
            if (i - start > kMaxName) return true;
            start = i + 1;
        }
    }
    return false;
}

bool set_current_directory(std::string_view directory) {
    return SetCurrentDirectoryW(win32::widen(directory).c_str()) != 0;
}

std::string current_directory() {
    std::wstring buffer(kPathBuffer, L'\0');
    for (;;) {
        const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0) return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return win32::narrow(buffer);
        }
        buffer.resize(length);
    }
}

bool file_exists(std::string_view path) {
    // The find functions take "*" and "?" as wildcards; a name with them
    // names no file, but the search would report whatever matches.
    if (path.empty() || path.find_first_of("*?") != std::string_view::npos) return false;
    WIN32_FIND_DATAW found{};
    const win32::FindHandle search(FindFirstFileW(win32::wide_path(path).c_str(), &found));
    // Only the kind of entry decides: a file whose last-write time is out of
    // range of a DOS date (before 1980, say) still exists.
    return search.valid() && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string unique_name_tag() {
    static std::atomic<unsigned> counter{0};
    LARGE_INTEGER clock{};
    QueryPerformanceCounter(&clock);
    char tag[64];
    std::snprintf(tag, sizeof tag, "%08lx-%08x-%010llx", static_cast<unsigned long>(GetCurrentProcessId()), counter++,
                  static_cast<unsigned long long>(clock.QuadPart) & 0xFFFFFFFFFFull);
    return tag;
}

void sleep_milliseconds(unsigned milliseconds) { Sleep(milliseconds); }

// Large pages need a privilege that users do not hold: nothing to do.
void expect_memory(std::size_t /*bytes*/) {}
void expect_large_block(void* /*data*/, std::size_t /*size*/) {}

}  // namespace platform
