#pragma once
// Helpers shared by the engine tests: tables in temporary directories, the
// session password, reading a whole table through our engine.

#include "engine/engine.h"
#include "engine/format.h"
#include "support/temp_dir.h"

#include <string>
#include <vector>

namespace engine_test {

// Adds a password to the session for the lifetime of the object.
class ScopedPassword {
public:
    explicit ScopedPassword(std::string password) : password_(std::move(password)) {
        engine::Session::instance().add_password(password_);
    }
    ~ScopedPassword() { engine::Session::instance().remove_password(password_); }
    ScopedPassword(const ScopedPassword&) = delete;
    ScopedPassword& operator=(const ScopedPassword&) = delete;

private:
    std::string password_;
};

// UTF-8 source text as ANSI (code page 1251 in the tests).
std::string ansi(const std::string& utf8);

// Every row of the table, every column as text, in the table's order.
std::vector<std::vector<std::string>> read_all(const std::string& path);

// Reads and parses the header of the table file at `path`.
engine::TableHeader read_table_header(const std::string& path);

// The file's bytes (empty when missing).
std::string file_bytes(const std::string& path);

// A path table like the tool's: MASTER_ID (key when keyed), MASTER_NAME,
// MASTER_FILE; code page 1251.
engine::TableSpec path_table_spec(bool keyed, const std::string& password = "");

// Inserts one row through a table dataset.
void insert_row(engine::Table& table, const std::vector<std::string>& values);

}  // namespace engine_test
