#include "input/tracks/catalog.hpp"

#include <netcdf.h>
#include <netcdf_mem.h>

#include <cerrno>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <type_traits>

#include "input/cf.hpp"
#include "input/input_error.hpp"

namespace tarvo {

namespace {

constexpr const char* time_units = catalog_time_units;
constexpr std::size_t max_fixes = 200;
constexpr double max_hours = 1200.0;
constexpr const auto& fix_fields = catalog_fix_fields;

bool safe_sid(const std::string& s) {
  if (s.empty() || s.size() > 200) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alnum && (i == 0 || (c != '.' && c != '_' && c != '-'))) return false;
  }
  return true;
}

std::string text_attribute(int ncid, int varid, const char* name) {
  nc_type type;
  std::size_t len;
  if (nc_inq_att(ncid, varid, name, &type, &len) != NC_NOERR) return std::string("\x01");  // absent
  if (type == NC_CHAR) {
    std::string s(len, '\0');
    if (len > 0 && nc_get_att_text(ncid, varid, name, s.data()) != NC_NOERR) return std::string("\x01");
    while (!s.empty() && s.back() == '\0') s.pop_back();
    return s;
  }
  if (type == NC_STRING && len == 1) {
    char* v = nullptr;
    if (nc_get_att_string(ncid, varid, name, &v) != NC_NOERR) return std::string("\x01");
    std::string s = v ? v : "";
    nc_free_string(1, &v);
    return s;
  }
  return std::string("\x01");
}

}  // namespace

long long hours_from_civil(int y, int m, int d, int h) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153u * static_cast<unsigned>(m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(d) - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return (era * 146097 + static_cast<long long>(doe) - 719468) * 24 + h;
}

void civil_from_hours(long long hours, int& year, int& month, int& day, int& hour) {
  long long z = hours >= 0 ? hours / 24 : -((-hours + 23) / 24);
  hour = static_cast<int>(hours - z * 24);
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<long long>(yoe) + era * 400 + (month <= 2));
}

bool hours_are_a_date(double hours) {
  return hours >= -17259888.0 && hours < 70389528.0;  // 0001-01-01 00:00 to 10000-01-01 00:00
}

std::string hour_text(double hours) {
  if (!hours_are_a_date(hours)) return "(not a date: " + std::to_string(hours) + " hours since 1970)";
  int y = 0, m = 0, d = 0, h = 0;
  civil_from_hours(static_cast<long long>(std::floor(hours)), y, m, d, h);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:00", y, m, d, h);
  return buf;
}

CatalogReader::CatalogReader(const std::string& path) : path_(path) {
  adopt(nc_open(path.c_str(), NC_NOWRITE, &ncid_));
}

CatalogReader::CatalogReader(const void* data, std::size_t size, const std::string& shown)
    : path_(shown), in_memory_(true) {
  adopt(nc_open_mem(shown.c_str(), NC_NOWRITE, size, const_cast<void*>(data), &ncid_));
}

void CatalogReader::adopt(int open_status) {
  bound_hdf5_free_lists();
  if (open_status == ENOENT) {
    ncid_ = -1;
    throw InputError(path_, 0, "cannot open: no such file");
  }
  if (open_status != NC_NOERR) {
    ncid_ = -1;
    throw InputError(path_, 0, std::string("not a readable NetCDF catalog: ") + nc_strerror(open_status));
  }
  small_chunk_caches(ncid_);
  try {
    check_layout();
  } catch (...) {
    nc_close(ncid_);
    ncid_ = -1;
    throw;
  }
}

CatalogReader::~CatalogReader() {
  if (ncid_ >= 0) nc_close(ncid_);
}

int CatalogReader::var(const char* name) const {
  int id;
  if (nc_inq_varid(ncid_, name, &id) != NC_NOERR) throw InputError(path_, 0, std::string("variable ") + name + " is missing");
  return id;
}

