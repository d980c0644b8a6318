#pragma once
// Process-level services of the operating system: console, message boxes,
// the application's title, the current directory and full paths.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

// Writes ANSI text to standard output in the console's character set,
// followed by the platform's line end, and flushes.
void write_console_line(std::string_view ansi);

// Writes ANSI text to standard error in the console's character set,
// followed by the platform's line end, and flushes.
void write_error_line(std::string_view ansi);

// The modal error box (error icon, OK button). On POSIX it is written to
// standard error as "caption: text" and does not wait.
void show_error_box(std::string_view text, std::string_view caption);

// Replaces how error boxes are shown (tests record them); returns the
// previous handler. An empty handler restores the platform's own.
using ErrorBoxHandler = std::function<void(std::string_view text, std::string_view caption)>;
ErrorBoxHandler set_error_box_handler(ErrorBoxHandler handler);

// The executable's file name without directory, cut at its first ".", every
// character after the first in lower case: "PATH2INI.EXE" gives "Path2ini".
std::string application_title();
// Records the executable's path as the runtime delivered it (argv[0]);
// POSIX uses it when /proc cannot tell.
void set_program_path(std::string_view argv0);

// Expands a path to a full path against the current directory without
// touching the file system. An empty text stays empty; the result is never
// cut, whatever its length (see path_too_long for what can be opened).
std::string full_path(std::string_view path);
// The same into `out`, whose room is reused: a table resolves a path for
// every row. The path must not lie in `out`.
void full_path(std::string_view path, std::string& out);

// True when a full path is longer than the programs of this system open:
// on Windows a path of more than 259 characters (the limit of the A
// functions that other programs read the table and the INI file with), on
// POSIX one of PATH_MAX bytes or more; or when name_too_long. Paths derived
// from one that fits (an INI file, a temporary) may pass the Windows limit:
// the platform layer opens them in Windows' long form.
bool path_too_long(std::string_view full_path);

// True when a name in the path (a file's or a directory's) is longer than
// the file system holds: 255 UTF-16 units on Windows, NAME_MAX bytes of the
// file name's native form on POSIX.
bool name_too_long(std::string_view path);

// Makes a directory the process's current directory; false on failure.
// The program changes its directory only through this function: the
// directory's name is remembered until the next change.
bool set_current_directory(std::string_view directory);
std::string current_directory();

// While one lives, full_path on this thread may take the current directory
// to be the one it last found, or the one set_current_directory made since:
// its owner vouches that nothing else changes it meanwhile (a loop over the
// rows of a table, which resolves a path for every row). Without one, the
// Windows full_path asks the system for it on every call, as the system's
// own full-path function does, and so sees a change made behind the
// program's back; POSIX remembers it anyway (set_current_directory).
class CurrentDirectoryHeld {
public:
    CurrentDirectoryHeld();
    ~CurrentDirectoryHeld();
    CurrentDirectoryHeld(const CurrentDirectoryHeld&) = delete;
    CurrentDirectoryHeld& operator=(const CurrentDirectoryHeld&) = delete;
};

// True when the path names an existing regular file (not a directory),
// whatever its timestamp.
bool file_exists(std::string_view path);

// A text that no other name made by this or another running process
// holds: the process's identity, a counter and the clock, in hexadecimal
// digits and dashes, always of the same length. For the names of temporary
// files and journals.
std::string unique_name_tag();

// Waits about that long.
void sleep_milliseconds(unsigned milliseconds);

// A hint that the process is about to hold about `bytes` of small objects
// (the rows of a large table): where the system allows, the memory they
// will take is set aside at once, in large pages. Changes nothing that the
// program sees; does nothing for small amounts or where unsupported.
void expect_memory(std::size_t bytes);
// A hint that a large block just allocated, not yet written, is about to
// be written whole: where the system allows, it is backed by large pages.
void expect_large_block(void* data, std::size_t size);

}  // namespace platform
