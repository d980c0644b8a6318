#include "engine/index_layout.h"

#include "engine/bytes.h"
#include "engine/cipher.h"
#include "engine/test_tables.h"

#include <gtest/gtest.h>

#include <tuple>

namespace engine_test {

IndexShape index_shape(const std::string& px) {
    IndexShape shape;
    const auto* p = reinterpret_cast<const std::uint8_t*>(px.data());
    if (px.size() < 0x58) return shape;
    const std::size_t record = engine::get_u16(p), header = engine::get_u16(p + 2), block = p[5] * 1024u;
    const unsigned blocks = engine::get_u16(p + 0x0C);
    if (header + blocks * block > px.size()) return shape;
    shape.root = engine::get_u16(p + 0x1E);
    shape.depth = p[0x20];
    shape.per_block = static_cast<unsigned>((block - 6) / record);
    auto at = [&](unsigned n) { return p + header + (n - 1) * block; };
    auto count = [&](unsigned n) {
        return static_cast<unsigned>(static_cast<std::int16_t>(engine::get_u16(at(n) + 4)) / static_cast<int>(record) + 1);
    };
    unsigned previous = 0;
    for (unsigned n = engine::get_u16(p + 0x0E); n != 0 && n <= blocks && shape.chain.size() <= blocks;) {
        shape.chain.push_back(n);
        shape.back_links = shape.back_links && engine::get_u16(at(n) + 2) == previous;
        previous = n;
        n = engine::get_u16(at(n));
    }
    if (shape.depth == 0 || shape.root < 1 || shape.root > blocks) return shape;
    std::vector<unsigned> level = {shape.root};
    for (unsigned l = 0; l < shape.depth; ++l) {
        shape.levels.push_back(level);
        shape.entries.emplace_back();
        std::vector<unsigned> below;
        for (unsigned n : level) {
            shape.entries.back().push_back(count(n));
            for (unsigned i = 0; i < count(n); ++i)
                below.push_back(engine::get_index_short(at(n) + 6 + i * record + record - 6));
        }
        level = below;
    }
    return shape;
}

void expect_index_matches(const std::string& db_path, const std::string& px_path) {
    std::string db = file_bytes(db_path);
    const std::string px = file_bytes(px_path);
    ASSERT_GE(px.size(), 0x58u);
    auto* plain = reinterpret_cast<std::uint8_t*>(db.data());
    if (engine::get_u32(plain + 0x25) == 0xFF00FF00u && engine::get_u32(plain + 0x5C) != 0)
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
    std::vector<std::pair<std::uint32_t, unsigned>> stack;
    if (p[0x20] > 0) stack.push_back({engine::get_u16(p + 0x1E), p[0x20]});  // an empty index has 0 levels
    std::vector<std::tuple<std::string, std::uint32_t, std::uint32_t>> leaves;
    while (!stack.empty()) {
        const auto [n, level] = stack.back();
        stack.pop_back();
        const auto* b = p + engine::get_u16(p + 2) + (n - 1) * px_block;
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
