#include "input/tracks/climada_tracks.hpp"

#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>
#include <system_error>

#include "input/cases/track.hpp"
#include "input/cf.hpp"
#include "input/input_error.hpp"
#include "input/tracks/catalog.hpp"

namespace tarvo {

namespace {

namespace fs = std::filesystem;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

struct Open {
  int id = -1;
  explicit Open(const std::string& path) {
    if (const int s = nc_open(path.c_str(), NC_NOWRITE, &id); s != NC_NOERR) {
      id = -1;
      throw InputError(path, 0, std::string("not a readable NetCDF file: ") + nc_strerror(s));
    }
  }
  ~Open() {
    if (id >= 0) nc_close(id);
  }
  Open(const Open&) = delete;
  Open& operator=(const Open&) = delete;
};

int var_of(int ncid, const char* name) {
  int v = -1;
  return nc_inq_varid(ncid, name, &v) == NC_NOERR ? v : -1;
}

int dim_of(int ncid, const char* name) {
  int d = -1;
  return nc_inq_dimid(ncid, name, &d) == NC_NOERR ? d : -1;
}

bool has_attribute(int ncid, int varid, const char* name) {
  return nc_inq_att(ncid, varid, name, nullptr, nullptr) == NC_NOERR;
}

// A number attribute (NaN when absent or not a number).
double number_attribute(int ncid, int varid, const char* name) {
  nc_type type;
  std::size_t len = 0;
  double v = nan;
  if (nc_inq_att(ncid, varid, name, &type, &len) != NC_NOERR || len != 1 || type == NC_CHAR || type == NC_STRING)
    return nan;
  nc_get_att_double(ncid, varid, name, &v);
  return v;
}

// The kinds of file.
enum class Layout { none, combined, groups, one_track };

Layout layout_of(int ncid) {
  // tarvo's own catalogs and forecast files are CF trajectories: not these.
  int nvars = 0;
  nc_inq_nvars(ncid, &nvars);
  for (int v = 0; v < nvars; ++v)
    if (nc_text_attribute(ncid, v, "cf_role") == "trajectory_id") return Layout::none;
  const int wind = var_of(ncid, "max_sustained_wind");
  if (wind >= 0 && dim_of(ncid, "storm") >= 0 && dim_of(ncid, "step") >= 0) return Layout::combined;
  if (wind >= 0 && dim_of(ncid, "time") >= 0 && has_attribute(ncid, NC_GLOBAL, "sid")) return Layout::one_track;
  int group = -1;
  if (nc_inq_ncid(ncid, "track0", &group) == NC_NOERR && var_of(group, "max_sustained_wind") >= 0) return Layout::groups;
  return Layout::none;
}

// What a track says of itself, from attributes or variables of storm.
struct Items {
  std::string sid, name, wind_unit, pressure_unit;
  double orig = nan, id_no = nan;
};

// One track's fixes from its columns (NaN rows: padding); the items' units
// applied. `shown` names the file, `where` the track, in messages.
BestTrack make_track(const Items& items, const std::vector<double>& time, const CfTimeAxis& axis,
                     const std::vector<double>& lat, const std::vector<double>& lon, const std::vector<double>& wind,
                     const std::vector<double>& pressure, const std::vector<std::string>& basin,
                     const std::string& shown) {
  const std::string who = "track " + (items.sid.empty() ? std::string("without a sid") : items.sid);
  auto fail = [&](const std::string& what) { throw InputError(shown, 0, who + ": " + what); };
  if (items.sid.empty()) fail("no sid");
  if (items.wind_unit.empty())
    fail("no max_sustained_wind_unit: CLIMADA's tracks name the unit of their winds (kn, m/s, km/h)");
  double to_kt = 1.0, to_hpa = 1.0;
  if (!knots_per_unit(items.wind_unit, to_kt))
    fail("max_sustained_wind_unit '" + items.wind_unit + "' is not a unit of wind speed (kn, m/s, km/h, mph)");
  if (!items.pressure_unit.empty() && !hpa_per_unit(items.pressure_unit, to_hpa))
    fail("central_pressure_unit '" + items.pressure_unit + "' is not a unit of pressure (mb, hPa, Pa)");
  BestTrack t;
  t.sid = items.sid;
  t.name = items.name;
  t.wind_source = "CLIMADA's max_sustained_wind in " + items.wind_unit + " (1-minute, as CLIMADA keeps them)";
  if (std::isfinite(items.orig)) t.orig_event_flag = items.orig != 0.0 ? 1 : 0;
  t.climada_id_no = items.id_no;
  for (std::size_t k = 0; k < time.size(); ++k) {
    if (!std::isfinite(time[k]) || !std::isfinite(lat[k]) || !std::isfinite(lon[k])) continue;  // padding
    BestFix f;
    f.hours = axis.hours_since_1970(time[k]);
    if (!hours_are_a_date(f.hours)) fail("its time " + std::to_string(time[k]) + " is not a date of the years 1 to 9999");
    if (std::fabs(f.hours - std::round(f.hours)) < 3e-7) f.hours = std::round(f.hours);
    f.lat = static_cast<float>(lat[k]);
    f.lon = static_cast<float>(lon[k]);
    if (std::isfinite(wind[k])) f.wind_kt = static_cast<float>(wind[k] * to_kt);
    if (k < pressure.size() && std::isfinite(pressure[k])) f.pressure_hpa = static_cast<float>(pressure[k] * to_hpa);
    if (k < basin.size() && !basin[k].empty() && basin[k] != "nan") {
      f.basin = tarvo_basin(basin[k]);
      if (f.basin.empty())
        fail("the basin code '" + basin[k] + "' is not one tarvo knows: give " + basin_codes_accepted);
    }
    if (!t.fixes.empty() && !(f.hours > t.fixes.back().hours))
      fail("its times do not increase (" + hour_text(t.fixes.back().hours) + ", then " + hour_text(f.hours) + ")");
    t.fixes.push_back(f);
  }
  if (t.fixes.empty()) return t;
  t.basin = t.fixes.front().basin;
  int month = 0, day = 0, hour = 0;
  civil_from_hours(static_cast<long long>(std::floor(t.fixes.front().hours)), t.year, month, day, hour);
  return t;
}

CfTimeAxis time_axis(int ncid, int varid, const std::string& shown) {
  CfTimeAxis axis;
  std::string why;
  if (!axis.parse(nc_text_attribute(ncid, varid, "units"), nc_text_attribute(ncid, varid, "calendar"), why))
    throw InputError(shown, 0, "variable time: " + why);
  return axis;
}

std::vector<double> column(int ncid, const char* name, std::size_t first, std::size_t count, std::size_t steps,
                           bool two_dims, const std::string& shown, bool needed = true) {
  const int v = var_of(ncid, name);
  if (v < 0) {
    if (needed) throw InputError(shown, 0, std::string("variable ") + name + " is missing (CLIMADA's tracks have it)");
    return {};
  }
  std::vector<double> out;
  const std::size_t start[] = {first, 0}, n[] = {count, steps};
  const std::size_t one_start[] = {0}, one_n[] = {steps};
  if (const int s = nc_read_unpacked(ncid, v, two_dims ? start : one_start, two_dims ? n : one_n, out); s != NC_NOERR)
    throw InputError(shown, 0, std::string("variable ") + name + ": " + nc_strerror(s));
  return out;
}

// A file of one track (or a group of CLIMADA 3's file).
BestTrack read_one_track(int ncid, const std::string& shown) {
  Items items;
  items.sid = nc_text_attribute(ncid, NC_GLOBAL, "sid");
  items.name = nc_text_attribute(ncid, NC_GLOBAL, "name");
  items.wind_unit = nc_text_attribute(ncid, NC_GLOBAL, "max_sustained_wind_unit");
  items.pressure_unit = nc_text_attribute(ncid, NC_GLOBAL, "central_pressure_unit");
  items.orig = number_attribute(ncid, NC_GLOBAL, "orig_event_flag");
  items.id_no = number_attribute(ncid, NC_GLOBAL, "id_no");
  const int time_v = var_of(ncid, "time"), time_d = dim_of(ncid, "time");
  if (time_v < 0 || time_d < 0) throw InputError(shown, 0, "track " + items.sid + ": no time");
  std::size_t steps = 0;
  nc_inq_dimlen(ncid, time_d, &steps);
  const std::vector<double> time = column(ncid, "time", 0, 1, steps, false, shown),
                            lat = column(ncid, "lat", 0, 1, steps, false, shown),
                            lon = column(ncid, "lon", 0, 1, steps, false, shown),
                            wind = column(ncid, "max_sustained_wind", 0, 1, steps, false, shown),
                            pressure = column(ncid, "central_pressure", 0, 1, steps, false, shown, false);
  std::vector<std::string> basin;
  if (const int v = var_of(ncid, "basin"); v >= 0) {
    if (nc_read_strings(ncid, v, 0, steps, basin) != NC_NOERR) basin.clear();
  } else if (const std::string code = nc_text_attribute(ncid, NC_GLOBAL, "basin"); !code.empty()) {
    basin.assign(steps, code);  // CLIMADA's older files: one basin a track
  }
  return make_track(items, time, time_axis(ncid, time_v, shown), lat, lon, wind, pressure, basin, shown);
}

void read_combined(const std::string& path, const BestTrackSelection& selection,
                   const std::function<void(BestTrack&&)>& take) {
  // Read a block of 4096 tracks at a time, without chunk caches: xarray
  // writes a variable of CLIMADA's file as one chunk however many tracks it
  // holds, which a cache would keep whole for every variable (122 MB for
  // 10^5 tracks); a block decompresses it once. Opened afresh every block:
  // HDF5 keeps the strings it has read in its metadata cache.
  auto open = [&] {
    auto f = std::make_unique<Open>(path);
    int nvars = 0;
    nc_inq_nvars(f->id, &nvars);
    for (int v = 0; v < nvars; ++v) nc_set_var_chunk_cache(f->id, v, 0, 0, 0.0f);
    return f;
  };
  auto file = open();
  int ncid = file->id;
  std::size_t storms = 0, steps = 0;
  nc_inq_dimlen(ncid, dim_of(ncid, "storm"), &storms);
  nc_inq_dimlen(ncid, dim_of(ncid, "step"), &steps);
  const int time_v = var_of(ncid, "time");
  if (time_v < 0) throw InputError(path, 0, "variable time is missing (CLIMADA's write_hdf5 writes it)");
  const CfTimeAxis axis = time_axis(ncid, time_v, path);
  auto texts = [&](const char* name, std::size_t first, std::size_t count) {
    std::vector<std::string> v;
    const int id = var_of(ncid, name);
    if (id >= 0 && nc_read_strings(ncid, id, first, count, v) != NC_NOERR)
      throw InputError(path, 0, std::string("variable ") + name + " cannot be read as text");
    if (id < 0) v.assign(count, "");
    return v;
  };
  auto numbers = [&](const char* name, std::size_t first, std::size_t count) {
    std::vector<double> v(count, nan);
    const int id = var_of(ncid, name);
    const std::size_t start[] = {first}, n[] = {count};
    if (id >= 0 && nc_read_unpacked(ncid, id, start, n, v) != NC_NOERR)
      throw InputError(path, 0, std::string("variable ") + name + " cannot be read as numbers");
    return v;
  };
  if (var_of(ncid, "max_sustained_wind_unit") < 0)
    throw InputError(path, 0, "no variable max_sustained_wind_unit: CLIMADA's write_hdf5 writes the unit of each "
                              "track's winds (kn, m/s, km/h)");
  constexpr std::size_t block = 4096;
  for (std::size_t first = 0; first < storms; first += block) {
    if (first > 0) {
      file.reset();
      file = open();
      ncid = file->id;
    }
    const std::size_t count = std::min(block, storms - first);
    const std::vector<std::string> sid = texts("sid", first, count), name = texts("name", first, count),
                                   wind_unit = texts("max_sustained_wind_unit", first, count),
                                   pressure_unit = texts("central_pressure_unit", first, count);
    const std::vector<double> orig = numbers("orig_event_flag", first, count), id_no = numbers("id_no", first, count);
    const std::vector<double> time = column(ncid, "time", first, count, steps, true, path),
                              lat = column(ncid, "lat", first, count, steps, true, path),
                              lon = column(ncid, "lon", first, count, steps, true, path),
                              wind = column(ncid, "max_sustained_wind", first, count, steps, true, path),
                              pressure = column(ncid, "central_pressure", first, count, steps, true, path, false);
    std::vector<std::string> basin;
    if (const int v = var_of(ncid, "basin"); v >= 0 && nc_read_strings(ncid, v, first, count, basin) != NC_NOERR)
      throw InputError(path, 0, "variable basin cannot be read as text");
    for (std::size_t i = 0; i < count; ++i) {
      auto row = [&](const std::vector<double>& v) {
        return v.empty() ? std::vector<double>() : std::vector<double>(v.begin() + i * steps, v.begin() + (i + 1) * steps);
      };
      std::vector<std::string> codes;
      if (basin.size() == count * steps) codes.assign(basin.begin() + i * steps, basin.begin() + (i + 1) * steps);
      Items items{sid[i], name[i], wind_unit[i], pressure_unit[i], orig[i], id_no[i]};
      BestTrack t = make_track(items, row(time), axis, row(lat), row(lon), row(wind), row(pressure), codes, path);
      if (!t.fixes.empty() && track_selected(t, selection)) take(std::move(t));
    }
  }
}

}  // namespace

bool is_climada_tracks(const std::string& path) {
  std::error_code error;
  if (fs::is_directory(path, error)) return true;
  int ncid = -1;
  if (nc_open(path.c_str(), NC_NOWRITE, &ncid) != NC_NOERR) return false;
  const Layout layout = layout_of(ncid);
  nc_close(ncid);
  return layout != Layout::none;
}

std::vector<BestTrack> read_climada_tracks(const std::string& path, const BestTrackSelection& selection) {
  std::vector<BestTrack> out;
  read_climada_tracks(path, selection, [&](BestTrack&& t) { out.push_back(std::move(t)); });
  return out;
}

void read_climada_tracks(const std::string& path, const BestTrackSelection& selection,
                         const std::function<void(BestTrack&&)>& take) {
  auto keep = [&](BestTrack&& t) {
    if (!t.fixes.empty() && track_selected(t, selection)) take(std::move(t));
  };
  std::error_code error;
  if (fs::is_directory(path, error)) {
    // TCTracks.write_netcdf's folder: a file <sid>.nc a track, read in the order of their names.
    std::vector<std::string> files;
    for (const fs::directory_entry& e : fs::directory_iterator(path, error))
      if (e.path().extension() == ".nc") files.push_back(e.path().string());
    if (error) throw InputError(path, 0, "cannot list the folder: " + error.message());
    if (files.empty()) throw InputError(path, 0, "holds no .nc file (TCTracks.write_netcdf writes one a track)");
    std::sort(files.begin(), files.end());
    for (const std::string& f : files) {
      const Open file(f);
      if (layout_of(file.id) != Layout::one_track)
        throw InputError(f, 0, "not a CLIMADA track file (TCTracks.write_netcdf: dimension time, the track's sid and "
                               "max_sustained_wind_unit as attributes)");
      keep(read_one_track(file.id, f));
    }
    return;
  }
  Layout layout = Layout::none;
  {
    // Closed before the tracks are read: HDF5 shares a dataset opened twice,
    // with the chunk cache of the first opening.
    const Open file(path);
    layout = layout_of(file.id);
  }
  if (layout == Layout::combined) return read_combined(path, selection, take);
  const Open file(path);
  switch (layout) {
    case Layout::combined: break;
    case Layout::one_track: return keep(read_one_track(file.id, path));
    case Layout::groups:
      for (int k = 0;; ++k) {
        int group = -1;
        if (nc_inq_ncid(file.id, ("track" + std::to_string(k)).c_str(), &group) != NC_NOERR) break;
        keep(read_one_track(group, path + " (group track" + std::to_string(k) + ")"));
      }
      return;
    case Layout::none: break;
  }
  throw InputError(path, 0, "not one of CLIMADA's track files (TCTracks.write_hdf5 or write_netcdf)");
}

}  // namespace tarvo
