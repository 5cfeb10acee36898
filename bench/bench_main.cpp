// Benchmarks: loading the grids, the time loop alone (cost per step) and a
// whole run (grids, inputs, model, track.out) on a case directory.
//   tarvo_bench CASE_DIR [benchmark flags]     (CASE_DIR holds data/, track.in, params.in)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "driver/run_case.hpp"

namespace {

std::string case_dir = "demo";

void BM_LoadGrids(benchmark::State& state) {
  for (auto _ : state) {
    tarvo::OceanGrids g = tarvo::read_climatology(case_dir + "/data");
    benchmark::DoNotOptimize(g.elev_grid.data());
  }
  state.counters["values"] = 1555200 + 1038240;
}

void BM_TimeLoop(benchmark::State& state) {
  const tarvo::OceanGrids grids = tarvo::read_climatology(case_dir + "/data");
  auto prepared = std::make_unique<tarvo::Run>(grids, case_dir);
  prepared->progress = nullptr;
  tarvo::prepare_case(*prepared);
  long steps = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto run = std::make_unique<tarvo::Run>(*prepared);
    state.ResumeTiming();
    run->run_model();
    steps += run->n_steps;
  }
  state.counters["steps"] = benchmark::Counter(static_cast<double>(steps) / state.iterations());
  state.counters["per_step"] =
      benchmark::Counter(static_cast<double>(steps), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_WholeRun(benchmark::State& state) {
  for (auto _ : state) {
    const tarvo::OceanGrids grids = tarvo::read_climatology(case_dir + "/data");
    auto run = std::make_unique<tarvo::Run>(grids, case_dir);
    run->progress = nullptr;
    tarvo::run_case(*run);
  }
}

BENCHMARK(BM_LoadGrids)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TimeLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeRun)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && argv[1][0] != '-') {
    case_dir = argv[1];
    for (int i = 1; i + 1 < argc; ++i) argv[i] = argv[i + 1];
    --argc;
  }
  if (!std::filesystem::exists(case_dir + "/track.in")) {
    std::fprintf(stderr, "tarvo_bench: no case in %s (make one with tarvo-synth %s)\n",
                 case_dir.c_str(), case_dir.c_str());
    return 2;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
