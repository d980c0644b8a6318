#pragma once
// Private-profile (INI) files, read and written the way the Windows
// private-profile functions do, but without their cost and their hazards:
//
// - ProfileDocument is a byte-oriented model of one file. Every line that an
//   operation does not change is kept exactly as it was (spacing, comments,
//   blank lines, line ends, other sections); changed and new lines end with
//   CRLF. Lookups go through an index, so n writes cost O(n).
// - ProfileFile loads a document on first use and saves it atomically (a
//   temporary file beside the original, flushed, renamed over it), so the
//   file on disk is always either its old or its new content. The save keeps
//   what the file is (platform::write_stream_atomically): a symbolic link
//   stays a link to the file it names, owner, group and mode stay, and a
//   file with several names is written in place under a rollback journal.
//   A file that another program holds open so that it cannot be renamed
//   over is written in place too, as the Windows functions write every
//   file. Files in UTF-16 or UTF-8 with a byte-order mark stay in their
//   encoding (profile_encoding.h).
// - get_private_profile_string / write_private_profile_string are the two
//   Windows entry points with their buffer conventions, over the above.
//
// Reading rules (those of the Windows functions): a line ends at any run of
// CR/LF. Section names, keys and values are trimmed of 0x09-0x0D and 0x20.
// One outer pair of matching '"' or '\'' is stripped from a value of at least
// two characters. There are no inline comments ("a;b" reads as a;b); a line
// whose first non-blank character is ';' is a comment. Lines without '=' are
// kept but are not keys. The first of duplicate keys wins for read, replace
// and delete; only the first of duplicate sections is searched and written.
// Names match ignoring case over the whole ANSI code page.
//
// All texts are ANSI code page text; double-byte characters are respected
// when looking for ']' and '='.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/file_system.h"
#include "platform/profile_encoding.h"

namespace platform {

// The form in which a section name or key is matched: trimmed, upper-cased.
// Two keys with the same form are one key of the file.
std::string profile_name_as_matched(std::string_view name);

// The value a reader gets for the raw text that follows "=" on a key line:
// trimmed, then one outer pair of matching quotes removed.
std::string profile_value_as_read(std::string_view raw);

// Why a key and value cannot be written without changing the file's structure
// (a line break would start new lines, "=" would move the key's end, "[" or
// ";" at the start would make a section header or a comment, an empty key
// cannot be read back, a zero byte ends the text for C callers).
enum class ProfileEntryProblem {
    none,
    empty_key,
    line_break_in_key,   // CR, LF or a zero byte
    equals_in_key,
    key_looks_like_section_or_comment,
    line_break_in_value,  // CR, LF or a zero byte
};
ProfileEntryProblem check_profile_entry(std::string_view key, std::string_view value);

// True when a reader gets the value back exactly as written (no blanks at its
// ends, no outer pair of quotes): profile_value_as_read(value) == value.
bool profile_value_reads_back(std::string_view value);

// True when a section name can be written as a header and read back.
bool valid_profile_section(std::string_view section);

class ProfileDocument {
public:
    ProfileDocument();
    // Takes the file's bytes and keeps them: lines are read in place, and a
    // section is split into lines only when it is first searched. Throws
    // Exception for a text of 4 GiB or more. With `escapes`, the text holds
    // escaped characters (profile_encoding.h), which value and key_names
    // deliver as '?'.
    explicit ProfileDocument(std::string bytes, bool escapes = false);
    ~ProfileDocument();
    ProfileDocument(ProfileDocument&&) noexcept;
    ProfileDocument& operator=(ProfileDocument&&) noexcept;
    ProfileDocument(const ProfileDocument&) = delete;
    ProfileDocument& operator=(const ProfileDocument&) = delete;

    // The value of a key as a reader gets it; nothing when the section or
    // the key is missing.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;

    // The names of the keys of a section in file order (duplicates included,
    // comments and lines without "=" left out), trimmed, spelled as in the
    // file. Empty when the section is missing.
    std::vector<std::string> key_names(std::string_view section) const;

    // Replaces the value of the key in place (keeping its spelling and the
    // blanks around "="), or adds "key=value" after the last non-blank line
    // of the section, or adds the section at the end of the file. Throws
    // Exception when check_profile_entry or valid_profile_section refuses
    // the texts; the document is then unchanged.
    void set_value(std::string_view section, std::string_view key, std::string_view value);

    // Makes room for `keys` more keys in the section (or in the section that
    // a later set_value creates), so that adding them allocates no more than
    // their text. Changes nothing in the text.
    void reserve(std::string_view section, std::size_t keys);

    // Removes the first key of that name (its line and nothing else).
    void erase_key(std::string_view section, std::string_view key);

