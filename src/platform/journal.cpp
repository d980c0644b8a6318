// The rollback journal, in the manner of SQLite's.
//
// A change of files F1..Fn in one folder, owned by O (a table's T.DB, with
// T.PX; an INI file alone):
//
//   1. The writer holds the lock that keeps other writers and readers of O
//      out (a table's exclusive lock, an INI file's update lock).
//   2. It creates the journal "O.~<tag>.p2i-journal", the tag its own
//      (process, counter, clock), locked exclusively for as long as it
//      exists, and writes into it, for every part of every Fi that the change
//      will overwrite or cut off, a record: Fi's name relative to the folder,
//      Fi's size (or that it does not exist), the part's offset, length and
//      bytes, and a checksum of the record. A file that the change creates
//      is recorded as missing.
//   3. It appends the trailer (the number of records and a checksum over
//      their checksums) and flushes the journal, then the folder, so that
//      both the journal's content and its name are on disk. From now on the
//      old content is safe.
//   4. It writes the new content in place, cuts every file to its new size
//      and flushes every file (and the folder when it created a file).
//   5. It removes the journal and flushes the folder: the commit.
//
// Rolling back (the writer itself after a failure in 4 or 5, or whoever
// next opens O after a crash): the bytes of every record go back to their
// place, every file is cut to its saved size, files saved as missing are
// removed, every file is flushed, then the journal is removed and the
// folder flushed. Putting bytes back is idempotent: a crash while rolling
// back is rolled back again.
//
// Crash cases:
//   - before 3 is complete: nothing of the files has changed. The journal
//     is missing, empty, torn or without its trailer (a record whose
//     checksum fails counts as torn): incomplete. It is never played back;
//     the next writer of O removes it (it holds O's lock, so the journal's
//     writer is gone).
//   - during 4: the files may hold any mix of old and new parts, since a
//     crash loses unflushed writes in any order; the journal is complete, so
//     the next open of O rolls the change back: exactly the old content.
//   - during 5, before the removal is on disk: the files are new and
//     flushed; if the journal survives, the change is rolled back: exactly
//     the old content. A change is final once commit() has returned.
//
// A journal is played back only when no one holds its lock (its writer is
// gone), normally by someone who holds O's lock, so a run never rolls back
// or removes another live run's journal. Names in a journal must be plain
// file names (no separators, no "." or ".."); a journal naming anything else
// is damaged and left alone: nothing outside the folder is ever touched.

#include "platform/journal.h"

#include "platform/exception.h"
#include "platform/path_parts.h"
#include "platform/system.h"
#include "platform/text.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace platform {

const char* const kJournalSuffix = ".p2i-journal";

