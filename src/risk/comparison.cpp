#include "risk/comparison.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "ensemble/splitmix64.hpp"
#include "output/catalog_output.hpp"

namespace tarvo {

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// A storm's lifetime maximum intensity from its start on (NaN: no sample).
double lifetime_maximum(const StormSeries& s) {
  double peak = nan;
  for (std::size_t k = 0; k < s.wind_kt.size(); ++k)
    if (s.lead_h[k] >= 0.0f && std::isfinite(s.wind_kt[k]) && !(peak >= s.wind_kt[k])) peak = s.wind_kt[k];
  return peak;
}

// The wind at a lead, linear between samples (NaN outside them).
double wind_at(const StormSeries& s, double lead) {
  for (std::size_t k = 0; k < s.lead_h.size(); ++k) {
    if (s.lead_h[k] == lead) return s.wind_kt[k];
    if (s.lead_h[k] > lead) {
      if (k == 0) return nan;
      const double w = (lead - s.lead_h[k - 1]) / (s.lead_h[k] - s.lead_h[k - 1]);
      return s.wind_kt[k - 1] + w * (s.wind_kt[k] - s.wind_kt[k - 1]);
    }
  }
  return nan;
}

bool rapid(const StormSeries& s, double rise, double hours) {
  for (std::size_t k = 0; k < s.lead_h.size(); ++k) {
    if (s.lead_h[k] < 0.0f) continue;
    const double later = wind_at(s, s.lead_h[k] + hours);
    if (std::isfinite(later) && later - s.wind_kt[k] >= rise) return true;
  }
  return false;
}

// The first sample over land after one over the sea, from the start on; -1: none.
long landfall_sample(const StormSeries& s) {
  bool sea = false;
  for (std::size_t k = 0; k < s.lead_h.size(); ++k) {
    if (s.lead_h[k] < 0.0f) continue;
    if (k < s.over_land.size() && s.over_land[k]) {
      if (sea) return static_cast<long>(k);
    } else {
      sea = true;
    }
  }
  return -1;
}

double mean_of(const std::vector<double>& v) {
  if (v.empty()) return nan;
  double sum = 0.0;
  for (double x : v) sum += x;
  return sum / static_cast<double>(v.size());
}

// A statistic of paired samples (a, b) with bootstrap intervals of each and
// of the change b - a; `stat` maps a sample to its value.
template <class Stat>
Paired paired(const std::vector<double>& a, const std::vector<double>& b, Stat stat, const ComparisonOptions& o,
              std::uint64_t salt) {
  Paired p;
  p.present = stat(a);
  p.future = stat(b);
  p.change = p.future - p.present;
  const std::size_t n = a.size();
  if (n == 0 || o.resamples <= 0) {
    p.present_low = p.present_high = p.present;
    p.future_low = p.future_high = p.future;
    p.change_low = p.change_high = p.change;
    return p;
  }
  SplitMix64 r{o.seed ^ (salt * 0x5bd1e995ull)};
  std::vector<double> ra(n), rb(n), sa, sb, sc;
  for (int k = 0; k < o.resamples; ++k) {
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t j = r.below(n);
      ra[i] = a[j];
      rb[i] = b[j];
    }
    const double x = stat(ra), y = stat(rb);
    sa.push_back(x);
    sb.push_back(y);
    sc.push_back(y - x);
  }
  const double tail = (1.0 - o.confidence) / 2.0;
  p.present_low = quantile_of(sa, tail);
  p.present_high = quantile_of(sa, 1.0 - tail);
  p.future_low = quantile_of(sb, tail);
  p.future_high = quantile_of(sb, 1.0 - tail);
  p.change_low = quantile_of(sc, tail);
  p.change_high = quantile_of(sc, 1.0 - tail);
  return p;
}

}  // namespace

double quantile_of(std::vector<double> v, double q) {
  if (v.empty()) return nan;
  const double at = q * static_cast<double>(v.size() - 1);
  const std::size_t lo = static_cast<std::size_t>(std::floor(at));
  const std::size_t hi = std::min(lo + 1, v.size() - 1);
  std::nth_element(v.begin(), v.begin() + static_cast<long>(lo), v.end());
  const double a = v[lo];
  double b = a;
  if (hi != lo) b = *std::min_element(v.begin() + static_cast<long>(lo) + 1, v.end());
  return a + (at - static_cast<double>(lo)) * (b - a);
}