void CatalogReader::check_layout() {
  if (text_attribute(ncid_, NC_GLOBAL, "featureType") != "trajectory")
    throw InputError(path_, 0, "not a trajectory catalog (global attribute featureType is not \"trajectory\")");
  int storm_dim, step_dim;
  if (nc_inq_dimid(ncid_, "storm", &storm_dim) != NC_NOERR || nc_inq_dimid(ncid_, "step", &step_dim) != NC_NOERR)
    throw InputError(path_, 0, "dimensions storm and step are expected");
  nc_inq_dimlen(ncid_, storm_dim, &storms_);
  nc_inq_dimlen(ncid_, step_dim, &steps_);
  auto check = [&](const char* name, std::vector<int> dims, const char* units, bool strings) {
    const int id = var(name);
    nc_type type;
    int ndims;
    int dimids[NC_MAX_VAR_DIMS];
    nc_inq_var(ncid_, id, nullptr, &type, &ndims, dimids, nullptr);
    if (ndims != static_cast<int>(dims.size()) || !std::equal(dims.begin(), dims.end(), dimids))
      throw InputError(path_, 0, std::string("variable ") + name + " has the wrong dimensions (expected " +
                                     (dims.size() == 1 ? "storm" : "storm, step") + ")");
    if (strings ? type != NC_STRING : (type != NC_FLOAT && type != NC_DOUBLE))
      throw InputError(path_, 0, std::string("variable ") + name + " is of the wrong type (expected " +
                                     (strings ? "strings" : "floating-point values") + ")");
    if (units) {
      const std::string found = text_attribute(ncid_, id, "units");
      if (found == "\x01") throw InputError(path_, 0, std::string("variable ") + name + " has no units (expected '" + units + "')");
      if (found != units)
        throw InputError(path_, 0, std::string("variable ") + name + " has units '" + found + "', expected '" + units + "'");
    }
  };
  check("sid", {storm_dim}, nullptr, true);
  check("basin", {storm_dim}, nullptr, true);
  check("reference_time", {storm_dim}, nullptr, false);
  check("time", {storm_dim, step_dim}, nullptr, false);
  // Times: tarvo's own units, or any CF time of the real calendar.
  auto time_axis = [&](const char* name, CfTimeAxis& axis) {
    const int id = var(name);
    const std::string units = text_attribute(ncid_, id, "units");
    if (units == "\x01")
      throw InputError(path_, 0, std::string("variable ") + name + " has no units (expected '" + time_units + "')");
    std::string calendar = text_attribute(ncid_, id, "calendar");
    if (calendar == "\x01") calendar.clear();
    std::string why;
    if (!axis.parse(units, calendar, why))
      throw InputError(path_, 0, std::string("variable ") + name + ": " + why + " (expected '" + time_units + "')");
    if (!axis.real_calendar())
      throw InputError(path_, 0, std::string("variable ") + name + ": the calendar '" + calendar +
                                     "' is not the real one; a track's times are real dates (calendar \"standard\")");
  };
  time_axis("reference_time", reference_axis_);
  time_axis("time", time_axis_);
  for (const CatalogFixField& f : fix_fields) check(f.name, {storm_dim, step_dim}, f.units, false);
  for (const CatalogParam& p : catalog_params) check(p.name, {storm_dim}, nullptr, false);
}

std::vector<std::string> CatalogReader::strings(int varid, std::size_t first, std::size_t count) const {
  constexpr std::size_t reopen_after = 4096;  // strings
  strings_since_open_ += count;
  if (strings_since_open_ > reopen_after && !in_memory_) {
    // Closed first: HDF5 shares one open file between its opens.
    nc_close(ncid_);
    ncid_ = -1;
    if (const int status = nc_open(path_.c_str(), NC_NOWRITE, &ncid_); status != NC_NOERR) {
      ncid_ = -1;
      throw InputError(path_, 0, std::string("cannot open again: ") + nc_strerror(status));
    }
    small_chunk_caches(ncid_);  // variable ids stay what they were
    strings_since_open_ = count;
  }
  std::vector<char*> raw(count, nullptr);
  const std::size_t start[] = {first}, n[] = {count};
  std::vector<std::string> out;
  if (count == 0) return out;
  const int status = nc_get_vara_string(ncid_, varid, start, n, raw.data());
  if (status != NC_NOERR) throw InputError(path_, 0, std::string("cannot read strings: ") + nc_strerror(status));
  for (char* s : raw) out.emplace_back(s ? s : "");
  nc_free_string(count, raw.data());
  return out;
}

