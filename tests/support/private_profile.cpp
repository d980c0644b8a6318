#include "support/private_profile.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "ini/profile_file.h"
#include "ini/reading_rules.h"
#include "platform/exception.h"

namespace testing_support {

using ini::check_profile_entry;
using ini::ProfileDocument;
using ini::ProfileEntryProblem;
using ini::ProfileFile;
using ini::valid_profile_section;

std::size_t get_private_profile_string(std::string_view section, const char* key,
                                       const char* default_value, char* buffer,
                                       std::size_t size, const std::string& file_name) {
    if (buffer == nullptr || size == 0) return 0;
    ProfileFile file(file_name);
    const ProfileDocument& document = file.document();

    if (key == nullptr) {
        if (size < 2) {
            buffer[0] = '\0';
            return 0;
        }
        std::size_t used = 0;
        bool cut = false;
        for (const std::string& name : document.key_names(section)) {
            if (used + name.size() + 1 + 1 >= size) {  // an exact fit is too small
                const std::size_t room = size - 2 - used;
                std::memcpy(buffer + used, name.data(), std::min(room, name.size()));
                used = size - 2;
                cut = true;
                break;
            }
            std::memcpy(buffer + used, name.data(), name.size());
            used += name.size();
            buffer[used++] = '\0';
        }
        buffer[used] = '\0';
        if (cut || used == 0) buffer[used + 1] = '\0';
        return used;
    }

    std::string text;
    if (auto value = document.value(section, key)) {
        text = std::move(*value);
    } else if (default_value != nullptr) {
        text = default_value;
        while (!text.empty() && text.back() == ' ') text.pop_back();
    }
    const std::size_t count = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return count;
}

bool write_private_profile_string(std::string_view section, const char* key,
                                  const char* value, const std::string& file_name) {
    if (key != nullptr && value != nullptr &&
        (!valid_profile_section(section) ||
         check_profile_entry(key, value) != ProfileEntryProblem::none)) {
        return false;
    }
    try {
        ProfileFile file(file_name);
        ProfileDocument& document = file.document();
        if (key == nullptr) {
            document.erase_section(section);
        } else if (value == nullptr) {
            document.erase_key(section, key);
        } else {
            document.set_value(section, key, value);
        }
        file.save();
        return true;
    } catch (const Exception&) {
        return false;
    }
}

}  // namespace testing_support
