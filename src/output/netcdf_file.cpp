#include "output/netcdf_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>

#include "input/cf.hpp"
#include "input/input_error.hpp"
#include "output/provenance.hpp"

namespace tarvo {

namespace {

// Why a file is closed with such care. HDF5 1.10 (Debian 12's) frees a file's
// memory when its close fails (a write of its last data or metadata refused:
// a full disk, a quota, a file size limit) but keeps the file in its table of
// open files, and its shutdown at the program's exit closes that file again:
// a crash after tarvo has reported the fault. So a file is closed only after
// its data are on disk (nc_sync, which fails without harm), and a file that
// is given up is closed onto a sink where its last writes cannot fail.

// The process's own descriptors open on `path`.
std::vector<int> descriptors_of(const std::string& path) {
  std::vector<int> found;
  char want[PATH_MAX];
  if (!::realpath(path.c_str(), want)) return found;
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return found;
  while (const dirent* e = ::readdir(dir)) {
    char target[PATH_MAX] = {};
    const std::string link = std::string("/proc/self/fd/") + e->d_name;
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0 && std::strcmp(target, want) == 0) found.push_back(std::atoi(e->d_name));
  }
  ::closedir(dir);
  return found;
}

// At the program's exit, before HDF5's own shutdown: ends the process (its
// output flushed) when a file's close failed all the same, so that the
// shutdown never touches it. Registered after HDF5's handler, so run first.
void end_before_hdf5_shutdown(int status, void*) {
  std::fflush(nullptr);
  ::_exit(status);
}


// Closes a file whose contents are given up: HDF5's descriptors of `path`
// pointed at an anonymous file in memory (its last writes go there, needing
// no disk space), the soft file size limit raised to the hard one while it
// closes. True when the close succeeded.
bool close_given_up(int ncid, const std::string& path) {
  for (const int fd : descriptors_of(path)) {
    const int sink = ::memfd_create("tarvo-given-up", MFD_CLOEXEC);
    if (sink < 0) break;
    ::dup2(sink, fd);
    ::close(sink);
  }
  rlimit limit{};
  const bool lifted = ::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != limit.rlim_max;
  if (lifted) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_FSIZE, &raised);
  }
  const int status = nc_close(ncid);
  if (lifted) ::setrlimit(RLIMIT_FSIZE, &limit);
  if (status != NC_NOERR) keep_hdf5_from_closing_again();
  return status == NC_NOERR;
}

// HDF5 says only "HDF error": what the disk and the limits say of a file's folder.
std::string why_not_written(const std::string& path) {
  const std::string dir = path.find('/') == std::string::npos ? "." : path.substr(0, path.rfind('/') + 1);
  struct statvfs fs {};
  if (::statvfs(dir.c_str(), &fs) == 0) {
    const unsigned long long free_bytes = static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize;
    if (free_bytes < (1ull << 20))
      return " (the disk holding it is full: " + std::to_string(free_bytes / 1024) + " kB free)";
    if (fs.f_flag & ST_RDONLY) return " (the disk holding it is read-only)";
  }
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    return " (files are limited to " + std::to_string(static_cast<unsigned long long>(limit.rlim_cur) / 1024) +
           " kB here: ulimit -f)";
  return "";
}

}  // namespace

void keep_hdf5_from_closing_again() {
  static std::once_flag registered;
  std::call_once(registered, [] { ::on_exit(end_before_hdf5_shutdown, nullptr); });
}

NetcdfFile::NetcdfFile(const std::string& path) : path_(path), tmp_(path + ".tmp" + std::to_string(::getpid())) {
  bound_hdf5_free_lists();
  if (const int status = nc_create(tmp_.c_str(), NC_NETCDF4 | NC_CLOBBER, &ncid_); status != NC_NOERR) {
    ncid_ = -1;
    std::remove(tmp_.c_str());  // created, perhaps, before its first write failed
    check(status, "create");
  }
}

NetcdfFile::~NetcdfFile() {
  if (ncid_ >= 0) give_up();
}

void NetcdfFile::give_up() {
  close_given_up(ncid_, tmp_);
  ncid_ = -1;
  std::remove(tmp_.c_str());
}

void NetcdfFile::close_synced(const char* what) {
  // Everything on disk first: a sync that fails leaves the file whole in
  // HDF5's hands, to be given up.
  if (const int status = nc_sync(ncid_); status != NC_NOERR) {
    give_up();
    check(status, what);
  }
  const int status = nc_close(ncid_);
  ncid_ = -1;
  if (status != NC_NOERR) {
    keep_hdf5_from_closing_again();
    std::remove(tmp_.c_str());
    check(status, what);
  }
}

void NetcdfFile::check(int status, const std::string& what) const {
  if (status != NC_NOERR)
    throw InputError(path_, 0, "cannot write (" + what + "): " + nc_strerror(status) + why_not_written(path_));
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
  close_synced("close");
  if (const int status = nc_open(tmp_.c_str(), NC_WRITE, &ncid_); status != NC_NOERR) {
    ncid_ = -1;
    std::remove(tmp_.c_str());
    check(status, "open again");
  }
  small_chunk_caches(ncid_, cache_bytes);
}

void NetcdfFile::finish() {
  close_synced("close");
  if (std::rename(tmp_.c_str(), path_.c_str()) != 0) {
    std::remove(tmp_.c_str());
    throw InputError(path_, 0, "cannot rename the finished file into place");
  }
}

}  // namespace tarvo
