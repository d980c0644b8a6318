// pxlib reading a whole table, as the yardstick for our conversion: every
// row is read and its first three columns are taken as text, which is what
// the conversion reads. Prints the row count; a process of its own, so it
// is timed like path2ini.
//   pxlib_read TABLE

extern "C" {
#include <paradox.h>
}

#include <cstdio>
#include <vector>

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pxlib_read TABLE\n");
        return 2;
    }
    PX_boot();
    pxdoc_t* doc = PX_new();
    if (PX_open_file(doc, argv[1]) < 0) {
        std::fprintf(stderr, "pxlib cannot open %s\n", argv[1]);
        return 1;
    }
    const int records = PX_get_num_records(doc);
    const pxfield_t* fields = PX_get_fields(doc);
    const int columns = PX_get_num_fields(doc) < 3 ? PX_get_num_fields(doc) : 3;
    std::vector<char> record(static_cast<std::size_t>(PX_get_recordsize(doc)));
    long bytes = 0;
    for (int r = 0; r < records; ++r) {
        if (PX_get_record(doc, r, record.data()) == nullptr) {
            std::fprintf(stderr, "pxlib cannot read row %d\n", r);
            return 1;
        }
        int offset = 0;
        for (int f = 0; f < columns; ++f) {
            char* value = nullptr;
            if (PX_get_data_alpha(doc, record.data() + offset, fields[f].px_flen, &value) > 0 && value != nullptr) {
                for (const char* c = value; *c != '\0'; ++c) ++bytes;
                doc->free(doc, value);
            }
            offset += fields[f].px_flen;
        }
    }
    std::printf("%d rows, %ld bytes of text\n", records, bytes);
    PX_close(doc);
    PX_delete(doc);
    PX_shutdown();
    return 0;
}
