// Fuzz target: the free-format reader on any text, with lists of mixed items.
#include <cstdint>
#include <string_view>

#include "fuzz_common.hpp"
#include "input/cases/free_format.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tarvo::FreeFormatReader;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const int lines = tarvo::fuzz::count_lines(text.data(), size);
  FreeFormatReader reader(text);
  for (int k = 0; k < 2000; ++k) {
    int i = 0;
    float a = 0, b = 0, row[40];
    char code[2];
    FreeFormatReader::Status s;
    if (k % 3 == 2)
      s = reader.read_reals(row, 40, "value");
    else
      s = reader.read({FreeFormatReader::integer(i, "i"), FreeFormatReader::real(a, "a"),
                       FreeFormatReader::chars(code, 2, "code"), FreeFormatReader::real(b, "b")});
    if (s == FreeFormatReader::Status::end_of_file) break;
    tarvo::fuzz::require(reader.line() >= 1 && reader.line() <= lines + 1, "line out of range");
    if (s == FreeFormatReader::Status::bad_value)
      tarvo::fuzz::require(!reader.problem().empty(), "bad value without a problem");
  }
  return 0;
}
