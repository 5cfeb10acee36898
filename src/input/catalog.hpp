#pragma once
// A catalog of storms (docs/catalog.md): one CF-NetCDF trajectory file of
// many tracks with their run parameters, read a chunk of storms at a time.
#include <cstddef>
#include <string>
#include <vector>

#include "input/case_inputs.hpp"
#include "input/track.hpp"

namespace tarvo {

struct CatalogStorm {
  std::string sid, name;
  double reference_hours = 0;  // hours since 1970-01-01 00:00 of track time 0
  Track track;                 // named by its sid
  ModelParams params;
};

class CatalogReader {
 public:
  // Opens a catalog file (or a file image in memory) and checks its layout and
  // variables; InputError names the file and the variable.
  explicit CatalogReader(const std::string& path);
  CatalogReader(const void* data, std::size_t size, const std::string& shown);
  ~CatalogReader();
  CatalogReader(const CatalogReader&) = delete;
  CatalogReader& operator=(const CatalogReader&) = delete;

  std::size_t storms() const { return storms_; }
  std::size_t steps() const { return steps_; }
  const std::string& path() const { return path_; }

  // Storms first .. first + count - 1, each checked: InputError names the
  // file, the variable and the storm (index and sid).
  std::vector<CatalogStorm> read(std::size_t first, std::size_t count) const;
  // Every sid, checked unique and safe as file names.
  std::vector<std::string> sids() const;

 private:
  void adopt(int open_status);  // the file just opened, checked; closed again on a fault
  void check_layout();
  int var(const char* name) const;
  std::vector<std::string> strings(int varid, std::size_t first, std::size_t count) const;

  std::string path_;
  int ncid_ = -1;
  std::size_t storms_ = 0, steps_ = 0;
};

// Hours since 1970-01-01 00:00 as month, day, hour (proleptic Gregorian).
void civil_from_hours(long long hours, int& year, int& month, int& day, int& hour);
long long hours_from_civil(int year, int month, int day, int hour);

}  // namespace tarvo
