// Fuzz target: one monthly grid file (180 reads of 360 values).
#include <cstdint>
#include <string_view>

#include "fuzz_common.hpp"
#include "input/ocean_grids.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tarvo::GridArray grid(static_cast<std::size_t>(tarvo::OceanGrids::months) *
                               tarvo::OceanGrids::clim_rows * tarvo::OceanGrids::clim_cols);
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    tarvo::parse_monthly_grid(text, 7, grid, "data/mix07");
  } catch (const tarvo::InputError& e) {
    tarvo::fuzz::check_error(e, "data/mix07", true, tarvo::fuzz::count_lines(text.data(), size));
  }
  return 0;
}
