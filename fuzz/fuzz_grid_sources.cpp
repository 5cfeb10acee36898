// Fuzz target: the readers of the ocean grids' sources and their methods,
// on small NetCDF files made from the input: its dimensions, coordinates
// (NaN, unordered, out of range), attributes (units, positive,
// standard_name, fill values), values (NaN, infinities, fills) and file
// name (WOA's months) all from the bytes. Every file either reads, with
// the methods giving finite values or NaN for what is missing, or ends in
// an InputError naming it.
#include <fuzzer/FuzzedDataProvider.h>
#include <netcdf.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_common.hpp"
#include "grids/ocean_methods.hpp"
#include "input/fields/ocean_sources.hpp"

namespace {

const char* const units_choices[] = {"m", "meters", "cm", "degrees_celsius", "K", "degC", "psu", "", "dbar", "km"};
const char* const positive_choices[] = {"down", "up", "", "sideways"};
const char* const names[] = {"z", "elevation", "t_an", "thetao", "mld_dr003", "mld_da_mean", "M_an", "depth", "x"};

std::string pick(FuzzedDataProvider& in, const char* const* choices, std::size_t n) {
  if (in.ConsumeBool()) return in.ConsumeRandomLengthString(12);
  return choices[in.ConsumeIntegralInRange<std::size_t>(0, n - 1)];
}

double coordinate(FuzzedDataProvider& in, double regular) {
  switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0: return std::nan("");
    case 1: return in.ConsumeFloatingPoint<double>();
    default: return regular;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  static const std::string dir = [] {
    char d[] = "/tmp/fuzz-grid-sources-XXXXXX";
    return std::string(mkdtemp(d));
  }();
  // A WOA-like name (the month in it) or any.
  const std::string name = in.ConsumeBool() ? "woa23_x_t" + in.ConsumeRandomLengthString(3) + "_01.nc"
                                            : in.ConsumeRandomLengthString(16) + ".nc";
  if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos) return 0;
  const std::string path = dir + "/" + name;
  const std::size_t nt = in.ConsumeIntegralInRange<std::size_t>(1, 13), nz = in.ConsumeIntegralInRange<std::size_t>(1, 6),
                    ny = in.ConsumeIntegralInRange<std::size_t>(1, 7), nx = in.ConsumeIntegralInRange<std::size_t>(1, 9);
  const bool with_depth = in.ConsumeBool(), with_time = in.ConsumeBool();
  int nc = -1;
  if (nc_create(path.c_str(), NC_CLOBBER | NC_64BIT_OFFSET, &nc) != NC_NOERR) return 0;
  int dt = -1, dz = -1, dy, dx, vt = -1, vz = -1, vy, vx, v;
  if (with_time) nc_def_dim(nc, "time", nt, &dt);
  if (with_depth) nc_def_dim(nc, "depth", nz, &dz);
  nc_def_dim(nc, "lat", ny, &dy);
  nc_def_dim(nc, "lon", nx, &dx);
  auto text = [&](int var, const char* att, const std::string& value) {
    if (!value.empty()) nc_put_att_text(nc, var, att, value.size(), value.data());
  };
  if (with_time) {
    nc_def_var(nc, "time", NC_DOUBLE, 1, &dt, &vt);
    text(vt, "units", in.ConsumeBool() ? "days since 2000-01-01" : in.ConsumeRandomLengthString(24));
  }
  if (with_depth) {
    nc_def_var(nc, "depth", NC_DOUBLE, 1, &dz, &vz);
    text(vz, "units", pick(in, units_choices, 10));
    text(vz, "positive", pick(in, positive_choices, 4));
  }
  nc_def_var(nc, "lat", NC_DOUBLE, 1, &dy, &vy);
  text(vy, "units", "degrees_north");
  nc_def_var(nc, "lon", NC_DOUBLE, 1, &dx, &vx);
  text(vx, "units", "degrees_east");
  std::vector<int> dims;
  if (with_time) dims.push_back(dt);
  if (with_depth) dims.push_back(dz);
  dims.push_back(dy);
  dims.push_back(dx);
  if (in.ConsumeBool()) std::swap(dims[dims.size() - 1], dims[dims.size() - 2]);
  const std::string var = names[in.ConsumeIntegralInRange<std::size_t>(0, 8)];
  nc_def_var(nc, var.c_str(), NC_FLOAT, static_cast<int>(dims.size()), dims.data(), &v);
  text(v, "units", pick(in, units_choices, 10));
  if (in.ConsumeBool()) {
    const float fill = in.ConsumeBool() ? 9.96921e36f : in.ConsumeFloatingPoint<float>();
    nc_put_att_float(nc, v, "_FillValue", NC_FLOAT, 1, &fill);
  }
  if (in.ConsumeBool()) text(v, "positive", pick(in, positive_choices, 4));
  if (nc_enddef(nc) != NC_NOERR) {
    nc_close(nc);
    return 0;
  }
  std::vector<double> c;
  for (std::size_t k = 0; k < ny; ++k) c.push_back(coordinate(in, -90.0 + 180.0 * (static_cast<double>(k) + 0.5) / static_cast<double>(ny)));
  nc_put_var_double(nc, vy, c.data());
  c.clear();
  for (std::size_t k = 0; k < nx; ++k) c.push_back(coordinate(in, -180.0 + 360.0 * (static_cast<double>(k) + 0.5) / static_cast<double>(nx)));
  nc_put_var_double(nc, vx, c.data());
  if (with_depth) {
    c.clear();
    for (std::size_t k = 0; k < nz; ++k) c.push_back(coordinate(in, 10.0 * static_cast<double>(k)));
    nc_put_var_double(nc, vz, c.data());
  }
  if (with_time) {
    c.clear();
    for (std::size_t k = 0; k < nt; ++k) c.push_back(coordinate(in, 15.0 + 30.0 * static_cast<double>(k)));
    nc_put_var_double(nc, vt, c.data());
  }
  std::vector<float> values((with_time ? nt : 1) * (with_depth ? nz : 1) * ny * nx);
  for (float& x : values) {
    switch (in.ConsumeIntegralInRange(0, 9)) {
      case 0: x = std::nanf(""); break;
      case 1: x = in.ConsumeFloatingPoint<float>(); break;
      default: x = static_cast<float>(in.ConsumeIntegralInRange(-5000, 40));
    }
  }
  nc_put_var_float(nc, v, values.data());
  nc_close(nc);

