#include "stores/dat_file_path.h"

void TDatFilePath::WriteEntry(const std::string& /*path*/, TDatFileDesc& /*entry*/) {}
