// The instruction-set paths of the time step: every path this CPU runs gives
// the scalar path's bits, step by step and in track.out; the paths share no
// machine code; TARVO_SIMD forces a path of the tarvo program.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tools/case_run.hpp"
#include "helpers.hpp"
#include "model/step_path.hpp"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

// Generated storms in one made-up world.
struct World {
  test::TempDir dir;
  std::vector<std::string> cases;
  std::unique_ptr<OceanGrids> grids;
  World() {
    cases = test::generated_cases(dir, {21, 22, 23});
    if (cases.size() == 3) grids = std::make_unique<OceanGrids>(read_climatology(dir / "world/data"));
  }
};
const World& world() {
  static const World w;
  return w;
}

// Every value of the state a step leaves, as bits.
std::string state_bits(const Run& r) {
  std::string s;
  auto add = [&](const void* p, std::size_t n) { s.append(static_cast<const char*>(p), n); };
  for (const RingArray* a :
       {&r.rsq_lower_old, &r.rsq_lower, &r.rsq_lower_new, &r.rsq_upper_old, &r.rsq_upper,
        &r.rsq_upper_new, &r.s_b_old, &r.s_b, &r.s_b_new, &r.s_sat_old, &r.s_sat, &r.s_sat_new,
        &r.s_m_old, &r.s_m, &r.s_m_new, &r.m_up_old, &r.m_up, &r.m_up_new, &r.ml_momentum_old,
        &r.ml_momentum, &r.ml_momentum_new, &r.r_lower_old, &r.r_lower, &r.r_upper_old,
        &r.s_sea_sat, &r.mixed_layer_depth, &r.sst_change, &r.eps_ring, &r.downdraft_integral,
        &r.surface_stress, &r.mix_lower, &r.mix_upper, &r.diff_s_sat, &r.diff_s_m, &r.rsq_mid,
        &r.r_mid, &r.coef_out, &r.coef_in, &r.circ_rhs, &r.circ_diag_inv, &r.circ_solution,
        &r.circ_sweep, &r.pressure_var, &r.ring_swirl, &r.flux_in, &r.flux_out, &r.ahead_mld,
        &r.ahead_strat, &r.pressure_factor})
    add(a->data(), sizeof(float) * (n_rings + 1));
  for (const float* x :
       {&r.track_position, &r.translation_speed, &r.vpot_local, &r.v_obs, &r.f6_now, &r.rh_env,
        &r.floor_elev, &r.moist_stab, &r.bc_weight, &r.vmax_model, &r.mup_max, &r.v_eff,
        &r.nudge_target, &r.nudge_state, &r.nudge_rate, &r.nudge_new, &r.sst_change_centre,
        &r.s_env, &r.t_env, &r.qsat_env, &r.time_since_sample, &r.r_m, &r.x_m})
    add(x, sizeof(float));
  add(&r.model_time, sizeof(double));
  add(&r.dt, sizeof(double));
  add(&r.i_rmw, sizeof(int));
  add(&r.last_sweeps, sizeof(int));
  return s;
}

// The ring loops' vectors start at ring 2: in every ring array of a run,
// wherever the run is (on the heap alone or among others), ring 2 starts a
// 64-byte line; the arrays are 1-based with all elements zero at first.
TEST(StepPaths, RingTwoStartsALineInEveryRingArray) {
  const World& w = world();
  ASSERT_TRUE(w.grids);
  auto at_line = [](const RingArray& a) { return reinterpret_cast<std::uintptr_t>(&a[2]) % 64 == 0; };
  std::vector<std::unique_ptr<tarvo::Run>> runs;
  for (int k = 0; k < 3; ++k) runs.push_back(std::make_unique<tarvo::Run>(*w.grids, w.cases[0]));
  for (const auto& r : runs)
    for (const RingArray* a : {&r->rsq_lower_old, &r->rsq_lower, &r->s_b, &r->m_up_new, &r->ml_momentum,
                               &r->pressure_var, &r->ring_work})
      EXPECT_TRUE(at_line(*a));
  std::vector<RingArray> arrays(3);
  for (const RingArray& a : arrays) {
    EXPECT_TRUE(at_line(a));
    EXPECT_EQ(a.size(), static_cast<std::size_t>(ring_capacity + 1));
    for (float x : a) EXPECT_EQ(x, 0.0f);
  }
}

