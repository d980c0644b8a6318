#include "engine/test_tables.h"

#include "engine/bytes.h"
#include "engine/cipher.h"
#include "platform/file_system.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <tuple>

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

// Checks the .PX against the .DB: one level-1 entry per data block in chain
// order, holding the block's first key and its record count; upper levels
// sum their children.
void expect_index_matches(const std::string& db_path, const std::string& px_path) {
    std::string db = file_bytes(db_path);
    const std::string px = file_bytes(px_path);
    ASSERT_GE(px.size(), 0x800u);
    auto* plain = reinterpret_cast<std::uint8_t*>(db.data());
    if (engine::get_u32(plain + 0x25) == 0xFF00FF00u)
        for (std::uint32_t n = 1; n <= engine::get_u16(plain + 0x0C); ++n)
            engine::cipher::decrypt_block(plain + engine::get_u16(plain + 2) + (n - 1) * plain[5] * 1024u,
                                          plain[5] * 1024u, engine::get_u32(plain + 0x5C), n);
    const auto* d = reinterpret_cast<const std::uint8_t*>(db.data());
    const auto* p = reinterpret_cast<const std::uint8_t*>(px.data());
    const std::size_t record = engine::get_u16(d), header = engine::get_u16(d + 2);
    const std::size_t block = d[5] * 1024u, key = engine::get_u16(p) - 6u, px_block = p[5] * 1024u;
    // Walk the data chain.
    std::vector<std::pair<std::string, std::uint32_t>> blocks;  // first key, number
    std::vector<std::uint32_t> counts;
    for (std::uint32_t n = engine::get_u16(d + 0x0E); n != 0;) {
        const auto* b = d + header + (n - 1) * block;
        const auto added = static_cast<std::int16_t>(engine::get_u16(b + 4));
        blocks.push_back({std::string(reinterpret_cast<const char*>(b + 6), key), n});
        counts.push_back(static_cast<std::uint32_t>(added / static_cast<int>(record) + 1));
        n = engine::get_u16(b);
    }
    // Descend the index from its root to collect level-1 entries in order.
    std::vector<std::pair<std::uint32_t, unsigned>> stack = {{engine::get_u16(p + 0x1E), p[0x20]}};
    std::vector<std::tuple<std::string, std::uint32_t, std::uint32_t>> leaves;
    while (!stack.empty()) {
        const auto [n, level] = stack.back();
        stack.pop_back();
        const auto* b = p + 0x800 + (n - 1) * px_block;
        const std::size_t entries = static_cast<std::int16_t>(engine::get_u16(b + 4)) / (key + 6) + 1;
        std::vector<std::pair<std::uint32_t, unsigned>> children;
        for (std::size_t i = 0; i < entries; ++i) {
            const auto* e = b + 6 + i * (key + 6);
            const std::uint32_t target = engine::get_index_short(e + key);
            if (level == 1)
                leaves.emplace_back(std::string(reinterpret_cast<const char*>(e), key), target,
                                    engine::get_index_short(e + key + 2));
            else
                children.push_back({target, level - 1});
        }
        for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back(*it);
    }
    ASSERT_EQ(leaves.size(), blocks.size());
    for (std::size_t i = 0; i < leaves.size(); ++i) {
        EXPECT_EQ(std::get<0>(leaves[i]), blocks[i].first) << i;
        EXPECT_EQ(std::get<1>(leaves[i]), blocks[i].second) << i;
        EXPECT_EQ(std::get<2>(leaves[i]), counts[i]) << i;
    }
}

}  // namespace engine_test
