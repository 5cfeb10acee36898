#include "output/climada_output.hpp"

#include "output/netcdf_file.hpp"

namespace tarvo {

void write_climada_track(const std::string& dir, const CatalogStorm& storm, std::size_t index,
                         const ForecastRows& rows, const std::string& status) {
  NetcdfFile file(dir + "/" + storm.sid + ".nc");
  const std::size_t m = rows.time.size();
  const int time_dim = file.dimension("time", m);
  const int time = file.variable("time", NC_DOUBLE, {time_dim}, "hours since 1970-01-01 00:00:00");
  file.text(time, "calendar", "standard");
  const int lat = file.variable("lat", NC_DOUBLE, {time_dim}, "degrees_north");
  const int lon = file.variable("lon", NC_DOUBLE, {time_dim}, "degrees_east");
  struct Series {
    const char* name;
    const char* units;
    const std::vector<float>* values;
    int id;
  };
  Series series[] = {{"time_step", "h", &rows.time_step_h, -1},
                     {"radius_max_wind", "nautical_mile", &rows.rmw_nmi, -1},
                     {"max_sustained_wind", "knot", &rows.wind_kt, -1},
                     {"central_pressure", "hPa", &rows.pressure_hpa, -1},
                     {"environmental_pressure", "hPa", &rows.environmental_hpa, -1}};
  for (Series& s : series) {
    s.id = file.variable(s.name, NC_DOUBLE, {time_dim}, s.units);
    file.text(s.id, "coordinates", "lat lon");
  }
  const int basin = file.variable("basin", NC_STRING, {time_dim});
  file.text(basin, "coordinates", "lat lon");
  file.text(NC_GLOBAL, "max_sustained_wind_unit", "kn");
  file.text(NC_GLOBAL, "central_pressure_unit", "mb");
  file.text(NC_GLOBAL, "name", storm.name);
  file.text(NC_GLOBAL, "sid", storm.sid);
  const int ncid = file.id(), flag = 0, category = rows.category;
  file.check(nc_put_att_int(ncid, NC_GLOBAL, "orig_event_flag", NC_INT, 1, &flag), "orig_event_flag");
  file.text(NC_GLOBAL, "data_provider", "tarvo");
  const long long id_no = static_cast<long long>(index) + 1;
  file.check(nc_put_att_longlong(ncid, NC_GLOBAL, "id_no", NC_INT64, 1, &id_no), "id_no");
  file.check(nc_put_att_int(ncid, NC_GLOBAL, "category", NC_INT, 1, &category), "category");
  file.text(NC_GLOBAL, "status", status);
  file.check(nc_enddef(ncid), "definitions");
  if (m > 0) {
    file.check(nc_put_var_double(ncid, time, rows.time.data()), "time");
    file.check(nc_put_var_float(ncid, lat, rows.lat.data()), "lat");  // floats widen exactly
    file.check(nc_put_var_float(ncid, lon, rows.lon.data()), "lon");
    for (const Series& s : series) file.check(nc_put_var_float(ncid, s.id, s.values->data()), s.name);
    std::vector<const char*> basins(m, rows.basin.c_str());
    file.check(nc_put_var_string(ncid, basin, basins.data()), "basin");
  }
  file.finish();
}

}  // namespace tarvo
