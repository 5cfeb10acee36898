#include "output/hindcast_verification.hpp"

#include <cmath>
#include <cstdio>
#include <limits>
#include <map>

#include "input/tracks/catalog.hpp"
#include "input/input_error.hpp"
#include "output/catalog_output.hpp"

namespace tarvo {

namespace {

constexpr std::size_t block = 256;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// A series at a time: linear between the two points around it, NaN outside.
double at_time(const std::vector<double>& t, const std::vector<double>& v, double x) {
  for (std::size_t k = 0; k < t.size(); ++k) {
    if (t[k] == x) return v[k];
    if (k + 1 < t.size() && t[k] < x && x < t[k + 1]) return v[k] + (x - t[k]) / (t[k + 1] - t[k]) * (v[k + 1] - v[k]);
  }
  return nan;
}

}  // namespace

HindcastVerification verify_hindcasts(const std::string& catalog, const std::string& forecasts) {
  // The best track of every storm: observed winds against hours from its start.
  struct Observed {
    std::string basin;
    double start_hours = 0;  // its start record's time, hours since 1970
    std::vector<double> hours, wind;
  };
  std::map<std::string, Observed> observed;
  {
    CatalogReader reader(catalog);
    reader.allow_missing_environment();
    reader.check_sids();
    for (std::size_t first = 0; first < reader.storms(); first += block)
      for (const CatalogStorm& s : reader.read(first, block)) {
        Observed o;
        o.basin = s.track.basin;
        int start = s.track.records.front().hour;  // the start record: the last fix at or before 0 h
        for (const TrackRecord& r : s.track.records)
          if (r.hour <= 0) start = r.hour;
        o.start_hours = s.reference_hours + start;
        for (const TrackRecord& r : s.track.records) {
          o.hours.push_back(r.hour - start);
          o.wind.push_back(static_cast<double>(r.vmax_kt));
        }
        observed.emplace(s.sid, std::move(o));
      }
  }
  // Sums by basin and lead: n, |error|, error, |persistence error|.
  struct Sums {
    int n = 0;
    double abs = 0, sum = 0, persistence = 0;
  };
  std::map<std::string, std::vector<Sums>> sums;
  HindcastVerification v;
  const ForecastReader reader(forecasts);
  for (std::size_t first = 0; first < reader.storms(); first += block)
    for (const StoredForecast& f : reader.read(first, block)) {
      const auto it = observed.find(f.sid);
      if (it == observed.end()) {
        v.unmatched.push_back(f.sid);
        continue;
      }
      const Observed& o = it->second;
      if (f.start_hours != o.start_hours) {
        int y[2], m[2], d[2], h[2];
        civil_from_hours(std::llround(f.start_hours), y[0], m[0], d[0], h[0]);
        civil_from_hours(std::llround(o.start_hours), y[1], m[1], d[1], h[1]);
        char buf[160];
        std::snprintf(buf, sizeof buf, "starts at %04d-%02d-%02d %02dh, the catalog's storm of that sid at %04d-%02d-%02d %02dh",
                      y[0], m[0], d[0], h[0], y[1], m[1], d[1], h[1]);
        throw InputError(forecasts, 0, "storm " + f.sid + ": its forecast " + buf + ": these are not forecasts of " +
                                           catalog + " (verify forecasts against the catalog they were made from)");
      }
      if (f.rows.time.empty()) {
        ++v.without_result;
        continue;
      }
      ++v.forecasts;
      std::vector<double> lead(f.rows.lead_h.begin(), f.rows.lead_h.end()), wind(f.rows.wind_kt.begin(), f.rows.wind_kt.end());
      const double start_obs = at_time(o.hours, o.wind, 0.0);
      for (const std::string& basin : {o.basin, std::string("all")}) {
        std::vector<Sums>& row = sums[basin];
        row.resize(hindcast_lead_count);
        for (int l = 0; l < hindcast_lead_count; ++l) {
          const double model = at_time(lead, wind, hindcast_leads[l]), obs = at_time(o.hours, o.wind, hindcast_leads[l]);
          if (!std::isfinite(model) || !std::isfinite(obs) || !std::isfinite(start_obs)) continue;  // homogeneous
          Sums& s = row[static_cast<std::size_t>(l)];
          ++s.n;
          s.abs += std::fabs(model - obs);
          s.sum += model - obs;
          s.persistence += std::fabs(start_obs - obs);
        }
      }
    }
  if (v.forecasts + v.without_result == 0)
    throw InputError(forecasts, 0, "none of its " + std::to_string(v.unmatched.size()) + " forecasts is a storm of " +
                                       catalog + " (verify forecasts against the catalog they were made from)");
  for (auto& [basin, row] : sums) {
    if (basin == "all") continue;
    v.basins.push_back(basin);
  }
  if (!sums.empty()) v.basins.push_back("all");
  for (const std::string& basin : v.basins) {
    std::vector<HindcastCell> cells(hindcast_lead_count);
    for (int l = 0; l < hindcast_lead_count; ++l) {
      const Sums& s = sums[basin][static_cast<std::size_t>(l)];
      HindcastCell& c = cells[static_cast<std::size_t>(l)];
      c.n = s.n;
      c.mae = s.n > 0 ? s.abs / s.n : nan;
      c.bias = s.n > 0 ? s.sum / s.n : nan;
      c.persistence_mae = s.n > 0 ? s.persistence / s.n : nan;
      c.skill = s.n > 0 && s.persistence > 0.0 ? 100.0 * (1.0 - s.abs / s.persistence) : nan;
    }
    v.cells.push_back(cells);
  }
  return v;
}

std::string hindcast_table(const HindcastVerification& v) {
  std::string out = "maximum wind, forecast minus best track (kt), homogeneous at each lead time\n";
  char buf[256];
  std::snprintf(buf, sizeof buf, "%-6s %-16s", "basin", "lead (h)");
  out += buf;
  for (int l : hindcast_leads) {
    std::snprintf(buf, sizeof buf, "%8d", l);
    out += buf;
  }
  out += "\n";
  for (std::size_t b = 0; b < v.basins.size(); ++b) {
    const std::vector<HindcastCell>& row = v.cells[b];
    auto line = [&](const char* what, auto value, const char* format) {
      std::snprintf(buf, sizeof buf, "%-6s %-16s", v.basins[b].c_str(), what);
      out += buf;
      for (const HindcastCell& c : row) {
        const double x = value(c);
        if (std::isfinite(x)) std::snprintf(buf, sizeof buf, format, x);
        else std::snprintf(buf, sizeof buf, "%8s", "-");
        out += buf;
      }
      out += "\n";
    };
    line("forecasts", [](const HindcastCell& c) { return static_cast<double>(c.n); }, "%8.0f");
    line("MAE", [](const HindcastCell& c) { return c.mae; }, "%8.1f");
    line("bias", [](const HindcastCell& c) { return c.bias; }, "%+8.1f");
    line("MAE persistence", [](const HindcastCell& c) { return c.persistence_mae; }, "%8.1f");
    line("skill (%)", [](const HindcastCell& c) { return c.skill; }, "%+8.0f");
  }
  std::snprintf(buf, sizeof buf, "%d forecasts verified", v.forecasts);
  out += buf;
  if (v.without_result > 0) out += ", " + std::to_string(v.without_result) + " without a result (failed or stopped early)";
  if (!v.unmatched.empty()) out += ", " + std::to_string(v.unmatched.size()) + " not in the catalog";
  out += "\n";
  return out;
}

std::string hindcast_csv(const HindcastVerification& v) {
  std::string out = "basin,lead_h,n,mae_kt,bias_kt,persistence_mae_kt,skill_percent\n";
  char buf[256];
  for (std::size_t b = 0; b < v.basins.size(); ++b)
    for (int l = 0; l < hindcast_lead_count; ++l) {
      const HindcastCell& c = v.cells[b][static_cast<std::size_t>(l)];
      std::snprintf(buf, sizeof buf, "%s,%d,%d,%.4f,%.4f,%.4f,%.2f\n", v.basins[b].c_str(), hindcast_leads[l], c.n, c.mae,
                    c.bias, c.persistence_mae, c.skill);
      out += buf;
    }
  return out;
}

}  // namespace tarvo
