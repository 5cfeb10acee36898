#include "input/fields/fields.hpp"

#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "input/tracks/catalog.hpp"
#include "input/cf.hpp"
#include "input/fields/grib.hpp"
#include "input/input_error.hpp"

namespace tarvo {

namespace {

struct FieldNames {
  Field field;
  const char* description;
  std::initializer_list<const char*> names;
  const char* standard_name;
  bool levels;  // on pressure levels
};
const FieldNames field_names[] = {
    {Field::temperature, "temperature (t, ta)", {"t", "ta", "air_temperature", "temperature", "T"}, "air_temperature", true},
    {Field::specific_humidity, "specific humidity (q, hus)", {"q", "hus", "specific_humidity"}, "specific_humidity", true},
    {Field::mixing_ratio, "water vapour mixing ratio (w, mixing_ratio)", {"w", "mixing_ratio", "mr"},
     "humidity_mixing_ratio", true},
    {Field::relative_humidity, "relative humidity (r, hur)", {"r", "hur", "rh", "relative_humidity"}, "relative_humidity",
     true},
    {Field::u_wind, "eastward wind (u, ua)", {"u", "ua", "eastward_wind", "uwnd"}, "eastward_wind", true},
    {Field::v_wind, "northward wind (v, va)", {"v", "va", "northward_wind", "vwnd"}, "northward_wind", true},
    {Field::sst, "sea-surface temperature (sst, tos)", {"sst", "tos", "SST", "sea_surface_temperature"},
     "sea_surface_temperature", false},
    {Field::msl, "mean sea-level pressure (msl, psl)", {"msl", "psl", "slp", "mslp", "prmsl"},
     "air_pressure_at_mean_sea_level", false},
};

enum class Axis { time, level, lat, lon, other };

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

int days_of(int year, int month) {
  constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  return month == 2 && leap ? 29 : days[month - 1];
}

double month_start(int year, int month) { return static_cast<double>(hours_from_civil(year, month, 1, 0)); }
double mid_month(int year, int month) { return month_start(year, month) + 12.0 * days_of(year, month); }

}  // namespace

const char* field_description(Field field) { return field_names[static_cast<int>(field)].description; }

struct FieldSet::File {
  std::string path;
  int ncid = -1;  // -1 for a GRIB file
  ~File() {
    if (ncid >= 0) nc_close(ncid);
  }
};

struct FieldSet::Variable {
  std::string name;
  struct Segment {
    int file = 0, varid = -1, ndims = 0;
    int time_pos = -1, level_pos = -1, lat_pos = -1, lon_pos = -1;
    std::vector<std::size_t> length;  // of each dimension
    std::vector<int> level_index;     // the file's index of each level, from the surface up
    std::size_t times = 1;
  };
  std::vector<Segment> segments;
  std::vector<double> times;                    // hours since 1970, increasing
  std::vector<std::pair<int, std::size_t>> at;  // each time: its segment and index there
  FieldGrid grid;
  std::vector<double> levels;
  double factor = 1.0, offset = 0.0;  // tarvo's units = value * factor + offset
  // From GRIB: each time's and level's message ([time][level], levels from
  // the surface up); a sea-surface temperature taken from the temperature at
  // the surface (GFS) with the land-sea mask and the ice cover of its time.
  struct GribSlot {
    const GribMessage* message = nullptr;
    const GribMessage* land = nullptr;
    const GribMessage* ice = nullptr;
  };
  std::vector<GribSlot> grib;
  enum class Kind { analyses, monthly, climatology } kind = Kind::analyses;
  int month_time[12] = {};  // climatology: each month's time index
  // A climatology averaged from a monthly series: each month's times, and
  // the years they span (time indices times.size() + month are the means).
  std::vector<int> month_times[12];
  bool averaged = false;
  int first_year = 0, last_year = 0;
};

FieldSet::~FieldSet() = default;

FieldSet::FieldSet(const std::vector<std::string>& paths, std::size_t cache_bytes, const FieldTimeOptions& time_options)
    : cache_bytes_(cache_bytes) {
  bound_hdf5_free_lists();
  if (paths.empty()) throw InputError("environment", 0, "no field files given");
  for (std::size_t i = 0; i < paths.size(); ++i) {
    auto file = std::make_unique<File>();
    file->path = paths[i];
    if (is_grib_file(paths[i])) {
      std::vector<GribMessage> found = index_grib_file(paths[i], static_cast<int>(i));
      grib_messages_.insert(grib_messages_.end(), found.begin(), found.end());
      files_.push_back(std::move(file));
      continue;
    }
    const int status = nc_open(paths[i].c_str(), NC_NOWRITE, &file->ncid);
    if (status != NC_NOERR) {
      file->ncid = -1;
      throw InputError(paths[i], 0, std::string("not a readable NetCDF file: ") + nc_strerror(status));
    }
    const int ncid = file->ncid;
    const std::string& path = paths[i];
    files_.push_back(std::move(file));
    int nvars = 0;
    nc_inq_nvars(ncid, &nvars);
    for (int v = 0; v < nvars; ++v) {
      char name[NC_MAX_NAME + 1] = {};
      nc_inq_varname(ncid, v, name);
      const std::string standard = nc_text_attribute(ncid, v, "standard_name");
      const FieldNames* which = nullptr;
      for (const FieldNames& f : field_names) {
        bool named = false;
        for (const char* n : f.names) named = named || std::strcmp(n, name) == 0;
        if (named || standard == f.standard_name) which = &f;
        if (which) break;
      }
      if (!which) continue;
      int ndims = 0;
      int dimids[NC_MAX_VAR_DIMS];
      nc_inq_var(ncid, v, nullptr, nullptr, &ndims, dimids, nullptr);
      // A variable of the coordinates' own names is not a field ("t" as a time coordinate).
      if (ndims == 1) {
        char dim[NC_MAX_NAME + 1] = {};
        nc_inq_dimname(ncid, dimids[0], dim);
        if (std::strcmp(dim, name) == 0) continue;
      }
      auto fail = [&](const std::string& what) {
        throw InputError(path, 0, std::string("variable ") + name + ": " + what);
      };
      Variable::Segment seg;
      seg.file = static_cast<int>(i);
      seg.varid = v;
      seg.ndims = ndims;
      seg.length.resize(static_cast<std::size_t>(ndims));
      FieldGrid grid;
      std::vector<double> levels, times;
      for (int d = 0; d < ndims; ++d) {
        char dim[NC_MAX_NAME + 1] = {};
        nc_inq_dimname(ncid, dimids[d], dim);
        nc_inq_dimlen(ncid, dimids[d], &seg.length[static_cast<std::size_t>(d)]);
        int coord = -1;
        nc_inq_varid(ncid, dim, &coord);
        const std::string dn = lower(dim);
        const std::string cs = coord >= 0 ? nc_text_attribute(ncid, coord, "standard_name") : "";
        const std::string axis = coord >= 0 ? lower(nc_text_attribute(ncid, coord, "axis")) : "";
        const std::string units = coord >= 0 ? nc_text_attribute(ncid, coord, "units", "\x01") : "\x01";
        Axis kind = Axis::other;
        if (dn == "time" || dn == "valid_time" || cs == "time" || axis == "t") kind = Axis::time;
        else if (dn == "pressure_level" || dn == "level" || dn == "plev" || dn == "lev" || dn == "isobaricinhpa" ||
                 dn == "pressure" || cs == "air_pressure" || axis == "z")
          kind = Axis::level;
        else if (dn == "latitude" || dn == "lat" || cs == "latitude" || axis == "y") kind = Axis::lat;
        else if (dn == "longitude" || dn == "lon" || cs == "longitude" || axis == "x") kind = Axis::lon;
        if (kind == Axis::other) {
          if (seg.length[static_cast<std::size_t>(d)] != 1)
            fail(std::string("its dimension ") + dim + " is none of time, pressure level, latitude and longitude");
          continue;
        }
        if (coord < 0) fail(std::string("its dimension ") + dim + " has no coordinate variable");
        std::vector<double> values;
        const std::size_t zero = 0, len = seg.length[static_cast<std::size_t>(d)];
        if (nc_read_unpacked(ncid, coord, &zero, &len, values) != NC_NOERR)
          fail(std::string("its coordinate ") + dim + " cannot be read");
        for (double x : values)
          if (!std::isfinite(x)) fail(std::string("its coordinate ") + dim + " has a missing value");
        switch (kind) {
          case Axis::time: {
            seg.time_pos = d;
            CfTimeAxis t;
            std::string why;
            if (!t.parse(units == "\x01" ? "" : units, nc_text_attribute(ncid, coord, "calendar"), why))
              fail(std::string("its time coordinate ") + dim + ": " + why);
            for (double x : values) {
              times.push_back(t.hours_since_1970(x));
              if (!hours_are_a_date(times.back()))
                fail(std::string("its time coordinate ") + dim + " has " + std::to_string(x) + ", not a date of the years 1 to 9999");
            }
            seg.times = values.size();
            break;
          }
          case Axis::level: {
            seg.level_pos = d;
            double factor = 0.0;
            if (units == "\x01" || !hpa_per_unit(units, factor))
              fail(std::string("its pressure levels (") + dim + ") are in " +
                   (units == "\x01" ? "no stated units" : "unknown units '" + units + "'") + " (expected hPa or Pa)");
            for (double& x : values) x *= factor;
            for (std::size_t k = 1; k < values.size(); ++k)
              if (!(values[k] != values[k - 1]) || (values[k] > values[k - 1]) != (values[1] > values[0]))
                fail(std::string("its pressure levels (") + dim + ") are out of order (not strictly monotonic)");
            // From the surface up: decreasing pressure.
            std::vector<int> order(values.size());
            for (std::size_t k = 0; k < order.size(); ++k) order[k] = static_cast<int>(k);
            if (values.size() > 1 && values[1] > values[0]) std::reverse(order.begin(), order.end());
            seg.level_index = order;
            for (int k : order) levels.push_back(values[static_cast<std::size_t>(k)]);
            break;
          }
          case Axis::lat:
            seg.lat_pos = d;
            for (std::size_t k = 1; k < values.size(); ++k)
              if ((values[k] > values[k - 1]) != (values[1] > values[0]) || values[k] == values[k - 1])
                fail("its latitudes are not in order");
            grid.lat = values;
            break;
          case Axis::lon: {
            seg.lon_pos = d;
            for (std::size_t k = 1; k < values.size(); ++k)
              if (!(values[k] > values[k - 1])) fail("its longitudes do not increase");
            grid.lon = values;
            const double step = values.size() > 1 ? values[1] - values[0] : 360.0;
            grid.global = values.back() - values.front() + step >= 360.0 - 1e-6 * 360.0;
            break;
          }
          case Axis::other: break;
        }
      }
      if (seg.lat_pos < 0 || seg.lon_pos < 0) fail("it has no latitude and longitude dimensions");
      if (grid.lat.size() < 2 || grid.lon.size() < 2) fail("its grid has fewer than two latitudes or longitudes");
      if (which->levels && seg.level_pos < 0) fail("it has no pressure-level dimension");
      if (!which->levels && seg.level_pos >= 0)
        fail("a surface field on pressure levels (" + std::to_string(levels.size()) + " of them)");
      if (times.empty()) times.push_back(0.0);  // no time dimension: one slice, taken as of no time in particular
      // Units.
      double factor = 1.0, offset = 0.0;
      const std::string units = nc_text_attribute(ncid, v, "units", "\x01");
      if (units == "\x01") fail("it has no units");
      bool known = false;
      switch (which->field) {
        case Field::temperature:
        case Field::sst: known = kelvin_offset_of_unit(units, offset); break;
        case Field::specific_humidity:
        case Field::mixing_ratio: known = kg_per_kg_per_unit(units, factor); break;
        case Field::relative_humidity: known = percent_per_unit(units, factor); break;
        case Field::u_wind:
        case Field::v_wind: known = metres_per_second_per_unit(units, factor); break;
        case Field::msl: known = hpa_per_unit(units, factor); break;
      }
      if (!known) fail("its units '" + units + "' are not those of " + which->description);
      const int f = static_cast<int>(which->field);
      if (!vars_[f]) {
        vars_[f] = std::make_unique<Variable>();
        vars_[f]->name = name;
        vars_[f]->grid = grid;
        vars_[f]->levels = levels;
        vars_[f]->factor = factor;
        vars_[f]->offset = offset;
      } else {
        Variable& var = *vars_[f];
        if (var.grid.lat != grid.lat || var.grid.lon != grid.lon || var.levels != levels)
          fail(std::string("its grid or levels differ from those of ") + var.name + " in " +
               files_[static_cast<std::size_t>(var.segments.front().file)]->path);
        if (var.factor != factor || var.offset != offset) fail("its units differ from those of the same field in another file");
      }
      Variable& var = *vars_[f];
      const int segment = static_cast<int>(var.segments.size());
      var.segments.push_back(seg);
      for (std::size_t k = 0; k < times.size(); ++k) {
        var.times.push_back(times[k]);
        var.at.emplace_back(segment, k);
      }
    }
  }
  add_grib_fields();
  // Each field's times in order, none twice; then how they are taken.
  for (auto& v : vars_) {
    if (!v || !v->grib.empty()) continue;
    std::vector<std::size_t> order(v->times.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return v->times[a] < v->times[b]; });
    std::vector<double> times;
    std::vector<std::pair<int, std::size_t>> at;
    for (std::size_t k : order) {
      if (!times.empty() && times.back() == v->times[k])
        throw InputError(files_[static_cast<std::size_t>(v->segments[static_cast<std::size_t>(v->at[k].first)].file)]->path, 0,
                         "variable " + v->name + ": time " + hour_text(v->times[k]) + " is in two files");
      times.push_back(v->times[k]);
      at.push_back(v->at[k]);
    }
    v->times = times;
    v->at = at;
  }
  for (auto& v : vars_) {
    if (!v) continue;
    const std::vector<double>& times = v->times;
    bool monthly = times.size() >= 2;
    for (std::size_t k = 1; k < times.size() && monthly; ++k) {
      const double days = (times[k] - times[k - 1]) / 24.0;
      monthly = days >= 27.5 && days <= 31.5;
    }
    if (monthly) {
      v->kind = Variable::Kind::monthly;
      if (times.size() == 12) {
        int seen = 0, first_year = 0;
        bool one_year = true;
        for (std::size_t k = 0; k < 12; ++k) {
          int y = 0, m = 0, d = 0, h = 0;
          civil_from_hours(static_cast<long long>(std::floor(times[k])), y, m, d, h);
          if (k == 0) first_year = y;
          one_year = one_year && y == first_year;
          seen |= 1 << (m - 1);
          v->month_time[m - 1] = static_cast<int>(k);
        }
        if (one_year && seen == 0xfff) v->kind = Variable::Kind::climatology;
      }
    }
    if (time_options.climatology) take_as_climatology(*v, time_options);
  }
}