namespace {

constexpr char kMagic[] = "P2IJRNL1";
constexpr std::size_t kMagicSize = 8;
constexpr std::uint32_t kRecordTag = 0x31434552u;   // "REC1"
constexpr std::uint32_t kTrailerTag = 0x31444E45u;  // "END1"
constexpr std::uint64_t kMissing = ~std::uint64_t{0};
constexpr std::size_t kChunk = 64 * 1024;
// tag, name length, size, offset, length
constexpr std::size_t kRecordHead = 4 + 2 + 8 + 8 + 8;

// CRC-32 (the polynomial of zlib and PNG), eight bytes a step ("slicing by
// eight": each of the eight tables gives a byte's share shifted through one
// more byte). The value is the same as byte by byte.
std::uint32_t crc32(const void* data, std::size_t n, std::uint32_t crc = 0) {
    using Tables = std::array<std::array<std::uint32_t, 256>, 8>;
    static const Tables tables = [] {
        Tables t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (std::size_t s = 1; s < 8; ++s)
            for (std::uint32_t i = 0; i < 256; ++i) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
        return t;
    }();
    crc = ~crc;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (; n >= 8; n -= 8, bytes += 8) {
        const std::uint32_t low = crc ^ (static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
                                         static_cast<std::uint32_t>(bytes[2]) << 16 |
                                         static_cast<std::uint32_t>(bytes[3]) << 24);
        crc = tables[7][low & 0xFF] ^ tables[6][(low >> 8) & 0xFF] ^ tables[5][(low >> 16) & 0xFF] ^
              tables[4][low >> 24] ^ tables[3][bytes[4]] ^ tables[2][bytes[5]] ^ tables[1][bytes[6]] ^
              tables[0][bytes[7]];
    }
    for (; n > 0; --n, ++bytes) crc = tables[0][(crc ^ *bytes) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void put(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint64_t get(const unsigned char* in, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | in[i];
    return value;
}

bool plain_name(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.size() > 0xFFFF) return false;
    // "/" separates on Windows too; "\\" and ":" only where they are not the
    // second byte of a double-byte character.
    return name.find_first_of(std::string("/\0", 2)) == std::string::npos && file_name_start(name) == 0;
}

std::string folder_or_dot(const std::string& folder) { return folder.empty() ? std::string(".") : folder; }

struct Record {
    std::string name;
    std::uint64_t size = 0;    // the file's size before the change, kMissing: it did not exist
    std::uint64_t offset = 0;  // where the bytes go back
    std::uint64_t length = 0;
    std::uint64_t at = 0;      // where the bytes lie in the journal
};

enum class Parsed { complete, incomplete, damaged };

std::size_t read_fully(File& file, std::uint64_t offset, void* buffer, std::size_t n) {
    return file.read_at(offset, buffer, n);
}

// Reads and checks the journal's records.
Parsed parse(File& journal, std::vector<Record>& records) {
    records.clear();
    const std::uint64_t size = journal.size();
    char magic[kMagicSize];
    if (read_fully(journal, 0, magic, kMagicSize) != kMagicSize || std::memcmp(magic, kMagic, kMagicSize) != 0)
        return Parsed::incomplete;
    std::uint64_t at = kMagicSize;
    std::uint32_t chain = 0;
    std::vector<unsigned char> buffer;
    while (true) {
        unsigned char head[kRecordHead];
        if (read_fully(journal, at, head, 4) != 4) return Parsed::incomplete;
        const auto tag = static_cast<std::uint32_t>(get(head, 4));
        if (tag == kTrailerTag) {
            unsigned char trailer[8];
            if (read_fully(journal, at + 4, trailer, 8) != 8) return Parsed::incomplete;
            if (get(trailer, 4) != records.size() || get(trailer + 4, 4) != chain || at + 12 != size)
                return Parsed::incomplete;
            break;
        }
        if (tag != kRecordTag || read_fully(journal, at, head, kRecordHead) != kRecordHead) return Parsed::incomplete;
        Record r;
        const auto name_length = static_cast<std::size_t>(get(head + 4, 2));
        r.size = get(head + 6, 8);
        r.offset = get(head + 14, 8);
        r.length = get(head + 22, 8);
        if (r.length > size || at + kRecordHead + name_length + r.length + 4 > size) return Parsed::incomplete;
        // The record's checksum covers its head, name and bytes.
        std::uint32_t crc = crc32(head, kRecordHead);
        r.name.resize(name_length);
        if (read_fully(journal, at + kRecordHead, r.name.data(), name_length) != name_length)
            return Parsed::incomplete;
        crc = crc32(r.name.data(), name_length, crc);
        r.at = at + kRecordHead + name_length;
        buffer.resize(kChunk);
        for (std::uint64_t done = 0; done < r.length;) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, r.length - done));
            if (read_fully(journal, r.at + done, buffer.data(), n) != n) return Parsed::incomplete;
            crc = crc32(buffer.data(), n, crc);
            done += n;
        }
        unsigned char stored[4];
        if (read_fully(journal, r.at + r.length, stored, 4) != 4 || get(stored, 4) != crc) return Parsed::incomplete;
        chain = crc32(stored, 4, chain);
        at = r.at + r.length + 4;
        records.push_back(std::move(r));
    }
    for (const Record& r : records)
        if (!plain_name(r.name)) return Parsed::damaged;
    return Parsed::complete;
}

