#include "engine/table_guard.h"

#include "engine/format.h"
#include "engine/replace.h"
#include "engine/table_file.h"
#include "platform/exception.h"
#include "platform/file_system.h"

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

}  // namespace

void check_table_changeable(const std::string& table_path, const TableHeader& header) {
    auto& fs = platform::file_system();
    const std::string lock = companion_path(table_path, "LCK");
    if (fs.kind(lock) != platform::FileKind::missing)
        throw Exception("Table " + table_path + " is in use by another program (" + lock +
                        " exists)");
    if (header.bytes.size() > offset::kWriteProtected && header.bytes[offset::kWriteProtected] != 0)
        throw Exception("Table " + table_path + " is write-protected");

    const std::string directory = directory_of(table_path);
    std::string stem = table_path.substr(directory.size());
    const std::size_t dot = stem.rfind('.');
    if (dot != std::string::npos) stem.resize(dot);
    stem = upper_ascii(stem);
    for (const std::string& name : fs.list_directory(directory.empty() ? "." : directory)) {
        const std::size_t name_dot = name.rfind('.');
        if (name_dot == std::string::npos || upper_ascii(name.substr(0, name_dot)) != stem) continue;
        if (is_secondary_index_extension(upper_ascii(name.substr(name_dot + 1))))
            throw Exception("Table " + table_path + " has secondary indexes (" + name +
                            "), which this program cannot keep up to date");
    }
}

}  // namespace engine