void FieldSet::take_as_climatology(Variable& v, const FieldTimeOptions& o) {
  const std::string& path = files_[static_cast<std::size_t>(v.segments.empty() ? 0 : v.segments.front().file)]->path;
  if (v.kind == Variable::Kind::analyses)
    throw InputError(path, 0, "variable " + v.name + ": its times (" + kind_text(v) +
                                  ") are not monthly means: a climatology (--climatology) is made of monthly fields");
  int years_seen_first = 99999, years_seen_last = -99999;
  for (std::size_t k = 0; k < v.times.size(); ++k) {
    int y = 0, m = 0, d = 0, h = 0;
    civil_from_hours(static_cast<long long>(std::floor(v.times[k])), y, m, d, h);
    years_seen_first = std::min(years_seen_first, y);
    years_seen_last = std::max(years_seen_last, y);
    if (o.first_year != 0 && (y < o.first_year || y > o.last_year)) continue;
    v.month_times[m - 1].push_back(static_cast<int>(k));
  }
  const int first = o.first_year != 0 ? o.first_year : years_seen_first;
  const int last = o.first_year != 0 ? o.last_year : years_seen_last;
  const std::size_t years = static_cast<std::size_t>(last - first + 1);
  static const char* const months[] = {"January", "February", "March",     "April",   "May",      "June",
                                       "July",    "August",   "September", "October", "November", "December"};
  for (int m = 0; m < 12; ++m) {
    if (v.month_times[m].size() == years) continue;
    throw InputError(path, 0, "variable " + v.name + ": " + std::to_string(v.month_times[m].size()) + " " + months[m] +
                                  (v.month_times[m].size() == 1 ? "" : "s") + " in " + std::to_string(first) + "-" +
                                  std::to_string(last) + ", not " + std::to_string(years) +
                                  " (the files hold monthly means of " + std::to_string(years_seen_first) + "-" +
                                  std::to_string(years_seen_last) + "; give a --period they cover whole)");
  }
  v.kind = Variable::Kind::climatology;
  v.averaged = years > 1 || v.times.size() != 12;
  v.first_year = first;
  v.last_year = last;
  for (int m = 0; m < 12; ++m)
    v.month_time[m] = v.averaged ? static_cast<int>(v.times.size()) + m : v.month_times[m].front();
}

