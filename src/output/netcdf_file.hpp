#pragma once
// A new NetCDF-4 file, written to a temporary file beside its place and
// renamed over it by finish(): whole or not at all. Every fault throws
// InputError naming the file; a file given up (a fault, an error unwinding)
// is closed so that no fault of the disk can leave it half closed in HDF5.
#include <cstddef>
#include <string>
#include <vector>

#include <netcdf.h>

namespace tarvo {

// Ends the process at its exit before HDF5's shutdown: for a file whose
// close failed all the same (netcdf_file.cpp says why).
void keep_hdf5_from_closing_again();

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
  // The file closed after its data are on disk; a fault there gives it up.
  void close_synced(const char* what);
  // Closed without its contents, whatever the disk says; the temporary removed.
  void give_up();
  std::string path_, tmp_;
  int ncid_ = -1;
};

}  // namespace tarvo
