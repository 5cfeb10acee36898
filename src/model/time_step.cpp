// One time step of the storm model, top to bottom:
//   step_forcing         centre and edge rings, the track at the model time, the
//                        environment and the intensity feedback
//   friction_and_mixing  surface stress, radial mixing, downdraft integral
//   solve_circulation    the balanced secondary circulation and surface pressure
//   update_rings         the leapfrog step of the seven prognostic ring fields
//   finish_step          progress line, output sample, step control, then
//   filter_and_rotate    the time filter, level rotation and mixed-layer depth
// Everything is nondimensional (velocity_scale, length_scale, time_scale;
// the Coriolis parameter is 1). Ring j sits at potential radius R_j = (j-1) dR.
//
// The ring loops run over rings 2..49 with V, the value type of this
// instruction-set path: a float, or a vector of that many neighbouring rings
// (model/lanes.hpp). This file is compiled once per path; TARVO_PATH names
// the path and TARVO_LANES gives its lanes. What is sequential by nature (the
// running downdraft integral, the Gauss-Seidel sweep, the outward pressure
// integral, the scans with tie rules and the ocean look-ups) stays in ring
// order on scalars. exp is tarvo's own (setup/exp.hpp), in lanes, with the
// bits of glibc's generic expf on every machine; log is glibc's, whose
// builds agree over the model's inputs.
//
// A step is written for K storms at once (steps_on): one storm's step is
// K = 1, and the time loop of many storms (run_models) steps storm_lanes of
// them together, each with its own clock and end. Their phases run one storm
// after another; the Gauss-Seidel sweeps and the pressure integrals of all K
// run side by side, so that the processor works on one storm's chain while
// another's waits. Each storm's arithmetic is its own, in its own order.
#include <cmath>
#include <cstdio>

#include "model/kernels.hpp"
#include "model/lanes.hpp"
#include "model/run.hpp"
#include "setup/exp.hpp"

#ifndef TARVO_PATH
#define TARVO_PATH scalar
#endif
#define TARVO_STRING2(x) #x
#define TARVO_STRING(x) TARVO_STRING2(x)
#define TARVO_JOIN2(a, b) a##b
#define TARVO_JOIN(a, b) TARVO_JOIN2(a, b)

