#pragma once
// A catalog of tracks (docs/catalog.md) written from storms in memory, one at
// a time: what tarvo-catalog pack makes of case directories.
#include <cstddef>
#include <memory>
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

// A catalog whose number of storms is known only at its end (its storm
// dimension unlimited).
inline constexpr std::size_t storms_not_known = static_cast<std::size_t>(-1);

class TrackCatalogWriter {
 public:
  TrackCatalogWriter(const std::string& path, std::size_t storms, const std::string& command,
                     const TrackCatalogExtras& extras = {});
  // Storms first .. first + count - 1 of `storms`, at rows row .. (first by default).
  void write(const std::vector<CatalogStorm>& storms, std::size_t first, std::size_t count);
  void write_at(std::size_t row, const std::vector<CatalogStorm>& storms, std::size_t first, std::size_t count);
  void attribute(const std::string& name, const std::string& value);  // of the file
  void finish();  // without it the file is not written

 private:
  NetcdfFile file_;
  std::size_t longest_ = 0, rows_since_open_ = 0;
  bool vpot_source_ = false, origin_ = false;
};

// A catalog written a chunk of storms at a time (10^5 storms and more in the
// memory of a chunk), read back with every check of a catalog before it is
// put in place at finish(); without finish() nothing is left.
class TrackCatalogStream {
 public:
  TrackCatalogStream(const std::string& path, const std::string& command, const TrackCatalogExtras& extras = {});
  ~TrackCatalogStream();
  TrackCatalogStream(const TrackCatalogStream&) = delete;
  TrackCatalogStream& operator=(const TrackCatalogStream&) = delete;
  void add(const std::vector<CatalogStorm>& storms);
  void attribute(const std::string& name, const std::string& value);
  std::size_t storms() const { return written_; }
  // `environment_required` as TrackCatalogExtras's, known at the end.
  void finish(bool environment_required);

 private:
  std::string path_, staged_;
  std::unique_ptr<TrackCatalogWriter> writer_;
  std::size_t written_ = 0;
};

// The storms as a catalog file at `path`, made by `command` (its history),
// read back with every check of a catalog before it is put in place:
// InputError names the storm (index and sid) and what is wrong, and no file
// is left.
void write_track_catalog(const std::string& path, const std::vector<CatalogStorm>& storms,
                         const std::string& command, const TrackCatalogExtras& extras = {});

}  // namespace tarvo
