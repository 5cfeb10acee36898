#include "output/catalog_output.hpp"

#include <netcdf.h>
#include <unistd.h>

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

}  // namespace

int category_of(float peak_kt) {
  if (!std::isfinite(peak_kt)) return -1;
  int c = -1;
  for (const float t : knots_thresholds)
    if (peak_kt >= t) ++c;
  return c;
}

CatalogWriter::CatalogWriter(const std::string& path, std::size_t storms)
    : path_(path), tmp_(path + ".tmp" + std::to_string(::getpid())) {
  auto check = [&](int status, const char* what) {
    if (status != NC_NOERR) {
      if (ncid_ >= 0) nc_close(ncid_);
      ncid_ = -1;
      std::remove(tmp_.c_str());
      throw InputError(path_, 0, std::string("cannot write (") + what + "): " + nc_strerror(status));
    }
  };
  check(nc_create(tmp_.c_str(), NC_NETCDF4 | NC_CLOBBER, &ncid_), "create");
  int storm, step;
  check(nc_def_dim(ncid_, "storm", storms, &storm), "storm");
  // Storms have samples as their tracks last: the step dimension grows to the longest.
  check(nc_def_dim(ncid_, "step", NC_UNLIMITED, &step), "step");
  auto text = [&](int id, const char* name, const std::string& value) {
    check(nc_put_att_text(ncid_, id, name, value.size(), value.c_str()), name);
  };
  text(NC_GLOBAL, "featureType", "trajectory");
  text(NC_GLOBAL, "Conventions", "CF-1.8");
  text(NC_GLOBAL, "title", "tarvo forecasts");
  text(NC_GLOBAL, "source", "tarvo");
  const int per_storm[] = {storm}, per_sample[] = {storm, step};
  auto define = [&](const char* name, nc_type type, bool sample, const char* units, bool coordinates) {
    int id;
    check(nc_def_var(ncid_, name, type, sample ? 2 : 1, sample ? per_sample : per_storm, &id), name);
    // Chunks of 256 storms (by 128 samples) and a small cache: memory stays
    // flat however many storms the file holds.
    const std::size_t chunk[] = {std::min<std::size_t>(storms > 0 ? storms : 1, 256), 128};
    check(nc_def_var_chunking(ncid_, id, NC_CHUNKED, chunk), name);
    check(nc_set_var_chunk_cache(ncid_, id, 1u << 20, 31, 0.75f), name);
    if (type == NC_FLOAT) {
      const float nan = std::numeric_limits<float>::quiet_NaN();
      check(nc_def_var_fill(ncid_, id, NC_FILL, &nan), name);
    } else if (type == NC_DOUBLE) {
      const double nan = std::numeric_limits<double>::quiet_NaN();
      check(nc_def_var_fill(ncid_, id, NC_FILL, &nan), name);
    }
    if (units) text(id, "units", units);
    if (coordinates) text(id, "coordinates", "time lat lon");
    return id;
  };
  define("storm", NC_INT, false, nullptr, false);
  {
    int id;
    check(nc_def_var(ncid_, "step", NC_INT, 1, &step, &id), "step");
  }
  const int t = define("time", NC_DOUBLE, true, time_units, false);
  text(t, "calendar", "standard");
  define("lat", NC_FLOAT, true, "degrees_north", false);
  define("lon", NC_FLOAT, true, "degrees_east", false);
  define("max_sustained_wind", NC_FLOAT, true, "knot", true);
  define("central_pressure", NC_FLOAT, true, "hPa", true);
  define("environmental_pressure", NC_FLOAT, true, "hPa", true);
  define("radius_max_wind", NC_FLOAT, true, "nautical_mile", true);
  define("time_step", NC_FLOAT, true, "h", true);
  define("basin", NC_STRING, true, nullptr, true);
  text(define("sid", NC_STRING, false, nullptr, false), "cf_role", "trajectory_id");
  for (const char* s : {"name", "data_provider", "max_sustained_wind_unit", "central_pressure_unit", "status"})
    define(s, NC_STRING, false, nullptr, false);
  define("orig_event_flag", NC_BYTE, false, nullptr, false);
  define("id_no", NC_INT64, false, nullptr, false);
  define("category", NC_BYTE, false, nullptr, false);
  check(nc_enddef(ncid_), "definitions");
}

