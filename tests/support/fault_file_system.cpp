#include "support/fault_file_system.h"

#include "platform/exception.h"
#include "platform/path_parts.h"

#include <algorithm>

namespace testing_support {
namespace {

constexpr std::uint64_t kSector = 512;

class FaultFile : public platform::File {
public:
    FaultFile(FaultFileSystem& fs, std::string path, int node, std::unique_ptr<platform::File> inner)
        : fs_(fs), path_(std::move(path)), node_(node), inner_(std::move(inner)) {}

    std::size_t read_at(std::uint64_t offset, void* buffer, std::size_t n) override {
        fs_.read_step("read " + path_);
        return inner_->read_at(offset, buffer, n);
    }
    void write_at(std::uint64_t offset, const void* data, std::size_t n) override {
        fs_.step("write " + path_);
        const std::size_t fits = fs_.writable_bytes(n, path_);
        inner_->write_at(offset, data, fits);
        fs_.written(node_, offset, data, fits);
        if (fits < n)
            throw Exception("Cannot write file \"" + path_ + "\": No space left on device (simulated)",
                            ErrorKind::no_space, "No space left on device");
    }
    std::uint64_t size() override { return inner_->size(); }
    void truncate(std::uint64_t size) override {
        fs_.step("truncate " + path_);
        inner_->truncate(size);
        fs_.truncated(node_, size);
    }
    void sync() override {
        fs_.step("sync " + path_);
        inner_->sync();
        fs_.synced(node_);
    }

private:
    FaultFileSystem& fs_;
    std::string path_;
    int node_;
    std::unique_ptr<platform::File> inner_;
};

std::optional<std::string> os_content(platform::FileSystem& os, const std::string& path) {
    if (os.kind(path) != platform::FileKind::file) return std::nullopt;
    auto file = os.open(path, platform::OpenMode::read);
    std::string bytes(static_cast<std::size_t>(file->size()), '\0');
    bytes.resize(file->read_at(0, bytes.data(), bytes.size()));
    return bytes;
}

// Folders by one spelling: no trailing separator, "." for none.
std::string folder_key(std::string folder) {
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    return folder.empty() ? std::string(".") : folder;
}

void apply(std::string& content, std::uint64_t offset, const std::string& bytes) {
    const auto at = static_cast<std::size_t>(offset);
    if (content.size() < at + bytes.size()) content.resize(at + bytes.size(), '\0');
    content.replace(at, bytes.size(), bytes);
}

}  // namespace

FaultFileSystem::FaultFileSystem() : os_(platform::os_file_system()) {}

void FaultFileSystem::fail_at(int n, bool crash) {
    fail_at_ = n;
    crash_ = crash;
    failed_ = false;
    operations_ = 0;
    forget_losses();
}

void FaultFileSystem::forget_losses() {
    // Files stay what they are (handles opened before keep them), but take
    // the content the disk now holds, which the test may have set itself,
    // as durable.
    for (auto& [path, node] : names_) {
        const auto content = os_content(os_, path);
        if (!content) {
            node = -1;
            continue;
        }
        if (node < 0) node = new_node("");
        Node& file = nodes_[static_cast<std::size_t>(node)];
        file.durable = file.current = *content;
        file.pending.clear();
    }
    unsynced_.clear();
}

void FaultFileSystem::set_torn_writes(bool torn, unsigned seed) {
    torn_ = torn;
    random_.seed(seed);
}

void FaultFileSystem::fail_read_at(int n) {
    fail_read_at_ = n;
    reads_ = 0;
}

void FaultFileSystem::step(const std::string& what) {
    if (failed_ && crash_) throw Exception("simulated crash: " + what);
    ++operations_;
    if (fail_at_ != 0 && operations_ == fail_at_) {
        failed_ = true;
        throw Exception("simulated I/O error at operation " + std::to_string(operations_) + ": " + what);
    }
}

void FaultFileSystem::read_step(const std::string& what) {
    if (failed_ && crash_) throw Exception("simulated crash: " + what);
    ++reads_;
    if (fail_read_at_ != 0 && reads_ == fail_read_at_)
        throw Exception("simulated read error at read " + std::to_string(reads_) + ": " + what);
}

std::size_t FaultFileSystem::writable_bytes(std::size_t wanted, const std::string&) {
    if (!space_) return wanted;
    const auto fits = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, *space_));
    *space_ -= fits;
    return fits;
}

int FaultFileSystem::new_node(std::string content) {
    Node node;
    node.durable = content;
    node.current = std::move(content);
    nodes_.push_back(std::move(node));
    return static_cast<int>(nodes_.size()) - 1;
}

int FaultFileSystem::track(const std::string& path) {
    if (const auto it = names_.find(path); it != names_.end()) return it->second;
    const auto content = os_content(os_, path);
    const int node = content ? new_node(*content) : -1;
    names_[path] = node;
    return node;
}

void FaultFileSystem::changed_folder(const std::string& path, FolderChange change) {
    unsynced_[folder_key(platform::directory_part(path))].emplace_back(sequence_++, std::move(change));
}

void FaultFileSystem::written(int node, std::uint64_t offset, const void* data, std::size_t n) {
    if (node < 0 || n == 0) return;
    Node& file = nodes_[static_cast<std::size_t>(node)];
    Pending write;
    write.offset = offset;
    write.bytes.assign(static_cast<const char*>(data), n);
    apply(file.current, offset, write.bytes);
    file.pending.push_back(std::move(write));
}

