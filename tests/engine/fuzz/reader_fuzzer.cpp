// libFuzzer target over the table reader: the input is a .DB file (its
// first two bytes, little-endian, say where a .MB file starts within it).
// Every row is read, every column as text; bad input must end in an
// Exception, never a crash, a hang or a sanitizer report.

#include "engine/engine.h"
#include "fuzz/memory_file_system.h"
#include "platform/exception.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static engine_fuzz::MemoryFileSystem fs;
    static platform::ScopedFileSystem installed(fs);
    static bool password = [] {
        engine::Session::instance().add_password("TRAX_OPR");
        return true;
    }();
    (void)password;
    const std::size_t split = std::min<std::size_t>(size, 2 + (data[0] | (data[1] << 8)));
    fs.files.clear();
    fs.files["/fuzz/T.DB"].assign(reinterpret_cast<const char*>(data + 2), split - 2);
    if (split < size) fs.files["/fuzz/T.MB"].assign(reinterpret_cast<const char*>(data + split), size - split);
    try {
        engine::Table table;
        table.set_table_name("/fuzz/T.DB");
        table.open();
        for (int rows = 0; !table.eof() && rows < 100000; ++rows) {
            for (int i = 0; i < table.field_count(); ++i) {
                try {
                    (void)table.field(i).as_string();
                } catch (const Exception&) {
                }
            }
            table.next();
        }
    } catch (const Exception&) {
    }
    return 0;
}
