#include "input/tracks/synthetic_tracks.hpp"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <map>
#include <regex>

#include "input/cases/track.hpp"
#include "input/cf.hpp"
#include "input/input_error.hpp"
#include "input/text_file.hpp"
#include "input/tracks/catalog.hpp"
#include "input/tracks/text_fields.hpp"

namespace tarvo {

namespace {

constexpr int storm_columns = 13;
constexpr double storm_step_hours = 3.0;
// STORM's basin ids and tarvo's codes.
constexpr const char* storm_basin_names[] = {"EP", "NA", "NI", "SI", "SP", "WP"};

bool storm_numbers(std::string_view line, double (&v)[storm_columns]) {
  const std::vector<std::string> f = split_commas(line);
  if (f.size() != storm_columns) return false;
  for (int k = 0; k < storm_columns; ++k)
    if (!real(f[static_cast<std::size_t>(k)], v[k])) return false;
  return true;
}

bool whole_value(double v) { return v == std::floor(v) && std::fabs(v) < 1e9; }

// The file's index among STORM's ten of a basin: the number before ".txt".
std::string file_index(const std::string& path) {
  static const std::regex index(R"(_(\d+)\.txt$)", std::regex::icase);
  std::smatch m;
  const std::string name = std::filesystem::path(path).filename().string();
  return std::regex_search(name, m, index) ? m[1].str() : "0";
}

}  // namespace

bool is_storm_line(std::string_view line) {
  double v[storm_columns];
  return storm_numbers(line, v);
}

std::vector<BestTrack> read_storm_tracks(const std::string& path, const BestTrackSelection& selection) {
  std::vector<BestTrack> out;
  read_storm_tracks(path, selection, [&](BestTrack&& t) { out.push_back(std::move(t)); });
  return out;
}

void read_storm_tracks(const std::string& path, const BestTrackSelection& selection,
                       const std::function<void(BestTrack&&)>& take) {
  const std::string text = read_whole_file(path, path);
  const std::string index = file_index(path);
  BestTrack t;
  double year = -1, number = -1, step = -1;
  int genesis_month = 1;  // a cyclone's steps count from 00 UTC on day 1 of the month it began in
  auto finish = [&] {
    if (!t.fixes.empty() && track_selected(t, selection)) take(std::move(t));
    t = BestTrack();
  };
  int line_no = 0;
  for (std::string_view line : lines_of(text)) {
    ++line_no;
    if (blank(line)) continue;
    auto fail = [&](const std::string& what) { throw InputError(path, line_no, what); };
    double v[storm_columns];
    if (!storm_numbers(line, v)) {
      const std::size_t fields = split_commas(line).size();
      fail(fields == storm_columns ? std::string("expected 13 numbers (STORM's columns), not all of these are numbers")
                                   : "expected STORM's 13 comma-separated numbers (year, month, number, time step, "
                                     "basin, latitude, longitude, pressure, wind, radius, category, landfall, "
                                     "distance to land), not " +
                                         std::to_string(fields));
    }
    for (int k : {0, 1, 2, 3, 4})
      if (!whole_value(v[k]) || v[k] < 0) fail("the year, month, number, time step and basin are whole numbers from 0");
    if (v[1] < 1 || v[1] > 12) fail("month " + std::to_string(static_cast<long>(v[1])) + " is not 1 to 12");
    if (v[4] > 5) fail("basin id " + std::to_string(static_cast<long>(v[4])) + " is not 0 (EP) to 5 (WP)");
    if (std::fabs(v[5]) > 90) fail("latitude " + std::to_string(v[5]) + " is beyond 90 degrees");
    const bool next_storm = v[0] != year || v[2] != number || v[3] == 0;
    if (next_storm) {
      finish();
      if (v[3] != 0) fail("the cyclone's first time step is " + std::to_string(static_cast<long>(v[3])) + ", not 0");
      year = v[0];
      number = v[2];
      step = -1;
      genesis_month = static_cast<int>(v[1]);
      const std::string basin = storm_basin_names[static_cast<int>(v[4])];
      char sid[96];
      std::snprintf(sid, sizeof sid, "STORM_%s_%s_%04ld_%02ld", basin.c_str(), index.c_str(), static_cast<long>(year),
                    static_cast<long>(number));
      t.sid = sid;
      t.name = sid;
      t.basin = tarvo_basin(basin);
      t.year = selection.synthetic_year;
      t.wind_source = "STORM's 10-minute maximum wind (m/s), times 1/0.88 to 1-minute";
    }
    if (v[3] != step + 1)
      fail("time step " + std::to_string(static_cast<long>(v[3])) + " follows " + std::to_string(static_cast<long>(step)) +
           " in cyclone " + t.sid + " (its steps go 0, 1, 2, ... without a gap)");
    step = v[3];
    BestFix f;
    f.hours = static_cast<double>(hours_from_civil(selection.synthetic_year, genesis_month, 1, 0)) + storm_step_hours * step;
    f.lat = static_cast<float>(v[5]);
    f.lon = static_cast<float>(v[6]);
    f.pressure_hpa = static_cast<float>(v[7]);
    double to_kt = 1.0;
    knots_per_unit("m/s", to_kt);
    f.wind_kt = static_cast<float>(v[8] * to_kt * one_minute_per_ten_minute_wind);
    f.basin = t.basin;
    f.line = line_no;
    t.fixes.push_back(f);
  }
  finish();
}

namespace {

// A CSV time: YYYY-MM-DD HH:MM[:SS], YYYY-MM-DDTHH:MM[:SS][Z] or YYYYMMDDHH; hours since 1970.
bool csv_time(const std::string& s, double& hours) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0;
  double sec = 0;
  if (s.size() == 10 && s.find_first_not_of("0123456789") == std::string::npos) {
    y = std::stoi(s.substr(0, 4));
    mo = std::stoi(s.substr(4, 2));
    d = std::stoi(s.substr(6, 2));
    h = std::stoi(s.substr(8, 2));
  } else {
    static const std::regex iso(R"((\d{4})-(\d{2})-(\d{2})[ T](\d{2}):(\d{2})(?::(\d{2}(?:\.\d*)?))?Z?)");
    std::smatch m;
    if (!std::regex_match(s, m, iso)) return false;
    y = std::stoi(m[1]);
    mo = std::stoi(m[2]);
    d = std::stoi(m[3]);
    h = std::stoi(m[4]);
    mi = std::stoi(m[5]);
    if (m[6].matched) sec = std::stod(m[6]);
  }
  if (!real_date(y, mo, d) || h > 23 || mi > 59 || sec >= 60) return false;
  hours = static_cast<double>(hours_from_civil(y, mo, d, h)) + mi / 60.0 + sec / 3600.0;
  return true;
}

}  // namespace

