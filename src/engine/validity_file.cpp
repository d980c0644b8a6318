// The layout, from leonhad/paradoxdriver's doc/Validation.md (valid, it
// says, for versions 0x09 to 0x0B) and checked against the 17 .VAL files of
// those versions found beside public tables the old engine wrote (little-
// endian):
//
//   0x00  u8   the table's change count at 0x2E
//   0x01  u8   version (the table's version byte at 0x39)
//   0x02  u8   number of validity checks
//   0x03  u32  the table's update time at 0x60 (called an internal pointer
//              in the documentation; equal in every file seen)
//   0x07  u16  the table's hiFieldID at 0x64 (not documented; equal in every
//              file seen)
//   0x09  u32  where the footer starts
//   0x0D  u32  where referential integrity starts (0: none)
//   0x35       the checks, then referential integrity; they name fields by
//              position
//   footer     u16 field count, u16 key field count, u16 size of the table
//              name and the names (0x4F + each name and its NUL), the field
//              IDs (u16 each, as the table lists them), type and size byte of
//              each field, the table name (0x4F bytes), the NUL-terminated
//              field names; the file ends there.
//
// Level 3 tables' .VAL files (version 1) are laid out otherwise.

#include "engine/validity_file.h"

#include "engine/bytes.h"
#include "platform/exception.h"

#include <cstring>

namespace engine {
namespace {

constexpr std::size_t kBody = 0x35;
constexpr std::size_t kFooterName = 0x4F;

[[noreturn]] void refuse(const std::string& path, const std::string& what) {
    throw Exception("The validity check file " + path + " " + what +
                    "; the table is left unchanged, as its checks could not be kept in step with it");
}

struct Footer {
    std::size_t at = 0;
    std::size_t key_fields = 0;
    std::vector<std::uint16_t> ids;
    std::vector<std::pair<std::uint8_t, std::uint8_t>> types;
    std::size_t table_name = 0;  // offset of the 0x4F-byte table name
    std::vector<std::string> names;
};

Footer read_footer(const std::string& path, const std::vector<std::uint8_t>& v) {
    Footer f;
    f.at = get_u32(&v[0x09]);
    if (f.at < kBody || f.at + 6 > v.size()) refuse(path, "has its footer outside the file");
    const std::uint8_t* p = v.data();
    const std::size_t count = get_u16(p + f.at);
    f.key_fields = get_u16(p + f.at + 2);
    const std::size_t names_size = get_u16(p + f.at + 4);
    std::size_t at = f.at + 6;
    if (count == 0 || count > 255 || at + count * 4 + kFooterName > v.size())
        refuse(path, "lists " + std::to_string(count) + " fields, which do not fit its footer");
    for (std::size_t i = 0; i < count; ++i) f.ids.push_back(get_u16(p + at + 2 * i));
    at += 2 * count;
    for (std::size_t i = 0; i < count; ++i) f.types.emplace_back(p[at + 2 * i], p[at + 2 * i + 1]);
    at += 2 * count;
    f.table_name = at;
    at += kFooterName;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t length = bounded_length(p + at, v.size() - at);
        if (at + length >= v.size()) refuse(path, "has field names that run past its end");
        f.names.emplace_back(reinterpret_cast<const char*>(p + at), length);
        at += length + 1;
    }
    if (at != v.size()) refuse(path, "goes on after its footer");
    if (names_size != at - f.table_name) refuse(path, "gives a wrong size for its field names");
    return f;
}

}  // namespace

std::vector<std::uint8_t> validity_file_for(const std::string& path, const std::vector<std::uint8_t>& bytes,
                                            const TableHeader& old, const TableHeader& fresh) {
    if (bytes.size() < kBody) refuse(path, "is too short");
    const unsigned version = bytes[0x01];
    if (version < 0x09 || version > 0x0B || !old.level4())
        refuse(path, "is of version " + std::to_string(version) + ", whose layout this program does not know");
    const Footer footer = read_footer(path, bytes);
    const std::uint32_t integrity = get_u32(&bytes[0x0D]);
    if (integrity != 0 && (integrity < kBody || integrity > footer.at))
        refuse(path, "has its referential integrity outside the file");

    // It must describe the table as it is now: the same fields, and the
    // header's ties to the table.
    bool same = footer.ids == old.field_ids && footer.key_fields == old.key_fields;
    for (std::size_t i = 0; same && i < old.fields.size(); ++i)
        same = footer.types[i] == std::make_pair(old.fields[i].type, old.fields[i].size_code) &&
               footer.names[i] == old.fields[i].name;
    if (!same) refuse(path, "lists other fields than the table has");
    if (bytes[0x00] != old.bytes[0x2E] || get_u32(&bytes[0x03]) != get_u32(&old.bytes[0x60]) ||
        get_u16(&bytes[0x07]) != old.high_field_id)
        refuse(path, "belongs to another version of the table (its change count, update time or field ID "
                     "differ from the table's)");

    std::vector<std::uint8_t> out(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(footer.at));
    out[0x00] = fresh.bytes[0x2E];
    std::memcpy(&out[0x03], &fresh.bytes[0x60], 4);
    put_u16(&out[0x07], fresh.high_field_id);

    const std::size_t count = fresh.fields.size();
    std::size_t names_size = kFooterName;
    for (const FieldDef& f : fresh.fields) names_size += f.name.size() + 1;
    if (names_size > 0xFFFF) throw Exception("The field names of " + path + " would not fit its footer");
    std::uint8_t word[2];
    auto append_u16 = [&](std::uint32_t value) {
        put_u16(word, value);
        out.insert(out.end(), word, word + 2);
    };
    append_u16(static_cast<std::uint32_t>(count));
    append_u16(static_cast<std::uint32_t>(footer.key_fields));
    append_u16(static_cast<std::uint32_t>(names_size));
    for (std::uint16_t id : fresh.field_ids) append_u16(id);
    for (const FieldDef& f : fresh.fields) {
        out.push_back(f.type);
        out.push_back(f.size_code);
    }
    out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(footer.table_name),
               bytes.begin() + static_cast<std::ptrdiff_t>(footer.table_name + kFooterName));
    for (const FieldDef& f : fresh.fields) {
        out.insert(out.end(), f.name.begin(), f.name.end());
        out.push_back(0);
    }
    return out;
}

}  // namespace engine
