#include "output/catalog_output.hpp"

#include <netcdf.h>

#include <cmath>
#include <algorithm>
#include <cstdio>
#include <limits>
#include <vector>

#include "input/input_error.hpp"

namespace tarvo {

namespace {

constexpr const char* time_units = "hours since 1970-01-01 00:00:00";
constexpr float knots_thresholds[] = {34.0f, 64.0f, 83.0f, 96.0f, 113.0f, 137.0f};
constexpr float km_per_nautical_mile = 1.852f;
constexpr float ambient_hpa = 1005.0f;
constexpr std::size_t basin_chars = 2;  // a basin code: "al", "ep", ...

}  // namespace

int category_of(float peak_kt) {
  if (!std::isfinite(peak_kt)) return -1;
  int c = -1;
  for (const float t : knots_thresholds)
    if (peak_kt >= t) ++c;
  return c;
}

ForecastRows forecast_rows(const CatalogStorm& storm, const std::vector<OutputSample>& samples) {
  ForecastRows r;
  const std::size_t m = samples.size();
  r.time.resize(m);
  r.lat.resize(m);
  r.lon.resize(m);
  r.wind_kt.resize(m);
  r.pressure_hpa.resize(m);
  r.environmental_hpa.assign(m, ambient_hpa);
  r.rmw_nmi.resize(m);
  r.time_step_h.assign(m, 2.0f);
  const double first = storm.reference_hours + (storm.track.records.empty() ? 0 : storm.track.records[0].hour);
  float peak = samples.empty() ? std::numeric_limits<float>::quiet_NaN() : samples[0].vmax_kt;
  for (std::size_t k = 0; k < m; ++k) {
    r.time[k] = first + 2.0 * static_cast<double>(k);
    r.lat[k] = samples[k].lat;
    r.lon[k] = samples[k].lon;
    r.wind_kt[k] = samples[k].vmax_kt;
    r.pressure_hpa[k] = samples[k].pmin_hpa;
    r.rmw_nmi[k] = samples[k].rmw_km / km_per_nautical_mile;
    peak = samples[k].vmax_kt > peak ? samples[k].vmax_kt : peak;
  }
  r.basin = storm.track.basin.substr(0, storm.track.basin.find_last_not_of(' ') + 1);
  r.category = category_of(peak);
  return r;
}

CatalogWriter::CatalogWriter(const std::string& path, std::size_t storms, std::size_t catalog_storms)
    : file_(path) {
  const int storm = file_.dimension("storm", storms);
  // Storms have samples as their tracks last: the step dimension grows to the longest.
  const int step = file_.dimension("step", NC_UNLIMITED);
  file_.text(NC_GLOBAL, "featureType", "trajectory");
  file_.text(NC_GLOBAL, "Conventions", "CF-1.8");
  file_.text(NC_GLOBAL, "title", "tarvo forecasts");
  file_.text(NC_GLOBAL, "source", "tarvo");
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
    const std::size_t chunk[] = {std::min<std::size_t>(storms > 0 ? storms : 1, 256), 128, basin_chars};
    file_.check(nc_def_var_chunking(file_.id(), id, NC_CHUNKED, chunk), name);
    file_.check(nc_set_var_chunk_cache(file_.id(), id, 1u << 20, 31, 0.75f), name);
    if (coordinates) file_.text(id, "coordinates", "time lat lon");
    return id;
  };
  define("storm", NC_INT, false, nullptr, false);
  file_.variable("step", NC_INT, {step});
  file_.text(define("time", NC_DOUBLE, true, time_units, false), "calendar", "standard");
  define("lat", NC_FLOAT, true, "degrees_north", false);
  define("lon", NC_FLOAT, true, "degrees_east", false);
  define("max_sustained_wind", NC_FLOAT, true, "knot", true);
  define("central_pressure", NC_FLOAT, true, "hPa", true);
  define("environmental_pressure", NC_FLOAT, true, "hPa", true);
  define("radius_max_wind", NC_FLOAT, true, "nautical_mile", true);
  define("time_step", NC_FLOAT, true, "h", true);
  // The basin of every sample as characters, a CF string that xarray decodes
  // to str: variable-length strings a sample would cost HDF5 memory and time
  // with every storm written.
  file_.text(define("basin", NC_CHAR, true, nullptr, true), "_Encoding", "utf-8");
  file_.text(define("sid", NC_STRING, false, nullptr, false), "cf_role", "trajectory_id");
  for (const char* s : {"name", "data_provider", "max_sustained_wind_unit", "central_pressure_unit", "status"})
    define(s, NC_STRING, false, nullptr, false);
  define("orig_event_flag", NC_BYTE, false, nullptr, false);
  define("id_no", NC_INT64, false, nullptr, false);
  define("category", NC_BYTE, false, nullptr, false);
  file_.check(nc_enddef(file_.id()), "definitions");
}

