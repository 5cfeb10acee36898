#pragma once
// The verification of hindcasts, as forecast centres tabulate intensity
// errors: the maximum wind of each forecast against the best track at lead
// times from its start, the mean absolute error and the bias by basin and
// overall, homogeneous (at each lead time the forecasts that have both a
// forecast and an observation there), with the number of forecasts and the
// skill against persistence (the wind at the start held constant).
#include <string>
#include <vector>

namespace tarvo {

inline constexpr int hindcast_leads[] = {0, 12, 24, 36, 48, 72, 96, 120};
inline constexpr int hindcast_lead_count = 8;

struct HindcastCell {
  int n = 0;                    // forecasts
  double mae = 0, bias = 0;     // kt: forecast minus best track
  double persistence_mae = 0;   // kt
  double skill = 0;             // % : 100 (1 - mae / persistence_mae); NaN when persistence has no error
};

struct HindcastVerification {
  std::vector<std::string> basins;              // tarvo's codes in order, then "all"
  std::vector<std::vector<HindcastCell>> cells;  // [basin][lead]
  int forecasts = 0;                            // storms of the catalog with a forecast
  int without_result = 0;                       // failed or stopped early
  std::vector<std::string> unmatched;           // sids of the forecast file not in the catalog
};

// From a catalog (the best track: observed winds at its fixes) and the
// forecast file of its storms; InputError names the file and the storm.
HindcastVerification verify_hindcasts(const std::string& catalog, const std::string& forecasts);

std::string hindcast_table(const HindcastVerification& v);
// basin,lead_h,n,mae_kt,bias_kt,persistence_mae_kt,skill_percent
std::string hindcast_csv(const HindcastVerification& v);

}  // namespace tarvo