std::shared_ptr<const std::vector<float>> FieldSet::month_mean(Field f, const Key& key, int level, int month) {
  const Variable& v = *vars_[static_cast<int>(f)];
  std::vector<double> sum;
  for (const int t : v.month_times[month]) {
    const std::shared_ptr<const std::vector<float>> one = slice(f, level, t);
    if (sum.empty()) sum.assign(one->size(), 0.0);
    for (std::size_t k = 0; k < sum.size(); ++k) sum[k] += (*one)[k];  // a missing value in any year: missing
  }
  Slice out = fresh_slice(sum.size());
  const double n = static_cast<double>(v.month_times[month].size());
  for (std::size_t k = 0; k < sum.size(); ++k) (*out)[k] = static_cast<float>(sum[k] / n);
  return remember(key, std::move(out));
}

bool FieldSet::has(Field f) const { return vars_[static_cast<int>(f)] != nullptr; }
const FieldGrid& FieldSet::grid(Field f) const { return vars_[static_cast<int>(f)]->grid; }
const std::vector<double>& FieldSet::levels(Field f) const { return vars_[static_cast<int>(f)]->levels; }

std::string FieldSet::where(Field f) const {
  const Variable& v = *vars_[static_cast<int>(f)];
  return v.name + " in " + files_[static_cast<std::size_t>(v.segments.front().file)]->path +
         (v.segments.size() > 1 ? " (and " + std::to_string(v.segments.size() - 1) + " more files)" : "");
}

