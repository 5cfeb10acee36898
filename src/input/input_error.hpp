#pragma once
// The error every input or output failure ends in: a message that names the
// file, the line (0 when no line applies) and what was expected there.
#include <stdexcept>
#include <string>

namespace tarvo {

class InputError : public std::runtime_error {
 public:
  InputError(std::string file, int line, const std::string& what)
      : std::runtime_error(compose(file, line, what)), file_(std::move(file)), line_(line) {}

  const std::string& file() const { return file_; }
  int line() const { return line_; }

 private:
  static std::string compose(const std::string& file, int line, const std::string& what) {
    return line > 0 ? file + ", line " + std::to_string(line) + ": " + what : file + ": " + what;
  }
  std::string file_;
  int line_;
};

}  // namespace tarvo
