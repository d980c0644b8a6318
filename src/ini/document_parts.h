#pragma once
// The parts of a ProfileDocument (document.h), shared by the files that
// implement it; no other code includes this.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ini/arena.h"
#include "ini/document.h"
#include "ini/key_index.h"
#include "ini/name_folding.h"
#include "ini/reading_rules.h"

namespace ini {

inline constexpr std::uint32_t kNoEquals = 0xFFFFFFFFu;
inline constexpr std::size_t kMaxText = ProfileDocument::kMaxText;

struct ProfileDocument::Line {
    const char* data = nullptr;  // the text, followed by its ending
    std::uint32_t length = 0;    // of the text; 0 once removed
    std::uint32_t ending = 0;    // of the run of CR/LF; 0 at the end of the file
    std::uint32_t equals = kNoEquals;  // position of "=" on a key line

    std::string_view text() const { return {data, length}; }
    std::string_view bytes() const { return {data, std::size_t{length} + ending}; }
    std::string_view line_end() const { return {data + length, ending}; }
    bool is_key() const { return equals != kNoEquals; }
    std::string_view key() const { return trim(text().substr(0, equals)); }
    bool is_content() const { return !trim(text()).empty(); }
};

struct ProfileDocument::Section {
    bool has_header = false;
    bool erased = false;
    std::string folded_name;
    // Until the section is split: its bytes, all in the loaded text.
    bool is_split = false;
    const char* raw = nullptr;
    std::size_t raw_size = 0;
    std::vector<Line> lines;  // lines[0] is the header when there is one
    KeyIndex keys;
    std::size_t last_content = 0;  // the last non-blank line; new keys go after it
    // A section that many keys are written to keeps their bytes apart from
    // other sections' in an arena of its own: its lines then lie together,
    // and the text is handed on in long pieces. Null: the document's arena.
    std::unique_ptr<Arena> own_arena;

    // Gives the section its own arena once that many keys are expected.
    static constexpr std::size_t kKeysForOwnArena = 256;
    void expect_keys(std::size_t count) {
        if (count >= kKeysForOwnArena && !own_arena) own_arena = std::make_unique<Arena>();
    }

    KeyIndex::Slot* find_key(std::string_view key, std::uint32_t hash) {
        return keys.find(hash, [&](std::uint32_t line) { return equal_folded(lines[line].key(), key); });
    }
};

}  // namespace ini
