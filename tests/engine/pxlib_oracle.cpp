#include "engine/pxlib_oracle.h"

extern "C" {
#include <paradox.h>
}

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace engine_test {
namespace {

struct Doc {
    pxdoc_t* doc = PX_new();
    ~Doc() {
        PX_close(doc);
        PX_delete(doc);
    }
};

char pxlib_type(char type) {
    switch (type) {
    case 'A': return pxfAlpha;
    case 'S': return pxfShort;
    case 'I': return pxfLong;
    case 'N': return pxfNumber;
    case '$': return pxfCurrency;
    case 'D': return pxfDate;
    case 'L': return pxfLogical;
    case 'M': return pxfMemoBLOb;
    default: throw std::runtime_error("pxlib oracle: unsupported type");
    }
}

int width(const OracleField& f) {
    switch (f.type) {
    case 'A': return f.size;
    case 'S': return 2;
    case 'I': case 'D': return 4;
    case 'L': return 1;
    case 'M': return f.size + 10;
    default: return 8;
    }
}

// pxlib counts dates from 1 January 4713 BC (its Sdn); the format counts
// days from 1 January of year 1 as day 1.
long to_format_days(int year, int month, int day) {
    return PX_GregorianToSdn(year, month, day) - PX_GregorianToSdn(1, 1, 1) + 1;
}

std::string format_double(double v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    double back = std::strtod(buffer, nullptr);
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(buffer, sizeof buffer, "%.*g", precision, v);
        back = std::strtod(buffer, nullptr);
        if (back == v) break;
    }
    return buffer;
}

}  // namespace

void pxlib_write(const std::string& path, const std::vector<OracleField>& fields,
                 const std::vector<Row>& rows, const std::string& password, int key_fields) {
    Doc d;
    std::vector<pxfield_t> defs(fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i) {
        defs[i].px_fname = static_cast<char*>(std::malloc(fields[i].name.size() + 1));
        std::strcpy(defs[i].px_fname, fields[i].name.c_str());
        defs[i].px_ftype = pxlib_type(fields[i].type);
        defs[i].px_flen = width(fields[i]);
        defs[i].px_fdc = 0;
    }
    // pxlib takes ownership of the field array and names.
    auto* owned = static_cast<pxfield_t*>(std::malloc(sizeof(pxfield_t) * defs.size()));
    std::memcpy(owned, defs.data(), sizeof(pxfield_t) * defs.size());
    if (PX_create_file(d.doc, owned, static_cast<int>(fields.size()), path.c_str(),
                       key_fields > 0 ? pxfFileTypIndexDB : pxfFileTypNonIndexDB) < 0)
        throw std::runtime_error("pxlib cannot create " + path);
    // "numprimkeys" sets the key; "primarykeyfields" only reads it back.
    if (key_fields > 0) PX_set_value(d.doc, "numprimkeys", static_cast<float>(key_fields));
    if (!password.empty()) PX_set_parameter(d.doc, "password", password.c_str());
    for (const auto& f : fields)
        if (f.type == 'M') {
            std::string blob_path = path.substr(0, path.size() - 2) + "MB";
            if (PX_set_blob_file(d.doc, blob_path.c_str()) < 0) throw std::runtime_error("pxlib cannot create " + blob_path);
            break;
        }
    int record_size = 0;
    for (const auto& f : fields) record_size += width(f);
    std::vector<char> record(static_cast<std::size_t>(record_size));
    for (const Row& row : rows) {
        std::fill(record.begin(), record.end(), 0);
        int at = 0;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const OracleField& f = fields[i];
            const std::string& v = row[i];
            char* p = record.data() + at;
            at += width(f);
            if (v.empty()) continue;
            switch (f.type) {
            case 'A': std::memcpy(p, v.data(), std::min<std::size_t>(v.size(), static_cast<std::size_t>(f.size))); break;
            case 'S': PX_put_data_short(d.doc, p, 2, static_cast<short>(std::stoi(v))); break;
            case 'I': PX_put_data_long(d.doc, p, 4, std::stoi(v)); break;
            case 'N': case '$': PX_put_data_double(d.doc, p, 8, std::stod(v)); break;
            case 'L': PX_put_data_byte(d.doc, p, 1, v == "True" ? 1 : 0); break;
            case 'M': {
                std::string copy = v;
                if (PX_put_data_blob(d.doc, p, width(f), copy.data(), static_cast<int>(copy.size())) < 0)
                    throw std::runtime_error("pxlib cannot write a memo");
                break;
            }
            case 'D': {
                int day = 0, month = 0, year = 0;
                std::sscanf(v.c_str(), "%d.%d.%d", &day, &month, &year);
                PX_put_data_long(d.doc, p, 4, static_cast<int>(to_format_days(year, month, day)));
                break;
            }
            }
        }
        if (PX_put_record(d.doc, record.data()) < 0) throw std::runtime_error("pxlib cannot write a row");
    }
}

void relabel(const std::string& path, std::uint8_t sort_order, const std::string& id, int code_page) {
    std::string bytes;
    {
        std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(path.c_str(), "rb"), &std::fclose);
        if (!in) throw std::runtime_error("cannot open " + path);
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in.get())) > 0;) bytes.append(buffer, n);
    }
    const std::string old_id = "ANSIINTL";
    const std::size_t header_size = static_cast<unsigned char>(bytes[2]) | static_cast<unsigned char>(bytes[3]) << 8;
    const std::size_t at = bytes.find(old_id + '\0', 0x78);
    if (at == std::string::npos || at > header_size || id.size() > old_id.size())
        throw std::runtime_error("relabel: no room for the id in " + path);
    bytes.replace(at, old_id.size(), id + std::string(old_id.size() - id.size(), '\0'));
    bytes[0x6E] = static_cast<char>((at - 0x58) & 0xFF);
    bytes[0x6F] = static_cast<char>((at - 0x58) >> 8);
    bytes[0x29] = static_cast<char>(sort_order);
    bytes[0x6A] = static_cast<char>(code_page & 0xFF);
    bytes[0x6B] = static_cast<char>(code_page >> 8);
    std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(path.c_str(), "r+b"), &std::fclose);
    if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out.get()) != bytes.size())
        throw std::runtime_error("cannot rewrite " + path);
}