CatalogWriter::~CatalogWriter() {
  if (ncid_ >= 0) {
    nc_close(ncid_);
    std::remove(tmp_.c_str());
  }
}

int CatalogWriter::var(const char* name) const {
  int id = -1;
  nc_inq_varid(ncid_, name, &id);
  return id;
}

void CatalogWriter::write(std::size_t row, std::size_t index, const CatalogStorm& storm,
                          const std::vector<OutputSample>& samples, const std::string& status) {
  auto check = [&](int s, const char* what) {
    if (s != NC_NOERR) throw InputError(path_, 0, std::string("cannot write ") + what + ": " + nc_strerror(s));
  };
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
  float peak = samples.empty() ? std::numeric_limits<float>::quiet_NaN() : samples[0].vmax_kt;
  for (const OutputSample& s : samples) peak = s.vmax_kt > peak ? s.vmax_kt : peak;
  const signed char category = static_cast<signed char>(category_of(peak));
  check(nc_put_vara_schar(ncid_, var("category"), one, count1, &category), "category");
  if (m == 0) return;
  if (m > longest_) longest_ = m;
  std::vector<double> time(m);
  std::vector<float> lat(m), lon(m), wind(m), pres(m), env(m, ambient_hpa), rmw(m), dt(m, 2.0f);
  const double first = storm.reference_hours + (storm.track.records.empty() ? 0 : storm.track.records[0].hour);
  for (std::size_t k = 0; k < m; ++k) {
    time[k] = first + 2.0 * static_cast<double>(k);
    lat[k] = samples[k].lat;
    lon[k] = samples[k].lon;
    wind[k] = samples[k].vmax_kt;
    pres[k] = samples[k].pmin_hpa;
    rmw[k] = samples[k].rmw_km / km_per_nautical_mile;
  }
  const std::size_t start[] = {row, 0}, count[] = {1, m};
  check(nc_put_vara_double(ncid_, var("time"), start, count, time.data()), "time");
  for (auto [v, data] : {std::pair{"lat", &lat}, {"lon", &lon}, {"max_sustained_wind", &wind},
                         {"central_pressure", &pres}, {"environmental_pressure", &env},
                         {"radius_max_wind", &rmw}, {"time_step", &dt}})
    check(nc_put_vara_float(ncid_, var(v), start, count, data->data()), v);
  const std::string basin = storm.track.basin.substr(0, storm.track.basin.find_last_not_of(' ') + 1);
  std::vector<const char*> basins(m, basin.c_str());
  check(nc_put_vara_string(ncid_, var("basin"), start, count, basins.data()), "basin");
}

void CatalogWriter::finish() {
  std::vector<int> index(longest_);
  for (std::size_t i = 0; i < longest_; ++i) index[i] = static_cast<int>(i);
  const std::size_t zero[] = {0}, n[] = {longest_};
  int status = longest_ ? nc_put_vara_int(ncid_, var("step"), zero, n, index.data()) : NC_NOERR;
  if (status == NC_NOERR) status = nc_close(ncid_);
  else nc_close(ncid_);
  ncid_ = -1;
  if (status != NC_NOERR) {
    std::remove(tmp_.c_str());
    throw InputError(path_, 0, std::string("cannot write: ") + nc_strerror(status));
  }
  if (std::rename(tmp_.c_str(), path_.c_str()) != 0) {
    std::remove(tmp_.c_str());
    throw InputError(path_, 0, "cannot rename the finished file into place");
  }
}

}  // namespace tarvo
