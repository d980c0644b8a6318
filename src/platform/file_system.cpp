// The parts of the file system layer that are the same on every platform:
// waiting for locks, and saving whole files (atomically, or in place under
// a journal).

#include "platform/file_system.h"

#include "platform/exception.h"
#include "platform/journal.h"
#include "platform/path_parts.h"
#include "platform/system.h"
#include "platform/text.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

namespace platform {
namespace {

FileSystem* installed = nullptr;
std::atomic<unsigned> lock_wait{10000};

const char* const kTemporarySuffix = ".tmp";

// Removes a temporary file unless it was put in place.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
    ~TemporaryFile() {
        if (armed_) {
            try {
                file_system().remove(path_);
            } catch (const Exception&) {
                // The original is intact; a leftover temporary is harmless,
                // and the next save removes it.
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

// The one file of an in-place write, for its journal: held open under an
// update lock from before its old content is saved until the change is
// final.
class SingleFile final : public JournalFiles {
public:
    SingleFile(std::string path, std::string name) : path_(std::move(path)), name_(std::move(name)) {
        if (file_system().kind(path_) == FileKind::file) file_ = open_waiting(path_, OpenMode::read_write, Lock::update);
    }
    bool exists() const { return file_ != nullptr; }
    File* find(const std::string& name) override { return same(name) ? file_.get() : nullptr; }
    File& create(const std::string& name) override {
        if (!same(name)) throw Exception("\"" + name + "\" is not part of the change of " + path_);
        file_ = file_system().open(path_, OpenMode::create_new, Lock::update);
        return *file_;
    }
    void remove(const std::string& name) override {
        if (!same(name)) return;
        file_.reset();
        file_system().remove(path_);
    }

private:
    bool same(const std::string& name) const {
        return file_names_ignore_case() ? equal_ignoring_case(name, name_) : name == name_;
    }
    std::string path_;
    std::string name_;
    std::unique_ptr<File> file_;
};

// Temporary files of earlier saves of the file whose writers are gone (a
// crash): no one holds their lock. Those of live saves are left alone.
void remove_dead_temporaries(const std::string& path) {
    FileSystem& fs = file_system();
    const std::string folder = directory_part(path);
    std::vector<std::string> names;
    try {
        names = fs.list_directory(directory_or_dot(path));
    } catch (const Exception&) {
        return;
    }
    for (const std::string& candidate : names) {
        if (!is_run_temporary(path, kTemporarySuffix, candidate)) continue;
        try {
            // Closed again before the removal (Windows removes no open file).
            fs.open(folder + candidate, OpenMode::read_write, Lock::update);
            fs.remove(folder + candidate);
        } catch (const Exception&) {
            // In use by its live writer, or not ours to remove.
        }
    }
}

bool same_text(std::string_view a, std::string_view b) {
    return file_names_ignore_case() ? equal_ignoring_case(a, b) : a == b;
}

}  // namespace

FileSystemWrapper::FileSystemWrapper(FileSystem& target) : target_(target) {}

FileSystemWrapper::FileSystemWrapper() : target_(os_file_system()) {}

FileSystem& file_system() { return installed != nullptr ? *installed : os_file_system(); }

ScopedFileSystem::ScopedFileSystem(FileSystem& replacement) : previous_(installed) {
    installed = &replacement;
}

ScopedFileSystem::~ScopedFileSystem() { installed = previous_; }

unsigned set_lock_wait(unsigned milliseconds) { return lock_wait.exchange(milliseconds); }

std::unique_ptr<File> open_waiting(const std::string& path, OpenMode mode, Lock lock) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(lock_wait.load());
    while (true) {
        try {
            return file_system().open(path, mode, lock);
        } catch (const Exception& e) {
            if (e.Kind() != ErrorKind::in_use || std::chrono::steady_clock::now() >= deadline) throw;
        }
        sleep_milliseconds(20);
    }
}

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

std::string run_temporary_path(const std::string& path, std::string_view suffix) {
    return temporary_path(path, ".~" + unique_name_tag() + std::string(suffix));
}

bool is_run_temporary(const std::string& path, std::string_view suffix, const std::string& name) {
    const std::string own = file_name_part(path) + ".~";
    if (name.size() < suffix.size()) return false;
    if (!same_text(std::string_view(name).substr(name.size() - suffix.size()), suffix)) return false;
    // As temporary_path would spell it: the plain name, or, for a name too
    // long for that, the cut one (tags have one length, so the cut is the
    // same for every run).
    const std::string probe = temporary_path(path, ".~" + std::string(unique_name_tag().size(), '0') + std::string(suffix));
    const std::string probe_name = file_name_part(probe);
    const bool cut = probe_name.compare(0, own.size(), own) != 0;
    const std::string prefix =
        cut ? probe_name.substr(0, probe_name.size() - suffix.size() - unique_name_tag().size()) : own;
    if (cut && name.size() != probe_name.size()) return false;
    if (name.size() <= prefix.size() + suffix.size() || !same_text(std::string_view(name).substr(0, prefix.size()), prefix))
        return false;
    const std::string tag = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    return tag.find('.') == std::string::npos;
}

void write_file_atomically(const std::string& path, const std::string& bytes) {
    write_stream_atomically(path, [&bytes](const ContentSink& sink) { sink(bytes); });
}

void write_stream_atomically(const std::string& path, const ContentProducer& produce) {
    FileSystem& fs = file_system();
    const std::string target = fs.resolve_links(path);
    const FileInfo info = fs.info(target);
    // A rename would give the new content one name and leave the old
    // content under the others (or replace a link that resolve_links could
    // not follow).
    if (info.kind == FileKind::file && (info.links > 1 || info.link)) {
        write_stream_in_place(target, produce);
        return;
    }
    const std::string directory = directory_part(target);
    remove_dead_temporaries(target);
    // Another save that looks for leftovers may take this one's temporary
    // for one in the moment between its creation and its lock: it then
    // holds the lock for a moment, or removes the file, so that the rename
    // finds none. The save starts again with another temporary.
    for (int attempt = 1;; ++attempt) {
        TemporaryFile temporary(run_temporary_path(target, kTemporarySuffix));
        // Locked for as long as it lives, so that no other save takes it for
        // a leftover; an update lock, so that it can be renamed while open.
        std::unique_ptr<File> file;
        try {
            file = fs.create_like(temporary.path(), info, Lock::update);
        } catch (const Exception& e) {
            if (e.Kind() != ErrorKind::in_use || attempt == 3) throw;
            continue;
        }
        std::uint64_t offset = 0;
        produce([&file, &offset](std::string_view piece) {
            file->write_at(offset, piece.data(), piece.size());
            offset += piece.size();
        });
        file->sync();
        try {
            fs.rename(temporary.path(), target);
        } catch (const Exception& e) {
            if (e.Kind() != ErrorKind::not_found || attempt == 3 || fs.kind(temporary.path()) != FileKind::missing)
                throw;
            continue;
        }
        temporary.release();
        break;
    }
    fs.sync_directory(directory_or_dot(target));
}

void write_stream_in_place(const std::string& path, const ContentProducer& produce) {
    FileSystem& fs = file_system();
    const std::string target = fs.resolve_links(path);
    const std::string directory = directory_part(target);
    const std::string name = file_name_part(target);
    SingleFile files(target, name);
    roll_back_journals(directory, name, files, files.exists());
    Journal journal(directory, name, files);
    journal.save_file(name);
    journal.begin();
    const bool created = files.find(name) == nullptr;
    File& file = created ? files.create(name) : *files.find(name);
    std::uint64_t offset = 0;
    produce([&file, &offset](std::string_view piece) {
        file.write_at(offset, piece.data(), piece.size());
        offset += piece.size();
    });
    if (file.size() != offset) file.truncate(offset);
    file.sync();
    if (created) fs.sync_directory(directory_or_dot(target));
    journal.commit();
}

void recover_file(const std::string& path) {
    FileSystem& fs = file_system();
    const std::string target = fs.resolve_links(path);
    const std::string directory = directory_part(target);
    const std::string name = file_name_part(target);
    if (journals_of(directory, name).empty()) return;
    SingleFile files(target, name);
    roll_back_journals(directory, name, files, files.exists());
}

}  // namespace platform
