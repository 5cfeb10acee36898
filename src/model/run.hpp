#pragma once
// One model run: the whole program-wide state of a forecast (run parameters,
// track records, two-hourly samples, set-up scalars, the ring state in three
// time levels, the clock and the output series) with the operations that read
// and write it. Every array has a fixed capacity; nothing is allocated once a
// run has started. The grids are shared, read-only, by reference.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <string>

#include "input/cases/case_inputs.hpp"
#include "input/cases/ocean_grids.hpp"
#include "model/ocean_column.hpp"
#include "setup/setup.hpp"
#include "model/step_path.hpp"

namespace tarvo {

inline constexpr int ring_capacity = 100;
inline constexpr int n_rings = 50;

// 1-based arrays: element 0 is never used by the model and stays 0. A ring
// array starts ring 2, where the ring loops start, on a 64-byte line, so
// that their vectors of rings are loaded and stored whole lines at a time.
class alignas(64) RingArray {
 public:
  static constexpr std::size_t elements = ring_capacity + 1;
  float* data() { return values_; }
  const float* data() const { return values_; }
  float& operator[](std::size_t i) { return values_[i]; }
  const float& operator[](std::size_t i) const { return values_[i]; }
  static constexpr std::size_t size() { return elements; }
  float* begin() { return values_; }
  float* end() { return values_ + elements; }
  const float* begin() const { return values_; }
  const float* end() const { return values_ + elements; }

 private:
  [[maybe_unused]] float before_[14] = {};  // 64 bytes less rings 0 and 1
  float values_[elements] = {};
};
static_assert(alignof(RingArray) == 64 && (14 + 2) * sizeof(float) == 64, "ring 2 starts a line");
using RingIndexArray = std::array<int, ring_capacity + 1>;

// How a run ended.
enum class RunEnd { finished, negative_radius };

// Receives the progress of the time loop: the hours of each 12-hour mark the
// model time passes. No sink: no reports.
struct ProgressSink {
  void (*report)(void* context, float hours) = nullptr;
  void* context = nullptr;
  ProgressSink() = default;
  ProgressSink(std::nullptr_t) {}
  ProgressSink(void (*r)(void*, float), void* c) : report(r), context(c) {}
  explicit operator bool() const { return report != nullptr; }
};

// Runs for a time loop that steps several at once (run_models): `next`
// gives a run ready to step (initialised), or null when there are no more;
// `finished` takes each back as it ends, in the order they end.
struct RunFeed {
  Run* (*next)(void* context);
  void (*finished)(void* context, Run* run, RunEnd end);
  void* context;
};

// How many runs step together in run_models: their sequential sweeps and
// integrals run side by side.
inline constexpr int storm_lanes = 4;

// The run composes the stages' data: the inputs and the set-up it inherits
// (input/cases/case_inputs.hpp, setup/setup.hpp), the ring state and the step its own.
class Run : public SetUp {
 public:
  // `case_dir` holds params.in and track.in; track.out is written there.
  Run(const OceanGrids& grids, std::string case_dir);

  // ---- input stage (parse_params, parse_track, smooth_track: CaseInputs) ----
  void read_params();
  void read_track();
  void sample_track();

  // ---- set-up (set_up: SetUp) ----

  // ---- model run ----
  // The phases of the step run on `path` (the instruction-set path chosen
  // for this machine, or as forced); every path gives the same bits.
  void init_run();
  void step_forcing();
  void friction_and_mixing();
  void solve_circulation();
  bool update_rings();  // false: a negative squared radius stopped the run
  bool finish_step();   // false: the run is over
  void filter_and_rotate();
  // One time step top to bottom; false when the run is over or stopped.
  bool step();
  // The whole time loop.
  RunEnd run_model();
  // The time loops of all the runs `feed` gives, storm_lanes at a time on
  // `path`; each run's bits are those of its own run_model.
  static void run_models(const RunFeed& feed, const StepPath& path = default_step_path());

  // The same phases on one path: V is the value type of its ring loops (a
  // float, or a vector of floats). Defined in model/time_step.cpp, which is
  // compiled once per path.
  template <class V> void step_forcing_on();
  template <class V> void friction_and_mixing_on();
  template <class V> void solve_circulation_on();
  template <class V> bool update_rings_on();
  template <class V> bool finish_step_on();
  template <class V> void filter_and_rotate_on();
  template <class V> bool step_on();
  template <class V> RunEnd run_model_on();
  // The parts of solve_circulation, and the step of K runs together.
  template <class V> void circulation_terms_on();
  template <class V> void find_rmw_on();
  template <class V, int K> static void solve_circulations_on(Run* const* runs);
  template <class V, int K> static void steps_on(Run* const* runs, bool* going);

