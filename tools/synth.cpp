// tarvo-synth: writes a complete, plausible case directory in the exact file
// formats of the program's inputs, from a made-up world:
//   DIR/data/bathsmooth2.dat        1440 x 721 little-endian float32 elevation (m)
//   DIR/data/mix01..mix12           monthly mixed-layer depth (m), 180 rows x 360
//   DIR/data/stratnorm01..12        monthly stratification, 180 rows x 360
//   DIR/track.in, DIR/params.in     a storm that crosses open ocean and makes landfall
// The same seed always gives the same bytes.
//   tarvo-synth [--seed N] [--no-grids] DIR
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;

// A small deterministic generator (splitmix64), the same on every platform.
struct Random {
  std::uint64_t state;
  std::uint64_t next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double uniform(double lo, double hi) { return lo + (hi - lo) * (next() >> 11) * 0x1.0p-53; }
};

struct Blob {
  double lat, lon, radius;  // degrees
};

// The made-up world: continents are sums of smooth blobs.
struct World {
  std::vector<Blob> blobs;
  double land_score(double lat, double lon) const {
    double f = 0.0;
    for (const Blob& b : blobs) {
      double dlon = std::fabs(lon - b.lon);
      if (dlon > 180.0) dlon = 360.0 - dlon;
      const double dx = dlon * std::cos(lat * pi / 180.0);
      const double dy = lat - b.lat;
      f += std::exp(-(dx * dx + dy * dy) / (b.radius * b.radius));
    }
    return f;
  }
  // Elevation in m: land above the coast line, a continental shelf down to
  // -200 m, then the deep ocean down to -4500 m.
  double elevation(double lat, double lon) const {
    const double f = land_score(lat, lon);
    if (f >= 0.5) return 2500.0 * (f - 0.5);
    if (f >= 0.4) return -20.0 - 1800.0 * (0.5 - f);
    return -200.0 - 4300.0 * std::fmin(1.0, (0.4 - f) / 0.2);
  }
};

World make_world(Random& rnd) {
  World w;
  // A main continent north-west of a warm ocean basin, where storms make landfall.
  w.blobs.push_back({30.0 + rnd.uniform(-2, 2), 258.0 + rnd.uniform(-2, 2), 13.0});
  w.blobs.push_back({45.0, 255.0, 14.0});
  w.blobs.push_back({15.0 + rnd.uniform(-1, 1), 268.0, 6.0});
  // Other land masses.
  w.blobs.push_back({5.0, 20.0, 20.0});
  w.blobs.push_back({40.0, 90.0, 25.0});
  w.blobs.push_back({-25.0, 135.0, 12.0});
  w.blobs.push_back({-15.0, 300.0, 14.0});
  w.blobs.push_back({-80.0, 0.0, 12.0});
  w.blobs.push_back({-80.0, 180.0, 12.0});
  for (int i = 0; i < 4; ++i)
    w.blobs.push_back({rnd.uniform(-50, 60), rnd.uniform(0, 360), rnd.uniform(2, 5)});
  return w;
}

bool make_dir(const std::string& d) { return mkdir(d.c_str(), 0777) == 0 || errno == EEXIST; }

