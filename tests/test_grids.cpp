// The ocean grids built from public data sets: box means of the elevation
// against their integrals, the mixed layer and the gradient of known
// profiles, the placement of rows and columns, the fill of land, the wrap at
// 0/360 and the poles, and the sea-surface cooling of the model on the built
// grids against the heat budget of a deepening mixed layer.
#include <gtest/gtest.h>
#include <netcdf.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "grids/build.hpp"
#include "helpers.hpp"
#include "input/cases/ocean_grids.hpp"
#include "model/kernels.hpp"
#include "model/run.hpp"

namespace tarvo {
namespace {

constexpr double pi = 3.14159265358979323846;
constexpr float nanf_ = std::numeric_limits<float>::quiet_NaN();

void ok(int status) { ASSERT_EQ(status, NC_NOERR) << nc_strerror(status); }

// An elevation file in ETOPO 2022's layout: z(lat, lon) in m, cells of
// `step` degrees centred from the south pole, longitudes from `lon0`.
void write_elevation(const std::string& path, double step, double lon0, const std::function<double(double, double)>& f) {
  const std::size_t ny = static_cast<std::size_t>(std::lround(180.0 / step)), nx = static_cast<std::size_t>(std::lround(360.0 / step));
  int nc, dy, dx, vy, vx, vz;
  ok(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &nc));
  nc_def_dim(nc, "lat", ny, &dy);
  nc_def_dim(nc, "lon", nx, &dx);
  nc_def_var(nc, "lat", NC_DOUBLE, 1, &dy, &vy);
  nc_put_att_text(nc, vy, "units", 13, "degrees_north");
  nc_def_var(nc, "lon", NC_DOUBLE, 1, &dx, &vx);
  nc_put_att_text(nc, vx, "units", 12, "degrees_east");
  const int dims[] = {dy, dx};
  nc_def_var(nc, "z", NC_FLOAT, 2, dims, &vz);
  const std::size_t chunk[] = {16, nx};
  nc_def_var_chunking(nc, vz, NC_CHUNKED, chunk);
  nc_def_var_deflate(nc, vz, 1, 1, 1);
  nc_put_att_text(nc, vz, "units", 1, "m");
  ok(nc_enddef(nc));
  std::vector<double> lat(ny), lon(nx);
  for (std::size_t j = 0; j < ny; ++j) lat[j] = -90.0 + (static_cast<double>(j) + 0.5) * step;
  for (std::size_t i = 0; i < nx; ++i) lon[i] = lon0 + (static_cast<double>(i) + 0.5) * step;
  nc_put_var_double(nc, vy, lat.data());
  nc_put_var_double(nc, vx, lon.data());
  std::vector<float> row(nx);
  for (std::size_t j = 0; j < ny; ++j) {
    for (std::size_t i = 0; i < nx; ++i) row[i] = static_cast<float>(f(lat[j], lon[i]));
    const std::size_t start[] = {j, 0}, count[] = {1, nx};
    ok(nc_put_vara_float(nc, vz, start, count, row.data()));
  }
  ok(nc_close(nc));
}

// The World Ocean Atlas's 57 monthly standard depths, 0 to 1500 m.
std::vector<float> woa_depths() {
  std::vector<float> z;
  for (int d = 0; d < 100; d += 5) z.push_back(static_cast<float>(d));
  for (int d = 100; d < 500; d += 25) z.push_back(static_cast<float>(d));
  for (int d = 500; d <= 1500; d += 50) z.push_back(static_cast<float>(d));
  return z;
}

// Twelve monthly temperature files in the World Ocean Atlas's layout:
// t_an(time, depth, lat, lon), cells centred on half degrees from -179.5,
// degrees Celsius; `t(month, lat, lon, depth)` NaN for none.
std::vector<std::string> write_woa(const test::TempDir& dir, const std::function<double(int, double, double, double)>& t) {
  const std::vector<float> z = woa_depths();
  std::vector<std::string> paths;
  for (int m = 1; m <= 12; ++m) {
    char name[64];
    std::snprintf(name, sizeof name, "woa23_decav91C0_t%02d_01.nc", m);
    paths.push_back(dir / name);
    int nc, dt, dz, dy, dx, vt, vz, vy, vx, va;
    ok(nc_create(paths.back().c_str(), NC_NETCDF4 | NC_CLOBBER, &nc));
    nc_def_dim(nc, "time", 1, &dt);
    nc_def_dim(nc, "depth", z.size(), &dz);
    nc_def_dim(nc, "lat", 180, &dy);
    nc_def_dim(nc, "lon", 360, &dx);
    nc_def_var(nc, "time", NC_FLOAT, 1, &dt, &vt);
    nc_put_att_text(nc, vt, "units", 32, "months since 1991-01-01 00:00:00");
    nc_def_var(nc, "depth", NC_FLOAT, 1, &dz, &vz);
    nc_put_att_text(nc, vz, "units", 6, "meters");
    nc_put_att_text(nc, vz, "positive", 4, "down");
    nc_put_att_text(nc, vz, "standard_name", 5, "depth");
    nc_def_var(nc, "lat", NC_FLOAT, 1, &dy, &vy);
    nc_put_att_text(nc, vy, "units", 13, "degrees_north");
    nc_def_var(nc, "lon", NC_FLOAT, 1, &dx, &vx);
    nc_put_att_text(nc, vx, "units", 12, "degrees_east");
    const int dims[] = {dt, dz, dy, dx};
    nc_def_var(nc, "t_an", NC_FLOAT, 4, dims, &va);
    const float fill = 9.96921e+36f;
    nc_def_var_fill(nc, va, NC_FILL, &fill);
    nc_put_att_text(nc, va, "standard_name", 21, "sea_water_temperature");
    nc_put_att_text(nc, va, "units", 15, "degrees_celsius");
    ok(nc_enddef(nc));
    const float time = static_cast<float>(m) - 0.5f;
    nc_put_var_float(nc, vt, &time);
    nc_put_var_float(nc, vz, z.data());
    std::vector<float> lat(180), lon(360);
    for (int j = 0; j < 180; ++j) lat[static_cast<std::size_t>(j)] = -89.5f + static_cast<float>(j);
    for (int i = 0; i < 360; ++i) lon[static_cast<std::size_t>(i)] = -179.5f + static_cast<float>(i);
    nc_put_var_float(nc, vy, lat.data());
    nc_put_var_float(nc, vx, lon.data());
    std::vector<float> v(z.size() * 180 * 360);
    for (std::size_t k = 0; k < z.size(); ++k)
      for (std::size_t j = 0; j < 180; ++j)
        for (std::size_t i = 0; i < 360; ++i) {
          const double x = t(m, lat[j], lon[i], z[k]);
          v[(k * 180 + j) * 360 + i] = std::isnan(x) ? fill : static_cast<float>(x);
        }
    ok(nc_put_var_float(nc, va, v.data()));
    ok(nc_close(nc));
  }
  return paths;
}

// The area mean over a box of a + b sin(lat) + c cos(lon), weighted by the
// cosine of latitude: its exact integral.
double box_mean(double a, double b, double c, double lat1, double lat2, double lon1, double lon2) {
  const double p1 = lat1 * pi / 180.0, p2 = lat2 * pi / 180.0, l1 = lon1 * pi / 180.0, l2 = lon2 * pi / 180.0;
  return a + b * 0.5 * (std::sin(p1) + std::sin(p2)) + c * (std::sin(l2) - std::sin(l1)) / (l2 - l1);
}

double analytic(double lat, double lon) {
  return -5000.0 + 1500.0 * std::sin(lat * pi / 180.0) + 800.0 * std::cos(lon * pi / 180.0);
}

// A profile mixed down to h (m) at `top` degrees, then cooling at g (K per m).
double mixed_then_linear(double z, double top, double h, double g) { return z <= h ? top : top - g * (z - h); }

GridBuildOptions options_for(const test::TempDir& dir, const std::string& elevation, const std::vector<std::string>& woa) {
  GridBuildOptions o;
  o.elevation = elevation;
  o.temperature = woa;
  o.output = dir / "data";
  o.command = "test";
  return o;
}

TEST(Grids, BoxMeansOfAnAnalyticFieldAreItsIntegralsWithTheWrapAndThePoles) {
  // Cells of 1/8 degree from 0 E: each quarter-degree box holds two by two of
  // them (the boxes of longitude 0 one from each end of the file), the polar
  // rows half boxes of one row.
  test::TempDir dir;
  const std::string path = dir / "etopo.nc";
  write_elevation(path, 0.125, 0.0, analytic);
  ElevationSource source(path);
  BoxMeans means(source.lat(), source.lon());
  std::vector<float> v;
  for (std::size_t first = 0; first < source.rows(); first += 100) {
    const std::size_t n = std::min<std::size_t>(100, source.rows() - first);
    source.read(first, n, 0, source.cols(), v);
    means.add(first, n, 0, source.cols(), v.data());
  }
  const std::vector<float> got = means.means();
  double worst = 0.0;
  for (int jb = 0; jb < node_rows; ++jb)
    for (int ib = 0; ib < node_cols; ++ib) {
      const double lat = -90.0 + 0.25 * jb, lon = 0.25 * ib;
      const double expected = box_mean(-5000.0, 1500.0, 800.0, std::max(-90.0, lat - 0.125), std::min(90.0, lat + 0.125),
                                       lon - 0.125, lon + 0.125);
      const double rel = std::fabs(got[static_cast<std::size_t>(jb) * node_cols + static_cast<std::size_t>(ib)] - expected) /
                         std::fabs(expected);
      worst = std::max(worst, rel);
    }
  EXPECT_LT(worst, 1e-4);
  // The wrap: the node at 0 E averages cos over -0.125..0.125, not one side.
  EXPECT_NEAR(got[static_cast<std::size_t>(360) * node_cols], box_mean(-5000.0, 1500.0, 800.0, -0.125, 0.125, -0.125, 0.125), 0.05);
  RecordProperty("largest_relative_error", std::to_string(worst));
}

TEST(Grids, BoxMeansOnAGridThatDoesNotAlignAreTheWeightedMeansTheyAreDefinedAs) {
  // Cells of 0.1 degree from -180 straddle the boxes' edges: each counts with
  // the share of it inside the box, times the cosine of its latitude.
  test::TempDir dir;
  const std::string path = dir / "etopo.nc";
  auto f = [](double lat, double lon) { return 100.0 * std::sin(lat * 0.37) + 50.0 * std::cos(lon * 0.23) - 3000.0; };
  write_elevation(path, 0.1, -180.0, f);
  ElevationSource source(path);
  BoxMeans means(source.lat(), source.lon());
  std::vector<float> v;
  source.read(0, source.rows(), 0, source.cols(), v);
  means.add(0, source.rows(), 0, source.cols(), v.data());
  const std::vector<float> got = means.means();
  for (const auto& [jb, ib] : std::vector<std::pair<int, int>>{{0, 0}, {1, 1439}, {360, 0}, {361, 720}, {500, 3}, {720, 719}}) {
    const double lat = -90.0 + 0.25 * jb, lon = 0.25 * ib;
    double sum = 0.0, weight = 0.0;
    for (int j = 0; j < 1800; ++j) {
      const double a = -90.0 + 0.1 * j, b = a + 0.1, c = a + 0.05;
      const double dy = std::min(b, std::min(90.0, lat + 0.125)) - std::max(a, std::max(-90.0, lat - 0.125));
      if (dy <= 0.0) continue;
      for (int i = 0; i < 3600; ++i) {
        double x0 = -180.0 + 0.1 * i;
        // The cell taken into the box's frame of longitudes.
        while (x0 + 0.1 <= lon - 0.125) x0 += 360.0;
        while (x0 >= lon + 0.125) x0 -= 360.0;
        const double dx = std::min(x0 + 0.1, lon + 0.125) - std::max(x0, lon - 0.125);
        if (dx <= 0.0) continue;
        const double w = std::cos(c * pi / 180.0) * dy * dx;
        sum += w * static_cast<float>(f(c, -180.0 + 0.1 * i + 0.05));
        weight += w;
      }
    }
    EXPECT_NEAR(got[static_cast<std::size_t>(jb) * node_cols + static_cast<std::size_t>(ib)], sum / weight,
                1e-4 * std::fabs(sum / weight))
        << "node " << jb << ", " << ib;
  }
}

TEST(Grids, TheMixedLayerAndTheGradientOfKnownProfiles) {
  const std::vector<float> zf = woa_depths();
  const std::vector<double> z(zf.begin(), zf.end());
  const int n = static_cast<int>(z.size());
  std::vector<float> t(z.size());
  const ColumnOptions o;
  // Mixed to 40 m (a level), 0.05 K per m below: 0.2 K colder at 44 m; the
  // gradient 5 K per 100 m.
  for (std::size_t k = 0; k < z.size(); ++k) t[k] = static_cast<float>(mixed_then_linear(z[k], 28.0, 40.0, 0.05));
  bool clamped = true;
  EXPECT_NEAR(mixed_layer_depth(z.data(), t.data(), n, o), 44.0, 1e-4);
  EXPECT_NEAR(stratification(z.data(), t.data(), n, 44.0, o, clamped), 5.0, 1e-4);
  EXPECT_FALSE(clamped);
  // D = 50 m: the same gradient over less.
  ColumnOptions shallow = o;
  shallow.strat_depth_m = 50.0;
  EXPECT_NEAR(stratification(z.data(), t.data(), n, 44.0, shallow, clamped), 5.0, 1e-4);
  // A column ending at 100 m: over the 56 m that remain.
  std::vector<float> short_column(t.begin(), t.begin() + 21);
  short_column.resize(t.size(), nanf_);
  EXPECT_EQ(valid_levels(short_column.data(), n), 21);  // 0..100 m
  EXPECT_NEAR(stratification(z.data(), short_column.data(), 21, 44.0, o, clamped), 5.0, 1e-4);
  // ... at 60 m: 16 m remain, less than 20: none.
  EXPECT_TRUE(std::isnan(stratification(z.data(), t.data(), 13, 44.0, o, clamped)));
  // Warmer below (an inversion): 0, and said.
  std::vector<float> inverted(t.size());
  for (std::size_t k = 0; k < z.size(); ++k) inverted[k] = static_cast<float>(z[k] <= 40.0 ? 20.0 : 20.0 + 0.01 * (z[k] - 40.0));
  EXPECT_EQ(stratification(z.data(), inverted.data(), n, 40.0, o, clamped), 0.0);
  EXPECT_TRUE(clamped);
  // Never 0.2 K colder: the deepest valid level.
  std::vector<float> uniform(z.size(), 15.0f);
  EXPECT_EQ(mixed_layer_depth(z.data(), uniform.data(), 30, o), z[29]);
  // The base between two levels (37.5 m): linear between them.
  for (std::size_t k = 0; k < z.size(); ++k) t[k] = static_cast<float>(z[k] <= 35.0 ? 28.0 : 28.0 - 0.08 * (z[k] - 35.0));
  const double t40 = 28.0 - 0.08 * 5.0;  // 27.6 at 40 m: the first level 0.2 K colder is 40 m
  EXPECT_NEAR(mixed_layer_depth(z.data(), t.data(), n, o), 35.0 + (27.8 - 28.0) * 5.0 / (t40 - 28.0), 1e-4);
  // The reference between levels (12 m with 5 m levels) is interpolated too.
  ColumnOptions at12 = o;
  at12.reference_m = 12.0;
  EXPECT_NEAR(mixed_layer_depth(z.data(), t.data(), n, at12), 37.5, 1e-4);
  // Columns: a gap, one that starts below the surface, an infinite value.
  std::vector<float> gap = t;
  gap[3] = nanf_;
  EXPECT_EQ(valid_levels(gap.data(), n), -1);
  gap = t;
  gap[0] = nanf_;
  EXPECT_EQ(valid_levels(gap.data(), n), -1);
  gap = t;
  gap[5] = std::numeric_limits<float>::infinity();
  EXPECT_EQ(valid_levels(gap.data(), n), -1);
  std::vector<float> land(z.size(), nanf_);
  EXPECT_EQ(valid_levels(land.data(), n), 0);
}

TEST(Grids, FillingFromNeighboursReachesEveryCellAndCountsThem) {
  std::vector<float> g(180 * 360, nanf_);
  g[90 * 360 + 0] = 7.0f;
  EXPECT_EQ(fill_from_neighbours(g.data()), 180u * 360u - 1u);
  for (float v : g) EXPECT_EQ(v, 7.0f);
  // Neighbours across 0/360: the cell at the last column fills from the first.
  std::vector<float> h(180 * 360, 1.0f);
  h[10 * 360 + 359] = nanf_;
  h[10 * 360 + 0] = 4.0f;
  EXPECT_EQ(fill_from_neighbours(h.data()), 1u);
  EXPECT_FLOAT_EQ(h[10 * 360 + 359], (7.0f * 1.0f + 4.0f) / 8.0f);
  // Nothing to fill from: left as it is.
  std::vector<float> none(180 * 360, nanf_);
  EXPECT_EQ(fill_from_neighbours(none.data()), 0u);
}

TEST(Grids, RowsAndColumnsArePlacedWhereTheModelReadsThem) {
  // A mixed layer that depends on longitude alone, a gradient on latitude
  // alone, land in two bands; the model's column i is at i E (the mean of
  // the cells at i - 0.5 and i + 0.5), its row j at j - 90.5.
  test::TempDir dir;
  auto h_of = [](double lon) { return 40.0 + 20.0 * std::cos(lon * pi / 180.0); };
  auto g_of = [](double lat) { return 0.02 + 0.0003 * (lat + 90.0); };  // K per m
  const std::vector<std::string> woa = write_woa(dir, [&](int, double lat, double lon, double z) {
    if (lat < -80.0 || (lat > 0.0 && lat < 2.0)) return std::numeric_limits<double>::quiet_NaN();  // land
    return mixed_then_linear(z, 26.0, h_of(lon), g_of(lat));
  });
  write_elevation(dir / "etopo.nc", 0.5, -180.0, [](double, double) { return -4000.0; });
  const GridBuildReport r = build_grids(options_for(dir, dir / "etopo.nc", woa), nullptr);
  const OceanGrids g = read_climatology(dir / "data");
  const ColumnOptions o;
  const std::vector<float> zf = woa_depths();
  const std::vector<double> z(zf.begin(), zf.end());
  for (int j = 12; j <= 180; j += 7) {
    const double lat = j - 90.5;
    if (lat < -80.0 || (lat > 0.0 && lat < 2.0)) continue;
    for (int i = 1; i <= 360; i += 13) {
      // Each cell's own values, as the method defines them, then their mean.
      double mld = 0.0, strat = 0.0;
      for (const double lon : {i - 0.5, i + 0.5}) {
        std::vector<float> t(z.size());
        for (std::size_t k = 0; k < z.size(); ++k) t[k] = static_cast<float>(mixed_then_linear(z[k], 26.0, h_of(lon), g_of(lat)));
        const double h = mixed_layer_depth(z.data(), t.data(), static_cast<int>(z.size()), o);
        bool clamped = false;
        mld += 0.5 * h;
        strat += 0.5 * stratification(z.data(), t.data(), static_cast<int>(z.size()), h, o, clamped);
      }
      EXPECT_NEAR(g.mld(9, j, i), mld, 1e-4 * mld) << "row " << j << ", column " << i;
      EXPECT_NEAR(g.strat(9, j, i), strat, 1e-4 * strat) << "row " << j << ", column " << i;
    }
  }
  // The land bands are filled from the ocean next to them, and counted.
  EXPECT_GT(r.months[8].mld_filled, 0u);
  EXPECT_EQ(r.months[8].mld_filled, r.months[8].strat_filled);
  EXPECT_EQ(r.months[8].ocean_cells, 360u * (180u - 10u - 2u));
  for (int i = 1; i <= 360; ++i) EXPECT_FALSE(std::isnan(g.mld(9, 91, i)));
  // The elevation is the uniform sea floor, everywhere.
  EXPECT_FLOAT_EQ(g.elev(1, 1), -4000.0f);
  EXPECT_FLOAT_EQ(g.elev(721, 1440), -4000.0f);
}

TEST(Grids, TheModelsCoolingOnTheBuiltGridsIsTheHeatBudgetOfADeepeningMixedLayer) {
  // A column mixed to 46 m (0.2 K colder at 50 m) over water cooling at
  // 6 K per 100 m: the built grids hold h0 = 50 m and G = 6 K per 100 m.
  // Deepened to h, the layer cools by d (h - h0)/h + G (h - h0)^2 / (2 h)
  // with G in K per metre, d = 0.6 K (0.1 K in the eastern Pacific); the
  // model's cooling, turned into kelvin (25 depth_factor a kelvin), is that.
  test::TempDir dir;
  const std::vector<std::string> woa =
      write_woa(dir, [](int, double, double, double z) { return mixed_then_linear(z, 28.0, 50.0 - 0.2 / 0.06, 0.06); });
  write_elevation(dir / "etopo.nc", 0.5, -180.0, [](double, double) { return -4000.0; });
  build_grids(options_for(dir, dir / "etopo.nc", woa), nullptr);
  const OceanGrids grids = read_climatology(dir / "data");
  for (const char* basin : {"al", "ep"}) {
    tarvo::Run run(grids, ".");
    test::prepare_run(run, test::simple_track(-24, 72, 60.0f, basin));
    const float df = run.depth_factor, a = run.ocean_coef_a;
    const float h0 = run.samp_mld[5], g = run.samp_strat[5];  // model units
    const double h0_m = h0 / df, G = g / (12.5 * 0.01) / 100.0;  // m; K per m
    ASSERT_NEAR(h0_m, 50.0, 1e-3);
    ASSERT_NEAR(G * 100.0, 6.0, 1e-4);
    const double d = std::string(basin) == "ep" ? 0.1 : 0.6;
    for (const double h_m : {55.0, 70.0, 100.0, 180.0}) {
      const float h = static_cast<float>(h_m) * df;
      const double kelvin = -static_cast<double>(sea_surface_cooling(h0, h, a, g)) / (25.0 * df);
      const double budget = d * (h_m - h0_m) / h_m + G * (h_m - h0_m) * (h_m - h0_m) / (2.0 * h_m);
      EXPECT_NEAR(kelvin, budget, 1e-5 * budget) << basin << ", h = " << h_m;
    }
  }
}

TEST(Grids, TheFolderIsWrittenWholeOrNotAtAll) {
  test::TempDir dir;
  const std::vector<std::string> woa =
      write_woa(dir, [](int, double, double, double z) { return mixed_then_linear(z, 28.0, 30.0, 0.05); });
  write_elevation(dir / "etopo.nc", 0.5, -180.0, [](double, double) { return -4000.0; });
  GridBuildOptions o = options_for(dir, dir / "etopo.nc", woa);
  build_grids(o, nullptr);
  const std::string before = test::read_text(dir / "data/mix01");
  // There: refused without --force.
  EXPECT_NE(test::failure([&] { build_grids(o, nullptr); }).find("exists already: give --force"), std::string::npos);
  // A month missing, or one that fails half way (a column with a gap in
  // July): the folder as it was, no temporary one left.
  GridBuildOptions bad = o;
  bad.force = true;
  bad.temperature.pop_back();
  EXPECT_NE(test::failure([&] { build_grids(bad, nullptr); }).find("lacks month(s) 12"), std::string::npos);
  test::TempDir gappy;
  bad.temperature = write_woa(gappy, [](int m, double lat, double lon, double z) {
    if (m == 7 && lat == 10.5 && lon == 20.5 && z == 0.0) return std::numeric_limits<double>::quiet_NaN();
    return mixed_then_linear(z, 28.0, 30.0, 0.05);
  });
  const std::string why = test::failure([&] { build_grids(bad, nullptr); });
  EXPECT_NE(why.find("woa23_decav91C0_t07_01.nc"), std::string::npos) << why;
  EXPECT_NE(why.find("month 7: the column at latitude 10.5, longitude 20.5"), std::string::npos) << why;
  EXPECT_EQ(test::read_text(dir / "data/mix01"), before);
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
  // Replaced with --force.
  o.force = true;
  o.column.strat_depth_m = 50.0;
  build_grids(o, nullptr);
  EXPECT_NE(test::read_text(dir / "data/grids.json").find("\"strat_depth_m\": 50"), std::string::npos);
}

}  // namespace
}  // namespace tarvo
