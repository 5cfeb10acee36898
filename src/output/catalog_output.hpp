#pragma once
// Forecasts of a catalog as one CF-NetCDF trajectory file with CLIMADA's
// variable names (docs/catalog.md), written to a temporary file beside its
// place and renamed over it only when complete.
#include <cstddef>
#include <string>

#include "input/catalog.hpp"
#include "output/track_output.hpp"

namespace tarvo {

class CatalogWriter {
 public:
  // A file for `storms` storms; the step dimension grows to the longest.
  CatalogWriter(const std::string& path, std::size_t storms);
  ~CatalogWriter();  // without finish(): the temporary file is removed
  CatalogWriter(const CatalogWriter&) = delete;
  CatalogWriter& operator=(const CatalogWriter&) = delete;

  // Storm `index` of the catalog: its samples (none when it failed or
  // stopped early) and its status text.
  // `row` is the storm's place in this file, `index` its place in the catalog.
  void write(std::size_t row, std::size_t index, const CatalogStorm& storm,
             const std::vector<OutputSample>& samples, const std::string& status);
  void finish();

 private:
  int var(const char* name) const;
  std::string path_, tmp_;
  int ncid_ = -1;
  std::size_t longest_ = 0;
};

// Saffir-Simpson category of a peak wind in knots: -1 (depression) to 5.
int category_of(float peak_kt);

}  // namespace tarvo
