#include "driver/duplicates.h"

#include "platform/messages.h"
#include "platform/profile.h"

#include <unordered_map>

std::vector<DuplicateIdentifier> FindDuplicateIdentifiers(const TDatFileDescList& list) {
    std::unordered_map<std::string, std::size_t> firstSeen;  // key -> index into `all`
    std::vector<DuplicateIdentifier> all;
    for (const auto& entry : list.Items) {
        std::string key = platform::profile_name_as_matched(entry->Id);
        const auto [it, inserted] = firstSeen.try_emplace(key, all.size());
        if (inserted) all.push_back({std::move(key), 0});
        ++all[it->second].Rows;
    }
    std::vector<DuplicateIdentifier> shared;
    for (auto& identifier : all)
        if (identifier.Rows > 1) shared.push_back(std::move(identifier));
    return shared;
}

std::string DuplicateWarning(const DuplicateIdentifier& duplicate) {
    return platform::program_message("Предупреждение: идентификатор \"") + duplicate.Key +
           platform::program_message("\" встречается в таблице несколько раз (строк: ") +
           std::to_string(duplicate.Rows) + platform::program_message("), в INI-файл записана последняя строка");
}
