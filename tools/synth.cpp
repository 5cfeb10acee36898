// tarvo-synth: writes a complete, plausible case directory in the exact file
// formats of the program's inputs, from a made-up world:
//   DIR/data/bathsmooth2.dat        1440 x 721 little-endian float32 elevation (m)
//   DIR/data/mix01..mix12           monthly mixed-layer depth (m), 180 rows x 360
//   DIR/data/stratnorm01..12        monthly stratification, 180 rows x 360
//   DIR/track.in, DIR/params.in     a storm that crosses open ocean and makes landfall
// and with --public-layouts the same world as the public data sets the
// grids are built from (tarvo-grids build):
//   DIR/sources/elevation_etopo_layout.nc   ETOPO 2022's layout, 10 arc-minutes
//   DIR/sources/woa23_synth_tMM_01.nc       the World Ocean Atlas's monthly temperature files
// The same seed always gives the same bytes.
//   tarvo-synth [--seed N] [--no-grids] DIR
#include <eccodes.h>
#include <netcdf.h>
#include <sys/stat.h>

#include <algorithm>
#include <limits>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "api/catalog.hpp"
#include "ensemble/splitmix64.hpp"

namespace {

constexpr double pi = 3.14159265358979323846;

// The library's deterministic generator, the same on every platform; its
// uniforms in [lo, hi) as the made-up world has always drawn them.
struct Random {
  tarvo::SplitMix64 generator;
  std::uint64_t next() { return generator.next(); }
  double uniform(double lo, double hi) { return lo + (hi - lo) * (next() >> 11) * 0x1.0p-53; }
};

struct Blob {
  double lat, lon, radius;  // degrees
};

// The made-up world: continents are sums of smooth blobs.
struct World {
  std::vector<Blob> blobs;
  double land_score(double lat, double lon) const {
    double f = 0.0;
    for (const Blob& b : blobs) {
      double dlon = std::fabs(lon - b.lon);
      if (dlon > 180.0) dlon = 360.0 - dlon;
      const double dx = dlon * std::cos(lat * pi / 180.0);
      const double dy = lat - b.lat;
      f += std::exp(-(dx * dx + dy * dy) / (b.radius * b.radius));
    }
    return f;
  }
  // Elevation in m: land above the coast line, a continental shelf down to
  // -200 m, then the deep ocean down to -4500 m.
  double elevation(double lat, double lon) const {
    const double f = land_score(lat, lon);
    if (f >= 0.5) return 2500.0 * (f - 0.5);
    if (f >= 0.4) return -20.0 - 1800.0 * (0.5 - f);
    return -200.0 - 4300.0 * std::fmin(1.0, (0.4 - f) / 0.2);
  }
};

World make_world(Random& rnd) {
  World w;
  // A main continent north-west of a warm ocean basin, where storms make landfall.
  w.blobs.push_back({30.0 + rnd.uniform(-2, 2), 258.0 + rnd.uniform(-2, 2), 13.0});
  w.blobs.push_back({45.0, 255.0, 14.0});
  w.blobs.push_back({15.0 + rnd.uniform(-1, 1), 268.0, 6.0});
  // Other land masses.
  w.blobs.push_back({5.0, 20.0, 20.0});
  w.blobs.push_back({40.0, 90.0, 25.0});
  w.blobs.push_back({-25.0, 135.0, 12.0});
  w.blobs.push_back({-15.0, 300.0, 14.0});
  w.blobs.push_back({-80.0, 0.0, 12.0});
  w.blobs.push_back({-80.0, 180.0, 12.0});
  for (int i = 0; i < 4; ++i)
    w.blobs.push_back({rnd.uniform(-50, 60), rnd.uniform(0, 360), rnd.uniform(2, 5)});
  return w;
}

bool make_dir(const std::string& d) { return mkdir(d.c_str(), 0777) == 0 || errno == EEXIST; }

bool write_file(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

bool write_elevation(const std::string& path, const World& w) {
  std::vector<float> grid(1440 * 721);
  for (int jb = 0; jb < 721; ++jb)
    for (int ib = 0; ib < 1440; ++ib)
      grid[jb * 1440 + ib] = static_cast<float>(w.elevation(-90.0 + jb * 0.25, ib * 0.25));
  // Little-endian bytes whatever the machine.
  std::string bytes(grid.size() * 4, '\0');
  for (std::size_t k = 0; k < grid.size(); ++k) {
    std::uint32_t u;
    std::memcpy(&u, &grid[k], 4);
    for (int b = 0; b < 4; ++b) bytes[k * 4 + b] = static_cast<char>((u >> (8 * b)) & 0xFF);
  }
  return write_file(path, bytes);
}

// Writes 180 rows of 360 values, ten values a line.
template <class F>
bool write_monthly(const std::string& path, F value) {
  std::string text;
  text.reserve(180 * 360 * 8);
  char buf[32];
  for (int j = 1; j <= 180; ++j) {
    const double lat = j - 90.501;
    for (int i = 1; i <= 360; ++i) {
      std::snprintf(buf, sizeof buf, "%7.2f", value(lat, static_cast<double>(i)));
      text += buf;
      text += (i % 10 == 0) ? '\n' : ' ';
    }
  }
  return write_file(path, text);
}

// The made-up ocean, month m: winter deepens the mixed layer (m), more so at
// high latitudes; the water below it is most stratified (K per 100 m) in
// the tropics and in summer.
double winter_of(double lat, int m) {
  const double phase = 2.0 * pi * (m - 1) / 12.0 + (lat < 0 ? pi : 0.0);
  return 0.5 + 0.5 * std::cos(phase);
}
double ocean_mld(double lat, double lon, int m) {
  const double polar = std::fmin(std::fabs(lat) / 60.0, 1.0);
  const double v = 18.0 + 25.0 * polar + 95.0 * polar * winter_of(lat, m) +
                   6.0 * std::sin(lon * pi / 45.0) * std::cos(lat * pi / 30.0);
  return std::fmin(150.0, std::fmax(15.0, v));
}
double ocean_strat(double lat, double lon, int m) {
  const double tropical = 1.0 - std::fmin(std::fabs(lat) / 70.0, 1.0);
  return 8.0 + 24.0 * tropical + 5.0 * (1.0 - winter_of(lat, m)) + 2.0 * std::cos(lon * pi / 60.0);
}

struct Fix {
  int t;  // hours from the reference time
  double lat, lon, wind, vpot, shear, t600, rh;
};

struct Storm {
  int month, day, hour;  // the reference time
  std::vector<Fix> fixes;
  double landfall_hours;  // from the first fix's start of its weakening over land
};

// The storm: born over the warm basin, it moves west-north-west and makes
// landfall on the main continent after three to four days.
Storm make_storm(Random& rnd, const World& world) {
  Storm storm;
  storm.month = 8 + static_cast<int>(rnd.next() % 2);
  storm.day = 1 + static_cast<int>(rnd.next() % 28);
  storm.hour = 6 * static_cast<int>(rnd.next() % 4);
  const double lat0 = rnd.uniform(12.0, 17.0), lon0 = rnd.uniform(296.0, 304.0);
  const double target_lat = world.blobs[0].lat - 4.0, target_lon = world.blobs[0].lon + 8.0;
  const int first = -24 - 6 * static_cast<int>(rnd.next() % 3), last = 120;
  const double landfall_hours = rnd.uniform(84.0, 100.0);
  const double peak = rnd.uniform(95.0, 130.0);
  storm.landfall_hours = landfall_hours;
  double hours_over_land = 0.0;  // the storm weakens from the hour it reaches land
  for (int t = first; t <= last; t += 6) {
    const double s = (t - first) / (landfall_hours - first);  // about 1 at landfall
    const double lat = lat0 + (target_lat - lat0) * s + 0.4 * std::sin(s * 3.0);
    double lon = lon0 + (target_lon - lon0) * s;
    if (lon >= 360.0) lon -= 360.0;
    if (world.elevation(lat, lon) > 0.0) hours_over_land += 6.0;
    double wind = 30.0 + (peak - 30.0) * std::fmin(1.0, std::fmax(0.0, (t - first) / 96.0));
    if (hours_over_land > 0) wind = std::fmax(20.0, wind * std::exp(-0.04 * hours_over_land));
    wind += rnd.uniform(-3.0, 3.0);
    const double vpot = 82.0 - 0.35 * (lat - 12.0) * 2.0 + rnd.uniform(-2.0, 2.0);
    const double shear = 4.0 + 6.0 * s + rnd.uniform(-1.5, 1.5);
    const double t600 = 271.5 - 0.1 * (lat - 15.0) + rnd.uniform(-0.4, 0.4);
    const double rh = 60.0 - 8.0 * s + rnd.uniform(-4.0, 4.0);
    storm.fixes.push_back({t, lat, lon, wind, vpot, shear, t600, rh});
  }
  return storm;
}

// ---------------------------------------------------------------- a season

// The made-up world's atmosphere and ocean, smooth in space and time: a
// tropical sounding cooling and drying poleward, trade easterlies below and
// westerlies aloft that strengthen poleward (the shear), waves that travel
// west.
struct Atmosphere {
  const World& world;
  double sea_c(double lat, double lon) const {
    if (world.elevation(lat, lon) > 0.0) return std::numeric_limits<double>::quiet_NaN();
    return 29.5 - 0.012 * (lat - 10.0) * (lat - 10.0) - 0.01 * (lon - 300.0);
  }
  double msl_hpa(double lat, double lon, double hours) const {
    return 1012.0 + 0.004 * (lat - 15.0) * (lat - 15.0) + 1.5 * std::sin(2.0 * pi * hours / 120.0 + lon / 15.0);
  }
  double temperature_k(double p, double lat, double lon) const {
    const double surface = 299.5 - 0.006 * (lat - 12.0) * (lat - 12.0) + 0.3 * std::cos(lon * pi / 40.0);
    if (p >= 100.0) return surface * std::pow(p / 1000.0, 0.18);
    return surface * std::pow(0.1, 0.18) + 10.0 * (100.0 - p) / 50.0;  // the stratosphere warms upward
  }
  double specific_humidity(double p, double lat) const {
    const double surface = 0.018 * std::exp(-0.0015 * (lat - 10.0) * (lat - 10.0));
    return surface * std::pow(p / 1000.0, 3.0) + 2e-6;
  }
  double u_ms(double p, double lat, double lon, double hours) const {
    const double low = -6.0 + 0.3 * (lat - 15.0), high = -2.0 + 0.8 * (lat - 15.0);
    const double x = std::clamp(std::log(850.0 / p) / std::log(850.0 / 200.0), -0.3, 1.3);
    return low + (high - low) * x + 2.0 * std::sin(2.0 * pi * hours / 96.0 + lon * pi / 20.0);
  }
  double v_ms(double p, double lat, double lon, double hours) const {
    return 1.0 + 0.002 * (1000.0 - p) * std::cos(lat * pi / 30.0) + std::cos(2.0 * pi * hours / 96.0 + lon * pi / 25.0);
  }
};

bool nc_ok(int status, const std::string& what) {
  if (status != NC_NOERR) std::fprintf(stderr, "tarvo-synth: %s: %s\n", what.c_str(), nc_strerror(status));
  return status == NC_NOERR;
}

// ERA5's layout, as the Climate Data Store gives it: two files (pressure
// levels and single levels), variables packed as shorts, latitudes from north
// to south, times in seconds since 1970.
bool write_era5(const std::string& dir, const Atmosphere& air, double from_hours, double to_hours) {
  const std::vector<double> levels = {1000, 975, 950, 925, 900, 850, 800, 700, 600, 500, 400, 300, 250, 200, 150, 100, 70, 50};
  std::vector<double> lats, lons, times;
  for (double la = 56.0; la >= -0.001; la -= 2.0) lats.push_back(la);
  for (double lo = 240.0; lo <= 350.001; lo += 2.0) lons.push_back(lo);
  for (double h = from_hours; h <= to_hours + 1e-9; h += 6.0) times.push_back(h);
  const std::size_t nt = times.size(), np = levels.size(), ny = lats.size(), nx = lons.size();
  for (const bool upper : {true, false}) {
    const std::string path = dir + (upper ? "/era5_pl.nc" : "/era5_sl.nc");
    int nc = -1;
    if (!nc_ok(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &nc), path)) return false;
    int dt, dp = -1, dy, dx;
    nc_def_dim(nc, "valid_time", nt, &dt);
    if (upper) nc_def_dim(nc, "pressure_level", np, &dp);
    nc_def_dim(nc, "latitude", ny, &dy);
    nc_def_dim(nc, "longitude", nx, &dx);
    auto text = [&](int v, const char* name, const std::string& value) { nc_put_att_text(nc, v, name, value.size(), value.c_str()); };
    int vt, vp = -1, vy, vx;
    nc_def_var(nc, "valid_time", NC_INT64, 1, &dt, &vt);
    text(vt, "units", "seconds since 1970-01-01");
    text(vt, "calendar", "proleptic_gregorian");
    text(vt, "standard_name", "time");
    if (upper) {
      nc_def_var(nc, "pressure_level", NC_DOUBLE, 1, &dp, &vp);
      text(vp, "units", "hPa");
      text(vp, "standard_name", "air_pressure");
    }
    nc_def_var(nc, "latitude", NC_DOUBLE, 1, &dy, &vy);
    text(vy, "units", "degrees_north");
    nc_def_var(nc, "longitude", NC_DOUBLE, 1, &dx, &vx);
    text(vx, "units", "degrees_east");
    text(NC_GLOBAL, "title", "made up by tarvo-synth in ERA5's layout: not real data");
    struct Var {
      const char* name;
      const char* units;
      const char* standard_name;
      double offset, scale;
      int id;
    };
    std::vector<Var> vars = upper ? std::vector<Var>{{"t", "K", "air_temperature", 250.0, 0.002, -1},
                                                     {"q", "kg kg**-1", "specific_humidity", 0.01, 4e-7, -1},
                                                     {"u", "m s**-1", "eastward_wind", 0.0, 0.002, -1},
                                                     {"v", "m s**-1", "northward_wind", 0.0, 0.002, -1}}
                                  : std::vector<Var>{{"sst", "K", "sea_surface_temperature", 290.0, 0.001, -1},
                                                     {"msl", "Pa", "air_pressure_at_mean_sea_level", 100000.0, 0.1, -1}};
    for (Var& v : vars) {
      std::vector<int> dims = upper ? std::vector<int>{dt, dp, dy, dx} : std::vector<int>{dt, dy, dx};
      nc_def_var(nc, v.name, NC_SHORT, static_cast<int>(dims.size()), dims.data(), &v.id);
      const std::size_t chunk[] = {1, upper ? np : ny, upper ? ny : nx, nx};
      nc_def_var_chunking(nc, v.id, NC_CHUNKED, chunk);
      nc_def_var_deflate(nc, v.id, 1, 1, 1);
      const short fill = -32767;
      nc_def_var_fill(nc, v.id, NC_FILL, &fill);
      nc_put_att_double(nc, v.id, "scale_factor", NC_DOUBLE, 1, &v.scale);
      nc_put_att_double(nc, v.id, "add_offset", NC_DOUBLE, 1, &v.offset);
      text(v.id, "units", v.units);
      text(v.id, "standard_name", v.standard_name);
    }
    if (!nc_ok(nc_enddef(nc), path)) return false;
    std::vector<long long> seconds(nt);
    for (std::size_t k = 0; k < nt; ++k) seconds[k] = static_cast<long long>(times[k] * 3600.0);
    nc_put_var_longlong(nc, vt, seconds.data());
    if (upper) nc_put_var_double(nc, vp, levels.data());
    nc_put_var_double(nc, vy, lats.data());
    nc_put_var_double(nc, vx, lons.data());
    std::vector<short> slab;
    for (std::size_t k = 0; k < nt; ++k)
      for (const Var& v : vars) {
        const std::size_t levels_here = upper ? np : 1;
        slab.assign(levels_here * ny * nx, 0);
        for (std::size_t l = 0; l < levels_here; ++l)
          for (std::size_t j = 0; j < ny; ++j)
            for (std::size_t i = 0; i < nx; ++i) {
              const double p = levels[l], la = lats[j], lo = lons[i], h = times[k];
              double x = 0.0;
              const std::string name = v.name;
              if (name == "t") x = air.temperature_k(p, la, lo);
              else if (name == "q") x = air.specific_humidity(p, la);
              else if (name == "u") x = air.u_ms(p, la, lo, h);
              else if (name == "v") x = air.v_ms(p, la, lo, h);
              else if (name == "sst") x = air.sea_c(la, lo) + 273.15;
              else x = 100.0 * air.msl_hpa(la, lo, h);
              slab[(l * ny + j) * nx + i] = std::isfinite(x) ? static_cast<short>(std::lround((x - v.offset) / v.scale)) : -32767;
            }
        const std::size_t start[] = {k, 0, 0, 0}, count[] = {1, upper ? np : ny, upper ? ny : nx, nx};
        if (!nc_ok(nc_put_vara_short(nc, v.id, start, count, slab.data()), path)) return false;
      }
    if (!nc_ok(nc_close(nc), path)) return false;
  }
  return true;
}

// A monthly climatology in CMIP's layout: one file, plev in Pa, latitudes
// from south to north, 0..360 E, tos in degrees Celsius, psl in Pa, a
// calendar of 365 days.
// A warmer climate of the made-up world: `surface_k` at the sea and the
// surface, more aloft as a moist adiabat has it (twice that at 300 hPa,
// back to it at 100 hPa), the specific humidity 7 % higher a kelvin of
// warming (its relative humidity about kept).
struct Warming {
  double surface_k = 0.0;
  double at(double p_hpa) const {
    const double x = p_hpa >= 300.0 ? (1000.0 - p_hpa) / 700.0 : std::fmax(0.0, (p_hpa - 100.0) / 200.0);
    return surface_k * (1.0 + x);
  }
  double humidity_factor(double p_hpa) const { return std::pow(1.07, at(p_hpa)); }
};

bool write_cmip_climatology(const std::string& path, const Atmosphere& air, const Warming& warming = {}) {
  const std::vector<double> levels = {100000, 92500, 85000, 70000, 60000, 50000, 40000, 30000, 25000, 20000, 15000, 10000, 7000, 5000};
  std::vector<double> lats, lons;
  for (double la = -88.0; la <= 88.001; la += 4.0) lats.push_back(la);
  for (double lo = 0.0; lo < 360.0; lo += 4.0) lons.push_back(lo);
  const std::size_t np = levels.size(), ny = lats.size(), nx = lons.size();
  int nc = -1;
  if (!nc_ok(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &nc), path)) return false;
  int dt, dp, dy, dx, vt, vp, vy, vx;
  nc_def_dim(nc, "time", 12, &dt);
  nc_def_dim(nc, "plev", np, &dp);
  nc_def_dim(nc, "lat", ny, &dy);
  nc_def_dim(nc, "lon", nx, &dx);
  auto text = [&](int v, const char* name, const std::string& value) { nc_put_att_text(nc, v, name, value.size(), value.c_str()); };
  nc_def_var(nc, "time", NC_DOUBLE, 1, &dt, &vt);
  text(vt, "units", "days since 1850-01-01");
  text(vt, "calendar", "noleap");
  nc_def_var(nc, "plev", NC_DOUBLE, 1, &dp, &vp);
  text(vp, "units", "Pa");
  nc_def_var(nc, "lat", NC_DOUBLE, 1, &dy, &vy);
  text(vy, "units", "degrees_north");
  nc_def_var(nc, "lon", NC_DOUBLE, 1, &dx, &vx);
  text(vx, "units", "degrees_east");
  text(NC_GLOBAL, "title", "made up by tarvo-synth in CMIP's layout: a monthly climatology, not real data");
  const char* names[] = {"ta", "hus", "ua", "va", "tos", "psl"};
  const char* units[] = {"K", "1", "m s-1", "m s-1", "degC", "Pa"};
  int ids[6];
  for (int k = 0; k < 6; ++k) {
    const int dims4[] = {dt, dp, dy, dx}, dims3[] = {dt, dy, dx};
    nc_def_var(nc, names[k], NC_FLOAT, k < 4 ? 4 : 3, k < 4 ? dims4 : dims3, &ids[k]);
    const float fill = 1e20f;
    nc_def_var_fill(nc, ids[k], NC_FILL, &fill);
    nc_def_var_deflate(nc, ids[k], 1, 1, 1);
    text(ids[k], "units", units[k]);
  }
  if (!nc_ok(nc_enddef(nc), path)) return false;
  std::vector<double> days(12);
  constexpr int month_days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  double day = 155.0 * 365.0;  // 2005-01-01 in a calendar of 365 days from 1850
  for (int m = 0; m < 12; ++m) {
    days[m] = day + 0.5 * month_days[m];
    day += month_days[m];
  }
  nc_put_var_double(nc, vt, days.data());
  nc_put_var_double(nc, vp, levels.data());
  nc_put_var_double(nc, vy, lats.data());
  nc_put_var_double(nc, vx, lons.data());
  std::vector<float> slab;
  for (std::size_t m = 0; m < 12; ++m) {
    const double season = std::cos(2.0 * pi * (static_cast<double>(m) - 7.5) / 12.0);  // warmest in late summer
    for (int k = 0; k < 6; ++k) {
      const std::size_t nl = k < 4 ? np : 1;
      slab.assign(nl * ny * nx, 1e20f);
      for (std::size_t l = 0; l < nl; ++l)
        for (std::size_t j = 0; j < ny; ++j)
          for (std::size_t i = 0; i < nx; ++i) {
            const double p = levels[l] / 100.0, la = lats[j], lo = lons[i], h = 0.0;
            double x = 0.0;
            switch (k) {
              case 0: x = air.temperature_k(p, la, lo) - 1.0 + season + warming.at(p); break;
              case 1: x = air.specific_humidity(p, la) * warming.humidity_factor(p); break;
              case 2: x = air.u_ms(p, la, lo, h); break;
              case 3: x = air.v_ms(p, la, lo, h); break;
              case 4: x = air.sea_c(la, lo) - 1.0 + season + warming.surface_k; break;
              default: x = 100.0 * air.msl_hpa(la, lo, h); break;
            }
            if (std::isfinite(x)) slab[(l * ny + j) * nx + i] = static_cast<float>(x);
          }
      const std::size_t start[] = {m, 0, 0, 0}, count4[] = {1, np, ny, nx}, count3[] = {1, ny, nx};
      if (!nc_ok(nc_put_vara_float(nc, ids[k], start, k < 4 ? count4 : count3, slab.data()), path)) return false;
    }
  }
  return nc_ok(nc_close(nc), path);
}

