#include "input/tracks/best_track.hpp"

#include <netcdf.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <set>
#include <system_error>

#include "input/calendar.hpp"
#include "input/tracks/catalog.hpp"
#include "input/cf.hpp"
#include "input/input_error.hpp"
#include "input/tracks/climada_tracks.hpp"
#include "input/tracks/synthetic_tracks.hpp"
#include "input/text_file.hpp"
#include "input/cases/track.hpp"
#include "input/tracks/text_fields.hpp"

namespace tarvo {

namespace {

constexpr float nan = std::numeric_limits<float>::quiet_NaN();

// Shaped as an ATCF storm id: two letters, two digits, four digits.
bool atcf_id_shape(const std::string& id) {
  if (id.size() != 8 || !std::isalpha(static_cast<unsigned char>(id[0])) ||
      !std::isalpha(static_cast<unsigned char>(id[1])))
    return false;
  for (std::size_t k = 2; k < 8; ++k)
    if (!std::isdigit(static_cast<unsigned char>(id[k]))) return false;
  return true;
}

// An ATCF storm id "AL122005": basin, number and year; false when it is none.
bool atcf_id(const std::string& id, std::string& basin, int& number, int& year) {
  if (id.size() != 8) return false;
  long n = 0, y = 0;
  if (!whole(id.substr(2, 2), n) || !whole(id.substr(4, 4), y)) return false;
  basin = tarvo_basin(id.substr(0, 2));
  number = static_cast<int>(n);
  year = static_cast<int>(y);
  return !basin.empty();
}

}  // namespace

BestFix::BestFix() : wind_kt(nan), pressure_hpa(nan), vpot(nan), shear(nan), t600(nan), rh600(nan) {}

bool parse_best_track_format(const std::string& name, BestTrackFormat& format) {
  if (name == "ibtracs") format = BestTrackFormat::ibtracs;
  else if (name == "hurdat2") format = BestTrackFormat::hurdat2;
  else if (name == "atcf" || name == "bdeck") format = BestTrackFormat::atcf;
  else if (name == "cf") format = BestTrackFormat::cf;
  else if (name == "climada") format = BestTrackFormat::climada;
  else if (name == "storm") format = BestTrackFormat::storm;
  else if (name == "csv") format = BestTrackFormat::csv;
  else return false;
  return true;
}

const char* best_track_format_name(BestTrackFormat format) {
  switch (format) {
    case BestTrackFormat::ibtracs: return "ibtracs";
    case BestTrackFormat::hurdat2: return "hurdat2";
    case BestTrackFormat::atcf: return "atcf";
    case BestTrackFormat::cf: return "cf";
    case BestTrackFormat::climada: return "climada";
    case BestTrackFormat::storm: return "storm";
    case BestTrackFormat::csv: return "csv";
  }
  return "?";
}

// ---------------------------------------------------------------- HURDAT2

std::vector<BestTrack> parse_hurdat2(std::string_view text, const std::string& shown) {
  std::vector<BestTrack> out;
  const std::vector<std::string_view> lines = lines_of(text);
  std::size_t i = 0;
  auto fail = [&](std::size_t index, const std::string& what) {
    throw InputError(shown, static_cast<int>(index + 1), what);
  };
  while (i < lines.size()) {
    if (blank(lines[i])) {
      ++i;
      continue;
    }
    // A header: "AL092011,              IRENE,     39,"
    const std::vector<std::string> h = split_commas(lines[i]);
    long count = 0;
    BestTrack t;
    const bool shaped = h.size() >= 3 && whole(h[2], count) && count >= 0 && count <= 100000 && atcf_id_shape(h[0]);
    if (shaped && !atcf_id(h[0], t.basin, t.cyclone_number, t.year))
      fail(i, "'" + h[0].substr(0, 2) + "' (of storm " + h[0] + ") is not a basin code tarvo knows: give " +
                  basin_codes_accepted);
    if (!shaped)
      fail(i, "expected a HURDAT2 header (basin, number and year as AL092011, the name, the number of fixes), "
              "not '" + trim(lines[i]) + "'");
    t.sid = h[0];
    t.name = h[1];
    t.wind_source = "HURDAT2 (1-minute)";
    const std::size_t header = i++;
    for (long k = 0; k < count; ++k, ++i) {
      if (i >= lines.size())
        fail(header, "the header of " + t.sid + " announces " + std::to_string(count) + " fixes; the file ends after " +
                         std::to_string(k));
      const std::vector<std::string> f = split_commas(lines[i]);
      long date = 0, hhmm = 0, wind = 0, pressure = 0;
      double lat = 0.0, lon = 0.0;
      if (f.size() < 8 || f[0].size() != 8 || !whole(f[0], date) || f[1].size() != 4 || !whole(f[1], hhmm) ||
          f[2].size() > 1 || !coordinate(f[4], 1.0, 'N', 'S', 90.0, lat) ||
          !coordinate(f[5], 1.0, 'E', 'W', 360.0, lon) || !whole(f[6], wind) || !whole(f[7], pressure))
        fail(i, "expected a HURDAT2 fix of " + t.sid +
                    " (YYYYMMDD, HHMM, record identifier, status, latitude as 28.0N, longitude as 94.8W, wind (kt), "
                    "pressure (hPa), ...), not '" + trim(lines[i]) + "'");
      const int y = static_cast<int>(date / 10000), mo = static_cast<int>(date / 100 % 100),
                d = static_cast<int>(date % 100), hh = static_cast<int>(hhmm / 100), mm = static_cast<int>(hhmm % 100);
      if (!real_date(y, mo, d) || hh > 23 || mm > 59) fail(i, "no such date and time: " + f[0] + " " + f[1]);
      BestFix fix;
      fix.hours = static_cast<double>(hours_from_civil(y, mo, d, hh)) + mm / 60.0;
      fix.lat = static_cast<float>(lat);
      fix.lon = static_cast<float>(lon);
      fix.wind_kt = wind < 0 ? nan : static_cast<float>(wind);              // -99: not given
      fix.pressure_hpa = pressure < 0 ? nan : static_cast<float>(pressure);  // -999: not given
      fix.record = f[2].empty() ? ' ' : f[2][0];
      fix.type = f[3];
      fix.basin = t.basin;
      fix.line = static_cast<int>(i + 1);
      if (!t.fixes.empty() && !(fix.hours > t.fixes.back().hours))
        fail(i, "the fixes of " + t.sid + " do not follow one another in time");
      t.fixes.push_back(fix);
    }
    out.push_back(std::move(t));
  }
  return out;
}

// ---------------------------------------------------------------- ATCF b-decks

std::vector<BestTrack> parse_atcf_bdeck(std::string_view text, const std::string& shown) {
  std::vector<BestTrack> out;
  std::map<std::string, std::size_t> index;  // "AL122005" -> its track
  const std::vector<std::string_view> lines = lines_of(text);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (blank(lines[i])) continue;
    const std::vector<std::string> f = split_commas(lines[i]);
    auto fail = [&](const std::string& what) { throw InputError(shown, static_cast<int>(i + 1), what); };
    if (f.size() < 8) fail("expected an ATCF line (basin, number, YYYYMMDDHH, minutes, technique, TAU, latitude, longitude, ...)");
    if (f[4] != "BEST") continue;  // the best track's lines only
    long number = 0, dtg = 0, minutes = 0, vmax = 0, mslp = 0;
    double lat = 0.0, lon = 0.0;
    const std::string basin = tarvo_basin(f[0]);
    if (basin.empty()) fail("'" + f[0] + "' is not a basin code tarvo knows: give " + basin_codes_accepted);
    if (!whole(f[1], number) || number < 0 || number > 99) fail("the cyclone number '" + f[1] + "' is not 0 to 99");
    if (f[2].size() != 10 || !whole(f[2], dtg)) fail("the time '" + f[2] + "' is not YYYYMMDDHH");
    if (!f[3].empty() && (!whole(f[3], minutes) || minutes < 0 || minutes > 59))
      fail("the minutes '" + f[3] + "' of a best-track line are not 0 to 59");
    if (!coordinate(f[6], 0.1, 'N', 'S', 90.0, lat) || !coordinate(f[7], 0.1, 'E', 'W', 360.0, lon))
      fail("the position '" + f[6] + ", " + f[7] + "' is not in tenths of a degree with N/S and E/W (150N, 590W)");
    if (f.size() > 8 && !f[8].empty() && !whole(f[8], vmax)) fail("VMAX '" + f[8] + "' is not a whole number of knots");
    if (f.size() > 9 && !f[9].empty() && !whole(f[9], mslp)) fail("MSLP '" + f[9] + "' is not a whole number of hPa");
    const int y = static_cast<int>(dtg / 1000000), mo = static_cast<int>(dtg / 10000 % 100),
              d = static_cast<int>(dtg / 100 % 100), hh = static_cast<int>(dtg % 100);
    if (!real_date(y, mo, d) || hh > 23) fail("no such time: " + f[2]);
    const double hours = static_cast<double>(hours_from_civil(y, mo, d, hh)) + minutes / 60.0;
    char id[16];
    std::snprintf(id, sizeof id, "%c%c%02ld%04d", std::toupper(static_cast<unsigned char>(f[0][0])),
                  std::toupper(static_cast<unsigned char>(f[0][1])), number, y);
    // A storm's id keeps the year of its first line (a storm may cross into January).
    std::string key = std::string(id).substr(0, 4);
    auto at = index.find(key);
    if (at == index.end()) {
      BestTrack t;
      t.sid = id;
      t.basin = basin;
      t.cyclone_number = static_cast<int>(number);
      t.year = y;
      t.wind_source = "ATCF best track (1-minute)";
      index.emplace(key, out.size());
      out.push_back(std::move(t));
      at = index.find(key);
    }
    BestTrack& t = out[at->second];
    // The name its latest line gives: a depression's number word ("TWELVE")
    // or "INVEST" gives way to the storm's name once it is named.
    if (f.size() > 27 && !f[27].empty()) t.name = f[27];
    // Several lines at one time (one a wind radius): one fix.
    if (!t.fixes.empty() && t.fixes.back().hours == hours) continue;
    if (!t.fixes.empty() && hours < t.fixes.back().hours)
      fail("the lines of " + t.sid + " do not follow one another in time");
    BestFix fix;
    fix.hours = hours;
    fix.lat = static_cast<float>(lat);
    fix.lon = static_cast<float>(lon);
    fix.wind_kt = vmax > 0 ? static_cast<float>(vmax) : nan;          // 0: not given
    fix.pressure_hpa = mslp > 0 ? static_cast<float>(mslp) : nan;
    fix.basin = basin;
    fix.line = static_cast<int>(i + 1);
    if (f.size() > 10) fix.type = f[10];
    t.fixes.push_back(fix);
  }
  return out;
}

