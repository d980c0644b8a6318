#include "ini/appended_sections.h"

#include <array>
#include <cstring>
#include <memory>

#include "ini/document.h"
#include "ini/name_folding.h"
#include "ini/reading_rules.h"
#include "platform/words.h"

namespace ini {
namespace {

// The text is handed on in pieces of this size.
constexpr std::size_t kPiece = 1 << 20;

// Gathers lines into pieces of kPiece bytes; a line longer than that goes on
// in parts of its own.
class PieceWriter {
public:
    explicit PieceWriter(const std::function<void(std::string_view)>& piece)
        : piece_(piece), buffer_(std::make_unique<char[]>(kPiece)) {}
    PieceWriter(const PieceWriter&) = delete;
    PieceWriter& operator=(const PieceWriter&) = delete;

    // Writes first, separator, second and a line end.
    void line(std::string_view first, char separator, std::string_view second) {
        const std::size_t need = first.size() + 1 + second.size() + kLineEnd.size();
        if (used_ + need > kPiece) flush();
        if (need > kPiece) {
            piece_(first);
            piece_(std::string_view(&separator, 1));
            if (!second.empty()) piece_(second);
            piece_(kLineEnd);
            return;
        }
        char* out = buffer_.get() + used_;
        platform::words::copy(out, first.data(), first.size());
        out += first.size();
        *out++ = separator;
        platform::words::copy(out, second.data(), second.size());  // nothing of a null view
        out += second.size();
        std::memcpy(out, kLineEnd.data(), kLineEnd.size());
        used_ += need;
    }

    void flush() {
        if (used_ != 0) piece_(std::string_view(buffer_.get(), used_));
        used_ = 0;
    }

private:
    const std::function<void(std::string_view)>& piece_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
};

// The rows seen so far by the hash of their key: open addressing, at most
// three quarters full. A slot holds a row number in its low 24 bits and the
// top 8 bits of the key's hash above them, which spare most comparisons of
// keys: four bytes a slot, with every row of a table in memory beside it.
class RowsByKey {
public:
    explicit RowsByKey(std::size_t rows) {
        std::size_t capacity = 16;
        while (capacity * 3 < rows * 4) capacity *= 2;
        slots_.assign(capacity, kEmpty);
        mask_ = capacity - 1;
    }

    // Fetches the slot where a key of this hash starts looking into the cache.
    void prefetch(std::uint32_t hash) const { platform::words::prefetch(&slots_[hash & mask_]); }

    // The earlier row whose key matches, or else records this one and gives
    // kNone.
    template <class KeyOf>
    std::uint32_t find_or_add(std::string_view key, std::uint32_t hash, std::uint32_t row, const KeyOf& key_of) {
        const std::uint32_t tag = hash & ~kRowBits;
        for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
            std::uint32_t& slot = slots_[i];
            if (slot == kEmpty) {
                slot = tag | row;
                return kNone;
            }
            if ((slot & ~kRowBits) == tag && equal_folded(trim(key_of(slot & kRowBits)), key)) return slot & kRowBits;
        }
    }

    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    static constexpr std::uint32_t kRowBits = 0x00FFFFFFu;

private:
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;  // row kRowBits: never one
    std::vector<std::uint32_t> slots_;
    std::size_t mask_ = 0;
};

static_assert(AppendedSections::kMaxRows <= RowsByKey::kRowBits);

}  // namespace

AppendedSections::AppendedSections(std::vector<std::string> sections, const KeyRows& rows)
    : sections_(std::move(sections)), rows_(rows) {
    const std::size_t count = rows_.count();
    if (count == 0) return;  // a section appears with its first key
    if (count > kMaxRows) throw Exception("Too many keys for new INI sections");

    for (const std::string& section : sections_)
        size_ += section.size() + 2 + kLineEnd.size();  // "[", the name, "]"

    // The checks of set_value, write by write; and the duplicates.
    RowsByKey seen(count);
    const auto key_of = [this](std::uint32_t row) { return rows_.key(row); };
    // A key's slot lies anywhere in a table larger than the caches: the hash
    // of each row's key is made kAhead rows before its turn, and its slot
    // fetched then, so that the row does not wait for it.
    constexpr std::size_t kAhead = 8;
    std::array<std::uint32_t, kAhead> hashes{};
    const auto hash_of = [this](std::size_t row) { return folded_hash(trim(rows_.key(row))); };
    for (std::size_t row = 0; row < kAhead && row < count; ++row) seen.prefetch(hashes[row] = hash_of(row));
    std::string room;
    for (std::size_t row = 0; row < count; ++row) {
        const std::uint32_t hash = hashes[row % kAhead];
        if (row + kAhead < count) seen.prefetch(hashes[row % kAhead] = hash_of(row + kAhead));
        const std::string_view key = rows_.key(row);
        std::size_t values = 0;
        for (std::size_t column = 0; column < sections_.size(); ++column) {
            const std::string& section = sections_[column];
            if (row == 0 && !valid_profile_section(section))
                throw Exception("Invalid INI section name \"" + section + "\"");
            const std::string_view value = rows_.value(row, column, room);
            // The key is checked with its first write; it is the same for the others.
            if ((column == 0 && key_problem(key) != ProfileEntryProblem::none) || has_line_break_or_zero(value)) {
                throw RefusedRow("Invalid INI key \"" + std::string(key) + "\" in section \"" + section + "\"", row,
                                 column);
            }
            if (key.size() + value.size() + section.size() > ProfileDocument::kMaxText / 2)
                throw Exception("INI entry too large in section \"" + section + "\"");
            values += value.size();
        }

        const std::string_view name = trim(key);
        const auto index = static_cast<std::uint32_t>(row);
        const std::uint32_t first = seen.find_or_add(name, hash, index, key_of);
        if (first == RowsByKey::kNone) {
            size_ += sections_.size() * (key.size() + 1 + kLineEnd.size()) + values;
            continue;
        }
        // The first row's line takes this row's values.
        if (sources_.empty()) {
            sources_.resize(count);
            for (std::size_t i = 0; i < count; ++i) sources_[i] = static_cast<std::uint32_t>(i);
        }
        const std::uint32_t previous = sources_[first];
        for (std::size_t column = 0; column < sections_.size(); ++column)
            size_ -= rows_.value(previous, column, room).size();
        size_ += values;
        sources_[first] = index;
        sources_[row] = kNoLine;
    }
}

void AppendedSections::visit(const std::function<void(std::string_view)>& piece) const {
    const std::size_t count = rows_.count();
    if (count == 0) return;
    PieceWriter out(piece);
    std::string room;
    for (std::size_t column = 0; column < sections_.size(); ++column) {
        out.line("[" + sections_[column], ']', {});
        for (std::size_t row = 0; row < count; ++row) {
            const std::uint32_t from = source(row);
            if (from == kNoLine) continue;
            out.line(rows_.key(row), '=', rows_.value(from, column, room));
        }
    }
    out.flush();
}

}  // namespace ini
