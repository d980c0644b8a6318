// The Windows buffer conventions of the test support's private-profile
// functions, which the Windows tests compare with the real ones.

#include "support/private_profile.h"

#include <gtest/gtest.h>

#include <string>

#include "support/files.h"
#include "support/temp_dir.h"

namespace {

using testing_support::get_private_profile_string;
using testing_support::write_bytes;

// The key list of a section as the Windows function delivers it, names
// joined by ",".
std::string listed(const std::string& file, const char* section, std::size_t size,
                   std::size_t* returned = nullptr) {
    std::string buffer(size, '\x7F');
    const std::size_t n = get_private_profile_string(section, nullptr, "", buffer.data(), size, file);
    if (returned != nullptr) *returned = n;
    std::string joined;
    for (std::size_t i = 0; i < n; ++i) joined += buffer[i] == '\0' ? ',' : buffer[i];
    return joined;
}

class PrivateProfileBuffers : public ::testing::Test {
protected:
    testing_support::TempDir dir;
    std::string file = dir.file("test.ini");
};

TEST_F(PrivateProfileBuffers, KeyListingFollowsTheWindowsBufferRules) {
    write_bytes(file, "[s]\r\nname1=val1\r\nname2=\r\nname3\r\nname4=val4\r\n");
    std::size_t n = 0;
    EXPECT_EQ(listed(file, "s", 100, &n), "name1,name2,name4,");
    EXPECT_EQ(n, 18u);
    // 18 bytes of names and one final zero: 20 fits, an exact 19 does not.
    EXPECT_EQ(listed(file, "s", 20, &n), "name1,name2,name4,");
    EXPECT_EQ(listed(file, "s", 19, &n), "name1,name2,name4");
    EXPECT_EQ(n, 17u);
    EXPECT_EQ(listed(file, "s", 10, &n), "name1,na");
    std::string buffer(4, 'x');
    EXPECT_EQ(get_private_profile_string("s", nullptr, "", buffer.data(), 4, file), 2u);
    EXPECT_EQ(buffer, std::string("na\0\0", 4));
    EXPECT_EQ(get_private_profile_string("none", nullptr, "", buffer.data(), 4, file), 0u);
    EXPECT_EQ(buffer.substr(0, 2), std::string("\0\0", 2));
}

TEST_F(PrivateProfileBuffers, ValueReadsCutToTheBufferAndFallBackToTheDefault) {
    write_bytes(file, "[s]\nk=abcdef\n");
    char buffer[8];
    EXPECT_EQ(get_private_profile_string("s", "k", "", buffer, 4, file), 3u);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(get_private_profile_string("s", "missing", "def  ", buffer, 8, file), 3u);
    EXPECT_STREQ(buffer, "def");
    EXPECT_EQ(get_private_profile_string("s", "missing", nullptr, buffer, 8, file), 0u);
    EXPECT_EQ(get_private_profile_string("s", "k", "d", buffer, 8, dir.file("absent.ini")), 1u);
    EXPECT_STREQ(buffer, "d");
    EXPECT_EQ(get_private_profile_string("s", "k", "d", buffer, 8, dir.path().string()), 1u);
}

}  // namespace
