#include "output/aid_verification.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <set>

#include "input/input_error.hpp"
#include "output/atcf_output.hpp"
#include "output/catalog_output.hpp"

namespace tarvo {

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

bool tropical(const std::string& type) {
  static const std::set<std::string> kinds = {"TD", "TS", "HU", "TY", "ST", "SD", "SS"};
  return kinds.count(type) > 0;
}

// The best track's fix of a storm at a time (its wind and kind), or null.
const BestFix* fix_at(const std::vector<BestTrack>& best, const std::string& basin, int number, double hours) {
  for (const BestTrack& t : best)
    if (t.basin == basin && t.cyclone_number == number)
      for (const BestFix& f : t.fixes)
        if (std::fabs(f.hours - hours) < 1e-6) return &f;
  return nullptr;
}

// An aid's wind at a TAU: the line of that TAU, or linear between the two around it.
double wind_at(const AidForecast& a, int tau) {
  const std::vector<AidFix>& x = a.fixes;
  for (std::size_t k = 0; k < x.size(); ++k) {
    if (x[k].tau == tau) return x[k].vmax_kt;
    if (k > 0 && x[k - 1].tau < tau && tau < x[k].tau)
      return x[k - 1].vmax_kt + (tau - x[k - 1].tau) * (x[k].vmax_kt - x[k - 1].vmax_kt) / (x[k].tau - x[k - 1].tau);
  }
  return nan;
}

}  // namespace

