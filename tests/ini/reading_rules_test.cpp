#include "ini/reading_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using ini::ProfileEntryProblem;

TEST(ProfileReading, ValuesAreTrimmedAndLoseOneOuterPairOfQuotes) {
    const struct {
        const char* raw;
        const char* read;
    } cases[] = {
        {"  plain \t", "plain"},    {"\"x\"", "x"},         {"\" sp \"", " sp "},
        {"'x'", "x"},               {"\"a\"b\"", "a\"b"},   {"'a\"", "'a\""},
        {"\"", "\""},               {"\"\"", ""},           {"a;b", "a;b"},
        {"#x", "#x"},               {"\x0B\x0Cv\x0D", "v"}, {"''x''", "'x'"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ini::profile_value_as_read(c.raw), c.read) << "raw: " << c.raw;
        EXPECT_EQ(ini::profile_value_reads_back(c.raw), std::string(c.raw) == c.read)
            << "raw: " << c.raw;
    }
    for (const char* same : {"", "x", "a;b", "\"", "'a\"", "a \"b\" c", "\"a\" b"}) {
        EXPECT_EQ(ini::profile_value_as_read(same), same);
        EXPECT_TRUE(ini::profile_value_reads_back(same)) << "value: " << same;
    }
}

TEST(ProfileWriting, RefusesWhatWouldChangeTheStructure) {
    EXPECT_EQ(ini::check_profile_entry("k", "a\r\nb"), ProfileEntryProblem::line_break_in_value);
    EXPECT_EQ(ini::check_profile_entry("k", std::string("a\0b", 3)),
              ProfileEntryProblem::line_break_in_value);
    EXPECT_EQ(ini::check_profile_entry("k\n", "v"), ProfileEntryProblem::line_break_in_key);
    EXPECT_EQ(ini::check_profile_entry(" \t", "v"), ProfileEntryProblem::empty_key);
    EXPECT_EQ(ini::check_profile_entry("a=b", "v"), ProfileEntryProblem::equals_in_key);
    EXPECT_EQ(ini::check_profile_entry(" [x]", "v"),
              ProfileEntryProblem::key_looks_like_section_or_comment);
    EXPECT_EQ(ini::check_profile_entry(";x", "v"),
              ProfileEntryProblem::key_looks_like_section_or_comment);
    EXPECT_EQ(ini::check_profile_entry("x[;]", "a=b;c[d]"), ProfileEntryProblem::none);
    EXPECT_FALSE(ini::valid_profile_section("a]b"));
}

TEST(ProfileWriting, FindsALineBreakOrZeroAnywhereInALongValue) {
    // Values are checked eight bytes at a time, the last eight apart.
    for (std::size_t size = 1; size <= 26; ++size) {
        EXPECT_EQ(ini::check_profile_entry("k", std::string(size, 'v')), ProfileEntryProblem::none) << size;
        for (std::size_t at = 0; at < size; ++at) {
            for (const char c : {'\r', '\n', '\0'}) {
                std::string value(size, 'v');
                value[at] = c;
                EXPECT_EQ(ini::check_profile_entry("k", value), ProfileEntryProblem::line_break_in_value)
                    << "size " << size << ", at " << at;
            }
        }
    }
}

}  // namespace
