#include "helpers.hpp"

#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace tarvo::test {

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  path_ = std::filesystem::temp_directory_path() /
          ("tarvo-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
}

std::string read_text(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

OceanGrids uniform_grids(float elev, float mld, float strat) {
  return OceanGrids::uniform(elev, mld, strat);
}

void write_uniform_data(const std::string& dir, float elev, float mld, float strat) {
  std::filesystem::create_directories(dir);
  {
    std::vector<float> e(static_cast<std::size_t>(OceanGrids::elev_cols) * OceanGrids::elev_rows, elev);
    std::ofstream f(dir + "/bathsmooth2.dat", std::ios::binary);
    f.write(reinterpret_cast<const char*>(e.data()), static_cast<std::streamsize>(e.size() * 4));
  }
  auto grid = [](float v) {
    std::string text;
    for (int j = 0; j < 180; ++j) text += "360*" + std::to_string(v) + "\n";
    return text;
  };
  for (int m = 1; m <= 12; ++m) {
    char mm[3];
    std::snprintf(mm, sizeof mm, "%02d", m);
    write_text(dir + "/mix" + mm, grid(mld));
    write_text(dir + "/stratnorm" + mm, grid(strat));
  }
}

std::string simple_track(int first, int last, float wind, const char* basin) {
  std::string t = "test track\n'" + std::string(basin) + "' 9 14 0\n caption\n";
  char buf[200];
  for (int h = first; h <= last; h += 6) {
    const float s = static_cast<float>(h - first) / 6.0f;
    std::snprintf(buf, sizeof buf, "%d %.2f %.2f %.1f 75.0 5.0 271.0 60.0\n", h, 15.0f + 0.1f * s,
                  300.0f - 0.5f * s, static_cast<double>(wind));
    t += buf;
  }
  return t;
}

void prepare_run(Run& run, const std::string& track, const std::string& params) {
  run.progress = nullptr;
  run.diagnostics = nullptr;
  run.parse_track(track, "track.in");
  run.parse_params(params, "params.in");
  run.smooth_track();
  run.sample_track();
  run.set_up();
  run.init_run();
}

int run_in(const std::string& dir, const std::string& program, std::string* out, std::string* err) {
  const std::string o = dir + "/.stdout", e = dir + "/.stderr";
  const std::string cmd = "cd '" + dir + "' && " + program + " > '" + o + "' 2> '" + e + "' < /dev/null";
  const int status = std::system(cmd.c_str());
  if (out) *out = read_text(o);
  if (err) *err = read_text(e);
  std::filesystem::remove(o);
  std::filesystem::remove(e);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::vector<std::string> generated_cases(const TempDir& dir, const std::vector<int>& seeds) {
  std::vector<std::string> cases;
  const std::string synth = quoted(TARVO_SYNTH) + " ";
  if (std::system((synth + quoted(dir / "world") + " > /dev/null").c_str()) != 0) return cases;
  for (const int seed : seeds) {
    const std::string name = dir / ("case" + std::to_string(seed));
    if (std::system((synth + "--no-grids --seed " + std::to_string(seed) + " " + quoted(name)).c_str()) != 0)
      return cases;
    std::filesystem::create_directory_symlink(dir / "world/data", name + "/data");
    cases.push_back(name);
  }
  return cases;
}

}  // namespace tarvo::test
