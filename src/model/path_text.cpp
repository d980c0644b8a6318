#include "model/path_text.h"

#include "platform/path_parts.h"
#include "platform/system.h"
#include "platform/text.h"

#include <algorithm>
#include <cstring>

std::size_t FileNameStart(std::string_view path) { return platform::file_name_start(path); }

namespace {

constexpr std::size_t kMaxDirectoryLength = 32767;

bool is_blank(char c) { return static_cast<unsigned char>(c) <= 32; }

// DirectoryWithoutDrive(path), as a part of the path.
std::string_view directory_without_drive(std::string_view path) {
    std::string_view directory = path.substr(0, FileNameStart(path));
    directory.remove_prefix(std::min(platform::drive_length(path), directory.size()));
    return directory.substr(0, kMaxDirectoryLength);
}

// Calls `component` with each text between two directory separators of the
// directory, in order, as SplitDirectory lists them (each ends at a zero
// byte, should it hold one).
template <class Component>
void for_each_component(std::string_view directory, Component component) {
    std::size_t start = std::string_view::npos;
    for (std::size_t i = 0; i < directory.size(); ++i) {
        const auto c = static_cast<unsigned char>(directory[i]);
        if (platform::is_lead_byte(c)) {
            ++i;
            continue;
        }
        if (!platform::is_directory_separator(c)) continue;
        if (start != std::string_view::npos) {
            const std::string_view text = directory.substr(start, i - start);
            component(text.substr(0, text.find('\0')));
        }
        start = i + 1;
    }
}

}  // namespace

std::string Trim(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && is_blank(text[first])) ++first;
    while (last > first && is_blank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

std::string UpperCase(const std::string& text) { return platform::upper_case(text); }

std::string ExpandFileName(std::string_view path) { return platform::full_path(path); }

void ExpandFileName(std::string_view path, std::string& out) { platform::full_path(path, out); }

std::string DrivePart(const std::string& path) { return platform::drive_part(path); }

std::string DirectoryPart(const std::string& path) { return platform::directory_part(path); }

std::string FileNamePart(const std::string& path) { return platform::file_name_part(path); }

std::string ExtensionPart(const std::string& path) { return platform::extension_part(path); }

std::string ReplaceExtension(const std::string& path, const std::string& extension) {
    return platform::replace_extension(path, extension);
}

std::string DirectoryWithoutDrive(const std::string& path) { return std::string(directory_without_drive(path)); }

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
    return RelativePathFrom(base)(target);
}

RelativePathFrom::RelativePathFrom(const std::string& base)
    : drive_(DrivePart(base)), directory_(base.substr(0, FileNameStart(base))) {
    for_each_component(directory_without_drive(base),
                       [this](std::string_view component) { components_.emplace_back(component); });
}

std::string RelativePathFrom::operator()(std::string_view target) const {
    if (!platform::equal_ignoring_case(drive_, target.substr(0, platform::drive_length(target)))) return std::string(target);
    // A file in the base's own directory is its name: the drives have one
    // length, and directories equal but for case have the same components
    // (no letter is upper-cased to a separator). Where a byte may be the
    // second of a character, the components are compared one by one.
    const std::size_t nameStart = FileNameStart(target);
    if (!platform::code_page_has_lead_bytes() && platform::equal_ignoring_case(target.substr(0, nameStart), directory_))
        return std::string(target.substr(nameStart));

    // The target's components past those it shares with the base.
    std::size_t shared = 0;
    bool diverged = false;
    std::size_t firstOwn = std::string_view::npos;  // where the first unshared one starts
    std::size_t ownLength = 0;
    const std::string_view directory = directory_without_drive(target);
    for_each_component(directory, [&](std::string_view component) {
        if (!diverged && shared < components_.size() && platform::equal_ignoring_case(components_[shared], component)) {
            ++shared;
        } else {
            diverged = true;
            if (firstOwn == std::string_view::npos) firstOwn = static_cast<std::size_t>(component.data() - directory.data());
            ownLength += component.size() + 1;
        }
    });

    const std::string_view name = target.substr(nameStart);
    std::string result;
    result.reserve(3 * (components_.size() - shared) + ownLength + name.size());
    for (std::size_t k = shared; k < components_.size(); ++k) result += "..\\";
    if (firstOwn != std::string_view::npos) {
        // Each component followed by "\\", as the Windows programs read them.
        for_each_component(directory.substr(firstOwn - 1), [&](std::string_view component) {
            result += component;
            result += '\\';
        });
    }
    result += name;
    return result;
}
