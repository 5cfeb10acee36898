// Benchmarks: loading the grids, the time loop alone (cost per step) and a
// whole run (grids, inputs, model, track.out) on a case directory.
//   tarvo_bench CASE_DIR [benchmark flags]     (CASE_DIR holds data/, track.in, params.in)
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "environment/potential_intensity.hpp"
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

// The potential intensity of a column of ERA5's 37 pressure levels (1000 to
// 1 hPa; those above 50 hPa ignored), over 1,000 tropical and subtropical
// columns: the fast iteration (range 0) and the published one (range 1).
void BM_PotentialIntensity(benchmark::State& state) {
  const std::vector<double> p = {1000, 975, 950, 925, 900, 875, 850, 825, 800, 775, 750, 700, 650, 600, 550, 500, 450, 400, 350,
                                 300,  250, 225, 200, 175, 150, 125, 100, 70,  50,  30,  20,  10,  7,   5,   3,   2,   1};
  const int levels = static_cast<int>(p.size()), columns = 1000;
  std::vector<double> sst(columns), msl(columns), t(static_cast<std::size_t>(columns * levels)), r(t.size());
  for (int k = 0; k < columns; ++k) {
    const double surface = 18.0 + 12.0 * k / columns, exponent = 0.15 + 0.06 * ((k * 7) % 13) / 13.0;
    const double humid = 0.6 + 0.35 * ((k * 11) % 17) / 17.0;
    sst[static_cast<std::size_t>(k)] = surface + 1.0 + 0.003 * ((k * 5) % 1000);
    msl[static_cast<std::size_t>(k)] = 1005.0 + 0.015 * ((k * 3) % 1000);
    const double tropopause = (surface + 273.15) * std::pow(0.1, exponent) - 273.15;
    for (int j = 0; j < levels; ++j) {
      const double pj = p[static_cast<std::size_t>(j)];
      const double tc = pj >= 100.0 ? (surface + 273.15) * std::pow(pj / 1000.0, exponent) - 273.15
                                    : tropopause + 10.0 * (100.0 - pj) / 50.0;
      const double e = humid * std::pow(pj / 1000.0, 2.0) * 6.112 * std::exp(17.67 * tc / (243.5 + tc));
      const std::size_t at = static_cast<std::size_t>(k * levels + j);
      t[at] = tc;
      r[at] = pj > 100.0 ? 1000.0 * 0.622 * e / (pj - e) : 0.002;
    }
  }
  tarvo::PotentialIntensityOptions options;
  options.published_iterations = state.range(0) == 1;
  std::vector<tarvo::PotentialIntensity> out(static_cast<std::size_t>(columns));
  for (auto _ : state) {
    tarvo::potential_intensity_columns(static_cast<std::size_t>(columns), sst.data(), msl.data(), p.data(), t.data(),
                                       r.data(), levels, options, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * columns);
  state.counters["us_per_column"] =
      benchmark::Counter(static_cast<double>(state.iterations() * columns),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
}

BENCHMARK(BM_LoadGrids)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PotentialIntensity)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
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
