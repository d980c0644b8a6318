// Process-level services on Windows: OEM console text, MessageBoxA, the
// module file name for the title, and the Win32 current-directory and
// full-path functions (their W forms, which take paths of any length).

#include "platform/system.h"
#include "platform/path_parts.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <io.h>
#include <functional>
#include <unordered_map>
#include <utility>

#include "platform/per_thread.h"
#include "platform/text.h"
#include "platform/win32.h"
#include "platform/words.h"

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
// A line goes to the stream's descriptor in one write, after what the
// stream holds: the runtime leaves the streams of a console or a device
// without a buffer and would write the line a byte at a time, a system
// call each (and under Wine a round trip to its server each).
void write_line(std::FILE* stream, std::string_view ansi) {
    const std::string line = to_console(ansi) + '\n';
    std::fflush(stream);
    const int descriptor = _fileno(stream);
    std::size_t done = 0;
    while (done < line.size()) {
        const int wrote = _write(descriptor, line.data() + done, static_cast<unsigned>(line.size() - done));
        if (wrote <= 0) return;  // as fwrite: nowhere to show it
        done += static_cast<std::size_t>(wrote);
    }
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

// The current directory, in the caller's room, which keeps its size for
// the next call; empty when it cannot be had.
std::wstring_view current_wide_directory(std::wstring& room) {
    if (room.size() < kPathBuffer) room.resize(kPathBuffer);
    for (;;) {
        const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(room.size()), room.data());
        // Too small: the length is the room needed, terminator included.
        if (length < room.size()) return std::wstring_view(room.data(), length);
        room.resize(length);
    }
}

bool is_slash(char c) { return c == '\\' || c == '/'; }

// The bytes of a plain name (below): ASCII, the same in every code page,
// that a file name can hold.
constexpr std::array<bool, 256> kPlainNameBytes = [] {
    std::array<bool, 256> plain{};
    for (unsigned c = 0x20; c < 0x7F; ++c) plain[c] = true;
    for (const char c : std::string_view("\\/:*?\"<>|")) plain[static_cast<unsigned char>(c)] = false;
    return plain;
}();

// True for a last element that GetFullPathNameW appends to the full path of
// its directory as it stands (none, for the directory itself): ASCII (the
// same in every code page), none of the characters a file name cannot hold,
// no dot or blank at its end (those are dropped) or blank at its start, and
// not the name of a device ("CON", "NUL", "COM1", "LPT1.TXT" and the like,
// which give "\\.\CON"): no name that begins as one of those does, whatever
// follows.
bool is_plain_name(std::string_view name) {
    if (name.empty()) return true;  // the directory's own full path
    if (name.front() == ' ' || name.back() == ' ' || name.back() == '.') return false;
    for (const char c : name)
        if (!kPlainNameBytes[static_cast<unsigned char>(c)]) return false;
    if (name.size() < 3) return true;
    // Device names are told without regard to case. The name is ASCII, and
    // they hold no "I", the one letter whose capital some locales change.
    const auto capital = [](char c) { return static_cast<char>(words::upper_ascii(static_cast<unsigned char>(c))); };
    const char start[3] = {capital(name[0]), capital(name[1]), capital(name[2])};
    const std::string_view first(start, 3);
    for (const std::string_view device : {"CON", "PRN", "AUX", "NUL", "COM", "LPT"})
        if (first == device) return false;
    return true;
}

// True for a directory, ending in "\" or "/", whose full path does not
// depend on what follows it: on a drive ("C:\...") or below the current
// directory, and no element that GetFullPathNameW would change but "." and
// "..". Names of servers and devices ("\\server\share\", "\\?\") and
// paths on another drive's current directory ("D:DATA\") are left to it.
bool is_plain_directory(std::string_view directory) {
    if (directory.empty() || !is_slash(directory.back())) return false;
    std::size_t start = 0;
    if (directory.size() >= 3 && directory[1] == ':' && is_slash(directory[2])) {
        const auto letter = static_cast<unsigned char>(directory[0] | 0x20);
        if (letter < 'a' || letter > 'z') return false;
        start = 3;
    } else if (directory.size() >= 2 && is_slash(directory[0]) && is_slash(directory[1])) {
        return false;
    }
    std::size_t element = start;
    for (std::size_t i = start; i < directory.size(); ++i) {
        const char c = directory[i];
        if (c == ':' || static_cast<unsigned char>(c) < 0x20) return false;
        if (!is_slash(c)) continue;
        const std::string_view name = directory.substr(element, i - element);
        if (!name.empty() && (name.back() == '.' || name.back() == ' ') && name != "." && name != "..") return false;
        element = i + 1;
    }
    return true;
}

// Full paths of the path texts of a thread. The full path of a plain name
// in a plain directory (above) is the directory's full path and the name,
// so it is made from the directories asked before, without a call. A relative
// directory's full path holds as long as the current directory is the one
// it was made in: any change of it, whoever makes it, forgets them all.
class FullPaths {
public:
    void expand(std::string_view path, std::string& out) {
        win32::widen(path, wide_);
        win32::full_wide_path(wide_, full_);
        win32::narrow(full_, out);
    }

