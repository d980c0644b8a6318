#include "stores/table_store.h"

#include "engine/engine.h"
#include "model/path_text.h"
#include "platform/exception.h"
#include "platform/messages.h"
#include "platform/system.h"

#include <algorithm>

namespace {

// The session password, present while an operation runs and removed on
// every path out.
class SessionPassword : public engine::SessionPassword {
public:
    SessionPassword() : engine::SessionPassword("TRAX_OPR") {}
};

// The path as a string literal of the engine's SQL: every single quote
// doubled, so that a folder named O'Brien names a table, not a syntax error.
std::string Quoted(const std::string& path) {
    std::string out = "'";
    for (char c : path) {
        out.push_back(c);
        if (c == '\'') out.push_back('\'');
    }
    out.push_back('\'');
    return out;
}

// The row's columns, looked up by name on the first row that needs them.
class Columns {
public:
    explicit Columns(engine::Table& table) : table_(table) {}
    engine::Field& Name() { return get(name_, "MASTER_NAME"); }
    engine::Field& File() { return get(file_, "MASTER_FILE"); }
    engine::Field& Id() { return get(id_, "MASTER_ID"); }

private:
    engine::Field& get(engine::Field*& slot, const char* column) {
        if (slot == nullptr) slot = &table_.field_by_name(column);
        return *slot;
    }
    engine::Table& table_;
    engine::Field* name_ = nullptr;
    engine::Field* file_ = nullptr;
    engine::Field* id_ = nullptr;
};

}  // namespace

std::string TDatFileStorageDb::StoreFileName(const std::string& /*baseName*/) { return std::string(); }

bool TDatFileStorageDb::PrepareTable(const std::string& path, std::string* failure) {
    std::string context = platform::program_message("Ошибка открытия файла ") + path;
    if (!platform::file_exists(path)) return false;

    const auto query = std::make_unique<engine::Query>();
    try {
        query->add_sql_line("select * from " + Quoted(path));
        query->open();
        // Only a path table is brought up to date: any other table the
        // argument names is left as it is.
        for (const char* column : {"MASTER_ID", "MASTER_NAME", "MASTER_FILE"})
            if (query->find_field(column) == nullptr)
                throw Exception(platform::program_message("Таблица не является таблицей путей: в ней нет поля ") +
                                column);
        if (query->find_field("DESCRIPTION") == nullptr) {
            context = platform::program_message("Ошибка реструктуризации файла ") + path;
            query->close();
            query->clear_sql();
            query->add_sql_line("alter table " + Quoted(path) + " add DESCRIPTION CHAR(255)");
            try {
                query->exec_sql();
            } catch (const Exception&) {
                // Another run of this program may have added the column
                // between the select and the alter (it waited for the other's
                // lock): then the table is what this run wanted.
                query->clear_sql();
                query->add_sql_line("select * from " + Quoted(path));
                query->open();
                if (query->find_field("DESCRIPTION") == nullptr) throw;
            }
        }
    } catch (const Exception& e) {
        const std::string text = context + "\n" + e.Message();
        platform::show_error_box(text, platform::program_message("Ошибка"));
        if (failure != nullptr) *failure = text;
        return false;
    }
    return true;
}

std::unique_ptr<engine::Table> TDatFileStorageDb::OpenTable(const std::string& path, std::string* failure) {
    if (!PrepareTable(path, failure)) return nullptr;
    platform::set_current_directory(DirectoryPart(path));
    auto table = std::make_unique<engine::Table>();
    try {
        table->set_table_name(path);
        table->open();
    } catch (const Exception& e) {
        throw Exception(platform::program_message("Не могу открыть таблицу ") + e.Message() +
                        platform::program_message("\nРабота программы невозможна"));
    }
    return table;
}

