// The replacement protocol. The table's files are T.DB and, for keyed
// tables, T.PX; the memo file is never replaced (blob pointers keep their
// place). For each file F:
//
//   1. Write the new content to "F.p2i-new", flush it, give it the
//      permissions of F.
//   2. Flush the directory. Until now nothing of the table has changed, and
//      a crash leaves only "*.p2i-new" files, which recovery removes.
//   3. Write the commit record "T.DB.p2i-commit" naming every F, ending in
//      the line "end"; flush it and the directory. From the moment it is
//      complete on disk, the new files are complete too (step 1), and
//      recovery finishes the replacement instead of undoing it.
//   4. Rename every "F.p2i-new" over F (the .DB first: it alone holds the
//      rows), flush the directory.
//   5. Remove the commit record, flush the directory.
//
// Recovery (before every open and change): with a complete commit record,
// rename each "F.p2i-new" that still exists over F, then remove the record;
// with none (or a torn one), remove the record and every "F.p2i-new". The
// renames are atomic, so F is always a complete old or new file; the names
// of the leftovers never match a table's file, so they cannot shadow it.
// Where F's name is too long for a suffix, platform::temporary_path cuts it
// and adds a hash of the whole name; the result is the same on every run.

#include "engine/replace.h"

#include "engine/format.h"
#include "engine/table_file.h"
#include "platform/exception.h"
#include "platform/file_system.h"

#include <sstream>

namespace engine {
namespace {

const char* const kNewSuffix = ".p2i-new";
const char* const kCommitSuffix = ".p2i-commit";

// "F.p2i-new", or a shorter name when F's is too long for the suffix.
std::string new_path(const std::string& target) { return platform::temporary_path(target, kNewSuffix); }
std::string commit_path(const std::string& table_path) {
    return platform::temporary_path(table_path, kCommitSuffix);
}

std::vector<std::string> read_commit_record(const std::string& path) {
    std::vector<std::string> targets;
    std::string content;
    try {
        content = platform::read_whole_file(path);
    } catch (const Exception&) {
        return {};
    }
    std::istringstream lines(content);
    std::string line;
    bool complete = false;
    while (std::getline(lines, line)) {
        if (line == "end") {
            complete = true;
            break;
        }
        targets.push_back(line);
    }
    return complete ? targets : std::vector<std::string>{};
}

void sync_directory_of(const std::string& path) {
    platform::file_system().sync_directory(directory_of(path).empty() ? "." : directory_of(path));
}

}  // namespace

std::string directory_of(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

void replace_table_files(const std::string& table_path, const std::vector<NewFile>& files) {
    auto& fs = platform::file_system();
    const std::string commit = commit_path(table_path);
    for (const NewFile& f : files) {
        const std::string temporary = new_path(f.target);
        fs.remove(temporary);
        {
            auto out = fs.open(temporary, platform::OpenMode::create_new);
            out->write_at(0, f.bytes.data(), f.bytes.size());
            out->sync();
        }
        if (fs.kind(f.target) == platform::FileKind::file) fs.copy_permissions(f.target, temporary);
    }
    sync_directory_of(table_path);

    std::string record;
    for (const NewFile& f : files) record += f.target + "\n";
    record += "end\n";
    {
        fs.remove(commit);
        auto out = fs.open(commit, platform::OpenMode::create_new);
        out->write_at(0, record.data(), record.size());
        out->sync();
    }
    sync_directory_of(table_path);

    for (const NewFile& f : files) fs.rename(new_path(f.target), f.target);
    sync_directory_of(table_path);
    fs.remove(commit);
    sync_directory_of(table_path);
}

void recover_table_files(const std::string& table_path) {
    auto& fs = platform::file_system();
    const std::string commit = commit_path(table_path);
    if (fs.kind(commit) == platform::FileKind::file) {
        const std::vector<std::string> targets = read_commit_record(commit);
        for (const std::string& target : targets)
            if (fs.kind(new_path(target)) == platform::FileKind::file) fs.rename(new_path(target), target);
        if (!targets.empty()) sync_directory_of(table_path);
        fs.remove(commit);
        sync_directory_of(table_path);
    }
    // Leftovers of a replacement that never committed.
    for (const std::string& target : {table_path, companion_path(table_path, "PX")})
        if (fs.kind(new_path(target)) != platform::FileKind::missing) fs.remove(new_path(target));
}

}  // namespace engine