namespace tarvo {

namespace {

constexpr float filter_gamma = 0.1f;  // Robert-Asselin filter coefficient
constexpr float drag_cap = 1.8f;      // drag factor is at most 1 + 1.8
constexpr float exchange_cap = 2.0f;  // enthalpy exchange factor is at most 1 + 2
// Saturation entropy change per unit of the surface-pressure variable.
constexpr float entropy_per_pressure = 0.32317176f;
constexpr int first_ring = 2, last_ring = n_rings - 1;  // the rings the loops update
static_assert((last_ring - first_ring + 1) % 16 == 0, "ring loops fill whole vectors");

// Robert-Asselin filter of the current level u with the old o and the new n.
template <class V>
inline V filtered(V o, V u, V n) {
  return u + filter_gamma * (o + n - 2.0f * u);
}

// old + 2 dt tendency, in double, rounded to float.
template <class V>
inline V leapfrog(V old, double two_dt, V tendency) {
  return narrow(wide(old) + two_dt * wide(tendency));
}

// The ring loop: body(j) on rings j .. j + lanes - 1 for all of 2..49.
template <class V, class Body>
inline void each_ring(Body&& body) {
  for_rings<V>(first_ring, last_ring, body);
}

}  // namespace

// One time step of K storms together: each storm's ring loops one storm
// after another, the sequential sweeps and integrals of all of them side by
// side. going[k]: whether storm k goes on.
template <class V, int K>
void Run::steps_on(Run* const* runs, bool* going) {
  for (int k = 0; k < K; ++k) {
    runs[k]->step_forcing_on<V>();
    runs[k]->friction_and_mixing_on<V>();
  }
  solve_circulations_on<V, K>(runs);
  for (int k = 0; k < K; ++k) going[k] = runs[k]->update_rings_on<V>() && runs[k]->finish_step_on<V>();
}

template <class V>
[[gnu::flatten]] bool Run::step_on() {
  Run* const self = this;
  bool going;
  steps_on<V, 1>(&self, &going);
  return going;
}

template <class V>
[[gnu::flatten]] RunEnd Run::run_model_on() {
  if (!(model_time <= end_time)) return RunEnd::finished;
  while (step_on<V>()) {
  }
  return stop_ring > 0 ? RunEnd::negative_radius : RunEnd::finished;
}

namespace {

// The time loop of many runs, storm_lanes of them stepping together; each
// run that ends leaves its place to the next the feed gives.
template <class V>
void run_models_on(const RunFeed& feed) {
  constexpr int K = storm_lanes;
  Run* lane[K];
  bool going[K];
  int m = 0;  // lanes in use, the first m
  bool more = true;
  auto end_of = [](const Run* r) { return r->stop_ring > 0 ? RunEnd::negative_radius : RunEnd::finished; };
  for (;;) {
    while (more && m < K) {
      Run* r = feed.next(feed.context);
      if (!r)
        more = false;
      else if (!(r->model_time <= r->end_time))
        feed.finished(feed.context, r, RunEnd::finished);
      else
        lane[m++] = r;
    }
    if (m == 0) return;
    static_assert(K == 4, "a case for each number of lanes in use");
    switch (m) {
      case 4: Run::steps_on<V, 4>(lane, going); break;
      case 3: Run::steps_on<V, 3>(lane, going); break;
      case 2: Run::steps_on<V, 2>(lane, going); break;
      default: Run::steps_on<V, 1>(lane, going); break;
    }
    int kept = 0;
    for (int k = 0; k < m; ++k) {
      if (going[k])
        lane[kept++] = lane[k];
      else
        feed.finished(feed.context, lane[k], end_of(lane[k]));
    }
    m = kept;
  }
}

}  // namespace

template <class V>
[[gnu::flatten]] void Run::step_forcing_on() {
  constexpr int o = n_rings, in = n_rings - 1;
  // 1. Centre and edge rings.
  s_b_old[1] = s_b_old[2];
  s_b[1] = s_b[2];
  s_sat_old[1] = s_sat_old[2];
  s_sat[1] = s_sat[2];
  s_m_old[1] = s_m_old[2];
  s_m[1] = s_m[2];
  m_up[1] = m_up[2];
  ml_momentum_old[1] = ml_momentum_old[2];
  ml_momentum[1] = ml_momentum[2];

  s_b_old[o] = s_b_old[in];
  s_b[o] = s_b[in];
  s_sat_old[o] = s_sat_old[in];
  s_sat[o] = s_sat[in];
  s_m_old[o] = s_m_old[in];
  s_m[o] = s_m[in];
  diff_s_sat[o] = diff_s_sat[in];  // the previous step's ring-49 values
  diff_s_m[o] = diff_s_m[in];

  rsq_lower_old[o] = rsq_lower_old[in] + ring50_step;
  rsq_lower[o] = rsq_lower[in] + ring50_step;
  rsq_upper_old[o] = rsq_upper_old[in] + ring50_step;
  rsq_upper[o] = rsq_upper[in] + ring50_step;

  rsq_lower_old[1] = rsq_lower[1] = rsq_lower_new[1] = 0.0f;
  rsq_upper[1] = rsq_upper_new[1] = rsq_mid[1] = 0.0f;
  r_lower_old[1] = r_lower[1] = r_upper_old[1] = 0.0f;
  m_up_old[in] = m_up[in] = 0.0f;

  r_lower_old[o] = std::sqrt(rsq_lower_old[o]);
  r_upper_old[o] = std::sqrt(rsq_upper_old[o]);
  r_lower[o] = std::sqrt(rsq_lower[o]);

  // 2. The track at the model time (extrapolated beyond the last sample):
  // the first sample after it, searched on from the previous step's when
  // the sample times increase and that one is not past the model time.
  int k_first = 2;
  if (samp_time_sorted && k_now >= 3 && k_now <= n_samp &&
      !(static_cast<double>(samp_time[k_now - 1]) > model_time))
    k_first = k_now;
  k_now = n_samp;
  for (int k = k_first; k <= n_samp; ++k) {
    if (static_cast<double>(samp_time[k]) > model_time) {
      k_now = k;
      break;
    }
  }
  const int k = k_now;
  const float span = samp_time[k] - samp_time[k - 1];
  const float w = 1.0f / span;
  const double a = samp_time[k] - model_time;
  const double b = model_time - samp_time[k - 1];
  auto at_time = [&](const SampleArray& x) {
    return static_cast<float>(w * (a * x[k - 1] + b * x[k]));
  };
  track_position = at_time(samp_dist);
  vpot_local = at_time(samp_vpot);
  v_obs = at_time(samp_vobs) / velocity_scale;
  f6_now = max_of(at_time(samp_f6), 0.0f);
  const float t_candidate = at_time(samp_t600);
  const float rh_candidate = at_time(samp_rh600);
  floor_elev = static_cast<float>((a * samp_elev[k - 1] + b * samp_elev[k]) / span);

  // 3. Environment, from the start record's time on.
  const bool after_start = model_time * time_scale > static_cast<double>(start_record_time);
  if (after_start) {
    rh_env = max_of(min_of(rh_candidate, 100.0f), 10.0f) * 0.8f;  // percent
    t_env = t_candidate;
    const float tc = t_env - 273.15f;
    // Saturation mixing ratio over 600 hPa.
    qsat_env = 6.112f * exp_float(17.67f * tc / (tc + 243.5f)) * 0.622f * 0.0016666667f;
    rh_frac = rh_env * 0.01f;
    s_env = (qsat_env * 2500000.0f * (rh_frac - 1.0f) -
             std::log(rh_frac) * t_env * 461.0f * qsat_env * 0.01f * rh_env) *
            (sst_ref - t_outflow) / (t_env * velocity_scale_sq);
    s_m[in] = s_m[o] = s_m_old[in] = s_m_old[o] = s_env;
  }

  // 4. Moist stability of the environment and the outer boundary weight.
  moist_stab = qsat_env * 5000000.0f * entropy_per_pressure /
               ((qsat_env * 2500000.0f / (t_env * 287.0f) + 1.0f) /
                (qsat_env * 6.25e12f / (t_env * t_env * 463305.0f) + 1.0f) * velocity_scale_sq);
  bc_weight = 1.0f - dR * std::sqrt(2.0f / moist_stab);

  // 5. Translation speed.
  translation_speed = (samp_dist[k] - samp_dist[k - 1]) * w;

  // 6. Intensity and convection maxima (values only: the order of the rings
  // does not matter, so lanes keep their own maxima until the end).
  {
    V v_top = splat<V>(0.0f), m_top = splat<V>(0.0f);
    each_ring<V>([&](int j) {
      const V v = 0.5f * (load<V>(&ring_R2[j]) - load<V>(&rsq_lower[j])) / load<V>(&r_lower[j]);
      v_top = max_of(v, v_top);
      m_top = max_of(load<V>(&m_up[j]), m_top);
    });
    float lanes_v[width_of<V>], lanes_m[width_of<V>];
    store(lanes_v, v_top);
    store(lanes_m, m_top);
    vmax_model = 0.0f;
    mup_max = 0.0f;
    for (int l = 0; l < width_of<V>; ++l) {
      vmax_model = max_of(lanes_v[l], vmax_model);
      mup_max = max_of(lanes_m[l], mup_max);
    }
  }

  // 7. Intensity feedback: diagnosed from the intensity error up to the start
  // record, prognostic after it.
  v_eff = static_cast<float>(vmax_model + translation_speed * 0.7f * length_scale /
                                              (velocity_scale * time_scale));
  if (after_start) {
    nudge_rate = (vmax_model * vmax_model * 8.9999994e-05f * (f6_now * f6_now) * mup_max -
                  nudge_state) *
                 200.0f;
  } else if (floor_elev >= 0.0f) {
    nudge_target = nudge_rate = nudge_state = 0.0f;
  } else {
    const float x = v_eff - v_obs;
    nudge_rate = 90.0f * x - 150.0f * nudge_state;
    nudge_target = std::fabs(x) * std::fabs(x) * x * nudge_gain * 1000.0f;
    nudge_state = nudge_target;
  }

  // 8. Potential intensity relative to the reference.
  const float ratio = vpot_local / vpot;
  vpot_ratio_sq = ratio * ratio;

  // 9. Ocean under the outer ring.
  const float h = ocean_column_at(columns(), track_position + r_outer, outer_sample).mld;
  ml_momentum_old[o] = ml_momentum[o] = std::sqrt(h * h * h * ocean_coef_a) / ocean_coef_b;

  // 10.
  s_m_old[o] = s_m_old[in];
  s_m[o] = s_m[in];
}

template <class V>
[[gnu::flatten]] void Run::friction_and_mixing_on() {
  constexpr int o = n_rings, in = n_rings - 1;
  const bool over_land = floor_elev >= 0.0f;
  const float* R = ring_R.data();
  const float* R2 = ring_R2.data();
  const float* rl2 = rsq_lower_old.data();
  const float* rl = r_lower_old.data();
  const float* ru2 = rsq_upper_old.data();
  const float* ru = r_upper_old.data();
  auto at = [](const RingArray& x, int j) { return load<V>(&x[j]); };
  // Ring 2's own terms, once: its inner-edge gradients (4., 5.) and its
  // diffusion coefficient (6.).
  const float g_first_lower = first_inner_gradient(R2, rl2, rl);
  const float g_first_upper = first_inner_gradient(R2, ru2, ru);
  const float c_first = std::fabs(R2[3] / rl2[3] - R2[2] / rl2[2]) * 2.0f * rl2[2] / rl2[3];

  each_ring<V>([&](int j) {
    const IndexOf<V> ring = ring_index<V>(j);
    // 1. Fraction of the updraft that does not return as downdraft.
    const V eps = min_of(max_of((at(s_m_old, j) - s_env) / max_of(at(s_b_old, j) - s_env, 0.001f), 0.0f), 1.0f);
    store(&eps_ring[j], eps);
    // 2. Net convective mass flux of the ring (integrated below, in ring order).
    store(&net_flux[j], eps * at(m_up, j) * (at(rsq_lower, j) - at(rsq_lower, j - 1)));
    // 3. Surface stress with a drag factor growing with the wind.
    const V X = load<V>(R2 + j) - load<V>(rl2 + j);
    const V u = max_of(0.5f * abs_of(X) / load<V>(rl + j), 1e-09f);
    const V f_d = 1.0f + min_of(u * wind_coef, drag_cap);
    const V stress = f_d * (abs_of(X) * X * (load<V>(rl + j + 1) - load<V>(rl + j - 1)) * 0.25f) /
                     (dR * load<V>(R + j));
    // A free troposphere warmer than the sea surface stabilises the surface layer.
    const V t = 1.0f + (at(s_sat_old, j) - at(s_sea_sat, j)) * 2000.0f;
    store(&surface_stress[j],
          select((at(s_sea_sat, j) < at(s_sat_old, j)) & !over_land, stress / (t * t), stress));
    // 4. and 5. Momentum mixing at the lower and the upper level.
    store(&mix_lower[j], momentum_mixing<V>(j, R, R2, rl2, rl, dR, dR_coef, g_first_lower));
    store(&mix_upper[j], momentum_mixing<V>(j, R, R2, ru2, ru, dR, dR_coef, g_first_upper));
    // 6. Coefficient C(j) of the diffusion of the saturation entropy; ring 2
    // has its own, C(1) = 0.
    const V d = load<V>(rl + j + 1) - load<V>(rl + j - 1);
    const V c_inner = abs_of(load<V>(R2 + j + 1) / load<V>(rl2 + j + 1) - load<V>(R2 + j - 1) / load<V>(rl2 + j - 1)) *
                      load<V>(rl2 + j) / (d * d);
    store(&diff_coef[j], select(ring > 2, c_inner, c_first));
    // 7. The middle level: 1/r^2 is 0.7 of the lower level's plus 0.3 of the upper's.
    const V r2_mid = load<V>(rl2 + j) / (load<V>(rl2 + j) * 0.3f / load<V>(ru2 + j) + 0.7f);
    store(&rsq_mid[j], r2_mid);
    store(&r_mid[j], sqrt_of(r2_mid));
  });
  // 2. Radial integral of the net convective mass flux.
  downdraft_integral[1] = 0.0f;
  for (int j = 2; j <= in; ++j) downdraft_integral[j] = downdraft_integral[j - 1] - net_flux[j];
  // 6. Diffusion of the saturation entropy.
  diff_coef[1] = 0.0f;
  each_ring<V>([&](int j) {
    store(&diff_s_sat[j], ((at(s_sat_old, j + 1) - at(s_sat_old, j)) * at(diff_coef, j) -
                           (at(s_sat_old, j) - at(s_sat_old, j - 1)) * at(diff_coef, j - 1)) *
                              4.0f * dR_coef / (load<V>(rl2 + j) - load<V>(rl2 + j - 1)));
  });
  // 8.
  downdraft_integral[o] = downdraft_integral[in];
  eps_ring[1] = eps_ring[2];
  eps_ring[o] = eps_ring[in];
  rsq_mid[o] = rsq_mid[in] + ring50_step;
  r_mid[o] = std::sqrt(rsq_mid[o]);
  surface_stress[o] = bc_weight * surface_stress[in];

  // 9. Diffusion of the middle-level entropy (r_mid(1) = 0).
  const float k_m = 3000.0f * dR_coef;
  each_ring<V>([&](int j) {
    const V rm_in = select(ring_index<V>(j) > 2, at(r_mid, j - 1), 0.0f);
    store(&diff_s_m[j], k_m * (at(r_mid, j) * (at(s_m_old, j + 1) - at(s_m_old, j)) - rm_in * (at(s_m_old, j) - at(s_m_old, j - 1))) /
                            (at(rsq_mid, j) - at(rsq_mid, j - 1)));
  });
}

template <class V>
[[gnu::flatten]] void Run::solve_circulation_on() {
  Run* const self = this;
  solve_circulations_on<V, 1>(&self);
}

template <class V, int K>
[[gnu::flatten]] void Run::solve_circulations_on(Run* const* runs) {
  constexpr int in = n_rings - 1;
  SweepSystem systems[K];
  PressureColumn columns[K];
  for (int k = 0; k < K; ++k) {
    Run& r = *runs[k];
    r.circulation_terms_on<V>();
    systems[k] = {r.circ_solution.data(), r.circ_sweep.data(), r.coef_in.data(), r.coef_out.data(),
                  r.circ_rhs.data(), r.circ_diag_inv.data(), r.bc_weight,
                  (1.0f - r.bc_weight) * r.downdraft_integral[in]};
    columns[k] = {r.pressure_var.data(), r.ring_R.data(), r.rsq_lower.data(), r.rsq_upper.data(),
                  r.s_sat.data(), r.dR};
  }
  // 2. Gauss-Seidel sweeps from the outer boundary inward, and alongside the
  // first of them (it shares nothing with them) 3. the surface pressure
  // variable, integrated outward; then its area mean removed.
  PressureIntegral<V, K> pressure(columns, n_rings);
  int sweeps[K];
  gauss_seidel_inward<V, K>(systems, in, sweeps, [&](int t) { pressure.step(t); }, pressure.steps());
  pressure.finish();
  for (int k = 0; k < K; ++k) {
    Run& r = *runs[k];
    r.last_sweeps = sweeps[k];
    r.total_sweeps += sweeps[k];
    r.find_rmw_on<V>();
  }
}

template <class V>
[[gnu::flatten]] void Run::circulation_terms_on() {
  auto at = [](const RingArray& x, int j) { return load<V>(&x[j]); };
  // 1. Coefficients and forcing of the tridiagonal system.
  each_ring<V>([&](int j) {
    const V c_out = moist_stab / (at(rsq_mid, j + 1) - at(rsq_mid, j));
    const V c_in = moist_stab / (at(rsq_mid, j) - at(rsq_mid, j - 1));
    store(&coef_out[j], c_out);
    store(&coef_in[j], c_in);
    const V ql = at(ring_R2, j) / at(rsq_lower, j);
    const V qu = at(ring_R2, j) / at(rsq_upper, j);
    const V Q = 0.5f * dR * (ql * ql + qu * qu) / at(ring_R, j);
    const V rr = at(rsq_lower, j) / at(rsq_upper, j);
    const V rho = rr * rr;
    const V F = (at(surface_stress, j) + at(mix_lower, j)) / (1.0f + rho) + at(downdraft_integral, j) -
                rho * at(mix_upper, j) / (1.0f + rho);
    store(&circ_rhs[j], min_of(inv_8h * at(s_sat_old, j + 1), cooling_coef) + F * Q -
                            min_of(inv_8h * at(s_sat_old, j), cooling_coef) - at(diff_s_sat, j + 1) +
                            at(diff_s_sat, j));
    store(&circ_diag_inv[j], 1.0f / (Q + c_in + c_out));
  });
}

template <class V>
[[gnu::flatten]] void Run::find_rmw_on() {
  constexpr int in = n_rings - 1;
  auto at = [](const RingArray& x, int j) { return load<V>(&x[j]); };
  // 4. Ring of maximum wind (innermost on ties; unchanged without positive swirl).
  each_ring<V>([&](int j) {
    store(&ring_work[j], (at(ring_R2, j) - at(rsq_lower, j)) / at(r_lower, j));
  });
  float best = 0.0f;
  for (int j = 2; j <= in; ++j) {
    const float v = ring_work[j];
    if (v > 0.0f && v > best) {
      best = v;
      i_rmw = j;
    }
  }
}

template <class V>
[[gnu::flatten]] bool Run::update_rings_on() {
  constexpr int in = n_rings - 1;
  const SampleColumns cols = columns();
  auto at = [](const RingArray& x, int j) { return load<V>(&x[j]); };
  // Once per step.
  {
    const OceanColumn c = ocean_column_at(cols, track_position, centre_sample);
    const float h = max_of(c.mld, max_of(mixed_layer_depth[2], 0.0001f));
    sst_change_centre = sea_surface_cooling(c.mld, h, ocean_coef_a, c.strat);
  }
  s_m_floor = min_of(s_env, -1.0f);
  env_relax = max_of(nudge_target, 0.0f) * 500.0f;
  vpot_nd = vpot_local / velocity_scale;
  two_dt = 2.0 * dt;
  time_seconds = model_time * time_scale;
  ck_eff = ckcd;
  if (floor_elev > 0.0f && time_seconds >= static_cast<double>(start_record_time)) {
    // Over land the enthalpy supply fades with the height of the ground.
    ck_eff = max_of(0.0f, ckcd * (1.0f - floor_elev / (8.0f * depth_factor)));
    nudge_rate = 0.0f;
  }
  const float r_rmw2 = 2.0f * r_lower[i_rmw];
  const bool over_sea = floor_elev < 0.0f;
  const bool moisten_core = nudge_target < 0.0f;
  const bool no_updraft = vmax_model > vpot_nd;

  // Swirl of the current level at each ring, and the boundary-layer
  // transport through each ring's outer edge (the inner edge of the next ring).
  ring_swirl[1] = 0.0f;
  each_ring<V>([&](int i) {
    store(&ring_swirl[i], 0.5f * (at(ring_R2, i) - at(rsq_lower, i)) / at(r_lower, i));
    store(&flux_out[i], (at(surface_stress, i) + bl_depth * at(mix_lower, i)) /
                            (at(r_lower, i + 1) - at(r_lower, i - 1)));
  });
  for (int i = 2; i <= in; ++i) flux_in[i + 1] = flux_out[i];
  flux_in[2] = 0.0f;  // no inner transport at the first ring
  flux_out[2] = max_of(flux_out[2], 0.0f);

  // The ocean a ring's radius ahead of the storm, and the pressure factor of
  // the sea-surface saturation entropy.
  each_ring<V>([&](int i) {
    const OceanColumnsOf<V> c = ocean_columns_near<V>(cols, track_position + at(r_lower, i), &ring_ahead_sample[i]);
    store(&ahead_mld[i], c.mld);
    store(&ahead_strat[i], c.strat);
  });
  each_ring<V>([&](int i) { store(&pressure_factor[i], exp_of<V>(-kappa * at(pressure_var, i))); });

  each_ring<V>([&](int i) {
    const IndexOf<V> ring = ring_index<V>(i);
    const V r_i = at(r_lower, i), r_im = at(r_lower, i - 1), r_ip = at(r_lower, i + 1);
    const V s_sat_o = at(s_sat_old, i), s_sea = at(s_sea_sat, i), s_b_o = at(s_b_old, i);
    const V s_m_o = at(s_m_old, i), m_up_i = at(m_up, i), eps = at(eps_ring, i);
    // 1. Squared-radius tendencies.
    const V T_low = at(surface_stress, i) + at(mix_lower, i) - at(circ_solution, i) + at(downdraft_integral, i);
    const V T_up = at(circ_solution, i) - at(downdraft_integral, i) + at(mix_upper, i);
    // 2. Advection of saturation entropy by the overturning.
    const V A_sat = -(at(circ_solution, i) - at(circ_solution, i - 1)) * at(coef_in, i);
    // 3.-5. Swirl at the ring and its inner neighbour; edge transports, upwind-biased.
    const V v_i = at(ring_swirl, i), v_im = at(ring_swirl, i - 1);
    const V F_in = at(flux_in, i), F_out = at(flux_out, i);
    const V W_in = 0.8f * F_in + 0.4f * min_of(F_in, 0.0f);
    const V W_out = 0.8f * F_out + 0.4f * max_of(F_out, 0.0f);
    // 6. Advection of boundary-layer entropy and updraft.
    const V A_b = (W_in * (at(s_b, i) - at(s_b, i - 1)) + W_out * (at(s_b, i + 1) - at(s_b, i))) / (r_i + r_im);
    const V A_u = (W_in * (m_up_i - at(m_up, i - 1)) + W_out * (at(m_up, i + 1) - m_up_i)) / (r_i + r_im);
    // 7. Boundary-layer mass budget.
    const V Conv = ((at(mix_lower, i) - at(mix_lower, i - 1)) * bl_depth + (at(surface_stress, i) - at(surface_stress, i - 1))) /
                   (at(rsq_lower, i) - at(rsq_lower, i - 1));
    const V D_dn = -m_up_i * (1.0f - eps);
    const V W_top = Conv - m_up_i - D_dn;
    // 8. Wind speed at the ring.
    const V V_ring = max_of(0.5f * abs_of(v_im + v_i), 1e-9f);
    // 9. Stability factor (s_sea_sat still holds the previous step's value).
    const V phi = select((s_sea < s_sat_o) & over_sea, 1.0f / (1.0f + 2000.0f * (s_sat_o - s_sea)), 1.0f);
    // 10. Drag.
    const V D = V_ring * (1.0f + min_of(V_ring * wind_coef, drag_cap));
    // 11. Mixed-layer momentum tendency.
    const V T_ml = phi * phi * V_ring * D +
                   (0.2f * (at(ml_momentum, i) - at(ml_momentum, i - 1)) / (r_i - r_im) +
                    0.8f * (at(ml_momentum, i + 1) - at(ml_momentum, i)) / (r_ip - r_i)) *
                       (0.5f * T_low / r_i + translation_speed);
    // 12. Sea-surface cooling under the ring.
    V sst;
    {
      const V h0 = at(ahead_mld, i);
      const V h = max_of(h0, max_of(at(mixed_layer_depth, i), 0.0001f));
      const V w = min_of(r_rmw2 / r_i, 1.0f);
      sst = w * sst_change_centre + (1.0f - w) * sea_surface_cooling<V>(h0, h, ocean_coef_a, at(ahead_strat, i));
      store(&sst_change[i], sst);
    }
    // 13. Saturation entropy of the sea surface.
    const V x = at(pressure_var, i);
    const V s_sea_new = vpot_ratio_sq * (1.0f + sst + 5.0000005f * (at(pressure_factor, i) - 1.0f)) -
                        entropy_per_pressure * x;
    store(&s_sea_sat[i], s_sea_new);
    // 14. Surface enthalpy exchange plus dissipative heating.
    const V S = V_ring * (1.0f + min_of(V_ring * wind_coef, exchange_cap)) * (s_sea_new - s_b_o) * phi * ck_eff +
                entropy_per_pressure * (phi * phi * phi) * (V_ring * V_ring) * D;
    // 15. Free-tropospheric cooling, capped.
    const V k_q = select(inv_8h * s_sat_o > cooling_coef, cooling_coef / s_sat_o, inv_8h);
    const V Q = k_q * s_sat_o;
    // 16.
    const V T_sat = A_sat + at(diff_s_sat, i) - Q;
    // 17. Updraft from boundary-layer quasi-equilibrium.
    const V dS = s_b_o - s_m_o;
    const V M_up_top = (A_b + S - T_sat * bl_depth) / max_of(dS * (1.0f - eps), 0.001f);
    const V M_down_top = (A_b + S - T_sat * bl_depth) / max_of(dS, 0.001f) + Conv;
    const V M_bl = min_of(select(W_top > 0.0f, M_up_top, M_down_top), 600.0f);
    const V M = select((at(s_b, i) < at(s_sat, i) - 0.0001f) | no_updraft, 0.0f, M_bl);
    // 18. Middle-level entropy tendency; a negative feedback moistens the core.
    const V T_m0 = (max_of(W_top, 0.0f) + m_up_i) * 0.45f * dS + at(diff_s_m, i) - Q * rad_share -
                   (s_m_o - s_env) * env_relax;
    const V T_m = select((ring <= i_rmw) & moisten_core, T_m0 - nudge_target * 75.0f * (s_sat_o - s_m_o), T_m0);
    // 19. Updraft tendency.
    const V T_u = (M - at(m_up_old, i)) * inv_3h + 0.1f * A_u;
    // 20. New level: each old + 2 dt tendency in double, rounded before any bound.
    store(&rsq_lower_new[i], leapfrog(at(rsq_lower_old, i), two_dt, T_low));
    store(&rsq_upper_new[i], leapfrog(at(rsq_upper_old, i), two_dt, T_up));
    const V s_sat_next = leapfrog(s_sat_o, two_dt, T_sat);
    store(&s_sat_new[i], s_sat_next);
    const V s_b_step = narrow(wide(s_b_o) + two_dt * wide(A_b + S + dS * (min_of(W_top, 0.0f) + D_dn)) *
                                                static_cast<double>(inv_bl_depth));
    store(&s_b_new[i], min_of(min_of(s_sat_next, s_b_step), s_sea_new));
    store(&s_m_new[i], min_of(s_sat_next, max_of(leapfrog(s_m_o, two_dt, T_m), s_m_floor)));
    store(&m_up_new[i], max_of(leapfrog(at(m_up_old, i), two_dt, T_u), 0.0f));
    store(&ml_momentum_new[i], max_of(leapfrog(at(ml_momentum_old, i), two_dt, T_ml), 0.0f));
  });
  // 21. A ring pushed through the centre ends the model (the innermost names it).
  MaskOf<V> through = splat<V>(0.0f) < 0.0f;
  each_ring<V>([&](int i) { through = through | (at(rsq_lower_new, i) < 0.0f); });
  if (any_lane(through)) {
    int i = 2;
    while (!(rsq_lower_new[i] < 0.0f)) ++i;
    stop_ring = i;
    stop_hours = static_cast<float>(time_seconds / 3600.0) + static_cast<float>(t_first_hours);
    return false;
  }
  sst_change[n_rings] = sst_change[in];
  sst_change[1] = sst_change[2];
  nudge_new = static_cast<float>(nudge_state + two_dt * nudge_rate);
  return true;
}

template <class V>
[[gnu::flatten]] bool Run::finish_step_on() {
  constexpr int in = n_rings - 1;
  // Progress line each time another 12 simulated hours have passed.
  const float hours = static_cast<float>(time_seconds * 0.0002777777777777778);
  if (hours > next_report_hours) {
    if (progress) progress.report(progress.context, next_report_hours);
    next_report_hours = next_report_hours + 12.0f;
  }
  // Output sample every two hours of simulated time, and on the first step.
  time_since_sample = static_cast<float>(time_since_sample + dt);
  if (sample_interval <= time_since_sample || model_time <= 1.5 * dt) {
    const int n = ++n_samples;
    time_since_sample = 0.0f;
    // Maximum wind of the current level; ties go to the outer ring.
    float vmax = 0.0f;
    for (int i = 2; i <= in; ++i) {
      const float v = 0.5f * (ring_R2[i] - rsq_lower[i]) / r_lower[i];
      if (v >= vmax) {
        vmax = v;
        r_m = r_lower[i];
        x_m = pressure_var[i];
      }
    }
    const float vmax_ms = vmax * velocity_scale;
    // Knots, with 70 % of the translation speed (3600 s/h, 1/1852 nautical miles per m).
    vmax_series[n] = static_cast<float>(
        (0.7f * translation_speed * length_scale / time_scale + vmax_ms) * 3600.0f * 0.00053995679f);
    if ((model_time + two_dt) * time_scale >= static_cast<double>(start_record_time)) {
      if (!vmax_offset_set) {
        vmax_offset_set = true;
        vmax_offset = vmax_series[n] - track_vobs[i_start] * 3600.0f * 0.00053995679f;
      }
      // The offset towards the observed start intensity halves every six hours.
      vmax_series[n] = static_cast<float>(
          vmax_series[n] - vmax_offset / ((time_seconds - static_cast<double>(start_record_time)) *
                                               4.6296296296296294e-05 + 1.0));
    }
    rmw_series[n] = r_m * velocity_scale * 0.001f * 20000.0f;  // km
    pmin_series[n] = p_ambient * exp_float(kappa * x_m - vmax_ms * vmax_ms * 1.1608598e-05f);  // hPa
    // Shorter steps for strong storms.
    if (vmax > 1.5f) dt = 0.5f * dt_single;
    if (vmax > 2.0f) dt = 0.2f * dt_single;
  }
  filter_and_rotate_on<V>();
  model_time = model_time + dt;
  ++n_steps;
  return model_time <= end_time;
}

template <class V>
[[gnu::flatten]] void Run::filter_and_rotate_on() {
  auto at = [](const RingArray& x, int j) { return load<V>(&x[j]); };
  // The time filter and the rotation of the levels, ring by ring.
  each_ring<V>([&](int i) {
    const V rl_old = filtered(at(rsq_lower_old, i), at(rsq_lower, i), at(rsq_lower_new, i));
    const V rl = at(rsq_lower_new, i);
    store(&rsq_lower_old[i], rl_old);
    store(&rsq_lower[i], rl);
    store(&r_lower[i], sqrt_of(rl));
    store(&r_lower_old[i], sqrt_of(rl_old));
    const V ru_old = filtered(at(rsq_upper_old, i), at(rsq_upper, i), at(rsq_upper_new, i));
    store(&rsq_upper_old[i], ru_old);
    store(&r_upper_old[i], sqrt_of(ru_old));
    store(&rsq_upper[i], at(rsq_upper_new, i));
    store(&s_b_old[i], filtered(at(s_b_old, i), at(s_b, i), at(s_b_new, i)));
    store(&s_b[i], at(s_b_new, i));
    store(&s_sat_old[i], filtered(at(s_sat_old, i), at(s_sat, i), at(s_sat_new, i)));
    store(&s_sat[i], at(s_sat_new, i));
    store(&s_m_old[i], filtered(at(s_m_old, i), at(s_m, i), at(s_m_new, i)));
    store(&s_m[i], at(s_m_new, i));
    store(&m_up_old[i], max_of(filtered(at(m_up_old, i), at(m_up, i), at(m_up_new, i)), 0.0f));  // the only clamp
    store(&m_up[i], at(m_up_new, i));
    store(&ml_momentum_old[i], filtered(at(ml_momentum_old, i), at(ml_momentum, i), at(ml_momentum_new, i)));
    store(&ml_momentum[i], at(ml_momentum_new, i));
  });
  // Mixed layer under each ring, deepened by entrainment from the new
  // momentum and capped by the water depth, at the storm's next position.
  const SampleColumns cols = columns();
  const float x_next = static_cast<float>(track_position + translation_speed * dt);
  const float b2 = ocean_coef_b * ocean_coef_b;
  each_ring<V>([&](int i) {
    const OceanColumnsOf<V> c = ocean_columns_near<V>(cols, x_next + at(r_lower, i), &ring_next_sample[i]);
    const V g = max_of(c.strat, 0.1f);
    const V N = c.mld * (c.mld - ocean_coef_a / g);
    const V m = at(ml_momentum, i);
    const V H = sqrt_of(abs_of(sqrt_of(abs_of(0.25f * (N * N) + b2 * (m * m) / g)) + 0.5f * N));
    store(&mixed_layer_depth[i], max_of(c.mld, min_of(H, -c.elev)));
  });
  const float u = nudge_target, old = nudge_state;
  nudge_target = nudge_new;
  nudge_state = u + filter_gamma * (nudge_new + old - 2.0f * u);
}

// This path's table.
extern const StepPath TARVO_JOIN(step_path_, TARVO_PATH);
const StepPath TARVO_JOIN(step_path_, TARVO_PATH) = {
    TARVO_STRING(TARVO_PATH),          lanes,
    &Run::step_forcing_on<Floats>,     &Run::friction_and_mixing_on<Floats>,
    &Run::solve_circulation_on<Floats>, &Run::update_rings_on<Floats>,
    &Run::finish_step_on<Floats>,      &Run::filter_and_rotate_on<Floats>,
    &Run::step_on<Floats>,             &Run::run_model_on<Floats>,
    &run_models_on<Floats>,
};

}  // namespace tarvo
