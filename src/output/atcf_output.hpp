#pragma once
// Forecasts as ATCF a-decks, the text files forecast centres exchange and
// MET-TC pairs with best tracks, in ATCF's fixed columns, a line every few
// hours of each forecast from TAU 0 on. tarvo's techniques:
//   TRVO  the forecast (the "late" aid of its cycle);
//   TRVI  its "early" (interpolated) version: the previous cycle's TRVO
//         shifted 6 h to the current cycle, its position offset to the
//         current one at every TAU, its wind offset to the current one at
//         TAU 0, the offset decaying linearly to none at TAU 120;
//   TRVE  an ensemble's mean.
// An a-deck holds every forecast of its storm, one after another by start time.
#include <cstddef>
#include <string>
#include <vector>

#include "output/catalog_output.hpp"

namespace tarvo {

struct AdeckOptions {
  int step_h = 6;       // hours between TAUs (forecast centres write every 6 h; 2 gives every sample)
  int max_tau_h = 240;  // the last TAU written (the format's range ends at 240; never above 999)
};

// a<basin><cyclone number><year>.dat ("aep052001.dat"), or empty when the
// storm has no cyclone number from 1 to 99 (or no year to name it by).
std::string atcf_file_name(const StoredForecast& forecast);

// The start of a forecast as ATCF writes it: YYYYMMDDHH.
std::string atcf_time(double hours_since_1970);

// The forecast's lines: TAU 0, step_h, 2 step_h, ... up to max_tau_h or its
// last sample, each interpolated linearly in time between the two samples
// around it where it falls between them. `hours_left_out`: hours of the
// forecast beyond max_tau_h, not written.
std::string atcf_lines(const StoredForecast& forecast, const AdeckOptions& options, int& hours_left_out,
                       const char* technique = "TRVO");

// TRVE: the same lines of an ensemble's mean wind and pressure (along the
// forecast's own track); empty without an ensemble.
std::string ensemble_mean_lines(const StoredForecast& forecast, const AdeckOptions& options);

// TRVI lines of every cycle of an a-deck's text whose TRVO has a TRVO six
// hours before it (the rule above; docs/atcf.md gives its source).
std::string early_lines(const std::string& adeck_text);

// An a-deck's text with `added` lines joined in: every line of `existing`
// stays except the lines of a technique and start time that `added` has
// (those are replaced: their start times are listed in `replaced`) and the
// TRVI lines, made again from the joined TRVO lines; the lines come sorted by
// start time, each start's lines in their order.
std::string join_adeck(const std::string& existing, const std::string& added, std::vector<std::string>& replaced);

}  // namespace tarvo
