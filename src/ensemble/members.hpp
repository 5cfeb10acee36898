#pragma once
// An ensemble of a forecast: member 0 the storm as given, the others with
// the four environmental series along the track, the track's positions after
// the start and the intensity-feedback gain perturbed (docs/forecast.md says
// where each spread comes from); and what forecasters take from the members:
// the mean, the 10, 50 and 90 % quantiles of the maximum wind, and the
// probability of rapid intensification.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "input/tracks/catalog.hpp"

namespace tarvo {

// One standard deviation of each perturbation 48 h after the start, growing
// as the square root of the lead time (none up to the start); the track's
// from the official forecasts' errors (the cone) at each lead; the gain's a
// factor exp(gain_log z) for the whole run.
struct EnsembleSpreads {
  double vpot_ms = 3.0;
  double shear_ms = 4.0;
  double t600_k = 0.5;
  double rh600_pct = 8.0;
  double gain_log = 0.3;
  double track_scale = 1.0;  // of the cone's spread (0: positions not perturbed)
};

struct EnsembleOptions {
  int members = 0;          // 0 or 1: no ensemble
  std::uint64_t seed = 1;
  EnsembleSpreads spreads;
};

// "vpot=3,shear=4,t600=0.5,rh600=8,gain=0.3,track=1" (any of them); false, with `why`.
bool parse_spreads(const std::string& text, EnsembleSpreads& spreads, std::string& why);
std::string spreads_text(const EnsembleSpreads& spreads);

// One standard deviation (n mi) of each component of the official track
// forecasts' position error at `lead_h` hours, from the radii of NHC's 2023
// cone (two thirds of the 2018-2022 Atlantic errors within them): r / sqrt(2 ln 3).
double track_sigma_nmi(double lead_h);

// Member `member`'s track and parameters: member 0 the storm's own; others
// perturbed, the same for the same seed, storm id and member on any machine
// and in any order of running.
void member_inputs(const CatalogStorm& storm, int member, const EnsembleOptions& options, Track& track,
                   ModelParams& params);

// The thresholds of rapid intensification forecasters use: a rise of at
// least `kt` knots in `hours` hours from the start.
struct RapidIntensification {
  int kt, hours;
};
inline constexpr std::array<RapidIntensification, 5> ri_thresholds = {{{25, 24}, {30, 24}, {35, 24}, {45, 48}, {55, 48}}};
inline constexpr std::array<double, 3> wind_quantiles = {0.1, 0.5, 0.9};

// A member's forecast as the statistics take it: its samples' leads (h from
// the start), maximum wind (kt), central pressure (hPa) and position.
struct MemberSeries {
  std::vector<float> lead_h, wind_kt, pressure_hpa, lat, lon;
};

struct EnsembleSummary {
  int members = 0;                                // members with a forecast
  std::vector<float> mean_wind_kt, mean_pressure_hpa;
  std::array<std::vector<float>, 3> wind_quantile_kt;
  std::array<float, ri_thresholds.size()> ri_probability{};  // NaN where no member reaches the lead
};

// At each lead of `leads` (member 0's): the members' mean and quantiles
// (linear between order statistics), over those that have the lead; the
// share of members whose wind rises by each threshold from lead 0.
EnsembleSummary summarize(const std::vector<MemberSeries>& members, const std::vector<float>& leads);

// A series' value at a lead, linear between its samples; NaN outside.
float value_at(const std::vector<float>& leads, const std::vector<float>& values, double lead_h);

}  // namespace tarvo
