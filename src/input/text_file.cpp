#include "input/text_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "input/input_error.hpp"

namespace tarvo {

std::string read_whole_file(const std::string& path, const std::string& shown_name) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw InputError(shown_name, 0, std::string("cannot open: ") + std::strerror(errno));
  struct stat st {};
  if (fstat(fileno(f), &st) != 0 || S_ISDIR(st.st_mode)) {
    std::fclose(f);
    throw InputError(shown_name, 0, "cannot read: not a regular file");
  }
  std::string data;
  if (st.st_size > 0) data.reserve(static_cast<std::size_t>(st.st_size));
  char buf[1 << 16];
  std::size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, got);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) throw InputError(shown_name, 0, "read error");
  return data;
}

}  // namespace tarvo
