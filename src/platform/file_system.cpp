// The parts of the file system layer that are the same on every platform.

#include "platform/file_system.h"

#include "platform/exception.h"
#include "platform/text.h"

#include <atomic>

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

void write_file_atomically(const std::string& path, const std::string& bytes) {
    write_stream_atomically(path, [&bytes](const ContentSink& sink) { sink(bytes); });
}

void write_stream_atomically(const std::string& path,
                             const std::function<void(const ContentSink&)>& produce) {
    FileSystem& fs = file_system();
    static std::atomic<unsigned> counter{0};
    const std::string directory = directory_part(path);
    TemporaryFile temporary(path + ".~" + std::to_string(counter++) + ".tmp");
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