AidVerification verify_aids(const Adeck& adeck, const std::vector<BestTrack>& best, const std::vector<std::string>& techs,
                            const std::vector<std::string>& ensemble_files, const std::string& shown) {
  AidVerification v;
  v.techs = techs;
  const std::string present = adeck.techniques();
  for (const std::string& t : techs)
    if (std::none_of(adeck.forecasts.begin(), adeck.forecasts.end(), [&](const AidForecast& a) { return a.tech == t; }))
      throw InputError(shown, 0, "the technique " + t + " is not in the a-deck; its techniques: " + present);
  const bool ocd5 = std::any_of(adeck.forecasts.begin(), adeck.forecasts.end(), [](const AidForecast& a) { return a.tech == "OCD5"; });
  v.baseline = ocd5 ? "OCD5" : "persistence";
  // Every cycle of any technique asked for, by storm.
  std::set<std::tuple<std::string, int, double>> cycles;
  for (const AidForecast& a : adeck.forecasts)
    if (std::find(techs.begin(), techs.end(), a.tech) != techs.end()) cycles.insert({a.basin, a.number, a.cycle_hours});
  v.cycles = static_cast<int>(cycles.size());
  struct Sums {
    int n = 0;
    double abs = 0, sum = 0;
  };
  std::vector<std::vector<Sums>> sums(techs.size(), std::vector<Sums>(aid_lead_count));
  std::vector<Sums> base(aid_lead_count);
  int not_tropical = 0;
  for (const auto& [basin, number, cycle] : cycles) {
    const BestFix* start = fix_at(best, basin, number, cycle);
    if (!start || !tropical(start->type) || !std::isfinite(start->wind_kt)) {
      ++not_tropical;
      continue;
    }
    for (int l = 0; l < aid_lead_count; ++l) {
      const int lead = aid_leads[l];
      const BestFix* end = fix_at(best, basin, number, cycle + lead);
      if (!end || !tropical(end->type) || !std::isfinite(end->wind_kt)) continue;
      // Homogeneous: every technique and the baseline have a forecast here.
      std::vector<double> winds;
      bool all = true;
      for (const std::string& t : techs) {
        const AidForecast* a = adeck.find(t, cycle);
        const double w = a && a->basin == basin && a->number == number ? wind_at(*a, lead) : nan;
        all = all && std::isfinite(w);
        winds.push_back(w);
      }
      double baseline = start->wind_kt;  // persistence: the wind at the cycle held
      if (ocd5) {
        const AidForecast* a = adeck.find("OCD5", cycle);
        baseline = a ? wind_at(*a, lead) : nan;
      }
      if (!all || !std::isfinite(baseline)) continue;
      for (std::size_t t = 0; t < techs.size(); ++t) {
        const double e = winds[t] - end->wind_kt;
        ++sums[t][static_cast<std::size_t>(l)].n;
        sums[t][static_cast<std::size_t>(l)].abs += std::fabs(e);
        sums[t][static_cast<std::size_t>(l)].sum += e;
      }
      const double e = baseline - end->wind_kt;
      ++base[static_cast<std::size_t>(l)].n;
      base[static_cast<std::size_t>(l)].abs += std::fabs(e);
      base[static_cast<std::size_t>(l)].sum += e;
    }
  }
  auto cell = [](const Sums& s) {
    AidCell c;
    c.n = s.n;
    c.mae = s.n > 0 ? s.abs / s.n : nan;
    c.bias = s.n > 0 ? s.sum / s.n : nan;
    return c;
  };
  for (int l = 0; l < aid_lead_count; ++l) v.baseline_cells.push_back(cell(base[static_cast<std::size_t>(l)]));
  for (std::size_t t = 0; t < techs.size(); ++t) {
    v.cells.emplace_back();
    for (int l = 0; l < aid_lead_count; ++l) {
      AidCell c = cell(sums[t][static_cast<std::size_t>(l)]);
      const double b = v.baseline_cells[static_cast<std::size_t>(l)].mae;
      c.skill = b > 0.0 ? 100.0 * (1.0 - c.mae / b) : nan;
      v.cells.back().push_back(c);
    }
  }
  if (not_tropical > 0)
    v.notes.push_back(std::to_string(not_tropical) + " cycles left out: the best track is not a tropical or subtropical "
                                                     "cyclone at the cycle (or has no fix there)");
  // The ensemble's probabilities of rapid intensification against what the best track did.
  if (!ensemble_files.empty()) {
    v.reliability.resize(ri_thresholds.size());
    for (std::size_t t = 0; t < ri_thresholds.size(); ++t) v.reliability[t].threshold = ri_thresholds[t];
    std::vector<std::vector<std::pair<double, int>>> pairs(ri_thresholds.size());
    for (const std::string& path : ensemble_files) {
      const ForecastReader reader(path);
      if (reader.ensemble().members == 0)
        throw InputError(path, 0, "is not the forecast file of an ensemble (tarvo-batch --members N)");
      for (std::size_t first = 0; first < reader.storms(); first += 256)
        for (const StoredForecast& f : reader.read_items(first, 256)) {
          const BestFix* start = fix_at(best, f.basin, f.cyclone_number, f.start_hours);
          if (!start || !tropical(start->type) || !std::isfinite(start->wind_kt)) continue;
          for (std::size_t t = 0; t < ri_thresholds.size(); ++t) {
            const BestFix* end = fix_at(best, f.basin, f.cyclone_number, f.start_hours + ri_thresholds[t].hours);
            const double p = f.ensemble.summary.ri_probability[t];
            if (!end || !std::isfinite(end->wind_kt) || !std::isfinite(p)) continue;
            pairs[t].push_back({p, end->wind_kt - start->wind_kt >= ri_thresholds[t].kt ? 1 : 0});
          }
        }
    }
    for (std::size_t t = 0; t < ri_thresholds.size(); ++t) {
      RiReliability& r = v.reliability[t];
      std::array<double, reliability_bins> sum_p{}, sum_o{};
      double brier = 0.0;
      for (const auto& [p, o] : pairs[t]) {
        ++r.n;
        r.observed += o;
        const int bin = std::min(reliability_bins - 1, static_cast<int>(p * reliability_bins));
        ++r.count[static_cast<std::size_t>(bin)];
        sum_p[static_cast<std::size_t>(bin)] += p;
        sum_o[static_cast<std::size_t>(bin)] += o;
        brier += (p - o) * (p - o);
      }
      for (int b = 0; b < reliability_bins; ++b) {
        const int c = r.count[static_cast<std::size_t>(b)];
        r.mean_probability[static_cast<std::size_t>(b)] = c > 0 ? sum_p[static_cast<std::size_t>(b)] / c : nan;
        r.observed_frequency[static_cast<std::size_t>(b)] = c > 0 ? sum_o[static_cast<std::size_t>(b)] / c : nan;
      }
      const double climate = r.n > 0 ? static_cast<double>(r.observed) / r.n : nan;
      r.brier = r.n > 0 ? brier / r.n : nan;
      r.climatology_brier = climate * (1.0 - climate);
      r.skill = r.climatology_brier > 0.0 ? 1.0 - r.brier / r.climatology_brier : nan;
    }
  }
  return v;
}

