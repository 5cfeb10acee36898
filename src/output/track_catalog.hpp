#pragma once
// A catalog of tracks (docs/catalog.md) written from storms in memory, one at
// a time: what tarvo-catalog pack makes of case directories.
#include <cstddef>
#include <string>

#include "input/catalog.hpp"
#include "output/netcdf_file.hpp"

namespace tarvo {

class TrackCatalogWriter {
 public:
  TrackCatalogWriter(const std::string& path, std::size_t storms);
  void write(std::size_t row, const CatalogStorm& storm);
  void finish();  // without it the file is not written

 private:
  NetcdfFile file_;
  std::size_t longest_ = 0;
};

}  // namespace tarvo
