// Session, Field, Query, Table and create_table: the engine's face, over
// Dataset and the rewrites.

#include "engine/engine.h"

#include "engine/cipher.h"
#include "engine/dataset.h"
#include "engine/format.h"
#include "engine/language_driver.h"
#include "engine/primary_index.h"
#include "engine/replace.h"
#include "engine/restructure.h"
#include "platform/exception.h"
#include "platform/path_parts.h"

#include <algorithm>
#include <cctype>

namespace engine {

// ---- Session ----

Session& Session::instance() {
    static Session session;
    return session;
}

void Session::add_password(const std::string& password) {
    if (password.empty()) throw Exception("An empty password cannot be added to the session");
    if (password.size() > kMaxPasswordLength)
        throw Exception("A password is limited to " + std::to_string(kMaxPasswordLength) +
                        " characters");
    passwords_.push_back(password);
}

void Session::remove_password(const std::string& password) noexcept {
    const auto it = std::find(passwords_.begin(), passwords_.end(), password);
    if (it != passwords_.end()) passwords_.erase(it);
}

bool Session::holds_checksum(std::uint32_t checksum) const {
    for (const std::string& p : passwords_)
        if (cipher::password_checksum(p) == checksum) return true;
    return false;
}

// ---- Field ----

const std::string& Field::name() const { return owner_->field_name(index_); }
std::string Field::as_string() const { return owner_->value(index_); }
std::string_view Field::read(ValueRoom& room) const { return owner_->value_view(index_, room); }
void Field::set_as_string(const std::string& value) { owner_->set_value(index_, value); }

// ---- The local SQL ----

namespace {

struct Statement {
    enum Kind { select, alter } kind = select;
    std::string path;
    std::string column;
    int width = 0;
};

class Parser {
public:
    explicit Parser(const std::string& text) : text_(text) {}

    Statement parse() {
        Statement s;
        const std::string first = word();
        if (equal(first, "select")) {
            expect("*");
            expect_word("from");
            s.path = quoted();
        } else if (equal(first, "alter")) {
            s.kind = Statement::alter;
            expect_word("table");
            s.path = quoted();
            expect_word("add");
            s.column = word();
            if (s.column.empty()) fail();
            expect_word("char");
            expect("(");
            s.width = number();
            expect(")");
        } else {
            fail();
        }
        skip_blanks();
        if (at_ < text_.size() && text_[at_] == ';') ++at_;
        skip_blanks();
        if (at_ != text_.size()) fail();
        return s;
    }

private:
    [[noreturn]] void fail() const {
        throw Exception("Unsupported statement: " + text_);
    }
    static bool equal(const std::string& a, const char* b) {
        std::string lower = a;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return lower == b;
    }
    void skip_blanks() {
        while (at_ < text_.size() && static_cast<unsigned char>(text_[at_]) <= 32) ++at_;
    }
    // A run of characters other than blanks, quotes, parentheses and "*".
    std::string word() {
        skip_blanks();
        const std::size_t start = at_;
        while (at_ < text_.size() && static_cast<unsigned char>(text_[at_]) > 32 &&
               std::string("'()*;").find(text_[at_]) == std::string::npos)
            ++at_;
        return text_.substr(start, at_ - start);
    }
    void expect_word(const char* keyword) {
        if (!equal(word(), keyword)) fail();
    }
    void expect(const char* token) {
        skip_blanks();
        if (text_.compare(at_, std::char_traits<char>::length(token), token) != 0) fail();
        at_ += std::char_traits<char>::length(token);
    }
    std::string quoted() {
        skip_blanks();
        if (at_ >= text_.size() || text_[at_] != '\'') fail();
        ++at_;
        std::string value;
        while (true) {
            if (at_ >= text_.size()) fail();
            if (text_[at_] == '\'') {
                if (at_ + 1 < text_.size() && text_[at_ + 1] == '\'') {
                    value += '\'';
                    at_ += 2;
                    continue;
                }
                ++at_;
                return value;
            }
            value += text_[at_++];
        }
    }
    int number() {
        skip_blanks();
        int v = 0;
        std::size_t digits = 0;
        while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_])) && digits < 6) {
            v = v * 10 + (text_[at_++] - '0');
            ++digits;
        }
        if (digits == 0) fail();
        return v;
    }

    const std::string& text_;
    std::size_t at_ = 0;
};

