#pragma once
// The text of track files: lines (CRLF and a byte-order mark taken off),
// comma-separated fields without their blanks, whole and real numbers that
// are all of a field, ATCF's and HURDAT2's coordinates, real dates.
#include <string>
#include <string_view>
#include <vector>

namespace tarvo {

std::string trim(std::string_view s);
std::vector<std::string> split_commas(std::string_view line);
std::vector<std::string_view> lines_of(std::string_view text);
bool blank(std::string_view line);

// A whole (or real, finite) number that is all of `s`; false otherwise.
bool whole(const std::string& s, long& v);
bool real(const std::string& s, double& v);

// "28.0N" (HURDAT2) or "150N" (ATCF, tenths: scale 0.1): degrees, `negative`
// hemisphere (S, W) negative; false when not of that form or beyond `limit`.
bool coordinate(const std::string& s, double scale, char positive, char negative, double limit, double& v);

// A day of the real calendar (29 February in leap years only).
bool real_date(int year, int month, int day);

}  // namespace tarvo
