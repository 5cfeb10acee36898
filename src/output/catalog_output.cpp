#include "output/catalog_output.hpp"

#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <type_traits>
#include <vector>

#include "input/cf.hpp"
#include "input/input_error.hpp"

namespace tarvo {

namespace {

constexpr const char* time_units = "hours since 1970-01-01 00:00:00";
constexpr float knots_thresholds[] = {34.0f, 64.0f, 83.0f, 96.0f, 113.0f, 137.0f};
constexpr float km_per_nautical_mile = 1.852f;
constexpr float ambient_hpa = 1005.0f;
constexpr float sample_hours = 2.0f;
constexpr std::size_t basin_chars = 2;  // a basin code: "al", "ep", ...
constexpr std::size_t storms_a_chunk = 256;

// The per-sample floats of a forecast file: name, units, the rows' series.
struct StoredSeries {
  const char* name;
  const char* units;
  std::vector<float> ForecastRows::*values;
};
constexpr StoredSeries stored_series[] = {
    {"lat", "degrees_north", &ForecastRows::lat},
    {"lon", "degrees_east", &ForecastRows::lon},
    {"max_sustained_wind", "knot", &ForecastRows::wind_kt},
    {"central_pressure", "hPa", &ForecastRows::pressure_hpa},
    {"environmental_pressure", "hPa", &ForecastRows::environmental_hpa},
    {"radius_max_wind", "nautical_mile", &ForecastRows::rmw_nmi},
    {"time_step", "h", &ForecastRows::time_step_h},  // "h", not "hours": xarray would make that a duration
    {"lead_time", "h", &ForecastRows::lead_h}};

// The per-storm texts: name, the forecast's member.
struct StormText {
  const char* name;
  std::string StoredForecast::*member;
};
constexpr StormText storm_texts[] = {{"name", &StoredForecast::name}, {"status", &StoredForecast::status}};

// The last fix at or before 0 h: where the forecast starts.
int start_hour(const Track& track) {
  int start = track.records.empty() ? 0 : track.records[0].hour;
  for (const TrackRecord& r : track.records)
    if (r.hour <= 0) start = r.hour;
  return start;
}

}  // namespace

int category_of(float peak_kt) {
  if (!std::isfinite(peak_kt)) return -1;
  int c = -1;
  for (const float t : knots_thresholds)
    if (peak_kt >= t) ++c;
  return c;
}

StoredForecast stored_forecast(const CatalogStorm& storm, std::size_t index,
                               const std::vector<OutputSample>& samples, const std::string& status) {
  StoredForecast f;
  f.index = index;
  f.sid = storm.sid;
  f.name = storm.name;
  f.status = status;
  f.basin = storm.track.basin.substr(0, storm.track.basin.find_last_not_of(' ') + 1);
  f.year = storm.year;
  f.cyclone_number = storm.cyclone_number;
  f.id_no = static_cast<long long>(index) + 1;
  f.orig_event_flag = storm.orig_event_flag >= 0 ? storm.orig_event_flag : 1;  // a model's own track, else as given
  f.climada_id_no = storm.climada_id_no;
  f.params = storm.params;
  const int start = start_hour(storm.track);
  f.start_hours = storm.reference_hours + start;
  ForecastRows& r = f.rows;
  const std::size_t m = samples.size();
  r.time.resize(m);
  r.lead_h.resize(m);
  r.lat.resize(m);
  r.lon.resize(m);
  r.wind_kt.resize(m);
  r.pressure_hpa.resize(m);
  r.environmental_hpa.assign(m, ambient_hpa);
  r.rmw_nmi.resize(m);
  r.time_step_h.assign(m, sample_hours);
  const int first = storm.track.records.empty() ? 0 : storm.track.records[0].hour;
  float peak = samples.empty() ? std::numeric_limits<float>::quiet_NaN() : samples[0].vmax_kt;
  for (std::size_t k = 0; k < m; ++k) {
    const int hours = first + 2 * static_cast<int>(k);
    r.time[k] = storm.reference_hours + hours;
    r.lead_h[k] = static_cast<float>(hours - start);
    r.lat[k] = samples[k].lat;
    r.lon[k] = samples[k].lon;
    r.wind_kt[k] = samples[k].vmax_kt;
    r.pressure_hpa[k] = samples[k].pmin_hpa;
    r.rmw_nmi[k] = samples[k].rmw_km / km_per_nautical_mile;
    peak = samples[k].vmax_kt > peak ? samples[k].vmax_kt : peak;
  }
  r.category = category_of(peak);
  return f;
}

CatalogWriter::CatalogWriter(const std::string& path, std::size_t storms, std::size_t catalog_storms,
                             const std::string& command, const EnsembleLayout& ensemble)
    : file_(path), members_(ensemble.members > 1 ? ensemble.members : 0) {
  const int storm = file_.dimension("storm", storms);
  // Storms have samples as their tracks last: the step dimension grows to the longest.
  const int step = file_.dimension("step", NC_UNLIMITED);
  file_.text(NC_GLOBAL, "featureType", "trajectory");
  file_.text(NC_GLOBAL, "Conventions", "CF-1.8");
  file_.text(NC_GLOBAL, "title", "tarvo forecasts");
  file_.provenance(command);
  // The size of the catalog these storms belong to: parts of it are merged by it.
  const long long whole = static_cast<long long>(catalog_storms);
  file_.check(nc_put_att_longlong(file_.id(), NC_GLOBAL, "catalog_storms", NC_INT64, 1, &whole), "catalog_storms");
  const int basin_strlen = file_.dimension("basin_strlen", basin_chars);
  auto define = [&](const char* name, nc_type type, bool sample, const char* units, bool coordinates) {
    std::vector<int> dims = sample ? std::vector<int>{storm, step} : std::vector<int>{storm};
    if (type == NC_CHAR) dims.push_back(basin_strlen);
    const int id = file_.variable(name, type, dims, units);
    // Chunks of 256 storms (by 128 samples) and a small cache: memory stays
    // flat however many storms the file holds.
    const std::size_t chunk[] = {std::min<std::size_t>(storms > 0 ? storms : 1, storms_a_chunk), 128, basin_chars};
    file_.check(nc_def_var_chunking(file_.id(), id, NC_CHUNKED, chunk), name);
    file_.check(nc_set_var_chunk_cache(file_.id(), id, streaming_chunk_cache_bytes, 31, 0.75f), name);
    if (coordinates) file_.text(id, "coordinates", "time lat lon");
    return id;
  };
  define("storm", NC_INT, false, nullptr, false);
  file_.variable("step", NC_INT, {step});
  file_.text(define("time", NC_DOUBLE, true, time_units, false), "calendar", "standard");
  for (const StoredSeries& s : stored_series) {
    const bool position = s.values == &ForecastRows::lat || s.values == &ForecastRows::lon;
    const int id = define(s.name, NC_FLOAT, true, s.units, !position);
    if (s.values == &ForecastRows::lead_h) {
      file_.text(id, "standard_name", "forecast_period");
      file_.text(id, "long_name", "hours from the forecast's start (reference_time)");
    }
  }
  // The basin of every sample as characters, a CF string that xarray decodes
  // to str: variable-length strings a sample would cost HDF5 memory and time
  // with every storm written.
  file_.text(define("basin", NC_CHAR, true, nullptr, true), "_Encoding", "utf-8");
  file_.text(define("sid", NC_STRING, false, nullptr, false), "cf_role", "trajectory_id");
  for (const char* s : {"name", "data_provider", "max_sustained_wind_unit", "central_pressure_unit", "status"})
    define(s, NC_STRING, false, nullptr, false);
  define("orig_event_flag", NC_BYTE, false, nullptr, false);
  define("id_no", NC_INT64, false, nullptr, false);
  file_.text(define("climada_id_no", NC_DOUBLE, false, nullptr, false), "long_name",
             "CLIMADA's id_no of the track the storm was made from (NaN: not one of CLIMADA's)");
  define("category", NC_BYTE, false, nullptr, false);
  const int reference = define("reference_time", NC_DOUBLE, false, time_units, false);
  file_.text(reference, "calendar", "standard");
  file_.text(reference, "standard_name", "forecast_reference_time");
  file_.text(reference, "long_name", "the forecast's start (lead time 0): the track's last fix at or before 0 h");
  file_.text(define("year", NC_INT, false, nullptr, false), "long_name", "the storm's year (of its ATCF a-deck)");
  file_.text(define("cyclone_number", NC_INT, false, nullptr, false), "long_name",
             "the storm's number in its basin and year (0: none)");
  for (const CatalogParam& p : catalog_params) define(p.name, NC_FLOAT, false, "1", false);
  if (members_ > 0) {
    // The ensemble: each member's series (member 0 the forecast above), the
    // members' mean and quantiles of the maximum wind, and the probability
    // of rapid intensification.
    const int ncid = file_.id();
    const int member = file_.dimension("member", static_cast<std::size_t>(members_));
    const int quantile = file_.dimension("quantile", wind_quantiles.size());
    const int threshold = file_.dimension("ri_threshold", ri_thresholds.size());
    file_.text(file_.variable("member", NC_INT, {member}), "long_name", "member 0: the forecast itself, unperturbed");
    file_.variable("quantile", NC_DOUBLE, {quantile}, "1");
    file_.text(file_.variable("ri_rise", NC_INT, {threshold}, "knot"), "long_name",
               "rapid intensification: a rise of the maximum wind of at least this much ...");
    file_.text(file_.variable("ri_hours", NC_INT, {threshold}, "h"), "long_name", "... in this many hours from the start");
    auto series = [&](const char* name, std::vector<int> dims, const char* units, const char* long_name) {
      const int id = file_.variable(name, NC_FLOAT, dims, units);
      // A storm a chunk: every member (quantile, threshold) and 128 steps.
      std::vector<std::size_t> chunk = {1};
      for (std::size_t k = 1; k < dims.size(); ++k) {
        std::size_t len = 0;
        nc_inq_dimlen(ncid, dims[k], &len);
        chunk.push_back(dims[k] == step ? 128 : len);
      }
      file_.check(nc_def_var_chunking(ncid, id, NC_CHUNKED, chunk.data()), name);
      file_.text(id, "long_name", long_name);
      if (dims.back() == step) file_.text(id, "coordinates", "time lat lon");
      return id;
    };
    series("member_max_sustained_wind", {storm, member, step}, "knot", "each member's maximum sustained wind");
    series("member_central_pressure", {storm, member, step}, "hPa", "each member's central pressure");
    series("member_lat", {storm, member, step}, "degrees_north", "each member's latitude (its perturbed track)");
    series("member_lon", {storm, member, step}, "degrees_east", "each member's longitude");
    series("ensemble_mean_max_sustained_wind", {storm, step}, "knot", "the members' mean maximum sustained wind");
    series("ensemble_mean_central_pressure", {storm, step}, "hPa", "the members' mean central pressure");
    series("max_sustained_wind_quantile", {storm, quantile, step}, "knot", "quantiles of the members' maximum sustained wind");
    series("ri_probability", {storm, threshold}, "1",
           "share of the members whose wind rises by ri_rise within ri_hours of the start");
    file_.text(define("ensemble_members", NC_INT, false, nullptr, false), "long_name", "members with a forecast");
    const long long seed = static_cast<long long>(ensemble.seed), count = members_;
    file_.check(nc_put_att_longlong(ncid, NC_GLOBAL, "ensemble_members", NC_INT64, 1, &count), "ensemble_members");
    file_.check(nc_put_att_longlong(ncid, NC_GLOBAL, "ensemble_seed", NC_INT64, 1, &seed), "ensemble_seed");
    file_.text(NC_GLOBAL, "ensemble_method", ensemble.method);
    file_.text(NC_GLOBAL, "ensemble_spreads", ensemble.spreads);
  }
  file_.check(nc_enddef(file_.id()), "definitions");
  if (members_ > 0) {
    std::vector<int> index(static_cast<std::size_t>(members_));
    for (int k = 0; k < members_; ++k) index[static_cast<std::size_t>(k)] = k;
    file_.check(nc_put_var_int(file_.id(), var("member"), index.data()), "member");
    file_.check(nc_put_var_double(file_.id(), var("quantile"), wind_quantiles.data()), "quantile");
    std::vector<int> rise, hours;
    for (const RapidIntensification& t : ri_thresholds) {
      rise.push_back(t.kt);
      hours.push_back(t.hours);
    }
    file_.check(nc_put_var_int(file_.id(), var("ri_rise"), rise.data()), "ri_rise");
    file_.check(nc_put_var_int(file_.id(), var("ri_hours"), hours.data()), "ri_hours");
  }
}

void CatalogWriter::write_ensemble(std::size_t first_row, const std::vector<StoredForecast>& forecasts, std::size_t m) {
  const std::size_t n = forecasts.size(), members = static_cast<std::size_t>(members_);
  const int ncid = file_.id();
  constexpr float nan = std::numeric_limits<float>::quiet_NaN();
  // Per member and step.
  auto members_of = [&](const char* name, std::vector<std::vector<float>> EnsembleRows::*series) {
    floats_.assign(n * members * m, nan);
    for (std::size_t i = 0; i < n; ++i) {
      const auto& all = forecasts[i].ensemble.*series;
      for (std::size_t k = 0; k < std::min(all.size(), members); ++k)
        std::copy(all[k].begin(), all[k].begin() + static_cast<long>(std::min(all[k].size(), m)),
                  floats_.begin() + static_cast<long>((i * members + k) * m));
    }
    const std::size_t start[] = {first_row, 0, 0}, count[] = {n, members, m};
    if (m > 0) file_.check(nc_put_vara_float(ncid, var(name), start, count, floats_.data()), name);
  };
  members_of("member_max_sustained_wind", &EnsembleRows::wind_kt);
  members_of("member_central_pressure", &EnsembleRows::pressure_hpa);
  members_of("member_lat", &EnsembleRows::lat);
  members_of("member_lon", &EnsembleRows::lon);
  // Per step.
  auto per_step = [&](const char* name, std::vector<float> EnsembleSummary::*series) {
    floats_.assign(n * m, nan);
    for (std::size_t i = 0; i < n; ++i) {
      const std::vector<float>& v = forecasts[i].ensemble.summary.*series;
      std::copy(v.begin(), v.begin() + static_cast<long>(std::min(v.size(), m)), floats_.begin() + static_cast<long>(i * m));
    }
    const std::size_t start[] = {first_row, 0}, count[] = {n, m};
    if (m > 0) file_.check(nc_put_vara_float(ncid, var(name), start, count, floats_.data()), name);
  };
  per_step("ensemble_mean_max_sustained_wind", &EnsembleSummary::mean_wind_kt);
  per_step("ensemble_mean_central_pressure", &EnsembleSummary::mean_pressure_hpa);
  const std::size_t nq = wind_quantiles.size();
  floats_.assign(n * nq * m, nan);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t q = 0; q < nq; ++q) {
      const std::vector<float>& v = forecasts[i].ensemble.summary.wind_quantile_kt[q];
      std::copy(v.begin(), v.begin() + static_cast<long>(std::min(v.size(), m)),
                floats_.begin() + static_cast<long>((i * nq + q) * m));
    }
  const std::size_t qstart[] = {first_row, 0, 0}, qcount[] = {n, nq, m};
  if (m > 0) file_.check(nc_put_vara_float(ncid, var("max_sustained_wind_quantile"), qstart, qcount, floats_.data()),
                         "max_sustained_wind_quantile");
  const std::size_t nt = ri_thresholds.size();
  floats_.assign(n * nt, nan);
  std::vector<int> counts(n);
  for (std::size_t i = 0; i < n; ++i) {
    const EnsembleSummary& s = forecasts[i].ensemble.summary;
    std::copy(s.ri_probability.begin(), s.ri_probability.end(), floats_.begin() + static_cast<long>(i * nt));
    counts[i] = s.members;
  }
  const std::size_t rstart[] = {first_row, 0}, rcount[] = {n, nt};
  file_.check(nc_put_vara_float(ncid, var("ri_probability"), rstart, rcount, floats_.data()), "ri_probability");
  const std::size_t start1[] = {first_row}, count1[] = {n};
  file_.check(nc_put_vara_int(ncid, var("ensemble_members"), start1, count1, counts.data()), "ensemble_members");
}

