#pragma once
// Text and locale services of the operating system.
//
// Every internal text is 8-bit text in the ANSI code page. The ANSI code page
// is fixed for the life of the process: on Windows it is the system's; on
// POSIX it is Windows-1251 unless the environment variable P2I_ANSI_CODEPAGE
// names another Windows code page (1250-1258, 874, 932, 936, 949, 950).
// Conversions to other character sets happen only at the edges: file names,
// console, command line and the code pages of table files.

#include <string>
#include <string_view>

namespace platform {

// The process's ANSI code page number (1251 by default on POSIX).
int ansi_code_page();

// Throws Exception, naming the setting and the values it accepts, when the
// setting that chooses the ANSI code page names one that cannot be used (on
// POSIX, a P2I_ANSI_CODEPAGE that is not a number from the list above or
// one that iconv lacks; Windows has no such setting). The program refuses to
// run on such a setting; ansi_code_page() then gives the default.
void check_ansi_code_page_setting();

// Locale-aware upper and lower casing of ANSI text, byte by byte for
// single-byte code pages; bytes without a partner stay unchanged.
std::string upper_case(std::string_view text);
std::string lower_case(std::string_view text);
// upper_case, where the text lies.
void upper_case_in_place(char* text, std::size_t size);
inline void upper_case_in_place(std::string& text) { upper_case_in_place(text.data(), text.size()); }
unsigned char upper_case_byte(unsigned char c);

// Case-insensitive equality for the whole ANSI code page (Cyrillic folds).
bool equal_ignoring_case(std::string_view a, std::string_view b);

// True when the byte starts a double-byte character in the ANSI code page.
// Always false for single-byte code pages.
bool is_lead_byte(unsigned char c);
// True when the ANSI code page has any lead byte, that is, double-byte
// characters whose second byte may look like a separator or a letter.
bool code_page_has_lead_bytes();

// True for the bytes that separate directories: "\\", and on POSIX also "/".
bool is_directory_separator(unsigned char c);
// True for the bytes that end a path's directory part: the directory
// separators and ":".
bool is_path_separator(unsigned char c);

// Converts text between two Windows code pages (0 means the ANSI code page).
// Characters that the target cannot hold become '?'; never throws for bad
// input bytes (they become '?'), throws Exception when a code page is unknown.
std::string convert_code_page(std::string_view text, int from_code_page, int to_code_page);

// True when the code page can be converted from and to on this platform.
bool code_page_supported(int code_page);

// ANSI text as Unicode code points; bytes that do not decode become U+FFFD.
std::u32string unicode_from_ansi(std::string_view ansi);

// Appends the ANSI form of one Unicode code point and returns true, or
// appends nothing and returns false when the ANSI code page has no exact
// form for it (no look-alike is ever taken).
bool append_ansi_form(char32_t code_point, std::string& out);

// ANSI text as the console shows it (the OEM code page on Windows, the
// locale's character set on POSIX); unmappable characters become '?'.
std::string to_console(std::string_view ansi);

// A command-line argument, as the runtime delivered it, converted to ANSI.
std::string from_command_line(std::string_view argument);

}  // namespace platform
