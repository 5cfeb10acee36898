#pragma once
// Risk studies: the forecasts of one catalog's storms under two climates
// compared (risk/comparison.hpp says what is compared, and how).
#include <string>
#include <vector>

#include "risk/comparison.hpp"

namespace tarvo {

struct ComparisonInputs {
  std::string present, future;  // forecast files of the same catalog's storms (tarvo-batch --out)
  std::string catalog;          // that catalog: its storms must be those of both files
  std::string data_dir;         // ocean grids whose elevation says where land is (landfall); empty: none
};

// InputError names the file and the storm of every mismatch: files of
// different catalogs, a storm whose sid differs. Storms that failed or
// stopped early in either climate are left out, and said in `notes`.
ClimateComparison compare_forecast_files(const ComparisonInputs& inputs, const ComparisonOptions& options,
                                         std::vector<std::string>& notes);

}  // namespace tarvo