// ---------------------------------------------------------------- NetCDF

namespace {

// An open NetCDF file, closed when it goes.
struct NcFile {
  int id = -1;
  std::string path;
  explicit NcFile(const std::string& p) : path(p) {
    const int status = nc_open(p.c_str(), NC_NOWRITE, &id);
    if (status != NC_NOERR) {
      id = -1;
      throw InputError(p, 0, std::string("not a readable NetCDF file: ") + nc_strerror(status));
    }
  }
  ~NcFile() {
    if (id >= 0) nc_close(id);
  }
  NcFile(const NcFile&) = delete;
  NcFile& operator=(const NcFile&) = delete;
  int var(const char* name) const {
    int v = -1;
    return nc_inq_varid(id, name, &v) == NC_NOERR ? v : -1;
  }
  int need(const char* name, const std::string& what) const {
    const int v = var(name);
    if (v < 0) throw InputError(path, 0, std::string("variable ") + name + " is missing (" + what + ")");
    return v;
  }
  std::vector<int> dims(int varid) const {
    int n = 0;
    nc_inq_varndims(id, varid, &n);
    std::vector<int> d(static_cast<std::size_t>(n));
    nc_inq_vardimid(id, varid, d.data());
    return d;
  }
  std::size_t length(int dim) const {
    std::size_t n = 0;
    nc_inq_dimlen(id, dim, &n);
    return n;
  }
  std::vector<double> values(int varid, const char* name) const {
    const std::vector<int> d = dims(varid);
    std::vector<std::size_t> start(d.size(), 0), count(d.size());
    for (std::size_t k = 0; k < d.size(); ++k) count[k] = length(d[k]);
    std::vector<double> v;
    if (const int s = nc_read_unpacked(id, varid, start.data(), count.data(), v); s != NC_NOERR)
      throw InputError(path, 0, std::string("variable ") + name + ": " + nc_strerror(s));
    return v;
  }
  std::vector<std::string> strings(int varid, const char* name) const {
    const std::vector<int> d = dims(varid);
    std::vector<std::string> v;
    if (d.empty()) throw InputError(path, 0, std::string("variable ") + name + " has no dimensions");
    if (const int s = nc_read_strings(id, varid, 0, length(d[0]), v); s != NC_NOERR)
      throw InputError(path, 0, std::string("variable ") + name + " is not text: " + nc_strerror(s));
    return v;
  }
  CfTimeAxis time_axis(int varid, const char* name) const {
    CfTimeAxis axis;
    std::string why;
    if (!axis.parse(nc_text_attribute(id, varid, "units"), nc_text_attribute(id, varid, "calendar"), why))
      throw InputError(path, 0, std::string("variable ") + name + ": " + why);
    return axis;
  }
};

bool selected(const BestTrack& t, const BestTrackSelection& s) { return track_selected(t, s); }

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::vector<BestTrack> read_ibtracs(const std::string& path, const BestTrackSelection& selection) {
  const NcFile f(path);
  if (selection.wind != "usa" && selection.wind != "wmo")
    throw InputError(path, 0, "the wind is 'usa' (usa_wind, 1-minute) or 'wmo' (wmo_wind), not '" + selection.wind + "'");
  const bool usa = selection.wind == "usa";
  const int sid_v = f.need("sid", "the storms' ids"), time_v = f.need("time", "the fixes' times"),
            lat_v = f.need("lat", "latitudes"), lon_v = f.need("lon", "longitudes"),
            wind_v = f.need(usa ? "usa_wind" : "wmo_wind", "the maximum wind");
  const std::vector<int> shape = f.dims(time_v);
  if (shape.size() != 2) throw InputError(path, 0, "variable time has not the dimensions (storm, date_time) of IBTrACS");
  const std::size_t storms = f.length(shape[0]), steps = f.length(shape[1]);
  const CfTimeAxis axis = f.time_axis(time_v, "time");
  const std::vector<std::string> sid = f.strings(sid_v, "sid");
  const std::vector<double> time = f.values(time_v, "time"), lat = f.values(lat_v, "lat"), lon = f.values(lon_v, "lon"),
                            wind = f.values(wind_v, usa ? "usa_wind" : "wmo_wind");
  auto optional_strings = [&](const char* name) {
    const int v = f.var(name);
    return v < 0 ? std::vector<std::string>() : f.strings(v, name);
  };
  auto optional_values = [&](const char* name) {
    const int v = f.var(name);
    return v < 0 ? std::vector<double>() : f.values(v, name);
  };
  const std::vector<std::string> name = optional_strings("name"), basin = optional_strings("basin"),
                                 track_type = optional_strings("track_type"), atcf = optional_strings("usa_atcf_id"),
                                 agency = optional_strings("wmo_agency");
  const std::vector<double> season = optional_values("season"),
                            pressure = optional_values(usa ? "usa_pres" : "wmo_pres");
  auto per_fix = [&](const std::vector<std::string>& v, std::size_t s, std::size_t k) {
    return v.size() == storms * steps ? v[s * steps + k] : std::string();
  };
  if (sid.size() != storms || time.size() != storms * steps || lat.size() != time.size() ||
      lon.size() != time.size() || wind.size() != time.size())
    throw InputError(path, 0, "variables sid, time, lat, lon and the wind have not the shapes of IBTrACS");
  std::vector<BestTrack> out;
  for (std::size_t s = 0; s < storms; ++s) {
    if (track_type.size() == storms) {
      const std::string type = lower(track_type[s]);
      if (type.rfind("main", 0) != 0 && type.rfind("prov", 0) != 0) continue;  // spurs are not the storm's track
    }
    BestTrack t;
    t.sid = sid[s];
    t.name = name.size() == storms ? name[s] : std::string();
    if (t.name == "NOT_NAMED" || t.name == "UNNAMED") t.name.clear();
    std::set<std::string> agencies;
    for (std::size_t k = 0; k < steps; ++k) {
      const std::size_t at = s * steps + k;
      if (!std::isfinite(time[at]) || !std::isfinite(lat[at]) || !std::isfinite(lon[at])) continue;
      BestFix fix;
      fix.hours = axis.hours_since_1970(time[at]);
      if (!hours_are_a_date(fix.hours))
        throw InputError(path, 0, "storm " + t.sid + ": its time " + std::to_string(time[at]) + " is not a date of the years 1 to 9999");
      fix.lat = static_cast<float>(lat[at]);
      fix.lon = static_cast<float>(lon[at]);
      fix.wind_kt = std::isfinite(wind[at]) ? static_cast<float>(wind[at]) : nan;
      if (pressure.size() == time.size() && std::isfinite(pressure[at])) fix.pressure_hpa = static_cast<float>(pressure[at]);
      fix.basin = tarvo_basin(per_fix(basin, s, k));
      if (!usa && std::isfinite(wind[at])) {
        const std::string a = per_fix(agency, s, k);
        if (!a.empty()) agencies.insert(a);
      }
      if (t.cyclone_number == 0) {
        std::string b;
        int n = 0, y = 0;
        if (atcf_id(per_fix(atcf, s, k), b, n, y)) t.cyclone_number = n;
      }
      if (!t.fixes.empty() && !(fix.hours > t.fixes.back().hours)) continue;  // a repeated time: the first fix
      t.fixes.push_back(fix);
    }
    if (t.fixes.empty()) continue;
    t.basin = t.fixes.front().basin;  // where it formed
    int year = 0, month = 0, day = 0, hour = 0;
    civil_from_hours(static_cast<long long>(std::floor(t.fixes.front().hours)), year, month, day, hour);
    t.year = season.size() == storms && std::isfinite(season[s]) ? static_cast<int>(season[s]) : year;
    if (usa) {
      t.wind_source = "IBTrACS usa_wind (1-minute)";
    } else {
      t.wind_source = "IBTrACS wmo_wind (the agency's averaging period:";
      for (const std::string& a : agencies) t.wind_source += " " + a;
      t.wind_source += ")";
    }
    if (selected(t, selection)) out.push_back(std::move(t));
  }
  return out;
}

// A variable of the file by one of its names, or by its standard name.
int find_var(const NcFile& f, std::initializer_list<const char*> names, const char* standard_name = nullptr) {
  for (const char* n : names)
    if (const int v = f.var(n); v >= 0) return v;
  if (standard_name) {
    int nvars = 0;
    nc_inq_nvars(f.id, &nvars);
    for (int v = 0; v < nvars; ++v)
      if (nc_text_attribute(f.id, v, "standard_name") == standard_name) return v;
  }
  return -1;
}

std::string var_name(const NcFile& f, int v) {
  char name[NC_MAX_NAME + 1] = {};
  nc_inq_varname(f.id, v, name);
  return name;
}

std::vector<BestTrack> read_cf(const std::string& path, const BestTrackSelection& selection) {
  const NcFile f(path);
  int nvars = 0;
  nc_inq_nvars(f.id, &nvars);
  // The trajectories' ids, and for a ragged array the count of each one's fixes.
  int id_v = -1, count_v = -1;
  for (int v = 0; v < nvars; ++v) {
    if (nc_text_attribute(f.id, v, "cf_role") == "trajectory_id") id_v = v;
    if (!nc_text_attribute(f.id, v, "sample_dimension").empty()) count_v = v;
  }
  if (id_v < 0)
    throw InputError(path, 0, "no variable with cf_role = \"trajectory_id\": not a CF trajectory file (give --format)");
  const int time_v = find_var(f, {"time", "valid_time", "iso_time"}, "time");
  const int lat_v = find_var(f, {"lat", "latitude"}, "latitude");
  const int lon_v = find_var(f, {"lon", "longitude"}, "longitude");
  if (time_v < 0 || lat_v < 0 || lon_v < 0) throw InputError(path, 0, "variables time, lat and lon are expected");
  const int wind_v = find_var(f, {"vmax_obs", "wind", "max_sustained_wind", "vmax", "wind_speed", "usa_wind", "wmo_wind",
                                  "maximum_wind", "vmax_kt", "wind10", "vmax10"},
                              "wind_speed");
  if (wind_v < 0)
    throw InputError(path, 0, "no maximum wind: a variable vmax_obs, wind, max_sustained_wind, vmax, wind10 or wind_speed (or "
                                 "of standard_name wind_speed) is expected");
  const std::string wind_name = var_name(f, wind_v);
  double to_kt = 1.0;
  const std::string wind_units = nc_text_attribute(f.id, wind_v, "units", "\x01");
  if (wind_units == "\x01") throw InputError(path, 0, "variable " + wind_name + " has no units (expected knots or m s-1)");
  if (!knots_per_unit(wind_units, to_kt))
    throw InputError(path, 0, "variable " + wind_name + " has units '" + wind_units + "', which are not of a wind speed");
  const int pres_v = find_var(f, {"slp", "pres", "pressure", "central_pressure", "mslp", "pmin", "usa_pres", "wmo_pres"},
                              "air_pressure_at_mean_sea_level");
  double to_hpa = 1.0;
  if (pres_v >= 0 && !hpa_per_unit(nc_text_attribute(f.id, pres_v, "units", "hPa"), to_hpa))
    throw InputError(path, 0, "variable " + var_name(f, pres_v) + " has units '" +
                                  nc_text_attribute(f.id, pres_v, "units") + "', which are not of a pressure");
  const CfTimeAxis axis = f.time_axis(time_v, "time");
  const std::vector<std::string> ids = f.strings(id_v, var_name(f, id_v).c_str());
  const std::size_t n = ids.size();
  const std::vector<double> time = f.values(time_v, "time"), lat = f.values(lat_v, "lat"), lon = f.values(lon_v, "lon"),
                            wind = f.values(wind_v, wind_name.c_str());
  std::vector<double> pres;
  if (pres_v >= 0) pres = f.values(pres_v, "pressure");
  // The environment, when the file carries tarvo's.
  struct Env {
    const char* name;
    float BestFix::*member;
    std::vector<double> values;
  };
  Env env[] = {{"vpot", &BestFix::vpot, {}}, {"shear", &BestFix::shear, {}}, {"t600", &BestFix::t600, {}},
               {"rh600", &BestFix::rh600, {}}};
  for (Env& e : env)
    if (const int v = f.var(e.name); v >= 0) e.values = f.values(v, e.name);
  // Where each trajectory's fixes are: a ragged array's counts, or rows of a 2-D layout.
  std::vector<std::size_t> first(n), count(n);
  std::size_t steps = 0;
  if (count_v >= 0) {
    const std::vector<double> c = f.values(count_v, var_name(f, count_v).c_str());
    if (c.size() != n) throw InputError(path, 0, "the counts of the ragged array are not one a trajectory");
    std::size_t at = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (!std::isfinite(c[i]) || c[i] < 0 || c[i] > static_cast<double>(time.size()) || c[i] != std::floor(c[i])) throw InputError(path, 0, "a count of the ragged array is not a number of fixes");
      first[i] = at;
      count[i] = static_cast<std::size_t>(c[i]);
      at += count[i];
    }
    if (at != time.size())
      throw InputError(path, 0, "the ragged array's counts add up to " + std::to_string(at) + " fixes; time has " +
                                    std::to_string(time.size()));
  } else {
    steps = n > 0 ? time.size() / n : 0;
    if (n == 0 || steps * n != time.size())
      throw InputError(path, 0, "variable time is neither a ragged array nor one row a trajectory");
    for (std::size_t i = 0; i < n; ++i) {
      first[i] = i * steps;
      count[i] = steps;
    }
  }
  if (lat.size() != time.size() || lon.size() != time.size() || wind.size() != time.size() ||
      (!pres.empty() && pres.size() != time.size()))
    throw InputError(path, 0, "variables time, lat, lon and the wind have not one value a fix each");
  auto per_trajectory = [&](std::initializer_list<const char*> names) {
    const int v = find_var(f, names);
    std::vector<std::string> s;
    if (v >= 0) s = f.strings(v, var_name(f, v).c_str());
    return s;
  };
  const std::vector<std::string> names = per_trajectory({"name", "storm_name"}),
                                 basins = per_trajectory({"basin"});
  std::vector<double> numbers;
  if (const int v = f.var("cyclone_number"); v >= 0) numbers = f.values(v, "cyclone_number");
  std::vector<BestTrack> out;
  for (std::size_t i = 0; i < n; ++i) {
    BestTrack t;
    t.sid = ids[i];
    t.name = names.size() == n ? names[i] : std::string();
    std::string code = basins.size() == n ? basins[i] : basins.size() == time.size() ? basins[first[i]] : std::string();
    if (!code.empty()) {
      t.basin = tarvo_basin(code);
      if (t.basin.empty())
        throw InputError(path, 0, "trajectory " + t.sid + ": the basin code '" + code + "' is not one tarvo knows: give " +
                                      basin_codes_accepted);
    }
    if (numbers.size() == n && std::isfinite(numbers[i])) t.cyclone_number = static_cast<int>(numbers[i]);
    t.wind_source = "variable " + wind_name + " of " + path;
    for (std::size_t k = first[i]; k < first[i] + count[i]; ++k) {
      if (!std::isfinite(time[k]) || !std::isfinite(lat[k]) || !std::isfinite(lon[k])) continue;  // padding
      BestFix fix;
      fix.hours = axis.hours_since_1970(time[k]);
      if (!hours_are_a_date(fix.hours))
        throw InputError(path, 0, "trajectory " + t.sid + ": its time " + std::to_string(time[k]) + " is not a date of the years 1 to 9999");
      fix.lat = static_cast<float>(lat[k]);
      fix.lon = static_cast<float>(lon[k]);
      if (std::isfinite(wind[k])) fix.wind_kt = static_cast<float>(wind[k] * to_kt);
      if (!pres.empty() && std::isfinite(pres[k])) fix.pressure_hpa = static_cast<float>(pres[k] * to_hpa);
      for (const Env& e : env)
        if (e.values.size() == time.size() && std::isfinite(e.values[k])) fix.*(e.member) = static_cast<float>(e.values[k]);
      fix.basin = t.basin;
      if (!t.fixes.empty() && !(fix.hours > t.fixes.back().hours))
        throw InputError(path, 0, "trajectory " + t.sid + ": its times do not increase");
      t.fixes.push_back(fix);
    }
    if (t.fixes.empty()) continue;
    int month = 0, day = 0, hour = 0;
    civil_from_hours(static_cast<long long>(std::floor(t.fixes.front().hours)), t.year, month, day, hour);
    if (selected(t, selection)) out.push_back(std::move(t));
  }
  return out;
}

}  // namespace

