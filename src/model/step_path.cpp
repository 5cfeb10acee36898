#include "model/step_path.hpp"

#include <array>
#include <cstdlib>
#include <string>

namespace tarvo {

// The paths' tables, one per compilation of model/time_step.cpp.
extern const StepPath step_path_scalar;
extern const StepPath step_path_sse;
extern const StepPath step_path_avx2;
extern const StepPath step_path_avx512;

namespace {

bool cpu_runs(const StepPath& p) {
  const std::string_view name = p.name;
  if (name == "avx512") return __builtin_cpu_supports("avx512f");
  if (name == "avx2") return __builtin_cpu_supports("avx2");
  return true;  // scalar and sse are x86-64's baseline
}

struct Paths {
  std::array<const StepPath*, 4> list{};
  std::size_t n = 0;
  const StepPath* chosen = nullptr;
  std::string problem;

  Paths() {
    __builtin_cpu_init();
    for (const StepPath* p : {&step_path_scalar, &step_path_sse, &step_path_avx2, &step_path_avx512})
      if (cpu_runs(*p)) list[n++] = p;
    // The widest the CPU has, which is also the fastest measured (README,
    // Performance): 48 rings fill three AVX-512 vectors exactly.
    chosen = list[n - 1];
    if (const char* want = std::getenv("TARVO_SIMD"); want && *want) {
      const StepPath* p = find(want);
      if (p) {
        chosen = p;
      } else {
        problem = "TARVO_SIMD=" + std::string(want) + " is not a path this CPU runs; use one of:";
        for (std::size_t i = 0; i < n; ++i) problem += std::string(" ") + list[i]->name;
      }
    }
  }
  const StepPath* find(std::string_view name) const {
    for (std::size_t i = 0; i < n; ++i)
      if (name == list[i]->name) return list[i];
    return nullptr;
  }
};

const Paths& paths() {
  static const Paths p;
  return p;
}

}  // namespace

std::span<const StepPath* const> supported_step_paths() {
  return {paths().list.data(), paths().n};
}

const StepPath* find_step_path(std::string_view name) { return paths().find(name); }

const StepPath& default_step_path() { return *paths().chosen; }

std::string_view step_path_request_problem() { return paths().problem; }

}  // namespace tarvo