namespace {

// The fields and every row of a table pxlib has open.
void read_fields_and_rows(pxdoc_t* doc, OracleTable& t) {
    pxhead_t* head = doc->px_head;
    t.checksum = static_cast<long>(head->px_encryption);
    t.code_page = head->px_doscodepage;
    const int n = PX_get_num_fields(doc);
    for (int i = 0; i < n; ++i) {
        pxfield_t* f = PX_get_field(doc, i);
        char type = '?';
        switch (f->px_ftype) {
        case pxfAlpha: type = 'A'; break;
        case pxfShort: type = 'S'; break;
        case pxfLong: type = 'I'; break;
        case pxfNumber: type = 'N'; break;
        case pxfCurrency: type = '$'; break;
        case pxfDate: type = 'D'; break;
        case pxfLogical: type = 'L'; break;
        default: break;
        }
        t.fields.push_back({f->px_fname, type, f->px_flen});
    }
    std::vector<char> record(static_cast<std::size_t>(PX_get_recordsize(doc)));
    for (int r = 0; r < PX_get_num_records(doc); ++r) {
        if (PX_get_record(doc, r, record.data()) == nullptr) throw std::runtime_error("pxlib cannot read a row");
        Row row;
        int at = 0;
        for (const OracleField& f : t.fields) {
            char* p = record.data() + at;
            at += f.size;
            std::string v;
            bool blank = true;
            for (int i = 0; i < f.size; ++i) blank = blank && p[i] == 0;
            if (!blank) {
                switch (f.type) {
                case 'A': v.assign(p, strnlen(p, static_cast<std::size_t>(f.size))); break;
                case 'S': { short s = 0; PX_get_data_short(doc, p, 2, &s); v = std::to_string(s); break; }
                case 'I': { long l = 0; PX_get_data_long(doc, p, 4, &l); v = std::to_string(l); break; }
                case 'N': case '$': { double x = 0; PX_get_data_double(doc, p, 8, &x); v = format_double(x); break; }
                case 'L': { char c = 0; PX_get_data_byte(doc, p, 1, &c); v = c ? "True" : "False"; break; }
                case 'D': {
                    long days = 0;
                    PX_get_data_long(doc, p, 4, &days);
                    int year = 0, month = 0, day = 0;
                    PX_SdnToGregorian(days + PX_GregorianToSdn(1, 1, 1) - 1, &year, &month, &day);
                    char buffer[32];
                    std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d", day, month, year);
                    v = buffer;
                    break;
                }
                default: v = "?";
                }
            }
            row.push_back(v);
        }
        t.rows.push_back(row);
    }
}

}  // namespace

OracleTable pxlib_read(const std::string& path, const std::string& password) {
    OracleTable t;
    FILE* fp = std::fopen(path.c_str(), "rb");
    if (fp == nullptr) throw std::runtime_error("cannot open " + path);
    std::unique_ptr<FILE, int (*)(FILE*)> file(fp, &std::fclose);
    Doc d;
    if (PX_open_fp(d.doc, fp) < 0) throw std::runtime_error("pxlib cannot open " + path);
    if (!password.empty()) PX_set_parameter(d.doc, "password", password.c_str());
    read_fields_and_rows(d.doc, t);
    return t;
}

OracleIndex pxlib_read_index(const std::string& table_path, const std::string& index_path,
                             const std::string& password) {
    using File = std::unique_ptr<FILE, int (*)(FILE*)>;
    File table_file(std::fopen(table_path.c_str(), "rb"), &std::fclose);
    File index_file(std::fopen(index_path.c_str(), "rb"), &std::fclose);
    if (!table_file || !index_file) throw std::runtime_error("cannot open " + table_path + " or " + index_path);
    OracleIndex result;
    // The index outlives the table's document, which may come to use it.
    Doc index;
    if (PX_open_fp(index.doc, index_file.get()) < 0) throw std::runtime_error("pxlib cannot open " + index_path);
    {
        Doc table;
        if (PX_open_fp(table.doc, table_file.get()) < 0) throw std::runtime_error("pxlib cannot open " + table_path);
        if (!password.empty()) PX_set_parameter(table.doc, "password", password.c_str());
        result.read = PX_read_primary_index(index.doc) == 0;
        if (result.read) {
            auto* entries = static_cast<pxpindex_t*>(index.doc->px_data);
            for (int i = 0; i < index.doc->px_datalen; ++i)
                result.entries.push_back({entries[i].blocknumber, entries[i].numrecords, entries[i].myblocknumber,
                                          entries[i].level});
            // pxlib built an index of its own when it opened the table; it
            // frees that one, and never the one it is given.
            void* built = table.doc->px_indexdata;
            const int built_length = table.doc->px_indexdatalen;
            result.accepted = PX_add_primary_index(table.doc, index.doc) == 0;
            if (result.accepted) {
                OracleTable t;
                read_fields_and_rows(table.doc, t);
                result.rows = t.rows;
                table.doc->px_pindex = nullptr;
                table.doc->px_indexdata = built;
                table.doc->px_indexdatalen = built_length;
            }
            // pxlib leaves the keys it copied to its callers.
            for (int i = 0; i < index.doc->px_datalen; ++i) index.doc->free(index.doc, entries[i].data);
        }
    }
    return result;
}

}  // namespace engine_test
