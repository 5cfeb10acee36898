#pragma once
// The ocean grids of data/ (bathsmooth2.dat, mix01..mix12,
// stratnorm01..stratnorm12) built from public data sets: an elevation grid
// (ETOPO 2022, GEBCO, any CF grid), twelve months of sea temperature on
// depth levels (the World Ocean Atlas, or a climate model's thetao
// climatology) and, optionally, a mixed-layer depth climatology; with
// grids.json, the record of what made them. The folder is written whole or
// not at all. The check of a built (or any) data/ folder is here too.
#include <array>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "grids/ocean_methods.hpp"

namespace tarvo {

struct GridBuildOptions {
  std::string elevation;                 // file
  std::string elevation_variable;        // when the file has several candidates
  std::vector<std::string> temperature;  // twelve files (one a month) or one of twelve months
  std::string temperature_variable;
  std::vector<std::string> mld;          // optional: a mixed-layer depth climatology
  std::string mld_variable;
  ColumnOptions column;
  std::string output;                    // the folder to write
  bool force = false;                    // replace an existing folder
  std::string command;                   // the command or call, for the record
};

struct GridMonthReport {
  std::size_t ocean_cells = 0;       // cells of the source's one-degree grid with a temperature profile
  std::size_t mld_filled = 0;        // model grid cells filled from neighbours
  std::size_t strat_filled = 0;
  std::size_t strat_clamped = 0;     // negative gradients set to 0 (source cells)
  std::size_t strat_short = 0;       // gradients over less than the full depth (source cells)
  std::size_t mld_from_temperature = 0;  // --mld given but missing where a profile is: its own mixed layer below
  float mld_min = 0, mld_max = 0, strat_min = 0, strat_max = 0;
};

struct GridBuildReport {
  std::string output;
  std::array<GridMonthReport, 12> months{};
  std::size_t elevation_missing_cells = 0;  // source cells without a value (skipped)
  float elevation_min = 0, elevation_max = 0;
  double ocean_share = 0;                   // of the elevation nodes below 0 m
  std::string json;                         // grids.json
  std::vector<std::string> notes;
  // A few lines: what was built, from what, what was filled.
  std::string summary() const;
};

// Builds the folder; InputError names the file, variable, month or cell of
// every fault, before anything is left under `output`. Progress lines go to
// `progress` (none when null).
GridBuildReport build_grids(const GridBuildOptions& options, std::FILE* progress);

// ----------------------------------------------------------- check

struct GridFieldRange {
  float min = 0, max = 0;
  double mean = 0;
};

struct GridCheckReport {
  std::string folder;
  GridFieldRange elevation;
  double ocean_share = 0;  // nodes below 0 m
  std::array<GridFieldRange, 12> mld{}, strat{};
  std::array<double, 12> clamped_share{};  // of the one-degree cells with a gradient of exactly 0
  std::array<long long, 12> mld_filled{}, strat_filled{};  // from grids.json (-1 when it is not there)
  std::vector<std::string> warnings;
  std::string table() const;
};

// Reads the folder as the model does, then looks at its values.
GridCheckReport check_grids(const std::string& folder);

}  // namespace tarvo