int CatalogWriter::var(const char* name) const { return file_.var(name); }

void CatalogWriter::written(std::size_t rows) {
  constexpr std::size_t reopen_after = 1024;
  rows_since_open_ += rows;
  if (rows_since_open_ < reopen_after) return;
  file_.reopen(streaming_chunk_cache_bytes);
  rows_since_open_ = 0;
}

void CatalogWriter::write(std::size_t first_row, const std::vector<StoredForecast>& forecasts) {
  const std::size_t n = forecasts.size();
  if (n == 0) return;
  const int ncid = file_.id();
  const std::size_t start1[] = {first_row}, count1[] = {n};
  // Per storm.
  auto put_ints = [&](const char* v, auto value_of) {
    std::vector<int> values(n);
    for (std::size_t i = 0; i < n; ++i) values[i] = value_of(forecasts[i]);
    file_.check(nc_put_vara_int(ncid, var(v), start1, count1, values.data()), v);
  };
  put_ints("storm", [](const StoredForecast& f) { return static_cast<int>(f.index); });
  put_ints("year", [](const StoredForecast& f) { return f.year; });
  put_ints("cyclone_number", [](const StoredForecast& f) { return f.cyclone_number; });
  auto put_strings = [&](const char* v, auto value_of) {
    std::vector<const char*> values(n);
    for (std::size_t i = 0; i < n; ++i) values[i] = value_of(forecasts[i]);
    file_.check(nc_put_vara_string(ncid, var(v), start1, count1, values.data()), v);
  };
  put_strings("sid", [](const StoredForecast& f) { return f.sid.c_str(); });
  for (const StormText& t : storm_texts)
    put_strings(t.name, [&t](const StoredForecast& f) { return (f.*(t.member)).c_str(); });
  put_strings("data_provider", [](const StoredForecast&) { return "tarvo"; });
  put_strings("max_sustained_wind_unit", [](const StoredForecast&) { return "kn"; });
  put_strings("central_pressure_unit", [](const StoredForecast&) { return "mb"; });
  std::vector<signed char> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<signed char>(forecasts[i].orig_event_flag);
  file_.check(nc_put_vara_schar(ncid, var("orig_event_flag"), start1, count1, bytes.data()), "orig_event_flag");
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<signed char>(forecasts[i].rows.category);
  file_.check(nc_put_vara_schar(ncid, var("category"), start1, count1, bytes.data()), "category");
  std::vector<long long> ids(n);
  for (std::size_t i = 0; i < n; ++i) ids[i] = forecasts[i].id_no;
  file_.check(nc_put_vara_longlong(ncid, var("id_no"), start1, count1, ids.data()), "id_no");
  std::vector<double> climada(n);
  for (std::size_t i = 0; i < n; ++i) climada[i] = forecasts[i].climada_id_no;
  file_.check(nc_put_vara_double(ncid, var("climada_id_no"), start1, count1, climada.data()), "climada_id_no");
  doubles_.resize(n);
  for (std::size_t i = 0; i < n; ++i) doubles_[i] = forecasts[i].start_hours;
  file_.check(nc_put_vara_double(ncid, var("reference_time"), start1, count1, doubles_.data()), "reference_time");
  floats_.resize(n);
  for (const CatalogParam& p : catalog_params) {
    for (std::size_t i = 0; i < n; ++i) floats_[i] = forecasts[i].params.*(p.member);
    file_.check(nc_put_vara_float(ncid, var(p.name), start1, count1, floats_.data()), p.name);
  }
  // Per sample: the block's rows as long as its longest, the rest padding
  // (the fill values NaN and '\0', as unwritten rows have them).
  std::size_t m = 0;
  for (const StoredForecast& f : forecasts) m = std::max(m, f.rows.time.size());
  if (m == 0) {
    if (members_ > 0) write_ensemble(first_row, forecasts, 0);
    written(n);
    return;
  }
  longest_ = std::max(longest_, m);
  const std::size_t start[] = {first_row, 0, 0}, count[] = {n, m, basin_chars};
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  doubles_.assign(n * m, nan);
  for (std::size_t i = 0; i < n; ++i)
    std::copy(forecasts[i].rows.time.begin(), forecasts[i].rows.time.end(), doubles_.begin() + static_cast<long>(i * m));
  file_.check(nc_put_vara_double(ncid, var("time"), start, count, doubles_.data()), "time");
  for (const StoredSeries& s : stored_series) {
    floats_.assign(n * m, static_cast<float>(nan));
    for (std::size_t i = 0; i < n; ++i) {
      const std::vector<float>& values = forecasts[i].rows.*(s.values);
      std::copy(values.begin(), values.end(), floats_.begin() + static_cast<long>(i * m));
    }
    file_.check(nc_put_vara_float(ncid, var(s.name), start, count, floats_.data()), s.name);
  }
  chars_.assign(n * m * basin_chars, '\0');
  for (std::size_t i = 0; i < n; ++i) {
    const std::string code = forecasts[i].basin.substr(0, basin_chars);
    for (std::size_t k = 0; k < forecasts[i].rows.time.size(); ++k)
      std::copy(code.begin(), code.end(), chars_.begin() + static_cast<long>((i * m + k) * basin_chars));
  }
  file_.check(nc_put_vara_text(ncid, var("basin"), start, count, chars_.data()), "basin");
  if (members_ > 0) write_ensemble(first_row, forecasts, m);
  written(n);
}