// ---------------------------------------------------- public layouts

// The made-up world in the layouts of the public data sets the ocean grids
// are built from (tarvo-grids build): its elevation as ETOPO 2022 gives it
// (z(lat, lon) in m, cell-centred, rows from the south, longitudes
// -180..180; here at 10 arc-minutes rather than 60 seconds), and its ocean
// as the World Ocean Atlas's twelve monthly 1-degree temperature files
// (t_an(time, depth, lat, lon) on WOA's 57 levels from 0 to 1500 m,
// degrees Celsius, cells centred on half degrees, land and the sea floor
// missing). Each profile is mixed down to a depth, then cools at a
// gradient: built from these, the grids give back the made-up mixed layer.
bool write_public_layouts(const std::string& dir, const World& world) {
  if (!make_dir(dir)) {
    std::fprintf(stderr, "tarvo-synth: cannot create %s\n", dir.c_str());
    return false;
  }
  const Atmosphere air{world};
  auto text = [](int nc, int v, const char* name, const std::string& value) {
    nc_put_att_text(nc, v, name, value.size(), value.c_str());
  };
  {
    const std::string path = dir + "/elevation_etopo_layout.nc";
    constexpr int per_degree = 6, ny = 180 * per_degree, nx = 360 * per_degree;
    int nc = -1, dy, dx, vy, vx, vz;
    if (!nc_ok(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &nc), path)) return false;
    nc_def_dim(nc, "lat", ny, &dy);
    nc_def_dim(nc, "lon", nx, &dx);
    nc_def_var(nc, "lat", NC_DOUBLE, 1, &dy, &vy);
    text(nc, vy, "standard_name", "latitude");
    text(nc, vy, "units", "degrees_north");
    nc_def_var(nc, "lon", NC_DOUBLE, 1, &dx, &vx);
    text(nc, vx, "standard_name", "longitude");
    text(nc, vx, "units", "degrees_east");
    const int dims[] = {dy, dx};
    nc_def_var(nc, "z", NC_FLOAT, 2, dims, &vz);
    const std::size_t chunk[] = {1, static_cast<std::size_t>(nx)};
    nc_def_var_chunking(nc, vz, NC_CHUNKED, chunk);
    nc_def_var_deflate(nc, vz, 1, 1, 1);
    text(nc, vz, "units", "m");
    text(nc, vz, "long_name", "z");
    text(nc, NC_GLOBAL, "title", "made up by tarvo-synth in ETOPO 2022's layout (surface elevation): not real data");
    if (!nc_ok(nc_enddef(nc), path)) return false;
    std::vector<double> lat(ny), lon(nx);
    for (int j = 0; j < ny; ++j) lat[j] = -90.0 + (j + 0.5) / per_degree;
    for (int i = 0; i < nx; ++i) lon[i] = -180.0 + (i + 0.5) / per_degree;
    nc_put_var_double(nc, vy, lat.data());
    nc_put_var_double(nc, vx, lon.data());
    std::vector<float> row(nx);
    for (int j = 0; j < ny; ++j) {
      for (int i = 0; i < nx; ++i) row[i] = static_cast<float>(world.elevation(lat[j], lon[i] < 0.0 ? lon[i] + 360.0 : lon[i]));
      const std::size_t start[] = {static_cast<std::size_t>(j), 0}, count[] = {1, static_cast<std::size_t>(nx)};
      if (!nc_ok(nc_put_vara_float(nc, vz, start, count, row.data()), path)) return false;
    }
    if (!nc_ok(nc_close(nc), path)) return false;
  }
  std::vector<float> depths;
  for (int z = 0; z < 100; z += 5) depths.push_back(static_cast<float>(z));
  for (int z = 100; z < 500; z += 25) depths.push_back(static_cast<float>(z));
  for (int z = 500; z <= 1500; z += 50) depths.push_back(static_cast<float>(z));
  const std::size_t nz = depths.size();
  const float fill = 9.96921e+36f;
  for (int m = 1; m <= 12; ++m) {
    char name[64];
    std::snprintf(name, sizeof name, "/woa23_synth_t%02d_01.nc", m);
    const std::string path = dir + name;
    int nc = -1, dt, dz, dy, dx, db, vt, vz, vy, vx, vb, vyb, vxb, vzb, vta;
    if (!nc_ok(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &nc), path)) return false;
    nc_def_dim(nc, "lat", 180, &dy);
    nc_def_dim(nc, "nbounds", 2, &db);
    nc_def_dim(nc, "lon", 360, &dx);
    nc_def_dim(nc, "depth", nz, &dz);
    nc_def_dim(nc, "time", 1, &dt);
    nc_def_var(nc, "lat", NC_FLOAT, 1, &dy, &vy);
    text(nc, vy, "standard_name", "latitude");
    text(nc, vy, "units", "degrees_north");
    text(nc, vy, "bounds", "lat_bnds");
    const int yb[] = {dy, db}, xb[] = {dx, db}, zb[] = {dz, db}, tb[] = {dt, db};
    nc_def_var(nc, "lat_bnds", NC_FLOAT, 2, yb, &vyb);
    nc_def_var(nc, "lon", NC_FLOAT, 1, &dx, &vx);
    text(nc, vx, "standard_name", "longitude");
    text(nc, vx, "units", "degrees_east");
    text(nc, vx, "bounds", "lon_bnds");
    nc_def_var(nc, "lon_bnds", NC_FLOAT, 2, xb, &vxb);
    nc_def_var(nc, "depth", NC_FLOAT, 1, &dz, &vz);
    text(nc, vz, "standard_name", "depth");
    text(nc, vz, "units", "meters");
    text(nc, vz, "positive", "down");
    text(nc, vz, "bounds", "depth_bnds");
    nc_def_var(nc, "depth_bnds", NC_FLOAT, 2, zb, &vzb);
    nc_def_var(nc, "time", NC_FLOAT, 1, &dt, &vt);
    text(nc, vt, "standard_name", "time");
    text(nc, vt, "units", "months since 1991-01-01 00:00:00");
    text(nc, vt, "climatology", "climatology_bounds");
    nc_def_var(nc, "climatology_bounds", NC_FLOAT, 2, tb, &vb);
    const int dims[] = {dt, dz, dy, dx};
    nc_def_var(nc, "t_an", NC_FLOAT, 4, dims, &vta);
    nc_def_var_fill(nc, vta, NC_FILL, &fill);
    nc_def_var_deflate(nc, vta, 1, 1, 1);
    text(nc, vta, "standard_name", "sea_water_temperature");
    text(nc, vta, "long_name", "Objectively analyzed mean fields for sea_water_temperature at standard depth levels.");
    text(nc, vta, "units", "degrees_celsius");
    text(nc, NC_GLOBAL, "title", "made up by tarvo-synth in the World Ocean Atlas 2023 layout: not real data");
    if (!nc_ok(nc_enddef(nc), path)) return false;
    std::vector<float> lat(180), lon(360), latb(360), lonb(720), zb2(2 * nz);
    for (int j = 0; j < 180; ++j) {
      lat[j] = -89.5f + j;
      latb[2 * j] = -90.0f + j;
      latb[2 * j + 1] = -89.0f + j;
    }
    for (int i = 0; i < 360; ++i) {
      lon[i] = -179.5f + i;
      lonb[2 * i] = -180.0f + i;
      lonb[2 * i + 1] = -179.0f + i;
    }
    for (std::size_t k = 0; k < nz; ++k) {
      zb2[2 * k] = k == 0 ? 0.0f : 0.5f * (depths[k - 1] + depths[k]);
      zb2[2 * k + 1] = k + 1 < nz ? 0.5f * (depths[k] + depths[k + 1]) : depths[k];
    }
    const float t = static_cast<float>(m) - 0.5f, tbnd[] = {static_cast<float>(m - 1), static_cast<float>(359 + m)};
    nc_put_var_float(nc, vy, lat.data());
    nc_put_var_float(nc, vyb, latb.data());
    nc_put_var_float(nc, vx, lon.data());
    nc_put_var_float(nc, vxb, lonb.data());
    nc_put_var_float(nc, vz, depths.data());
    nc_put_var_float(nc, vzb, zb2.data());
    nc_put_var_float(nc, vt, &t);
    nc_put_var_float(nc, vb, tbnd);
    const double season = std::cos(2.0 * pi * (static_cast<double>(m - 1) - 7.5) / 12.0);
    std::vector<float> field(nz * 180 * 360, fill);
    for (int j = 0; j < 180; ++j)
      for (int i = 0; i < 360; ++i) {
        const double la = lat[j], lo = lon[i] < 0.0f ? lon[i] + 360.0 : lon[i];
        const double floor = -world.elevation(la, lo);  // the water's depth, m
        if (floor <= 0.0) continue;
        const double sea = std::fmax(0.0, std::isfinite(air.sea_c(la, lo)) ? air.sea_c(la, lo) - 1.0 + season : 28.0);
        // Mixed down to h, then cooling at g (K per m) to -1.8 C: the 0.2 K
        // criterion finds the made-up mixed layer, and the gradient below it
        // is the made-up one scaled to a real ocean's (at most about 15 K per
        // 100 m in the tropical thermocline).
        const double g = 0.4 * ocean_strat(la, lo, m) / 100.0, h = ocean_mld(la, lo, m) - 0.2 / g;
        for (std::size_t k = 0; k < nz; ++k) {
          if (depths[k] > floor) break;
          const double below = std::fmax(0.0, depths[k] - h);
          field[(k * 180 + static_cast<std::size_t>(j)) * 360 + static_cast<std::size_t>(i)] =
              static_cast<float>(std::fmax(-1.8, sea - g * below));
        }
      }
    const std::size_t start[] = {0, 0, 0, 0}, count[] = {1, nz, 180, 360};
    if (!nc_ok(nc_put_vara_float(nc, vta, start, count, field.data()), path)) return false;
    if (!nc_ok(nc_close(nc), path)) return false;
  }
  return true;
}

