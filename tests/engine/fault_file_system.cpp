#include "engine/fault_file_system.h"

#include "platform/exception.h"

namespace engine_test {
namespace {

class FaultFile : public platform::File {
public:
    FaultFile(FaultFileSystem& fs, std::string path, std::unique_ptr<platform::File> inner)
        : fs_(fs), path_(std::move(path)), inner_(std::move(inner)) {}

    std::size_t read_at(std::uint64_t offset, void* buffer, std::size_t n) override {
        return inner_->read_at(offset, buffer, n);
    }
    void write_at(std::uint64_t offset, const void* data, std::size_t n) override {
        fs_.written(path_);
        fs_.step("write " + path_);
        inner_->write_at(offset, data, n);
    }
    std::uint64_t size() override { return inner_->size(); }
    void truncate(std::uint64_t size) override {
        fs_.written(path_);
        fs_.step("truncate " + path_);
        inner_->truncate(size);
    }
    void sync() override {
        fs_.step("sync " + path_);
        inner_->sync();
        fs_.synced(path_);
    }

private:
    FaultFileSystem& fs_;
    std::string path_;
    std::unique_ptr<platform::File> inner_;
};

std::optional<std::string> current_content(platform::FileSystem& os, const std::string& path) {
    if (os.kind(path) != platform::FileKind::file) return std::nullopt;
    auto file = os.open(path, platform::OpenMode::read);
    std::string bytes(static_cast<std::size_t>(file->size()), '\0');
    bytes.resize(file->read_at(0, bytes.data(), bytes.size()));
    return bytes;
}

}  // namespace

FaultFileSystem::FaultFileSystem() : os_(platform::os_file_system()) {}

void FaultFileSystem::fail_at(int n, bool crash) {
    fail_at_ = n;
    crash_ = crash;
    failed_ = false;
    operations_ = 0;
    durable_.clear();
}

void FaultFileSystem::step(const std::string& what) {
    if (failed_ && crash_) throw Exception("simulated crash: " + what);
    ++operations_;
    if (fail_at_ != 0 && operations_ >= fail_at_) {
        failed_ = true;
        throw Exception("simulated I/O error at operation " + std::to_string(operations_) + ": " + what);
    }
}

void FaultFileSystem::written(const std::string& path) {
    if (!durable_.count(path)) durable_[path] = current_content(os_, path);
}

void FaultFileSystem::synced(const std::string& path) { durable_.erase(path); }

void FaultFileSystem::crash_recover() {
    for (const auto& [path, content] : durable_) {
        if (!content) {
            if (os_.kind(path) == platform::FileKind::file) os_.remove(path);
            continue;
        }
        auto file = os_.open(path, platform::OpenMode::create);
        file->write_at(0, content->data(), content->size());
    }
    durable_.clear();
    fail_at_ = 0;
    failed_ = false;
}

std::unique_ptr<platform::File> FaultFileSystem::open(const std::string& path,
                                                      platform::OpenMode mode) {
    if (mode != platform::OpenMode::read) {
        if (mode == platform::OpenMode::create || mode == platform::OpenMode::create_new ||
            os_.kind(path) != platform::FileKind::file)
            written(path);
        step("open " + path);
    }
    return std::make_unique<FaultFile>(*this, path, os_.open(path, mode));
}

platform::FileKind FaultFileSystem::kind(const std::string& path) { return os_.kind(path); }

void FaultFileSystem::rename(const std::string& from, const std::string& to) {
    step("rename " + from);
    // A rename moves the durable state of the source along with it.
    const auto source = durable_.find(from);
    if (source != durable_.end()) {
        durable_[to] = source->second;
        durable_.erase(source);
    } else {
        durable_.erase(to);
    }
    os_.rename(from, to);
}

void FaultFileSystem::remove(const std::string& path) {
    step("remove " + path);
    durable_.erase(path);
    os_.remove(path);
}

void FaultFileSystem::sync_directory(const std::string& directory) {
    step("sync directory " + directory);
    os_.sync_directory(directory);
}

std::vector<std::string> FaultFileSystem::list_directory(const std::string& directory) {
    return os_.list_directory(directory);
}

void FaultFileSystem::copy_permissions(const std::string& from, const std::string& to) {
    step("copy permissions " + to);
    os_.copy_permissions(from, to);
}

}  // namespace engine_test
