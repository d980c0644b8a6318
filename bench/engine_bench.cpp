// Table engine benchmarks: prints timings, asserts nothing.
//   engine_bench [directory]
// 1. Reading 1,000,000 rows through a table dataset (target: well under 3 s,
//    under 500 MB).
// 2. Adding a column to a 100,000-row table (target: under 0.5 s).
// 3. Posting 10,000 rows into an empty keyed table, each post durable
//    (target: under 1 s); also with flushes turned off, to show the engine's
//    own cost apart from the disk's.

#include "bench/bulk_table.h"
#include "engine/engine.h"
#include "platform/file_system.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

long max_rss_mb() {
#if defined(_WIN32)
    return -1;  // not measured here
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
#endif
}

engine::TableSpec path_table(bool keyed, const std::string& password) {
    engine::TableSpec definition;
    definition.fields = {{"MASTER_ID", 'A', 20}, {"MASTER_NAME", 'A', 60}, {"MASTER_FILE", 'A', 120}};
    definition.key_fields = keyed ? 1 : 0;
    definition.password = password;
    return definition;
}

// Fills a new table with `rows` rows in key order, block by block.
void bulk_table(const std::string& path, bool keyed, const std::string& password, int rows,
                int block_kb) {
    engine::TableSpec definition = path_table(keyed, password);
    definition.block_size_kb = block_kb;  // 1,000,000 rows of 200 bytes need 4 KB blocks (65535 at most)
    bench::bulk_table(path, definition, rows, [](int i, std::vector<std::string>& values) {
        char text[32];
        std::snprintf(text, sizeof text, "ID%09d", i);
        values[0] = text;
        values[1] = "Name of row " + std::to_string(i);
        values[2] = "C:\\DATA\\FILES\\" + std::to_string(i) + ".DAT";
    });
}

// A file system that forwards everything but makes flushes free, to show
// how much of a post's time is the disk's.
class NoSyncFileSystem : public platform::FileSystemWrapper {
    class NoSyncFile : public platform::File {
    public:
        explicit NoSyncFile(std::unique_ptr<platform::File> inner) : inner_(std::move(inner)) {}
        std::size_t read_at(std::uint64_t o, void* b, std::size_t n) override { return inner_->read_at(o, b, n); }
        void write_at(std::uint64_t o, const void* d, std::size_t n) override { inner_->write_at(o, d, n); }
        std::uint64_t size() override { return inner_->size(); }
        void truncate(std::uint64_t s) override { inner_->truncate(s); }
        void sync() override {}

    private:
        std::unique_ptr<platform::File> inner_;
    };

public:
    using platform::FileSystemWrapper::open;
    std::unique_ptr<platform::File> open(const std::string& p, platform::OpenMode m, platform::Lock l) override {
        return std::make_unique<NoSyncFile>(target().open(p, m, l));
    }
    std::unique_ptr<platform::File> create_like(const std::string& p, const platform::FileInfo& like,
                                                platform::Lock l) override {
        return std::make_unique<NoSyncFile>(target().create_like(p, like, l));
    }
    void sync_directory(const std::string&) override {}
};

void bench_read(const std::string& dir) {
    const std::string path = dir + "/READ.DB";
    bulk_table(path, true, "TRAX_OPR", 1000000, 4);
    engine::Session::instance().add_password("TRAX_OPR");
    const auto start = Clock::now();
    engine::Table table;
    table.set_table_name(path);
    table.open();
    engine::Field& id = table.field_by_name("MASTER_ID");
    engine::Field& name = table.field_by_name("MASTER_NAME");
    engine::Field& file = table.field_by_name("MASTER_FILE");
    std::size_t rows = 0, bytes = 0;
    while (!table.eof()) {
        bytes += name.as_string().size() + file.as_string().size() + id.as_string().size();
        ++rows;
        table.next();
    }
    std::printf("read %zu rows (encrypted, 3 columns as text, %zu bytes): %.3f s, max RSS %ld MB\n",
                rows, bytes, seconds_since(start), max_rss_mb());
    engine::Session::instance().remove_password("TRAX_OPR");
}

void bench_restructure(const std::string& dir) {
    const std::string path = dir + "/ALTER.DB";
    bulk_table(path, true, "", 100000, 2);
    const auto start = Clock::now();
    engine::Query query;
    query.add_sql_line("alter table '" + path + "' add DESCRIPTION CHAR(255)");
    query.exec_sql();
    std::printf("add a CHAR(255) column to 100000 keyed rows: %.3f s\n", seconds_since(start));
}

void bench_posts(const std::string& dir, bool durable) {
    const std::string path = dir + (durable ? "/POSTS.DB" : "/POSTS_NOSYNC.DB");
    engine::create_table(path, path_table(true, ""));
    NoSyncFileSystem no_sync;
    std::unique_ptr<platform::ScopedFileSystem> installed;
    if (!durable) installed = std::make_unique<platform::ScopedFileSystem>(no_sync);
    const auto start = Clock::now();
    engine::Table table;
    table.set_table_name(path);
    table.open();
    for (int i = 0; i < 10000; ++i) {
        const std::string key = "K" + std::to_string((i * 7919) % 10007);
        if (table.locate("MASTER_ID", key, true, true))
            table.edit();
        else
            table.insert();
        table.field_by_name("MASTER_ID").set_as_string(key);
        table.field_by_name("MASTER_NAME").set_as_string("name " + std::to_string(i));
        table.field_by_name("MASTER_FILE").set_as_string("DATA\\" + std::to_string(i) + ".DAT");
        table.post();
    }
    std::printf("10000 posts (locate, insert, post) into an empty keyed table%s: %.3f s\n",
                durable ? ", each flushed" : ", flushes off", seconds_since(start));
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : std::filesystem::temp_directory_path().string() + "/p2i-engine-bench";
    std::filesystem::create_directories(dir);
    bench_read(dir);
    bench_restructure(dir);
    bench_posts(dir, true);
    bench_posts(dir, false);
    std::filesystem::remove_all(dir);
}