bool track_selected(const BestTrack& t, const BestTrackSelection& s) {
  if (!s.storm.empty() && t.sid != s.storm) return false;
  if (s.season != 0 && t.year != s.season) return false;
  if (!s.basin.empty() && t.basin != s.basin) return false;
  return true;
}

BestTrackFormat detect_best_track_format(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return BestTrackFormat::climada;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) throw InputError(path, 0, std::string("cannot open: ") + std::strerror(errno));
  char head[8] = {};
  const std::size_t got = std::fread(head, 1, sizeof head, file);
  std::fclose(file);
  const bool netcdf = got >= 4 && (std::memcmp(head, "CDF", 3) == 0 || std::memcmp(head, "\x89HDF", 4) == 0);
  if (netcdf) {
    {
      const NcFile f(path);
      if (f.var("usa_wind") >= 0 && f.var("track_type") >= 0) return BestTrackFormat::ibtracs;
    }
    return is_climada_tracks(path) ? BestTrackFormat::climada : BestTrackFormat::cf;
  }
  const std::string text = read_whole_file(path, path);
  for (std::string_view line : lines_of(text)) {
    if (blank(line)) continue;
    const std::vector<std::string> f = split_commas(line);
    long count = 0;
    if (f.size() >= 3 && atcf_id_shape(f[0]) && whole(f[2], count)) return BestTrackFormat::hurdat2;
    if (f.size() >= 8 && f[2].size() == 10) return BestTrackFormat::atcf;
    if (is_storm_line(line)) return BestTrackFormat::storm;
    break;
  }
  throw InputError(path, 0, "neither NetCDF nor a HURDAT2, ATCF or STORM text: give --format "
                            "ibtracs|hurdat2|atcf|cf|climada|storm, or --format csv with --columns");
}

