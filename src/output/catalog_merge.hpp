#pragma once
// Forecast files that each hold part of one catalog's storms (the shares of a
// job array, or the chunks a run keeps to be resumed), checked and joined.
#include <cstddef>
#include <string>
#include <vector>

#include "output/catalog_output.hpp"

namespace tarvo {

// What a forecast file holds: the size of its catalog, and per row the
// storm's catalog index, sid and status.
struct ForecastIndex {
  std::size_t catalog_storms = 0, steps = 0;
  std::vector<long long> storm;
  std::vector<std::string> sid, status;
  EnsembleLayout ensemble;  // its members, seed and spreads (none: members 0)
};

// InputError names the file when it is not a readable tarvo forecast file.
ForecastIndex read_forecast_index(const std::string& path);

// The parts joined into `out`, every storm of the catalog exactly once and in
// catalog order; written whole or not at all. InputError names the part and
// the storm when a storm is in two parts, or the storms no part holds.
// `command` made the joined file (its history).
void merge_forecasts(const std::vector<std::string>& parts, const std::string& out, const std::string& command);
// The same for storms first .. first + count - 1 of the catalog only.
void merge_forecasts(const std::vector<std::string>& parts, const std::string& out, std::size_t first,
                     std::size_t count, const std::string& command);

}  // namespace tarvo
