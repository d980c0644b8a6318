#pragma once
// Which fields of a .DB header a rewrite changed: the fixed fields by name
// (unnamed bytes as "byte 0x2B"), and the parts after them ("field table",
// "field names", "field IDs", "table name area", "sort-order id") when the
// old table's entries are not kept, in order, at the start of the new
// one's. Parsed on its own from pxlib's doc/pxformat.txt, so that it does
// not share the engine's mistakes.

#include <set>
#include <string>

namespace engine_test {

std::set<std::string> changed_header_fields(const std::string& before, const std::string& after);

// The fields a restructure that adds a column may change; every other
// field must come out as it went in.
const std::set<std::string>& fields_a_restructure_changes();

}  // namespace engine_test