// A season of storms of the made-up world: their best track in HURDAT2's
// format (with a landfall fix off the hour, as NHC writes them) and the
// environment fields of the season in ERA5's layout (and, asked for, a
// monthly climatology in CMIP's).
int write_season(const std::string& dir, const World& world, std::uint64_t seed, int storms, bool monthly) {
  const Atmosphere air{world};
  const char* names[] = {"ALPHA", "BRAVO", "CHARLIE", "DELTA", "ECHO", "FOXTROT", "GOLF", "HOTEL", "INDIA", "JULIETT"};
  std::string hurdat;
  double from = 1e18, to = -1e18;
  for (int k = 0; k < storms; ++k) {
    Random rnd{seed + static_cast<std::uint64_t>(k)};
    const Storm s = make_storm(rnd, world);
    // A storm every four days from mid-August 2005.
    const double reference = static_cast<double>(tarvo::hours_since_1970(2005, 8, 16, 0) + 96 * k) + s.hour;
    std::vector<std::string> lines;
    bool landed = false;
    char buf[256];
    for (std::size_t i = 0; i < s.fixes.size(); ++i) {
      const Fix& f = s.fixes[i];
      auto line = [&](double hours, double lat, double lon, double wind, char record) {
        const long long minutes = std::llround(hours * 60.0);
        int y, m, d, h;
        tarvo::date_of_hours_since_1970(minutes / 1440 * 24, y, m, d, h);
        const int hhmm = static_cast<int>(minutes % 1440 / 60 * 100 + minutes % 60);
        const double w = std::round(wind / 5.0) * 5.0;
        const double pres = 1010.0 - std::pow(std::fmax(w, 15.0) / 6.7, 1.0 / 0.644);
        const double west = 360.0 - lon;
        std::snprintf(buf, sizeof buf,
                      "%04d%02d%02d, %04d, %c, %s, %4.1fN, %5.1fW, %3.0f, %4.0f, -999, -999, -999, -999, -999, -999, "
                      "-999, -999, -999, -999, -999, -999, -999,",
                      y, m, d, hhmm, record, w >= 64 ? "HU" : w >= 34 ? "TS" : "TD", lat, west, w, pres);
        lines.push_back(buf);
      };
      const double hours = reference + f.t;
      from = std::fmin(from, hours);
      to = std::fmax(to, hours);
      line(hours, f.lat, f.lon, f.wind, ' ');
      // Landfall, half an hour past a whole hour between two fixes.
      if (!landed && i + 1 < s.fixes.size() && world.elevation(s.fixes[i + 1].lat, s.fixes[i + 1].lon) > 0.0 &&
          world.elevation(f.lat, f.lon) <= 0.0) {
        landed = true;
        const Fix& g = s.fixes[i + 1];
        line(hours + 3.5, 0.5 * (f.lat + g.lat), 0.5 * (f.lon + g.lon), 0.5 * (f.wind + g.wind), 'L');
      }
    }
    std::snprintf(buf, sizeof buf, "AL%02d2005, %18s, %5zu,\n", k + 1, names[k % 10], lines.size());
    hurdat += buf;
    for (const std::string& l : lines) hurdat += l + "\n";
  }
  if (!write_file(dir + "/besttrack.txt", hurdat)) {
    std::fprintf(stderr, "tarvo-synth: cannot write %s/besttrack.txt\n", dir.c_str());
    return 2;
  }
  const std::string fields = dir + "/fields";
  if (!make_dir(fields) || !write_era5(fields, air, std::floor(from / 6.0) * 6.0 - 6.0, std::ceil(to / 6.0) * 6.0 + 6.0))
    return 2;
  if (monthly && !write_cmip_climatology(fields + "/cmip_monthly.nc", air)) return 2;
  return 0;
}

