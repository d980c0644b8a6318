#pragma once
// The table engine: reads and writes Paradox tables (.DB with their .PX
// primary index and .MB memo file), levels 3, 3.5, 4, 5 and 7, keyed and
// unkeyed, encrypted or not, through the few operations the table store
// needs: a session holding passwords, a query dataset for the two local SQL
// statements, and a table dataset.
//
// Every failure is an Exception whose message names the file and what is
// wrong, and whose kind says what it was (damaged, in use, permission...).
// All file access goes through platform::file_system(), so tests can
// inject faults. Texts are handed over as the table's language driver has
// them (language_driver.h): unchanged for ANSI drivers, converted between
// the DOS code page and its Windows partner for OEM drivers.
//
// Tables are shared with other programs and other runs: an open dataset
// holds the table's shared lock, a change its exclusive one, and every
// change is written in place under a rollback journal, so the files keep
// their inode, links, owner and mode, and a crash at any moment leaves the
// old table or the new one (table_lock.h, replace.cpp,
// platform/journal.cpp).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

// Room for one value of the current row, read for a moment.
struct ValueRoom {
    char bytes[256];   // an alpha value, read in place (no field is wider: format.cpp, field_width)
    std::string text;  // any other value
};

class Dataset;  // the shared implementation of Query and Table (internal)

// The process's one (default) session. Passwords gate access to encrypted
// tables: such a table opens only while the session holds a password whose
// checksum the table stores (exact, case-sensitive).
class Session {
public:
    static Session& instance();

    // Starts the session on first use. Throws Exception when the password
    // is refused: empty, or longer than kMaxPasswordLength characters.
    void add_password(const std::string& password);
    // Removes one copy of the password; never throws, a missing password is
    // not an error.
    void remove_password(const std::string& password) noexcept;

    // True when the session holds a password whose checksum is `checksum`.
    bool holds_checksum(std::uint32_t checksum) const;

    static constexpr std::size_t kMaxPasswordLength = 31;

private:
    Session() = default;
    std::vector<std::string> passwords_;
};

// A password in the default session for the lifetime of this object:
// added by the constructor (which throws when the session refuses it),
// removed by the destructor on every path out.
class SessionPassword {
public:
    explicit SessionPassword(std::string password) : password_(std::move(password)) {
        Session::instance().add_password(password_);
    }
    ~SessionPassword() { Session::instance().remove_password(password_); }
    SessionPassword(const SessionPassword&) = delete;
    SessionPassword& operator=(const SessionPassword&) = delete;

private:
    std::string password_;
};

// A column of an open dataset, valid while the dataset stays open.
class Field {
public:
    Field(Dataset& owner, int index) : owner_(&owner), index_(index) {}
    Field(const Field&) = delete;
    Field& operator=(const Field&) = delete;

    const std::string& name() const;
    // The current row's value as text, handed over as the table's language
    // driver does; every type renders as text and a blank (NULL) value is
    // the empty text. Memo and blob fields read from the .MB file; throws
    // when it is missing or damaged.
    std::string as_string() const;
    // as_string(), read where the caller keeps room for it: the view holds
    // until the next read into the same room. Reading row after row this
    // way copies and allocates nothing.
    std::string_view read(ValueRoom& room) const;
    // Only while editing or inserting: cuts the text to the column's width
    // and stores it as the table's language driver does; throws Exception
    // naming the column when a character has no place in the driver's code
    // page. Alpha, number, money, short, long, logical, date, time,
    // timestamp and BCD columns accept text; others throw Exception.
    void set_as_string(const std::string& value);

private:
    Dataset* owner_;
    int index_;
};

// The engine's local SQL. Exactly two statements are supported, keywords in
// any case, any blanks, the table path as a single-quoted string in which a
// doubled quote stands for one quote:
//   select * from '<table path>'
//   alter table '<table path>' add <COLUMN> CHAR(<n>)
// Anything else is an "unsupported statement" Exception.
class Query {
public:
    Query();
    ~Query();  // closes when open
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    void clear_sql();
    void add_sql_line(const std::string& line);  // the statement is the lines joined
    void open();       // runs the select: a read-only result, fields by name
    void close();
    void exec_sql();   // runs the alter table statement
    bool active() const;
    // The result column of that name, ignoring case; nullptr when none.
    Field* find_field(const std::string& name);

private:
    std::vector<std::string> lines_;
    std::unique_ptr<Dataset> dataset_;
};

// A table dataset over one table file.
class Table {
public:
    Table();
    ~Table();  // closes when open; an unposted edit or insert is cancelled
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    void set_table_name(const std::string& path);
    const std::string& table_name() const { return path_; }
    void open();
    void close();
    bool active() const;

    // Set right after an empty table is opened and after next() moves past
    // the last row.
    bool eof() const;
    void next();
    // Throws Exception naming the column and the table when missing.
    Field& field_by_name(const std::string& name);
    int field_count() const;
    Field& field(int index);
    std::uint32_t record_count() const;

    // Makes the first row whose column equals key the current row, as the
    // caller sees the values. Case is ignored (ANSI code page folding of
    // that text) when asked; with whole_value false a
    // prefix matches. Returns false and keeps the current row when none.
    bool locate(const std::string& column, const std::string& key, bool ignore_case,
                bool whole_value);

    // The first of these on an open table takes its exclusive lock; they
    // throw (in use) when another program holds the table, or changed it
    // since this dataset read it.
    void edit();    // starts editing the current row
    void insert();  // starts a new, blank row
    void cancel();  // drops an unposted edit or insert
    // Writes the row being edited or inserted, durably (the files are
    // flushed before it returns), or throws and leaves the table as it was.
    void post();

    // Empties the table named by set_table_name without opening it: a bare
    // header keeping structure, password, code page and sort order.
    void empty_table();

private:
    std::string path_;
    std::unique_ptr<Dataset> dataset_;
};

// Creating tables: for tests, benchmarks and sample tables.
struct FieldSpec {
    std::string name;
    // 'A' alpha, 'D' date, 'S' short, 'I' long, '$' money, 'N' number,
    // 'L' logical, 'M' memo, 'B' blob, 'F' formatted memo, 'O' OLE,
    // 'G' graphic, 'T' time, '@' timestamp, '+' autoincrement, '#' BCD,
    // 'Y' bytes.
    char type = 'A';
    // Alpha and bytes: the width; memo and blobs: the in-record leader
    // (1..240); BCD: digits after the decimal point; others: ignored.
    int size = 0;
};

struct TableSpec {
    std::vector<FieldSpec> fields;
    int key_fields = 0;        // leading fields that form the primary key (0 = unkeyed)
    int level = 7;             // 3, 4 (meaning 3.5), 5 or 7
    int block_size_kb = 2;     // 1..32
    // The table's code page; the language driver follows it: 1251
    // "ancyrr", 866 "cyrr" (DOS text), anything else "ascii" (byte order;
    // DOS text over 437 and 850, bytes passed through over others).
    int code_page = 1251;
    // When not empty, the id of a language driver the engine recognises
    // (e.g. "DBWINUS0"): it sets sort order and code page; code_page only
    // chooses among drivers of that id ("ascii" over 437 or 850).
    std::string language_driver;
    std::string password;      // empty: not encrypted
};

// Creates a new, empty table (and its empty .PX when keyed), replacing
// existing files of that name. Throws Exception.
void create_table(const std::string& path, const TableSpec& definition);

}  // namespace engine
