#pragma once
// The single-byte code pages of the language drivers, as the engine's own
// data: a driver converts with its own tables, whatever the platform's
// conversions make of the same code pages.

namespace engine {

// Marks a byte that the code page leaves undefined.
constexpr char16_t kUndefined = 0xFFFF;

// The 128 characters of bytes 0x80..0xFF of a DOS (437, 737, 850, 852, 857,
// 860, 861, 862, 863, 865, 866) or Windows (1250..1255) code page; nullptr
// for any other code page.
const char16_t* upper_half(int code_page);

}  // namespace engine
