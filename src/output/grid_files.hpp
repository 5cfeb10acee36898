#pragma once
// The ocean grids in the formats the model reads (input/cases/ocean_grids.hpp):
// the elevation record of bathsmooth2.dat and the monthly text grids
// mixMM and stratnormMM; and a small JSON writer for the record of what
// made them (grids.json).
#include <cstdint>
#include <string>
#include <vector>

namespace tarvo {

// bathsmooth2.dat: 1440 x 721 floats, little-endian whatever the machine,
// column fastest from row 1 (latitude -90).
std::string elevation_grid_bytes(const float* grid);

// A monthly grid: 180 rows of 360 values from the south, each row starting
// on a new line, ten values a line, six significant digits.
std::string monthly_grid_text(const float* grid);

// JSON built in order: values are added to the object or array opened last.
class Json {
 public:
  Json& open_object(const std::string& key = "");
  Json& open_array(const std::string& key = "");
  Json& close();
  Json& value(const std::string& key, const std::string& text);
  Json& value(const std::string& key, const char* text) { return value(key, std::string(text)); }
  Json& value(const std::string& key, double number);
  Json& value(const std::string& key, long long number);
  Json& value(const std::string& key, std::uint64_t number) { return value(key, static_cast<long long>(number)); }
  Json& value(const std::string& key, int number) { return value(key, static_cast<long long>(number)); }
  Json& value(const std::string& key, bool flag);
  // The text, with a line end.
  std::string text() const { return out_ + "\n"; }

 private:
  void item(const std::string& key);
  struct Level {
    bool first;    // nothing in it yet
    char bracket;  // that closes it
  };
  std::string out_;
  std::vector<Level> open_;
};

// A string as a JSON string literal.
std::string json_string(const std::string& s);

}  // namespace tarvo
