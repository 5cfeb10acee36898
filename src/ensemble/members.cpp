#include "ensemble/members.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "ensemble/splitmix64.hpp"

namespace tarvo {

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr float nanf_ = std::numeric_limits<float>::quiet_NaN();

// NHC's 2023 track forecast cone (Atlantic; radii holding two thirds of the
// official errors of 2018-2022), n mi at each lead.
constexpr double cone_lead_h[] = {0, 12, 24, 36, 48, 60, 72, 96, 120};
constexpr double cone_radius_nmi[] = {0, 26, 39, 53, 67, 81, 99, 145, 205};

// A standard normal deviate (Box and Muller), its two uniforms in this order.
double normal(SplitMix64& r) {
  const double u1 = r.open_uniform();
  const double u2 = r.open_uniform();
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * pi * u2);
}

std::uint64_t fnv1a(const std::string& s) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (const unsigned char c : s) h = (h ^ c) * 0x100000001b3ull;
  return h;
}

double growth(double lead_h) { return lead_h > 0.0 ? std::sqrt(lead_h / 48.0) : 0.0; }

}  // namespace

bool parse_spreads(const std::string& text, EnsembleSpreads& s, std::string& why) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    start = comma == std::string::npos ? text.size() : comma + 1;
    const std::size_t eq = item.find('=');
    char* end = nullptr;
    const double v = eq == std::string::npos ? 0.0 : std::strtod(item.c_str() + eq + 1, &end);
    const std::string key = item.substr(0, eq);
    double* target = key == "vpot" ? &s.vpot_ms : key == "shear" ? &s.shear_ms : key == "t600" ? &s.t600_k
                   : key == "rh600" ? &s.rh600_pct : key == "gain" ? &s.gain_log : key == "track" ? &s.track_scale
                                                                                                   : nullptr;
    if (!target || eq == std::string::npos || *end != '\0' || !(v >= 0.0 && v <= 100.0)) {
      why = "spread '" + item + "' is not one tarvo takes: vpot=3 (m/s), shear=4 (m/s), t600=0.5 (K), rh600=8 (%), "
            "gain=0.3 (of its log), track=1 (times the cone's), each 0 to 100";
      return false;
    }
    *target = v;
  }
  return true;
}

std::string spreads_text(const EnsembleSpreads& s) {
  char buf[200];
  std::snprintf(buf, sizeof buf, "vpot=%g,shear=%g,t600=%g,rh600=%g,gain=%g,track=%g", s.vpot_ms, s.shear_ms, s.t600_k,
                s.rh600_pct, s.gain_log, s.track_scale);
  return buf;
}

double track_sigma_nmi(double lead_h) {
  constexpr double per_radius = 1.4823038073675112;  // sqrt(2 ln 3): two thirds of a 2-D normal error inside
  constexpr std::size_t n = sizeof cone_lead_h / sizeof cone_lead_h[0];
  if (lead_h <= 0.0) return 0.0;
  double r = cone_radius_nmi[n - 1] * lead_h / cone_lead_h[n - 1];  // beyond 120 h: in proportion
  for (std::size_t k = 1; k < n; ++k)
    if (lead_h <= cone_lead_h[k]) {
      const double w = (lead_h - cone_lead_h[k - 1]) / (cone_lead_h[k] - cone_lead_h[k - 1]);
      r = cone_radius_nmi[k - 1] + w * (cone_radius_nmi[k] - cone_radius_nmi[k - 1]);
      break;
    }
  return r / per_radius;
}

