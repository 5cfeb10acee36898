#include "output/grid_files.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace tarvo {

std::string elevation_grid_bytes(const float* grid) {
  constexpr std::size_t n = 1440u * 721u;
  std::string bytes(n * 4, '\0');
  for (std::size_t k = 0; k < n; ++k) {
    std::uint32_t u;
    std::memcpy(&u, &grid[k], 4);
    for (int b = 0; b < 4; ++b) bytes[k * 4 + static_cast<std::size_t>(b)] = static_cast<char>((u >> (8 * b)) & 0xFF);
  }
  return bytes;
}

std::string monthly_grid_text(const float* grid) {
  std::string text;
  text.reserve(180u * 360u * 12u);
  char buf[32];
  for (int j = 0; j < 180; ++j)
    for (int i = 0; i < 360; ++i) {
      const int n = std::snprintf(buf, sizeof buf, "%.6g", static_cast<double>(grid[j * 360 + i]));
      text.append(buf, static_cast<std::size_t>(n));
      text += (i % 10 == 9) ? '\n' : ' ';
    }
  return text;
}

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

void Json::item(const std::string& key) {
  if (!open_.empty()) {
    if (!open_.back().first) out_ += ",";
    open_.back().first = false;
    out_ += "\n" + std::string(2 * open_.size(), ' ');
  }
  if (!key.empty()) out_ += json_string(key) + ": ";
}

Json& Json::open_object(const std::string& key) {
  item(key);
  out_ += "{";
  open_.push_back({true, '}'});
  return *this;
}

Json& Json::open_array(const std::string& key) {
  item(key);
  out_ += "[";
  open_.push_back({true, ']'});
  return *this;
}

Json& Json::close() {
  const Level level = open_.back();
  open_.pop_back();
  if (!level.first) out_ += "\n" + std::string(2 * open_.size(), ' ');
  out_ += level.bracket;
  return *this;
}

Json& Json::value(const std::string& key, const std::string& text) {
  item(key);
  out_ += json_string(text);
  return *this;
}

Json& Json::value(const std::string& key, double number) {
  item(key);
  if (!std::isfinite(number)) {
    out_ += "null";
  } else {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.10g", number);
    out_ += buf;
  }
  return *this;
}

Json& Json::value(const std::string& key, long long number) {
  item(key);
  out_ += std::to_string(number);
  return *this;
}

Json& Json::value(const std::string& key, bool flag) {
  item(key);
  out_ += flag ? "true" : "false";
  return *this;
}

}  // namespace tarvo
