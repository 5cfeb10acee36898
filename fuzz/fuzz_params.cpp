// Fuzz target: params.in.
#include <cstdint>
#include <memory>
#include <string_view>

#include "fuzz_common.hpp"
#include "model/run.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const tarvo::OceanGrids no_grids;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto run = std::make_unique<tarvo::Run>(no_grids, ".");
  try {
    run->parse_params(text, "params.in");
  } catch (const tarvo::InputError& e) {
    tarvo::fuzz::check_error(e, "params.in", true, tarvo::fuzz::count_lines(text.data(), size));
  }
  return 0;
}