void TDatFileStorageDb::ReadAll(const std::string& path, TDatFileDescList& list) {
    // Declared before the password, so the password goes first on the way out.
    std::unique_ptr<engine::Table> table;
    SessionPassword password;
    std::string failure;
    table = OpenTable(path, &failure);
    if (!table) {
        // An existing table whose check or upgrade failed must not pass for
        // an empty one: the caller would erase the INI file and report
        // success. The box has been shown; it ends the run without being
        // repeated.
        if (!failure.empty()) throw ShownException(failure);
        return;
    }
    platform::set_current_directory(DirectoryPart(path));
    // Room for the rows the header counts; a damaged header cannot make it
    // reserve much more than a large table needs.
    constexpr std::size_t kMostReserved = std::size_t{1} << 22;
    const std::size_t rows = std::min<std::size_t>(table->record_count(), kMostReserved);
    list.Items.reserve(list.Items.size() + rows);
    // What a row takes, its entry and its INI lines together, about.
    constexpr std::size_t kBytesPerRow = 512;
    platform::expect_memory(rows * kBytesPerRow);
    Columns columns(*table);
    // Each row's texts are read into these on their way into the entry.
    engine::ValueRoom name;
    engine::ValueRoom file;
    engine::ValueRoom id;
    // Nothing in the loop changes the current directory.
    const platform::CurrentDirectoryHeld held;
    while (!table->eof()) {
        TDatFileDesc& entry = list.Add();
        const std::string_view nameText = columns.Name().read(name);
        const std::string_view fileText = columns.File().read(file);
        const std::string_view idText = columns.Id().read(id);
        SetPaths(entry, idText, fileText, nameText);
        table->next();
    }
}

void TDatFileStorageDb::ReadEntry(const std::string& path, const std::string& id, TDatFileDesc& entry) {
    std::unique_ptr<engine::Table> table;
    SessionPassword password;
    try {
        table = OpenTable(path);
        if (table && table->locate("MASTER_ID", id, /*ignore_case=*/true, /*whole_value=*/true)) {
            platform::set_current_directory(DirectoryPart(path));
            const std::string name = table->field_by_name("MASTER_NAME").as_string();
            const std::string file = table->field_by_name("MASTER_FILE").as_string();
            SetPaths(entry, UpperCase(Trim(id)), ExpandFileName(file), name);
        }
    } catch (const Exception& e) {
        platform::show_error_box(platform::program_message("Ошибка при работе с таблицей ") + path + ":\n" + e.Message(),
                                 platform::application_title());
    }
}

void TDatFileStorageDb::PostEntry(engine::Table& table, const std::string& directory, const TDatFileDesc& entry) {
    const std::string key = UpperCase(Trim(ToString(entry.Id)));
    if (table.locate("MASTER_ID", key, /*ignore_case=*/true, /*whole_value=*/true))
        table.edit();
    else
        table.insert();
    table.field_by_name("MASTER_ID").set_as_string(key);
    table.field_by_name("MASTER_NAME").set_as_string(ToString(entry.Name));
    if (entry.RawPath.empty())
        table.field_by_name("MASTER_FILE").set_as_string(RelativePath(directory, FullPath(entry)));
    else
        table.field_by_name("MASTER_FILE").set_as_string(ToString(entry.RawPath));
    table.post();
}

void TDatFileStorageDb::WriteEntry(const std::string& path, TDatFileDesc& entry) {
    {
        // Declared after the password, so the table goes first on the way out.
        SessionPassword password;
        const std::unique_ptr<engine::Table> table = OpenTable(path);
        if (table) PostEntry(*table, DirectoryPart(path), entry);
    }
    TDatFilePath::WriteEntry(path, entry);
}

void TDatFileStorageDb::WriteAll(const std::string& path, TDatFileDescList& list) {
    Clear(path);
    if (list.Items.empty()) return;
    SessionPassword password;
    const std::unique_ptr<engine::Table> table = OpenTable(path);
    if (!table) return;
    const std::string directory = DirectoryPart(path);
    for (const auto& entry : list.Items) PostEntry(*table, directory, *entry);
}

void TDatFileStorageDb::Clear(const std::string& path) {
    std::unique_ptr<engine::Table> table;
    SessionPassword password;
    table = std::make_unique<engine::Table>();
    table->set_table_name(path);
    table->empty_table();
}
