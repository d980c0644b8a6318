#include "bench/bulk_table.h"

#include "engine/format.h"
#include "engine/language_driver.h"
#include "engine/primary_index.h"
#include "engine/replace.h"
#include "engine/table_file.h"
#include "platform/file_system.h"

#include <algorithm>
#include <cstring>

namespace bench {

void bulk_table(const std::string& path, const engine::TableSpec& definition, int rows, const RowMaker& make_row) {
    engine::create_table(path, definition);
    // The first record and row count of every block, for the primary index.
    std::vector<std::vector<std::uint8_t>> first_records;
    std::vector<std::uint32_t> counts;
    {
        engine::TableFile file(path, true);
        engine::TableHeader& h = file.header();
        const engine::LanguageDriver driver = engine::LanguageDriver::identify(h);
        const std::size_t per_block = h.records_per_block();
        std::vector<std::size_t> offsets;
        std::size_t offset = 0;
        for (const auto& field : definition.fields) {
            offsets.push_back(offset);
            offset += static_cast<std::size_t>(field.size);
        }
        std::vector<std::string> values(definition.fields.size());
        std::vector<std::uint8_t> block(h.block_size);
        std::uint32_t count_blocks = 0;
        for (int done = 0; done < rows;) {
            std::fill(block.begin(), block.end(), 0);
            const std::size_t count = std::min<std::size_t>(per_block, static_cast<std::size_t>(rows - done));
            for (std::size_t i = 0; i < count; ++i, ++done) {
                std::uint8_t* record = block.data() + engine::kBlockHeaderSize + i * h.record_size;
                for (auto& v : values) v.clear();
                make_row(done, values);
                for (std::size_t f = 0; f < values.size(); ++f) {
                    const std::string text = driver.write(values[f], "A generated value");
                    std::memcpy(record + offsets[f], text.data(),
                                std::min(text.size(), static_cast<std::size_t>(definition.fields[f].size)));
                }
            }
            ++count_blocks;
            engine::BlockInfo info;
            info.next = done < rows ? count_blocks + 1 : 0;
            info.previous = count_blocks - 1;
            info.count = count;
            engine::store_block_info(h, block.data(), info);
            file.write_block(count_blocks, block.data());
            const std::uint8_t* first = block.data() + engine::kBlockHeaderSize;
            first_records.emplace_back(first, first + h.record_size);
            counts.push_back(static_cast<std::uint32_t>(count));
            h.file_blocks = count_blocks;
        }
        h.records = static_cast<std::uint32_t>(rows);
        h.first_block = count_blocks > 0 ? 1 : 0;
        h.last_block = count_blocks;
        file.write_header();
        file.file().sync();

        if (definition.key_fields > 0) {
            std::vector<engine::IndexEntry> entries;
            for (std::size_t b = 0; b < first_records.size(); ++b)
                entries.push_back({first_records[b].data(), static_cast<std::uint32_t>(b + 1), counts[b]});
            const std::string px = engine::companion_path(path, "PX");
            const auto previous = platform::read_whole_file(px);
            const auto bytes = engine::build_primary_index(
                h, entries, std::vector<std::uint8_t>(previous.begin(), previous.end()));
            auto out = platform::file_system().open(px, platform::OpenMode::create);
            out->write_at(0, bytes.data(), bytes.size());
            out->sync();
        }
    }
}

}  // namespace bench