    // Removes every section of that name: headers and all their lines. A
    // later duplicate would otherwise surface as the section after the first
    // was removed, bringing back keys the caller meant to erase.
    void erase_section(std::string_view section);

    // True once an operation has changed the text.
    bool modified() const { return modified_; }

    // The size of the text in bytes.
    std::uint64_t size() const;

    // Hands the text to `piece` in consecutive pieces, in order, until it
    // returns false. Returns false when it was stopped that way.
    bool visit(const std::function<bool(std::string_view)>& piece) const;

    // The whole file as bytes.
    std::string text() const;

private:
    struct Line;
    struct Section;
    class KeyIndex;
    class Arena;

    Section* find_section(std::string_view section) const;
    // The same; valid_name tells whether the name may be written as a header.
    Section* find_section(std::string_view section, bool& valid_name) const;
    Section& append_section(std::string_view section);
    void split(Section& section) const;
    void end_last_line();
    void place(Line& line, const char* data, std::size_t length, std::size_t ending);
    void copy_to_arena(Line& line, std::string_view text, std::string_view ending);
    void compact();

    // The loaded bytes; lines of the file point into it until they change.
    // Once most of it is no longer used it is replaced by a copy of what is.
    // (Held by pointer: lines point into it, and a short string would move
    // with the document.)
    std::unique_ptr<std::string> loaded_;
    std::size_t loaded_used_ = 0;  // bytes of *loaded_ that some line still uses
    std::unique_ptr<Arena> arena_;  // the bytes of changed and added lines
    std::vector<std::unique_ptr<Section>> sections_;  // [0]: lines before any header
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const {
            return std::hash<std::string_view>{}(name);
        }
    };
    // folded name -> first live one
    std::unordered_map<std::string, Section*, NameHash, std::equal_to<>> first_section_;
    std::unordered_map<std::string, std::size_t> reserved_;  // folded name -> keys expected
    // The sections found last, by the name as the caller spelled it.
    struct RecentSection {
        std::string name;
        Section* section = nullptr;
    };
    mutable RecentSection recent_[2];
    mutable std::size_t recent_next_ = 0;
    void forget_recent_sections();
    // The key of the last value set, which was valid, and its hash.
    std::string last_key_;
    std::uint32_t last_key_hash_ = 0;
    bool last_key_valid_ = false;
    bool modified_ = false;
    bool escapes_ = false;
};

// One INI file: loaded when first needed, saved on request.
class ProfileFile {
public:
    explicit ProfileFile(std::string path);
    ~ProfileFile();
    ProfileFile(const ProfileFile&) = delete;
    ProfileFile& operator=(const ProfileFile&) = delete;

    const std::string& path() const { return path_; }

    // The document; a missing file (or one that cannot be read) is empty.
    // An in-place save that a crash interrupted is put back first.
    ProfileDocument& document();

    // Writes the document back when it was modified and differs from what
    // the file holds, in the file's encoding. Refuses (throws Exception)
    // without touching the disk when the file exists but could not be read
    // or is not writable; otherwise the file is replaced atomically, keeping
    // its links, owner and mode (or refusing when the system will not keep
    // the owner), or written in place when another program's handle refuses
    // the replacement. Throws the file system's Exception, with its kind and
    // reason, when the write fails; after a failed atomic replace the file
    // keeps its old content.
    void save();

private:
    void load();
    // The file's bytes for the document, handed to the sink in pieces.
    void produce(const ContentSink& sink) const;

    std::string path_;
    ProfileEncoding encoding_ = ProfileEncoding::ansi;
    std::optional<ProfileDocument> document_;
    bool existed_ = false;
    bool unreadable_ = false;
};

// GetPrivateProfileStringA. With a key: copies the key's value, or the default
// (null meaning "", trailing spaces removed) when the file, section or key is
// missing, cut to size - 1 characters, and returns the count copied. Without a
// key: copies the section's key names, each followed by a zero byte, and one
// more zero byte; returns their length without the final zero byte, or
// size - 2 with the last name cut short when the buffer is too small (an exact
// fit counts as too small, as on Windows).
std::size_t get_private_profile_string(std::string_view section, const char* key,
                                       const char* default_value, char* buffer,
                                       std::size_t size, const std::string& file_name);

// WritePrivateProfileStringA. A null key erases the section, a null value the
// key; otherwise the key is created or replaced. Returns false when the file
// cannot be written (it then keeps its old content) or the texts would change
// the file's structure. Removing what is not there succeeds and writes
// nothing.
bool write_private_profile_string(std::string_view section, const char* key,
                                  const char* value, const std::string& file_name);

}  // namespace platform
