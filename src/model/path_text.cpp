#include "model/path_text.h"

#include "platform/path_parts.h"
#include "platform/system.h"
#include "platform/text.h"

#include <algorithm>
#include <cstring>

std::size_t FileNameStart(const std::string& path) { return platform::file_name_start(path); }

namespace {

bool is_blank(char c) { return static_cast<unsigned char>(c) <= 32; }

}  // namespace

std::string Trim(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && is_blank(text[first])) ++first;
    while (last > first && is_blank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

std::string UpperCase(const std::string& text) { return platform::upper_case(text); }

std::string ExpandFileName(const std::string& path) { return platform::full_path(path); }

std::string DrivePart(const std::string& path) { return platform::drive_part(path); }

std::string DirectoryPart(const std::string& path) { return platform::directory_part(path); }

std::string FileNamePart(const std::string& path) { return platform::file_name_part(path); }

std::string ExtensionPart(const std::string& path) { return platform::extension_part(path); }

std::string ReplaceExtension(const std::string& path, const std::string& extension) {
    return platform::replace_extension(path, extension);
}

std::string DirectoryWithoutDrive(const std::string& path) {
    constexpr std::size_t kMaxLength = 32767;
    std::string directory = DirectoryPart(path);
    directory.erase(0, std::min(DrivePart(path).size(), directory.size()));
    if (directory.size() > kMaxLength) directory.resize(kMaxLength);
    return directory;
}

int SplitDirectory(std::string& text, ComponentTable& table) {
    table.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (platform::is_lead_byte(c)) {
            ++i;
            continue;
        }
        if (platform::is_directory_separator(c)) {
            text[i] = '\0';
            table.push_back(text.c_str() + i + 1);
        }
    }
    return static_cast<int>(table.size()) - 1;
}

std::string RelativePath(const std::string& base, const std::string& target) {
    if (!platform::equal_ignoring_case(DrivePart(base), DrivePart(target))) return target;

    std::string baseDir = DirectoryWithoutDrive(base);
    std::string targetDir = DirectoryWithoutDrive(target);
    ComponentTable baseTable;
    ComponentTable targetTable;
    const int nBase = SplitDirectory(baseDir, baseTable);
    const int nTarget = SplitDirectory(targetDir, targetTable);

    int i = 0;
    while (i < nBase && i < nTarget &&
           platform::equal_ignoring_case(baseTable[i], targetTable[i]))
        ++i;

    std::string result;
    for (int k = i; k < nBase; ++k) result += "..\\";
    for (int k = i; k < nTarget; ++k) {
        result += targetTable[k];
        result += '\\';
    }
    result += FileNamePart(target);
    return result;
}