TEST(StepPaths, ScalarAndSseAreAlwaysThere) {
  const auto paths = supported_step_paths();
  ASSERT_GE(paths.size(), 2u);
  EXPECT_STREQ(paths[0]->name, "scalar");
  EXPECT_EQ(paths[0]->lanes, 1);
  EXPECT_STREQ(paths[1]->name, "sse");
  EXPECT_EQ(paths[1]->lanes, 4);
  for (const StepPath* p : paths) EXPECT_EQ(find_step_path(p->name), p);
  EXPECT_EQ(find_step_path("avx1024"), nullptr);
  EXPECT_EQ(find_step_path(""), nullptr);
}

TEST(StepPaths, EveryPathGivesTheScalarBitsAtEveryStep) {
  const World& w = world();
  ASSERT_EQ(w.cases.size(), 3u);
  const StepPath* scalar = find_step_path("scalar");
  for (const std::string& dir : w.cases) {
    std::vector<std::unique_ptr<tarvo::Run>> runs;
    for (const StepPath* p : supported_step_paths()) {
      runs.push_back(std::make_unique<tarvo::Run>(*w.grids, dir));
      runs.back()->progress = nullptr;
      runs.back()->path = p;
      prepare_case(*runs.back());
    }
    ASSERT_EQ(runs[0]->path, scalar);
    bool going = true;
    long steps = 0;
    while (going) {
      going = runs[0]->step();
      ++steps;
      const std::string expected = state_bits(*runs[0]);
      for (std::size_t i = 1; i < runs.size(); ++i) {
        ASSERT_EQ(runs[i]->step(), going) << dir << " step " << steps << " " << runs[i]->path->name;
        ASSERT_TRUE(state_bits(*runs[i]) == expected)
            << dir << ": path " << runs[i]->path->name << " parts from scalar at step " << steps;
      }
    }
    EXPECT_GT(steps, 10000);
    for (std::size_t i = 1; i < runs.size(); ++i)
      EXPECT_EQ(runs[i]->track_output_text(), runs[0]->track_output_text()) << runs[i]->path->name;
  }
}

TEST(StepPaths, TheWholeRunEntryPointGivesTheSameBytesAsSteppingOnEveryPath) {
  const World& w = world();
  ASSERT_FALSE(w.cases.empty());
  std::string first;
  for (const StepPath* p : supported_step_paths()) {
    tarvo::Run run(*w.grids, w.cases[0]);
    run.progress = nullptr;
    run.path = p;
    prepare_case(run);
    EXPECT_EQ(run.run_model(), RunEnd::finished) << p->name;
    if (first.empty()) first = run.track_output_text();
    EXPECT_EQ(run.track_output_text(), first) << p->name;
  }
}