std::vector<std::string> CatalogReader::sids(std::size_t first, std::size_t count) const {
  if (first > storms_) first = storms_;
  if (count > storms_ - first) count = storms_ - first;
  return strings(var("sid"), first, count);
}

void CatalogReader::check_sids() const {
  constexpr std::size_t block = 4096;
  auto hash_of = [](const std::string& s) {
    std::uint64_t h = 14695981039346656037ull;  // FNV-1a
    for (const unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    return h;
  };
  // Every sid's hash, sorted; hashes that come twice are the only places a
  // sid can: those storms' sids are compared as text, in storm order.
  std::vector<std::uint64_t> hashes;
  hashes.reserve(storms_);
  for (std::size_t first = 0; first < storms_; first += block) {
    const std::vector<std::string> s = sids(first, block);
    for (std::size_t k = 0; k < s.size(); ++k) {
      if (!safe_sid(s[k]))
        throw InputError(path_, 0, "variable sid, storm " + std::to_string(first + k) + " (" + s[k] +
                                       "): not safe as a file name (letters, digits, '.', '_', '-')");
      hashes.push_back(hash_of(s[k]));
    }
  }
  std::sort(hashes.begin(), hashes.end());
  std::vector<std::uint64_t> shared;
  for (std::size_t k = 1; k < hashes.size(); ++k)
    if (hashes[k] == hashes[k - 1] && (shared.empty() || shared.back() != hashes[k])) shared.push_back(hashes[k]);
  hashes = std::vector<std::uint64_t>();
  if (shared.empty()) return;
  std::map<std::string, std::size_t> seen;  // sids of shared hashes: the first storm of each
  for (std::size_t first = 0; first < storms_; first += block) {
    const std::vector<std::string> s = sids(first, block);
    for (std::size_t k = 0; k < s.size(); ++k) {
      if (!std::binary_search(shared.begin(), shared.end(), hash_of(s[k]))) continue;
      const auto [at, fresh] = seen.emplace(s[k], first + k);
      if (!fresh)
        throw InputError(path_, 0, "variable sid, storm " + std::to_string(first + k) + " (" + s[k] +
                                       "): the same sid as storm " + std::to_string(at->second));
    }
  }
}

bool CatalogReader::has_origin() const {
  int id = -1;
  return nc_inq_varid(ncid_, "orig_event_flag", &id) == NC_NOERR || nc_inq_varid(ncid_, "climada_id_no", &id) == NC_NOERR;
}

std::vector<CatalogStorm> CatalogReader::read(std::size_t first, std::size_t count) const {
  if (first > storms_) first = storms_;
  if (count > storms_ - first) count = storms_ - first;
  std::vector<CatalogStorm> out(count);
  if (count == 0) return out;
  const std::vector<std::string> sid = strings(var("sid"), first, count);
  const std::vector<std::string> basin = strings(var("basin"), first, count);
  std::vector<std::string> name;
  int name_id;
  if (nc_inq_varid(ncid_, "name", &name_id) == NC_NOERR) {
    nc_type type;
    nc_inq_vartype(ncid_, name_id, &type);
    if (type == NC_STRING) name = strings(name_id, first, count);
  }
  // Optional whole numbers per storm (0 where absent or not a whole number).
  auto optional_ints = [&](const char* v) {
    std::vector<int> d(count, 0);
    int id;
    nc_type type;
    int ndims = 0, dim = -1;
    if (nc_inq_varid(ncid_, v, &id) != NC_NOERR) return d;
    nc_inq_var(ncid_, id, nullptr, &type, &ndims, &dim, nullptr);
    int storm_dim = -1;
    nc_inq_dimid(ncid_, "storm", &storm_dim);
    if (ndims != 1 || dim != storm_dim)
      throw InputError(path_, 0, std::string("variable ") + v + " has the wrong dimensions (expected storm)");
    if (type != NC_BYTE && type != NC_SHORT && type != NC_INT && type != NC_INT64 && type != NC_UBYTE &&
        type != NC_USHORT && type != NC_UINT && type != NC_UINT64)
      throw InputError(path_, 0, std::string("variable ") + v + " is of the wrong type (expected whole numbers)");
    const std::size_t start[] = {first}, n[] = {count};
    const int status = nc_get_vara_int(ncid_, id, start, n, d.data());
    if (status != NC_NOERR && status != NC_ERANGE)
      throw InputError(path_, 0, std::string("variable ") + v + ": " + nc_strerror(status));
    if (status == NC_ERANGE) throw InputError(path_, 0, std::string("variable ") + v + " holds a value out of range");
    return d;
  };
  const std::vector<int> years = optional_ints("year"), numbers = optional_ints("cyclone_number");
  // A variable's values for the storms read (and their fixes, per_fix), as T.
  auto values = [&](auto zero, const char* v, bool per_fix) {
    using T = decltype(zero);
    std::vector<T> d(count * (per_fix ? steps_ : 1));
    const std::size_t start[] = {first, 0}, n[] = {count, steps_};
    int status = NC_NOERR;
    if (!d.empty()) {
      if constexpr (std::is_same_v<T, double>) status = nc_get_vara_double(ncid_, var(v), start, n, d.data());
      else status = nc_get_vara_float(ncid_, var(v), start, n, d.data());
    }
    if (status != NC_NOERR) throw InputError(path_, 0, std::string("variable ") + v + ": " + nc_strerror(status));
    return d;
  };
  auto doubles = [&](const char* v, bool per_fix) { return values(0.0, v, per_fix); };
  auto floats = [&](const char* v, bool per_fix) { return values(0.0f, v, per_fix); };
  std::vector<double> ref = doubles("reference_time", false), time = doubles("time", true);
  // To hours since 1970 (the same values in tarvo's own units); within a
  // millisecond of a whole hour is that hour (days or minutes as reals).
  auto to_hours = [](const CfTimeAxis& axis, std::vector<double>& v) {
    for (double& x : v) {
      if (!std::isfinite(x)) continue;
      x = axis.hours_since_1970(x);
      if (std::fabs(x - std::round(x)) < 3e-7) x = std::round(x);
    }
  };
  to_hours(reference_axis_, ref);
  to_hours(time_axis_, time);
  std::vector<std::vector<float>> fix;
  for (const CatalogFixField& f : fix_fields) fix.push_back(floats(f.name, true));
  std::vector<std::vector<float>> par;
  for (const CatalogParam& p : catalog_params) par.push_back(floats(p.name, false));
  // Where the tracks came from, when another tool made them (CLIMADA).
  std::vector<signed char> origin(count, -1);
  std::vector<double> climada_id(count, std::numeric_limits<double>::quiet_NaN());
  if (int id; nc_inq_varid(ncid_, "orig_event_flag", &id) == NC_NOERR) {
    const std::size_t start[] = {first}, n[] = {count};
    if (const int status = nc_get_vara_schar(ncid_, id, start, n, origin.data()); status != NC_NOERR)
      throw InputError(path_, 0, std::string("variable orig_event_flag: ") + nc_strerror(status));
  }
  if (int id; nc_inq_varid(ncid_, "climada_id_no", &id) == NC_NOERR) {
    const std::size_t start[] = {first}, n[] = {count};
    if (const int status = nc_get_vara_double(ncid_, id, start, n, climada_id.data()); status != NC_NOERR)
      throw InputError(path_, 0, std::string("variable climada_id_no: ") + nc_strerror(status));
  }
  std::vector<signed char> source;
  if (int id; nc_inq_varid(ncid_, "vpot_source", &id) == NC_NOERR && steps_ > 0) {
    source.resize(count * steps_);
    const std::size_t start[] = {first, 0}, n[] = {count, steps_};
    if (nc_get_vara_schar(ncid_, id, start, n, source.data()) != NC_NOERR) source.clear();
  }

  for (std::size_t i = 0; i < count; ++i) {
    CatalogStorm& s = out[i];
    s.sid = sid[i];
    s.name = i < name.size() && !name[i].empty() ? name[i] : sid[i];
    const std::string where = "storm " + std::to_string(first + i) + " (" + s.sid + ")";
    auto fail = [&](const std::string& what) { throw InputError(path_, 0, where + ": " + what); };
    if (!safe_sid(s.sid)) fail("variable sid is not safe as a file name (letters, digits, '.', '_', '-')");
    const double r = ref[i];
    if (!std::isfinite(r) || r != std::round(r) || std::fabs(r) > 1e9) fail("variable reference_time is not a whole hour");
    s.reference_hours = r;
    int year;
    civil_from_hours(static_cast<long long>(r), year, s.track.month, s.track.day, s.track.hour);
    s.track.year = year;  // a real date: 29 February in a leap year is a day like any other
    s.year = years[i] != 0 ? years[i] : year;
    s.cyclone_number = numbers[i];
    if (s.cyclone_number < 0) fail("variable cyclone_number is negative");
    if (origin[i] < -1 || origin[i] > 1) fail("variable orig_event_flag is not 0, 1 or -1 (not given)");
    s.orig_event_flag = origin[i];
    s.climada_id_no = climada_id[i];
    s.track.basin = tarvo_basin(basin[i]);
    if (s.track.basin.empty())
      fail("variable basin: '" + basin[i] + "' is not a basin code tarvo knows: give " + basin_codes_accepted);
    std::size_t m = 0;
    while (m < steps_ && std::isfinite(time[i * steps_ + m])) ++m;
    if (m == 0) fail("variable time has no fixes");
    for (std::size_t k = m; k < steps_; ++k)
      if (std::isfinite(time[i * steps_ + k])) fail("variable time has a gap (NaN) among the fixes");
    if (m > max_fixes) fail(std::to_string(m) + " fixes; at most " + std::to_string(max_fixes));
    for (std::size_t k = 0; k < m; ++k) {
      const double t = time[i * steps_ + k];
      if (t != std::round(t)) fail("variable time is not on whole hours");
      if (k > 0 && !(t > time[i * steps_ + k - 1])) fail("variable time does not increase");
    }
    if (time[i * steps_ + m - 1] - time[i * steps_] >= max_hours)
      fail("the track lasts 1200 h or more");
    s.track.records.resize(m);
    for (std::size_t k = 0; k < m; ++k) {
      TrackRecord& rec = s.track.records[k];
      rec.hour = static_cast<int>(time[i * steps_ + k] - r);
      for (std::size_t f = 0; f < fix.size(); ++f) {
        const float v = fix[f][i * steps_ + k];
        const bool environment = fix_fields[f].member != &TrackRecord::lat && fix_fields[f].member != &TrackRecord::lon &&
                                 fix_fields[f].member != &TrackRecord::vmax_kt;
        if (!std::isfinite(v) && std::isnan(v) && environment && environment_optional_) {
          rec.*(fix_fields[f].member) = v;
          continue;
        }
        if (!std::isfinite(v) && environment && std::isnan(v))
          fail(std::string("variable ") + fix_fields[f].name + " is NaN among the fixes, at fix " + std::to_string(k + 1) +
               " (" + std::to_string(rec.hour) + " h): the catalog has no environment there yet: fill it in with "
               "tarvo-catalog env (or tarvo.environment)");
        if (!std::isfinite(v))
          fail(std::string("variable ") + fix_fields[f].name + " is " + (std::isnan(v) ? "NaN" : "infinite") +
               " among the fixes, at fix " + std::to_string(k + 1) + " (" + std::to_string(rec.hour) +
               " h): every fix needs a finite value: fill it in (the environment along the tracks: "
               "tarvo-catalog env) or leave the fix out");
        rec.*(fix_fields[f].member) = v;
      }
    }
    if (!source.empty()) {
      s.vpot_source.resize(m);
      for (std::size_t k = 0; k < m; ++k) s.vpot_source[k] = source[i * steps_ + k];
    }
    for (std::size_t p = 0; p < par.size(); ++p) {
      if (!std::isfinite(par[p][i])) fail(std::string("variable ") + catalog_params[p].name + " is not a number");
      s.params.*(catalog_params[p].member) = par[p][i];
    }
  }
  return out;
}

}  // namespace tarvo
