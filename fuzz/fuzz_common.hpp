#pragma once
// Shared by the fuzz targets: the check that an input either parses or ends in
// the project's own error naming the file (and, for parse errors, the line).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "input/input_error.hpp"

namespace tarvo::fuzz {

inline void require(bool ok, const char* what, const std::string& detail = "") {
  if (!ok) {
    std::fprintf(stderr, "fuzz check failed: %s %s\n", what, detail.c_str());
    std::abort();
  }
}

// The error names `file` and, when `need_line`, a line from 1 to lines + 1.
inline void check_error(const InputError& e, const std::string& file, bool need_line, int lines) {
  require(e.file() == file, "error names another file:", e.what());
  if (need_line) require(e.line() >= 1 && e.line() <= lines + 1, "error line out of range:", e.what());
  require(std::string(e.what()).rfind(file, 0) == 0, "message does not start with the file:", e.what());
}

inline int count_lines(const char* data, std::size_t size) {
  int n = 1;
  for (std::size_t i = 0; i < size; ++i) n += data[i] == '\n';
  return n;
}

}  // namespace tarvo::fuzz
