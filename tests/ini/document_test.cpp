#include "ini/document.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/exception.h"

namespace {

using ini::ProfileDocument;

TEST(ProfileReading, LinesOfAnyEndingCommentsAndKeylessLines) {
    for (const std::string eol : {"\r\n", "\n", "\r", "\r\r\n\n"}) {
        const ProfileDocument doc("k0=outside" + eol + "[ s1 ] junk" + eol + "name1 = val1 " + eol +
                                  ";hidden=1" + eol + "  ; also=hidden" + eol + "name2=" + eol +
                                  "name3" + eol + "=nameless" + eol + "name4=a;b");
        EXPECT_EQ(doc.key_names("S1"), (std::vector<std::string>{"name1", "name2", "name4"}))
            << "line end " << eol.size();
        EXPECT_EQ(doc.value("s1", "NAME1"), "val1");
        EXPECT_EQ(doc.value("s1", " name2 "), "");
        EXPECT_EQ(doc.value("s1", "name4"), "a;b");
        EXPECT_EQ(doc.value("s1", "name3"), std::nullopt);
        EXPECT_EQ(doc.value("s1", ";hidden"), std::nullopt);
        EXPECT_EQ(doc.value("", "k0"), std::nullopt);  // before any section
        // Parsed, not rebuilt: the text comes back byte for byte.
        EXPECT_EQ(doc.text(), "k0=outside" + eol + "[ s1 ] junk" + eol + "name1 = val1 " + eol +
                                  ";hidden=1" + eol + "  ; also=hidden" + eol + "name2=" + eol +
                                  "name3" + eol + "=nameless" + eol + "name4=a;b");
    }
}

TEST(ProfileReading, FirstOfDuplicatesWinsAndCaseFoldsOverTheCodePage) {
    // Cyrillic in 1251: "Привет" / "пРИВЕТ", "ё" / "Ё".
    const ProfileDocument doc(
        "[s]\r\nk=1\r\nK=2\r\n\xCF\xF0\xE8\xE2\xE5\xF2=ru\r\n\xB8=yo\r\n[S]\r\nk=3\r\nother=4\r\n");
    EXPECT_EQ(doc.value("s", "k"), "1");
    EXPECT_EQ(doc.value("S", "other"), std::nullopt);  // only the first section is searched
    EXPECT_EQ(doc.key_names("s"), (std::vector<std::string>{"k", "K", "\xCF\xF0\xE8\xE2\xE5\xF2", "\xB8"}));
    EXPECT_EQ(doc.value("s", "\xEF\xD0\xC8\xC2\xC5\xD2"), "ru");
    EXPECT_EQ(doc.value("s", "\xA8"), "yo");
}

TEST(ProfileWriting, ChangesOnlyTheLinesItMustAndEndsThemWithCrlf) {
    const std::string original =
        "; head comment\n[Other]\nx = 1\n\n[s]\n  Key = old   \nplain line\n\n\n[t]\nz=9";
    ProfileDocument doc(original);
    doc.set_value("S", "KEY", "new");  // in place, spelling and spacing before the value kept
    doc.set_value("s", "added", "v");  // after the last non-blank line, blank lines stay behind it
    doc.set_value("t", "y", "");       // after an unterminated last line
    doc.set_value("u", "k", "1");      // a new section at the end
    EXPECT_EQ(doc.text(),
              "; head comment\n[Other]\nx = 1\n\n[s]\n  Key = new\nplain line\nadded=v\r\n\n\n"
              "[t]\nz=9\r\ny=\r\n[u]\r\nk=1\r\n");
    EXPECT_EQ(doc.value("t", "y"), "");
    EXPECT_EQ(doc.value("s", "added"), "v");
}

TEST(ProfileWriting, ReplacingWithTheSameValueIsNoChange) {
    ProfileDocument doc("[s]\nk = v\n");
    doc.set_value("s", "K", "v");
    doc.erase_section("absent");
    doc.erase_key("s", "absent");
    doc.erase_key("absent", "k");
    EXPECT_FALSE(doc.modified());
    doc.set_value("s", "k", "w");
    EXPECT_TRUE(doc.modified());
}

TEST(ProfileWriting, ErasingAKeyUncoversItsDuplicateAndKeepsBlankLines) {
    ProfileDocument doc("[s]\r\nk=1\r\n\r\nk=2\r\n[t]\r\n");
    doc.erase_key("s", "K");
    EXPECT_EQ(doc.text(), "[s]\r\n\r\nk=2\r\n[t]\r\n");
    EXPECT_EQ(doc.value("s", "k"), "2");
    doc.erase_key("s", "k");
    EXPECT_EQ(doc.value("s", "k"), std::nullopt);
    doc.set_value("s", "n", "3");  // goes right after the header again
    EXPECT_EQ(doc.text(), "[s]\r\nn=3\r\n\r\n[t]\r\n");
}

TEST(ProfileWriting, ErasingASectionRemovesEveryCopyOfIt) {
    ProfileDocument doc("[a]\r\nx=1\r\n\r\n[NAME]\r\nk=v\r\n\r\n[b]\r\ny=2\r\n[name]\r\nold=1");
    doc.erase_section("Name");
    EXPECT_EQ(doc.text(), "[a]\r\nx=1\r\n\r\n[b]\r\ny=2\r\n");
    EXPECT_EQ(doc.value("NAME", "old"), std::nullopt);
    doc.set_value("NAME", "k", "w");  // recreated at the end
    EXPECT_EQ(doc.text(), "[a]\r\nx=1\r\n\r\n[b]\r\ny=2\r\n[NAME]\r\nk=w\r\n");
}

TEST(ProfileWriting, ARefusedWriteLeavesTheDocumentUnchanged) {
    ProfileDocument doc("[s]\r\n");
    EXPECT_THROW(doc.set_value("s", "k", "1\n[x]\nk=2"), Exception);
    EXPECT_THROW(doc.set_value("s]", "k", "v"), Exception);
    EXPECT_FALSE(doc.modified());
    EXPECT_EQ(doc.text(), "[s]\r\n");
}

TEST(ProfileWriting, AKeyWrittenToTwoSectionsIsCheckedAsItIs) {
    // A key written again right away skips its checks; keys longer than the
    // document keeps for that are checked each time, and one that differs
    // from the last only after its first 64 bytes is another key.
    for (const std::size_t length : {8u, 64u, 65u, 100u}) {
        ProfileDocument doc("");
        const std::string key(length, 'K');
        const std::string other = key.substr(0, length - 1) + "L";
        doc.set_value("NAME", key, "n");
        doc.set_value("PATH", key, "p");
        doc.set_value("PATH", other, "q");
        EXPECT_EQ(doc.value("NAME", key), "n");
        EXPECT_EQ(doc.value("PATH", key), "p");
        EXPECT_EQ(doc.value("PATH", other), "q");
        EXPECT_THROW(doc.set_value("PATH", key.substr(0, length - 1) + "=", "x"), Exception) << length;
        EXPECT_EQ(doc.value("NAME", key), "n");
    }
}

TEST(ProfileWriting, ErasedSectionsLeaveTheOtherLinesIntactWhenTheLoadedTextIsDropped) {
    // Erasing NAME leaves most of the loaded text unused; the next write
    // drops it and keeps copies of the lines still in use, both of a section
    // already searched and of one never looked at.
    const std::string head = "; top\r\n[keep]\r\n a = 1 \r\n\r\n";
    std::string big = "[NAME]\r\n";
    for (int i = 0; i < 200; ++i) big += "ID" + std::to_string(i) + "=a display name\r\n";
    ProfileDocument doc(head + big + "[raw]\nx=2\n[NAME]\nID1=dup\n");
    EXPECT_EQ(doc.value("keep", "a"), "1");
    doc.erase_section("name");
    doc.set_value("NAME", "ID1", "v");
    EXPECT_EQ(doc.text(), head + "[raw]\nx=2\n[NAME]\r\nID1=v\r\n");
    EXPECT_EQ(doc.value("raw", "X"), "2");
    doc.set_value("keep", "A", "2");
    doc.erase_key("raw", "x");
    doc.set_value("raw", "y", "3");
    EXPECT_EQ(doc.text(), "; top\r\n[keep]\r\n a = 2\r\n\r\n[raw]\ny=3\r\n[NAME]\r\nID1=v\r\n");
    EXPECT_EQ(doc.key_names("keep"), std::vector<std::string>{"a"});
}

TEST(ProfileWriting, SectionsWrittenInBulkKeepTheirLinesInFileOrder) {
    // Keys written to two sections in turn, each section expecting many of
    // them (reserved before and after it exists), changed and erased again.
    ProfileDocument doc("[PATH]\r\nold=x\r\n\r\n[other]\r\nk=1\r\n");
    doc.reserve("NAME", 300);
    doc.reserve("PATH", 300);
    std::string names = "[NAME]\r\n";
    std::string paths = "[PATH]\r\nold=x\r\n";
    for (int i = 0; i < 300; ++i) {
        const std::string id = "ID" + std::to_string(i);
        doc.set_value("NAME", id, "name " + std::to_string(i));
        doc.set_value("PATH", id, "DATA\\F" + std::to_string(i) + ".DAT");
        names += id + "=name " + std::to_string(i) + "\r\n";
        paths += id + "=DATA\\F" + std::to_string(i) + ".DAT\r\n";
    }
    doc.set_value("PATH", "id7", "changed");
    const std::string before = "ID7=DATA\\F7.DAT";
    paths.replace(paths.find(before), before.size(), "ID7=changed");
    EXPECT_EQ(doc.text(), paths + "\r\n[other]\r\nk=1\r\n" + names);
    std::string pieces;
    doc.visit([&pieces](std::string_view piece) {
        pieces += piece;
        return true;
    });
    EXPECT_EQ(pieces, doc.text());
    doc.erase_section("PATH");
    doc.set_value("NAME", "ID0", "again");
    names.replace(names.find("ID0=name 0"), 10, "ID0=again");
    EXPECT_EQ(doc.text(), "[other]\r\nk=1\r\n" + names);
}

}  // namespace