void member_inputs(const CatalogStorm& storm, int member, const EnsembleOptions& o, Track& track, ModelParams& params) {
  track = storm.track;
  params = storm.params;
  if (member <= 0) return;
  SplitMix64 r{o.seed ^ fnv1a(storm.sid) ^ (0x5bd1e995ull * static_cast<std::uint64_t>(member))};
  for (int k = 0; k < 4; ++k) r.next();
  const double z_vpot = normal(r), z_shear = normal(r), z_t600 = normal(r), z_rh = normal(r);
  const double z_x = normal(r), z_y = normal(r), z_gain = normal(r);
  const EnsembleSpreads& s = o.spreads;
  // The start: the last record at or before 0 h; leads count from it.
  int start = track.records.empty() ? 0 : track.records[0].hour;
  for (const TrackRecord& rec : track.records)
    if (rec.hour <= 0) start = rec.hour;
  for (TrackRecord& rec : track.records) {
    const double lead = rec.hour - start, g = growth(lead);
    if (g <= 0.0) continue;
    rec.vpot = static_cast<float>(std::max(1.0, rec.vpot + z_vpot * s.vpot_ms * g));
    rec.f6 = static_cast<float>(std::max(0.0, rec.f6 + z_shear * s.shear_ms * g));
    rec.t600 = static_cast<float>(rec.t600 + z_t600 * s.t600_k * g);
    rec.rh600 = static_cast<float>(std::clamp(rec.rh600 + z_rh * s.rh600_pct * g, 1.0, 100.0));
    // The position: the same direction of error all along, its size the cone's at each lead.
    const double sigma = track_sigma_nmi(lead) * s.track_scale;
    const double north = z_y * sigma / 60.0;
    const double east = z_x * sigma / (60.0 * std::max(0.1, std::cos(rec.lat * pi / 180.0)));
    rec.lat = static_cast<float>(std::clamp(rec.lat + north, -89.0, 89.0));
    rec.lon = static_cast<float>(rec.lon + east);
  }
  params.nudge_gain = static_cast<float>(params.nudge_gain * std::exp(z_gain * s.gain_log));
}

float value_at(const std::vector<float>& leads, const std::vector<float>& values, double lead_h) {
  const std::size_t n = std::min(leads.size(), values.size());
  for (std::size_t k = 0; k < n; ++k) {
    if (leads[k] == lead_h) return values[k];
    if (leads[k] > lead_h) {
      if (k == 0) return nanf_;
      const double w = (lead_h - leads[k - 1]) / (leads[k] - leads[k - 1]);
      return static_cast<float>(values[k - 1] + w * (values[k] - values[k - 1]));
    }
  }
  return nanf_;
}

EnsembleSummary summarize(const std::vector<MemberSeries>& members, const std::vector<float>& leads) {
  EnsembleSummary out;
  for (const MemberSeries& m : members) out.members += m.lead_h.empty() ? 0 : 1;
  const std::size_t steps = leads.size();
  out.mean_wind_kt.assign(steps, nanf_);
  out.mean_pressure_hpa.assign(steps, nanf_);
  for (auto& q : out.wind_quantile_kt) q.assign(steps, nanf_);
  std::vector<double> winds;
  for (std::size_t s = 0; s < steps; ++s) {
    winds.clear();
    double pressure = 0.0;
    for (const MemberSeries& m : members) {
      const float w = value_at(m.lead_h, m.wind_kt, leads[s]);
      if (std::isnan(w)) continue;
      winds.push_back(w);
      pressure += value_at(m.lead_h, m.pressure_hpa, leads[s]);
    }
    if (winds.empty()) continue;
    double sum = 0.0;
    for (double w : winds) sum += w;
    out.mean_wind_kt[s] = static_cast<float>(sum / static_cast<double>(winds.size()));
    out.mean_pressure_hpa[s] = static_cast<float>(pressure / static_cast<double>(winds.size()));
    std::sort(winds.begin(), winds.end());
    for (std::size_t q = 0; q < wind_quantiles.size(); ++q) {
      const double at = wind_quantiles[q] * static_cast<double>(winds.size() - 1);
      const std::size_t lo = static_cast<std::size_t>(std::floor(at)), hi = std::min(lo + 1, winds.size() - 1);
      out.wind_quantile_kt[q][s] = static_cast<float>(winds[lo] + (at - static_cast<double>(lo)) * (winds[hi] - winds[lo]));
    }
  }
  for (std::size_t t = 0; t < ri_thresholds.size(); ++t) {
    int reached = 0, rapid = 0;
    for (const MemberSeries& m : members) {
      const float v0 = value_at(m.lead_h, m.wind_kt, 0.0), v1 = value_at(m.lead_h, m.wind_kt, ri_thresholds[t].hours);
      if (std::isnan(v0) || std::isnan(v1)) continue;
      ++reached;
      rapid += v1 - v0 >= static_cast<float>(ri_thresholds[t].kt);
    }
    out.ri_probability[t] = reached > 0 ? static_cast<float>(rapid) / static_cast<float>(reached) : nanf_;
  }
  return out;
}

}  // namespace tarvo
