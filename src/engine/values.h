#pragma once
// Field values as text. Numbers are stored big-endian with the sign bit
// flipped, so that all-zero bytes mean a blank (NULL) value; text is the
// table's code page, NUL-padded.
//
// Text forms (the same both ways): integers in decimal; numbers and money
// in the shortest form that reads back to the same double, with "." as the
// decimal point ("," is accepted on input); logical "True"/"False"; dates
// "dd.mm.yyyy"; times "hh:mm:ss" (",mmm" milliseconds when not zero);
// timestamps a date, a blank and a time; BCD in decimal with its fixed
// number of decimals. A blank value is the empty text.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/format.h"

namespace engine {

// Renders a non-blob field's bytes as text in the table's code page (alpha,
// bytes) or ASCII (everything else).
std::string decode_value(const FieldDef& field, const std::uint8_t* bytes);

// True when the field's bytes are all zero (a blank value).
bool is_blank(const std::uint8_t* bytes, std::size_t width);

// Stores text (already in the table's code page for alpha) into the field's
// bytes; alpha is cut to the width. Throws Exception (naming the column)
// when the text is not a value of the field's type.
void encode_value(const FieldDef& field, std::string_view text, std::uint8_t* bytes);

// Days since 1 January of year 1 (that day is 1) to a civil date and back.
void civil_from_days(std::int64_t days, int& year, int& month, int& day);
std::int64_t days_from_civil(int year, int month, int day);

}  // namespace engine