// ------------------------------------------------------------ a risk set

// A track as CLIMADA's TCTracks.write_netcdf writes it (xarray's encoding):
// dimension time; time int64 in hours since the first, lat and lon (-180..180)
// doubles with a NaN fill, the series as doubles with "coordinates", basin
// strings; the per-track items as attributes.
bool write_climada_track(const std::string& path, const std::string& sid, const std::string& name, int orig,
                         double id_no, double first_hours, const std::vector<Fix>& fixes) {
  int nc = -1;
  if (!nc_ok(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &nc), path)) return false;
  const std::size_t n = fixes.size();
  int dt;
  nc_def_dim(nc, "time", n, &dt);
  auto text = [&](int v, const char* key, const std::string& value) { nc_put_att_text(nc, v, key, value.size(), value.c_str()); };
  const double nan = std::nan("");
  auto series = [&](const char* key, bool coordinates) {
    int v;
    nc_def_var(nc, key, NC_DOUBLE, 1, &dt, &v);
    nc_put_att_double(nc, v, "_FillValue", NC_DOUBLE, 1, &nan);
    if (coordinates) text(v, "coordinates", "lat lon");
    return v;
  };
  const int v_step = series("time_step", true), v_rmw = series("radius_max_wind", true),
            v_wind = series("max_sustained_wind", true), v_pres = series("central_pressure", true),
            v_env = series("environmental_pressure", true);
  int v_basin, v_time;
  nc_def_var(nc, "basin", NC_STRING, 1, &dt, &v_basin);
  text(v_basin, "coordinates", "lat lon");
  nc_def_var(nc, "time", NC_INT64, 1, &dt, &v_time);
  int y, m, d, h;
  tarvo::date_of_hours_since_1970(static_cast<long long>(first_hours), y, m, d, h);
  char units[64];
  std::snprintf(units, sizeof units, "hours since %04d-%02d-%02d %02d:00:00", y, m, d, h);
  text(v_time, "units", units);
  text(v_time, "calendar", "proleptic_gregorian");
  const int v_lat = series("lat", false), v_lon = series("lon", false);
  text(NC_GLOBAL, "max_sustained_wind_unit", "kn");
  text(NC_GLOBAL, "central_pressure_unit", "mb");
  text(NC_GLOBAL, "name", name);
  text(NC_GLOBAL, "sid", sid);
  const long long flag = orig;
  nc_put_att_longlong(nc, NC_GLOBAL, "orig_event_flag", NC_INT64, 1, &flag);
  text(NC_GLOBAL, "data_provider", "tarvo-synth (made up, not real data)");
  if (orig) {
    const long long id = static_cast<long long>(id_no);
    nc_put_att_longlong(nc, NC_GLOBAL, "id_no", NC_INT64, 1, &id);
  } else {
    nc_put_att_double(nc, NC_GLOBAL, "id_no", NC_DOUBLE, 1, &id_no);
  }
  double peak = 0.0;
  for (const Fix& f : fixes) peak = std::fmax(peak, f.wind);
  const long long category = peak >= 137 ? 5 : peak >= 113 ? 4 : peak >= 96 ? 3 : peak >= 83 ? 2 : peak >= 64 ? 1
                             : peak >= 34 ? 0 : -1;
  nc_put_att_longlong(nc, NC_GLOBAL, "category", NC_INT64, 1, &category);
  if (!nc_ok(nc_enddef(nc), path)) return false;
  std::vector<double> step(n), rmw(n, 30.0), wind(n), pres(n), env(n, 1010.0), lat(n), lon(n);
  std::vector<long long> time(n);
  std::vector<const char*> basin(n, "NA");
  for (std::size_t k = 0; k < n; ++k) {
    const Fix& f = fixes[k];
    step[k] = k + 1 < n ? fixes[k + 1].t - f.t : (n > 1 ? f.t - fixes[k - 1].t : 6.0);
    wind[k] = std::round(f.wind);
    pres[k] = std::round(1010.0 - std::pow(std::fmax(wind[k], 15.0) / 6.7, 1.0 / 0.644));
    lat[k] = f.lat;
    lon[k] = f.lon > 180.0 ? f.lon - 360.0 : f.lon;
    time[k] = f.t - fixes.front().t;
  }
  nc_put_var_double(nc, v_step, step.data());
  nc_put_var_double(nc, v_rmw, rmw.data());
  nc_put_var_double(nc, v_wind, wind.data());
  nc_put_var_double(nc, v_pres, pres.data());
  nc_put_var_double(nc, v_env, env.data());
  nc_put_var_string(nc, v_basin, basin.data());
  nc_put_var_longlong(nc, v_time, time.data());
  nc_put_var_double(nc, v_lat, lat.data());
  nc_put_var_double(nc, v_lon, lon.data());
  return nc_ok(nc_close(nc), path);
}