std::string FieldSet::time_kind(Field f) const { return kind_text(*vars_[static_cast<int>(f)]); }

std::string FieldSet::kind_text(const Variable& v) {
  switch (v.kind) {
    case Variable::Kind::climatology:
      if (v.averaged)
        return "a monthly climatology, each month the mean of its monthly means of " + std::to_string(v.first_year) + "-" +
               std::to_string(v.last_year) + " (" + std::to_string(v.last_year - v.first_year + 1) +
               " years), for any year, interpolated between mid-months";
      return "a monthly climatology (12 months, any year), interpolated between mid-months";
    case Variable::Kind::monthly:
      return "monthly means from " + hour_text(v.times.front()).substr(0, 7) + " to " +
             hour_text(v.times.back()).substr(0, 7) + ", interpolated between mid-months";
    case Variable::Kind::analyses:
      break;
  }
  if (v.times.size() == 1) return "one time, " + hour_text(v.times.front());
  return std::to_string(v.times.size()) + " times from " + hour_text(v.times.front()) + " to " +
         hour_text(v.times.back()) + ", interpolated linearly in time";
}

bool FieldSet::time_weights(Field f, double hours, TimeWeights& w, std::string& why) const {
  const Variable& v = *vars_[static_cast<int>(f)];
  const std::vector<double>& t = v.times;
  auto outside = [&](const std::string& period) {
    why = "the time " + hour_text(hours) + " is outside the period of " + where(f) + " (" + period + ")";
    return false;
  };
  if (v.kind == Variable::Kind::analyses) {
    constexpr double tolerance = 1.0 / 60.0;  // a minute
    if (hours < t.front() - tolerance || hours > t.back() + tolerance)
      return outside(hour_text(t.front()) + " to " + hour_text(t.back()));
    std::size_t k = static_cast<std::size_t>(std::upper_bound(t.begin(), t.end(), hours) - t.begin());
    if (k == 0) k = 1;
    if (k >= t.size()) k = t.size() - 1;
    if (t.size() == 1) {
      w = {0, 0, 0.0};
      return true;
    }
    w.i0 = static_cast<int>(k - 1);
    w.i1 = static_cast<int>(k);
    w.w1 = std::clamp((hours - t[k - 1]) / (t[k] - t[k - 1]), 0.0, 1.0);
    return true;
  }
  int y = 0, m = 0, d = 0, h = 0;
  civil_from_hours(static_cast<long long>(std::floor(hours)), y, m, d, h);
  if (v.kind == Variable::Kind::climatology) {
    // Between this month's middle and the next's, or the last's and this one's.
    int m0 = m, y0 = y;
    if (hours < mid_month(y, m)) {
      m0 = m == 1 ? 12 : m - 1;
      y0 = m == 1 ? y - 1 : y;
    }
    const int m1 = m0 == 12 ? 1 : m0 + 1, y1 = m0 == 12 ? y0 + 1 : y0;
    const double a = mid_month(y0, m0), b = mid_month(y1, m1);
    w.i0 = v.month_time[m0 - 1];
    w.i1 = v.month_time[m1 - 1];
    w.w1 = (hours - a) / (b - a);
    return true;
  }
  // A monthly series: its months' middles; within its first and last month the nearest is held.
  std::vector<double> mids(t.size());
  for (std::size_t k = 0; k < t.size(); ++k) {
    int ty = 0, tm = 0, td = 0, th = 0;
    civil_from_hours(static_cast<long long>(std::floor(t[k])), ty, tm, td, th);
    mids[k] = mid_month(ty, tm);
  }
  int fy = 0, fm = 0, fd = 0, fh = 0, ly = 0, lm = 0, ld = 0, lh = 0;
  civil_from_hours(static_cast<long long>(std::floor(t.front())), fy, fm, fd, fh);
  civil_from_hours(static_cast<long long>(std::floor(t.back())), ly, lm, ld, lh);
  const double from = month_start(fy, fm), to = month_start(ly, lm) + 24.0 * days_of(ly, lm);
  if (hours < from || hours >= to)
    return outside("monthly means of " + hour_text(from).substr(0, 7) + " to " + hour_text(t.back()).substr(0, 7));
  if (hours <= mids.front()) {
    w = {0, 0, 0.0};
    return true;
  }
  if (hours >= mids.back()) {
    const int last = static_cast<int>(t.size() - 1);
    w = {last, last, 0.0};
    return true;
  }
  const std::size_t k = static_cast<std::size_t>(std::upper_bound(mids.begin(), mids.end(), hours) - mids.begin());
  w.i0 = static_cast<int>(k - 1);
  w.i1 = static_cast<int>(k);
  w.w1 = (hours - mids[k - 1]) / (mids[k] - mids[k - 1]);
  return true;
}

