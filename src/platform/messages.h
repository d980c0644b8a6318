#pragma once
// The program's own messages are Russian, written in Windows-1251 (cp1251.h).
// Every other internal text is in the ANSI code page, and a message is
// usually joined with such texts (paths, identifiers), so a message has to be
// in the ANSI code page before it is joined: shown as Windows-1251 bytes
// under another code page, it would come out garbled.

#include <string>
#include <string_view>

namespace platform {

// A Windows-1251 message as text of the code page (0: the ANSI code page):
// the same bytes under 1251; the same letters under a code page that holds
// every one of them (932 has the Cyrillic alphabet); otherwise its Cyrillic
// letters spelled in Latin ones ("Ошибка" gives "Oshibka"), so that it stays
// readable where Cyrillic cannot be shown at all (1250, 1252, ...).
std::string message_in_code_page(std::string_view cp1251_text, int code_page);

// A message literal of the source (UTF-8), in the ANSI code page.
std::string program_message(std::string_view utf8);

}  // namespace platform
