#pragma once
// Identifiers that several rows of a table share, as the INI file sees them.

#include "model/dat_file_desc.h"

#include <string>
#include <vector>

struct DuplicateIdentifier {
    std::string Key;  // the identifier as the INI file matches it: trimmed, upper-cased
    int Rows = 0;     // how many entries of the list have it
};

// The identifiers of the list that two or more entries share once trimmed
// and upper-cased as INI keys are ("ab" and " AB" are one key), in the order
// of their first entry. Writing the list leaves the last entry of each.
std::vector<DuplicateIdentifier> FindDuplicateIdentifiers(const TDatFileDescList& list);

// The warning for one of them, in the ANSI code page.
std::string DuplicateWarning(const DuplicateIdentifier& duplicate);