int category_index(double wind_kt) { return category_of(static_cast<float>(wind_kt)) + 1; }

ClimateComparison compare_climates(const std::vector<StormSeries>& present, const std::vector<StormSeries>& future,
                                   const ComparisonOptions& o) {
  ClimateComparison c;
  c.quantiles = o.quantiles;
  std::vector<double> lmi_a, lmi_b, land_a, land_b, ri_a, ri_b;
  for (std::size_t k = 0; k < std::min(present.size(), future.size()); ++k) {
    const double a = lifetime_maximum(present[k]), b = lifetime_maximum(future[k]);
    if (!std::isfinite(a) || !std::isfinite(b)) continue;
    lmi_a.push_back(a);
    lmi_b.push_back(b);
    ri_a.push_back(rapid(present[k], o.ri_rise_kt, o.ri_hours) ? 1.0 : 0.0);
    ri_b.push_back(rapid(future[k], o.ri_rise_kt, o.ri_hours) ? 1.0 : 0.0);
    ++c.category_present[static_cast<std::size_t>(category_index(a))];
    ++c.category_future[static_cast<std::size_t>(category_index(b))];
    // Landfall where the present's track meets land (the tracks are the same storms').
    const long at = landfall_sample(present[k]);
    if (at >= 0) {
      const double lead = present[k].lead_h[static_cast<std::size_t>(at)];
      const double wa = present[k].wind_kt[static_cast<std::size_t>(at)], wb = wind_at(future[k], lead);
      if (std::isfinite(wa) && std::isfinite(wb)) {
        land_a.push_back(wa);
        land_b.push_back(wb);
      }
    }
  }
  c.storms = lmi_a.size();
  c.landfalls = land_a.size();
  for (std::size_t q = 0; q < o.quantiles.size(); ++q)
    c.lmi_quantile.push_back(paired(
        lmi_a, lmi_b, [&](const std::vector<double>& v) { return quantile_of(v, o.quantiles[q]); }, o, q + 1));
  c.lmi_mean = paired(lmi_a, lmi_b, mean_of, o, 100);
  for (double t = o.threshold_from_kt; t <= o.threshold_to_kt + 1e-9; t += o.threshold_step_kt) {
    c.thresholds_kt.push_back(t);
    auto share = [&](const std::vector<double>& v) {
      std::size_t n = 0;
      for (double x : v) n += x >= t ? 1 : 0;
      return v.empty() ? nan : static_cast<double>(n) / static_cast<double>(v.size());
    };
    c.exceedance_present.push_back(share(lmi_a));
    c.exceedance_future.push_back(share(lmi_b));
  }
  c.landfall_wind = paired(land_a, land_b, mean_of, o, 200);
  c.landfall_hurricane_share = paired(
      land_a, land_b,
      [](const std::vector<double>& v) {
        std::size_t n = 0;
        for (double x : v) n += x >= 64.0 ? 1 : 0;
        return v.empty() ? nan : static_cast<double>(n) / static_cast<double>(v.size());
      },
      o, 300);
  c.rapid_share = paired(ri_a, ri_b, mean_of, o, 400);
  return c;
}