std::shared_ptr<const std::vector<float>> FieldSet::slice(Field f, int level, int time) {
  const Key key{static_cast<int>(f), level, time};
  if (auto hit = index_.find(key); hit != index_.end()) {
    cache_.splice(cache_.begin(), cache_, hit->second);
    return hit->second->second;
  }
  const Variable& v = *vars_[static_cast<int>(f)];
  if (v.averaged && time >= static_cast<int>(v.times.size()))
    return month_mean(f, key, level, time - static_cast<int>(v.times.size()));
  if (!v.grib.empty()) return grib_slice(f, key, level, time);
  const auto [segment, local] = v.at[static_cast<std::size_t>(time)];
  const Variable::Segment& seg = v.segments[static_cast<std::size_t>(segment)];
  const File& file = *files_[static_cast<std::size_t>(seg.file)];
  std::vector<std::size_t> start(static_cast<std::size_t>(seg.ndims), 0), count(static_cast<std::size_t>(seg.ndims), 1);
  if (seg.time_pos >= 0) start[static_cast<std::size_t>(seg.time_pos)] = local;
  if (seg.level_pos >= 0)
    start[static_cast<std::size_t>(seg.level_pos)] = static_cast<std::size_t>(seg.level_index[static_cast<std::size_t>(level)]);
  count[static_cast<std::size_t>(seg.lat_pos)] = v.grid.lat.size();
  count[static_cast<std::size_t>(seg.lon_pos)] = v.grid.lon.size();
  std::vector<double>& raw = raw_;
  if (const int status = nc_read_unpacked(file.ncid, seg.varid, start.data(), count.data(), raw); status != NC_NOERR)
    throw InputError(file.path, 0, "variable " + v.name + ": cannot read: " + nc_strerror(status));
  const std::size_t nlat = v.grid.lat.size(), nlon = v.grid.lon.size();
  Slice out = fresh_slice(nlat * nlon);
  const bool lat_first = seg.lat_pos < seg.lon_pos;
  for (std::size_t i = 0; i < nlat; ++i)
    for (std::size_t j = 0; j < nlon; ++j) {
      const double x = raw[lat_first ? i * nlon + j : j * nlat + i];
      (*out)[i * nlon + j] = static_cast<float>(x * v.factor + v.offset);
    }
  return remember(key, std::move(out));
}

