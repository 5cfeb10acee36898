#include "input/fields/ocean_sources.hpp"

#include <netcdf.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>

#include "input/cf.hpp"
#include "input/input_error.hpp"
#include "input/tracks/catalog.hpp"

namespace tarvo {

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string plain_units(const std::string& u) {
  std::string out;
  for (char c : u)
    if (c != ' ' && c != '\t') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool one_of(const std::string& s, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (s == n) return true;
  return false;
}

std::string var_name(int ncid, int varid) {
  char name[NC_MAX_NAME + 1] = {};
  nc_inq_varname(ncid, varid, name);
  return name;
}

std::string dim_name(int ncid, int dimid) {
  char name[NC_MAX_NAME + 1] = {};
  nc_inq_dimname(ncid, dimid, name);
  return name;
}

// A length in metres: the factor of its units; false when they are not a length.
bool metres_per_unit(const std::string& units, double& factor) {
  const std::string u = plain_units(units);
  if (one_of(u, {"m", "meter", "meters", "metre", "metres", "meter(s)"})) factor = 1.0;
  else if (one_of(u, {"cm", "centimeter", "centimeters", "centimetre", "centimetres"})) factor = 0.01;
  else if (one_of(u, {"km", "kilometer", "kilometers", "kilometre", "kilometres"})) factor = 1000.0;
  else return false;
  return true;
}

// The coordinate values of a dimension: its own variable, or the one
// one-dimensional variable over it that says it is a latitude, longitude,
// depth or time (Holte's lat(iLAT)). -1 when none.
int coordinate_of(int ncid, int dimid) {
  int varid = -1;
  if (nc_inq_varid(ncid, dim_name(ncid, dimid).c_str(), &varid) == NC_NOERR) return varid;
  int nvars = 0;
  nc_inq_nvars(ncid, &nvars);
  for (int v = 0; v < nvars; ++v) {
    int ndims = 0, dims[NC_MAX_VAR_DIMS];
    if (nc_inq_var(ncid, v, nullptr, nullptr, &ndims, dims, nullptr) != NC_NOERR || ndims != 1 || dims[0] != dimid)
      continue;
    const std::string n = lower(var_name(ncid, v));
    const std::string sn = nc_text_attribute(ncid, v, "standard_name");
    if (one_of(n, {"lat", "latitude", "lon", "longitude", "depth", "time", "month"}) ||
        one_of(sn, {"latitude", "longitude", "depth", "time"}))
      return v;
  }
  return -1;
}

enum class Kind { lat, lon, depth, time, other };

Kind kind_of(int ncid, int dimid, int coord) {
  const std::string dn = lower(dim_name(ncid, dimid));
  const std::string cn = coord >= 0 ? lower(var_name(ncid, coord)) : "";
  const std::string sn = coord >= 0 ? nc_text_attribute(ncid, coord, "standard_name") : "";
  const std::string axis = coord >= 0 ? lower(nc_text_attribute(ncid, coord, "axis")) : "";
  const std::string units = coord >= 0 ? plain_units(nc_text_attribute(ncid, coord, "units")) : "";
  const std::string positive = coord >= 0 ? lower(nc_text_attribute(ncid, coord, "positive")) : "";
  auto named = [&](std::initializer_list<const char*> names) { return one_of(dn, names) || one_of(cn, names); };
  if (sn == "latitude" || named({"lat", "latitude", "ilat", "nav_lat"}) ||
      one_of(units, {"degrees_north", "degree_north", "degrees_n", "degree_n"}))
    return Kind::lat;
  if (sn == "longitude" || named({"lon", "longitude", "ilon", "nav_lon"}) ||
      one_of(units, {"degrees_east", "degree_east", "degrees_e", "degree_e"}))
    return Kind::lon;
  if (sn == "time" || axis == "t" || named({"time", "month", "imonth", "months", "t"})) return Kind::time;
  if (sn == "depth" || positive == "down" || positive == "up" || axis == "z" ||
      named({"depth", "lev", "olevel", "deptht", "z_t", "z_l", "depth_std", "level"}))
    return Kind::depth;
  return Kind::other;
}

void cell_axis(const std::vector<double>& v, bool longitude, CellAxis& axis, const std::string& what,
               const std::string& path, const std::string& variable) {
  auto fail = [&](const std::string& why) { throw InputError(path, 0, "variable " + variable + ": its " + what + " " + why); };
  if (v.empty()) fail("are empty");
  for (double x : v)
    if (!std::isfinite(x)) fail("have a missing value");
  const bool up = v.size() < 2 || v[1] > v[0];
  for (std::size_t k = 1; k < v.size(); ++k)
    if ((v[k] > v[k - 1]) != up || v[k] == v[k - 1]) fail("are not in order");
  if (longitude && !up) fail("decrease (expected eastward order)");
  if (!longitude && (v.front() < -90.5 || v.back() < -90.5 || v.front() > 90.5 || v.back() > 90.5))
    fail("lie outside -90..90");
  axis.centre = v;
  axis.increasing = up;
  const std::size_t n = v.size();
  axis.lower.resize(n);
  axis.upper.resize(n);
  for (std::size_t k = 0; k < n; ++k) {
    const double before = k > 0 ? 0.5 * (v[k - 1] + v[k]) : n > 1 ? v[0] - 0.5 * (v[1] - v[0]) : v[0] - 0.5;
    const double after = k + 1 < n ? 0.5 * (v[k] + v[k + 1]) : n > 1 ? v[k] + 0.5 * (v[k] - v[k - 1]) : v[0] + 0.5;
    axis.lower[k] = std::min(before, after);
    axis.upper[k] = std::max(before, after);
    if (!longitude) {
      axis.lower[k] = std::max(axis.lower[k], -90.0);
      axis.upper[k] = std::min(axis.upper[k], 90.0);
    }
  }
  if (longitude && axis.upper.back() - axis.lower.front() > 360.0 + 1e-6) fail("span more than 360 degrees");
}

// Reads the dimensions of `varid` and what they are; curvilinear grids and
// dimensions of other kinds are refused.
GridLayout layout_of(int ncid, int varid, const std::string& path, bool want_depth) {
  GridLayout g;
  g.varid = varid;
  g.name = var_name(ncid, varid);
  int dims[NC_MAX_VAR_DIMS];
  nc_inq_var(ncid, varid, nullptr, nullptr, &g.ndims, dims, nullptr);
  g.length.resize(static_cast<std::size_t>(g.ndims));
  auto fail = [&](const std::string& why) { throw InputError(path, 0, "variable " + g.name + ": " + why); };
  // A curvilinear grid: latitudes and longitudes of two dimensions.
  const std::string coordinates = nc_text_attribute(ncid, varid, "coordinates");
  int nvars = 0;
  nc_inq_nvars(ncid, &nvars);
  for (int v = 0; v < nvars; ++v) {
    int nd = 0;
    nc_inq_varndims(ncid, v, &nd);
    const std::string sn = nc_text_attribute(ncid, v, "standard_name");
    const std::string n = lower(var_name(ncid, v));
    if (nd >= 2 && (sn == "latitude" || sn == "longitude" || one_of(n, {"lat", "latitude", "nav_lat", "lon", "longitude", "nav_lon"})))
      fail("its grid is curvilinear (" + var_name(ncid, v) +
           " has two dimensions): regrid it to a regular latitude-longitude grid first, e.g. "
           "cdo remapbil,r360x180 IN.nc OUT.nc");
  }
  (void)coordinates;
  for (int d = 0; d < g.ndims; ++d) {
    nc_inq_dimlen(ncid, dims[d], &g.length[static_cast<std::size_t>(d)]);
    const int coord = coordinate_of(ncid, dims[d]);
    const Kind kind = kind_of(ncid, dims[d], coord);
    const std::string dn = dim_name(ncid, dims[d]);
    const std::size_t len = g.length[static_cast<std::size_t>(d)];
    if (kind == Kind::other) {
      if (len != 1) fail("its dimension " + dn + " is none of latitude, longitude, depth and time");
      continue;
    }
    if (kind == Kind::time) {
      g.time_pos = d;
      g.time_month.assign(len, 0);
      if (coord >= 0) g.time_month = months_of_times(ncid, coord, len);
      continue;
    }
    if (kind == Kind::depth && !want_depth) {
      if (len != 1) fail("has depth levels (" + dn + "): expected one value a point");
      continue;
    }
    if (coord < 0) fail("its dimension " + dn + " has no coordinate variable");
    std::vector<double> values;
    const std::size_t zero = 0;
    if (nc_read_unpacked(ncid, coord, &zero, &len, values) != NC_NOERR) fail("its coordinate " + dn + " cannot be read");
    if (kind == Kind::lat) {
      g.lat_pos = d;
      cell_axis(values, false, g.lat, "latitudes (" + dn + ")", path, g.name);
    } else if (kind == Kind::lon) {
      g.lon_pos = d;
      cell_axis(values, true, g.lon, "longitudes (" + dn + ")", path, g.name);
    } else {
      g.depth_pos = d;
      const std::string units = nc_text_attribute(ncid, coord, "units", "\x01");
      const std::string positive = lower(nc_text_attribute(ncid, coord, "positive"));
      const std::string sn = nc_text_attribute(ncid, coord, "standard_name");
      double factor = 0.0;
      if (units == "\x01") fail("its depths (" + dn + ") have no units (expected m or cm)");
      if (!metres_per_unit(units, factor)) fail("its depths (" + dn + ") are in '" + units + "' (expected m or cm)");
      if (positive.empty() && sn != "depth")
        fail("its depths (" + dn + ") do not say which way they count (positive = \"down\", or standard_name = \"depth\")");
      const double sign = positive == "up" ? -1.0 : 1.0;
      for (double& x : values) {
        if (!std::isfinite(x)) fail("its depths (" + dn + ") have a missing value");
        x *= sign * factor;
      }
      g.depth_m = values;
    }
  }
  if (g.lat_pos < 0 || g.lon_pos < 0) fail("it has no latitude and longitude dimensions");
  if (want_depth && g.depth_pos < 0) fail("it has no depth dimension");
  return g;
}

// Missing values beyond those nc_read_unpacked takes: `mask_value` and the
// valid range, compared packed as the attributes are written.
void mark_invalid(int ncid, int varid, std::vector<double>& v) {
  double scale = 1.0, offset = 0.0;
  nc_get_att_double(ncid, varid, "scale_factor", &scale);
  nc_get_att_double(ncid, varid, "add_offset", &offset);
  double lo = -std::numeric_limits<double>::infinity(), hi = std::numeric_limits<double>::infinity(), mask = nan;
  double range[2];
  std::size_t len = 0;
  nc_type type;
  if (nc_inq_att(ncid, varid, "valid_range", &type, &len) == NC_NOERR && len == 2 &&
      nc_get_att_double(ncid, varid, "valid_range", range) == NC_NOERR) {
    lo = range[0] * scale + offset;
    hi = range[1] * scale + offset;
  }
  double x;
  if (nc_inq_att(ncid, varid, "valid_min", &type, &len) == NC_NOERR && len == 1 &&
      nc_get_att_double(ncid, varid, "valid_min", &x) == NC_NOERR)
    lo = x * scale + offset;
  if (nc_inq_att(ncid, varid, "valid_max", &type, &len) == NC_NOERR && len == 1 &&
      nc_get_att_double(ncid, varid, "valid_max", &x) == NC_NOERR)
    hi = x * scale + offset;
  if (nc_inq_att(ncid, varid, "mask_value", &type, &len) == NC_NOERR && len == 1) {
    nc_get_att_double(ncid, varid, "mask_value", &mask);
    mask = mask * scale + offset;
  }
  if (std::isinf(lo) && std::isinf(hi) && std::isnan(mask)) return;
  for (double& y : v)
    if (y < lo || y > hi || y == mask) y = nan;
}

// Puts values read in the file's order of `g`'s dimensions into [lat][lon]
// (or [depth][lat][lon]) order, latitudes increasing.
struct Reorder {
  std::size_t nlat, nlon, ndepth;
  std::vector<std::size_t> stride;  // of each dimension in the buffer read
  const GridLayout* g;
  explicit Reorder(const GridLayout& layout) : g(&layout) {
    nlat = layout.lat.centre.size();
    nlon = layout.lon.centre.size();
    ndepth = layout.depth_pos >= 0 ? layout.length[static_cast<std::size_t>(layout.depth_pos)] : 1;
    stride.assign(static_cast<std::size_t>(layout.ndims), 0);
    std::size_t s = 1;
    for (int d = layout.ndims - 1; d >= 0; --d) {
      stride[static_cast<std::size_t>(d)] = s;
      s *= d == layout.time_pos ? 1 : layout.length[static_cast<std::size_t>(d)];
    }
  }
  std::size_t index(std::size_t k, std::size_t i, std::size_t j) const {
    const std::size_t fi = g->lat.increasing ? i : nlat - 1 - i;
    std::size_t at = fi * stride[static_cast<std::size_t>(g->lat_pos)] + j * stride[static_cast<std::size_t>(g->lon_pos)];
    if (g->depth_pos >= 0) at += k * stride[static_cast<std::size_t>(g->depth_pos)];
    return at;
  }
};

// The months of a set of files: from WOA's file names, or from each file's
// time axis (12 times in one file, or one a file).
std::string assign_months(const std::vector<std::string>& paths, const std::vector<int>& ncids,
                          const std::vector<GridLayout>& layouts, std::array<MonthSlot, 12>& slots,
                          const std::string& what) {
  std::string how;
  auto put = [&](int month, int file, std::size_t time) {
    MonthSlot& s = slots[static_cast<std::size_t>(month - 1)];
    if (s.file >= 0)
      throw InputError(paths[static_cast<std::size_t>(file)], 0,
                       "month " + std::to_string(month) + " of the " + what + " is given twice (also in " +
                           paths[static_cast<std::size_t>(s.file)] + ")");
    s.file = file;
    s.time = time;
  };
  for (std::size_t f = 0; f < paths.size(); ++f) {
    const GridLayout& g = layouts[f];
    const std::size_t times = g.time_pos >= 0 ? g.length[static_cast<std::size_t>(g.time_pos)] : 1;
    const int named = woa_month_of_name(paths[f]);
    if (named < 0)
      throw InputError(paths[f], 0, "is a World Ocean Atlas annual or seasonal field (its period in the name is 00 or "
                                    "13..16): give the twelve monthly files (periods 01..12)");
    if (named > 0 && times == 1) {
      put(named, static_cast<int>(f), 0);
      if (how.empty()) how = "from the file names (World Ocean Atlas)";
      continue;
    }
    if (times == 12) {
      // Twelve times: January to December, as the time axis says or in order when it cannot.
      bool told = true;
      for (int m : g.time_month) told = told && m > 0;
      for (std::size_t k = 0; k < 12; ++k) {
        const int m = told ? g.time_month[k] : static_cast<int>(k) + 1;
        put(m, static_cast<int>(f), k);
      }
      how = told ? "from the time axis (twelve months in one file)" : "in the order of the file's twelve times";
      continue;
    }
    if (times == 1) {
      const int m = g.time_month.empty() ? 0 : g.time_month[0];
      if (m <= 0)
        throw InputError(paths[f], 0, "the month of this " + what + " file cannot be told: neither its name (WOA's "
                                      "_tMM_) nor its time axis (CF units '<unit> since <date>') says it");
      put(m, static_cast<int>(f), 0);
      if (how.empty()) how = "from each file's time axis";
      continue;
    }
    throw InputError(paths[f], 0, "has " + std::to_string(times) + " times: expected one month a file or twelve in one file");
  }
  (void)ncids;
  std::string missing;
  for (int m = 1; m <= 12; ++m)
    if (slots[static_cast<std::size_t>(m - 1)].file < 0) missing += (missing.empty() ? "" : ", ") + std::to_string(m);
  if (!missing.empty())
    throw InputError(paths.front(), 0, "the " + what + " lacks month(s) " + missing + ": give all twelve months");
  return how;
}

int open_file(const std::string& path) {
  int ncid = -1;
  const int status = nc_open(path.c_str(), NC_NOWRITE, &ncid);
  if (status != NC_NOERR) throw InputError(path, 0, std::string("not a readable NetCDF file: ") + nc_strerror(status));
  return ncid;
}

// The variable of `names` (first found), else of `standard_names`; -1.
int find_variable(int ncid, const std::string& chosen, std::initializer_list<const char*> names,
                  std::initializer_list<const char*> standard_names) {
  int varid = -1;
  if (!chosen.empty()) return nc_inq_varid(ncid, chosen.c_str(), &varid) == NC_NOERR ? varid : -1;
  // A field has two dimensions at least (a coordinate variable of the same name has one).
  auto field = [&](int v) {
    int nd = 0;
    return nc_inq_varndims(ncid, v, &nd) == NC_NOERR && nd >= 2;
  };
  for (const char* n : names)
    if (nc_inq_varid(ncid, n, &varid) == NC_NOERR && field(varid)) return varid;
  int nvars = 0;
  nc_inq_nvars(ncid, &nvars);
  for (int v = 0; v < nvars; ++v) {
    if (!field(v)) continue;
    const std::string sn = nc_text_attribute(ncid, v, "standard_name");
    for (const char* s : standard_names)
      if (sn == s) return v;
  }
  return -1;
}

// A month is read whole, once: a file's variable keeps no decompressed
// chunks between reads (with twelve files open, their caches would hold a
// month each).
void no_chunk_cache(int ncid, int varid) { nc_set_var_chunk_cache(ncid, varid, 0, 0, 0.0f); }

std::string variables_of(int ncid) {
  std::string out;
  int nvars = 0;
  nc_inq_nvars(ncid, &nvars);
  for (int v = 0; v < nvars; ++v) out += (out.empty() ? "" : ", ") + var_name(ncid, v);
  return out;
}

}  // namespace

int woa_month_of_name(const std::string& path) {
  // ..._<letter>MM_<grid>.nc: woa23_decav91C0_t07_01.nc, woa18_A5B7_M0201.nc (M, period 02, grid 01).
  const std::string name = path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
  if (name.rfind("woa", 0) != 0) return 0;
  const std::size_t dot = name.rfind(".nc");
  if (dot == std::string::npos) return 0;
  const std::string stem = name.substr(0, dot);
  const std::size_t us = stem.rfind('_');
  if (us == std::string::npos) return 0;
  std::string last = stem.substr(us + 1), period;
  auto digits = [](const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
  };
  if (last.size() == 2 && digits(last)) {
    // woa23_..._tMM_GG: the period is the field before the grid.
    const std::size_t us2 = stem.rfind('_', us - 1);
    if (us2 == std::string::npos) return 0;
    const std::string field = stem.substr(us2 + 1, us - us2 - 1);
    if (field.size() != 3 || !std::isalpha(static_cast<unsigned char>(field[0])) || !digits(field.substr(1))) return 0;
    period = field.substr(1);
  } else if (last.size() == 5 && std::isalpha(static_cast<unsigned char>(last[0])) && digits(last.substr(1))) {
    period = last.substr(1, 2);  // M0201: period 02, grid 01
  } else {
    return 0;
  }
  const int p = std::stoi(period);
  return p >= 1 && p <= 12 ? p : -1;
}

std::vector<int> months_of_times(int ncid, int varid, std::size_t n) {
  std::vector<int> months(n, 0);
  CfTimeAxis axis;
  std::string why;
  if (!axis.parse(nc_text_attribute(ncid, varid, "units"), nc_text_attribute(ncid, varid, "calendar"), why)) return months;
  std::vector<double> values;
  const std::size_t zero = 0;
  if (nc_read_unpacked(ncid, varid, &zero, &n, values) != NC_NOERR) return months;
  for (std::size_t k = 0; k < n; ++k) {
    if (!std::isfinite(values[k])) continue;
    const double hours = axis.hours_since_1970(values[k]);
    if (!hours_are_a_date(hours)) continue;  // no month: it stays unknown
    int y = 0, m = 0, d = 0, h = 0;
    civil_from_hours(static_cast<long long>(std::floor(hours)), y, m, d, h);
    months[k] = m;
  }
  return months;
}

// ---------------------------------------------------------------- files

namespace {

// One month of a monthly variable (the slot's file and time), unpacked, with
// its missing values NaN.
void read_month_of(const GridLayout& layout, const MonthSlot& s, const std::string& path, int ncid, int month,
                   std::vector<double>& raw) {
  std::vector<std::size_t> start(static_cast<std::size_t>(layout.ndims), 0), count = layout.length;
  if (layout.time_pos >= 0) {
    start[static_cast<std::size_t>(layout.time_pos)] = s.time;
    count[static_cast<std::size_t>(layout.time_pos)] = 1;
  }
  int varid = -1;
  nc_inq_varid(ncid, layout.name.c_str(), &varid);
  if (const int status = nc_read_unpacked(ncid, varid, start.data(), count.data(), raw); status != NC_NOERR)
    throw InputError(path, 0, "variable " + layout.name + ": cannot read month " + std::to_string(month) + ": " +
                                  nc_strerror(status) + " (a truncated or damaged file?)");
  mark_invalid(ncid, varid, raw);
}

}  // namespace

NetcdfSource::NetcdfSource(const std::string& path) : path_(path) {
  bound_hdf5_free_lists();
  ncid_ = open_file(path);
}

NetcdfSource::~NetcdfSource() {
  if (ncid_ >= 0) nc_close(ncid_);
}

// ------------------------------------------------------------ elevation

ElevationSource::ElevationSource(const std::string& path, const std::string& variable) : file_(path) {
  const int ncid = file_.id();
  const int varid = find_variable(ncid, variable, {"z", "elevation", "topo", "bathymetry", "height", "altitude", "Band1", "depth", "elev"},
                                  {"height_above_mean_sea_level", "surface_altitude", "altitude", "height",
                                   "height_above_reference_ellipsoid", "sea_floor_depth_below_sea_surface",
                                   "sea_floor_depth_below_geoid", "depth"});
  if (varid < 0)
    throw InputError(path, 0, (variable.empty() ? std::string("no elevation variable (z, elevation, or a standard_name of "
                                                              "surface_altitude, height_above_mean_sea_level, depth, ...)")
                                                : "no variable " + variable) +
                                  "; its variables: " + variables_of(ncid));
  layout_ = layout_of(ncid, varid, path, false);
  if (layout_.time_pos >= 0 && layout_.length[static_cast<std::size_t>(layout_.time_pos)] != 1)
    throw InputError(path, 0, "variable " + layout_.name + ": has several times; expected one elevation a point");
  if (layout_.lat_pos > layout_.lon_pos)
    throw InputError(path, 0, "variable " + layout_.name + ": its dimensions are (lon, lat); expected (lat, lon)");
  const std::string units = nc_text_attribute(ncid, varid, "units", "\x01");
  const std::string positive = lower(nc_text_attribute(ncid, varid, "positive"));
  const std::string sn = nc_text_attribute(ncid, varid, "standard_name");
  const bool depth = positive == "down" || sn.find("depth") != std::string::npos;
  sign_ = depth ? -1.0 : 1.0;
  if (units == "\x01") {
    units_note_ = "no units attribute: taken as m (the unit of every global relief data set; the check of its range "
                  "would catch another)";
  } else if (!metres_per_unit(units, factor_)) {
    throw InputError(path, 0, "variable " + layout_.name + ": its units '" + units + "' are not a height (expected m)");
  } else {
    units_note_ = units;
  }
  if (depth) units_note_ += "; a depth (positive down), turned into elevation";
  // Missing values: _FillValue (or netCDF's default fill of the type),
  // missing_value, the valid range; the packing (GEBCO's shorts have none).
  nc_type type = NC_NAT, att_type;
  nc_inq_vartype(ncid, varid, &type);
  std::size_t len = 0;
  auto att = [&](const char* name, double& out) {
    return nc_inq_att(ncid, varid, name, &att_type, &len) == NC_NOERR && len == 1 &&
           nc_get_att_double(ncid, varid, name, &out) == NC_NOERR;
  };
  fill_ = missing_ = std::numeric_limits<double>::quiet_NaN();
  if (!att("_FillValue", fill_)) {
    switch (type) {
      case NC_FLOAT: fill_ = static_cast<double>(NC_FILL_FLOAT); break;
      case NC_DOUBLE: fill_ = static_cast<double>(static_cast<float>(NC_FILL_DOUBLE)); break;
      case NC_SHORT: fill_ = NC_FILL_SHORT; break;
      case NC_INT: fill_ = NC_FILL_INT; break;
      default: break;
    }
  }
  fill_ = static_cast<double>(static_cast<float>(fill_));  // compared as the floats read
  if (att("missing_value", missing_)) missing_ = static_cast<double>(static_cast<float>(missing_));
  att("scale_factor", scale_);
  att("add_offset", offset_);
  lo_ = -std::numeric_limits<double>::infinity();
  hi_ = std::numeric_limits<double>::infinity();
  double range[2];
  if (nc_inq_att(ncid, varid, "valid_range", &att_type, &len) == NC_NOERR && len == 2 &&
      nc_get_att_double(ncid, varid, "valid_range", range) == NC_NOERR) {
    lo_ = range[0] * scale_ + offset_;
    hi_ = range[1] * scale_ + offset_;
  }
  double x;
  if (att("valid_min", x)) lo_ = x * scale_ + offset_;
  if (att("valid_max", x)) hi_ = x * scale_ + offset_;
  int storage = NC_CONTIGUOUS;
  std::size_t chunk[NC_MAX_VAR_DIMS] = {};
  if (nc_inq_var_chunking(ncid, varid, &storage, chunk) == NC_NOERR && storage == NC_CHUNKED) {
    chunk_rows_ = chunk[layout_.lat_pos];
    chunk_cols_ = chunk[layout_.lon_pos];
  }
  // The cache holds the chunks of one band of rows read column block by
  // column block, whatever the file's resolution.
  const std::size_t cache = chunk_rows_ ? std::max<std::size_t>(chunk_rows_ * cols() * 4 / 8, std::size_t(4) << 20) : 0;
  if (storage == NC_CHUNKED) nc_set_var_chunk_cache(ncid, varid, std::min<std::size_t>(cache, std::size_t(64) << 20), 1021, 0.75f);
}

void ElevationSource::read(std::size_t first, std::size_t count, std::size_t col0, std::size_t ncols,
                           std::vector<float>& out) {
  std::vector<std::size_t> start(static_cast<std::size_t>(layout_.ndims), 0), n(static_cast<std::size_t>(layout_.ndims), 1);
  start[static_cast<std::size_t>(layout_.lat_pos)] = first;
  n[static_cast<std::size_t>(layout_.lat_pos)] = count;
  start[static_cast<std::size_t>(layout_.lon_pos)] = col0;
  n[static_cast<std::size_t>(layout_.lon_pos)] = ncols;
  // Read as floats (a block of rows is the largest buffer of the build): an
  // elevation, or a 16-bit integer, is one exactly.
  out.resize(count * ncols);
  if (const int status = nc_get_vara_float(file_.id(), layout_.varid, start.data(), n.data(), out.data()); status != NC_NOERR)
    throw InputError(file_.path(), 0, "variable " + layout_.name + ": cannot read rows " + std::to_string(first) + ".." +
                                          std::to_string(first + count - 1) + ": " + nc_strerror(status) +
                                          " (a truncated or damaged file?)");
  const double f = sign_ * factor_;
  for (float& v : out) {
    const double raw = v;
    if (raw == fill_ || raw == missing_) {
      v = std::numeric_limits<float>::quiet_NaN();
      continue;
    }
    const double x = raw * scale_ + offset_;
    v = x < lo_ || x > hi_ ? std::numeric_limits<float>::quiet_NaN() : static_cast<float>(x * f);
  }
}

// ------------------------------------------------------- temperatures

TemperatureSource::TemperatureSource(const std::vector<std::string>& paths, const std::string& variable) : paths_(paths) {
  bound_hdf5_free_lists();
  if (paths.empty()) throw InputError("temperature", 0, "no temperature files given");
  std::vector<GridLayout> layouts;
  for (const std::string& path : paths) {
    ncids_.push_back(open_file(path));
    const int ncid = ncids_.back();
    const int varid = find_variable(ncid, variable, {"t_an", "thetao", "to", "temp", "temperature", "votemper", "TEMP", "theta0"},
                                    {"sea_water_temperature", "sea_water_potential_temperature",
                                     "sea_water_conservative_temperature"});
    if (varid < 0)
      throw InputError(path, 0, (variable.empty() ? std::string("no sea temperature (t_an, thetao, or a standard_name of "
                                                                "sea_water_temperature or sea_water_potential_temperature)")
                                                  : "no variable " + variable) +
                                    ": not a World Ocean Atlas temperature file or a CF ocean temperature file; its "
                                    "variables: " + variables_of(ncid));
    GridLayout g = layout_of(ncid, varid, path, true);
    no_chunk_cache(ncid, varid);
    const std::string units = nc_text_attribute(ncid, varid, "units", "\x01");
    double offset = 0.0;
    if (units == "\x01") throw InputError(path, 0, "variable " + g.name + ": has no units (expected degrees_celsius or K)");
    const std::string u = plain_units(units);
    if (!kelvin_offset_of_unit(units, offset) && !one_of(u, {"degrees_celsius", "degree_celsius", "celsius"}))
      throw InputError(path, 0, "variable " + g.name + ": its units '" + units + "' are not a temperature (expected degrees_celsius or K)");
    if (one_of(u, {"degrees_celsius", "degree_celsius", "celsius"})) offset = 273.15;
    const double to_celsius = offset - 273.15;
    if (layouts.empty()) {
      layout_ = g;
      offset_ = to_celsius;
      standard_name_ = nc_text_attribute(ncid, varid, "standard_name");
      units_ = units;
    } else {
      const GridLayout& a = layouts.front();
      if (a.lat.centre != g.lat.centre || a.lon.centre != g.lon.centre)
        throw InputError(path, 0, "variable " + g.name + ": its grid differs from that of " + paths.front());
      if (a.depth_m != g.depth_m)
        throw InputError(path, 0, "variable " + g.name + ": its depth levels differ from those of " + paths.front());
      if (to_celsius != offset_)
        throw InputError(path, 0, "variable " + g.name + ": its units differ from those of " + paths.front());
    }
    layouts.push_back(g);
  }
  // Depths increasing from the surface.
  const std::vector<double>& z = layout_.depth_m;
  std::vector<int> order(z.size());
  for (std::size_t k = 0; k < z.size(); ++k) order[k] = static_cast<int>(k);
  std::sort(order.begin(), order.end(), [&](int a, int b) { return z[static_cast<std::size_t>(a)] < z[static_cast<std::size_t>(b)]; });
  for (std::size_t k = 1; k < order.size(); ++k)
    if (z[static_cast<std::size_t>(order[k])] == z[static_cast<std::size_t>(order[k - 1])])
      throw InputError(paths.front(), 0, "variable " + layout_.name + ": two depth levels at " +
                                             std::to_string(z[static_cast<std::size_t>(order[k])]) + " m");
  for (int k : order) depths_.push_back(z[static_cast<std::size_t>(k)]);
  if (depths_.front() < 0.0)
    throw InputError(paths.front(), 0, "variable " + layout_.name + ": a depth level above the surface (" +
                                           std::to_string(depths_.front()) + " m)");
  level_order_ = order;
  months_from_ = assign_months(paths, ncids_, layouts, slots_, "temperature");
}

TemperatureSource::~TemperatureSource() {
  for (int id : ncids_) nc_close(id);
}

void TemperatureSource::read_month(int month, std::vector<float>& out) {
  const MonthSlot& s = slots_[static_cast<std::size_t>(month - 1)];
  read_month_of(layout_, s, paths_[static_cast<std::size_t>(s.file)], ncids_[static_cast<std::size_t>(s.file)], month, raw_);
  const Reorder r(layout_);
  out.resize(r.ndepth * r.nlat * r.nlon);
  for (std::size_t k = 0; k < r.ndepth; ++k) {
    const std::size_t fk = static_cast<std::size_t>(level_order_[k]);
    for (std::size_t i = 0; i < r.nlat; ++i)
      for (std::size_t j = 0; j < r.nlon; ++j)
        out[(k * r.nlat + i) * r.nlon + j] = static_cast<float>(raw_[r.index(fk, i, j)] + offset_);
  }
}

// ------------------------------------------------------ mixed layer

MldSource::MldSource(const std::vector<std::string>& paths, const std::string& variable) : paths_(paths) {
  bound_hdf5_free_lists();
  std::vector<GridLayout> layouts;
  for (const std::string& path : paths) {
    ncids_.push_back(open_file(path));
    const int ncid = ncids_.back();
    const int varid = find_variable(ncid, variable, {"mld_dr003", "mld", "mld_da_mean", "M_an", "mlotst", "MLD", "mld_dt_mean"},
                                    {"ocean_mixed_layer_thickness", "ocean_mixed_layer_thickness_defined_by_sigma_t",
                                     "ocean_mixed_layer_thickness_defined_by_temperature",
                                     "ocean_mixed_layer_thickness_defined_by_sigma_theta"});
    if (varid < 0)
      throw InputError(path, 0, (variable.empty() ? std::string("no mixed-layer depth (mld_dr003, mld, mld_da_mean, M_an, or "
                                                                "a standard_name of ocean_mixed_layer_thickness...)")
                                                  : "no variable " + variable) +
                                    "; its variables: " + variables_of(ncid));
    GridLayout g = layout_of(ncid, varid, path, false);
    no_chunk_cache(ncid, varid);
    const std::string units = nc_text_attribute(ncid, varid, "units", "\x01");
    if (units == "\x01") throw InputError(path, 0, "variable " + g.name + ": has no units (expected m)");
    double factor = 1.0;
    if (metres_per_unit(units, factor)) {
      units_note_ = units;
    } else if (one_of(plain_units(units), {"dbar", "decibar", "decibars"})) {
      units_note_ = units + ", taken as m (a decibar of sea water is about a metre)";
    } else {
      throw InputError(path, 0, "variable " + g.name + ": its units '" + units + "' are not a depth (expected m)");
    }
    if (layouts.empty()) {
      layout_ = g;
      factor_ = factor;
      int mask = -1;
      if (nc_inq_varid(ncid, "mask", &mask) == NC_NOERR) {
        int nd = 0, dims[NC_MAX_VAR_DIMS];
        nc_inq_var(ncid, mask, nullptr, nullptr, &nd, dims, nullptr);
        if (nd == 2) mask_varid_ = mask;
      }
    } else if (layouts.front().lat.centre != g.lat.centre || layouts.front().lon.centre != g.lon.centre) {
      throw InputError(path, 0, "variable " + g.name + ": its grid differs from that of " + paths.front());
    }
    layouts.push_back(g);
  }
  assign_months(paths, ncids_, layouts, slots_, "mixed-layer depth");
  if (mask_varid_ >= 0) {
    const int ncid = ncids_.front();
    std::vector<std::size_t> start(2, 0), count(2);
    int dims[2];
    nc_inq_vardimid(ncid, mask_varid_, dims);
    nc_inq_dimlen(ncid, dims[0], &count[0]);
    nc_inq_dimlen(ncid, dims[1], &count[1]);
    if (count[0] * count[1] != layout_.lat.centre.size() * layout_.lon.centre.size())
      mask_varid_ = -1;
    else if (nc_read_unpacked(ncid, mask_varid_, start.data(), count.data(), mask_) != NC_NOERR)
      throw InputError(paths.front(), 0, "variable mask: cannot be read");
  }
}

MldSource::~MldSource() {
  for (int id : ncids_) nc_close(id);
}

void MldSource::read_month(int month, std::vector<float>& out) {
  const MonthSlot& s = slots_[static_cast<std::size_t>(month - 1)];
  read_month_of(layout_, s, paths_[static_cast<std::size_t>(s.file)], ncids_[static_cast<std::size_t>(s.file)], month, raw_);
  const Reorder r(layout_);
  out.resize(r.nlat * r.nlon);
  // The mask is (lat, lon) in the variable's own latitude order: 0 is land.
  for (std::size_t i = 0; i < r.nlat; ++i)
    for (std::size_t j = 0; j < r.nlon; ++j) {
      const std::size_t at = r.index(0, i, j);
      double v = raw_[at] * factor_;
      if (mask_varid_ >= 0) {
        const std::size_t fi = layout_.lat.increasing ? i : r.nlat - 1 - i;
        const double m = layout_.lat_pos < layout_.lon_pos ? mask_[fi * r.nlon + j] : mask_[j * r.nlat + fi];
        if (!(m > 0.0)) v = nan;
      }
      out[i * r.nlon + j] = static_cast<float>(v);
    }
}

}  // namespace tarvo
