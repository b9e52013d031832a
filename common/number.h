#pragma once
// Reading numbers out of texts the way the station's settings and file names use them.

#include <cstdint>
#include <string_view>

#include "common/result.h"

namespace plx {

// The numeric value a text begins with: blanks, tabs and line feeds are skipped wherever
// they stand; an optional sign, digits, "." decimals and an E or D exponent; &H and &O
// prefixes for hexadecimal and octal integers. A text without a number reads 0. Only "."
// separates decimals, whatever the locale.
double leadingNumber(std::string_view text);

// Round to nearest, halves to even; a value outside the type's range (or not a number) fails.
Result<std::int16_t> toInt16(double value);
Result<std::int32_t> toInt32(double value);

}  // namespace plx