void CatalogWriter::copy_rows(int src, const std::string& src_path, std::size_t src_steps, std::size_t src_row,
                              std::size_t row, std::size_t count) {
  if (count == 0) return;
  const int ncid_ = file_.id();
  int nvars = 0, storm_dim = -1, step_dim = -1;
  nc_inq_nvars(ncid_, &nvars);
  nc_inq_dimid(ncid_, "storm", &storm_dim);
  nc_inq_dimid(ncid_, "step", &step_dim);
  std::vector<unsigned char> buffer;
  for (int v = 0; v < nvars; ++v) {
    char name[NC_MAX_NAME + 1];
    nc_type type;
    int ndims, dims[NC_MAX_VAR_DIMS];
    nc_inq_var(ncid_, v, name, &type, &ndims, dims, nullptr);
    // Only the variables over storms: the coordinates of steps, members,
    // quantiles and thresholds are the file's own.
    if (ndims == 0 || dims[0] != storm_dim) continue;
    auto fail = [&](const std::string& what) {
      throw InputError(src_path, 0, std::string("variable ") + name + ": " + what);
    };
    int from;
    if (nc_inq_varid(src, name, &from) != NC_NOERR)
      fail("missing (not a forecast file of this version of tarvo, or of another ensemble: forecast those storms again)");
    nc_type src_type;
    int src_ndims;
    nc_inq_var(src, from, nullptr, &src_type, &src_ndims, nullptr, nullptr);
    if (src_type != type || src_ndims != ndims) fail("of another type or shape than tarvo writes");
    // Rows of storms, the source's steps, every value of any other dimension.
    std::size_t from_start[NC_MAX_VAR_DIMS] = {}, to_start[NC_MAX_VAR_DIMS] = {}, n[NC_MAX_VAR_DIMS] = {};
    std::size_t values = 1;
    for (int d = 0; d < ndims; ++d) {
      if (d == 0) {
        n[d] = count;
        from_start[d] = src_row;
        to_start[d] = row;
      } else if (dims[d] == step_dim) {
        n[d] = src_steps;
      } else {
        nc_inq_dimlen(ncid_, dims[d], &n[d]);
      }
      values *= n[d];
    }
    if (values == 0) continue;
    std::size_t size = 0;
    nc_inq_type(ncid_, type, nullptr, &size);
    buffer.resize(values * size);
    int status = nc_get_vara(src, from, from_start, n, buffer.data());
    if (status != NC_NOERR) fail(std::string("cannot read: ") + nc_strerror(status));
    status = nc_put_vara(ncid_, v, to_start, n, buffer.data());
    if (type == NC_STRING) nc_free_string(values, reinterpret_cast<char**>(buffer.data()));
    file_.check(status, name);
  }
  if (src_steps > longest_) longest_ = src_steps;
  written(count);
}