// Puts the saved content back into the files and flushes them.
void play_back(File& journal, const std::vector<Record>& records, JournalFiles& files, const std::string& folder) {
    std::vector<std::pair<std::string, std::uint64_t>> sizes;  // first-seen order
    std::vector<std::string> whole;  // files saved from their first byte to their end
    for (const Record& r : records) {
        const auto known = std::find_if(sizes.begin(), sizes.end(), [&](const auto& s) { return s.first == r.name; });
        if (known == sizes.end()) sizes.emplace_back(r.name, r.size);
        if (r.size != kMissing && r.offset == 0 && r.length == r.size) whole.push_back(r.name);
    }
    bool created = false;
    std::vector<char> buffer(kChunk);
    for (const Record& r : records) {
        if (r.size == kMissing || r.length == 0) continue;
        File* file = files.find(r.name);
        if (file == nullptr) {
            // Someone removed the file since; only a whole copy brings it back.
            if (std::find(whole.begin(), whole.end(), r.name) == whole.end()) continue;
            file = &files.create(r.name);
            created = true;
        }
        for (std::uint64_t done = 0; done < r.length;) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, r.length - done));
            if (journal.read_at(r.at + done, buffer.data(), n) != n)
                throw Exception("Cannot read the journal of \"" + folder + r.name + "\"", ErrorKind::damaged);
            file->write_at(r.offset + done, buffer.data(), n);
            done += n;
        }
    }
    bool removed = false;
    for (const auto& [name, size] : sizes) {
        File* file = files.find(name);
        if (size == kMissing) {
            if (file != nullptr) {
                files.remove(name);
                removed = true;
            }
            continue;
        }
        if (file == nullptr) continue;
        if (file->size() != size) file->truncate(size);
        file->sync();
    }
    if (created || removed) file_system().sync_directory(folder_or_dot(folder));
}

}  // namespace

Journal::Journal(std::string folder, std::string owner, JournalFiles& files)
    : folder_(std::move(folder)), owner_(std::move(owner)), files_(files),
      path_(run_temporary_path(folder_ + owner_, kJournalSuffix)) {}

Journal::~Journal() {
    if (!done_) roll_back();
}

void Journal::append(const std::string& bytes) {
    journal_->write_at(written_, bytes.data(), bytes.size());
    written_ += bytes.size();
}

void Journal::save(const std::string& name, std::uint64_t offset, std::uint64_t length) {
    if (begun_) throw Exception("The journal of \"" + folder_ + owner_ + "\" has begun; nothing more can be saved");
    if (!journal_) {
        journal_ = file_system().open(path_, OpenMode::create_new, Lock::exclusive);
        append(std::string(kMagic, kMagicSize));
    }
    auto record = [&](std::uint64_t size, std::uint64_t at, const char* bytes, std::size_t n) {
        std::string out;
        out.reserve(kRecordHead + name.size() + n + 4);
        put(out, kRecordTag, 4);
        put(out, name.size(), 2);
        put(out, size, 8);
        put(out, at, 8);
        put(out, n, 8);
        out.append(name);
        out.append(bytes, n);
        const std::uint32_t crc = crc32(out.data(), out.size());
        put(out, crc, 4);
        unsigned char stored[4];
        std::memcpy(stored, out.data() + out.size() - 4, 4);
        chain_ = crc32(stored, 4, chain_);
        ++records_;
        append(out);
    };
    if (!plain_name(name)) throw Exception("\"" + name + "\" is not a file name of the folder " + folder_);
    auto known = std::find_if(sizes_.begin(), sizes_.end(), [&](const auto& s) { return s.first == name; });
    File* file = files_.find(name);
    if (known == sizes_.end()) {
        const std::uint64_t size = file != nullptr ? file->size() : kMissing;
        sizes_.emplace_back(name, size);
        known = sizes_.end() - 1;
        record(size, 0, nullptr, 0);  // the file's size (or absence), even when nothing of it is saved
    }
    const std::uint64_t size = known->second;
    if (size == kMissing || file == nullptr || offset >= size) return;
    const std::uint64_t end = std::min(size, length > size - offset ? size : offset + length);
    std::vector<char> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, end - offset)));
    for (std::uint64_t at = offset; at < end;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), end - at));
        if (file->read_at(at, buffer.data(), n) != n)
            throw Exception("Cannot read \"" + folder_ + name + "\": it ends before its size", ErrorKind::damaged);
        record(size, at, buffer.data(), n);
        at += n;
    }
}