void FaultFileSystem::truncated(int node, std::uint64_t size) {
    if (node < 0) return;
    Node& file = nodes_[static_cast<std::size_t>(node)];
    file.current.resize(static_cast<std::size_t>(size), '\0');
    Pending cut;
    cut.truncate = true;
    cut.offset = size;
    file.pending.push_back(std::move(cut));
}

void FaultFileSystem::synced(int node) {
    if (node < 0) return;
    Node& file = nodes_[static_cast<std::size_t>(node)];
    file.durable = file.current;
    file.pending.clear();
}

std::string FaultFileSystem::after_crash(const Node& node) {
    std::string content = node.durable;
    if (!torn_) return content;
    std::bernoulli_distribution keep(0.5);
    for (const Pending& p : node.pending) {
        if (p.truncate) {
            if (keep(random_)) content.resize(static_cast<std::size_t>(p.offset), '\0');
            continue;
        }
        // Sector by sector, each kept or lost on its own.
        std::uint64_t at = p.offset;
        const std::uint64_t end = p.offset + p.bytes.size();
        while (at < end) {
            const std::uint64_t piece_end = std::min(end, (at / kSector + 1) * kSector);
            if (keep(random_))
                apply(content, at, p.bytes.substr(static_cast<std::size_t>(at - p.offset),
                                                   static_cast<std::size_t>(piece_end - at)));
            at = piece_end;
        }
    }
    return content;
}

void FaultFileSystem::crash_recover() {
    // The names as the folders last made them durable: undo every change
    // made since, newest first.
    std::vector<std::pair<int, FolderChange>> changes;
    for (auto& [folder, list] : unsynced_) changes.insert(changes.end(), list.begin(), list.end());
    std::sort(changes.begin(), changes.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::map<std::string, int> names = names_;
    for (const auto& [sequence, change] : changes) {
        switch (change.type) {
            case FolderChange::create: names[change.path] = -1; break;
            case FolderChange::remove: names[change.path] = change.node; break;
            case FolderChange::rename:
                names[change.path] = change.node;
                names[change.to] = change.displaced;
                break;
        }
    }
    std::map<int, std::string> contents;
    for (const auto& [path, node] : names)
        if (node >= 0 && !contents.count(node)) contents[node] = after_crash(nodes_[static_cast<std::size_t>(node)]);
    for (const auto& [path, node] : names) {
        if (node < 0) {
            if (os_.kind(path) == platform::FileKind::file) os_.remove(path);
            continue;
        }
        const std::string& content = contents[node];
        auto file = os_.open(path, platform::OpenMode::create);
        file->write_at(0, content.data(), content.size());
    }
    names_ = names;
    forget_losses();
    fail_at_ = 0;
    failed_ = false;
}

std::unique_ptr<platform::File> FaultFileSystem::open(const std::string& path, platform::OpenMode mode,
                                                      platform::Lock lock) {
    if (mode == platform::OpenMode::read) {
        if (failed_ && crash_) throw Exception("simulated crash: open " + path);
        return std::make_unique<FaultFile>(*this, path, -1, os_.open(path, mode, lock));
    }
    step("open " + path);
    const int before = track(path);
    auto inner = os_.open(path, mode, lock);
    int node = before;
    if (node < 0) {
        node = new_node("");
        names_[path] = node;
        FolderChange created;
        created.path = path;
        created.node = node;
        changed_folder(path, created);
    } else if (mode == platform::OpenMode::create) {
        truncated(node, 0);
    }
    return std::make_unique<FaultFile>(*this, path, node, std::move(inner));
}

std::unique_ptr<platform::File> FaultFileSystem::create_like(const std::string& path, const platform::FileInfo& like,
                                                             platform::Lock lock) {
    step("create " + path);
    track(path);
    auto inner = os_.create_like(path, like, lock);
    const int node = new_node("");
    names_[path] = node;
    FolderChange created;
    created.path = path;
    created.node = node;
    changed_folder(path, created);
    return std::make_unique<FaultFile>(*this, path, node, std::move(inner));
}

platform::FileKind FaultFileSystem::kind(const std::string& path) { return os_.kind(path); }

platform::FileInfo FaultFileSystem::info(const std::string& path) { return os_.info(path); }

std::string FaultFileSystem::resolve_links(const std::string& path) { return os_.resolve_links(path); }

void FaultFileSystem::rename(const std::string& from, const std::string& to) {
    step("rename " + from);
    const int node = track(from);
    const int displaced = track(to);
    os_.rename(from, to);
    names_[to] = node;
    names_[from] = -1;
    FolderChange renamed;
    renamed.type = FolderChange::rename;
    renamed.path = from;
    renamed.to = to;
    renamed.node = node;
    renamed.displaced = displaced;
    changed_folder(to, renamed);
}

void FaultFileSystem::remove(const std::string& path) {
    step("remove " + path);
    const int node = track(path);
    os_.remove(path);
    if (node < 0) return;
    names_[path] = -1;
    FolderChange removed;
    removed.type = FolderChange::remove;
    removed.path = path;
    removed.node = node;
    changed_folder(path, removed);
}

void FaultFileSystem::sync_directory(const std::string& directory) {
    step("sync directory " + directory);
    os_.sync_directory(directory);
    unsynced_.erase(folder_key(directory));
}

std::vector<std::string> FaultFileSystem::list_directory(const std::string& directory) {
    return os_.list_directory(directory);
}

}  // namespace testing_support
