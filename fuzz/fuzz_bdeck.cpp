// Fuzz target: an ATCF b-deck read as a best track, and the forecast starts
// of what it reads (every 6 h, with the model's limits on each window).
#include <cstdint>
#include <string_view>

#include "fuzz_common.hpp"
#include "input/best_track.hpp"
#include "input/hindcast.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<tarvo::BestTrack> tracks;
  try {
    tracks = tarvo::parse_atcf_bdeck(text, "bal122005.dat");
  } catch (const tarvo::InputError& e) {
    tarvo::fuzz::check_error(e, "bal122005.dat", true, tarvo::fuzz::count_lines(text.data(), size));
    return 0;
  }
  for (const tarvo::BestTrack& t : tracks)
    for (std::size_t k = 1; k < t.fixes.size(); ++k)
      tarvo::fuzz::require(t.fixes[k].hours > t.fixes[k - 1].hours, "fixes out of order in", t.sid);
  tarvo::HindcastOptions options;
  std::string why;
  tarvo::fuzz::require(tarvo::parse_start_rule("every:6h", options.starts, why), "start rule", why);
  try {
    const tarvo::HindcastSet set = tarvo::hindcast_starts(tracks, options, "bal122005.dat");
    for (const tarvo::CatalogStorm& s : set.storms) {
      tarvo::fuzz::require(!s.track.records.empty() && s.track.records.size() <= 200, "window size of", s.sid);
      tarvo::fuzz::require(s.track.records.back().hour - s.track.records.front().hour < 1200, "window length of", s.sid);
    }
  } catch (const tarvo::InputError& e) {
    tarvo::fuzz::check_error(e, "bal122005.dat", false, 0);
  }
  return 0;
}