void Journal::save_file(const std::string& name) { save(name, 0, kMissing); }

void Journal::begin() {
    if (!journal_) {
        journal_ = file_system().open(path_, OpenMode::create_new, Lock::exclusive);
        append(std::string(kMagic, kMagicSize));
    }
    std::string trailer;
    put(trailer, kTrailerTag, 4);
    put(trailer, records_, 4);
    put(trailer, chain_, 4);
    append(trailer);
    journal_->sync();
    file_system().sync_directory(folder_or_dot(folder_));
    begun_ = true;
}

void Journal::commit() {
    if (!begun_) throw Exception("The journal of \"" + folder_ + owner_ + "\" was never begun");
    // Closed before it is removed (Windows removes no file that is open
    // without sharing); the owner's lock keeps everyone else away meanwhile.
    journal_.reset();
    try {
        file_system().remove(path_);
    } catch (const Exception&) {
        // The files are new, but the journal would roll them back later:
        // roll them back now, so that the failure tells the truth.
        roll_back();
        done_ = true;
        throw;
    }
    done_ = true;
    file_system().sync_directory(folder_or_dot(folder_));
}

void Journal::roll_back() noexcept {
    try {
        if (!begun_) {
            // Nothing has been written in place: the journal only goes.
            if (journal_) {
                journal_.reset();
                file_system().remove(path_);
            }
            return;
        }
        if (!journal_) journal_ = file_system().open(path_, OpenMode::read_write, Lock::exclusive);
        std::vector<Record> records;
        if (parse(*journal_, records) != Parsed::complete) {
            journal_.reset();
            return;
        }
        play_back(*journal_, records, files_, folder_);
        journal_.reset();
        file_system().remove(path_);
        file_system().sync_directory(folder_or_dot(folder_));
    } catch (...) {
        // The journal stays, complete: whoever opens the owner next puts the
        // old content back.
        journal_.reset();
    }
}

std::vector<std::string> journals_of(const std::string& folder, const std::string& owner) {
    std::vector<std::string> found;
    std::vector<std::string> names;
    try {
        names = file_system().list_directory(folder_or_dot(folder));
    } catch (const Exception&) {
        return found;
    }
    // "O.~x" is not O, and "O.~x.~tag..." not its journal.
    for (const std::string& name : names)
        if (is_run_temporary(folder + owner, kJournalSuffix, name)) found.push_back(name);
    return found;
}

std::size_t roll_back_journals(const std::string& folder, const std::string& owner, JournalFiles& files,
                               bool owner_locked) {
    FileSystem& fs = file_system();
    std::size_t rolled_back = 0;
    bool removed = false;
    for (const std::string& name : journals_of(folder, owner)) {
        const std::string path = folder + name;
        std::unique_ptr<File> journal;
        try {
            journal = fs.open(path, OpenMode::read_write, Lock::exclusive);
        } catch (const Exception& e) {
            // Held by its live writer, or gone meanwhile.
            if (e.Kind() == ErrorKind::in_use || e.Kind() == ErrorKind::not_found) continue;
            throw;
        }
        std::vector<Record> records;
        const Parsed parsed = parse(*journal, records);
        if (parsed == Parsed::damaged) continue;
        if (parsed == Parsed::incomplete && !owner_locked) continue;
        if (parsed == Parsed::complete) {
            play_back(*journal, records, files, folder);
            ++rolled_back;
        }
        journal.reset();
        fs.remove(path);
        removed = true;
    }
    if (removed) fs.sync_directory(folder_or_dot(folder));
    return rolled_back;
}

}  // namespace platform