std::shared_ptr<const std::vector<float>> FieldSet::remember(const Key& key, Slice out) {
  cache_.emplace_front(key, out);
  index_[key] = cache_.begin();
  cached_ += out->size() * sizeof(float);
  while (cached_ > cache_bytes_ && cache_.size() > 1) {
    cached_ -= cache_.back().second->size() * sizeof(float);
    index_.erase(cache_.back().first);
    if (cache_.back().second.use_count() == 1) spare_.push_back(std::move(cache_.back().second));
    cache_.pop_back();
  }
  return out;
}

FieldSet::Slice FieldSet::fresh_slice(std::size_t n) {
  Slice out;
  if (!spare_.empty()) {
    out = std::move(spare_.back());
    spare_.pop_back();
    out->resize(n);
  } else {
    out = std::make_shared<std::vector<float>>(n);
  }
  return out;
}

std::shared_ptr<const std::vector<float>> FieldSet::grib_slice(Field f, const Key& key, int level, int time) {
  const Variable& v = *vars_[static_cast<int>(f)];
  const std::size_t levels = std::max<std::size_t>(1, v.levels.size());
  const Variable::GribSlot& slot = v.grib[static_cast<std::size_t>(time) * levels + static_cast<std::size_t>(level)];
  decode_grib_message(files_[static_cast<std::size_t>(slot.message->file)]->path, *slot.message, raw_, scratch_);
  const std::size_t n = raw_.size();
  Slice out = fresh_slice(n);
  for (std::size_t k = 0; k < n; ++k) (*out)[k] = static_cast<float>(raw_[k] * v.factor + v.offset);
  // The sea from the temperature at the surface: not over land, nor under ice.
  for (const GribMessage* mask : {slot.land, slot.ice}) {
    if (!mask) continue;
    decode_grib_message(files_[static_cast<std::size_t>(mask->file)]->path, *mask, raw_, scratch_);
    if (raw_.size() != n)
      throw InputError(files_[static_cast<std::size_t>(mask->file)]->path, 0,
                       "GRIB message " + std::to_string(mask->number) + " (" + mask->short_name +
                           ") is on another grid than the surface temperature it masks");
    const double limit = mask == slot.land ? 0.5 : 0.15;  // land: a land fraction of a half or more; ice: above 0.15
    for (std::size_t k = 0; k < n; ++k)
      if (!(raw_[k] < limit) && !(mask == slot.ice && raw_[k] == limit)) (*out)[k] = std::numeric_limits<float>::quiet_NaN();
  }
  return remember(key, std::move(out));
}

