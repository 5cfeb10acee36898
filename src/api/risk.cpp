#include "api/risk.hpp"

#include <cmath>

#include "input/cases/ocean_grids.hpp"
#include "input/input_error.hpp"
#include "input/tracks/catalog.hpp"
#include "output/catalog_output.hpp"

namespace tarvo {

ClimateComparison compare_forecast_files(const ComparisonInputs& in, const ComparisonOptions& options,
                                         std::vector<std::string>& notes) {
  const ForecastReader a(in.present), b(in.future);
  if (a.storms() != b.storms())
    throw InputError(in.future, 0, "holds " + std::to_string(b.storms()) + " storms; " + in.present + " holds " +
                                       std::to_string(a.storms()) + ": the two climates' forecasts are of one catalog");
  std::unique_ptr<CatalogReader> catalog;
  if (!in.catalog.empty()) {
    catalog = std::make_unique<CatalogReader>(in.catalog);
    if (catalog->storms() != a.storms())
      throw InputError(in.catalog, 0, "holds " + std::to_string(catalog->storms()) + " storms; the forecasts hold " +
                                          std::to_string(a.storms()) + ": not the catalog they were made from");
  }
  std::unique_ptr<OceanGrids> grids;
  if (!in.data_dir.empty()) grids = std::make_unique<OceanGrids>(read_climatology(in.data_dir));
  std::vector<StormSeries> present, future;
  std::size_t left_out = 0;
  constexpr std::size_t block = 256;
  for (std::size_t first = 0; first < a.storms(); first += block) {
    const std::vector<StoredForecast> fa = a.read(first, block), fb = b.read(first, block);
    std::vector<std::string> sids;
    if (catalog) sids = catalog->sids(first, fa.size());
    for (std::size_t i = 0; i < fa.size(); ++i) {
      const StoredForecast &x = fa[i], &y = fb[i];
      const std::string who = "storm " + std::to_string(first + i) + " (" + x.sid + ")";
      if (x.sid != y.sid) throw InputError(in.future, 0, who + " is " + y.sid + " there: not the same storms");
      if (catalog && sids[i] != x.sid)
        throw InputError(in.catalog, 0, who + " is " + sids[i] + " in the catalog: not the catalog of the forecasts");
      if (x.status != "finished" || y.status != "finished" || x.rows.time.empty() || y.rows.time.empty()) {
        ++left_out;
        continue;
      }
      auto series = [&](const StoredForecast& f) {
        StormSeries s;
        s.lead_h = f.rows.lead_h;
        s.wind_kt = f.rows.wind_kt;
        if (grids) {
          s.over_land.resize(f.rows.lat.size());
          for (std::size_t k = 0; k < f.rows.lat.size(); ++k) {
            // The elevation does not change with the month: any day of the year will do.
            const OceanPoint p = ocean_at(*grids, f.rows.lat[k], f.rows.lon[k], 1, 15);
            s.over_land[k] = std::isfinite(p.elev) && p.elev > 0.0f;
          }
        }
        return s;
      };
      present.push_back(series(x));
      future.push_back(series(y));
    }
  }
  if (left_out > 0)
    notes.push_back(std::to_string(left_out) + " storms left out: they failed or stopped early in one climate or both");
  if (!grids) notes.push_back("no ocean grids given (--data DIR): landfall not compared");
  return compare_climates(present, future, options);
}

}  // namespace tarvo
