#include "engine/header_fields.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace engine_test {
namespace {

struct Fixed {
    std::size_t offset, size;
    const char* name;
    bool level4_only;
};

const Fixed kFixed[] = {
    {0x00, 2, "record size", false},      {0x02, 2, "header size", false},
    {0x04, 1, "file type", false},        {0x05, 1, "block size", false},
    {0x06, 4, "records", false},          {0x0A, 2, "next block", false},
    {0x0C, 2, "file blocks", false},      {0x0E, 2, "first block", false},
    {0x10, 2, "last block", false},       {0x12, 2, "change count", false},
    {0x14, 1, "modified flags 1", false}, {0x21, 2, "field count", false},
    {0x23, 2, "key fields", false},       {0x25, 4, "encryption 1", false},
    {0x29, 1, "sort order", false},       {0x2A, 1, "modified flags 2", false},
    {0x39, 1, "version", false},          {0x3A, 2, "max blocks", false},
    {0x49, 4, "auto increment", false},   {0x4D, 2, "first free block", false},
    {0x51, 2, "real header size", false}, {0x58, 4, "version words", true},
    {0x5C, 4, "encryption 2", true},      {0x60, 4, "update time", true},
    {0x64, 2, "hiFieldID", true},         {0x66, 2, "field IDs offset", true},
    {0x6A, 2, "code page", true},         {0x6E, 2, "sort-order id offset", true},
};

std::size_t u16(const std::string& b, std::size_t at) {
    return at + 2 <= b.size() ? static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8 : 0;
}

// The variable part of a header, entry by entry.
struct Parts {
    std::vector<std::string> field_table, names, ids;
    std::string table_name_area, sort_order_id;
};

Parts parts_of(const std::string& b) {
    Parts p;
    if (b.size() < 0x58) return p;
    const bool level4 = static_cast<unsigned char>(b[0x39]) >= 5;
    const std::size_t count = u16(b, 0x21), size = std::min(b.size(), u16(b, 0x02));
    std::size_t at = level4 ? 0x78 : 0x58;
    for (std::size_t i = 0; i < count && at + 2 <= size; ++i, at += 2) p.field_table.push_back(b.substr(at, 2));
    at += 4 + 4 * count;  // run-time pointers
    const std::size_t name_length = static_cast<unsigned char>(b[0x39]) >= 12 ? 261 : 79;
    if (at + name_length > size) return p;
    p.table_name_area = b.substr(at, name_length);
    at += name_length;
    for (std::size_t i = 0; i < count && at < size; ++i) {
        const std::size_t end = b.find('\0', at);
        if (end == std::string::npos || end >= size) return p;
        p.names.push_back(b.substr(at, end - at));
        at = end + 1;
    }
    if (!level4) return p;
    for (std::size_t i = 0; i < count && at + 2 <= size; ++i, at += 2) p.ids.push_back(b.substr(at, 2));
    const std::size_t id_at = 0x58 + u16(b, 0x6E);
    if (id_at < size) p.sort_order_id = b.substr(id_at, b.find('\0', id_at) - id_at);
    return p;
}

bool kept_as_prefix(const std::vector<std::string>& before, const std::vector<std::string>& after) {
    return before.size() <= after.size() && std::equal(before.begin(), before.end(), after.begin());
}

}  // namespace

std::set<std::string> changed_header_fields(const std::string& before, const std::string& after) {
    std::set<std::string> changed;
    const bool level4 = before.size() > 0x39 && static_cast<unsigned char>(before[0x39]) >= 5;
    const std::size_t fixed_end = level4 ? 0x78 : 0x58;
    std::vector<bool> named(fixed_end, false);
    for (const Fixed& f : kFixed) {
        if (f.level4_only && !level4) continue;
        for (std::size_t i = 0; i < f.size; ++i) named[f.offset + i] = true;
        if (before.compare(f.offset, f.size, after, f.offset, f.size) != 0) changed.insert(f.name);
    }
    for (std::size_t at = 0; at < fixed_end; ++at) {
        if (named[at] || (at < before.size() && at < after.size() && before[at] == after[at])) continue;
        char name[32];
        std::snprintf(name, sizeof name, "byte 0x%02zX", at);
        changed.insert(name);
    }
    const Parts old_parts = parts_of(before), new_parts = parts_of(after);
    if (!kept_as_prefix(old_parts.field_table, new_parts.field_table)) changed.insert("field table");
    if (!kept_as_prefix(old_parts.names, new_parts.names)) changed.insert("field names");
    if (!kept_as_prefix(old_parts.ids, new_parts.ids)) changed.insert("field IDs");
    if (old_parts.table_name_area != new_parts.table_name_area) changed.insert("table name area");
    if (old_parts.sort_order_id != new_parts.sort_order_id) changed.insert("sort-order id");
    return changed;
}

const std::set<std::string>& fields_a_restructure_changes() {
    static const std::set<std::string> fields = {
        "record size", "header size", "block size", "next block", "file blocks", "first block",
        "last block", "max blocks", "first free block", "field count", "real header size", "hiFieldID",
        "field IDs offset", "sort-order id offset",
    };
    return fields;
}

}  // namespace engine_test