void CatalogWriter::finish() {
  file_.put_index("step", longest_);
  file_.finish();
}

// ---------------------------------------------------------------- reading

ForecastReader::ForecastReader(const std::string& path) : path_(path) {
  bound_hdf5_free_lists();
  const int status = nc_open(path.c_str(), NC_NOWRITE, &ncid_);
  if (status != NC_NOERR) {
    ncid_ = -1;
    throw InputError(path, 0, std::string("not a readable NetCDF file: ") + nc_strerror(status));
  }
  int storm_dim, step_dim;
  if (nc_inq_dimid(ncid_, "storm", &storm_dim) != NC_NOERR || nc_inq_dimid(ncid_, "step", &step_dim) != NC_NOERR) {
    nc_close(ncid_);
    ncid_ = -1;
    throw InputError(path, 0, "not a tarvo forecast file (dimensions storm and step are expected)");
  }
  nc_inq_dimlen(ncid_, storm_dim, &storms_);
  nc_inq_dimlen(ncid_, step_dim, &steps_);
  ensemble_ = ensemble_layout_of(ncid_);
  small_chunk_caches(ncid_);
}

EnsembleLayout ensemble_layout_of(int ncid) {
  EnsembleLayout e;
  int dim = -1;
  std::size_t members = 0;
  if (nc_inq_dimid(ncid, "member", &dim) != NC_NOERR || nc_inq_dimlen(ncid, dim, &members) != NC_NOERR) return e;
  e.members = static_cast<int>(members);
  long long seed = 0;
  nc_get_att_longlong(ncid, NC_GLOBAL, "ensemble_seed", &seed);
  e.seed = static_cast<std::uint64_t>(seed);
  e.method = nc_text_attribute(ncid, NC_GLOBAL, "ensemble_method");
  e.spreads = nc_text_attribute(ncid, NC_GLOBAL, "ensemble_spreads");
  return e;
}

