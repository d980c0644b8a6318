// INI files in UTF-16 and UTF-8 with a byte-order mark, and files that end
// in Ctrl-Z, as the Windows private-profile functions read and write them.

#include "platform/cp1251.h"
#include "ini/profile_file.h"

#include <gtest/gtest.h>

#include "support/files.h"
#include "support/temp_dir.h"

namespace {

using ini::ProfileFile;
using testing_support::read_bytes;
using testing_support::write_bytes;

// The bytes of a UTF-16 text, with its byte-order mark.
std::string utf16(std::u16string_view text, bool big_endian) {
    std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes.push_back(big_endian ? high : low);
        bytes.push_back(big_endian ? low : high);
    }
    return bytes;
}

// What WriteAll does to a file: its NAME section replaced.
void replace_name_section(const std::string& file) {
    ProfileFile profile(file);
    profile.document().erase_section("NAME");
    profile.document().set_value("NAME", "AB", cp1251("Счета"));
    profile.document().set_value("NAME", "CD", "Rates");
    profile.save();
}

class ProfileEncodings : public ::testing::Test {
protected:
    testing_support::TempDir dir;
    std::string file = dir.file("paths.ini");
};

TEST_F(ProfileEncodings, Utf16FilesStayUtf16AndKeepEveryOtherCharacter) {
    for (const bool big_endian : {false, true}) {
        // Cyrillic, which code page 1251 holds, and characters it lacks (a
        // CJK one, a pair of surrogates) in the sections that stay.
        write_bytes(file, utf16(u"[Main]\r\nkeep=Ключ 中 \U0001F600\r\n[NAME]\r\nOLD=stale\r\n"
                                u"[Tail]\r\nx = 2\r\n",
                                big_endian));
        {
            ProfileFile profile(file);
            EXPECT_EQ(profile.document().value("main", "KEEP"), cp1251("Ключ ") + "? ?")
                << "what the code page lacks reads as '?'";
            EXPECT_EQ(profile.document().value("NAME", "old"), "stale");
        }
        replace_name_section(file);
        EXPECT_EQ(read_bytes(file), utf16(u"[Main]\r\nkeep=Ключ 中 \U0001F600\r\n[Tail]\r\nx = 2\r\n"
                                          u"[NAME]\r\nAB=Счета\r\nCD=Rates\r\n",
                                          big_endian))
            << (big_endian ? "big-endian" : "little-endian");
    }
}

TEST_F(ProfileEncodings, Utf8WithItsMarkIsUtf8) {
    // The mark stands before the first header: the old section is found
    // and replaced, not kept ahead of the new one.
    write_bytes(file, "\xEF\xBB\xBF[NAME]\r\nOLD=stale\r\n[Main]\r\nk=\xD0\x97\xD0\xBD\xD0\xB0\xD1\x87\r\n");
    EXPECT_EQ(ProfileFile(file).document().value("Main", "k"), cp1251("Знач"));
    replace_name_section(file);
    EXPECT_EQ(read_bytes(file),
              "\xEF\xBB\xBF[Main]\r\nk=\xD0\x97\xD0\xBD\xD0\xB0\xD1\x87\r\n"
              "[NAME]\r\nAB=\xD0\xA1\xD1\x87\xD0\xB5\xD1\x82\xD0\xB0\r\nCD=Rates\r\n");
}

TEST_F(ProfileEncodings, BytesThatAreNoCharactersComeBackAsTheyWere) {
    // UTF-8 that does not decode (a 1251 byte, a stray continuation byte)
    // and zero characters; UTF-16 with a lone surrogate. An odd last byte of
    // UTF-16 is half a character, which the rewritten file drops.
    static const char kUtf8Kept[] = "\xEF\xBB\xBF[A]\r\nbad=\xC0\xFF\x80\r\nzero=a\0b\r\n";
    const std::string utf8_kept(kUtf8Kept, sizeof kUtf8Kept - 1);
    write_bytes(file, utf8_kept);
    EXPECT_EQ(ProfileFile(file).document().value("A", "bad"), "???");
    replace_name_section(file);
    EXPECT_EQ(read_bytes(file), utf8_kept + "[NAME]\r\nAB=\xD0\xA1\xD1\x87\xD0\xB5\xD1\x82\xD0\xB0\r\nCD=Rates\r\n");

    const std::string utf16_kept = utf16(u"[A]\r\nlone=\xD800!\r\n", false);
    write_bytes(file, utf16_kept + "\x41");
    EXPECT_EQ(ProfileFile(file).document().value("A", "lone"), "?!");
    {
        ProfileFile profile(file);
        profile.document().set_value("A", "x", "1");
        profile.save();
    }
    EXPECT_EQ(read_bytes(file), utf16(u"[A]\r\nlone=\xD800!\r\nx=1\r\n", false));
}

TEST_F(ProfileEncodings, WithoutAMarkTheFileIsAnsi) {
    // UTF-8 bytes without the mark are code page text, as Windows reads them.
    write_bytes(file, "[Main]\r\nk=\xD0\x97\r\n");
    EXPECT_EQ(ProfileFile(file).document().value("Main", "k"), "\xD0\x97");
    replace_name_section(file);
    EXPECT_EQ(read_bytes(file), "[Main]\r\nk=\xD0\x97\r\n[NAME]\r\nAB=\xD1\xF7\xE5\xF2\xE0\r\nCD=Rates\r\n");
}

TEST_F(ProfileEncodings, ACtrlZAtTheEndIsNoPartOfTheText) {
    // The old end-of-file mark, after the last line or on it: what is added
    // goes where the text ends, and the mark does not come back.
    for (const char* tail : {"\r\n\x1A", "\x1A\x1A", "\r\n\x1A\x1A"}) {
        write_bytes(file, std::string("[Main]\r\nk=1") + tail);
        EXPECT_EQ(ProfileFile(file).document().value("Main", "k"), "1");
        replace_name_section(file);
        EXPECT_EQ(read_bytes(file), "[Main]\r\nk=1\r\n[NAME]\r\nAB=\xD1\xF7\xE5\xF2\xE0\r\nCD=Rates\r\n");
    }
    write_bytes(file, utf16(u"[Main]\r\nk=1\r\n\x1A", false));
    replace_name_section(file);
    EXPECT_EQ(read_bytes(file), utf16(u"[Main]\r\nk=1\r\n[NAME]\r\nAB=Счета\r\nCD=Rates\r\n", false));
    // Elsewhere a Ctrl-Z is an ordinary character.
    write_bytes(file, "[Main]\r\nk=\x1A" "1\r\n");
    EXPECT_EQ(ProfileFile(file).document().value("Main", "k"), "\x1A" "1");
}

TEST_F(ProfileEncodings, AFileThatHoldsTheTextIsNotRewritten) {
    const std::string bytes = utf16(u"[NAME]\r\nAB=Счета\r\nCD=Rates\r\n", false);
    write_bytes(file, bytes);
    const auto written = std::filesystem::last_write_time(testing_support::fs_path(file));
    // Erased and written anew, the same text: the encoded comparison finds it.
    std::filesystem::last_write_time(testing_support::fs_path(file), written - std::chrono::hours(1));
    replace_name_section(file);
    EXPECT_EQ(std::filesystem::last_write_time(testing_support::fs_path(file)), written - std::chrono::hours(1));
    EXPECT_EQ(read_bytes(file), bytes);
}

}  // namespace
