#pragma once
// Forecasts of a catalog as one CF-NetCDF trajectory file with CLIMADA's
// variable names (docs/catalog.md), written to a temporary file beside its
// place and renamed over it only when complete.
#include <cstddef>
#include <string>
#include <vector>

#include "input/catalog.hpp"
#include "output/netcdf_file.hpp"
#include "output/track_output.hpp"

namespace tarvo {

// One storm's forecast in the units of the forecast files, a value a sample.
struct ForecastRows {
  std::vector<double> time;                    // hours since 1970-01-01 00:00
  std::vector<float> lat, lon;                 // degrees N, degrees E
  std::vector<float> wind_kt, pressure_hpa;    // maximum sustained wind, central pressure
  std::vector<float> environmental_hpa;        // 1005 hPa
  std::vector<float> rmw_nmi;                  // radius of maximum wind, nautical miles
  std::vector<float> time_step_h;              // 2 h
  std::string basin;                           // without trailing blanks
  int category = -1;                           // Saffir-Simpson, from the peak wind
};
ForecastRows forecast_rows(const CatalogStorm& storm, const std::vector<OutputSample>& samples);

class CatalogWriter {
 public:
  // A file for `storms` storms of a catalog of `catalog_storms`; the step
  // dimension grows to the longest.
  CatalogWriter(const std::string& path, std::size_t storms, std::size_t catalog_storms);

  // Storm `index` of the catalog: its samples (none when it failed or
  // stopped early) and its status text.
  // `row` is the storm's place in this file, `index` its place in the catalog.
  void write(std::size_t row, std::size_t index, const CatalogStorm& storm,
             const std::vector<OutputSample>& samples, const std::string& status);
  // Rows src_row .. src_row + count - 1 of the open forecast file `src`
  // (`src_steps` long), every variable as stored, to rows row .. of this one.
  void copy_rows(int src, const std::string& src_path, std::size_t src_steps, std::size_t src_row,
                 std::size_t row, std::size_t count);
  void finish();  // without it the file is not written

 private:
  int var(const char* name) const;
  NetcdfFile file_;
  std::size_t longest_ = 0;
};

// Saffir-Simpson category of a peak wind in knots: -1 (depression) to 5.
int category_of(float peak_kt);

}  // namespace tarvo
