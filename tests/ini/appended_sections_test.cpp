#include "ini/appended_sections.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ini/document.h"
#include "ini/profile_file.h"
#include "platform/exception.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace {

using testing_support::read_bytes;
using testing_support::write_bytes;

const std::vector<std::string> kSections = {"NAME", "PATH"};

// Rows held as plain strings: a key and a value per section.
class Rows : public ini::KeyRows {
public:
    void add(std::string key, std::string name, std::string path) {
        rows_.push_back({std::move(key), std::move(name), std::move(path)});
    }
    std::size_t count() const override { return rows_.size(); }
    std::string_view key(std::size_t row) const override { return rows_[row][0]; }
    std::string_view value(std::size_t row, std::size_t column, std::string& room) const override {
        room = rows_[row][1 + column];  // made in the caller's room, as rows made on the fly are
        return room;
    }

private:
    std::vector<std::vector<std::string>> rows_;
};

// The text set_value gives for every row and section in turn, once the
// sections are erased; or the (row, column) of the write it refuses.
struct Expected {
    std::string text;
    std::optional<std::pair<std::size_t, std::size_t>> refused;
};
Expected by_set_value(const std::string& before, const Rows& rows) {
    ini::ProfileDocument document(before);
    for (const std::string& section : kSections) document.erase_section(section);
    std::string room;
    for (std::size_t row = 0; row < rows.count(); ++row) {
        for (std::size_t column = 0; column < kSections.size(); ++column) {
            try {
                document.set_value(kSections[column], rows.key(row), rows.value(row, column, room));
            } catch (const Exception&) {
                return {{}, std::make_pair(row, column)};
            }
        }
    }
    return {document.text(), std::nullopt};
}

class AppendedSectionsTest : public ::testing::Test {
protected:
    testing_support::TempDir dir;
    std::string file = dir.file("paths.ini");

    // Saves the file with the rows appended, as a fresh ProfileFile does
    // after erasing the sections.
    std::string appended(const std::string& before, const Rows& rows) {
        write_bytes(file, before);
        ini::ProfileFile profile(file);
        for (const std::string& section : kSections) profile.document().erase_section(section);
        const ini::AppendedSections sections(kSections, rows);
        profile.save(sections);
        const std::string text = read_bytes(file);
        if (rows.count() != 0) {
            EXPECT_EQ(sections.size() + profile.document().size(), text.size());
        }
        return text;
    }
};

TEST_F(AppendedSectionsTest, WriteWhatSetValueWritesKeyByKey) {
    const std::string befores[] = {
        "",
        "[OTHER]\r\nA=1",                          // no line break at the end
        "; top\n[NAME]\nX=1\n[other]\nB=2\n\n\n",  // blank lines after the last line
        "[A]\rk=v\r[path]\rX=1\r",                 // CR only; the erased section last
        "[NAME]\r\nA=1\r\n[Z]\r\nq=1   ",          // a last line ending in blanks
    };
    Rows plain;
    plain.add("ONE", "first", "ONE.DAT");
    plain.add("TWO", "", "");  // empty values
    plain.add("THREE", "third", "C:\\DATA\\THREE.DAT");

    Rows duplicates;  // keys match whatever their case and outer blanks
    duplicates.add("abc", "first", "A.DAT");
    duplicates.add("XYZ", "kept", "X.DAT");
    duplicates.add("ABC", "a much longer second name", "B.DAT");
    duplicates.add(" Abc ", "", "C.DAT");
    duplicates.add("xyz", "kept", "X.DAT");  // same values: nothing changes
    duplicates.add("LAST", "l", "L.DAT");
    duplicates.add("abc", "final", "D.DAT");

    Rows large;  // lines longer than a piece, and many pieces
    large.add("BIG", std::string((1 << 20) + 7, 'n'), "B.DAT");
    for (int i = 0; i < 40000; ++i) large.add("ID" + std::to_string(i), "name " + std::to_string(i), "F.DAT");
    large.add("id7", "replaced", std::string(3 << 19, 'p'));

    const Rows none;
    for (const Rows* rows : std::initializer_list<const Rows*>{&plain, &duplicates, &large, &none}) {
        for (const std::string& before : befores) {
            const Expected expected = by_set_value(before, *rows);
            ASSERT_FALSE(expected.refused);
            const std::string actual = appended(before, *rows);
            // Texts of megabytes: only where they part is shown.
            const auto mismatch = std::mismatch(actual.begin(), actual.end(), expected.text.begin(), expected.text.end());
            EXPECT_TRUE(actual == expected.text)
                << "rows: " << rows->count() << ", file: " << before << "; " << actual.size() << " bytes against "
                << expected.text.size() << ", first difference at " << (mismatch.first - actual.begin()) << ": "
                << std::string(mismatch.first, mismatch.first + std::min<std::ptrdiff_t>(40, actual.end() - mismatch.first));
        }
    }
}

TEST_F(AppendedSectionsTest, RefuseTheFirstWriteSetValueRefusesAndTouchNothing) {
    const auto rows_with = [](std::size_t at, std::string key, std::string name, std::string path) {
        Rows rows;
        for (std::size_t i = 0; i < 4; ++i) {
            if (i == at) rows.add(key, name, path);
            else rows.add("K" + std::to_string(i), "n", "p");
        }
        rows.add("LATER", "x\ny", "");  // refused too, but later
        return rows;
    };
    const Rows cases[] = {
        rows_with(0, "A=B", "ok", "ok"),    // key: refused with the first section
        rows_with(1, "OK", "two\r\nX=1", "ok"),
        rows_with(2, "OK", "ok", std::string("a\0b", 3)),
        rows_with(3, ";C", "ok", "ok"),
        rows_with(2, " ", "ok", "ok"),
        rows_with(1, "K0", "duplicate key, bad value\r", "ok"),
    };
    const std::string before = "[NAME]\r\nOLD=1\r\n";
    for (const Rows& rows : cases) {
        const Expected expected = by_set_value(before, rows);
        ASSERT_TRUE(expected.refused);
        write_bytes(file, before);
        try {
            const ini::AppendedSections sections(kSections, rows);
            ADD_FAILURE() << "accepted rows set_value refuses at row " << expected.refused->first;
        } catch (const ini::RefusedRow& refused) {
            EXPECT_EQ(std::make_pair(refused.row(), refused.column()), *expected.refused);
        }
        EXPECT_EQ(read_bytes(file), before);
    }
    try {
        const ini::AppendedSections sections({"NAME", "BAD]"}, rows_with(9, "", "", ""));
        ADD_FAILURE() << "accepted a section name that cannot be a header";
    } catch (const ini::RefusedRow&) {
        ADD_FAILURE() << "the section name is checked before the rows";
    } catch (const Exception&) {
    }
}

}  // namespace
