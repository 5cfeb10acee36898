#pragma once
// The synthetic tracks of other generators:
// - STORM (Bloemendaal et al. 2020, Sci. Data 7:40): text files
//   STORM_DATA_IBTRACS_<basin>_1000_YEARS_<n>.txt (and the later
//   STORM_IBTRACS_PRESENT_CLIMATE_... names), a line a 3-hourly fix of 13
//   comma-separated numbers: year (0..999 of the synthetic period), month,
//   the cyclone's number in its year (from 0), time step (3-hourly, from 0),
//   basin id (0 EP, 1 NA, 2 NI, 3 SI, 4 SP, 5 WP), latitude, longitude
//   (0..360 E), minimum pressure (hPa), maximum wind (m/s, 10-minute),
//   radius of maximum winds (km), category, landfall (0/1), distance to
//   land (km). A synthetic year means nothing to a calendar: its cyclones
//   start on day 1 of their month, at 00 UTC, in one calendar year
//   (BestTrackSelection::synthetic_year, 2001); the synthetic year is in the
//   sid, STORM_<basin>_<n>_<year>_<number>.
// - a CSV with named columns (BestTrackSelection::columns):
//   "sid=COL,time=COL,lat=COL,lon=COL,vmax=COL[,pressure=COL][,name=COL]
//   [,basin=COL or a basin code][,unit=kt|m/s|km/h|mph][,averaging=1|10]",
//   times as YYYY-MM-DD HH:MM[:SS], YYYY-MM-DDTHH:MM[:SS][Z] or YYYYMMDDHH.
// 10-minute winds are made 1-minute ones, as tarvo's model takes.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "input/tracks/best_track.hpp"

namespace tarvo {

// 1-minute sustained wind per 10-minute one: STORM made its input, IBTrACS's
// 1-minute winds, 10-minute ones by 0.88 (Bloemendaal et al. 2020), the
// factor CLIMADA's IBTrACS reader uses the other way for the agencies of
// 10-minute winds; tarvo undoes it. (WMO's guidance, Harper et al. 2010,
// gives 0.93 at sea: 1-minute winds 5 % weaker.)
inline constexpr double one_minute_per_ten_minute_wind = 1.0 / 0.88;

// Whether a line has STORM's 13 numbers.
bool is_storm_line(std::string_view line);

// InputError names the file and line: a line without 13 numbers, a time
// step that does not follow the one before, a basin id that is not one.
std::vector<BestTrack> read_storm_tracks(const std::string& path, const BestTrackSelection& selection);
// The same, each cyclone handed to `take` as it is read.
void read_storm_tracks(const std::string& path, const BestTrackSelection& selection,
                       const std::function<void(BestTrack&&)>& take);

// InputError names the file (and line, or storm): no --columns, a column
// named that the header lacks, a value that is not one, times that go
// backwards within a storm.
std::vector<BestTrack> read_csv_tracks(const std::string& path, const BestTrackSelection& selection);

}  // namespace tarvo
