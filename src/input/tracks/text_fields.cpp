#include "input/tracks/text_fields.hpp"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "input/calendar.hpp"

namespace tarvo {

std::string trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return std::string(s);
}

std::vector<std::string> split_commas(std::string_view line) {
  std::vector<std::string> f;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = line.find(',', start);
    f.push_back(trim(line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start)));
    if (comma == std::string_view::npos) return f;
    start = comma + 1;
  }
}

bool whole(const std::string& s, long& v) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  v = std::strtol(s.c_str(), &end, 10);
  return *end == '\0' && errno == 0;
}

bool real(const std::string& s, double& v) {
  if (s.empty()) return false;
  char* end = nullptr;
  v = std::strtod(s.c_str(), &end);
  return *end == '\0' && std::isfinite(v);
}

bool coordinate(const std::string& s, double scale, char positive, char negative, double limit, double& v) {
  if (s.size() < 2) return false;
  const char hemisphere = static_cast<char>(std::toupper(static_cast<unsigned char>(s.back())));
  if (hemisphere != positive && hemisphere != negative) return false;
  double x = 0.0;
  if (!real(s.substr(0, s.size() - 1), x) || x < 0.0) return false;
  x *= scale;
  if (x > limit) return false;
  v = hemisphere == negative ? -x : x;
  return true;
}

std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  if (!lines.empty() && lines.front().substr(0, 3) == "\xEF\xBB\xBF") lines.front().remove_prefix(3);  // a byte-order mark
  return lines;
}

bool blank(std::string_view line) { return trim(line).empty(); }

bool real_date(int year, int month, int day) {
  if (month < 1 || month > 12 || day < 1) return false;
  return day <= days_in_month(month) + (month == 2 && leap_year(year) ? 1 : 0);
}

}  // namespace tarvo
