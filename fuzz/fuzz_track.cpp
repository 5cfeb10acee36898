// Fuzz target: track.in, and for a track that reads, the smoothing, the
// sampling, the set-up, the initial vortex and a few time steps over a
// uniform ocean.
#include <cstdint>
#include <memory>
#include <string_view>

#include "fuzz_common.hpp"
#include "model/run.hpp"

namespace {

const tarvo::OceanGrids& ocean() {
  static const tarvo::OceanGrids g = tarvo::OceanGrids::uniform(-4000.0f, 50.0f, 20.0f);
  return g;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto run = std::make_unique<tarvo::Run>(ocean(), ".");
  run->progress = nullptr;
  run->diagnostics = nullptr;
  try {
    run->parse_track(text, "track.in");
  } catch (const tarvo::InputError& e) {
    tarvo::fuzz::check_error(e, "track.in", true, tarvo::fuzz::count_lines(text.data(), size));
    return 0;
  }
  try {
    run->parse_params("0.5\n0.5\n0.5\n2.0\n", "params.in");
    run->smooth_track();
    run->sample_track();
  } catch (const tarvo::InputError& e) {
    tarvo::fuzz::check_error(e, "track.in", false, 0);
    return 0;
  }
  run->set_up();
  run->init_run();
  for (int s = 0; s < 5 && run->model_time <= run->end_time; ++s)
    if (!run->step()) break;
  (void)run->track_output_text();
  return 0;
}