std::vector<BestTrack> read_best_tracks(const std::string& path, BestTrackFormat format,
                                        const BestTrackSelection& selection) {
  switch (format) {
    case BestTrackFormat::ibtracs: return read_ibtracs(path, selection);
    case BestTrackFormat::cf: return read_cf(path, selection);
    case BestTrackFormat::climada: return read_climada_tracks(path, selection);
    case BestTrackFormat::storm: return read_storm_tracks(path, selection);
    case BestTrackFormat::csv: return read_csv_tracks(path, selection);
    case BestTrackFormat::hurdat2:
    case BestTrackFormat::atcf: {
      std::vector<BestTrack> all = format == BestTrackFormat::hurdat2 ? parse_hurdat2(read_whole_file(path, path), path)
                                                                      : parse_atcf_bdeck(read_whole_file(path, path), path);
      std::vector<BestTrack> out;
      for (BestTrack& t : all)
        if (selected(t, selection)) out.push_back(std::move(t));
      return out;
    }
  }
  return {};
}

void read_best_tracks_in_chunks(const std::string& path, BestTrackFormat format, const BestTrackSelection& selection,
                                std::size_t chunk, const std::function<void(std::vector<BestTrack>&)>& take) {
  std::vector<BestTrack> block;
  auto add = [&](BestTrack&& t) {
    block.push_back(std::move(t));
    if (block.size() >= chunk) {
      take(block);
      block.clear();
    }
  };
  if (format == BestTrackFormat::climada) {
    read_climada_tracks(path, selection, add);
  } else if (format == BestTrackFormat::storm) {
    read_storm_tracks(path, selection, add);
  } else {
    for (BestTrack& t : read_best_tracks(path, format, selection)) add(std::move(t));
  }
  if (!block.empty()) take(block);
}

}  // namespace tarvo