int CatalogWriter::var(const char* name) const { return file_.var(name); }

void CatalogWriter::write(std::size_t row, std::size_t index, const CatalogStorm& storm,
                          const std::vector<OutputSample>& samples, const std::string& status) {
  auto check = [&](int s, const char* what) { file_.check(s, what); };
  const int ncid_ = file_.id();
  const std::size_t m = samples.size();
  const std::size_t one[] = {row}, count1[] = {1};
  const int catalog_index = static_cast<int>(index);
  check(nc_put_vara_int(ncid_, var("storm"), one, count1, &catalog_index), "storm");
  auto put_string = [&](const char* v, const std::string& value) {
    const char* p = value.c_str();
    check(nc_put_vara_string(ncid_, var(v), one, count1, &p), v);
  };
  put_string("sid", storm.sid);
  put_string("name", storm.name);
  put_string("data_provider", "tarvo");
  put_string("max_sustained_wind_unit", "kn");
  put_string("central_pressure_unit", "mb");
  put_string("status", status);
  const signed char flag = 0;
  check(nc_put_vara_schar(ncid_, var("orig_event_flag"), one, count1, &flag), "orig_event_flag");
  const long long id = static_cast<long long>(index) + 1;
  check(nc_put_vara_longlong(ncid_, var("id_no"), one, count1, &id), "id_no");
  const ForecastRows r = forecast_rows(storm, samples);
  const signed char category = static_cast<signed char>(r.category);
  check(nc_put_vara_schar(ncid_, var("category"), one, count1, &category), "category");
  if (m == 0) return;
  if (m > longest_) longest_ = m;
  const std::size_t start[] = {row, 0}, count[] = {1, m};
  check(nc_put_vara_double(ncid_, var("time"), start, count, r.time.data()), "time");
  for (auto [v, data] : {std::pair{"lat", &r.lat}, {"lon", &r.lon}, {"max_sustained_wind", &r.wind_kt},
                         {"central_pressure", &r.pressure_hpa}, {"environmental_pressure", &r.environmental_hpa},
                         {"radius_max_wind", &r.rmw_nmi}, {"time_step", &r.time_step_h}})
    check(nc_put_vara_float(ncid_, var(v), start, count, data->data()), v);
  std::string basins;
  for (std::size_t k = 0; k < m; ++k) {
    basins += r.basin.substr(0, basin_chars);
    basins.resize((k + 1) * basin_chars, '\0');
  }
  const std::size_t text_start[] = {row, 0, 0}, text_count[] = {1, m, basin_chars};
  check(nc_put_vara_text(ncid_, var("basin"), text_start, text_count, basins.data()), "basin");
}

void CatalogWriter::copy_rows(int src, const std::string& src_path, std::size_t src_steps, std::size_t src_row,
                              std::size_t row, std::size_t count) {
  if (count == 0) return;
  const int ncid_ = file_.id();
  int nvars = 0;
  nc_inq_nvars(ncid_, &nvars);
  std::vector<unsigned char> buffer;
  for (int v = 0; v < nvars; ++v) {
    char name[NC_MAX_NAME + 1];
    nc_type type;
    int ndims;
    nc_inq_var(ncid_, v, name, &type, &ndims, nullptr, nullptr);
    if (std::string(name) == "step") continue;  // written by finish()
    auto fail = [&](const std::string& what) {
      throw InputError(src_path, 0, std::string("variable ") + name + ": " + what);
    };
    int from;
    if (nc_inq_varid(src, name, &from) != NC_NOERR) fail("missing (not a tarvo forecast file)");
    nc_type src_type;
    int src_ndims;
    nc_inq_var(src, from, nullptr, &src_type, &src_ndims, nullptr, nullptr);
    if (src_type != type || src_ndims != ndims) fail("of another type or shape than tarvo writes");
    const std::size_t steps = ndims >= 2 ? src_steps : 1;
    if (ndims == 2 && steps == 0) continue;
    std::size_t size = 0;
    nc_inq_type(ncid_, type, nullptr, &size);
    buffer.resize(count * steps * (ndims == 3 ? basin_chars : 1) * size);
    const std::size_t from_start[] = {src_row, 0, 0}, to_start[] = {row, 0, 0}, n[] = {count, steps, basin_chars};
    int status = nc_get_vara(src, from, from_start, n, buffer.data());
    if (status != NC_NOERR) fail(std::string("cannot read: ") + nc_strerror(status));
    status = nc_put_vara(ncid_, v, to_start, n, buffer.data());
    if (type == NC_STRING) nc_free_string(count * steps, reinterpret_cast<char**>(buffer.data()));
    file_.check(status, name);
  }
  if (src_steps > longest_) longest_ = src_steps;
}

void CatalogWriter::finish() {
  file_.put_index("step", longest_);
  file_.finish();
}

}  // namespace tarvo