std::string join(const std::vector<std::string>& lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) text += '\n';
        text += lines[i];
    }
    return text;
}

}  // namespace

// ---- Query ----

Query::Query() = default;
Query::~Query() = default;

void Query::clear_sql() { lines_.clear(); }
void Query::add_sql_line(const std::string& line) { lines_.push_back(line); }
bool Query::active() const { return dataset_ != nullptr; }
void Query::close() { dataset_.reset(); }

void Query::open() {
    close();
    const std::string text = join(lines_);
    const Statement s = Parser(text).parse();
    if (s.kind != Statement::select)
        throw Exception("The statement returns no rows; execute it instead: " + text);
    dataset_ = std::make_unique<Dataset>(s.path, false);
}

void Query::exec_sql() {
    close();
    const Statement s = Parser(join(lines_)).parse();
    if (s.kind == Statement::select) {
        Dataset check(s.path, false);  // runs and discards the result
        return;
    }
    add_alpha_column(s.path, s.column, s.width);
}

Field* Query::find_field(const std::string& name) {
    if (!dataset_) throw Exception("The query is not open");
    return dataset_->find_field(name);
}

// ---- Table ----

Table::Table() = default;
Table::~Table() = default;

void Table::set_table_name(const std::string& path) {
    if (dataset_) throw Exception("Table " + path_ + " is open; close it before renaming");
    path_ = path;
}

void Table::open() {
    if (dataset_) return;
    if (path_.empty()) throw Exception("No table name is set");
    dataset_ = std::make_unique<Dataset>(path_, true);
}

void Table::close() { dataset_.reset(); }
bool Table::active() const { return dataset_ != nullptr; }

namespace {
Dataset& require(const std::unique_ptr<Dataset>& dataset, const std::string& path) {
    if (!dataset) throw Exception("Table " + path + " is not open");
    return *dataset;
}
}  // namespace

bool Table::eof() const { return dataset_ ? dataset_->eof() : true; }
void Table::next() { require(dataset_, path_).next(); }

Field& Table::field_by_name(const std::string& name) {
    Field* f = require(dataset_, path_).find_field(name);
    if (f == nullptr) throw Exception("Table " + path_ + " has no column " + name);
    return *f;
}

int Table::field_count() const { return dataset_ ? dataset_->field_count() : 0; }
Field& Table::field(int index) {
    Dataset& d = require(dataset_, path_);
    if (index < 0 || index >= d.field_count())
        throw Exception("Table " + path_ + " has no column number " + std::to_string(index));
    return d.field(index);
}
std::uint32_t Table::record_count() const { return dataset_ ? dataset_->header().records : 0; }

bool Table::locate(const std::string& column, const std::string& key, bool ignore_case,
                   bool whole_value) {
    Field& f = field_by_name(column);
    Dataset& d = require(dataset_, path_);
    for (int i = 0; i < d.field_count(); ++i)
        if (&d.field(i) == &f) return d.locate(i, key, ignore_case, whole_value);
    return false;
}

void Table::edit() { require(dataset_, path_).edit(); }
void Table::insert() { require(dataset_, path_).insert(); }
void Table::cancel() { require(dataset_, path_).cancel(); }
void Table::post() { require(dataset_, path_).post(); }

void Table::empty_table() {
    if (path_.empty()) throw Exception("No table name is set");
    if (dataset_) throw Exception("Table " + path_ + " is open; close it before emptying it");
    empty_table_file(path_);
}

// ---- Creating tables ----