ForecastReader::~ForecastReader() {
  if (ncid_ >= 0) nc_close(ncid_);
}

std::vector<StoredForecast> ForecastReader::read(std::size_t first, std::size_t count) const {
  return read_blocks(first, count, true);
}

std::vector<StoredForecast> ForecastReader::read_items(std::size_t first, std::size_t count) const {
  return read_blocks(first, count, false);
}

std::vector<StoredForecast> ForecastReader::read_blocks(std::size_t first, std::size_t count, bool with_rows) const {
  first = std::min(first, storms_);
  count = std::min(count, storms_ - first);
  std::vector<StoredForecast> out(count);
  if (count == 0) return out;
  auto var = [&](const char* name) {
    int id;
    if (nc_inq_varid(ncid_, name, &id) != NC_NOERR)
      throw InputError(path_, 0, std::string("variable ") + name +
                                     " is missing (not a forecast file of this version of tarvo)");
    return id;
  };
  auto check = [&](int status, const char* name) {
    if (status != NC_NOERR) throw InputError(path_, 0, std::string("variable ") + name + ": " + nc_strerror(status));
  };
  const std::size_t start[] = {first, 0, 0}, n[] = {count, steps_, basin_chars};
  auto per_storm = [&](auto zero, const char* name) {
    using T = decltype(zero);
    std::vector<T> v(count);
    if constexpr (std::is_same_v<T, double>) check(nc_get_vara_double(ncid_, var(name), start, n, v.data()), name);
    else if constexpr (std::is_same_v<T, float>) check(nc_get_vara_float(ncid_, var(name), start, n, v.data()), name);
    else check(nc_get_vara_longlong(ncid_, var(name), start, n, v.data()), name);
    return v;
  };
  auto strings = [&](const char* name) {
    std::vector<char*> raw(count, nullptr);
    check(nc_get_vara_string(ncid_, var(name), start, n, raw.data()), name);
    std::vector<std::string> v;
    for (char* s : raw) v.emplace_back(s ? s : "");
    nc_free_string(count, raw.data());
    return v;
  };
  const std::vector<long long> index = per_storm(0LL, "storm"), year = per_storm(0LL, "year"),
                               number = per_storm(0LL, "cyclone_number"), id_no = per_storm(0LL, "id_no"),
                               category = per_storm(0LL, "category");
  const std::vector<double> reference = per_storm(0.0, "reference_time");
  const std::vector<long long> origin = per_storm(0LL, "orig_event_flag");
  std::vector<double> climada(count, std::numeric_limits<double>::quiet_NaN());
  if (int id; nc_inq_varid(ncid_, "climada_id_no", &id) == NC_NOERR)  // older forecast files have none
    check(nc_get_vara_double(ncid_, id, start, n, climada.data()), "climada_id_no");
  const std::vector<std::string> sid = strings("sid");
  std::vector<std::vector<std::string>> texts;
  for (const StormText& t : storm_texts) texts.push_back(strings(t.name));
  std::vector<std::vector<float>> params;
  for (const CatalogParam& p : catalog_params) params.push_back(per_storm(0.0f, p.name));
  std::vector<double> time;
  std::vector<std::vector<float>> series;
  std::vector<char> basin(count * steps_ * basin_chars);
  if (steps_ > 0) {
    time.resize(count * steps_);
    check(nc_get_vara_double(ncid_, var("time"), start, n, time.data()), "time");
    check(nc_get_vara_text(ncid_, var("basin"), start, n, basin.data()), "basin");
    if (with_rows)
      for (const StoredSeries& s : stored_series) {
        series.emplace_back(count * steps_);
        check(nc_get_vara_float(ncid_, var(s.name), start, n, series.back().data()), s.name);
      }
  }
  // The ensemble's summaries (its members' series stay in the file).
  const std::size_t nq = wind_quantiles.size(), nt = ri_thresholds.size();
  std::vector<float> mean_wind, mean_pressure, quantiles, ri;
  std::vector<int> members;
  if (ensemble_.members > 0) {
    const std::size_t qn[] = {count, nq, steps_}, rn[] = {count, nt};
    ri.resize(count * nt);
    members.resize(count);
    check(nc_get_vara_float(ncid_, var("ri_probability"), start, rn, ri.data()), "ri_probability");
    check(nc_get_vara_int(ncid_, var("ensemble_members"), start, n, members.data()), "ensemble_members");
    if (with_rows && steps_ > 0) {
      mean_wind.resize(count * steps_);
      mean_pressure.resize(count * steps_);
      quantiles.resize(count * nq * steps_);
      check(nc_get_vara_float(ncid_, var("ensemble_mean_max_sustained_wind"), start, n, mean_wind.data()),
            "ensemble_mean_max_sustained_wind");
      check(nc_get_vara_float(ncid_, var("ensemble_mean_central_pressure"), start, n, mean_pressure.data()),
            "ensemble_mean_central_pressure");
      check(nc_get_vara_float(ncid_, var("max_sustained_wind_quantile"), start, qn, quantiles.data()),
            "max_sustained_wind_quantile");
    }
  }
  for (std::size_t i = 0; i < count; ++i) {
    StoredForecast& f = out[i];
    f.index = static_cast<std::size_t>(index[i]);
    f.sid = sid[i];
    for (std::size_t t = 0; t < std::size(storm_texts); ++t) f.*(storm_texts[t].member) = texts[t][i];
    f.year = static_cast<int>(year[i]);
    f.cyclone_number = static_cast<int>(number[i]);
    f.id_no = id_no[i];
    f.orig_event_flag = static_cast<int>(origin[i]);
    f.climada_id_no = climada[i];
    f.start_hours = reference[i];
    for (std::size_t p = 0; p < std::size(catalog_params); ++p) f.params.*(catalog_params[p].member) = params[p][i];
    std::size_t m = 0;
    while (m < steps_ && std::isfinite(time[i * steps_ + m])) ++m;
    if (m > 0) {
      const char* code = &basin[i * steps_ * basin_chars];
      f.basin.assign(code, std::find(code, code + basin_chars, '\0'));
    }
    f.rows.category = static_cast<int>(category[i]);
    if (!with_rows) continue;
    ForecastRows& r = f.rows;
    r.time.assign(time.begin() + static_cast<long>(i * steps_), time.begin() + static_cast<long>(i * steps_ + m));
    for (std::size_t s = 0; s < std::size(stored_series); ++s)
      (r.*(stored_series[s].values))
          .assign(series[s].begin() + static_cast<long>(i * steps_), series[s].begin() + static_cast<long>(i * steps_ + m));
    if (ensemble_.members > 0 && !mean_wind.empty()) {
      EnsembleSummary& e = f.ensemble.summary;
      e.members = members[i];
      e.mean_wind_kt.assign(mean_wind.begin() + static_cast<long>(i * steps_), mean_wind.begin() + static_cast<long>(i * steps_ + m));
      e.mean_pressure_hpa.assign(mean_pressure.begin() + static_cast<long>(i * steps_),
                                 mean_pressure.begin() + static_cast<long>(i * steps_ + m));
      for (std::size_t q = 0; q < nq; ++q)
        e.wind_quantile_kt[q].assign(quantiles.begin() + static_cast<long>((i * nq + q) * steps_),
                                     quantiles.begin() + static_cast<long>((i * nq + q) * steps_ + m));
      std::copy(ri.begin() + static_cast<long>(i * nt), ri.begin() + static_cast<long>((i + 1) * nt), e.ri_probability.begin());
    }
  }
  if (ensemble_.members > 0 && !with_rows)
    for (std::size_t i = 0; i < count; ++i) {
      out[i].ensemble.summary.members = members[i];
      std::copy(ri.begin() + static_cast<long>(i * nt), ri.begin() + static_cast<long>((i + 1) * nt),
                out[i].ensemble.summary.ri_probability.begin());
    }
  return out;
}

}  // namespace tarvo
