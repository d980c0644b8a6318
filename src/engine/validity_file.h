#pragma once
// The .VAL file beside a table: its validity checks and referential
// integrity. A restructure that appends fields keeps every check as it is
// (checks name fields by position, and the old positions stay) and brings
// the parts that describe the table up to date: the header's ties to the
// table and the footer's list of fields.

#include "engine/format.h"

#include <cstdint>
#include <string>
#include <vector>

namespace engine {

// The .VAL file `bytes` (read from `path`) as it must be for `fresh`, the
// table `old` with fields appended. Throws Exception, naming the file, when
// the .VAL is of a layout this engine does not know or does not describe
// `old` as it is: such a file cannot be kept in step, and the restructure
// must not start.
std::vector<std::uint8_t> validity_file_for(const std::string& path, const std::vector<std::uint8_t>& bytes,
                                            const TableHeader& old, const TableHeader& fresh);

}  // namespace engine