void create_table(const std::string& path, const TableSpec& definition) {
    HeaderLayout layout;
    switch (definition.level) {
    case 3: layout.version = 3; break;
    case 4: layout.version = 4; break;
    case 5: layout.version = 11; break;
    case 7: layout.version = 12; break;
    default: throw Exception("Unknown table level " + std::to_string(definition.level));
    }
    if (definition.fields.empty() || definition.fields.size() > 255)
        throw Exception("A table needs 1 to 255 columns");
    if (definition.key_fields < 0 || static_cast<std::size_t>(definition.key_fields) > definition.fields.size())
        throw Exception("The key cannot have " + std::to_string(definition.key_fields) + " columns");
    if (definition.block_size_kb < 1 || definition.block_size_kb > 32)
        throw Exception("Block size " + std::to_string(definition.block_size_kb) + " KB is out of range");
    if (definition.password.size() > Session::kMaxPasswordLength)
        throw Exception("A password is limited to " + std::to_string(Session::kMaxPasswordLength) +
                        " characters");
    const LanguageDriver label = LanguageDriver::for_new_table(definition.language_driver, definition.code_page);
    // Level 3 and 3.5 headers keep only the sort-order byte; the names and
    // values are written as the driver that byte names reads them.
    const LanguageDriver driver = LanguageDriver::identify(layout.version >= 5, label.sort_order(),
                                                           label.id(), label.code_page());
    const bool byte_names_it = definition.language_driver.empty()
                                   ? definition.code_page == 437 || definition.code_page == 1251 ||
                                         definition.code_page == 866
                                   : driver.name() == label.name();
    if (definition.level < 5 && !byte_names_it)
        throw Exception("Tables of level 3 and 3.5 store no code page and no language driver's name");
    layout.file_type = definition.key_fields > 0 ? kKeyedTable : kUnkeyedTable;
    layout.block_size = static_cast<std::size_t>(definition.block_size_kb) * 1024;
    layout.key_fields = static_cast<std::size_t>(definition.key_fields);
    layout.code_page = label.code_page();
    layout.sort_order = label.sort_order();
    layout.sort_order_id = label.id();
    layout.checksum = cipher::password_checksum(definition.password);
    std::size_t record_size = 0;
    for (const FieldSpec& s : definition.fields) {
        FieldDef f;
        f.name = driver.write(s.name, "The column name " + s.name);
        if (f.name.empty() || f.name.size() > 25)
            throw Exception("Column name '" + s.name + "' must have 1 to 25 characters");
        switch (s.type) {
        case 'A': f.type = kAlpha; f.size_code = static_cast<std::uint8_t>(s.size); break;
        case 'Y': f.type = kBytes; f.size_code = static_cast<std::uint8_t>(s.size); break;
        case 'D': f.type = kDate; f.size_code = 4; break;
        case 'S': f.type = kShort; f.size_code = 2; break;
        case 'I': f.type = kLong; f.size_code = 4; break;
        case '$': f.type = kMoney; f.size_code = 8; break;
        case 'N': f.type = kNumber; f.size_code = 8; break;
        case 'L': f.type = kLogical; f.size_code = 1; break;
        case 'T': f.type = kTime; f.size_code = 4; break;
        case '@': f.type = kTimestamp; f.size_code = 8; break;
        case '+': f.type = kAutoIncrement; f.size_code = 4; break;
        case '#': f.type = kBcd; f.size_code = static_cast<std::uint8_t>(s.size); break;
        case 'M': f.type = kMemo; break;
        case 'B': f.type = kBlob; break;
        case 'F': f.type = kFormattedMemo; break;
        case 'O': f.type = kOle; break;
        case 'G': f.type = kGraphic; break;
        default: throw Exception(std::string("Unknown column type '") + s.type + "'");
        }
        if (is_blob_type(f.type)) {
            if (s.size < 1 || s.size > 240) throw Exception("Column " + s.name + ": a memo leader is 1 to 240 bytes");
            f.size_code = static_cast<std::uint8_t>(s.size + 10);
        }
        if ((f.type == kAlpha || f.type == kBytes) && (s.size < 1 || s.size > 255))
            throw Exception("Column " + s.name + ": width must be 1 to 255");
        if (f.type == kBcd && (s.size < 0 || s.size > 32))
            throw Exception("Column " + s.name + ": BCD decimals must be 0 to 32");
        record_size += field_width(f.type, f.size_code);
        layout.fields.push_back(f);
    }
    if (record_size > layout.block_size - kBlockHeaderSize)
        throw Exception("The record does not fit a block of " + std::to_string(definition.block_size_kb) + " KB");
    std::string name = platform::file_name_part(path);
    layout.table_name = name;

    std::vector<NewFile> files;
    files.push_back({path, build_table_header(layout)});
    if (layout.file_type == kKeyedTable) {
        const TableHeader h = parse_table_header(path, files[0].bytes, files[0].bytes.size());
        files.push_back({companion_path(path, "PX"), build_primary_index(h, {}, {})});
    }
    // Under the table's exclusive lock, which puts back an interrupted
    // change first.
    replace_table_files(path, files);
}

}  // namespace engine
