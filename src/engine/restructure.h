#pragma once
// Whole-table rewrites: adding a column, emptying, creating. Each writes
// complete new files and puts them in place with replace_table_files.

#include "engine/engine.h"

#include <string>

namespace engine {

// Appends an alpha column of `width` characters, empty in every row. The
// table keeps its level, block size (larger only when the record no longer
// fits), code page, sort order, password, name, key and row order; the
// .PX is rebuilt, the .MB kept.
void add_alpha_column(const std::string& path, const std::string& column, int width);

// Empties the table to its bare header.
void empty_table_file(const std::string& path);

}  // namespace engine