bool write_file(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

bool write_elevation(const std::string& path, const World& w) {
  std::vector<float> grid(1440 * 721);
  for (int jb = 0; jb < 721; ++jb)
    for (int ib = 0; ib < 1440; ++ib)
      grid[jb * 1440 + ib] = static_cast<float>(w.elevation(-90.0 + jb * 0.25, ib * 0.25));
  // Little-endian bytes whatever the machine.
  std::string bytes(grid.size() * 4, '\0');
  for (std::size_t k = 0; k < grid.size(); ++k) {
    std::uint32_t u;
    std::memcpy(&u, &grid[k], 4);
    for (int b = 0; b < 4; ++b) bytes[k * 4 + b] = static_cast<char>((u >> (8 * b)) & 0xFF);
  }
  return write_file(path, bytes);
}

// Writes 180 rows of 360 values, ten values a line.
template <class F>
bool write_monthly(const std::string& path, F value) {
  std::string text;
  text.reserve(180 * 360 * 8);
  char buf[32];
  for (int j = 1; j <= 180; ++j) {
    const double lat = j - 90.501;
    for (int i = 1; i <= 360; ++i) {
      std::snprintf(buf, sizeof buf, "%7.2f", value(lat, static_cast<double>(i)));
      text += buf;
      text += (i % 10 == 0) ? '\n' : ' ';
    }
  }
  return write_file(path, text);
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t seed = 1;
  bool grids = true;
  std::string dir;
  for (int a = 1; a < argc; ++a) {
    const std::string arg = argv[a];
    if (arg == "--seed" && a + 1 < argc) {
      seed = std::strtoull(argv[++a], nullptr, 10);
    } else if (arg == "--no-grids") {
      grids = false;
    } else if (!arg.empty() && arg[0] != '-' && dir.empty()) {
      dir = arg;
    } else {
      std::fprintf(stderr, "usage: tarvo-synth [--seed N] [--no-grids] DIR\n");
      return 2;
    }
  }
  if (dir.empty()) {
    std::fprintf(stderr, "usage: tarvo-synth [--seed N] [--no-grids] DIR\n");
    return 2;
  }
  Random world_rnd{12345};  // one world for every seed: cases can share their grids
  const World world = make_world(world_rnd);
  Random rnd{seed};

  if (!make_dir(dir)) {
    std::fprintf(stderr, "tarvo-synth: cannot create %s\n", dir.c_str());
    return 2;
  }
  if (grids) {
    const std::string data = dir + "/data";
    if (!make_dir(data) || !write_elevation(data + "/bathsmooth2.dat", world)) {
      std::fprintf(stderr, "tarvo-synth: cannot write %s/bathsmooth2.dat\n", data.c_str());
      return 2;
    }
    for (int m = 1; m <= 12; ++m) {
      char mm[3];
      std::snprintf(mm, sizeof mm, "%02d", m);
      // Winter deepens the mixed layer, more so at high latitudes.
      auto winter = [m](double lat) {
        const double phase = 2.0 * pi * (m - 1) / 12.0 + (lat < 0 ? pi : 0.0);
        return 0.5 + 0.5 * std::cos(phase);
      };
      auto mld = [&](double lat, double lon) {
        const double polar = std::fmin(std::fabs(lat) / 60.0, 1.0);
        const double v = 18.0 + 25.0 * polar + 95.0 * polar * winter(lat) +
                         6.0 * std::sin(lon * pi / 45.0) * std::cos(lat * pi / 30.0);
        return std::fmin(150.0, std::fmax(15.0, v));
      };
      auto strat = [&](double lat, double lon) {
        const double tropical = 1.0 - std::fmin(std::fabs(lat) / 70.0, 1.0);
        return 8.0 + 24.0 * tropical + 5.0 * (1.0 - winter(lat)) +
               2.0 * std::cos(lon * pi / 60.0);
      };
      if (!write_monthly(data + "/mix" + mm, mld) || !write_monthly(data + "/stratnorm" + mm, strat)) {
        std::fprintf(stderr, "tarvo-synth: cannot write the monthly grids in %s\n", data.c_str());
        return 2;
      }
    }
  }

  // The storm: born over the warm basin, it moves west-north-west and makes
  // landfall on the main continent after three to four days.
  const int month = 8 + static_cast<int>(rnd.next() % 2);
  const int day = 1 + static_cast<int>(rnd.next() % 28);
  const int hour = 6 * static_cast<int>(rnd.next() % 4);
  const double lat0 = rnd.uniform(12.0, 17.0), lon0 = rnd.uniform(296.0, 304.0);
  const double target_lat = world.blobs[0].lat - 4.0, target_lon = world.blobs[0].lon + 8.0;
  const int first = -24 - 6 * static_cast<int>(rnd.next() % 3), last = 120;
  const double landfall_hours = rnd.uniform(84.0, 100.0);
  const double peak = rnd.uniform(95.0, 130.0);
  std::string track = "Synthetic storm, seed " + std::to_string(seed) + " -- made by tarvo-synth\n";
  char buf[256];
  std::snprintf(buf, sizeof buf, "'al' %d %d %d\n", month, day, hour);
  track += buf;
  track += "  hour    lat     lon   vmax(kt) vpot(m/s) shear(m/s) T600(K) RH600(%)\n";
  double hours_over_land = 0.0;  // the storm weakens from the hour it reaches land
  for (int t = first; t <= last; t += 6) {
    const double s = (t - first) / (landfall_hours - first);  // about 1 at landfall
    const double lat = lat0 + (target_lat - lat0) * s + 0.4 * std::sin(s * 3.0);
    double lon = lon0 + (target_lon - lon0) * s;
    if (lon >= 360.0) lon -= 360.0;
    if (world.elevation(lat, lon) > 0.0) hours_over_land += 6.0;
    double wind = 30.0 + (peak - 30.0) * std::fmin(1.0, std::fmax(0.0, (t - first) / 96.0));
    if (hours_over_land > 0) wind = std::fmax(20.0, wind * std::exp(-0.04 * hours_over_land));
    wind += rnd.uniform(-3.0, 3.0);
    const double vpot = 82.0 - 0.35 * (lat - 12.0) * 2.0 + rnd.uniform(-2.0, 2.0);
    const double shear = 4.0 + 6.0 * s + rnd.uniform(-1.5, 1.5);
    const double t600 = 271.5 - 0.1 * (lat - 15.0) + rnd.uniform(-0.4, 0.4);
    const double rh = 60.0 - 8.0 * s + rnd.uniform(-4.0, 4.0);
    std::snprintf(buf, sizeof buf, "%6d %6.1f %7.1f %5.0f %6.1f %6.1f %7.1f %5.0f\n", t, lat, lon,
                  wind, vpot, shear, t600, rh);
    track += buf;
  }
  const std::string params =
      "0.5      smoothing weight of the observed wind\n"
      "0.5      smoothing weight of the along-track distance\n"
      "0.5      smoothing weight of field 6\n"
      "2.0      intensity feedback gain\n";
  if (!write_file(dir + "/track.in", track) || !write_file(dir + "/params.in", params)) {
    std::fprintf(stderr, "tarvo-synth: cannot write the case files in %s\n", dir.c_str());
    return 2;
  }
  return 0;
}
