#include "driver/duplicates.h"

#include "ini/reading_rules.h"
#include "platform/messages.h"
#include "platform/words.h"

#include <array>
#include <bit>
#include <cstdint>
#include <functional>
#include <map>
#include <string_view>
#include <unordered_map>

std::vector<DuplicateIdentifier> FindDuplicateIdentifiers(const TDatFileDescList& list) {
    // Runs over every row of a conversion, while all of them are in memory:
    // one table of row numbers, half full, and the keys viewed where they lie
    // (an identifier is mostly its own INI form already). Only the keys that
    // differ from their identifier, and the shared ones, are kept apart.
    std::unordered_map<std::uint32_t, std::string> folded;  // row -> its key, where not its identifier
    const auto key_of = [&](std::uint32_t row) -> std::string_view {
        if (!folded.empty()) {
            if (const auto found = folded.find(row); found != folded.end()) return found->second;
        }
        return list.Items[row]->Id;
    };
    std::map<std::uint32_t, int> shared;  // first row of a shared key -> its rows, in row order
    std::size_t capacity = 16;
    while (capacity < 2 * list.Items.size()) capacity *= 2;
    // A slot: the first row of a key + 1 (0: empty) in the low bits, and in
    // the bits the rows leave free the top of the key's hash, so that a row
    // is compared only with rows whose hash agrees there: each comparison
    // reaches into an entry and its text, where a table of many rows misses
    // the cache twice.
    const int rowBits = std::bit_width(list.Items.size());
    const std::uint32_t rowMask = rowBits >= 32 ? 0xFFFFFFFFu : (std::uint32_t{1} << rowBits) - 1;
    std::vector<std::uint32_t> slots(capacity, 0);
    const std::size_t mask = capacity - 1;

    // A key's slot lies anywhere in a table larger than the caches: each
    // row's key is looked at kAhead rows before its turn, and where it is
    // its own INI form, its hash made and its slot fetched then, so that the
    // row does not wait for it.
    struct Ahead {
        std::size_t hash = 0;
        bool matched = false;  // the identifier is its own key
    };
    constexpr std::uint32_t kAhead = 8;
    std::array<Ahead, kAhead> ahead{};
    const auto look_ahead = [&](std::uint32_t row) {
        const std::string_view id = list.Items[row]->Id;
        Ahead& next = ahead[row % kAhead];
        next.matched = ini::profile_name_is_matched_form(id);
        if (!next.matched) return;
        next.hash = std::hash<std::string_view>{}(id);
        platform::words::prefetch(&slots[next.hash & mask]);
    };
    const auto count = static_cast<std::uint32_t>(list.Items.size());
    for (std::uint32_t row = 0; row < kAhead && row < count; ++row) look_ahead(row);

    for (std::uint32_t row = 0; row < count; ++row) {
        const Ahead here = ahead[row % kAhead];
        if (row + kAhead < count) look_ahead(row + kAhead);
        std::string_view key = list.Items[row]->Id;
        std::size_t hash = here.hash;
        if (!here.matched) {
            key = folded.emplace(row, ini::profile_name_as_matched(key)).first->second;  // nodes stay put
            hash = std::hash<std::string_view>{}(key);
        }
        // Mixed, so that the tag does not repeat the bits that chose the slot.
        const auto tag = static_cast<std::uint32_t>((std::uint64_t{hash} * 0x9E3779B97F4A7C15u) >> 32) & ~rowMask;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            const std::uint32_t slot = slots[i];
            if (slot == 0) {
                slots[i] = tag | (row + 1);
                break;
            }
            const std::uint32_t first = (slot & rowMask) - 1;
            if ((slot & ~rowMask) == tag && key_of(first) == key) {
                ++shared.try_emplace(first, 1).first->second;
                folded.erase(row);  // no later row compares with it
                break;
            }
        }
    }
    std::vector<DuplicateIdentifier> result;
    for (const auto& [first, rows] : shared) result.push_back({std::string(key_of(first)), rows});
    return result;
}

std::string DuplicateWarning(const DuplicateIdentifier& duplicate) {
    return platform::program_message("Предупреждение: идентификатор \"") + duplicate.Key +
           platform::program_message("\" встречается в таблице несколько раз (строк: ") +
           std::to_string(duplicate.Rows) + platform::program_message("), в INI-файл записана последняя строка");
}
