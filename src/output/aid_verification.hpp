#pragma once
// The verification of forecast aids as forecast centres make it (NHC's
// verification reports): the intensity forecasts of an a-deck's techniques
// against the b-deck, in a homogeneous sample (at each lead, the cycles where
// every technique and the baseline have a forecast), counted only where the
// best track is a tropical or subtropical cyclone (TD, TS, HU, TY, ST, SD, SS)
// both at the cycle and at the verifying time; the mean absolute error and
// bias by lead, with the skill against OCD5 (where the deck has it) or
// persistence. And, from an ensemble's forecast files, the reliability of
// its probabilities of rapid intensification, with their Brier score and
// its skill against the sample's climatology.
#include <array>
#include <string>
#include <vector>

#include "ensemble/members.hpp"
#include "input/tracks/adeck.hpp"
#include "input/tracks/best_track.hpp"

namespace tarvo {

inline constexpr int aid_leads[] = {0, 12, 24, 36, 48, 60, 72, 96, 120};
inline constexpr int aid_lead_count = 9;
inline constexpr int reliability_bins = 10;

struct AidCell {
  int n = 0;
  double mae = 0, bias = 0;  // kt: forecast minus best track
  double skill = 0;          // %: 100 (1 - mae / the baseline's); NaN where the baseline has no error
};

struct RiReliability {
  RapidIntensification threshold{};
  int n = 0, observed = 0;                                   // forecasts verified; rapid intensifications seen
  std::array<int, reliability_bins> count{};                  // forecasts in each tenth of probability
  std::array<double, reliability_bins> mean_probability{}, observed_frequency{};  // NaN where empty
  double brier = 0, climatology_brier = 0, skill = 0;         // skill: 1 - brier / climatology's (NaN when 0)
};

struct AidVerification {
  std::vector<std::string> techs;               // as asked
  std::string baseline;                         // "OCD5" or "persistence"
  std::vector<std::vector<AidCell>> cells;      // [tech][lead]
  std::vector<AidCell> baseline_cells;          // [lead]
  int cycles = 0;                               // cycles of the techniques at all
  std::vector<RiReliability> reliability;       // one a threshold, when forecast files are given
  std::vector<std::string> notes;
};

// InputError names the deck (`shown`) when a technique asked for is not in it.
AidVerification verify_aids(const Adeck& adeck, const std::vector<BestTrack>& best, const std::vector<std::string>& techs,
                            const std::vector<std::string>& ensemble_files, const std::string& shown);

std::string aid_table(const AidVerification& v);
// tech,lead_h,n,mae_kt,bias_kt,skill_percent,baseline
std::string aid_csv(const AidVerification& v);
// threshold,bin,n,mean_probability,observed_frequency,brier,climatology_brier,brier_skill (empty without an ensemble)
std::string reliability_csv(const AidVerification& v);

}  // namespace tarvo
