#pragma once
// Shared helpers of the tests: temporary case directories, small files and
// in-memory grids.
#include <filesystem>
#include <string>
#include <vector>

#include "input/input_error.hpp"
#include "input/cases/ocean_grids.hpp"
#include "model/run.hpp"

namespace tarvo::test {

// A fresh directory removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

void write_text(const std::string& path, const std::string& text);

// The message of the InputError that `f` throws ("" when none).
template <class F>
std::string failure(F&& f) {
  try {
    f();
  } catch (const InputError& e) {
    return e.what();
  }
  return "";
}
std::string read_text(const std::string& path);

// Grids with one value everywhere (every month).
OceanGrids uniform_grids(float elev, float mld, float strat);

// Writes a complete data directory of uniform grids (text grids written with
// repeat counts, so they stay small).
void write_uniform_data(const std::string& dir, float elev, float mld, float strat);

// A track.in with records every 6 h from `first` to `last` hours, moving
// west-north-west over the open ocean, steady `wind` knots.
std::string simple_track(int first, int last, float wind = 60.0f, const char* basin = "al");

inline constexpr const char* default_params = "0.5\n0.5\n0.5\n2.0\n";

// A run on the given grids whose inputs come from text, taken through the
// input stage, the set-up and the initialisation.
void prepare_run(Run& run, const std::string& track, const std::string& params = default_params);

// Runs a shell command line (quoted as needed) in a working directory; returns
// the exit status (128 + the signal when killed), filling standard output and
// standard error.
int run_in(const std::string& dir, const std::string& program, std::string* out,
           std::string* err);

// Storms made by tarvo-synth with the given seeds, sharing one made-up world
// made in `dir`: `dir`/world/data and `dir`/caseSEED (with a data link to the
// world's). Returns the case directories; fewer when tarvo-synth failed.
std::vector<std::string> generated_cases(const TempDir& dir, const std::vector<int>& seeds);

// A path quoted for the shell.
inline std::string quoted(const std::string& path) { return "'" + path + "'"; }

}  // namespace tarvo::test
