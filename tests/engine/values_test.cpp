// Text forms of stored values: what is accepted, what is refused, and the
// stored bytes the format defines.

#include "engine/values.h"
#include "platform/exception.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

engine::FieldDef field(std::uint8_t type, std::uint8_t size) {
    engine::FieldDef f;
    f.type = type;
    f.size_code = size;
    f.width = engine::field_width(type, size);
    f.name = "COL";
    return f;
}

std::vector<std::uint8_t> encode(const engine::FieldDef& f, const std::string& text) {
    std::vector<std::uint8_t> bytes(f.width, 0xEE);
    engine::encode_value(f, text, bytes.data());
    return bytes;
}

TEST(Values, StoredBytesFollowTheFormat) {
    // Big-endian, sign bit flipped; all zero is blank.
    EXPECT_EQ(encode(field(engine::kShort, 2), "1"), (std::vector<std::uint8_t>{0x80, 0x01}));
    EXPECT_EQ(encode(field(engine::kShort, 2), "256"), (std::vector<std::uint8_t>{0x81, 0x00}));
    EXPECT_EQ(encode(field(engine::kShort, 2), "-1"), (std::vector<std::uint8_t>{0x7F, 0xFF}));
    EXPECT_EQ(encode(field(engine::kLong, 4), ""), (std::vector<std::uint8_t>{0, 0, 0, 0}));
    // 4 May 1996 is day 728783 counting 1 January of year 1 as day 1.
    EXPECT_EQ(encode(field(engine::kDate, 4), "04.05.1996"), (std::vector<std::uint8_t>{0x80, 0x0B, 0x1E, 0xCF}));
    EXPECT_EQ(encode(field(engine::kDate, 4), "1996-05-04"), encode(field(engine::kDate, 4), "04.05.1996"));
    EXPECT_EQ(encode(field(engine::kLogical, 1), "true"), (std::vector<std::uint8_t>{0x81}));
    EXPECT_EQ(encode(field(engine::kAlpha, 3), "abcdef"), (std::vector<std::uint8_t>{'a', 'b', 'c'}));
    EXPECT_EQ(encode(field(engine::kAlpha, 4), "ab"), (std::vector<std::uint8_t>{'a', 'b', 0, 0}));
}

TEST(Values, NumbersSortByTheirBytes) {
    const engine::FieldDef number = field(engine::kNumber, 8);
    const std::vector<std::string> ascending = {"-1e300", "-2.5", "-0.001", "0", "1e-300", "3", "1e300"};
    for (std::size_t i = 1; i < ascending.size(); ++i)
        EXPECT_LT(encode(number, ascending[i - 1]), encode(number, ascending[i])) << ascending[i];
    for (const auto& text : ascending) {
        const auto bytes = encode(number, text);
        EXPECT_EQ(std::stod(engine::decode_value(number, bytes.data())), std::stod(text));
    }
}

TEST(Values, InvalidTextIsRefusedNamingTheColumn) {
    const std::vector<std::pair<engine::FieldDef, std::string>> bad = {
        {field(engine::kShort, 2), "32768"},      {field(engine::kShort, 2), "-32768"},
        {field(engine::kLong, 4), "12x"},         {field(engine::kNumber, 8), "nan"},
        {field(engine::kNumber, 8), "1e999"},     {field(engine::kDate, 4), "31.02.2023"},
        {field(engine::kDate, 4), "1.1"},         {field(engine::kTime, 4), "24:00"},
        {field(engine::kTime, 4), "12:60:00"},    {field(engine::kLogical, 1), "maybe"},
        {field(engine::kBcd, 2), "1.2.3"},        {field(engine::kAutoIncrement, 4), "5"},
        {field(engine::kMemo, 11), "text"},       {field(engine::kTimestamp, 8), "01.01.2000 x"},
    };
    for (const auto& [f, text] : bad) {
        try {
            encode(f, text);
            ADD_FAILURE() << "accepted '" << text << "' for type " << int(f.type);
        } catch (const Exception& e) {
            EXPECT_NE(e.Message().find("COL"), std::string::npos) << e.Message();
        }
    }
}

TEST(Values, CalendarRoundTripsOverItsWholeRange) {
    for (std::int64_t days = 1; days < 3652059; days += 997) {
        int y, m, d;
        engine::civil_from_days(days, y, m, d);
        EXPECT_EQ(engine::days_from_civil(y, m, d), days);
    }
    int y, m, d;
    engine::civil_from_days(1, y, m, d);
    EXPECT_EQ(y * 10000 + m * 100 + d, 10101);
}

}  // namespace
