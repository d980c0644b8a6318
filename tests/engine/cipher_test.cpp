// Our cipher and password checksum against pxlib's.

#include "engine/cipher.h"
#include "engine/pxlib_oracle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

TEST(Cipher, ChecksumsMatchPxlibAndKnownTables) {
    EXPECT_EQ(engine::cipher::password_checksum("TRAX_OPR"), 0x5a847b4eu);
    EXPECT_EQ(engine::cipher::password_checksum("123"), 0x0a25e09au);  // as the old engine stored it
    EXPECT_EQ(engine::cipher::password_checksum(""), 0u);
    std::mt19937 random(7);
    for (int length = 1; length <= 256; ++length) {
        std::string password;
        for (int i = 0; i < length; ++i) password += static_cast<char>(1 + random() % 255);
        EXPECT_EQ(engine::cipher::password_checksum(password),
                  static_cast<std::uint32_t>(engine_test::px_passwd_checksum(password.c_str())))
            << "length " << length;
    }
}

TEST(Cipher, BlocksMatchPxlibBothWays) {
    std::mt19937 random(11);
    for (unsigned long size : {1024ul, 2048ul, 4096ul}) {
        for (unsigned long number : {1ul, 2ul, 255ul, 256ul, 1000ul}) {
            const std::uint32_t checksum = random();
            std::vector<unsigned char> plain(size);
            for (auto& b : plain) b = static_cast<unsigned char>(random());
            std::vector<unsigned char> ours = plain, theirs(size);
            engine::cipher::encrypt_block(ours.data(), size, checksum, static_cast<std::uint32_t>(number));
            engine_test::px_encrypt_db_block(plain.data(), theirs.data(), checksum, size, number);
            EXPECT_EQ(ours, theirs);
            engine::cipher::decrypt_block(ours.data(), size, checksum, static_cast<std::uint32_t>(number));
            EXPECT_EQ(ours, plain);
            engine_test::px_decrypt_db_block(theirs.data(), theirs.data(), checksum, size, number);
            EXPECT_EQ(theirs, plain);
        }
    }
}

TEST(Cipher, TextsOfARowReadUpToTheirZeroByte) {
    // Texts at every offset within and across the 256-byte chunks of a
    // block, their zero byte at every place of an eight-byte word.
    std::mt19937 random(5);
    constexpr std::size_t kSize = 1024;
    const std::uint32_t checksum = random();
    for (std::size_t zero = 0; zero < 40; ++zero) {
        std::vector<unsigned char> plain(kSize);
        for (auto& b : plain) b = static_cast<unsigned char>(1 + random() % 255);
        for (std::size_t at = zero; at < kSize; at += 41) plain[at] = 0;
        std::vector<unsigned char> block = plain;
        engine::cipher::encrypt_block(block.data(), kSize, checksum, 3);
        const engine::cipher::BlockKey key(checksum, 3);
        for (std::size_t offset = 200; offset < 330; ++offset) {
            const std::size_t n = 1 + (offset * 7) % 60;
            std::vector<unsigned char> out(n);
            const std::size_t length = key.decrypt_text(block.data(), offset, n, out.data());
            std::size_t expected = 0;
            while (expected < n && plain[offset + expected] != 0) ++expected;
            ASSERT_EQ(length, expected) << "offset " << offset << ", zero at " << zero;
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(length),
                                   plain.begin() + static_cast<std::ptrdiff_t>(offset)));
        }
    }
}

}  // namespace