// A set of synthetic storms as a risk study has them, in CLIMADA's layout
// of a file a track (DIR/climada/<sid>.nc: originals and the members
// CLIMADA's calc_perturbed_trajectories makes of them, sid <sid>_genK,
// orig_event_flag 0, id_no plus K/100), and the environment of two
// climates as CMIP-layout monthly climatologies (DIR/fields/present.nc, and
// future.nc 2 K warmer at the surface, more aloft).
int write_risk_set(const std::string& dir, const World& world, std::uint64_t seed, int storms) {
  const Atmosphere air{world};
  const std::string folder = dir + "/climada", fields = dir + "/fields";
  if (!make_dir(folder) || !make_dir(fields)) {
    std::fprintf(stderr, "tarvo-synth: cannot create %s\n", folder.c_str());
    return 2;
  }
  constexpr int members = 3;  // perturbed tracks of each original
  int written = 0;
  for (int k = 0; written < storms; ++k) {
    Random rnd{seed * 1000 + static_cast<std::uint64_t>(k)};
    const Storm s = make_storm(rnd, world);
    std::vector<Fix> fixes;
    for (const Fix& f : s.fixes)
      if (f.t <= 72) fixes.push_back(f);  // a day of history, three days after
    const double first = static_cast<double>(tarvo::hours_since_1970(2001, s.month, s.day, s.hour)) + fixes.front().t;
    char sid[32];
    std::snprintf(sid, sizeof sid, "SYN%04d", k + 1);
    if (!write_climada_track(folder + "/" + sid + ".nc", sid, sid, 1, k + 1, first, fixes)) return 2;
    ++written;
    for (int g = 1; g <= members && written < storms; ++g) {
      // CLIMADA's perturbation: the same storm displaced by a random walk.
      std::vector<Fix> moved = fixes;
      double dlat = rnd.uniform(-0.5, 0.5), dlon = rnd.uniform(-0.5, 0.5);
      for (Fix& f : moved) {
        dlat += rnd.uniform(-0.15, 0.15);
        dlon += rnd.uniform(-0.15, 0.15);
        f.lat += dlat;
        f.lon += dlon;
      }
      const std::string member = std::string(sid) + "_gen" + std::to_string(g);
      if (!write_climada_track(folder + "/" + member + ".nc", member, member, 0, k + 1 + g / 100.0, first, moved))
        return 2;
      ++written;
    }
  }
  if (!write_cmip_climatology(fields + "/present.nc", air) ||
      !write_cmip_climatology(fields + "/future.nc", air, Warming{2.0}))
    return 2;
  std::printf("%d tracks in %s, two climates in %s\n", written, folder.c_str(), fields.c_str());
  return 0;
}

}  // namespace

