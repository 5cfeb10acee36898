#include "input/cf.hpp"

#include <hdf5.h>
#include <netcdf.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>

#include "input/tracks/catalog.hpp"

namespace tarvo {

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double metres_per_second_per_knot = 1852.0 / 3600.0;
constexpr double metres_per_statute_mile = 1609.344;

// A unit as written, lower case, without blanks; "**" and "^" as nothing
// ("m s**-1", "m s^-1" and "m s-1" alike).
std::string plain(std::string u) {
  std::string out;
  for (std::size_t i = 0; i < u.size(); ++i) {
    const char c = u[i];
    if (c == ' ' || c == '\t') continue;
    if (c == '*' && i + 1 < u.size() && u[i + 1] == '*') {
      ++i;
      continue;
    }
    if (c == '^') continue;
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

bool one_of(const std::string& u, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (u == n) return true;
  return false;
}

int days_in(int month, int year) {
  constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  return month == 2 && leap ? 29 : days[month - 1];
}

}  // namespace

bool CfTimeAxis::parse(const std::string& units, const std::string& calendar, std::string& why) {
  const std::size_t since = units.find(" since ");
  if (since == std::string::npos) {
    why = "units '" + units + "' are not '<unit> since <date>'";
    return false;
  }
  const std::string unit = plain(units.substr(0, since));
  if (one_of(unit, {"days", "day", "d"})) unit_hours_ = 24.0;
  else if (one_of(unit, {"hours", "hour", "h", "hr", "hrs"})) unit_hours_ = 1.0;
  else if (one_of(unit, {"minutes", "minute", "min", "mins"})) unit_hours_ = 1.0 / 60.0;
  else if (one_of(unit, {"seconds", "second", "s", "sec", "secs"})) unit_hours_ = 1.0 / 3600.0;
  else {
    why = "time unit '" + units.substr(0, since) + "' is none of days, hours, minutes, seconds";
    return false;
  }
  std::string date = units.substr(since + 7);
  for (char& c : date)
    if (c == 'T') c = ' ';
  int y = 0, mo = 0, d = 0, h = 0, mi = 0;
  double s = 0.0;
  const int got = std::sscanf(date.c_str(), "%d-%d-%d %d:%d:%lf", &y, &mo, &d, &h, &mi, &s);
  if (got < 3 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 24 || mi < 0 || mi > 59 || s < 0 || s >= 61) {
    why = "the date of '" + units + "' cannot be read";
    return false;
  }
  year_ = y;
  month_ = mo;
  day_ = d;
  hour_ = h + mi / 60.0 + s / 3600.0;
  const std::string cal = plain(calendar.empty() ? "standard" : calendar);
  calendar_ = cal;
  if (one_of(cal, {"standard", "gregorian", "proleptic_gregorian"})) kind_ = Kind::gregorian;
  else if (one_of(cal, {"noleap", "365_day"})) kind_ = Kind::fixed_365;
  else if (one_of(cal, {"all_leap", "366_day"})) kind_ = Kind::fixed_366;
  else if (cal == "360_day") kind_ = Kind::fixed_360;
  else {
    why = "calendar '" + calendar + "' is not one tarvo takes (standard, gregorian, proleptic_gregorian, noleap, "
          "365_day, all_leap, 366_day, 360_day)";
    return false;
  }
  return true;
}

double CfTimeAxis::hours_since_1970(double value) const {
  const double offset_hours = value * unit_hours_;
  if (kind_ == Kind::gregorian)
    return static_cast<double>(hours_from_civil(year_, month_, day_, 0)) + hour_ + offset_hours;
  // A model calendar: its date, then the same date of the real calendar
  // (a day the real month lacks, 30 February, taken as its last day).
  auto month_days = [&](int m) {
    if (kind_ == Kind::fixed_360) return 30;
    constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && kind_ == Kind::fixed_366 ? 29 : days[m - 1];
  };
  const int year_days = kind_ == Kind::fixed_360 ? 360 : kind_ == Kind::fixed_366 ? 366 : 365;
  double day_of_year = day_ - 1;
  for (int m = 1; m < month_; ++m) day_of_year += month_days(m);
  const double days = static_cast<double>(year_) * year_days + day_of_year + (hour_ + offset_hours) / 24.0;
  const double whole_days = std::floor(days);
  const double hours = (days - whole_days) * 24.0;
  long long y = static_cast<long long>(std::floor(whole_days / year_days));
  int rest = static_cast<int>(whole_days - static_cast<double>(y) * year_days);
  int m = 1;
  while (m < 12 && rest >= month_days(m)) rest -= month_days(m++);
  const int d = std::min(rest + 1, days_in(m, static_cast<int>(y)));
  return static_cast<double>(hours_from_civil(static_cast<int>(y), m, d, 0)) + hours;
}

bool knots_per_unit(const std::string& units, double& factor) {
  const std::string u = plain(units);
  if (one_of(u, {"kt", "kts", "knot", "knots", "kn"})) factor = 1.0;
  else if (one_of(u, {"m/s", "ms-1", "m.s-1", "ms**-1", "meterspersecond", "metrespersecond", "m/sec"}))
    factor = 1.0 / metres_per_second_per_knot;
  else if (one_of(u, {"km/h", "kmh-1", "km.h-1", "kmh", "kph", "kilometersperhour", "kilometresperhour"}))
    factor = 1000.0 / 1852.0;
  else if (one_of(u, {"mph", "mi/h", "mih-1", "milesperhour"})) factor = metres_per_statute_mile / 1852.0;
  else return false;
  return true;
}

bool metres_per_second_per_unit(const std::string& units, double& factor) {
  double kt = 0.0;
  if (!knots_per_unit(units, kt)) return false;
  factor = kt * metres_per_second_per_knot;
  return true;
}

bool hpa_per_unit(const std::string& units, double& factor) {
  const std::string u = plain(units);
  if (one_of(u, {"hpa", "mb", "mbar", "millibar", "millibars"})) factor = 1.0;
  else if (one_of(u, {"pa", "pascal", "pascals"})) factor = 0.01;
  else return false;
  return true;
}

bool kelvin_offset_of_unit(const std::string& units, double& offset) {
  const std::string u = plain(units);
  if (one_of(u, {"k", "kelvin", "degk", "deg_k", "degreek", "degrees_k"})) offset = 0.0;
  else if (one_of(u, {"degc", "c", "deg_c", "degreec", "degree_c", "degrees_c", "degrees_celsius", "celsius",
                      "degree_celsius", "\xc2\xb0" "c"}))
    offset = 273.15;
  else return false;
  return true;
}

bool kg_per_kg_per_unit(const std::string& units, double& factor) {
  const std::string u = plain(units);
  if (one_of(u, {"kgkg-1", "kg/kg", "1", "kgkg**-1", "kg.kg-1", "", "dimensionless"})) factor = 1.0;
  else if (one_of(u, {"g/kg", "gkg-1", "g.kg-1"})) factor = 0.001;
  else return false;
  return true;
}

bool percent_per_unit(const std::string& units, double& factor) {
  const std::string u = plain(units);
  if (one_of(u, {"%", "percent", "pct"})) factor = 1.0;
  else if (one_of(u, {"1", "fraction", ""})) factor = 100.0;
  else return false;
  return true;
}

bool degrees_unit(const std::string& units) {
  const std::string u = plain(units);
  return u.empty() || u.rfind("degree", 0) == 0 || u.rfind("deg", 0) == 0;
}

std::string nc_text_attribute(int ncid, int varid, const char* name, const std::string& absent) {
  nc_type type;
  std::size_t len = 0;
  if (nc_inq_att(ncid, varid, name, &type, &len) != NC_NOERR) return absent;
  if (type == NC_CHAR) {
    std::string s(len, '\0');
    if (len > 0 && nc_get_att_text(ncid, varid, name, s.data()) != NC_NOERR) return absent;
    while (!s.empty() && s.back() == '\0') s.pop_back();
    return s;
  }
  if (type == NC_STRING && len == 1) {
    char* v = nullptr;
    if (nc_get_att_string(ncid, varid, name, &v) != NC_NOERR) return absent;
    std::string s = v ? v : "";
    nc_free_string(1, &v);
    return s;
  }
  return absent;
}

void small_chunk_caches(int ncid, std::size_t bytes) {
  int nvars = 0;
  nc_inq_nvars(ncid, &nvars);
  for (int v = 0; v < nvars; ++v) {
    // At least one whole chunk of the variable (whatever chunks the file's
    // writer chose): a chunk larger than its cache would be read and
    // decompressed again for every block of rows taken from it.
    std::size_t cache = bytes;
    int ndims = 0, storage = NC_CONTIGUOUS;
    nc_type type = NC_NAT;
    std::size_t chunk[NC_MAX_VAR_DIMS];
    if (nc_inq_varndims(ncid, v, &ndims) == NC_NOERR && ndims <= NC_MAX_VAR_DIMS &&
        nc_inq_var_chunking(ncid, v, &storage, chunk) == NC_NOERR && storage == NC_CHUNKED &&
        nc_inq_vartype(ncid, v, &type) == NC_NOERR) {
      std::size_t size = 16;  // a string: its reference to HDF5's heap
      if (type != NC_STRING) nc_inq_type(ncid, type, nullptr, &size);
      for (int d = 0; d < ndims; ++d) size *= chunk[d];
      cache = std::max(cache, size + size / 8);
    }
    nc_set_var_chunk_cache(ncid, v, cache, 31, 0.75f);
  }
}

void bound_hdf5_free_lists() {
  static const bool bounded = [] {
    // Regular, array and block (and factory) lists: global and per-list limits, bytes.
    // (A block list keeps up to 2 MB: the 1 MB conversion buffers HDF5
    // allocates for every write of strings are taken again, not cleared anew.)
    H5set_free_list_limits(256 << 10, 64 << 10, 512 << 10, 128 << 10, 4 << 20, 2 << 20);
    return true;
  }();
  (void)bounded;
}

int nc_read_unpacked(int ncid, int varid, const std::size_t* start, const std::size_t* count, std::vector<double>& out) {
  int ndims = 0;
  if (const int s = nc_inq_varndims(ncid, varid, &ndims); s != NC_NOERR) return s;
  std::size_t n = 1;
  for (int d = 0; d < ndims; ++d) n *= count[d];
  out.resize(n);
  if (n == 0) return NC_NOERR;
  if (const int s = nc_get_vara_double(ncid, varid, start, count, out.data()); s != NC_NOERR) return s;
  // Missing values, compared packed; then the packing undone.
  double fill = nan, missing = nan, scale = 1.0, offset = 0.0;
  nc_type type;
  std::size_t len;
  const bool has_fill = nc_inq_att(ncid, varid, "_FillValue", &type, &len) == NC_NOERR && len == 1 &&
                        nc_get_att_double(ncid, varid, "_FillValue", &fill) == NC_NOERR;
  const bool has_missing = nc_inq_att(ncid, varid, "missing_value", &type, &len) == NC_NOERR && len == 1 &&
                           nc_get_att_double(ncid, varid, "missing_value", &missing) == NC_NOERR;
  if (nc_inq_att(ncid, varid, "scale_factor", &type, &len) == NC_NOERR) nc_get_att_double(ncid, varid, "scale_factor", &scale);
  if (nc_inq_att(ncid, varid, "add_offset", &type, &len) == NC_NOERR) nc_get_att_double(ncid, varid, "add_offset", &offset);
  nc_type var_type;
  nc_inq_vartype(ncid, varid, &var_type);
  // Without a _FillValue attribute, netCDF's own fill value of the type marks what was never written.
  double default_fill = nan;
  if (!has_fill) {
    switch (var_type) {
      case NC_FLOAT: default_fill = static_cast<double>(NC_FILL_FLOAT); break;
      case NC_DOUBLE: default_fill = NC_FILL_DOUBLE; break;
      case NC_SHORT: default_fill = NC_FILL_SHORT; break;
      case NC_INT: default_fill = NC_FILL_INT; break;
      case NC_BYTE: default_fill = NC_FILL_BYTE; break;
      default: break;
    }
  }
  for (double& v : out) {
    if ((has_fill && v == fill) || (has_missing && v == missing) || (!has_fill && v == default_fill)) {
      v = nan;
      continue;
    }
    v = v * scale + offset;
  }
  return NC_NOERR;
}

int nc_read_strings(int ncid, int varid, std::size_t first, std::size_t rows, std::vector<std::string>& out) {
  nc_type type;
  int ndims = 0;
  int dimids[NC_MAX_VAR_DIMS];
  if (const int s = nc_inq_var(ncid, varid, nullptr, &type, &ndims, dimids, nullptr); s != NC_NOERR) return s;
  std::size_t len[NC_MAX_VAR_DIMS] = {};
  for (int d = 0; d < ndims; ++d) nc_inq_dimlen(ncid, dimids[d], &len[d]);
  std::size_t start[NC_MAX_VAR_DIMS] = {}, count[NC_MAX_VAR_DIMS] = {};
  for (int d = 0; d < ndims; ++d) count[d] = len[d];
  if (ndims > 0) {
    start[0] = first;
    count[0] = rows;
  }
  out.clear();
  if (type == NC_STRING) {
    std::size_t n = 1;
    for (int d = 0; d < ndims; ++d) n *= count[d];
    std::vector<char*> raw(n, nullptr);
    if (n == 0) return NC_NOERR;
    if (const int s = nc_get_vara_string(ncid, varid, start, count, raw.data()); s != NC_NOERR) return s;
    for (char* p : raw) out.emplace_back(p ? p : "");
    nc_free_string(n, raw.data());
    return NC_NOERR;
  }
  if (type != NC_CHAR && ndims >= 1) {
    // Numbers as ids (a tracker's integer track_id): their text.
    std::size_t n = 1;
    for (int d = 0; d < ndims; ++d) n *= count[d];
    std::vector<double> v(n);
    if (n > 0)
      if (const int s = nc_get_vara_double(ncid, varid, start, count, v.data()); s != NC_NOERR) return s;
    char text[40];
    for (const double x : v) {
      if (x == std::floor(x) && std::fabs(x) < 1e15) std::snprintf(text, sizeof text, "%lld", static_cast<long long>(x));
      else std::snprintf(text, sizeof text, "%.9g", x);
      out.emplace_back(text);
    }
    return NC_NOERR;
  }
  if (type != NC_CHAR || ndims < 1) return NC_EBADTYPE;
  const std::size_t width = count[ndims - 1];
  std::size_t n = 1;
  for (int d = 0; d + 1 < ndims; ++d) n *= count[d];
  std::string chars(n * width, '\0');
  if (n * width > 0)
    if (const int s = nc_get_vara_text(ncid, varid, start, count, chars.data()); s != NC_NOERR) return s;
  for (std::size_t i = 0; i < n; ++i) {
    std::string v = chars.substr(i * width, width);
    v.erase(std::find(v.begin(), v.end(), '\0'), v.end());
    while (!v.empty() && v.back() == ' ') v.pop_back();
    out.push_back(std::move(v));
  }
  return NC_NOERR;
}

}  // namespace tarvo
