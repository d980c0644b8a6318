#pragma once
// The conversion run: one table file in, one INI file beside it out.

#include "stores/dat_file_path.h"

#include <functional>
#include <memory>

// Makes the two stores of a run; the driver owns and deletes them.
struct StoreFactory {
    std::function<std::unique_ptr<TDatFilePath>()> MakeTableStore;
    std::function<std::unique_ptr<TDatFilePath>()> MakeIniStore;
};

// The stores the program ships with: the table store and the INI store.
StoreFactory ProductionStores();

// Checks the argument count, prints the table's file name and full path and
// converts the table into an INI file; warns on standard error about
// identifiers that several rows share. "--help" or "-h" prints the help and
// "--version" the version instead, and nothing is created. Returns the exit
// code: 0 after a conversion or an option, -1 when the argument count is
// wrong. Failures leave as Exception after both stores have been deleted.
int ConvertTable(int argc, const char* const argv[], const StoreFactory& stores);