// ------------------------------------------------------ forecast cycles

// One GRIB2 message of GFS's 1-degree layout (from the north, 0..359 E):
// values [lat][lon] in that order, 12 bits.
bool add_gfs_message(std::string& file, const char* sample, const char* name, const char* level_type, long level,
                     long date, long hour, long step, const std::vector<double>& values) {
  codes_handle* h = codes_grib_handle_new_from_samples(nullptr, sample);
  if (!h) return false;
  bool ok = codes_set_long(h, "centre", 7) == 0 && codes_set_string(h, "shortName", name, nullptr) == 0 &&
            codes_set_string(h, "typeOfLevel", level_type, nullptr) == 0 && codes_set_long(h, "level", level) == 0 &&
            codes_set_long(h, "dataDate", date) == 0 && codes_set_long(h, "dataTime", hour * 100) == 0 &&
            codes_set_long(h, "stepUnits", 1) == 0 && codes_set_long(h, "forecastTime", step) == 0 &&
            codes_set_long(h, "Ni", 360) == 0 && codes_set_long(h, "Nj", 181) == 0 &&
            codes_set_double(h, "latitudeOfFirstGridPointInDegrees", 90.0) == 0 &&
            codes_set_double(h, "longitudeOfFirstGridPointInDegrees", 0.0) == 0 &&
            codes_set_double(h, "latitudeOfLastGridPointInDegrees", -90.0) == 0 &&
            codes_set_double(h, "longitudeOfLastGridPointInDegrees", 359.0) == 0 &&
            codes_set_double(h, "iDirectionIncrementInDegrees", 1.0) == 0 &&
            codes_set_double(h, "jDirectionIncrementInDegrees", 1.0) == 0 && codes_set_long(h, "jScansPositively", 0) == 0 &&
            codes_set_long(h, "bitsPerValue", 12) == 0 &&
            codes_set_double_array(h, "values", values.data(), values.size()) == 0;
  const void* message = nullptr;
  std::size_t size = 0;
  ok = ok && codes_get_message(h, &message, &size) == 0;
  if (ok) file.append(static_cast<const char*>(message), size);
  codes_handle_delete(h);
  return ok;
}

