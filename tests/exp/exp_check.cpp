// Every float through tarvo's exp: against glibc's expf of this machine, and
// each instruction-set path's lanes against the float. glibc's FMA build
// (picked on CPUs with FMA and AVX2) differs from its generic build, whose
// bits tarvo's exp gives, on two inputs only; they are the only differences
// allowed. Then the program runs itself again with glibc told to pick its
// generic builds (GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA): there tarvo's
// exp must equal glibc's expf on every float, and glibc's logf and cosf,
// which the model and its inputs call from glibc, must give the bits they
// give here over the model's ranges (logf of the middle level's relative
// humidity, 0.01 to 1; cosf of latitudes, |x| <= 1.6).
//   exp_check [FIRST LAST]     (exp's inputs as bit patterns; default all)
#include <unistd.h>

#include <cmath>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "setup/exp.hpp"

void exp_lanes_scalar(const float*, float*, std::size_t);
void exp_lanes_sse(const float*, float*, std::size_t);
void exp_lanes_avx2(const float*, float*, std::size_t);
void exp_lanes_avx512(const float*, float*, std::size_t);

namespace {

struct Path {
  const char* name;
  void (*run)(const float*, float*, std::size_t);
  bool usable;
};

std::uint32_t bits(float x) {
  std::uint32_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}
float from_bits(std::uint32_t u) {
  float x;
  std::memcpy(&x, &u, sizeof x);
  return x;
}
bool same(float a, float b) { return bits(a) == bits(b) || (std::isnan(a) && std::isnan(b)); }

// The inputs where glibc's FMA build of expf rounds otherwise than its generic build.
constexpr std::uint32_t fma_inputs[] = {0x4202422fu, 0xc27c65d9u};

// A hash of f's bits over the floats from `lo` to `hi` (both positive) and their negatives.
template <class F>
std::uint64_t bits_hash(F f, float lo, float hi, bool negatives) {
  std::uint64_t h = 14695981039346656037ull;
  for (std::uint32_t u = bits(lo); u <= bits(hi); ++u)
    for (const std::uint32_t sign : {0u, 0x80000000u}) {
      if (sign && !negatives) continue;
      h = (h ^ bits(f(from_bits(u | sign)))) * 1099511628211ull;
    }
  return h;
}

std::string hashes_of_logf_and_cosf() {
  float (*volatile glibc_logf)(float) = ::logf;
  float (*volatile glibc_cosf)(float) = ::cosf;
  char text[80];
  std::snprintf(text, sizeof text, "%016" PRIx64 " %016" PRIx64, bits_hash(glibc_logf, 0.01f, 1.0f, false),
                bits_hash(glibc_cosf, 0.0f, 1.6f, true));
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  // Run again by itself with glibc's generic builds: exp's float only, and the hashes.
  const bool generic = argc > 1 && std::string(argv[1]) == "--generic";
  std::uint64_t first = 0, last = 0xffffffffu;
  int a = generic ? 2 : 1;
  if (a + 1 < argc) {
    first = std::strtoull(argv[a], nullptr, 0);
    last = std::strtoull(argv[a + 1], nullptr, 0);
  }
  __builtin_cpu_init();
  const Path paths[] = {{"scalar", exp_lanes_scalar, !generic},
                        {"sse", exp_lanes_sse, !generic},
                        {"avx2", exp_lanes_avx2, !generic && __builtin_cpu_supports("avx2") != 0},
                        {"avx512", exp_lanes_avx512, !generic && __builtin_cpu_supports("avx512f") != 0}};
  // glibc's expf through a pointer the compiler cannot see through (no constant folding).
  float (*volatile glibc_expf)(float) = ::expf;

  constexpr std::uint64_t block = 1u << 16;
  std::mutex lock;
  std::vector<std::string> glibc_differences, lane_differences;
  std::uint64_t next = first;
  auto worker = [&] {
    std::vector<float> x(block), ours(block), lanes(block), theirs(block);
    for (;;) {
      std::uint64_t from;
      {
        std::lock_guard<std::mutex> hold(lock);
        if (next > last) return;
        from = next;
        next += block;
      }
      const std::uint64_t n = std::min<std::uint64_t>(block, last - from + 1);
      for (std::uint64_t i = 0; i < block; ++i) x[i] = from_bits(static_cast<std::uint32_t>(from + (i < n ? i : 0)));
      for (std::uint64_t i = 0; i < n; ++i) {
        ours[i] = tarvo::exp_float(x[i]);
        theirs[i] = glibc_expf(x[i]);
      }
      for (std::uint64_t i = 0; i < n; ++i)
        if (!same(ours[i], theirs[i])) {
          char line[160];
          std::snprintf(line, sizeof line, "input 0x%08" PRIx32 " (%.9g): glibc 0x%08" PRIx32 ", tarvo 0x%08" PRIx32,
                        bits(x[i]), x[i], bits(theirs[i]), bits(ours[i]));
          std::lock_guard<std::mutex> hold(lock);
          glibc_differences.push_back(line);
        }
      for (const Path& p : paths) {
        if (!p.usable) continue;
        p.run(x.data(), lanes.data(), block);
        for (std::uint64_t i = 0; i < n; ++i)
          if (!same(lanes[i], ours[i])) {
            char line[160];
            std::snprintf(line, sizeof line, "path %s, input 0x%08" PRIx32 ": lanes 0x%08" PRIx32 ", float 0x%08" PRIx32,
                          p.name, bits(x[i]), bits(lanes[i]), bits(ours[i]));
            std::lock_guard<std::mutex> hold(lock);
            lane_differences.push_back(line);
          }
      }
    }
  };
  const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::thread> pool;
  for (unsigned t = 0; t < threads; ++t) pool.emplace_back(worker);
  for (std::thread& t : pool) t.join();

  if (generic) {
    // For the first run: the differences, then the hashes.
    for (const std::string& d : glibc_differences) std::printf("%s\n", d.c_str());
    std::printf("hashes %s\n", hashes_of_logf_and_cosf().c_str());
    return 0;
  }
  std::printf("exp: %" PRIu64 " inputs 0x%08" PRIx64 "..0x%08" PRIx64 ", paths:", last - first + 1, first, last);
  for (const Path& p : paths)
    if (p.usable) std::printf(" %s", p.name);
  std::printf("\n");
  bool ok = lane_differences.empty();
  for (const std::string& d : lane_differences) std::printf("  %s\n", d.c_str());
  for (const std::string& d : glibc_differences) {
    std::uint32_t input = 0;
    std::sscanf(d.c_str(), "input 0x%" SCNx32, &input);
    bool known = false;
    for (const std::uint32_t f : fma_inputs) known = known || input == f;
    ok = ok && known;
    std::printf("  %s%s\n", d.c_str(), known ? "  (glibc's FMA build; its generic build gives tarvo's)" : "  NOT ALLOWED");
  }
  std::printf("exp: %zu differences from this machine's glibc, %zu between lanes and float\n", glibc_differences.size(),
              lane_differences.size());

  // The same inputs against glibc's generic builds, in a run of its own.
  char command[4200];
  std::snprintf(command, sizeof command,
                "GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA '/proc/%d/exe' --generic 0x%" PRIx64 " 0x%" PRIx64,
                static_cast<int>(getpid()), first, last);
  std::FILE* child = popen(command, "r");
  std::string hashes;
  std::size_t generic_differences = 0;
  char line[200];
  while (child && std::fgets(line, sizeof line, child)) {
    std::string l = line;
    if (!l.empty() && l.back() == '\n') l.pop_back();
    if (l.rfind("hashes ", 0) == 0) {
      hashes = l.substr(7);
    } else {
      ++generic_differences;
      std::printf("  against glibc's generic build: %s  NOT ALLOWED\n", l.c_str());
    }
  }
  const bool ran = child && pclose(child) == 0 && !hashes.empty();
  const std::string here = hashes_of_logf_and_cosf();
  std::printf("exp: %zu differences from glibc's generic build%s\n", generic_differences,
              ran ? "" : " (it did not run: FAILED)");
  std::printf("logf (0.01 to 1) and cosf (|x| <= 1.6) of glibc: its builds %s (hashes %s here, %s generic)\n",
              hashes == here ? "agree" : "DIFFER", here.c_str(), hashes.c_str());
  ok = ok && ran && generic_differences == 0 && hashes == here;
  std::printf("exp_check: %s\n", ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
