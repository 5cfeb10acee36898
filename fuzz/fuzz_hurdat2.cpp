// Fuzz target: HURDAT2 (NHC's best-track text) read as a best track, and the
// forecast starts of what it reads.
#include "fuzz_best_track.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tarvo::fuzz::check_best_track_reader(data, size, "hurdat2.txt", [](std::string_view text, const char* name) {
    return tarvo::parse_hurdat2(text, name);
  });
}