std::string comparison_table(const ClimateComparison& c, const std::string& a, const std::string& b) {
  std::string out;
  char line[256];
  const int ci = 90;
  std::snprintf(line, sizeof line, "%zu storms in both climates; changes %s minus %s, [%d %% bootstrap interval]\n",
                c.storms, b.c_str(), a.c_str(), ci);
  out += line;
  std::snprintf(line, sizeof line, "%-32s %9s %9s %9s %19s\n", "lifetime maximum intensity (kt)", a.substr(0, 9).c_str(),
                b.substr(0, 9).c_str(), "change", "");
  out += line;
  auto row = [&](const std::string& name, const Paired& p, const char* format) {
    char v[3][32], range[80];
    std::snprintf(v[0], sizeof v[0], format, p.present);
    std::snprintf(v[1], sizeof v[1], format, p.future);
    std::snprintf(v[2], sizeof v[2], format, p.change);
    char lo[32], hi[32];
    std::snprintf(lo, sizeof lo, format, p.change_low);
    std::snprintf(hi, sizeof hi, format, p.change_high);
    std::snprintf(range, sizeof range, "[%s, %s]", lo, hi);
    std::snprintf(line, sizeof line, "  %-30s %9s %9s %9s %19s\n", name.c_str(), v[0], v[1], v[2], range);
    out += line;
  };
  for (std::size_t q = 0; q < c.quantiles.size(); ++q) {
    char name[32];
    std::snprintf(name, sizeof name, "%g %%", 100.0 * c.quantiles[q]);
    row(name, c.lmi_quantile[q], "%.1f");
  }
  row("mean", c.lmi_mean, "%.1f");
  out += "storms by the category of their lifetime maximum\n";
  for (int k = 0; k < category_count; ++k) {
    std::snprintf(line, sizeof line, "  %-30s %9d %9d %+9d\n",
                  k < 2 ? (k == 0 ? "tropical depression" : "tropical storm")
                        : (std::string("category ") + category_names[k]).c_str(),
                  c.category_present[static_cast<std::size_t>(k)], c.category_future[static_cast<std::size_t>(k)],
                  c.category_future[static_cast<std::size_t>(k)] - c.category_present[static_cast<std::size_t>(k)]);
    out += line;
  }
  std::snprintf(line, sizeof line, "landfall (%zu storms reach land after sea)\n", c.landfalls);
  out += line;
  row("wind at landfall (kt)", c.landfall_wind, "%.1f");
  row("share at 64 kt or more", c.landfall_hurricane_share, "%.3f");
  out += "rapid intensification\n";
  row("share of the storms", c.rapid_share, "%.3f");
  return out;
}

std::string comparison_csv(const ClimateComparison& c) {
  std::string out = "metric,quantity,present,future,change,present_low,present_high,future_low,future_high,change_low,"
                    "change_high\n";
  char line[512];
  auto row = [&](const std::string& metric, const std::string& quantity, const Paired& p) {
    std::snprintf(line, sizeof line, "%s,%s,%.6g,%.6g,%.6g,%.6g,%.6g,%.6g,%.6g,%.6g,%.6g\n", metric.c_str(),
                  quantity.c_str(), p.present, p.future, p.change, p.present_low, p.present_high, p.future_low,
                  p.future_high, p.change_low, p.change_high);
    out += line;
  };
  for (std::size_t q = 0; q < c.quantiles.size(); ++q) {
    char name[32];
    std::snprintf(name, sizeof name, "%g", c.quantiles[q]);
    row("lmi_quantile_kt", name, c.lmi_quantile[q]);
  }
  row("lmi_mean_kt", "mean", c.lmi_mean);
  for (int k = 0; k < category_count; ++k) {
    Paired p;
    p.present = p.present_low = p.present_high = c.category_present[static_cast<std::size_t>(k)];
    p.future = p.future_low = p.future_high = c.category_future[static_cast<std::size_t>(k)];
    p.change = p.change_low = p.change_high = p.future - p.present;
    row("category_storms", category_names[k], p);
  }
  for (std::size_t t = 0; t < c.thresholds_kt.size(); ++t) {
    Paired p;
    p.present = p.present_low = p.present_high = c.exceedance_present[t];
    p.future = p.future_low = p.future_high = c.exceedance_future[t];
    p.change = p.change_low = p.change_high = p.future - p.present;
    char name[32];
    std::snprintf(name, sizeof name, "%g", c.thresholds_kt[t]);
    row("lmi_exceedance", name, p);
  }
  row("landfall_wind_kt", std::to_string(c.landfalls) + " storms", c.landfall_wind);
  row("landfall_hurricane_share", "64", c.landfall_hurricane_share);
  row("rapid_intensification_share", "any 24 h", c.rapid_share);
  return out;
}

}  // namespace tarvo
