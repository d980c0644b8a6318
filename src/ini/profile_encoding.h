#pragma once
// The encodings of INI files, as the Windows private-profile functions take
// them: a file that starts with the UTF-8 byte-order mark is UTF-8, one that
// starts with FF FE is UTF-16LE (FE FF: UTF-16BE), any other is ANSI code
// page text. Seen in Wine's PROFILE_DetectTextEncoding (dlls/kernel32/
// profile.c), which looks at the first bytes only.
//
// A ProfileDocument holds ANSI text. Loading a Unicode file converts every
// character to ANSI; a character that the ANSI code page cannot hold
// exactly (or a zero character, or bytes that do not decode) is kept as an
// escape: a zero byte, one digit n (1 to 4) and 2n upper-case hexadecimal
// digits giving the file's own bytes of that character. Saving turns
// escapes back into those bytes and converts everything else from ANSI, so
// the lines an operation does not change come back byte for byte. No text
// that the document writes holds a zero byte (check_profile_entry refuses
// it), so an escape is never confused with written text; and its bytes are
// no blanks, separators or lead bytes, so lines, sections and keys are
// found in it as in the file.

#include <string>
#include <string_view>

namespace ini {

enum class ProfileEncoding { ansi, utf8, utf16le, utf16be };

struct ProfileText {
    std::string text;  // ANSI, with escapes where the file is Unicode
    ProfileEncoding encoding = ProfileEncoding::ansi;
    bool escapes = false;  // the text holds at least one escape
};

// The encoding of a file that starts with these bytes (its first three
// are enough).
ProfileEncoding profile_encoding_of(std::string_view first_bytes);

// Drops a run of Ctrl-Z characters at the very end of a document text: the
// old end-of-file mark, which Wine's reader takes for blank space.
void drop_end_of_file_mark(std::string& text);

// The document text of a file's bytes: the byte-order mark removed, Unicode
// converted, and a run of Ctrl-Z characters at the very end dropped (the
// old end-of-file mark, which Wine's reader takes for blank space; it is
// not written back when the file is rewritten).
ProfileText decode_profile(std::string bytes);

// The bytes a file of this encoding starts with.
std::string_view byte_order_mark(ProfileEncoding encoding);

// Appends to `out` the file's bytes for a piece of document text; the piece
// must hold whole characters and whole escapes (a whole line does).
void encode_profile(std::string_view text, ProfileEncoding encoding, std::string& out);

// A text read from a document with escapes as a reader gets it: every
// escaped character becomes '?', as the ANSI profile functions deliver a
// character that the code page lacks.
std::string readable_profile_text(std::string_view text);

}  // namespace ini
