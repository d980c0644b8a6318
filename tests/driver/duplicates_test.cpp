#include "driver/duplicates.h"
#include "platform/cp1251.h"

#include <gtest/gtest.h>

namespace {

TDatFileDescList list_of(const std::vector<std::string>& ids) {
    TDatFileDescList list;
    for (const std::string& id : ids) list.Add().Id = id;
    return list;
}

std::vector<std::pair<std::string, int>> found(const TDatFileDescList& list) {
    std::vector<std::pair<std::string, int>> result;
    for (const DuplicateIdentifier& d : FindDuplicateIdentifiers(list)) result.emplace_back(d.Key, d.Rows);
    return result;
}

TEST(DuplicateIdentifiers, AreTheKeysTheIniFileMatchesAlike) {
    // Blanks around an identifier and the case of its letters, Cyrillic ones
    // included, make no other INI key; inner blanks do.
    const std::vector<std::pair<std::string, int>> expected{{"AB", 3}, {cp1251("ЖУ"), 2}};
    EXPECT_EQ(found(list_of({" ab", "A B", cp1251("жу"), "AB\t", "x", "Ab", cp1251("ЖУ ")})), expected);
    EXPECT_TRUE(found(list_of({"A", "B", "AB", ""})).empty());
    EXPECT_TRUE(found(TDatFileDescList()).empty());
}

TEST(DuplicateIdentifiers, LongIdentifiersFoldInEveryPart) {
    // Identifiers longer than eight bytes: a small letter in the first eight,
    // in the rest, or after a Cyrillic one, and the bytes just outside "a" to
    // "z", which have no capitals.
    const std::vector<std::pair<std::string, int>> expected{
        {"PATH_TABLE_ROW_1", 2}, {"IDENTIFIER_A", 2}, {cp1251("ЖЖЖЖЖЖЖЖ_ABC"), 2}};
    EXPECT_EQ(found(list_of({"path_table_row_1", "PATH_TABLE_ROW_1", "IDENTIFIER_a", "IDENTIFIER_A",
                             cp1251("жЖЖЖЖЖЖЖ_abc"), cp1251("ЖЖЖЖЖЖЖЖ_ABC"), "ABCDEFG`{", "ABCDEFG@["})),
              expected);
}

TEST(DuplicateIdentifiers, ManyRowsEachSharedKeyFoundOnce) {
    // More rows than a slot's low bits hold in a small table: the key's tag
    // and the row share each slot. Ten thousand keys come twice, the second
    // time in small letters; the rest once.
    std::vector<std::string> ids;
    for (int i = 0; i < 70000; ++i) ids.push_back((i < 60000 ? "ID" : "id") + std::to_string(i % 60000));
    const auto duplicates = found(list_of(ids));
    ASSERT_EQ(duplicates.size(), 10000u);
    for (int i = 0; i < 10000; ++i) {
        EXPECT_EQ(duplicates[static_cast<std::size_t>(i)].first, "ID" + std::to_string(i));
        EXPECT_EQ(duplicates[static_cast<std::size_t>(i)].second, 2);
    }
}

}  // namespace
