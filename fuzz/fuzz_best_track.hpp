// The checks of the best-track fuzz targets: a text read by one best-track
// reader, then the forecast starts of what it reads (every 6 h, with the
// model's limits on each window). Errors name the file, and a line of it
// when the reader gives one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_common.hpp"
#include "input/tracks/best_track.hpp"
#include "input/tracks/hindcast.hpp"

namespace tarvo::fuzz {

template <class Parse>
int check_best_track_reader(const std::uint8_t* data, std::size_t size, const char* name, Parse parse) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<BestTrack> tracks;
  try {
    tracks = parse(text, name);
  } catch (const InputError& e) {
    check_error(e, name, true, count_lines(text.data(), size));
    return 0;
  }
  for (const BestTrack& t : tracks)
    for (std::size_t k = 1; k < t.fixes.size(); ++k)
      require(t.fixes[k].hours > t.fixes[k - 1].hours, "fixes out of order in", t.sid);
  HindcastOptions options;
  std::string why;
  require(parse_start_rule("every:6h", options.starts, why), "start rule", why);
  try {
    const HindcastSet set = hindcast_starts(tracks, options, name);
    for (const CatalogStorm& s : set.storms) {
      require(!s.track.records.empty() && s.track.records.size() <= 200, "window size of", s.sid);
      require(s.track.records.back().hour - s.track.records.front().hour < 1200, "window length of", s.sid);
    }
  } catch (const InputError& e) {
    check_error(e, name, false, 0);
  }
  return 0;
}

}  // namespace tarvo::fuzz