std::string aid_table(const AidVerification& v) {
  auto number = [](double x, const char* format) {
    char buf[32];
    if (std::isnan(x)) return std::string("      -");
    std::snprintf(buf, sizeof buf, format, x);
    return std::string(buf);
  };
  std::string out = "maximum wind, forecast minus best track (kt), homogeneous at each lead; tropical and subtropical "
                    "cyclones only\n";
  out += "technique  lead (h)";
  for (const int l : aid_leads) out += number(l, "%7.0f");
  out += "\n";
  auto rows = [&](const std::string& name, const std::vector<AidCell>& cells, bool skill) {
    out += name + std::string(name.size() < 11 ? 11 - name.size() : 1, ' ') + "n       ";
    for (const AidCell& c : cells) out += number(c.n, "%7.0f");
    out += "\n" + std::string(11, ' ') + "MAE     ";
    for (const AidCell& c : cells) out += number(c.mae, "%7.1f");
    out += "\n" + std::string(11, ' ') + "bias    ";
    for (const AidCell& c : cells) out += number(c.bias, "%+7.1f");
    if (skill) {
      out += "\n" + std::string(11, ' ') + "skill % ";
      for (const AidCell& c : cells) out += number(c.skill, "%+7.0f");
    }
    out += "\n";
  };
  for (std::size_t t = 0; t < v.techs.size(); ++t) rows(v.techs[t], v.cells[t], true);
  rows(v.baseline, v.baseline_cells, false);
  out += "skill: against " + v.baseline + (v.baseline == "OCD5" ? " (the a-deck's climatology and persistence)"
                                                               : " (the wind at the cycle held; the a-deck has no OCD5)") + "\n";
  for (const std::string& n : v.notes) out += n + "\n";
  if (!v.reliability.empty()) {
    out += "\nprobability of rapid intensification: reliability (forecasts, mean probability -> observed frequency "
           "in tenths), Brier score and its skill against the sample's climatology\n";
    for (const RiReliability& r : v.reliability) {
      char buf[160];
      std::snprintf(buf, sizeof buf, "  %2d kt/%2d h: %d forecasts, %d observed; Brier %.3f (climatology %.3f), skill %s\n",
                    r.threshold.kt, r.threshold.hours, r.n, r.observed, r.brier, r.climatology_brier,
                    std::isnan(r.skill) ? "-" : number(r.skill, "%+.2f").c_str());
      out += buf;
    }
  }
  return out;
}

std::string aid_csv(const AidVerification& v) {
  std::string out = "tech,lead_h,n,mae_kt,bias_kt,skill_percent,baseline\n";
  char buf[200];
  auto row = [&](const std::string& tech, const std::vector<AidCell>& cells) {
    for (int l = 0; l < aid_lead_count; ++l) {
      const AidCell& c = cells[static_cast<std::size_t>(l)];
      std::snprintf(buf, sizeof buf, "%s,%d,%d,%.4f,%.4f,%.2f,%s\n", tech.c_str(), aid_leads[l], c.n, c.mae, c.bias,
                    c.skill, v.baseline.c_str());
      out += buf;
    }
  };
  for (std::size_t t = 0; t < v.techs.size(); ++t) row(v.techs[t], v.cells[t]);
  row(v.baseline, v.baseline_cells);
  return out;
}

std::string reliability_csv(const AidVerification& v) {
  if (v.reliability.empty()) return "";
  std::string out = "threshold,bin,n,mean_probability,observed_frequency,brier,climatology_brier,brier_skill\n";
  char buf[200];
  for (const RiReliability& r : v.reliability)
    for (int b = 0; b < reliability_bins; ++b) {
      std::snprintf(buf, sizeof buf, "%dkt/%dh,%d,%d,%.4f,%.4f,%.5f,%.5f,%.4f\n", r.threshold.kt, r.threshold.hours, b,
                    r.count[static_cast<std::size_t>(b)], r.mean_probability[static_cast<std::size_t>(b)],
                    r.observed_frequency[static_cast<std::size_t>(b)], r.brier, r.climatology_brier, r.skill);
      out += buf;
    }
  return out;
}

}  // namespace tarvo
