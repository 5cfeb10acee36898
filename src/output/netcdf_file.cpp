#include "output/netcdf_file.hpp"

#include <unistd.h>

#include <cstdio>
#include <limits>

#include "input/cf.hpp"
#include "input/input_error.hpp"
#include "output/provenance.hpp"

namespace tarvo {

NetcdfFile::NetcdfFile(const std::string& path) : path_(path), tmp_(path + ".tmp" + std::to_string(::getpid())) {
  bound_hdf5_free_lists();
  check(nc_create(tmp_.c_str(), NC_NETCDF4 | NC_CLOBBER, &ncid_), "create");
}

NetcdfFile::~NetcdfFile() {
  if (ncid_ >= 0) {
    nc_close(ncid_);
    std::remove(tmp_.c_str());
  }
}

void NetcdfFile::check(int status, const std::string& what) const {
  if (status != NC_NOERR) throw InputError(path_, 0, "cannot write (" + what + "): " + nc_strerror(status));
}

int NetcdfFile::dimension(const char* name, std::size_t length) {
  int id;
  check(nc_def_dim(ncid_, name, length, &id), name);
  return id;
}

int NetcdfFile::variable(const char* name, nc_type type, const std::vector<int>& dims, const char* units) {
  int id;
  check(nc_def_var(ncid_, name, type, static_cast<int>(dims.size()), dims.data(), &id), name);
  if (type == NC_FLOAT) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    check(nc_def_var_fill(ncid_, id, NC_FILL, &nan), name);
  } else if (type == NC_DOUBLE) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    check(nc_def_var_fill(ncid_, id, NC_FILL, &nan), name);
  }
  if (units) text(id, "units", units);
  return id;
}

void NetcdfFile::text(int var, const char* name, const std::string& value) {
  check(nc_put_att_text(ncid_, var, name, value.size(), value.c_str()), name);
}

void NetcdfFile::provenance(const std::string& command, int group) {
  const int id = group < 0 ? ncid_ : group;
  check(nc_put_att_text(id, NC_GLOBAL, "source", source_text().size(), source_text().c_str()), "source");
  const std::string history = history_line(command);
  check(nc_put_att_text(id, NC_GLOBAL, "history", history.size(), history.c_str()), "history");
  const std::string path = step_path_text();
  check(nc_put_att_text(id, NC_GLOBAL, "tarvo_step_path", path.size(), path.c_str()), "tarvo_step_path");
}

int NetcdfFile::group(const char* name) {
  int id;
  check(nc_def_grp(ncid_, name, &id), name);
  return id;
}

int NetcdfFile::var(const char* name) const {
  int id = -1;
  check(nc_inq_varid(ncid_, name, &id), name);
  return id;
}

void NetcdfFile::put_index(const char* name, std::size_t n) {
  std::vector<int> index(n);
  for (std::size_t i = 0; i < n; ++i) index[i] = static_cast<int>(i);
  const std::size_t zero[] = {0}, count[] = {n};
  if (n > 0) check(nc_put_vara_int(ncid_, var(name), zero, count, index.data()), name);
}

void NetcdfFile::reopen(std::size_t cache_bytes) {
  check(nc_close(ncid_), "close");
  ncid_ = -1;
  check(nc_open(tmp_.c_str(), NC_WRITE, &ncid_), "open again");
  small_chunk_caches(ncid_, cache_bytes);
}

void NetcdfFile::finish() {
  const int status = nc_close(ncid_);
  ncid_ = -1;
  if (status != NC_NOERR) {
    std::remove(tmp_.c_str());
    check(status, "close");
  }
  if (std::rename(tmp_.c_str(), path_.c_str()) != 0) {
    std::remove(tmp_.c_str());
    throw InputError(path_, 0, "cannot rename the finished file into place");
  }
}

}  // namespace tarvo
