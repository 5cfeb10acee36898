// Fuzz target: an ATCF b-deck read as a best track, and the forecast starts
// of what it reads.
#include "fuzz_best_track.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tarvo::fuzz::check_best_track_reader(data, size, "bal122005.dat", [](std::string_view text, const char* name) {
    return tarvo::parse_atcf_bdeck(text, name);
  });
}
