#pragma once
// Fixed-column number fields of the output.
#include <string>

namespace tarvo {

// `value` rounded to `decimals` places, right-aligned in `width` columns;
// asterisks when it does not fit. NaN is written "NaN"; an infinity
// "Infinity" or "Inf" (with '-' when negative) where it fits.
std::string fixed_field(double value, int width, int decimals);

// An integer right-aligned in `width` columns; asterisks when it does not fit.
std::string integer_field(long value, int width);

// A real with `digits` significant digits, right-aligned in `width` columns.
std::string significant_field(double value, int width, int digits);

// Writes `text` to `path` whole or not at all (a temporary file beside it,
// renamed over it when complete); throws InputError naming `path`.
void write_file_whole(const std::string& path, const std::string& text);

}  // namespace tarvo
