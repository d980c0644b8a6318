#pragma once
// The format's block cipher and password checksum. An encrypted table
// stores the checksum of its password; data blocks are scrambled in
// 256-byte chunks keyed by the checksum's low 16 bits, the chunk's index
// and the block's number. Memo files use the same chunk scrambling with a
// key that does not depend on the position.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
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

struct ChunkTerms;

// The key of one data block. Each plain byte depends on one scrambled byte
// only, so a reader can unscramble just the bytes it needs: a few columns of
// a row, up to the zero byte that ends a text.
class BlockKey {
public:
    BlockKey(std::uint32_t checksum, std::uint32_t block_number);

    // Unscrambles or scrambles a whole block in place (size a multiple of 256).
    void decrypt(std::uint8_t* data, std::size_t size) const;
    void encrypt(std::uint8_t* data, std::size_t size) const;
    // The plain bytes [offset, offset + n) of the block whose scrambled
    // bytes start at `block`, into out.
    void decrypt_bytes(const std::uint8_t* block, std::size_t offset, std::size_t n,
                       std::uint8_t* out) const;
    // The same up to the first zero byte; returns the number of bytes before
    // it (n when there is none). Up to 7 bytes after it may be written too:
    // out has room for n bytes.
    std::size_t decrypt_text(const std::uint8_t* block, std::size_t offset, std::size_t n,
                             std::uint8_t* out) const;

private:
    std::uint8_t position_[256];  // where each plain byte of a chunk lies scrambled
    std::uint8_t key_[256];       // its mask, but for the term of the chunk's index
    unsigned d_;                  // the block number's low byte
    // The table of chunk terms, looked up once per key rather than once per
    // value read.
    const ChunkTerms* terms_;
};

// The keys of one table's blocks. A key depends on the block number's low
// byte only, so there are at most 256; each is built when first asked for.
class BlockKeys {
public:
    explicit BlockKeys(std::uint32_t checksum);
    ~BlockKeys();
    BlockKeys(const BlockKeys&) = delete;
    BlockKeys& operator=(const BlockKeys&) = delete;

    const BlockKey& for_block(std::uint32_t block_number);

private:
    std::uint32_t checksum_;
    std::array<std::unique_ptr<BlockKey>, 256> keys_;
};

// Unscrambles memo file bytes in place; size is a multiple of 256 and the
// bytes start at a multiple of 256 in the file.
void decrypt_memo(std::uint8_t* data, std::size_t size, std::uint32_t checksum);

}  // namespace engine::cipher
