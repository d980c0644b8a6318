#pragma once
// The checks a table passes before anything changes it.

#include <string>

namespace engine {

struct TableHeader;

// Refuses, with an Exception and nothing changed, to change a table that
// another program has open (its own .LCK file exists, or PDOXUSRS.LCK in
// its folder names it), that has secondary indexes (.Xnn/.Ynn, which would
// go out of date) or that is marked write-protected.
void check_table_changeable(const std::string& table_path, const TableHeader& header);

}  // namespace engine
