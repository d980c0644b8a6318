// The parts of the file system layer that are the same on every platform.

#include "platform/file_system.h"

#include "platform/exception.h"
#include "platform/system.h"
#include "platform/text.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace platform {
namespace {

FileSystem* installed = nullptr;

std::string directory_part(const std::string& path) {
    std::size_t cut = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (is_lead_byte(c)) {
            ++i;
            continue;
        }
        if (is_path_separator(c)) cut = i + 1;
    }
    return path.substr(0, cut);
}

// Removes a temporary file unless it was put in place.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
    ~TemporaryFile() {
        if (armed_) {
            try {
                file_system().remove(path_);
            } catch (const Exception&) {
                // The original is intact; a leftover temporary is harmless.
            }
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& path() const { return path_; }
    void release() { armed_ = false; }

private:
    std::string path_;
    bool armed_ = true;
};

}  // namespace

FileSystemWrapper::FileSystemWrapper(FileSystem& target) : target_(target) {}

FileSystemWrapper::FileSystemWrapper() : target_(os_file_system()) {}

FileSystem& file_system() { return installed != nullptr ? *installed : os_file_system(); }

ScopedFileSystem::ScopedFileSystem(FileSystem& replacement) : previous_(installed) {
    installed = &replacement;
}

ScopedFileSystem::~ScopedFileSystem() { installed = previous_; }

std::string read_whole_file(const std::string& path) {
    auto file = file_system().open(path, OpenMode::read);
    std::string bytes(static_cast<std::size_t>(file->size()), '\0');
    const std::size_t n = file->read_at(0, bytes.data(), bytes.size());
    bytes.resize(n);
    return bytes;
}

std::string temporary_path(const std::string& path, std::string_view suffix) {
    const std::string directory = directory_part(path);
    const std::string name = path.substr(directory.size());
    std::string plain = name;
    plain.append(suffix);
    if (!name_too_long(plain)) return path + std::string(suffix);

    // FNV-1a of the whole name: two long names that share their beginning
    // (T.DB and T.PX, say) still get two temporaries.
    std::uint32_t hash = 2166136261u;
    for (const char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    static const char kHex[] = "0123456789ABCDEF";
    std::string tail = "~";
    for (int shift = 28; shift >= 0; shift -= 4) tail += kHex[(hash >> shift) & 0xF];
    tail.append(suffix);

    // Whole characters only: a double-byte character is kept or cut whole.
    std::vector<std::size_t> ends;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (is_lead_byte(static_cast<unsigned char>(name[i])) && i + 1 < name.size()) ++i;
        ends.push_back(i + 1);
    }
    std::size_t keep = ends.size();
    while (keep > 0 && name_too_long(name.substr(0, ends[keep - 1]) + tail)) --keep;
    return directory + name.substr(0, keep == 0 ? 0 : ends[keep - 1]) + tail;
}

void write_file_atomically(const std::string& path, const std::string& bytes) {
    write_stream_atomically(path, [&bytes](const ContentSink& sink) { sink(bytes); });
}

void write_stream_atomically(const std::string& path,
                             const std::function<void(const ContentSink&)>& produce) {
    FileSystem& fs = file_system();
    static std::atomic<unsigned> counter{0};
    const std::string directory = directory_part(path);
    TemporaryFile temporary(temporary_path(path, ".~" + std::to_string(counter++) + ".tmp"));
    fs.remove(temporary.path());
    {
        auto file = fs.open(temporary.path(), OpenMode::create_new);
        std::uint64_t offset = 0;
        produce([&file, &offset](std::string_view piece) {
            file->write_at(offset, piece.data(), piece.size());
            offset += piece.size();
        });
        file->sync();
    }
    if (fs.kind(path) == FileKind::file) fs.copy_permissions(path, temporary.path());
    fs.rename(temporary.path(), path);
    temporary.release();
    fs.sync_directory(directory);
}

}  // namespace platform
