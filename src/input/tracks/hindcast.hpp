#pragma once
// From best tracks to the storms of a catalog: the forecast starts of each
// (every synoptic time of its life for a hindcast, or one start for a risk
// study), each with the window of fixes its forecast needs, within the
// model's limits (whole hours, at most 200 fixes, less than 1200 h). Every
// fix left out is said, with why.
#include <map>
#include <string>
#include <vector>

#include "input/tracks/best_track.hpp"
#include "input/tracks/catalog.hpp"

namespace tarvo {

// The model's limits on a track: its records, and its hours (less than 1200).
inline constexpr std::size_t max_fixes = 200;
inline constexpr int max_track_hours = 1199;

// A time (hours since 1970) as YYYYMMDDHH, and with its minutes as "YYYY-MM-DD HH:MM".
std::string date_hour(double hours);
std::string date_time(double hours);
// A storm id safe as a file name (letters, digits, '.', '_', '-', a letter or digit first).
std::string safe_id(const std::string& id);
// Whether a time falls on a whole hour (within half a minute).
bool whole_hour(double hours);

// Which starts: every N hours (at the fixes on multiples of N h, UTC), once N
// hours after the first fix, or at a given time.
struct StartRule {
  enum class Kind { every, first_plus, at } kind = Kind::first_plus;
  int hours = 24;       // N
  double at_hours = 0;  // kind at: hours since 1970
};

// "every:6h", "first+24h", "2005082600" (YYYYMMDDHH); false, with `why`, otherwise.
bool parse_start_rule(const std::string& text, StartRule& rule, std::string& why);

struct HindcastOptions {
  StartRule starts;
  int history_h = 24;   // hours of fixes before a start (the model is steered towards them)
  int min_lead_h = 12;  // every:N: the last start has at least this many hours of track after it
  int max_lead_h = 120; // fixes up to this many hours after a start; 0: to the storm's end
  ModelParams params{0.5f, 0.5f, 0.5f, 2.0f};
  std::string basin;    // for tracks whose file gives none
};

struct HindcastSet {
  std::vector<CatalogStorm> storms;  // the environment NaN where the best track has none
  std::vector<std::string> notes;    // "SID: what was left out, and why"
};

// The forecast starts of the tracks, each a catalog storm: sid
// "<SID>_<YYYYMMDDHH>", reference time the start, fixes from the start less
// the history to the end of the storm (or the start plus max_lead_h). Fixes
// off the hour and fixes without a wind are left out (and said). Storms
// without a cyclone number are numbered after the highest of their basin and
// year. InputError names the file and the storm when a track cannot give a
// forecast: an unknown basin, no usable winds, a start with too little
// history or off the track.
// The cyclone numbers given so far, by basin and year: handed from one call
// to the next when a large set is taken a chunk of tracks at a time (a
// track alone in its chunk is then left out with a note, not an error).
struct CycloneNumbers {
  std::map<std::pair<std::string, int>, int> highest;
};

HindcastSet hindcast_starts(const std::vector<BestTrack>& tracks, const HindcastOptions& options,
                            const std::string& shown, CycloneNumbers* numbers = nullptr);

}  // namespace tarvo
