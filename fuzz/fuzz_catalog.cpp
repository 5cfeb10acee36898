// Fuzz target: the catalog reader on catalogs built from the fuzzer's bytes:
// every variable present or missing, of the right or a wrong type, shape and
// units, holding any values (NaN, infinities, times out of order, bad sids).
// The file is made with netCDF-C in memory and read back with nc_open_mem.
// (The bytes drive the catalog's content rather than the file image itself:
// mutated HDF5 images exercise libhdf5's own parser, not this reader.)
#include <netcdf.h>
#include <netcdf_mem.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "fuzz_common.hpp"
#include "input/tracks/catalog.hpp"

namespace {

double some_double(FuzzedDataProvider& in, double typical) {
  switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0: return std::numeric_limits<double>::quiet_NaN();
    case 1: return in.ConsumeBool() ? HUGE_VAL : -HUGE_VAL;
    case 2: return in.ConsumeFloatingPoint<double>();
    case 3: return typical + in.ConsumeFloatingPointInRange<double>(-3.0, 3.0);
    default: return typical + in.ConsumeIntegralInRange<int>(-30, 30);
  }
}

// A variable of the catalog, perhaps missing, mis-shaped, mis-typed or with other units.
void variable(FuzzedDataProvider& in, int ncid, const char* name, bool per_fix, const char* units,
              bool strings, std::size_t storms, std::size_t steps, int storm_dim, int step_dim, double typical) {
  const int mode = in.ConsumeIntegralInRange<int>(0, 19);
  if (mode == 0) return;  // missing
  const bool wrong_shape = mode == 1, wrong_type = mode == 2;
  const bool two = per_fix != wrong_shape;
  const int dims[] = {storm_dim, step_dim};
  const nc_type type = strings ? (wrong_type ? NC_INT : NC_STRING)
                               : (wrong_type ? NC_INT : (in.ConsumeBool() ? NC_FLOAT : NC_DOUBLE));
  int id;
  if (nc_def_var(ncid, name, type, two ? 2 : 1, dims, &id) != NC_NOERR) return;
  if (units) {
    const std::string u = mode == 3 ? in.ConsumeRandomLengthString(12) : std::string(units);
    nc_put_att_text(ncid, id, "units", u.size(), u.c_str());
  }
  nc_enddef(ncid);
  const std::size_t n = storms * (two ? steps : 1);
  const std::size_t start[] = {0, 0}, count[] = {storms, steps};
  if (n == 0) {
    nc_redef(ncid);
    return;
  }
  if (type == NC_STRING) {
    std::vector<std::string> v;
    for (std::size_t i = 0; i < n; ++i)
      v.push_back(in.ConsumeBool() ? "s" + std::to_string(i % 3) : in.ConsumeRandomLengthString(10));
    std::vector<const char*> p;
    for (const std::string& s : v) p.push_back(s.c_str());
    nc_put_vara_string(ncid, id, start, count, p.data());
  } else if (type == NC_INT) {
    std::vector<int> v(n, in.ConsumeIntegral<int>());
    nc_put_vara_int(ncid, id, start, count, v.data());
  } else {
    std::vector<double> v(n);
    for (std::size_t i = 0; i < n; ++i)
      v[i] = in.ConsumeIntegralInRange<int>(0, 3) == 0 ? some_double(in, typical)
                                                        : typical + (std::strcmp(name, "time") == 0 ? 6.0 * static_cast<double>(steps ? i % steps : 0) : 0.0);
    nc_put_vara_double(ncid, id, start, count, v.data());
  }
  nc_redef(ncid);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::size_t storms = in.ConsumeIntegralInRange<std::size_t>(0, 4);
  const std::size_t steps = in.ConsumeIntegralInRange<std::size_t>(0, 6);
  int ncid;
  if (nc_create_mem("catalog.nc", NC_NETCDF4, 1 << 16, &ncid) != NC_NOERR) return 0;
  int storm_dim, step_dim;
  nc_def_dim(ncid, "storm", storms, &storm_dim);
  nc_def_dim(ncid, in.ConsumeIntegralInRange<int>(0, 30) == 0 ? "steps" : "step", steps, &step_dim);
  if (in.ConsumeIntegralInRange<int>(0, 30) != 0) nc_put_att_text(ncid, NC_GLOBAL, "featureType", 10, "trajectory");
  const double ref = 271000.0 + in.ConsumeIntegralInRange<int>(-1000, 1000);
  variable(in, ncid, "sid", false, nullptr, true, storms, steps, storm_dim, step_dim, 0);
  variable(in, ncid, "basin", false, nullptr, true, storms, steps, storm_dim, step_dim, 0);
  variable(in, ncid, "name", false, nullptr, true, storms, steps, storm_dim, step_dim, 0);
  variable(in, ncid, "reference_time", false, "hours since 1970-01-01 00:00:00", false, storms, steps, storm_dim,
           step_dim, ref);
  variable(in, ncid, "time", true, "hours since 1970-01-01 00:00:00", false, storms, steps, storm_dim, step_dim,
           ref - 12);
  const struct { const char* name; const char* units; double typical; } fixes[] = {
      {"lat", "degrees_north", 15}, {"lon", "degrees_east", 300}, {"vmax_obs", "knot", 50}, {"vpot", "m s-1", 75},
      {"shear", "m s-1", 5}, {"t600", "K", 271}, {"rh600", "percent", 60}};
  for (const auto& f : fixes) variable(in, ncid, f.name, true, f.units, false, storms, steps, storm_dim, step_dim, f.typical);
  for (const char* p : {"smooth_vobs", "smooth_dist", "smooth_f6", "nudge_gain"})
    variable(in, ncid, p, false, nullptr, false, storms, steps, storm_dim, step_dim, 0.5);
  // Optional whole numbers: absent, floating point (refused) or any int.
  for (const char* p : {"year", "cyclone_number"})
    variable(in, ncid, p, false, nullptr, false, storms, steps, storm_dim, step_dim, 3);
  NC_memio image{};
  if (nc_close_memio(ncid, &image) != NC_NOERR) return 0;
  const std::string shown = "catalog.nc";
  try {
    const tarvo::CatalogReader reader(image.memory, image.size, shown);
    reader.check_sids();
    for (const tarvo::CatalogStorm& s : reader.read(0, storms)) {
      tarvo::fuzz::require(!s.track.records.empty() && s.track.records.size() <= 200, "fixes out of range", s.sid);
      for (const tarvo::TrackRecord& r : s.track.records)
        tarvo::fuzz::require(std::isfinite(r.lat) && std::isfinite(r.vmax_kt), "a NaN passed", s.sid);
    }
  } catch (const tarvo::InputError& e) {
    tarvo::fuzz::check_error(e, shown, false, 0);
  }
  std::free(image.memory);
  return 0;
}