// A GFS file of the made-up world's atmosphere at one cycle and step, as
// NOMADS names them: gfs.YYYYMMDD/HH/atmos/gfs.tHHz.pgrb2.1p00.fFFF.
bool write_gfs_file(const std::string& dir, const Atmosphere& air, const World& world, double cycle_hours, int step) {
  int y, m, d, h;
  tarvo::date_of_hours_since_1970(static_cast<long long>(cycle_hours), y, m, d, h);
  char folder[64], name[64];
  std::snprintf(folder, sizeof folder, "/gfs.%04d%02d%02d", y, m, d);
  std::snprintf(name, sizeof name, "/%02d/atmos", h);
  const std::string path_dir = dir + folder;
  if (!make_dir(path_dir) || !make_dir(path_dir + std::string(name).substr(0, 3)) || !make_dir(path_dir + name)) return false;
  std::snprintf(folder, sizeof folder, "/gfs.t%02dz.pgrb2.1p00.f%03d", h, step);
  const std::string path = path_dir + name + folder;
  const long date = y * 10000L + m * 100L + d;
  const double hours = cycle_hours + step;
  std::vector<double> v(181 * 360);
  std::string file;
  auto field = [&](auto f) {
    for (int j = 0; j < 181; ++j)
      for (int i = 0; i < 360; ++i) v[static_cast<std::size_t>(j * 360 + i)] = f(90.0 - j, static_cast<double>(i));
  };
  const double levels[] = {1000, 975, 950, 925, 900, 850, 800, 750, 700, 650, 600, 550, 500,
                           450,  400, 350, 300, 250, 200, 150, 100, 70,  50,  30,  10};
  const double season = std::cos(2.0 * pi * (static_cast<double>(m - 1) - 7.5) / 12.0);
  for (const double p : levels) {
    field([&](double la, double lo) { return air.temperature_k(p, la, lo) - 1.0 + season; });
    if (!add_gfs_message(file, "regular_ll_pl_grib2", "t", "isobaricInhPa", static_cast<long>(p), date, h, step, v)) return false;
    field([&](double la, double) { return air.specific_humidity(p, la); });
    if (!add_gfs_message(file, "regular_ll_pl_grib2", "q", "isobaricInhPa", static_cast<long>(p), date, h, step, v)) return false;
    field([&](double la, double lo) { return air.u_ms(p, la, lo, hours); });
    if (!add_gfs_message(file, "regular_ll_pl_grib2", "u", "isobaricInhPa", static_cast<long>(p), date, h, step, v)) return false;
    field([&](double la, double lo) { return air.v_ms(p, la, lo, hours); });
    if (!add_gfs_message(file, "regular_ll_pl_grib2", "v", "isobaricInhPa", static_cast<long>(p), date, h, step, v)) return false;
  }
  field([&](double la, double lo) { return 100.0 * air.msl_hpa(la, lo, hours); });
  if (!add_gfs_message(file, "regular_ll_sfc_grib2", "prmsl", "meanSea", 0, date, h, step, v)) return false;
  // The surface: the sea's temperature over the sea, the land's (warmer) over land, as GFS's t at the surface.
  field([&](double la, double lo) {
    const double sea = air.sea_c(la, lo);
    return std::isfinite(sea) ? sea - 1.0 + season + 273.15 : 303.0;
  });
  if (!add_gfs_message(file, "regular_ll_sfc_grib2", "t", "surface", 0, date, h, step, v)) return false;
  field([&](double la, double lo) { return world.elevation(la, lo) > 0.0 ? 1.0 : 0.0; });
  if (!add_gfs_message(file, "regular_ll_sfc_grib2", "lsm", "surface", 0, date, h, step, v)) return false;
  field([&](double la, double) { return std::fabs(la) > 70.0 ? 1.0 : 0.0; });
  if (!add_gfs_message(file, "regular_ll_sfc_grib2", "ci", "surface", 0, date, h, step, v)) return false;
  return write_file(path, file);
}