  // ---- output ----
  void write_track_output() const;
  std::string track_output_text() const;

  // Where the time loop reports its progress (nowhere by default).
  ProgressSink progress;
  // The instruction-set path of the time step.
  const StepPath* path = &default_step_path();

  // ================= state =================
  const OceanGrids& grids;
  std::string case_dir;

  // Ring geometry: R_j and R_j^2 (fixed once dR is known).
  RingArray ring_R{}, ring_R2{};
  float ring50_step = 0;

  // Prognostic ring fields in three time levels.
  RingArray rsq_lower_old{}, rsq_lower{}, rsq_lower_new{};
  RingArray rsq_upper_old{}, rsq_upper{}, rsq_upper_new{};
  RingArray s_b_old{}, s_b{}, s_b_new{};
  RingArray s_sat_old{}, s_sat{}, s_sat_new{};
  RingArray s_m_old{}, s_m{}, s_m_new{};
  RingArray m_up_old{}, m_up{}, m_up_new{};
  RingArray ml_momentum_old{}, ml_momentum{}, ml_momentum_new{};
  // Derived ring fields.
  RingArray r_lower_old{}, r_lower{}, r_upper_old{};
  RingArray s_sea_sat{}, mixed_layer_depth{}, sst_change{};
  // First-half terms.
  RingArray eps_ring{}, downdraft_integral{}, surface_stress{}, mix_lower{}, mix_upper{},
      diff_s_sat{}, diff_s_m{}, rsq_mid{}, r_mid{};
  RingArray coef_out{}, coef_in{}, circ_rhs{}, circ_diag_inv{}, circ_solution{}, circ_sweep{},
      pressure_var{};
  // Per-ring terms of the leapfrog update: swirl, edge transports, the ocean
  // ahead and the pressure factor exp(-kappa x).
  RingArray ring_swirl{}, flux_in{}, flux_out{}, ahead_mld{}, ahead_strat{}, pressure_factor{};
  // Per-ring working terms of the ring loops: the diffusion coefficient C(j)
  // of the saturation entropy, the net convective flux of each ring (summed
  // in ring order into downdraft_integral), and the sample interval each
  // ring's look-up ahead of the storm and under its next position found last
  // (a hint for the next look-up; it never changes a result).
  RingArray diff_coef{}, net_flux{}, ring_work{};
  RingIndexArray ring_ahead_sample{}, ring_next_sample{};
  int centre_sample = 0, outer_sample = 0;  // the same for the storm's centre and its outer ring
  int i_rmw = 2;
  int last_sweeps = 0;  // sweeps of the latest solve
  long total_sweeps = 0;

  // Per-step forcing scalars.
  int k_now = 0;
  float track_position = 0, translation_speed = 0, vpot_local = 0, v_obs = 0, f6_now = 0,
        rh_env = 0, floor_elev = 0, rh_frac = 0, moist_stab = 0, bc_weight = 0, vmax_model = 0,
        mup_max = 0, v_eff = 0, vpot_ratio_sq = 0;
  float nudge_target = 0, nudge_state = 0, nudge_rate = 0, nudge_new = 0;
  // Second-half per-step scalars.
  float sst_change_centre = 0, s_m_floor = 0, env_relax = 0, vpot_nd = 0, ck_eff = 0;
  double two_dt = 0, time_seconds = 0;

  // Clock and counters.
  double start_time = 0, model_time = 0;
  float dt_single = 0;
  float time_since_sample = 0;
  int n_samples = 0;
  long n_steps = 0;
  float next_report_hours = 12.0f;
  bool vmax_offset_set = false;
  float vmax_offset = 0;
  float r_m = 0, x_m = 0;  // radius and pressure variable at the latest maximum wind

  // Output series.
  SampleArray vmax_series{}, rmw_series{}, pmin_series{};

  // Where a negative squared radius stopped the run (hours from the reference time).
  int stop_ring = 0;
  float stop_hours = 0;

  // Sample columns as seen by ocean_column_at.
  SampleColumns columns() const {
    return {n_samp, samp_dist.data(), samp_mld.data(), samp_strat.data(), samp_elev.data(),
            samp_dist_sorted, sample_capacity};
  }
};

}  // namespace tarvo
