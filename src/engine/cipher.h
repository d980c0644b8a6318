#pragma once
// The format's block cipher and password checksum. An encrypted table
// stores the checksum of its password; data blocks are scrambled in
// 256-byte chunks keyed by the checksum's low 16 bits, the chunk's index
// and the block's number. Memo files use the same chunk scrambling with a
// key that does not depend on the position.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace engine::cipher {

// The checksum a table stores for this password; 0 for an empty one.
// The caller bounds the length (see Session::kMaxPasswordLength); the
// computation itself accepts up to 256 characters.
std::uint32_t password_checksum(std::string_view password);

// Scrambles or unscrambles a data block in place. size is a multiple of 256;
// block_number is the block's 1-based number in its file.
void encrypt_block(std::uint8_t* data, std::size_t size, std::uint32_t checksum,
                   std::uint32_t block_number);
void decrypt_block(std::uint8_t* data, std::size_t size, std::uint32_t checksum,
                   std::uint32_t block_number);

// Unscrambles memo file bytes in place; size is a multiple of 256 and the
// bytes start at a multiple of 256 in the file.
void decrypt_memo(std::uint8_t* data, std::size_t size, std::uint32_t checksum);

}  // namespace engine::cipher