  auto fine = [&](const tarvo::InputError& e) { tarvo::fuzz::require(e.file() == path, "error names another file:", e.what()); };
  try {
    tarvo::ElevationSource e(path);
    tarvo::BoxMeans boxes(e.lat(), e.lon());
    std::vector<float> block;
    e.read(0, e.rows(), 0, e.cols(), block);
    boxes.add(0, e.rows(), 0, e.cols(), block.data());
    (void)boxes.means();
    (void)tarvo::missing_band(e.lat(), e.lon());
  } catch (const tarvo::InputError& error) {
    fine(error);
  }
  try {
    tarvo::TemperatureSource t({path});
    std::vector<float> month;
    t.read_month(1, month);
    const std::size_t levels = t.depths().size(), cells = month.size() / std::max<std::size_t>(1, levels);
    std::vector<float> column(levels);
    const tarvo::ColumnOptions options;
    for (std::size_t cell = 0; cell < cells; ++cell) {
      for (std::size_t k = 0; k < levels; ++k) column[k] = month[k * cells + cell];
      const int n = tarvo::valid_levels(column.data(), static_cast<int>(levels));
      if (n <= 0) continue;
      const double h = tarvo::mixed_layer_depth(t.depths().data(), column.data(), n, options);
      bool clamped = false;
      const double g = tarvo::stratification(t.depths().data(), column.data(), n, h, options, clamped);
      tarvo::fuzz::require(std::isfinite(h) && (std::isnan(g) || g >= 0.0), "a column's values are not as defined");
    }
  } catch (const tarvo::InputError& error) {
    fine(error);
  }
  try {
    tarvo::MldSource m({path});
    std::vector<float> month;
    m.read_month(12, month);
  } catch (const tarvo::InputError& error) {
    fine(error);
  }
  unlink(path.c_str());
  return 0;
}
