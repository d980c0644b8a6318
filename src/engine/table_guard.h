#pragma once
// The checks a table passes before anything changes it.

#include <string>

namespace engine {

struct TableHeader;

// Refuses, with an Exception, an encrypted table whose password the session
// does not hold: it can be neither read nor changed.
void check_password(const std::string& table_path, const TableHeader& header);

// How a change reaches the table.
struct ChangeRequest {
    bool read_only = false;       // through a dataset opened for reading only
    bool check_password = true;   // false: checked when the dataset was opened
};

// The one decision whether a table may be changed, taken before anything
// changes it. Refuses, with an Exception and nothing changed, in this order:
// a dataset opened read-only; an encrypted table whose password the session
// does not hold; a table that another program has open (its own .LCK file
// exists, or PDOXUSRS.LCK in its folder names it); one marked
// write-protected; one with secondary indexes (.Xnn/.Ynn, which would go
// out of date).
void check_may_change(const std::string& table_path, const TableHeader& header,
                      const ChangeRequest& request = {});

}  // namespace engine
