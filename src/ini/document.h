#pragma once
// ProfileDocument: a byte-oriented model of one INI file, read by the rules
// of reading_rules.h. Every line that an operation does not change is kept
// exactly as it was (spacing, comments, blank lines, line ends, other
// sections); changed and new lines end with CRLF. Lookups go through an
// index (key_index.h), so n writes cost O(n).
//
// The model: a file is a sequence of sections; the first holds the lines
// before any header and is never searched. A section keeps its bytes as one
// range of the loaded text until it is first searched; then it is split into
// lines. A line is a view of its text and of the run of CR/LF that ended it,
// lying together in the loaded text or, once changed or added, in the arena
// (arena.h), so writing the lines back reproduces the file byte for byte.
// Removed lines stay in place as tombstones (their blank lines kept), so
// indexes into a section never move except when a key is inserted, and
// insertions happen only after the last non-blank line, behind which no
// indexed line lies.
//
// Reading (construction, lookups, the text) is document_reading.cpp; the
// changes are document.cpp.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ini {

class Arena;

class ProfileDocument {
public:
    // The largest text a document holds: its lengths and line numbers fit
    // 32 bits.
    static constexpr std::size_t kMaxText = 0xFFFFFF00u;

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

    // True when the file has a section of that name.
    bool holds_section(std::string_view section) const { return find_section(section) != nullptr; }

    // Makes sure the text ends with a line break, as set_value does before it
    // adds a section: a last line without one gets CRLF. An empty text stays
    // empty.
    void end_with_line_break();

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

    Section* find_section(std::string_view section) const;
    // The same; valid_name tells whether the name may be written as a header.
    Section* find_section(std::string_view section, bool& valid_name) const;
    Section& append_section(std::string_view section);
    void split(Section& section) const;
    bool end_last_line();
    void place(Line& line, const char* data, std::size_t length, std::size_t ending);
    void copy_to_arena(Line& line, std::string_view text, std::string_view ending);
    Arena& arena_for(Section& section);
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
    // The last key written, when it is short enough to keep here (most
    // are): copied per row, it must cost no more than the check it spares.
    std::array<char, 64> last_key_{};
    std::size_t last_key_size_ = 0;
    std::uint32_t last_key_hash_ = 0;
    bool last_key_valid_ = false;
    bool modified_ = false;
    bool escapes_ = false;
};

}  // namespace ini
