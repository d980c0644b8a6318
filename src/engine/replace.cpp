// Replacing the content of a table's files (.DB and companions) as one
// change, in place: the files keep their inode, owner, group, mode and
// links, and the path a symbolic link points to. The change runs under the
// table's exclusive lock (table_lock.h) and a rollback journal beside the
// table (platform/journal.cpp describes the protocol and its crash cases):
//
//   1. Every file is opened under the lock before anything is written, so
//      that a file that another program holds, or that may not be written,
//      refuses the change with nothing changed.
//   2. The journal saves the parts of each file that differ from its new
//      content (in blocks of 4 KiB) and the part past its new end, and
//      records the files that do not exist yet; it is flushed with its
//      folder.
//   3. The differing blocks are written, each file cut to its new length
//      and flushed; new files are created with the table's owner and mode.
//   4. The journal goes: the change is final.
//
// A failure in 3 or 4 puts the old content back at once; a crash leaves
// the journal, and whoever locks the table next puts it back. Nothing but
// the journal is ever created beside the table, and it is named for this
// run alone.

#include "engine/replace.h"

#include "engine/format.h"
#include "engine/table_file.h"
#include "engine/table_lock.h"
#include "platform/exception.h"
#include "platform/file_system.h"
#include "platform/journal.h"

#include <algorithm>
#include <cstring>

namespace engine {
namespace {

constexpr std::size_t kBlock = 4096;
constexpr std::size_t kRead = 64 * kBlock;  // the old content is read this much at a time

// The blocks of the file that the new content changes, as [offset, end).
std::vector<std::pair<std::uint64_t, std::uint64_t>> changed_blocks(platform::File& file,
                                                                    const std::vector<std::uint8_t>& bytes) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> blocks;
    const std::uint64_t old_size = file.size();
    std::vector<std::uint8_t> old(kRead);
    for (std::uint64_t start = 0; start < bytes.size(); start += kRead) {
        const auto span = static_cast<std::size_t>(std::min<std::uint64_t>(kRead, bytes.size() - start));
        const std::size_t got = start < old_size ? file.read_at(start, old.data(), span) : 0;
        for (std::size_t in = 0; in < span; in += kBlock) {
            const std::uint64_t at = start + in;
            const std::size_t n = std::min(kBlock, span - in);
            if (in + n <= got && std::memcmp(old.data() + in, bytes.data() + at, n) == 0) continue;
            if (!blocks.empty() && blocks.back().second == at)
                blocks.back().second = at + n;
            else
                blocks.emplace_back(at, at + n);
        }
    }
    return blocks;
}

}  // namespace

void replace_table_files(const std::string& table_path, const std::vector<NewFile>& files) {
    // The caller's lock when it holds one (it read the old content under it).
    const std::shared_ptr<TableLock> lock = TableLock::acquire(table_path, TableLock::Access::change);
    std::vector<platform::File*> open;
    for (const NewFile& f : files) open.push_back(lock->file(f.target));

    std::vector<std::vector<std::pair<std::uint64_t, std::uint64_t>>> blocks(files.size());
    platform::Journal journal(lock->folder(), lock->name(), *lock);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string name = TableLock::name_of(files[i].target);
        if (open[i] == nullptr) {
            journal.save(name, 0, 0);  // recorded as missing: a roll-back removes it
            blocks[i].emplace_back(0, files[i].bytes.size());
            continue;
        }
        blocks[i] = changed_blocks(*open[i], files[i].bytes);
        for (const auto& [begin, end] : blocks[i]) journal.save(name, begin, end - begin);
        const std::uint64_t old_size = open[i]->size();
        if (old_size > files[i].bytes.size()) journal.save(name, files[i].bytes.size(), old_size - files[i].bytes.size());
    }
    journal.begin();

    bool created = false;
    for (std::size_t i = 0; i < files.size(); ++i) {
        platform::File* out = open[i];
        if (out == nullptr) {
            out = &lock->create_file(files[i].target);
            created = true;
        }
        for (const auto& [begin, end] : blocks[i])
            out->write_at(begin, files[i].bytes.data() + begin, static_cast<std::size_t>(end - begin));
        if (out->size() != files[i].bytes.size()) out->truncate(files[i].bytes.size());
        out->sync();
    }
    if (created) platform::file_system().sync_directory(lock->folder().empty() ? "." : lock->folder());
    journal.commit();
}

void recover_table_files(const std::string& table_path) {
    if (platform::file_system().kind(table_path) != platform::FileKind::file) return;
    TableLock::acquire(table_path, TableLock::Access::change);
}

}  // namespace engine
