#pragma once
// ATCF a-decks, the forecasts of every technique (aid) of a storm that
// forecast centres exchange: a line a technique, cycle and TAU (several at
// one TAU for the wind radii: one fix), in ATCF's comma-separated fixed
// columns. And the forecast cycles of a storm made from them: the history
// from the best track (or CARQ) up to each cycle, then a technique's
// forecast positions.
#include <string>
#include <string_view>
#include <vector>

#include "input/tracks/best_track.hpp"
#include "input/tracks/hindcast.hpp"

namespace tarvo {

struct AidFix {
  int tau = 0;           // hours from the cycle (negative for CARQ's history)
  float lat = 0, lon = 0;  // degrees N, degrees E (west negative)
  float vmax_kt;         // NaN where the line gives none (0 or blank)
  float mslp_hpa;        // NaN where none
  int line = 0;
  AidFix();
};

struct AidForecast {
  std::string tech;            // OFCL, CARQ, AVNO, TRVO, ...
  double cycle_hours = 0;      // the synoptic time, hours since 1970-01-01 00:00
  std::string basin;           // tarvo's code
  int number = 0;              // the cyclone number
  std::vector<AidFix> fixes;   // by TAU, one a TAU
};

struct Adeck {
  std::vector<AidForecast> forecasts;  // in the file's order of first appearance
  std::vector<std::string> notes;      // lines left out, and why
  // The techniques of the deck, for messages: "OFCL, AVNO, CARQ".
  std::string techniques() const;
  // The forecast of `tech` at `cycle_hours`, or null.
  const AidForecast* find(const std::string& tech, double cycle_hours) const;
};

// An a-deck's text; `shown` names it in messages. InputError names the line
// of anything that is not an ATCF line: too few fields, a field of the wrong
// width or form (basin, number, YYYYMMDDHH, TAU, latitude, longitude).
// Lines at latitude and longitude 0 are left out and said; CRLF and a
// trailing ", " are read.
Adeck parse_adeck(std::string_view text, const std::string& shown);
Adeck read_adeck(const std::string& path);

struct CycleOptions {
  std::string tech = "OFCL";       // whose forecast positions the track takes
  double cycle_hours = -1;         // one cycle (hours since 1970); negative: every cycle of tech
  int history_h = 24;              // hours of track before each cycle
  bool history_from_carq = false;  // the history from CARQ's negative TAUs rather than the best track
  ModelParams params{0.5f, 0.5f, 0.5f, 2.0f};
};

// "all" or YYYYMMDDHH; false, with `why`, otherwise.
bool parse_cycles(const std::string& text, double& cycle_hours, std::string& why);

// Every cycle of the storm as a catalog storm: sid "<SID>_<YYYYMMDDHH>",
// reference time the cycle; the best track's fixes from the cycle less the
// history to the cycle, then the technique's positions at its TAUs after it,
// with the wind observed at the cycle (a forecast knows no later one). The
// environment is left to fill. Cycles without the technique's forecast, or
// with too little history, are named in the notes; InputError names the file
// when the technique is not in the deck, or the one cycle asked for cannot be
// made.
HindcastSet forecast_cycles(const std::vector<BestTrack>& best, const Adeck& adeck, const CycleOptions& options,
                            const std::string& shown);

}  // namespace tarvo