// Runs stepping together, storm_lanes at a time, each with its own clock
// and end, a finished one's place taken by the next: every run ends with the
// bits it gets alone on the scalar path, on every path. Among them: storms
// cut short at different hours, one stopped by a negative squared radius at
// its first step, and one with nothing to step.
TEST(StepPaths, RunsSteppedTogetherEndWithTheirOwnBitsOnEveryPath) {
  const World& w = world();
  ASSERT_EQ(w.cases.size(), 3u);
  constexpr int n = 9;
  auto make = [&](int i, const StepPath* p) {
    auto run = std::make_unique<tarvo::Run>(*w.grids, w.cases[i % 3]);
    run->progress = nullptr;
    run->path = p;
    prepare_case(*run);
    if (i >= 3 && i < 7) run->end_time = run->end_time * (0.3 + 0.15 * i);  // ends at other hours
    if (i == 7) run->rsq_lower_old[5] = -1.0f;
    if (i == 8) run->end_time = run->model_time - 1.0;
    return run;
  };
  std::vector<std::unique_ptr<tarvo::Run>> alone;
  std::vector<RunEnd> alone_end;
  for (int i = 0; i < n; ++i) {
    alone.push_back(make(i, find_step_path("scalar")));
    alone_end.push_back(alone.back()->run_model());
  }
  ASSERT_EQ(alone_end[7], RunEnd::negative_radius);
  ASSERT_EQ(alone[8]->n_steps, 0);
  for (const StepPath* p : supported_step_paths()) {
    struct Feed {
      std::vector<std::unique_ptr<tarvo::Run>> runs;
      std::size_t given = 0;
      std::vector<std::pair<tarvo::Run*, RunEnd>> ended;
    } feed;
    for (int i = 0; i < n; ++i) feed.runs.push_back(make(i, p));
    tarvo::Run::run_models({[](void* c) -> tarvo::Run* {
                       Feed& f = *static_cast<Feed*>(c);
                       return f.given < f.runs.size() ? f.runs[f.given++].get() : nullptr;
                     },
                     [](void* c, tarvo::Run* r, RunEnd end) { static_cast<Feed*>(c)->ended.emplace_back(r, end); },
                     &feed},
                    *p);
    ASSERT_EQ(feed.ended.size(), static_cast<std::size_t>(n)) << p->name;
    EXPECT_NE(feed.ended.front().first, feed.runs.front().get()) << "they end in the order they end";
    for (int i = 0; i < n; ++i) {
      const tarvo::Run& r = *feed.runs[i];
      RunEnd end = RunEnd::finished;
      int times = 0;
      for (const auto& [run, e] : feed.ended)
        if (run == &r) end = e, ++times;
      EXPECT_EQ(times, 1) << p->name << " run " << i;
      EXPECT_EQ(end, alone_end[i]) << p->name << " run " << i;
      EXPECT_EQ(r.n_steps, alone[i]->n_steps) << p->name << " run " << i;
      EXPECT_TRUE(state_bits(r) == state_bits(*alone[i])) << p->name << " run " << i;
      EXPECT_EQ(r.track_output_text(), alone[i]->track_output_text()) << p->name << " run " << i;
    }
  }
}

// The paths are compiled from one source with different instructions: were
// any function of one path's object also defined in another's, the linker
// would keep one copy for all, and a path could run another's instructions.
TEST(StepPaths, PathsShareNoMachineCode) {
  std::vector<std::string> objects;
  std::stringstream list(TARVO_STEP_OBJECTS);
  for (std::string o; std::getline(list, o, '|');) objects.push_back(o);
  ASSERT_EQ(objects.size(), 4u);
  std::set<std::string> seen;
  for (const std::string& o : objects) {
    std::string out;
    ASSERT_EQ(test::run_in(".", "nm --defined-only " + test::quoted(o), &out, nullptr), 0) << o;
    std::istringstream lines(out);
    int global = 0;
    for (std::string line; std::getline(lines, line);) {
      std::istringstream f(line);
      std::string addr, kind, name;
      if (!(f >> addr >> kind >> name) || kind.size() != 1 || !std::isupper(kind[0])) continue;
      ++global;
      EXPECT_TRUE(seen.insert(name).second) << name << " is defined by two paths (" << o << ")";
    }
    EXPECT_GT(global, 0) << o;
  }
}

TEST(StepPaths, TarvoRunsEveryPathWithTheSameBytesAndRejectsAnUnknownOne) {
  const World& w = world();
  ASSERT_FALSE(w.cases.empty());
  const std::string dir = w.cases[1];
  std::string expected;
  for (const StepPath* p : supported_step_paths()) {
    std::string out, err;
    ASSERT_EQ(test::run_in(dir, std::string("TARVO_SIMD=") + p->name + " " + test::quoted(TARVO_BINARY), &out, &err), 0)
        << err;
    const std::string got = test::read_text(dir + "/track.out");
    if (expected.empty()) expected = got;
    EXPECT_EQ(got, expected) << p->name;
  }
  std::string out, err;
  fs::remove(dir + "/track.out");
  EXPECT_EQ(test::run_in(dir, "TARVO_SIMD=avx1024 " + test::quoted(TARVO_BINARY), &out, &err), 2);
  EXPECT_NE(err.find("TARVO_SIMD=avx1024"), std::string::npos) << err;
  EXPECT_NE(err.find("scalar sse"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(dir + "/track.out"));
}

}  // namespace
}  // namespace tarvo
