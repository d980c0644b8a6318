#include "engine/table_guard.h"

#include "engine/bytes.h"
#include "engine/engine.h"
#include "engine/format.h"
#include "engine/replace.h"
#include "engine/table_file.h"
#include "platform/exception.h"
#include "platform/file_system.h"
#include "platform/path_parts.h"

namespace engine {
namespace {

bool is_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

std::string upper_ascii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return text;
}

// "X01", "Y0F", "XG0", "YG3"...
bool is_secondary_index_extension(const std::string& extension) {
    if (extension.size() != 3) return false;
    const char kind = extension[0];
    if (kind != 'X' && kind != 'Y') return false;
    if (extension[1] == 'G') return is_hex(extension[2]);
    return is_hex(extension[1]) && is_hex(extension[2]);
}

// PDOXUSRS.LCK, the lock file the Windows engine keeps in the folder of the
// tables it has in use. There is no public description of it; this is what
// the four such files left beside public tables show (they stay behind when
// a program ends abnormally):
//   0x000       "23 00 00 02", the text "a newer file format" at 0x0C, the
//               net directory at 0x6E
//   0x400 on    pages of 1 KB. A page that starts with FF FF is a list of
//               names: from its offset 6, entries of 20 bytes, each a u16
//               number, a u16 0, a u16 2 and a name of up to 14 bytes,
//               NUL-padded: the tables (file names without extension, short
//               names for long ones, e.g. "PAYMEN~1") and the folder's
//               "PARADOX" entry. Such lists may take several pages.
//   other pages each session's locks, which name tables by those numbers.
// A table counts as in use when a list names it. The lists also hold names
// that no lock refers to any more (seen: "DEL1" to "DEL6" beside locks of
// "DEL7" to "DEL9"), so this errs on the safe side; the locks themselves are
// not read, their layout being less certain. A table listed by its short
// name (one longer than 8.3) is not recognised.
constexpr std::size_t kLockPage = 0x400;
constexpr std::size_t kLockEntry = 20;
constexpr std::size_t kLockNameLength = 14;

bool lock_file_names(const std::string& lock_path, const std::string& stem, const std::string& table_path) {
    std::string bytes;
    try {
        bytes = platform::read_whole_file(lock_path);
    } catch (const Exception& e) {
        throw Exception("Table " + table_path + " may be in use by another program: " + lock_path +
                        " cannot be read (" + e.Message() + ")");
    }
    if (bytes.empty()) return false;
    if (bytes.compare(0, 4, std::string("\x23\x00\x00\x02", 4)) != 0)
        throw Exception("Table " + table_path + " may be in use by another program: " + lock_path +
                        " is not a lock file this program can read");
    for (std::size_t page = kLockPage; page + kLockPage <= bytes.size(); page += kLockPage) {
        if (static_cast<unsigned char>(bytes[page]) != 0xFF || static_cast<unsigned char>(bytes[page + 1]) != 0xFF)
            continue;
        for (std::size_t at = page + 6; at + kLockEntry <= page + kLockPage; at += kLockEntry) {
            const char* name = bytes.data() + at + 6;
            const std::string listed(name, bounded_length(name, kLockNameLength));
            if (!listed.empty() && upper_ascii(listed) == stem) return true;
        }
    }
    return false;
}

}  // namespace

void check_password(const std::string& table_path, const TableHeader& header) {
    if (header.encrypted() && !Session::instance().holds_checksum(header.checksum))
        throw Exception("Table " + table_path + " is encrypted and the session holds no valid password for it");
}

void check_may_change(const std::string& table_path, const TableHeader& header, const ChangeRequest& request) {
    if (request.read_only) throw Exception("Table " + table_path + " is open read-only");
    if (request.check_password) check_password(table_path, header);
    auto& fs = platform::file_system();
    const std::string lock = companion_path(table_path, "LCK");
    if (fs.kind(lock) != platform::FileKind::missing)
        throw Exception("Table " + table_path + " is in use by another program (" + lock +
                        " exists)");
    if (header.bytes.size() > offset::kWriteProtected && header.bytes[offset::kWriteProtected] != 0)
        throw Exception("Table " + table_path + " is write-protected");

    const std::string directory = platform::directory_part(table_path);
    std::string stem = table_path.substr(directory.size());
    const std::size_t dot = stem.rfind('.');
    if (dot != std::string::npos) stem.resize(dot);
    stem = upper_ascii(stem);
    for (const std::string& name : fs.list_directory(platform::directory_or_dot(table_path))) {
        if (upper_ascii(name) == "PDOXUSRS.LCK" && lock_file_names(directory + name, stem, table_path))
            throw Exception("Table " + table_path + " is in use by another program (" + directory + name +
                            " names it). If no program uses the folder, that file was left behind by one "
                            "that ended abnormally and may be deleted");
        const std::size_t name_dot = name.rfind('.');
        if (name_dot == std::string::npos || upper_ascii(name.substr(0, name_dot)) != stem) continue;
        if (is_secondary_index_extension(upper_ascii(name.substr(name_dot + 1))))
            throw Exception("Table " + table_path + " has secondary indexes (" + name +
                            "), which this program cannot keep up to date");
    }
}

}  // namespace engine
