#pragma once
// The open table behind Query and Table: the cursor over the rows in chain
// order, values as text, and (for Table) locating, editing, inserting and
// posting rows.

#include "engine/engine.h"
#include "engine/block_chain.h"
#include "engine/language_driver.h"
#include "engine/memo.h"
#include "engine/table_file.h"

#include <array>
#include <unordered_map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
    // value(), in the caller's room (Field::read).
    std::string_view value_view(int index, ValueRoom& room);
    void set_value(int index, const std::string& ansi);

    bool locate(int index, const std::string& key, bool ignore_case, bool whole_value);
    void edit();
    void insert();
    void cancel();
    void post();

private:
    enum class Mode { browse, edit, insert };

    const std::uint8_t* current_record() const;  // once the chain is loaded
    void load_all();  // reads the whole chain into memory (for changes)
    void check_can_write();
    void reread_chain();
    bool key_changed() const;  // the edited row's key differs from the stored one
    void recover_from_failed_post();
    void fold_table_init();

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
    BlockChain chain_;
    std::size_t block_index_ = 0;

    Mode mode_ = Mode::browse;
    std::vector<std::uint8_t> buffer_;  // the row being edited or inserted
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
    std::string_view streamed_text(const FieldDef& f, char* room) const;
    void locate_index_update(const std::uint8_t* removed, const std::uint8_t* added);
    LocateIndex locate_index_;
    std::vector<std::uint8_t> edit_original_;  // the row as it was when editing began
};

}  // namespace engine