    bool of_known_directory(std::string_view path, std::string& out) {
        // A byte after a lead byte may have the value of "\\".
        if (code_page_has_lead_bytes() || path.size() >= MAX_PATH) return false;
        std::size_t name_start = path.size();
        while (name_start > 0 && !is_slash(path[name_start - 1])) --name_start;
        const std::string_view directory = path.substr(0, name_start);
        const std::string_view name = path.substr(name_start);
        if (!is_plain_name(name)) return false;
        if (!(directory.size() >= 2 && directory[1] == ':') && !same_current_directory()) return false;
        // Only plain directories are kept: one found is known to be plain.
        // A name alone is a name in the current directory, ".\\".
        const std::string* full = find(directory);
        if (full == nullptr && (directory.empty() || is_plain_directory(directory))) full = add(directory);
        if (full == nullptr) return false;
        out.assign(*full).append(name);
        return true;
    }

    // See CurrentDirectoryHeld: while held, the directory found last is
    // taken to stand, unless the program changed it since.
    void hold() { ++held_; }
    void release() { --held_; }
    void directory_changed() { recheck_ = true; }

private:
    // More directories than a path table names; past them, it starts over.
    static constexpr std::size_t kMostKept = 1024;

    // False when the current directory cannot be had. Everything is
    // forgotten when it changed.
    bool same_current_directory() {
        if (held_ > 0 && !recheck_ && !made_in_.empty()) return true;
        recheck_ = false;
        const std::wstring_view now = current_wide_directory(current_);
        if (now.empty()) {
            forget();
            made_in_.clear();
            return false;
        }
        if (now == made_in_) return true;
        forget();
        made_in_.assign(now);
        return true;
    }

    void forget() { known_.clear(); }

    const std::string* find(std::string_view directory) const {
        const auto found = known_.find(directory);
        return found == known_.end() ? nullptr : &found->second;
    }

    const std::string* add(std::string_view directory) {
        std::string full;
        expand(directory.empty() ? std::string_view(".\\") : directory, full);
        if (full.empty() || full.back() != '\\') return nullptr;
        if (known_.size() >= kMostKept) forget();
        return &known_.insert_or_assign(std::string(directory), std::move(full)).first->second;
    }

    std::wstring wide_;
    std::wstring full_;
    std::wstring current_;
    std::wstring made_in_;
    int held_ = 0;
    bool recheck_ = false;
    // Looked up by a part of a path, without a copy of it.
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    std::unordered_map<std::string, std::string, Hash, std::equal_to<>> known_;  // directory -> its full path
};

}  // namespace

namespace win32 {

FARPROC user32_function(const char* name) {
    static const HMODULE library = LoadLibraryW(L"user32.dll");
    return library == nullptr ? nullptr : GetProcAddress(library, name);
}

}  // namespace win32

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
    const auto message_box = win32::user32_or_null<decltype(&MessageBoxA)>("MessageBoxA");
    const int answer =
        message_box == nullptr ? 0 : message_box(nullptr, text_z.c_str(), caption_z.c_str(), MB_OK | MB_ICONERROR);
    if (answer <= 0) write_error_line(caption_z + ": " + text_z);
}

ErrorBoxHandler set_error_box_handler(ErrorBoxHandler handler) {
    return std::exchange(error_box_handler(), std::move(handler));
}

std::string application_title() {
    std::string path = module_file_name();
    // The module name comes in the code page of the file functions; only
    // when a caller switched them to OEM does it need converting to ANSI.
    if (!path.empty() && !AreFileApisANSI()) {
        static const auto oem_to_ansi = win32::user32<decltype(&OemToCharBuffA)>("OemToCharBuffA");
        oem_to_ansi(path.data(), path.data(), static_cast<DWORD>(path.size()));
    }
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
    // before, and most rows' paths are a file name in a directory whose
    // full path is known already.
    FullPaths& paths = per_thread<FullPaths>();
    if (path.empty()) {
        out.clear();
        return;
    }
    if (paths.of_known_directory(path, out)) return;
    paths.expand(path, out);
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
    // Whether or not it succeeds, full_path looks at the directory again.
    per_thread<FullPaths>().directory_changed();
    return SetCurrentDirectoryW(win32::widen(directory).c_str()) != 0;
}

// Asking the system for the current directory for every row took about 3%
// of a conversion under Wine (33 ns a call).
CurrentDirectoryHeld::CurrentDirectoryHeld() {
    FullPaths& paths = per_thread<FullPaths>();
    paths.directory_changed();  // looked at once more when the hold begins
    paths.hold();
}

CurrentDirectoryHeld::~CurrentDirectoryHeld() { per_thread<FullPaths>().release(); }

std::string current_directory() {
    std::wstring room;
    return win32::narrow(current_wide_directory(room));
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
