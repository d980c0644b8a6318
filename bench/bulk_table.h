#pragma once
// Bulk loading of large tables for benchmarks: rows are written block by
// block straight into the file, far faster than posting them one by one.

#include "engine/engine.h"

#include <functional>
#include <string>
#include <vector>

namespace bench {

// Fills row `index` with one ANSI text per field (alpha fields only).
using RowMaker = std::function<void(int index, std::vector<std::string>& values)>;

// Creates the table and loads `rows` rows. For keyed tables the rows must
// come in key order; the primary index is built to match.
void bulk_table(const std::string& path, const engine::TableSpec& definition, int rows, const RowMaker& make_row);

}  // namespace bench
