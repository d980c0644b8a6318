#pragma once
// Process-level services of the operating system: console, message boxes,
// the application's title, the current directory and full paths.

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
// touching the file system. An empty text stays empty. On Windows the
// result is limited to 259 characters (longer: empty); POSIX has no limit.
std::string full_path(std::string_view path);

// Makes a directory the process's current directory; false on failure.
// The program changes its directory only through this function: the
// directory's name is remembered until the next change.
bool set_current_directory(std::string_view directory);
std::string current_directory();

// True when the path names an existing regular file (not a directory),
// whatever its timestamp.
bool file_exists(std::string_view path);

// A text that no other name made by this or another running process
// holds: the process's identity, a counter and the clock, in letters and
// digits. For the names of temporary files and journals.
std::string unique_name_tag();

// Waits about that long.
void sleep_milliseconds(unsigned milliseconds);

}  // namespace platform
