#pragma once
// An in-memory file system for the fuzzer: fast, and nothing touches disk.

#include "platform/exception.h"
#include "platform/file_system.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace engine_fuzz {

class MemoryFileSystem : public platform::FileSystem {
public:
    std::map<std::string, std::string> files;

    using platform::FileSystem::open;
    std::unique_ptr<platform::File> open(const std::string& path, platform::OpenMode mode,
                                         platform::Lock) override {
        auto it = files.find(path);
        if (it == files.end()) {
            if (mode == platform::OpenMode::read || mode == platform::OpenMode::read_write)
                throw Exception("Cannot open " + path);
            it = files.emplace(path, std::string()).first;
        } else if (mode == platform::OpenMode::create_new) {
            throw Exception("Exists: " + path);
        } else if (mode == platform::OpenMode::create) {
            it->second.clear();
        }
        return std::make_unique<MemoryFile>(it->second);
    }
    platform::FileKind kind(const std::string& path) override {
        return files.count(path) ? platform::FileKind::file : platform::FileKind::missing;
    }
    void rename(const std::string& from, const std::string& to) override {
        auto it = files.find(from);
        if (it == files.end()) throw Exception("Cannot rename " + from);
        files[to] = it->second;
        files.erase(from);
    }
    void remove(const std::string& path) override { files.erase(path); }
    void sync_directory(const std::string&) override {}
    std::vector<std::string> list_directory(const std::string&) override {
        std::vector<std::string> names;
        for (const auto& [path, content] : files) names.push_back(path.substr(path.rfind('/') + 1));
        return names;
    }
    std::unique_ptr<platform::File> create_like(const std::string& path, const platform::FileInfo&,
                                                platform::Lock lock) override {
        return open(path, platform::OpenMode::create_new, lock);
    }
    platform::FileInfo info(const std::string& path) override {
        platform::FileInfo result;
        if (const auto it = files.find(path); it != files.end()) {
            result.kind = platform::FileKind::file;
            result.size = it->second.size();
        }
        return result;
    }
    std::string resolve_links(const std::string& path) override { return path; }

private:
    class MemoryFile : public platform::File {
    public:
        explicit MemoryFile(std::string& bytes) : bytes_(bytes) {}
        std::size_t read_at(std::uint64_t offset, void* buffer, std::size_t n) override {
            if (offset >= bytes_.size()) return 0;
            const std::size_t count = std::min<std::size_t>(n, bytes_.size() - offset);
            std::memcpy(buffer, bytes_.data() + offset, count);
            return count;
        }
        void write_at(std::uint64_t offset, const void* data, std::size_t n) override {
            if (bytes_.size() < offset + n) bytes_.resize(offset + n);
            std::memcpy(bytes_.data() + offset, data, n);
        }
        std::uint64_t size() override { return bytes_.size(); }
        void truncate(std::uint64_t size) override { bytes_.resize(size); }
        void sync() override {}

    private:
        std::string& bytes_;
    };
};

}  // namespace engine_fuzz