std::vector<BestTrack> read_csv_tracks(const std::string& path, const BestTrackSelection& selection) {
  if (selection.columns.empty())
    throw InputError(path, 0, "a CSV needs its columns named: --columns sid=COL,time=COL,lat=COL,lon=COL,vmax=COL,unit=kt "
                              "(and pressure=, name=, basin=, averaging=10 for 10-minute winds)");
  // The mapping.
  std::map<std::string, std::string> map;
  for (const std::string& item : split_commas(selection.columns)) {
    const std::size_t eq = item.find('=');
    const std::string key = trim(item.substr(0, eq)), value = eq == std::string::npos ? "" : trim(item.substr(eq + 1));
    static const char* const keys[] = {"sid", "time", "lat", "lon", "vmax", "pressure", "name", "basin", "unit", "averaging"};
    bool known = false;
    for (const char* k : keys) known = known || key == k;
    if (!known || value.empty())
      throw InputError(path, 0, "--columns item '" + item + "' is not one tarvo takes: sid=, time=, lat=, lon=, vmax=, "
                                "pressure=, name=, basin= (a column or a basin code), unit=kt|m/s|km/h|mph, "
                                "averaging=1|10 (minutes)");
    map[key] = value;
  }
  for (const char* need : {"sid", "time", "lat", "lon", "vmax"})
    if (!map.count(need))
      throw InputError(path, 0, std::string("--columns names no ") + need + " column (sid, time, lat, lon and vmax are needed)");
  double to_kt = 1.0;
  const std::string unit = map.count("unit") ? map["unit"] : "kt";
  if (!knots_per_unit(unit, to_kt)) throw InputError(path, 0, "--columns unit=" + unit + " is not kt, m/s, km/h or mph");
  const std::string averaging = map.count("averaging") ? map["averaging"] : "1";
  if (averaging != "1" && averaging != "10")
    throw InputError(path, 0, "--columns averaging=" + averaging + ": 1 (1-minute winds) or 10 (10-minute winds)");
  const double factor = averaging == "10" ? one_minute_per_ten_minute_wind : 1.0;

  const std::string text = read_whole_file(path, path);
  const std::vector<std::string_view> lines = lines_of(text);
  std::size_t header_line = 0;
  while (header_line < lines.size() && blank(lines[header_line])) ++header_line;
  if (header_line == lines.size()) throw InputError(path, 0, "is empty: a header line of column names is expected");
  const std::vector<std::string> header = split_commas(lines[header_line]);
  auto column_of = [&](const std::string& key, bool constant_allowed) -> long {
    if (!map.count(key)) return -1;
    for (std::size_t k = 0; k < header.size(); ++k)
      if (header[k] == map[key]) return static_cast<long>(k);
    if (constant_allowed) return -2;
    std::string names;
    for (const std::string& h : header) names += (names.empty() ? "" : ", ") + h;
    throw InputError(path, static_cast<int>(header_line + 1),
                     "the header has no column " + map[key] + " (for " + key + "); its columns: " + names);
  };
  const long c_sid = column_of("sid", false), c_time = column_of("time", false), c_lat = column_of("lat", false),
             c_lon = column_of("lon", false), c_vmax = column_of("vmax", false), c_pres = column_of("pressure", false),
             c_name = column_of("name", false), c_basin = column_of("basin", true);
  std::string constant_basin;
  if (c_basin == -2) {
    constant_basin = tarvo_basin(map["basin"]);
    if (constant_basin.empty())
      throw InputError(path, 0, "--columns basin=" + map["basin"] + " is neither a column of the header nor a basin code: "
                                "give " + basin_codes_accepted);
  }
  if (c_basin == -1)
    throw InputError(path, 0, "--columns names no basin: give basin=COLUMN, or basin=CODE for every storm (" +
                                  std::string(basin_codes_accepted) + ")");
  std::vector<BestTrack> tracks;
  std::map<std::string, std::size_t> by_sid;
  for (std::size_t l = header_line + 1; l < lines.size(); ++l) {
    if (blank(lines[l])) continue;
    const int line_no = static_cast<int>(l + 1);
    auto fail = [&](const std::string& what) { throw InputError(path, line_no, what); };
    const std::vector<std::string> f = split_commas(lines[l]);
    if (f.size() != header.size())
      fail(std::to_string(f.size()) + " fields; the header has " + std::to_string(header.size()));
    const std::string sid = f[static_cast<std::size_t>(c_sid)];
    if (sid.empty()) fail("no sid in column " + map["sid"]);
    auto number = [&](long c, const char* what, double& v) {
      if (!real(f[static_cast<std::size_t>(c)], v)) fail(std::string(what) + " '" + f[static_cast<std::size_t>(c)] + "' is not a number");
    };
    BestFix fix;
    fix.line = line_no;
    if (!csv_time(f[static_cast<std::size_t>(c_time)], fix.hours))
      fail("time '" + f[static_cast<std::size_t>(c_time)] + "' is not YYYY-MM-DD HH:MM, YYYY-MM-DDTHH:MM or YYYYMMDDHH");
    double lat = 0, lon = 0, vmax = std::numeric_limits<double>::quiet_NaN();
    number(c_lat, "latitude", lat);
    number(c_lon, "longitude", lon);
    if (!f[static_cast<std::size_t>(c_vmax)].empty()) number(c_vmax, "the maximum wind", vmax);  // empty: no wind
    if (std::fabs(lat) > 90) fail("latitude " + f[static_cast<std::size_t>(c_lat)] + " is beyond 90 degrees");
    fix.lat = static_cast<float>(lat);
    fix.lon = static_cast<float>(lon);
    fix.wind_kt = static_cast<float>(vmax * to_kt * factor);
    if (c_pres >= 0 && !f[static_cast<std::size_t>(c_pres)].empty()) {
      double p = 0;
      number(c_pres, "the pressure", p);
      fix.pressure_hpa = static_cast<float>(p);
    }
    if (c_basin >= 0) {
      fix.basin = tarvo_basin(f[static_cast<std::size_t>(c_basin)]);
      if (fix.basin.empty())
        fail("basin '" + f[static_cast<std::size_t>(c_basin)] + "' is not a code tarvo knows: " + basin_codes_accepted);
    } else {
      fix.basin = constant_basin;
    }
    auto [at, fresh] = by_sid.emplace(sid, tracks.size());
    if (fresh) {
      BestTrack t;
      t.sid = sid;
      t.name = c_name >= 0 ? f[static_cast<std::size_t>(c_name)] : sid;
      t.basin = fix.basin;
      t.wind_source = "column " + map["vmax"] + " of " + path + " (" + unit +
                      (averaging == "10" ? ", 10-minute, times 1/0.88 to 1-minute)" : ", 1-minute)");
      tracks.push_back(std::move(t));
    }
    BestTrack& t = tracks[at->second];
    if (!t.fixes.empty() && !(fix.hours > t.fixes.back().hours))
      fail("storm " + sid + ": its time " + hour_text(fix.hours) + " does not follow " + hour_text(t.fixes.back().hours) +
           " (line " + std::to_string(t.fixes.back().line) + "): times go backwards or repeat");
    t.fixes.push_back(fix);
  }
  std::vector<BestTrack> out;
  for (BestTrack& t : tracks) {
    int month = 0, day = 0, hour = 0;
    civil_from_hours(static_cast<long long>(std::floor(t.fixes.front().hours)), t.year, month, day, hour);
    if (track_selected(t, selection)) out.push_back(std::move(t));
  }
  if (out.empty() && tracks.empty()) throw InputError(path, 0, "holds no fix below its header");
  return out;
}

}  // namespace tarvo
