// A small deterministic generator (splitmix64): the same numbers from the
// same seed on every machine and compiler, for the ensemble's perturbations
// and the comparison's bootstrap.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvo {

struct SplitMix64 {
  std::uint64_t state;
  std::uint64_t next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in (0, 1), never 0 or 1.
  double open_uniform() { return (static_cast<double>(next() >> 11) + 0.5) * 0x1.0p-53; }
  // Uniform in 0 .. n - 1 (n > 0).
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
};

}  // namespace tarvo
