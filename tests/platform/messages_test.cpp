// The program's messages in code pages other than the one they are written
// in: the same letters where the code page has them, a Latin spelling where
// it has none, never Windows-1251 bytes read as another code page.

#include "platform/cp1251.h"
#include "platform/exception.h"
#include "platform/messages.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using platform::message_in_code_page;

TEST(Messages, StayAsWrittenUnder1251) {
    ASSERT_EQ(platform::ansi_code_page(), 1251);
    const std::string text = cp1251("Не найден файл таблицы ");
    EXPECT_EQ(message_in_code_page(text, 1251), text);
    EXPECT_EQ(platform::program_message("Не найден файл таблицы "), text);
}

TEST(Messages, AreConvertedWhereTheCodePageHasCyrillic) {
    // Code page 932 holds the Cyrillic alphabet (JIS X 0208 row 7): "Ошибка".
    EXPECT_EQ(message_in_code_page(cp1251("Ошибка: C:\\T.DB"), 932),
              "\x84\x4F\x84\x8A\x84\x79\x84\x71\x84\x7B\x84\x70: C:\\T.DB");
}

TEST(Messages, AreSpelledInLatinWhereItHasNone) {
    for (const int code_page : {1250, 1252, 1254}) {
        EXPECT_EQ(message_in_code_page(cp1251("Ошибка открытия файла C:\\T.DB\nРабота программы невозможна"),
                                       code_page),
                  "Oshibka otkrytiya fayla C:\\T.DB\nRabota programmy nevozmozhna")
            << code_page;
    }
    // Every letter once (a pangram), the signs dropped.
    EXPECT_EQ(message_in_code_page(cp1251("Съешь же ещё этих мягких французских булок, да выпей чаю"), 1252),
              "Sesh zhe eshchyo etikh myagkikh frantsuzskikh bulok, da vypey chayu");
    // Capitals: a word in capitals stays in capitals.
    EXPECT_EQ(message_in_code_page(cp1251("ЖУРНАЛ Щи Ёж ЁЖ Я ТАБЛИЦА.DB"), 1252),
              "ZHURNAL Shchi Yozh YOZH Ya TABLITSA.DB");
    // What is not Cyrillic is left alone, an unknown character included.
    EXPECT_EQ(message_in_code_page(cp1251("a?b 123 [x]"), 1252), "a?b 123 [x]");
}

#ifndef _WIN32
// The setting is read again by every check; the process's own code page was
// fixed before (first line), so it stays 1251 whatever the test sets.
class CodePageSetting : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(platform::ansi_code_page(), 1251); }
    void TearDown() override { unsetenv("P2I_ANSI_CODEPAGE"); }
    static void set(const char* value) { setenv("P2I_ANSI_CODEPAGE", value, 1); }
};

TEST_F(CodePageSetting, WindowsAnsiCodePagesAndNoValueAreAccepted) {
    for (const char* value : {"1250", "1251", "1252", "1258", "874", "932", "950", ""}) {
        set(value);
        EXPECT_NO_THROW(platform::check_ansi_code_page_setting()) << value;
    }
    unsetenv("P2I_ANSI_CODEPAGE");
    EXPECT_NO_THROW(platform::check_ansi_code_page_setting());
}

TEST_F(CodePageSetting, AnythingElseIsRefusedNamingTheVariableAndTheValues) {
    for (const char* value : {"abc", "65001", "866", "1259", "1251x", " 1251", "-1251", "99999999999999"}) {
        set(value);
        try {
            platform::check_ansi_code_page_setting();
            ADD_FAILURE() << value << " was accepted";
        } catch (const Exception& e) {
            const std::string& m = e.Message();
            EXPECT_NE(m.find("P2I_ANSI_CODEPAGE \"" + std::string(value) + "\""), std::string::npos) << m;
            EXPECT_NE(m.find("1250, 1251, 1252"), std::string::npos) << m;
            EXPECT_NE(m.find("950"), std::string::npos) << m;
            EXPECT_EQ(m.rfind(cp1251("Недопустимое значение"), 0), 0u) << m;
        }
    }
    EXPECT_EQ(platform::ansi_code_page(), 1251);
}
#endif

}  // namespace