// A storm's ATCF decks and its GFS fields for forecast cycles every 6 h:
// DIR/bal012005.dat (the best track, BEST lines with the system's kind),
// DIR/aal012005.dat (CARQ -24..0 and OFCL's TAUs 0, 3, 12, ..., 120 at every
// cycle, with AVNO and SHIP as two other aids), and DIR/gfs/ (the first
// `cycles` cycles' forecasts every 12 h to 120 h, and the analyses of the
// day before the first of them).
int write_forecast_case(const std::string& dir, const World& world, std::uint64_t seed, int cycles) {
  const Atmosphere air{world};
  Random rnd{seed};
  const Storm s = make_storm(rnd, world);
  const double reference = static_cast<double>(tarvo::hours_since_1970(2005, 8, 16, 0)) + s.hour;
  auto at = [&](double t, double Fix::*member) {  // the storm linear in time between its fixes
    const std::vector<Fix>& f = s.fixes;
    if (t <= f.front().t) return f.front().*member;
    for (std::size_t k = 1; k < f.size(); ++k)
      if (t <= f[k].t) {
        const double w = (t - f[k - 1].t) / (f[k].t - f[k - 1].t);
        return f[k - 1].*member + w * (f[k].*member - f[k - 1].*member);
      }
    return f.back().*member;
  };
  auto ll = [](double lat, double lon, char* out) {
    const double west = 360.0 - lon;
    std::sprintf(out, "%3.0f%c, %4.0f%c", std::fabs(lat) * 10.0, lat < 0 ? 'S' : 'N', west * 10.0, 'W');
  };
  auto dtg = [&](double t) {
    int y, m, d, h;
    tarvo::date_of_hours_since_1970(static_cast<long long>(reference + t), y, m, d, h);
    char b[16];
    std::snprintf(b, sizeof b, "%04d%02d%02d%02d", y, m, d, h);
    return std::string(b);
  };
  std::string best, adeck;
  char pos[32], line[300];
  for (const Fix& f : s.fixes) {
    const double w = std::round(f.wind / 5.0) * 5.0;
    const char* kind = f.t >= s.fixes.back().t - 6 ? "LO" : w >= 64 ? "HU" : w >= 34 ? "TS" : "TD";
    ll(f.lat, f.lon, pos);
    std::snprintf(line, sizeof line, "AL, 01, %s,   , BEST,   0, %s, %3.0f, %4.0f, %s,\n", dtg(f.t).c_str(), pos, w,
                  1010.0 - std::pow(std::fmax(w, 15.0) / 6.7, 1.0 / 0.644), kind);
    best += line;
  }
  const std::vector<int> taus = {0, 3, 12, 24, 36, 48, 60, 72, 96, 120};
  std::vector<double> cycle_times;
  for (int c = s.fixes.front().t + 24; c <= s.fixes.back().t - 12; c += 6) cycle_times.push_back(c);
  for (const double c : cycle_times) {
    for (int tau = -24; tau <= 0; tau += 6) {
      ll(at(c + tau, &Fix::lat), at(c + tau, &Fix::lon), pos);
      std::snprintf(line, sizeof line, "AL, 01, %s, 01, CARQ, %3d, %s, %3.0f,    0, XX,\n", dtg(c).c_str(), tau, pos,
                    std::round(at(c + tau, &Fix::wind)));
      adeck += line;
    }
    // Aids: a forecast track wandering off the best one, an intensity erring as forecasts do.
    struct Aid {
      const char* tech;
      double track_error, wind_error;
    };
    for (const Aid& a : {Aid{"OFCL", 0.004, 0.08}, Aid{"AVNO", 0.008, 0.15}, Aid{"SHIP", 0.006, 0.12}}) {
      const double turn = rnd.uniform(-1.0, 1.0), bias = rnd.uniform(-1.0, 1.0);
      for (const int tau : taus) {
        if (c + tau > s.fixes.back().t + 48) break;
        ll(at(c + tau, &Fix::lat) + a.track_error * tau * turn, at(c + tau, &Fix::lon) - a.track_error * tau * 0.5 * turn, pos);
        const double wind = std::fmax(15.0, at(c + tau, &Fix::wind) * (1.0 + a.wind_error * bias * tau / 48.0));
        std::snprintf(line, sizeof line, "AL, 01, %s, 03, %s, %3d, %s, %3.0f,    0, XX,  34, NEQ,    0,    0,    0,    0,\n",
                      dtg(c).c_str(), a.tech, tau, pos, std::round(wind));
        adeck += line;
      }
    }
  }
  if (!write_file(dir + "/bal012005.dat", best) || !write_file(dir + "/aal012005.dat", adeck)) {
    std::fprintf(stderr, "tarvo-synth: cannot write the decks in %s\n", dir.c_str());
    return 2;
  }
  // The fields: the first `cycles` cycles' forecasts, and the analyses (f000)
  // of the day before the first of them, for its history.
  const std::string gfs = dir + "/gfs";
  if (!make_dir(gfs)) return 2;
  const int first = 0, last = std::min(cycles, static_cast<int>(cycle_times.size()));
  for (int k = first; k < last; ++k) {
    const double c = reference + cycle_times[static_cast<std::size_t>(k)];
    for (int step = 0; step <= 120; step += 12)
      if (!write_gfs_file(gfs, air, world, c, step)) {
        std::fprintf(stderr, "tarvo-synth: cannot write the GRIB fields in %s\n", gfs.c_str());
        return 2;
      }
    if (k == first)
      for (int back = 24; back >= 6; back -= 6)
        if (!write_gfs_file(gfs, air, world, c - back, 0)) return 2;
  }
  std::printf("cycles");
  for (int k = first; k < last; ++k)
    std::printf(" %s", dtg(cycle_times[static_cast<std::size_t>(k)]).c_str());
  std::printf("\n");
  return 0;
}

int main(int argc, char** argv) {
  std::uint64_t seed = 1;
  bool grids = true, season = false, monthly = false, public_layouts = false, forecast = false, risk = false;
  int cycles = 3;
  int storms = 5;
  std::string dir;
  for (int a = 1; a < argc; ++a) {
    const std::string arg = argv[a];
    if (arg == "--seed" && a + 1 < argc) {
      seed = std::strtoull(argv[++a], nullptr, 10);
    } else if (arg == "--no-grids") {
      grids = false;
    } else if (arg == "--season") {
      season = true;
    } else if (arg == "--monthly") {
      monthly = true;
    } else if (arg == "--public-layouts") {
      public_layouts = true;
    } else if (arg == "--forecast") {
      forecast = true;
    } else if (arg == "--risk") {
      risk = true;
    } else if (arg == "--cycles" && a + 1 < argc) {
      cycles = std::max(1, std::min(40, std::atoi(argv[++a])));
    } else if (arg == "--storms" && a + 1 < argc) {
      storms = std::max(1, std::min(100000, std::atoi(argv[++a])));
    } else if (!arg.empty() && arg[0] != '-' && dir.empty()) {
      dir = arg;
    } else {
      std::fprintf(stderr, "usage: tarvo-synth [--seed N] [--no-grids] [--public-layouts] [--season [--storms N] [--monthly]] [--forecast [--cycles N]] [--risk [--storms N]] DIR\n");
      return 2;
    }
  }
  if (dir.empty()) {
    std::fprintf(stderr, "usage: tarvo-synth [--seed N] [--no-grids] [--public-layouts] [--season [--storms N] [--monthly]] [--forecast [--cycles N]] [--risk [--storms N]] DIR\n");
    return 2;
  }
  Random world_rnd{12345};  // one world for every seed: cases can share their grids
  const World world = make_world(world_rnd);
  Random rnd{seed};

  if (!make_dir(dir)) {
    std::fprintf(stderr, "tarvo-synth: cannot create %s\n", dir.c_str());
    return 2;
  }
  if (grids) {
    const std::string data = dir + "/data";
    if (!make_dir(data) || !write_elevation(data + "/bathsmooth2.dat", world)) {
      std::fprintf(stderr, "tarvo-synth: cannot write %s/bathsmooth2.dat\n", data.c_str());
      return 2;
    }
    for (int m = 1; m <= 12; ++m) {
      char mm[3];
      std::snprintf(mm, sizeof mm, "%02d", m);
      auto mld = [m](double lat, double lon) { return ocean_mld(lat, lon, m); };
      auto strat = [m](double lat, double lon) { return ocean_strat(lat, lon, m); };
      if (!write_monthly(data + "/mix" + mm, mld) || !write_monthly(data + "/stratnorm" + mm, strat)) {
        std::fprintf(stderr, "tarvo-synth: cannot write the monthly grids in %s\n", data.c_str());
        return 2;
      }
    }
  }
  if (public_layouts && !write_public_layouts(dir + "/sources", world)) return 2;

  if (season) return write_season(dir, world, seed, std::min(storms, 99), monthly);
  if (risk) return write_risk_set(dir, world, seed, storms);
  if (forecast) return write_forecast_case(dir, world, seed, cycles);
  const Storm storm = make_storm(rnd, world);
  std::string track = "Synthetic storm, seed " + std::to_string(seed) + " -- made by tarvo-synth\n";
  char buf[256];
  std::snprintf(buf, sizeof buf, "'al' %d %d %d\n", storm.month, storm.day, storm.hour);
  track += buf;
  track += "  hour    lat     lon   vmax(kt) vpot(m/s) shear(m/s) T600(K) RH600(%)\n";
  for (const Fix& f : storm.fixes) {
    std::snprintf(buf, sizeof buf, "%6d %6.1f %7.1f %5.0f %6.1f %6.1f %7.1f %5.0f\n", f.t, f.lat, f.lon,
                  f.wind, f.vpot, f.shear, f.t600, f.rh);
    track += buf;
  }
  const std::string params =
      "0.5      smoothing weight of the observed wind\n"
      "0.5      smoothing weight of the along-track distance\n"
      "0.5      smoothing weight of field 6\n"
      "2.0      intensity feedback gain\n";
  if (!write_file(dir + "/track.in", track) || !write_file(dir + "/params.in", params)) {
    std::fprintf(stderr, "tarvo-synth: cannot write the case files in %s\n", dir.c_str());
    return 2;
  }
  return 0;
}
