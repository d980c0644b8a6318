#include "driver/duplicates.h"

#include "ini/reading_rules.h"
#include "platform/messages.h"

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
    std::vector<std::uint32_t> slots(capacity, 0);  // first row of a key + 1; 0 empty
    const std::size_t mask = capacity - 1;

    for (std::uint32_t row = 0; row < list.Items.size(); ++row) {
        std::string_view key = list.Items[row]->Id;
        if (!ini::profile_name_is_matched_form(key))
            key = folded.emplace(row, ini::profile_name_as_matched(key)).first->second;  // nodes stay put
        for (std::size_t i = std::hash<std::string_view>{}(key) & mask;; i = (i + 1) & mask) {
            if (slots[i] == 0) {
                slots[i] = row + 1;
                break;
            }
            if (key_of(slots[i] - 1) == key) {
                ++shared.try_emplace(slots[i] - 1, 1).first->second;
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
