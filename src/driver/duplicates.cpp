#include "driver/duplicates.h"

#include "ini/reading_rules.h"
#include "platform/messages.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string_view>

std::vector<DuplicateIdentifier> FindDuplicateIdentifiers(const TDatFileDescList& list) {
    // Runs over every row of a conversion: one table of key numbers for all
    // rows, the keys viewed where they lie (an identifier is mostly its own
    // INI form already), no allocation per row.
    std::vector<std::string_view> keys;  // distinct keys in order of first entry
    std::vector<int> rows;               // entries of each
    std::deque<std::string> folded;      // keys that differ from their identifier
    std::size_t capacity = 16;
    while (capacity < 2 * list.Items.size()) capacity *= 2;
    std::vector<std::uint32_t> slots(capacity, 0);  // key number + 1; 0 empty
    const std::size_t mask = capacity - 1;
    keys.reserve(list.Items.size());
    rows.reserve(list.Items.size());

    for (const auto& entry : list.Items) {
        std::string_view key = entry->Id;
        if (!ini::profile_name_is_matched_form(key)) key = folded.emplace_back(ini::profile_name_as_matched(key));
        for (std::size_t i = std::hash<std::string_view>{}(key) & mask;; i = (i + 1) & mask) {
            if (slots[i] == 0) {
                slots[i] = static_cast<std::uint32_t>(keys.size() + 1);
                keys.push_back(key);
                rows.push_back(1);
                break;
            }
            if (keys[slots[i] - 1] == key) {
                ++rows[slots[i] - 1];
                break;
            }
        }
    }
    std::vector<DuplicateIdentifier> shared;
    for (std::size_t k = 0; k < keys.size(); ++k)
        if (rows[k] > 1) shared.push_back({std::string(keys[k]), rows[k]});
    return shared;
}

std::string DuplicateWarning(const DuplicateIdentifier& duplicate) {
    return platform::program_message("Предупреждение: идентификатор \"") + duplicate.Key +
           platform::program_message("\" встречается в таблице несколько раз (строк: ") +
           std::to_string(duplicate.Rows) + platform::program_message("), в INI-файл записана последняя строка");
}
