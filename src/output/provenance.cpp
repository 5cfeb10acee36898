#include "output/provenance.hpp"

#include <ctime>

#include "model/step_path.hpp"

namespace tarvo {

std::string source_text() { return "tarvo " + std::string(version()); }

std::string step_path_text() { return default_step_path().name; }

std::string history_line(std::string_view command) {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return std::string(stamp) + ": " + std::string(command);
}

std::string command_line(int argc, const char* const* argv) {
  std::string line;
  for (int a = 0; a < argc; ++a) {
    const std::string word = argv[a] ? argv[a] : "";
    if (a > 0) line += ' ';
    const bool plain = !word.empty() && word.find_first_not_of(
                                            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                                            "-_./=:,+@%") == std::string::npos;
    if (plain) {
      line += word;
      continue;
    }
    line += '\'';
    for (const char c : word) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
    line += '\'';
  }
  return line;
}

}  // namespace tarvo
