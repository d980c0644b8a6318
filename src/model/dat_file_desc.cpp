#include "model/dat_file_desc.h"

#include "model/path_text.h"
#include "platform/per_thread.h"
#include "platform/text.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

namespace {

// The rows of a path table mostly name files in a few directories. Each
// directory seen is kept here once, up to kMost of them (then they are let
// go, and kept anew as they come); the entries of rows that name one again
// share its bytes.
class DirectoryTexts {
public:
    // The kept text of the directory, or null when it is seen for the first
    // time (it is kept from now on).
    const Text* seen(std::string_view directory) {
        const std::uint32_t hash = hash_of(directory);
        for (std::size_t slot = hash % kSlots;; slot = (slot + 1) % kSlots) {
            Text& kept = kept_[slot];
            if (kept.empty()) {
                if (count_ == kMost) {
                    clear();
                    return seen(directory);
                }
                kept = Text::Shared(directory);
                hashes_[slot] = hash;
                ++count_;
                return nullptr;
            }
            if (hashes_[slot] == hash && std::string_view(kept) == directory) return &kept;
        }
    }

private:
    static constexpr std::size_t kSlots = 2048;
    static constexpr std::size_t kMost = kSlots / 2;

    void clear() {
        for (Text& kept : kept_) kept = Text();
        count_ = 0;
    }

    // Directories of one table tend to differ at their end: the size and
    // the last 16 bytes make the hash.
    static std::uint32_t hash_of(std::string_view text) {
        std::uint64_t low = 0;
        std::uint64_t high = 0;
        if (text.size() >= 16) {
            std::memcpy(&low, text.data() + text.size() - 16, 8);
            std::memcpy(&high, text.data() + text.size() - 8, 8);
        } else {
            const std::size_t split = text.size() < 8 ? text.size() : 8;
            std::memcpy(&low, text.data(), split);
            std::memcpy(&high, text.data() + split, text.size() - split);
        }
        // Each byte then reaches the low bits.
        std::uint64_t h = low * 0x9E3779B97F4A7C15u + high * 0xC2B2AE3D27D4EB4Fu + text.size();
        h ^= h >> 32;
        h *= 0xFF51AFD7ED558CCDu;
        h ^= h >> 29;
        return static_cast<std::uint32_t>(h);
    }

    std::array<Text, kSlots> kept_;
    std::array<std::uint32_t, kSlots> hashes_{};
    std::size_t count_ = 0;
};

// Room for a row's expanded path, kept from one row to the next.
struct ExpandedPath {
    std::string text;
};

// The entry's directory: the kept text where the directory was seen before.
void set_directory(TDatFileDesc& entry, std::string_view directory) {
    DirectoryTexts& directories = platform::per_thread<DirectoryTexts>();
    const Text* seen = directory.empty() ? nullptr : directories.seen(directory);
    if (seen != nullptr)
        entry.FileDir = *seen;
    else
        entry.FileDir = directory;
}

// The bounds of `text` without leading and trailing characters of code 32
// or less.
std::pair<std::size_t, std::size_t> trimmed_bounds(std::string_view text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= 32) ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= 32) --last;
    return {first, last};
}

void set_path_field(TDatFileDesc& entry, Text& field, std::string_view text, bool upper_cased = false) {
    if (std::string_view(field) == text) return;
    const auto [first, last] = trimmed_bounds(text);
    field.assign(text.substr(first, last - first));
    if (!upper_cased) platform::upper_case_in_place(field.data(), field.size());
    entry.Priority = -2;
}

// True when the file-name part of the path has a ".".
bool has_extension(std::string_view path) {
    return path.find('.', FileNameStart(path)) != std::string::npos;
}

}  // namespace

void SetFileName(TDatFileDesc& entry, std::string_view text) { set_path_field(entry, entry.FileName, text); }

void SetFileDir(TDatFileDesc& entry, std::string_view text) { set_path_field(entry, entry.FileDir, text); }

std::string FullPath(const TDatFileDesc& entry) {
    std::string path;
    path.reserve(entry.FileDir.size() + entry.FileName.size());
    path.append(entry.FileDir).append(entry.FileName);
    return path;
}

void SetPaths(TDatFileDesc& entry, std::string_view id, std::string_view rawPath, std::string_view name) {
    // Every row of a table passes through here: the expanded path is made
    // in room kept from the row before.
    std::string& expanded = platform::per_thread<ExpandedPath>().text;
    ExpandFileName(rawPath, expanded);
    const bool endsWithSeparator =
        !expanded.empty() && platform::is_directory_separator(static_cast<unsigned char>(expanded.back()));
    if (!expanded.empty() && !endsWithSeparator && !has_extension(expanded))
        // A path without extension names a directory. POSIX paths keep their
        // own separator; the INI side writes "\\" whatever it reads.
        expanded.push_back(expanded.front() == '/' ? '/' : '\\');

    // What SetFileDir would make the directory field (the text, trimmed and
    // upper-cased, unless the field holds it already), split here so that
    // each field takes only its own part.
    std::string_view resolved = expanded;
    bool upperCased = false;
    if (std::string_view(entry.FileDir) != resolved) {
        const auto [first, last] = trimmed_bounds(resolved);
        platform::upper_case_in_place(expanded.data() + first, last - first);
        resolved = resolved.substr(first, last - first);
        upperCased = true;
    }
    const std::size_t nameStart = FileNameStart(resolved);
    if (nameStart < resolved.size()) {
        // Upper-casing it again would change nothing.
        set_path_field(entry, entry.FileName, resolved.substr(nameStart), upperCased);
        set_directory(entry, resolved.substr(0, nameStart));
    } else {
        set_directory(entry, resolved);
        if (!resolved.empty()) {
            set_path_field(entry, entry.FileName, id);
        } else {
            // The room is free again: what it held is empty but for blanks.
            ExpandFileName(id, expanded);
            set_path_field(entry, entry.FileName, expanded);
        }
    }

    entry.Id.assign(id);
    platform::upper_case_in_place(entry.Id.data(), entry.Id.size());
    entry.Name.assign(name);
    entry.RawPath.assign(rawPath);
    entry.Priority = -2;
}

TDatFileDesc& TDatFileDescList::Add() {
    Items.push_back(std::make_unique<TDatFileDesc>());
    return *Items.back();
}

void ChangeListExtension(TDatFileDescList& list, const std::string& extension) {
    // Each text loses its own extension. The full path is measured on itself:
    // the name is the argument as typed, and the expansion may have changed
    // its end ("v1.2/PATHS" names PATHS in v1.2 on Windows, and "PATHS.DB."
    // names PATHS.DB there), so the name's extension says nothing of the
    // path's.
    list.Name = ReplaceExtension(list.Name, extension);
    list.Path = ReplaceExtension(list.Path, extension);
}
