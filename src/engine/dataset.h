#pragma once
// The open table behind Query and Table: the cursor over the rows in chain
// order, values as text, and (for Table) locating, editing, inserting and
// posting rows.

#include "engine/engine.h"
#include "engine/collation.h"
#include "engine/language_driver.h"
#include "engine/memo.h"
#include "engine/table_file.h"

#include <array>
#include <unordered_map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class Journal;
}

namespace engine {

class Dataset {
public:
    // Opens the table; writable datasets may later edit and insert.
    Dataset(const std::string& path, bool writable);
    ~Dataset();

    const std::string& path() const { return file_->path(); }
    const TableHeader& header() const { return file_->header(); }
    int field_count() const { return static_cast<int>(fields_.size()); }
    Field& field(int index) { return *fields_[static_cast<std::size_t>(index)]; }
    const std::string& field_name(int index) const { return names_[static_cast<std::size_t>(index)]; }
    Field* find_field(const std::string& name);

    bool eof() const;
    void next();

    std::string value(int index);
    void set_value(int index, const std::string& ansi);

    bool locate(int index, const std::string& key, bool ignore_case, bool whole_value);
    void edit();
    void insert();
    void cancel();
    void post();

private:
    enum class Mode { browse, edit, insert };
    struct Block {
        std::uint32_t number = 0;
        std::vector<std::uint8_t> bytes;  // the whole block, plain
        std::size_t count = 0;
        std::uint8_t* record(std::size_t i, std::size_t size) {
            return bytes.data() + kBlockHeaderSize + i * size;
        }
        const std::uint8_t* record(std::size_t i, std::size_t size) const {
            return bytes.data() + kBlockHeaderSize + i * size;
        }
    };

    const std::uint8_t* current_record() const;  // once the chain is loaded
    void load_all();  // reads the whole chain into memory (for changes)
    void check_can_write();
    std::size_t insert_position(const std::uint8_t* record, std::size_t& block, std::size_t& row);
    void write_changes(const std::vector<std::uint32_t>& dirty);
    void repair_after_failure();
    std::uint32_t new_block();
    void fold_table_init();
    // The .PX rebuilt from the chain: its image and the units that differ
    // from what the file holds.
    struct IndexPlan {
        std::vector<std::uint8_t> image;
        std::vector<std::size_t> units;  // offsets of kIndexUnit-byte pieces to write
        bool create = false;             // the .PX does not exist yet
    };
    static constexpr std::size_t kIndexUnit = 1024;
    IndexPlan plan_index();
    void save_index(platform::Journal& journal, const IndexPlan& plan);
    void apply_index(IndexPlan& plan);
    void write_index();  // rebuilds the .PX from the chain, writing what changed, under a journal
    bool chain_matches_file();  // the loaded chain is what the file holds

    std::unique_ptr<TableFile> file_;
    bool writable_;
    std::vector<std::unique_ptr<Field>> fields_;
    LanguageDriver driver_;
    std::vector<std::string> names_;  // as the driver hands them over
    std::unique_ptr<MemoFile> memo_;

    // Streaming cursor (until the chain is loaded).
    std::unique_ptr<ChainWalker> walker_;
    std::size_t row_ = 0;
    bool eof_ = true;

    // The loaded chain and a cursor into it.
    bool loaded_ = false;
    std::vector<Block> chain_;
    std::size_t block_index_ = 0;

    Mode mode_ = Mode::browse;
    std::vector<std::uint8_t> buffer_;  // the row being edited or inserted
    std::optional<Collation> collation_;
    std::optional<std::array<std::uint8_t, 256>> fold_;  // stored byte to the caller's, upper-cased
    bool write_checked_ = false;
    // Which values an alpha column holds (folded when located ignoring
    // case), so that a locate that cannot succeed needs no scan. Kept up to
    // date by posts; dropped when anything fails.
    struct LocateIndex {
        int field = -1;
        bool ignore_case = false;
        std::unordered_map<std::string, std::size_t> counts;
    };
    std::string locate_value(const std::uint8_t* record, const LocateIndex& index) const;
    void locate_index_update(const std::uint8_t* removed, const std::uint8_t* added);
    LocateIndex locate_index_;
    std::vector<std::uint8_t> edit_original_;  // the row as it was when editing began
    bool index_loaded_ = false;
    std::vector<std::vector<std::uint8_t>> freed_;  // blocks that left the chain, written last
    std::vector<std::uint32_t> freed_numbers_;
    std::string index_path_;
    std::vector<std::uint8_t> index_image_;  // the .PX as last read or written (the table's lock holds it open)
};

}  // namespace engine
