#include "engine/test_tables.h"

#include "platform/file_system.h"
#include "platform/text.h"

#include <algorithm>

namespace engine_test {

std::string ansi(const std::string& utf8) { return platform::from_command_line(utf8); }

std::vector<std::vector<std::string>> read_all(const std::string& path) {
    engine::Table table;
    table.set_table_name(path);
    table.open();
    std::vector<std::vector<std::string>> rows;
    while (!table.eof()) {
        std::vector<std::string> row;
        for (int i = 0; i < table.field_count(); ++i) row.push_back(table.field(i).as_string());
        rows.push_back(row);
        table.next();
    }
    return rows;
}

engine::TableHeader read_table_header(const std::string& path) {
    auto file = platform::file_system().open(path, platform::OpenMode::read);
    const std::uint64_t size = file->size();
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min<std::uint64_t>(size, 0x10000)));
    bytes.resize(file->read_at(0, bytes.data(), bytes.size()));
    return engine::parse_table_header(path, bytes, size);
}

std::string file_bytes(const std::string& path) {
    if (platform::os_file_system().kind(path) != platform::FileKind::file) return {};
    auto file = platform::os_file_system().open(path, platform::OpenMode::read);
    std::string bytes(static_cast<std::size_t>(file->size()), '\0');
    bytes.resize(file->read_at(0, bytes.data(), bytes.size()));
    return bytes;
}

engine::TableSpec path_table_spec(bool keyed, const std::string& password) {
    engine::TableSpec definition;
    definition.fields = {{"MASTER_ID", 'A', 20}, {"MASTER_NAME", 'A', 60}, {"MASTER_FILE", 'A', 120}};
    definition.key_fields = keyed ? 1 : 0;
    definition.password = password;
    return definition;
}

void insert_row(engine::Table& table, const std::vector<std::string>& values) {
    table.insert();
    for (std::size_t i = 0; i < values.size(); ++i)
        table.field(static_cast<int>(i)).set_as_string(values[i]);
    table.post();
}

}  // namespace engine_test
