// Fuzz target: one monthly grid file (180 reads of 360 values) through the
// full reader; and the quick way for plain numbers against it, on reads of a
// few values so that the fuzzer reaches their corners: two texts side by side
// (the input and its first half), and where the quick way reads a text whole,
// the full reader reads it too, to the same bits.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "fuzz_common.hpp"
#include "input/cases/free_format.hpp"
#include "input/cases/ocean_grids.hpp"

namespace {

constexpr std::size_t records = 3, per_record = 5;

// The full reader's values of `text` in reads of per_record; false when one fails.
bool read_fully(std::string_view text, float* out) {
  tarvo::FreeFormatReader reader(text);
  for (std::size_t k = 0; k < records; ++k)
    if (reader.read_reals(out + k * per_record, per_record, "grid value") != tarvo::FreeFormatReader::Status::ok)
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tarvo::GridArray grid(static_cast<std::size_t>(tarvo::OceanGrids::months) *
                               tarvo::OceanGrids::clim_rows * tarvo::OceanGrids::clim_cols);
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    tarvo::parse_monthly_grid(text, 7, grid, "data/mix07");
  } catch (const tarvo::InputError& e) {
    tarvo::fuzz::check_error(e, "data/mix07", true, tarvo::fuzz::count_lines(text.data(), size));
  }

  const std::string_view texts[2] = {text, text.substr(0, size / 2)};
  float quick[2][records * per_record], full[records * per_record];
  const auto whole = tarvo::read_plain_records(texts[0], quick[0], texts[1], quick[1], records, per_record);
  for (int i = 0; i < 2; ++i) {
    if (!whole[i]) continue;
    tarvo::fuzz::require(read_fully(texts[i], full), "the quick way read values the full reader refuses");
    tarvo::fuzz::require(std::memcmp(full, quick[i], sizeof full) == 0,
                         "the quick way read other values than the full reader");
  }
  return 0;
}
