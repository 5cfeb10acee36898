#pragma once
// A catalog of tracks (docs/catalog.md) written from storms in memory, one at
// a time: what tarvo-catalog pack makes of case directories.
#include <cstddef>
#include <string>
#include <vector>

#include "input/tracks/catalog.hpp"
#include "output/netcdf_file.hpp"

namespace tarvo {

// What else a catalog file says: attributes of its own (what made its
// environment), and whether its storms may lack an environment yet.
struct TrackCatalogExtras {
  std::vector<std::pair<std::string, std::string>> attributes;
  bool environment_required = true;  // false: NaN in vpot, shear, t600, rh600 (fill it with tarvo-catalog env)
  bool vpot_source = false;          // a per-fix variable vpot_source (CatalogStorm::vpot_source)
  bool origin = false;               // variables orig_event_flag and climada_id_no (CLIMADA's tracks)
};

class TrackCatalogWriter {
 public:
  TrackCatalogWriter(const std::string& path, std::size_t storms, const std::string& command,
                     const TrackCatalogExtras& extras = {});
  // Storms first .. first + count - 1 of `storms`, at those rows, one write a variable.
  void write(const std::vector<CatalogStorm>& storms, std::size_t first, std::size_t count);
  void finish();  // without it the file is not written

 private:
  NetcdfFile file_;
  std::size_t longest_ = 0;
  bool vpot_source_ = false, origin_ = false;
};

// The storms as a catalog file at `path`, made by `command` (its history),
// read back with every check of a catalog before it is put in place:
// InputError names the storm (index and sid) and what is wrong, and no file
// is left.
void write_track_catalog(const std::string& path, const std::vector<CatalogStorm>& storms,
                         const std::string& command, const TrackCatalogExtras& extras = {});

}  // namespace tarvo
