#pragma once
// A catalog of storms (docs/catalog.md): one CF-NetCDF trajectory file of
// many tracks with their run parameters, read a chunk of storms at a time.
#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "input/cases/case_inputs.hpp"
#include "input/cf.hpp"
#include "input/cases/track.hpp"

namespace tarvo {

// The variables of a catalog a fix: name, CF units, the record's field.
struct CatalogFixField {
  const char* name;
  const char* units;
  float TrackRecord::*member;
};
inline constexpr CatalogFixField catalog_fix_fields[] = {
    {"lat", "degrees_north", &TrackRecord::lat}, {"lon", "degrees_east", &TrackRecord::lon},
    {"vmax_obs", "knot", &TrackRecord::vmax_kt}, {"vpot", "m s-1", &TrackRecord::vpot},
    {"shear", "m s-1", &TrackRecord::f6},        {"t600", "K", &TrackRecord::t600},
    {"rh600", "percent", &TrackRecord::rh600}};
// The run parameters a storm, in params.in's order.
struct CatalogParam {
  const char* name;
  float ModelParams::*member;
};
inline constexpr CatalogParam catalog_params[] = {{"smooth_vobs", &ModelParams::smooth_vobs},
                                                  {"smooth_dist", &ModelParams::smooth_dist},
                                                  {"smooth_f6", &ModelParams::smooth_f6},
                                                  {"nudge_gain", &ModelParams::nudge_gain}};
inline constexpr const char* catalog_time_units = "hours since 1970-01-01 00:00:00";

struct CatalogStorm {
  std::string sid, name;
  double reference_hours = 0;  // hours since 1970-01-01 00:00 of track time 0
  int year = 0;                // the storm's year (default: that of the reference time)
  int cyclone_number = 0;      // its number in its basin and year; 0 when not given
  Track track;                 // named by its sid
  ModelParams params;
  // Where each fix's potential intensity came from (environment computed
  // from fields): 1 the column at the fix, 2 filled in time from the nearest
  // fixes that have one (over land or sea ice); empty when not known.
  std::vector<signed char> vpot_source;
  // Where its track came from when another tool made it (CLIMADA): 1 an
  // original event, 0 a synthetic one, -1 not said; CLIMADA's id_no (NaN:
  // none). Kept through the forecast into CLIMADA's files.
  int orig_event_flag = -1;
  double climada_id_no = std::numeric_limits<double>::quiet_NaN();
};

class CatalogReader {
 public:
  // Opens a catalog file (or a file image in memory) and checks its layout and
  // variables; InputError names the file and the variable.
  explicit CatalogReader(const std::string& path);
  CatalogReader(const void* data, std::size_t size, const std::string& shown);
  ~CatalogReader();
  CatalogReader(const CatalogReader&) = delete;
  CatalogReader& operator=(const CatalogReader&) = delete;

  // Storms read from here on may lack their environment (NaN in vpot,
  // shear, t600 and rh600, as a catalog made before its environment is).
  void allow_missing_environment() { environment_optional_ = true; }
  // Whether its storms say where their tracks came from (CLIMADA's
  // orig_event_flag and id_no: variables orig_event_flag, climada_id_no).
  bool has_origin() const;

  std::size_t storms() const { return storms_; }
  std::size_t steps() const { return steps_; }
  const std::string& path() const { return path_; }

  // Storms first .. first + count - 1, each checked: InputError names the
  // file, the variable and the storm (index and sid).
  std::vector<CatalogStorm> read(std::size_t first, std::size_t count) const;
  // Checks every sid: unique and safe as a file name. Reads them a block at
  // a time and keeps a hash of 8 bytes a storm, so that a catalog of a
  // million storms is checked in a few megabytes.
  void check_sids() const;
  // The sids of storms first .. first + count - 1.
  std::vector<std::string> sids(std::size_t first, std::size_t count) const;

 private:
  void adopt(int open_status);  // the file just opened, checked; closed again on a fault
  void check_layout();
  int var(const char* name) const;
  std::vector<std::string> strings(int varid, std::size_t first, std::size_t count) const;

  std::string path_;
  // Opened afresh now and then (file-based readers): HDF5 keeps the strings
  // it has read in its metadata cache, which would otherwise grow towards
  // tens of megabytes with the storms read.
  mutable int ncid_ = -1;
  bool in_memory_ = false;
  mutable std::size_t strings_since_open_ = 0;
  std::size_t storms_ = 0, steps_ = 0;
  bool environment_optional_ = false;
  // reference_time's and time's units (tarvo writes hours since 1970; other
  // tools any CF time of the real calendar).
  CfTimeAxis reference_axis_, time_axis_;
};

// Hours since 1970-01-01 00:00 as month, day, hour (proleptic Gregorian).
void civil_from_hours(long long hours, int& year, int& month, int& day, int& hour);
long long hours_from_civil(int year, int month, int day, int hour);
// A time in hours since 1970 (the hour it falls in) as "YYYY-MM-DD HH:00".
std::string hour_text(double hours);
// Whether hours since 1970 fall in the years 1 to 9999: a file's time beyond
// them is a fault of the file, not a date.
bool hours_are_a_date(double hours);

}  // namespace tarvo
