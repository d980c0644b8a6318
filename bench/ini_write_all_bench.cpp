// WriteAll and ReadAll of the INI store over n entries, on a real file in a
// fresh temporary directory. Prints seconds per run; no assertions.
//
//   ini_write_all_bench [n ...]     (default: 1000 10000 100000)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "model/dat_file_desc.h"
#include "model/path_text.h"
#include "stores/ini_store.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Half the entries carry their path text, half are written relative to the
// INI file's directory, as after reading a table.
void fill(TDatFileDescList& list, int count, const std::string& directory) {
    const std::string upper = UpperCase(directory);
    for (int i = 0; i < count; ++i) {
        TDatFileDesc& entry = list.Add();
        entry.Id = "ID" + std::to_string(i);
        entry.Name = "Display name of entry " + std::to_string(i);
        entry.FileName = "F" + std::to_string(i) + ".DAT";
        if (i % 2 == 0) {
            entry.RawPath = "..\\DATA\\" + ToString(entry.FileName);
        } else {
            entry.FileDir = upper + "LIB/SUB" + std::to_string(i % 10) + "/";
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
    if (counts.empty()) counts = {1000, 10000, 100000};

    const auto root = std::filesystem::temp_directory_path() /
                      ("p2i-bench-" + std::to_string(Clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(root);
    const auto previous = std::filesystem::current_path();

    std::printf("%10s %8s %14s %14s %12s %10s\n", "entries", "keys", "WriteAll new", "WriteAll over",
                "ReadAll", "file KiB");
    for (const int count : counts) {
        const std::string directory = root.string() + "/";
        const std::string ini = directory + "BENCH" + std::to_string(count) + ".INI";
        TDatFileDescList list;
        fill(list, count, directory);
        TDatFileStorageIni store;

        auto start = Clock::now();
        store.WriteAll(ini, list);
        const double fresh = seconds_since(start);

        start = Clock::now();
        store.WriteAll(ini, list);
        const double over = seconds_since(start);

        TDatFileDescList read;
        start = Clock::now();
        store.ReadAll(ini, read);
        const double reading = seconds_since(start);

        const auto size = std::filesystem::file_size(ini);
        std::printf("%10d %8d %12.4f s %12.4f s %10.4f s %10.1f\n", count, 2 * count, fresh, over,
                    reading, static_cast<double>(size) / 1024.0);
        if (read.Count() != count) std::printf("  (read back %d entries)\n", read.Count());
    }

    std::filesystem::current_path(previous);
    std::filesystem::remove_all(root);
    return 0;
}
