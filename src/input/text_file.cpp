#include "input/text_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "input/input_error.hpp"

namespace tarvo {

void read_whole_file(const std::string& path, const std::string& shown_name, std::string& out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw InputError(shown_name, 0, std::string("cannot open: ") + std::strerror(errno));
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw InputError(shown_name, 0, "cannot read: not a regular file");
  }
  // Read to the end whatever the size said (the file may change or be a pipe).
  std::size_t size = 0;
  out.resize(st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : 65536);
  for (;;) {
    if (size == out.size()) out.resize(out.size() * 2);
    const ssize_t got = ::read(fd, out.data() + size, out.size() - size);
    if (got < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      throw InputError(shown_name, 0, std::string("read error: ") + std::strerror(err));
    }
    if (got == 0) break;
    size += static_cast<std::size_t>(got);
  }
  ::close(fd);
  out.resize(size);
}

std::string read_whole_file(const std::string& path, const std::string& shown_name) {
  std::string out;
  read_whole_file(path, shown_name, out);
  return out;
}

}  // namespace tarvo
