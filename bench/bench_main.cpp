// Benchmarks: loading the grids, the time loop alone (cost per step) and a
// whole run (grids, inputs, model, track.out) on a case directory.
//   tarvo_bench CASE_DIR [benchmark flags]     (CASE_DIR holds data/, track.in, params.in)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tools/case_run.hpp"

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
  state.SetLabel(prepared->path->name);
  state.counters["steps"] = benchmark::Counter(static_cast<double>(steps) / state.iterations());
  state.counters["per_step"] =
      benchmark::Counter(static_cast<double>(steps), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The time loops of eight copies of the case streamed through one thread,
// storm_lanes stepping together: the cost of a step of one storm among them.
void BM_StormsTogether(benchmark::State& state) {
  const tarvo::OceanGrids grids = tarvo::read_climatology(case_dir + "/data");
  auto prepared = std::make_unique<tarvo::Run>(grids, case_dir);
  prepared->progress = nullptr;
  tarvo::prepare_case(*prepared);
  constexpr int copies = 8;
  long steps = 0;
  for (auto _ : state) {
    state.PauseTiming();
    struct Feed {
      std::vector<std::unique_ptr<tarvo::Run>> runs;
      std::size_t given = 0;
    } feed;
    for (int i = 0; i < copies; ++i) feed.runs.push_back(std::make_unique<tarvo::Run>(*prepared));
    state.ResumeTiming();
    tarvo::Run::run_models({[](void* c) -> tarvo::Run* {
                              Feed& f = *static_cast<Feed*>(c);
                              return f.given < f.runs.size() ? f.runs[f.given++].get() : nullptr;
                            },
                            [](void*, tarvo::Run*, tarvo::RunEnd) {}, &feed});
    for (const auto& r : feed.runs) steps += r->n_steps;
  }
  state.SetLabel(prepared->path->name);
  state.counters["per_step"] =
      benchmark::Counter(static_cast<double>(steps), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// One phase of the step, called again and again on the state of a run 1000
// steps in (each phase reads the state the previous phases leave, so a
// repeated call costs what one call in the step costs).
template <void (*phase)(tarvo::Run&)>
void BM_Phase(benchmark::State& state) {
  const tarvo::OceanGrids grids = tarvo::read_climatology(case_dir + "/data");
  auto run = std::make_unique<tarvo::Run>(grids, case_dir);
  run->progress = nullptr;
  tarvo::prepare_case(*run);
  for (int s = 0; s < 1000 && run->step(); ++s) {
  }
  run->step_forcing();
  run->friction_and_mixing();
  run->solve_circulation();
  run->update_rings();
  for (auto _ : state) phase(*run);
  state.SetLabel(run->path->name);
}
void forcing(tarvo::Run& r) { r.step_forcing(); }
void friction(tarvo::Run& r) { r.friction_and_mixing(); }
void solve(tarvo::Run& r) { r.solve_circulation(); }
void update(tarvo::Run& r) { r.update_rings(); }
void filter(tarvo::Run& r) { r.filter_and_rotate(); }

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
BENCHMARK(BM_StormsTogether)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Phase<forcing>)->Name("BM_Phase/step_forcing");
BENCHMARK(BM_Phase<friction>)->Name("BM_Phase/friction_and_mixing");
BENCHMARK(BM_Phase<solve>)->Name("BM_Phase/solve_circulation");
BENCHMARK(BM_Phase<update>)->Name("BM_Phase/update_rings");
BENCHMARK(BM_Phase<filter>)->Name("BM_Phase/filter_and_rotate");
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
  benchmark::AddCustomContext("step path", tarvo::default_step_path().name);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
