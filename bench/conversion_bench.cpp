// Whole conversions: path2ini as a process over path tables of 1,000,
// 100,000 and 1,000,000 rows. Prints the median wall time and the peak
// memory of the process; asserts nothing.
//   conversion_bench [directory] [runs]
//   conversion_bench make TABLE ROWS     only makes a table (for profiling)
// Targets: 100,000 rows under 0.3 s, 1,000,000 under 3 s, time growing
// linearly; under 500 MB at 1,000,000 rows.

#include "bench/bulk_table.h"
#include "platform/cp1251.h"
#include "platform/text.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Measure {
    double seconds = 0;
    long peak_kb = 0;
    int status = -1;
};

// Runs the executable on the table with its output thrown away.
Measure run_process(const std::string& executable, const std::string& table) {
    std::fflush(stdout);
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        execl(executable.c_str(), executable.c_str(), table.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Measure m;
    m.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    m.peak_kb = usage.ru_maxrss;
    m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return m;
}

// Path tables as users keep them: a mix of relative, absolute, directory
// and empty paths, Cyrillic names.
void make_row(int i, std::vector<std::string>& v) {
    char id[32];
    std::snprintf(id, sizeof id, "ID%08d", i);
    v[0] = id;
    v[1] = cp1251("Таблица данных номер ") + std::to_string(i);
    switch (i % 4) {
    case 0: v[2] = "DATA\\PART" + std::to_string(i % 50) + "\\F" + std::to_string(i) + ".DAT"; break;
    case 1: v[2] = "..\\SHARED\\F" + std::to_string(i) + ".DAT"; break;
    case 2: v[2] = "D:\\ARCHIVE\\" + std::to_string(i % 100) + "\\"; break;
    default: v[2].clear(); break;
    }
}

engine::TableSpec definition(bool description, int rows) {
    engine::TableSpec s;
    s.fields = {{"MASTER_ID", 'A', 16}, {"MASTER_NAME", 'A', 60}, {"MASTER_FILE", 'A', 100}};
    if (description) s.fields.push_back({"DESCRIPTION", 'A', 255});
    s.key_fields = 1;
    s.password = "TRAX_OPR";
    s.block_size_kb = rows > 100000 ? 16 : 4;
    return s;
}

}  // namespace

int main(int argc, char* argv[]) {
    namespace fs = std::filesystem;
    if (argc == 4 && std::string(argv[1]) == "make") {
        const int rows = std::atoi(argv[3]);
        bench::bulk_table(platform::from_command_line(argv[2]), definition(true, rows), rows, make_row);
        return 0;
    }
    const fs::path self = fs::canonical("/proc/self/exe");
    const std::string executable = (self.parent_path().parent_path() / "path2ini").string();
    const fs::path dir = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "p2i-conversion-bench";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::printf("executable: %s, %d runs each\n", executable.c_str(), runs);

    for (int rows : {1000, 100000, 1000000}) {
        const std::string steady = (dir / ("T" + std::to_string(rows) + ".DB")).string();
        bench::bulk_table(steady, definition(true, rows), rows, make_row);
        std::vector<Measure> measures;
        for (int r = 0; r < runs; ++r) measures.push_back(run_process(executable, steady));
        std::sort(measures.begin(), measures.end(), [](auto& a, auto& b) { return a.seconds < b.seconds; });
        long peak = 0;
        for (auto& m : measures) peak = std::max(peak, m.peak_kb);
        const Measure& median = measures[measures.size() / 2];
        std::printf("%8d rows: median %.3f s (min %.3f, max %.3f), %.1f us/row, peak %.1f MB, exit %d\n", rows,
                    median.seconds, measures.front().seconds, measures.back().seconds, median.seconds * 1e6 / rows,
                    peak / 1024.0, median.status);

        // The first run over a table without DESCRIPTION also upgrades it.
        const std::string old = (dir / ("U" + std::to_string(rows) + ".DB")).string();
        bench::bulk_table(old, definition(false, rows), rows, make_row);
        const Measure upgrade = run_process(executable, old);
        std::printf("%8d rows, first run with the upgrade: %.3f s, peak %.1f MB, exit %d\n", rows, upgrade.seconds,
                    upgrade.peak_kb / 1024.0, upgrade.status);
        std::fflush(stdout);
        fs::remove(steady);
        fs::remove(old);
    }
    fs::remove_all(dir);
    return 0;
}