void FieldSet::add_grib_fields() {
  if (grib_messages_.empty()) return;
  // Which field a message gives.
  std::vector<const GribMessage*> by_field[field_count], t_surface, land, ice, mslet;
  for (const GribMessage& m : grib_messages_) {
    const std::string& s = m.short_name;
    if (m.level_type == "isobaricInhPa") {
      if (s == "t") by_field[static_cast<int>(Field::temperature)].push_back(&m);
      else if (s == "q") by_field[static_cast<int>(Field::specific_humidity)].push_back(&m);
      else if (s == "r") by_field[static_cast<int>(Field::relative_humidity)].push_back(&m);
      else if (s == "u") by_field[static_cast<int>(Field::u_wind)].push_back(&m);
      else if (s == "v") by_field[static_cast<int>(Field::v_wind)].push_back(&m);
    } else if (s == "msl" || s == "prmsl") {
      by_field[static_cast<int>(Field::msl)].push_back(&m);
    } else if (s == "mslet") {
      mslet.push_back(&m);
    } else if (s == "sst") {
      by_field[static_cast<int>(Field::sst)].push_back(&m);
    } else if (m.level_type == "surface") {
      if (s == "t") t_surface.push_back(&m);
      else if (s == "lsm") land.push_back(&m);
      else if (s == "ci") ice.push_back(&m);
    }
  }
  // GFS: the mean sea-level pressure as prmsl, else mslet; the sea's
  // temperature as the temperature at the surface, where it is sea.
  if (by_field[static_cast<int>(Field::msl)].empty()) by_field[static_cast<int>(Field::msl)] = mslet;
  const bool sea_from_surface = by_field[static_cast<int>(Field::sst)].empty() && !t_surface.empty();
  if (sea_from_surface) by_field[static_cast<int>(Field::sst)] = t_surface;
  auto path_of = [&](const GribMessage* m) { return files_[static_cast<std::size_t>(m->file)]->path; };
  auto when = [](double hours) { return hour_text(hours); };
  for (int f = 0; f < field_count; ++f) {
    const std::vector<const GribMessage*>& msgs = by_field[f];
    if (msgs.empty()) continue;
    const Field field = static_cast<Field>(f);
    const GribMessage& first = *msgs.front();
    auto fail = [&](const GribMessage& m, const std::string& what) {
      throw InputError(path_of(&m), 0, "GRIB message " + std::to_string(m.number) + " (" + m.short_name + "): " + what);
    };
    if (vars_[f]) fail(first, std::string("gives ") + field_description(field) + ", which " + where(field) + " gives too");
    auto v = std::make_unique<Variable>();
    v->name = first.short_name + (sea_from_surface && field == Field::sst ? " at the surface where lsm and ci say sea" : "");
    v->grid.lat = first.grid.lats();
    v->grid.lon = first.grid.lons();
    const double step = v->grid.lon.size() > 1 ? v->grid.lon[1] - v->grid.lon[0] : 360.0;
    v->grid.global = v->grid.lon.back() - v->grid.lon.front() + step >= 360.0 - 1e-6 * 360.0;
    if (field == Field::msl) v->factor = 0.01;  // Pa to hPa
    std::vector<double> levels, times;
    for (const GribMessage* m : msgs) {
      if (!(m->grid == first.grid)) fail(*m, "its grid differs from that of message " + std::to_string(first.number) + " of " + path_of(&first));
      times.push_back(m->valid_hours);
      if (m->level_type == "isobaricInhPa") levels.push_back(static_cast<double>(m->level));
    }
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    std::sort(levels.begin(), levels.end(), std::greater<double>());  // from the surface up
    levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
    const std::size_t nl = std::max<std::size_t>(1, levels.size());
    v->times = times;
    v->levels = levels;
    v->grib.assign(times.size() * nl, {});
    std::vector<bool> seen_file(files_.size(), false);
    for (const GribMessage* m : msgs) {
      const std::size_t t = static_cast<std::size_t>(std::lower_bound(times.begin(), times.end(), m->valid_hours) - times.begin());
      std::size_t l = 0;
      if (!levels.empty())
        l = static_cast<std::size_t>(std::find(levels.begin(), levels.end(), static_cast<double>(m->level)) - levels.begin());
      Variable::GribSlot& slot = v->grib[t * nl + l];
      if (slot.message)
        fail(*m, "gives " + m->short_name + (levels.empty() ? "" : " at " + std::to_string(m->level) + " hPa") + " valid " +
                     when(m->valid_hours) + ", as message " + std::to_string(slot.message->number) + " of " +
                     path_of(slot.message) + " does: give each time once");
      slot.message = m;
      if (!seen_file[static_cast<std::size_t>(m->file)]) {
        seen_file[static_cast<std::size_t>(m->file)] = true;
        Variable::Segment seg;
        seg.file = m->file;
        v->segments.push_back(seg);
      }
    }
    for (std::size_t t = 0; t < times.size(); ++t)
      for (std::size_t l = 0; l < nl; ++l) {
        Variable::GribSlot& slot = v->grib[t * nl + l];
        if (!slot.message)
          throw InputError(path_of(&first), 0, std::string(field_description(field)) + " (GRIB shortName " + first.short_name +
                                                   (levels.empty() ? "" : ") at " + std::to_string(static_cast<long>(levels[l])) + " hPa") +
                                                   (levels.empty() ? ")" : "") + " valid " + when(times[t]) +
                                                   " is in none of the files given (the other levels or times are)");
        if (sea_from_surface && field == Field::sst) {
          auto at_time = [&](const std::vector<const GribMessage*>& list) -> const GribMessage* {
            for (const GribMessage* m : list)
              if (m->valid_hours == times[t] && m->grid == first.grid) return m;
            return nullptr;
          };
          slot.land = at_time(land);
          slot.ice = at_time(ice);
          if (!slot.land || !slot.ice)
            throw InputError(path_of(slot.message), 0,
                             std::string("the sea-surface temperature comes from t at the surface (as GFS gives it), which "
                                         "needs the land-sea mask (lsm) and the ice cover (ci) at the surface of the same time "
                                         "and grid: ") +
                                 (!slot.land ? "lsm" : "ci") + " valid " + when(times[t]) + " is in none of the files given");
        }
      }
    vars_[f] = std::move(v);
  }
}

