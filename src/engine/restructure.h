#pragma once
// Whole-table rewrites: adding a column, emptying, creating. Each writes
// complete new files and puts them in place with replace_table_files.

#include "engine/engine.h"

#include <string>

namespace engine {

// Appends an alpha column of `width` characters, empty in every row. The
// table keeps its level, block size (larger only when the record no longer
// fits), code page, sort order, password, name, key, row order and every
// header byte adding a field does not change (format.cpp); the .PX is
// rebuilt, a .VAL kept in step, the .MB kept. Refuses, with nothing
// changed, a table that is damaged, in use or read-only, and one whose
// companions cannot be kept in step or written.
void add_alpha_column(const std::string& path, const std::string& column, int width);

// Empties the table to its bare header.
void empty_table_file(const std::string& path);

}  // namespace engine
