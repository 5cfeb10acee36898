#pragma once
// Two climates, one set of storms: the forecasts of the same catalog's
// storms under two environments (and two sets of ocean grids), compared as
// risk analysts look at them: the distribution of lifetime maximum
// intensity (quantiles with bootstrap confidence intervals), the frequency
// of each Saffir-Simpson category, the exceedance curve of the lifetime
// maximum wind, the intensity at landfall, and the share of storms that
// intensify rapidly. The storms are the same in both climates, so every
// change is paired: the bootstrap resamples storms, not climates.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvo {

// One storm's forecast in one climate, from its start (lead 0) on.
struct StormSeries {
  std::vector<float> lead_h, wind_kt;
  std::vector<bool> over_land;  // each sample's position over land (the grids' elevation above 0)
};

struct ComparisonOptions {
  std::vector<double> quantiles = {0.1, 0.25, 0.5, 0.75, 0.9, 0.99};
  int resamples = 1000;           // bootstrap resamples of the storms
  std::uint64_t seed = 1;
  double confidence = 0.9;        // of the intervals: the 5 and 95 % points of the resamples
  double ri_rise_kt = 30.0, ri_hours = 24.0;  // rapid intensification: this rise within these hours
  double threshold_from_kt = 34.0, threshold_to_kt = 180.0, threshold_step_kt = 2.0;  // of the exceedance curve
};

// A value in each climate and their change, each with its interval.
struct Paired {
  double present = 0, future = 0, change = 0;
  double present_low = 0, present_high = 0, future_low = 0, future_high = 0, change_low = 0, change_high = 0;
};

inline constexpr int category_count = 7;  // tropical depression, tropical storm, categories 1 to 5
inline constexpr const char* category_names[category_count] = {"TD", "TS", "1", "2", "3", "4", "5"};

struct ClimateComparison {
  std::size_t storms = 0;                     // compared: a forecast in both climates
  std::vector<double> quantiles;              // of the lifetime maximum intensity
  std::vector<Paired> lmi_quantile;           // kt
  Paired lmi_mean;                            // kt
  std::array<int, category_count> category_present{}, category_future{};  // storms by the category of their LMI
  std::vector<double> thresholds_kt;          // of the exceedance curve
  std::vector<double> exceedance_present, exceedance_future;  // share of storms whose LMI reaches each
  std::size_t landfalls = 0;                  // storms whose forecast reaches land after sea
  Paired landfall_wind;                       // kt at the first sample over land, mean of the landfalls
  Paired landfall_hurricane_share;            // of the landfalls at 64 kt or more
  Paired rapid_share;                         // of the storms: a rise of ri_rise_kt within ri_hours, at any time
};

// Storm k of `present` and of `future` are the same storm.
ClimateComparison compare_climates(const std::vector<StormSeries>& present, const std::vector<StormSeries>& future,
                                   const ComparisonOptions& options = {});

// The quantile q of values (sorted or not): linear between order statistics.
double quantile_of(std::vector<double> values, double q);

// Saffir-Simpson category of a wind (kt): 0 tropical depression, 1 tropical
// storm, 2 .. 6 categories 1 to 5.
int category_index(double wind_kt);

// The comparison as a table for people and as CSV
// (metric,quantity,present,future,change,present_low,present_high,future_low,future_high,change_low,change_high).
std::string comparison_table(const ClimateComparison& c, const std::string& present_label, const std::string& future_label);
std::string comparison_csv(const ClimateComparison& c);

}  // namespace tarvo
