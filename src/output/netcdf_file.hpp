#pragma once
// A new NetCDF-4 file, written to a temporary file beside its place and
// renamed over it by finish(): whole or not at all. Every fault throws
// InputError naming the file.
#include <cstddef>
#include <string>
#include <vector>

#include <netcdf.h>

namespace tarvo {

class NetcdfFile {
 public:
  explicit NetcdfFile(const std::string& path);
  ~NetcdfFile();  // without finish(): the temporary file is removed
  NetcdfFile(const NetcdfFile&) = delete;
  NetcdfFile& operator=(const NetcdfFile&) = delete;

  int id() const { return ncid_; }
  const std::string& path() const { return path_; }
  void check(int status, const std::string& what) const;
  int dimension(const char* name, std::size_t length);  // NC_UNLIMITED for a growing one
  // A variable over `dims`, with a `units` attribute when given; floating
  // point ones are filled with NaN.
  int variable(const char* name, nc_type type, const std::vector<int>& dims, const char* units = nullptr);
  void text(int var, const char* name, const std::string& value);  // NC_GLOBAL for the file's own
  // What made the file (output/provenance.hpp): `source`, `history` (the time
  // and `command`) and `tarvo_step_path`, as attributes of `group` (the file's
  // own by default; a group of its own where a reader would copy the file's
  // attributes into every record).
  void provenance(const std::string& command, int group = -1);
  // A group of the file, by its name: its id for attributes and variables.
  int group(const char* name);
  int var(const char* name) const;
  void put_index(const char* var, std::size_t n);  // 0 .. n-1, a coordinate's values
  // Closes and opens the file being written again (its ids stay), with a
  // chunk cache of `cache_bytes` for every variable: HDF5 lets go of the
  // metadata it has cached, which writing many strings makes grow.
  void reopen(std::size_t cache_bytes);
  void finish();

 private:
  std::string path_, tmp_;
  int ncid_ = -1;
};

}  // namespace tarvo
