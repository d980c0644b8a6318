#include "engine/table_lock.h"

#include "platform/exception.h"
#include "platform/path_parts.h"
#include "platform/system.h"
#include "platform/text.h"

namespace engine {
namespace {

// The locks this process holds, by table. Weak: a lock goes when its last
// holder lets go of it.
std::map<std::string, std::weak_ptr<TableLock>>& registry() {
    static std::map<std::string, std::weak_ptr<TableLock>> locks;
    return locks;
}

std::string folded(const std::string& text) {
    return platform::file_names_ignore_case() ? platform::upper_case(text) : text;
}

std::string key_of(const std::string& path) {
    const std::string full = platform::full_path(path);
    return folded(full.empty() ? path : full);
}

}  // namespace

std::shared_ptr<TableLock> TableLock::acquire(const std::string& table_path, Access access) {
    const std::string resolved = platform::file_system().resolve_links(table_path);
    const std::string key = key_of(resolved);
    auto& locks = registry();
    if (const auto it = locks.find(key); it != locks.end()) {
        if (auto held = it->second.lock()) {
            if (access == Access::read || held->access() == Access::change) return held;
            throw Exception("Table " + table_path +
                                " is open for reading in this program; it cannot be changed until it is closed",
                            ErrorKind::in_use);
        }
    }
    auto lock = std::make_shared<TableLock>(table_path, resolved, access);
    lock->key_ = key;
    locks[key] = lock;
    return lock;
}

TableLock::TableLock(const std::string& given, const std::string& resolved, Access access)
    : given_(given), path_(resolved), folder_(platform::directory_part(resolved)), name_(name_of(resolved)),
      access_(access) {
    auto& fs = platform::file_system();
    if (access == Access::change) {
        if (fs.kind(path_) == platform::FileKind::file) files_[folded(name_)] = open_locked(name_, true);
        recover();
        return;
    }
    for (int attempt = 0;; ++attempt) {
        if (!platform::journals_of(folder_, name_).empty()) {
            // A change was cut short: its old content goes back, under an
            // exclusive lock, before anyone reads.
            TableLock writer(given_, path_, Access::change);
        }
        files_[folded(name_)] = open_locked(name_, true);
        // A writer that failed between the look and the lock leaves its
        // journal behind; it is put back on the next round. (A journal that
        // no one may play back, naming files outside the folder, stays.)
        if (platform::journals_of(folder_, name_).empty() || attempt == 2) break;
        files_.clear();
    }
}

TableLock::~TableLock() {
    files_.clear();
    if (key_.empty()) return;
    auto& locks = registry();
    const auto it = locks.find(key_);
    if (it != locks.end() && it->second.expired()) locks.erase(it);
}

std::string TableLock::name_of(const std::string& path) {
    return platform::file_name_part(path);
}

std::unique_ptr<platform::File> TableLock::open_locked(const std::string& name, bool must_exist) {
    const std::string path = folder_ + name;
    const bool change = access_ == Access::change;
    try {
        return platform::open_waiting(path, change ? platform::OpenMode::read_write : platform::OpenMode::read,
                                      change ? platform::Lock::exclusive : platform::Lock::shared);
    } catch (const Exception& e) {
        if (e.Kind() == ErrorKind::in_use)
            throw Exception("Table " + given_ + " is in use by another program\n" + e.Message(), ErrorKind::in_use,
                            e.Reason());
        if (e.Kind() == ErrorKind::permission && change) throw change_refused(given_, e);
        if (e.Kind() == ErrorKind::not_found && !must_exist) return nullptr;
        throw;
    }
}

Exception TableLock::change_refused(const std::string& table_path, const Exception& cause) {
    return Exception("Table " + table_path + " cannot be changed (read-only?): " + cause.Message(), cause.Kind(),
                     cause.Reason());
}

void TableLock::recover() {
    // Without the .DB there is nothing to lock; only complete journals,
    // whose writers are gone, are played back then.
    platform::roll_back_journals(folder_, name_, *this, table() != nullptr);
}

platform::File* TableLock::file(const std::string& path) { return find(name_of(path)); }

platform::File* TableLock::find(const std::string& name) {
    const std::string key = folded(name);
    if (const auto it = files_.find(key); it != files_.end()) return it->second.get();
    // Readers hold the .DB alone.
    if (access_ == Access::read) return nullptr;
    std::unique_ptr<platform::File> opened;
    if (platform::file_system().kind(folder_ + name) == platform::FileKind::file) opened = open_locked(name, false);
    platform::File* result = opened.get();
    files_[key] = std::move(opened);
    return result;
}

platform::File& TableLock::create_file(const std::string& path) { return create(name_of(path)); }

platform::File& TableLock::create(const std::string& name) {
    if (access_ != Access::change) throw Exception("Table " + given_ + " is locked for reading only");
    auto& fs = platform::file_system();
    // A companion gets the owner and mode of its table.
    const bool companion = folded(name) != folded(name_);
    const platform::FileInfo like = companion ? fs.info(path_) : platform::FileInfo{};
    auto file = fs.create_like(folder_ + name, like, platform::Lock::exclusive);
    platform::File& result = *file;
    files_[folded(name)] = std::move(file);
    return result;
}

void TableLock::remove(const std::string& name) {
    files_[folded(name)].reset();
    platform::file_system().remove(folder_ + name);
}

}  // namespace engine