void FieldSet::release_before(double hours) {
  int first[field_count];
  for (int f = 0; f < field_count; ++f) {
    first[f] = -1;
    TimeWeights w;
    std::string why;
    if (vars_[f] && vars_[f]->kind != Variable::Kind::climatology && time_weights(static_cast<Field>(f), hours, w, why))
      first[f] = w.i0;
  }
  for (auto it = cache_.begin(); it != cache_.end();) {
    if (it->first.time < first[it->first.field]) {
      cached_ -= it->second->size() * sizeof(float);
      index_.erase(it->first);
      if (it->second.use_count() == 1) spare_.push_back(std::move(it->second));
      it = cache_.erase(it);
    } else {
      ++it;
    }
  }
}

std::string FieldSet::describe() const {
  std::string text;
  for (const FieldNames& f : field_names) {
    const int i = static_cast<int>(f.field);
    if (!vars_[i]) continue;
    const Variable& v = *vars_[i];
    text += (text.empty() ? "" : "; ") + std::string(f.description) + ": " + where(f.field) + ", " +
            std::to_string(v.grid.lat.size()) + " x " + std::to_string(v.grid.lon.size()) + " points" +
            (v.levels.empty() ? "" : ", " + std::to_string(v.levels.size()) + " levels") + ", " + time_kind(f.field);
  }
  return text;
}

}  // namespace tarvo
