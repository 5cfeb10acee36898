#include "output/climada_output.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "input/cf.hpp"
#include "input/input_error.hpp"

namespace tarvo {

namespace {

constexpr const char* time_units = "hours since 1970-01-01 00:00:00";
constexpr std::size_t basin_chars = 2;

// A track's time series in CLIMADA's names and units.
struct Series {
  const char* name;
  const char* units;
  const std::vector<float> ForecastRows::*values;
};
constexpr Series climada_series[] = {{"time_step", "h", &ForecastRows::time_step_h},
                                     {"radius_max_wind", "nautical_mile", &ForecastRows::rmw_nmi},
                                     {"max_sustained_wind", "knot", &ForecastRows::wind_kt},
                                     {"central_pressure", "hPa", &ForecastRows::pressure_hpa},
                                     {"environmental_pressure", "hPa", &ForecastRows::environmental_hpa}};

// The per-track texts CLIMADA reads, with tarvo's own basin code and status.
struct TrackText {
  const char* name;
  std::string (*value)(const StoredForecast&);
};
const TrackText track_texts[] = {
    {"max_sustained_wind_unit", [](const StoredForecast&) { return std::string("kn"); }},
    {"central_pressure_unit", [](const StoredForecast&) { return std::string("mb"); }},
    {"name", [](const StoredForecast& f) { return f.name; }},
    {"sid", [](const StoredForecast& f) { return f.sid; }},
    {"data_provider", [](const StoredForecast&) { return std::string("tarvo"); }},
    {"tarvo_basin", [](const StoredForecast& f) { return f.basin; }},
    {"status", [](const StoredForecast& f) { return f.status; }}};

// What made a file, with the storm's run parameters where there is one.
void provenance_group(NetcdfFile& file, const std::string& command, const StoredForecast* forecast) {
  const int group = file.group("provenance");
  file.provenance(command, group);
  if (!forecast) return;
  for (const CatalogParam& p : catalog_params) {
    const float v = forecast->params.*(p.member);
    file.check(nc_put_att_float(group, NC_GLOBAL, p.name, NC_FLOAT, 1, &v), p.name);
  }
}

std::vector<double> widened(const std::vector<float>& v) { return {v.begin(), v.end()}; }

}  // namespace

double climada_id_no(const StoredForecast& f) {
  return std::isfinite(f.climada_id_no) ? f.climada_id_no : static_cast<double>(f.id_no);
}

std::string climada_basin(const std::string& basin, double lon_east) {
  if (basin == "al") return "NA";
  if (basin == "ep" || basin == "cp") return "EP";
  if (basin == "wp") return "WP";
  if (basin == "io") return "NI";
  if (basin == "sl") return "SA";
  if (basin == "sh") {
    const double east = lon_east - 360.0 * std::floor(lon_east / 360.0);  // 0..360
    return east >= 135.0 && east < 290.0 ? "SP" : "SI";
  }
  return "";
}

std::vector<double> climada_longitudes(const std::vector<float>& lon_east) {
  std::vector<double> lon(lon_east.size());
  for (std::size_t k = 0; k < lon.size(); ++k) {
    const double v = static_cast<double>(lon_east[k]);
    lon[k] = v - 360.0 * std::floor((v + 180.0) / 360.0);  // -180 <= lon < 180
    if (lon[k] == -180.0) lon[k] = 180.0;
  }
  bool crosses = false;
  for (std::size_t k = 1; k < lon.size(); ++k) crosses = crosses || std::fabs(lon[k] - lon[k - 1]) > 180.0;
  if (crosses)
    for (double& v : lon)
      if (v < 0.0) v += 360.0;
  return lon;
}

void write_climada_track(const std::string& dir, const StoredForecast& f, const std::string& command) {
  NetcdfFile file(dir + "/" + f.sid + ".nc");
  const ForecastRows& rows = f.rows;
  const std::size_t m = rows.time.size();
  const int time_dim = file.dimension("time", m);
  const int time = file.variable("time", NC_DOUBLE, {time_dim}, time_units);
  file.text(time, "calendar", "standard");
  const int lat = file.variable("lat", NC_DOUBLE, {time_dim}, "degrees_north");
  const int lon = file.variable("lon", NC_DOUBLE, {time_dim}, "degrees_east");
  std::vector<int> ids;
  for (const Series& s : climada_series) {
    ids.push_back(file.variable(s.name, NC_DOUBLE, {time_dim}, s.units));
    file.text(ids.back(), "coordinates", "lat lon");
  }
  const int basin = file.variable("basin", NC_STRING, {time_dim});
  file.text(basin, "coordinates", "lat lon");
  for (const TrackText& t : track_texts) file.text(NC_GLOBAL, t.name, t.value(f));
  const int ncid = file.id(), flag = f.orig_event_flag, category = rows.category;
  file.check(nc_put_att_int(ncid, NC_GLOBAL, "orig_event_flag", NC_INT, 1, &flag), "orig_event_flag");
  if (std::isfinite(f.climada_id_no))
    file.check(nc_put_att_double(ncid, NC_GLOBAL, "id_no", NC_DOUBLE, 1, &f.climada_id_no), "id_no");
  else
    file.check(nc_put_att_longlong(ncid, NC_GLOBAL, "id_no", NC_INT64, 1, &f.id_no), "id_no");
  file.check(nc_put_att_int(ncid, NC_GLOBAL, "category", NC_INT, 1, &category), "category");
  provenance_group(file, command, &f);
  file.check(nc_enddef(ncid), "definitions");
  if (m > 0) {
    file.check(nc_put_var_double(ncid, time, rows.time.data()), "time");
    file.check(nc_put_var_double(ncid, lat, widened(rows.lat).data()), "lat");
    const std::vector<double> lons = climada_longitudes(rows.lon);
    file.check(nc_put_var_double(ncid, lon, lons.data()), "lon");
    for (std::size_t s = 0; s < std::size(climada_series); ++s)
      file.check(nc_put_var_double(ncid, ids[s], widened(rows.*(climada_series[s].values)).data()),
                 climada_series[s].name);
    std::vector<std::string> codes(m);
    std::vector<const char*> basins(m);
    for (std::size_t k = 0; k < m; ++k) {
      codes[k] = climada_basin(f.basin, static_cast<double>(rows.lon[k]));
      basins[k] = codes[k].c_str();
    }
    file.check(nc_put_var_string(ncid, basin, basins.data()), "basin");
  }
  file.finish();
}

ClimadaTracksFile::ClimadaTracksFile(const std::string& path, std::size_t tracks, const std::string& command,
                                     bool climada_ids)
    : file_(path), tracks_(tracks), climada_ids_(climada_ids) {
  const int storm = file_.dimension("storm", tracks);
  const int step = file_.dimension("step", NC_UNLIMITED);
  const int strlen = file_.dimension("basin_strlen", basin_chars);
  const std::size_t chunk[] = {std::min<std::size_t>(std::max<std::size_t>(tracks, 1), 256), 128, basin_chars};
  auto per_step = [&](const char* name, nc_type type, const char* units) {
    std::vector<int> dims{storm, step};
    if (type == NC_CHAR) dims.push_back(strlen);
    const int id = file_.variable(name, type, dims, units);
    file_.check(nc_def_var_chunking(file_.id(), id, NC_CHUNKED, chunk), name);
    return id;
  };
  file_.variable("storm", NC_INT, {storm});
  file_.variable("step", NC_INT, {step});
  const int time = per_step("time", NC_DOUBLE, time_units);
  file_.text(time, "calendar", "standard");
  file_.text(time, "coordinates", "lat lon");
  per_step("lat", NC_DOUBLE, "degrees_north");
  per_step("lon", NC_DOUBLE, "degrees_east");
  for (const Series& s : climada_series) file_.text(per_step(s.name, NC_DOUBLE, s.units), "coordinates", "lat lon");
  const int basin = per_step("basin", NC_CHAR, nullptr);
  file_.text(basin, "_Encoding", "utf-8");
  file_.text(basin, "coordinates", "lat lon");
  for (const TrackText& t : track_texts) file_.variable(t.name, NC_STRING, {storm});
  file_.variable("orig_event_flag", NC_INT, {storm});
  file_.variable("id_no", climada_ids_ ? NC_DOUBLE : NC_INT64, {storm});
  file_.variable("category", NC_INT, {storm});
  provenance_group(file_, command, nullptr);
  file_.check(nc_enddef(file_.id()), "definitions");
  small_chunk_caches(file_.id(), streaming_chunk_cache_bytes);
}

void ClimadaTracksFile::add(const StoredForecast& f) {
  if (row_ + block_.size() >= tracks_) throw InputError(file_.path(), 0, "more tracks than the file was made for");
  block_.push_back(f);
  block_.back().ensemble = {};  // only the forecast itself is written
  if (block_.size() == 256) flush();
}

void ClimadaTracksFile::flush() {
  const std::size_t n = block_.size();
  if (n == 0) return;
  const int ncid = file_.id();
  const std::size_t start1[] = {row_}, count1[] = {n};
  std::vector<int> ints(n);
  auto put_ints = [&](const char* name, auto value_of) {
    for (std::size_t i = 0; i < n; ++i) ints[i] = value_of(i);
    file_.check(nc_put_vara_int(ncid, file_.var(name), start1, count1, ints.data()), name);
  };
  put_ints("storm", [&](std::size_t i) { return static_cast<int>(row_ + i); });
  put_ints("orig_event_flag", [&](std::size_t i) { return block_[i].orig_event_flag; });
  put_ints("category", [&](std::size_t i) { return block_[i].rows.category; });
  std::vector<std::string> texts(n);
  std::vector<const char*> pointers(n);
  for (const TrackText& t : track_texts) {
    for (std::size_t i = 0; i < n; ++i) {
      texts[i] = t.value(block_[i]);
      pointers[i] = texts[i].c_str();
    }
    file_.check(nc_put_vara_string(ncid, file_.var(t.name), start1, count1, pointers.data()), t.name);
  }
  if (climada_ids_) {
    std::vector<double> ids(n);
    for (std::size_t i = 0; i < n; ++i) ids[i] = climada_id_no(block_[i]);
    file_.check(nc_put_vara_double(ncid, file_.var("id_no"), start1, count1, ids.data()), "id_no");
  } else {
    std::vector<long long> ids(n);
    for (std::size_t i = 0; i < n; ++i) ids[i] = block_[i].id_no;
    file_.check(nc_put_vara_longlong(ncid, file_.var("id_no"), start1, count1, ids.data()), "id_no");
  }
  // The block's samples as long as its longest track, the rest the fill values.
  std::size_t m = 0;
  for (const StoredForecast& f : block_) m = std::max(m, f.rows.time.size());
  if (m > 0) {
    longest_ = std::max(longest_, m);
    const std::size_t start[] = {row_, 0, 0}, count[] = {n, m, basin_chars};
    std::vector<double> values(n * m);
    auto put = [&](const char* name, auto series_of) {
      std::fill(values.begin(), values.end(), std::numeric_limits<double>::quiet_NaN());
      for (std::size_t i = 0; i < n; ++i) {
        const std::vector<double> v = series_of(block_[i]);
        std::copy(v.begin(), v.end(), values.begin() + static_cast<long>(i * m));
      }
      file_.check(nc_put_vara_double(ncid, file_.var(name), start, count, values.data()), name);
    };
    put("time", [](const StoredForecast& f) { return f.rows.time; });
    put("lat", [](const StoredForecast& f) { return widened(f.rows.lat); });
    put("lon", [](const StoredForecast& f) { return climada_longitudes(f.rows.lon); });
    for (const Series& s : climada_series) put(s.name, [&s](const StoredForecast& f) { return widened(f.rows.*(s.values)); });
    std::string codes(n * m * basin_chars, '\0');
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t k = 0; k < block_[i].rows.time.size(); ++k) {
        const std::string c = climada_basin(block_[i].basin, static_cast<double>(block_[i].rows.lon[k]));
        std::copy(c.begin(), c.begin() + static_cast<long>(std::min(c.size(), basin_chars)),
                  codes.begin() + static_cast<long>((i * m + k) * basin_chars));
      }
    file_.check(nc_put_vara_text(ncid, file_.var("basin"), start, count, codes.data()), "basin");
  }
  row_ += n;
  block_.clear();
  rows_since_open_ += n;
  if (rows_since_open_ >= 4096) {
    file_.reopen(streaming_chunk_cache_bytes);
    rows_since_open_ = 0;
  }
}

void ClimadaTracksFile::finish() {
  flush();
  if (row_ != tracks_) throw InputError(file_.path(), 0, "fewer tracks than the file was made for");
  file_.put_index("step", longest_);
  file_.finish();
}

}  // namespace tarvo
