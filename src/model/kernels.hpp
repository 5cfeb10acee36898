#pragma once
// Numerical kernels of the time step. Each takes 1-based ring arrays (ring 1 at
// the centre) and sizes, works in model units and touches nothing else. The
// per-ring ones are templates over the value type V of the ring loops (see
// model/lanes.hpp): a float, or a vector of neighbouring rings starting at j.
#include <cmath>

#include "model/lanes.hpp"

namespace tarvo {
namespace {

// The gradient of R^2/r^2 that ring 2 takes at its inner edge, having none of
// its own there: its outer one over r(2).
inline float first_inner_gradient(const float* R2, const float* r2, const float* r) {
  return (R2[3] / r2[3] - R2[2] / r2[2]) / r[2];
}

// Radial mixing of angular momentum at one level for ring j:
// -(|G+| G+ r(j+1/2)^4 - |G-| G- r(j-1/2)^4) dR_coef / (R_j dR), with G the
// radial gradient of R^2/r^2 across the ring's outer and inner edges (at ring
// 2's inner edge g_first, first_inner_gradient's value for the same level).
//   R, R2  potential radius and its square; r2, r  squared radius and radius.
template <class V = float>
inline V momentum_mixing(int j, const float* R, const float* R2, const float* r2, const float* r,
                         float dR, float dR_coef, float g_first) {
  const auto at = [j](const float* p, int d) { return load<V>(p + j + d); };
  const V g_plus = (at(R2, 1) / at(r2, 1) - at(R2, 0) / at(r2, 0)) / (at(r, 1) - at(r, 0));
  const V g_inner = (at(R2, 0) / at(r2, 0) - at(R2, -1) / at(r2, -1)) / (at(r, 0) - at(r, -1));
  const V g_minus = select(ring_index<V>(j) > 2, g_inner, g_first);
  const V rp = 0.5f * (at(r, 1) + at(r, 0));
  const V rm = 0.5f * (at(r, 0) + at(r, -1));
  const V rp4 = (rp * rp) * (rp * rp);
  const V rm4 = (rm * rm) * (rm * rm);
  return -(abs_of(g_plus) * g_plus * rp4 - abs_of(g_minus) * g_minus * rm4) * dR_coef /
         (at(R, 0) * dR);
}

// Sea-surface cooling of a mixed layer deepened from its undisturbed depth
// h0 to h (h >= h0) over water of stratification g below it: the heat of
// the layer conserved, (h0 - h) a/h for the jump at its base, less
// g (h - h0)^2 / h for the water mixed up from below.
//   h0, h  depths in model units; a  ocean_coef_a; g  stratification in model units.
// Nondimensional: a kelvin is 25 depth_factor (docs/ocean.md).
template <class V = float>
inline V sea_surface_cooling(V h0, V h, float a, V g) {
  const V d = h - h0;
  return (h0 - h) * a / h - g * (d * d) / h;
}

inline constexpr int max_sweeps = 1000;
inline constexpr float sweep_tolerance = 1e-05f;

// One tridiagonal system for the Gauss-Seidel sweeps below (1-based ring
// arrays, rings 2..last):
//   (1/diag_inv(j)) P(j) = c_out(j) P(j+1) + c_in(j) P(j-1) + rhs(j),
// with P(1) = solution(1) and the outer value P(last+1) = bc_weight P(last) + bc_add.
// `solution` holds the start (the previous solution) and receives the result;
// `sweep` holds the sweep in progress (its element last+1 is the boundary value,
// and element last the previous sweep's, carried from call to call).
struct SweepSystem {
  float* solution;
  float* sweep;
  const float* c_in;
  const float* c_out;
  const float* rhs;
  const float* diag_inv;
  float bc_weight, bc_add;
};

// No work alongside the sweeps.
struct NoWork {
  void operator()(int) const {}
};

// Gauss-Seidel sweeps from the outer boundary inward for K independent
// systems at once: each sweep is a chain from ring to ring, and K chains side
// by side keep the processor busy where one would wait. Each system stops on
// its own, when its largest change is below the tolerance or after
// max_sweeps, and gets the very sweeps it would get alone; `sweeps[k]`
// receives their number. A finished system's place sweeps zeros until all
// have finished. The largest change is a value only, so the lanes of V
// (last - 1 rings, a multiple of its width) find it in any order.
// alongside(t), t = 0 .. alongside_steps - 1, is another chain of work that
// shares nothing with the sweeps; its steps run in order, one a ring of the
// first sweep, so that each chain runs while the other waits.
template <class V, int K, class Alongside = NoWork>
inline void gauss_seidel_inward(const SweepSystem* systems, int last, int* sweeps, Alongside alongside = {},
                                int alongside_steps = 0) {
  constexpr int cap = 128;  // rings at most
  SweepSystem s[K];
  int n[K];
  bool going[K];
  float zeros[cap + 2], scrap[cap + 2];
  bool zeros_set = false;
  int left = K;
  if (last > cap) {
    for (int t = 0; t < alongside_steps; ++t) alongside(t);
    return;
  }
#pragma GCC unroll 8
  for (int k = 0; k < K; ++k) {
    s[k] = systems[k];
    n[k] = 0;
    going[k] = true;
  }
  for (;;) {
    float outer[K];  // P(j+1) of this sweep of each system, kept in registers
#pragma GCC unroll 8
    for (int k = 0; k < K; ++k) {
      n[k] += going[k];
      s[k].sweep[last + 1] = s[k].bc_weight * s[k].sweep[last] + s[k].bc_add;
      outer[k] = s[k].sweep[last + 1];
    }
    for (int j = last; j >= 2; --j) {
#pragma GCC unroll 8
      for (int k = 0; k < K; ++k) {
        outer[k] = (s[k].c_in[j] * s[k].solution[j - 1] + s[k].c_out[j] * outer[k] + s[k].rhs[j]) *
                   s[k].diag_inv[j];
        s[k].sweep[j] = outer[k];
      }
      if (last - j < alongside_steps) alongside(last - j);
    }
    for (int t = last - 1; t < alongside_steps; ++t) alongside(t);
    alongside_steps = 0;
    for (int k = 0; k < K; ++k) {
      if (!going[k]) continue;
      float* const sol = s[k].solution;
      const float* const sw = s[k].sweep;
      V largest = splat<V>(0.0f);
      for_rings<V>(2, last, [&](int j) {
        const V d = abs_of(load<V>(sw + j) - load<V>(sol + j));
        largest = max_of(d, largest);
        store(sol + j, load<V>(sw + j));
      });
      float lanes_of_largest[width_of<V>];
      store(lanes_of_largest, largest);
      float change = 0.0f;
      for (const float d : lanes_of_largest) change = max_of(d, change);
      if (change < sweep_tolerance || n[k] >= max_sweeps) {
        going[k] = false;
        sweeps[k] = n[k];
        if (--left == 0) return;
        if (!zeros_set) {
          for (float& z : zeros) z = 0.0f;
          zeros_set = true;
        }
        s[k] = {scrap, scrap, zeros, zeros, zeros, zeros, 0.0f, 0.0f};
      }
    }
  }
}

// The same for one system; returns the number of sweeps.
template <class V = float>
inline int gauss_seidel_inward(float* solution, float* sweep, const float* c_in,
                               const float* c_out, const float* rhs, const float* diag_inv,
                               int last, float bc_weight, float bc_add) {
  const SweepSystem system{solution, sweep, c_in, c_out, rhs, diag_inv, bc_weight, bc_add};
  int sweeps = 0;
  gauss_seidel_inward<V, 1>(&system, last, &sweeps);
  return sweeps;
}

// The state one surface-pressure integration reads and writes (1-based ring
// arrays): the potential radius, the lower- and upper-level squared radii and
// the saturation entropy in, with the ring spacing dR; the surface-pressure
// variable out.
struct PressureColumn {
  float* pv;
  const float* R;
  const float* rl2;
  const float* ru2;
  const float* s_sat;
  float dR;
};

// Surface-pressure variable of rings 1..n, integrated outward from ring 2 from
// the lower- and upper-level squared radii and the saturation entropy, with its
// area mean over the lower level (out to ring n-1) removed; rings 1 and n
// repeat rings 2 and n-1. K storms at once (n rings each), in three parts so
// that the sequential middle may run alongside other work: the per-ring terms
// for rings 2..n-1 (n - 2 of them, a multiple of V's lanes) when made; then
// step(t) for t = 0 .. steps() - 1, in order, the outward integration of ring
// 2 + t of the K storms side by side; then finish(), the mean removed.
template <class V, int K>
class PressureIntegral {
 public:
  PressureIntegral(const PressureColumn* columns, int n) : columns_(columns), n_(n) {
    if (n > cap) return;
    float E[cap + 2];
    for (int k = 0; k < K; ++k) {
      const PressureColumn& c = columns[k];
      auto energy = [&](int j) {
        const V Rj = load<V>(c.R + j);
        const V r2 = Rj * Rj;
        const V l2 = load<V>(c.rl2 + j);
        return 0.0625f * ((r2 * r2) / l2 + l2);
      };
      E[1] = 0.0f;  // E(1) = 0
      for_rings<V>(2, n - 1, [&](int j) { store(E + j, energy(j)); });
      E[n] = 0.0f;  // reached only by ring n-1's outer term, which the integration never uses
      for_rings<V>(2, n - 1, [&](int j) {
        const V Rj = load<V>(c.R + j);
        const V R3 = (Rj * Rj) * Rj;
        const V e_prev = load<V>(E + j - 1), e_j = load<V>(E + j), e_next = load<V>(E + j + 1);
        store(lift_[k] + j, 0.5f * c.dR * R3 / load<V>(c.ru2 + j));
        store(inner_[k] + j, select(ring_index<V>(j) > 2, e_prev + e_j + load<V>(c.s_sat + j), e_j + c.s_sat[2]));
        store(outer_[k] + j, e_j + e_next + load<V>(c.s_sat + j + 1));
        store(area_[k] + j, load<V>(c.rl2 + j + 1) - load<V>(c.rl2 + j));
      });
    }
#pragma GCC unroll 8
    for (int k = 0; k < K; ++k) {
      columns[k].pv[2] = 0.0f;
      S_[k] = p_[k] = 0.0f;
    }
  }

  int steps() const { return n_ > cap ? 0 : n_ - 3; }

  void step(int t) {
    const int j = 2 + t;
#pragma GCC unroll 8
    for (int k = 0; k < K; ++k) {
      p_[k] = p_[k] + lift_[k][j] + inner_[k][j] - outer_[k][j];
      columns_[k].pv[j + 1] = p_[k];
      S_[k] = S_[k] + area_[k][j] * p_[k];
    }
  }

  void finish() {
    if (n_ > cap) return;
    for (int k = 0; k < K; ++k) {
      float* const pv = columns_[k].pv;
      const float mean = S_[k] / columns_[k].rl2[n_ - 1];
      for_rings<V>(2, n_ - 1, [&](int j) { store(pv + j, load<V>(pv + j) - mean); });
      pv[1] = pv[2];
      pv[n_] = pv[n_ - 1];
    }
  }

 private:
  static constexpr int cap = 128;  // rings at most
  const PressureColumn* columns_;
  int n_;
  float lift_[K][cap + 1], inner_[K][cap + 1], outer_[K][cap + 1], area_[K][cap + 1];
  float S_[K], p_[K];  // p: pv(j) of each storm, kept in a register
};

template <class V, int K>
inline void surface_pressure(const PressureColumn* columns, int n) {
  PressureIntegral<V, K> integral(columns, n);
  for (int t = 0; t < integral.steps(); ++t) integral.step(t);
  integral.finish();
}

// The same for one storm.
template <class V = float>
inline void surface_pressure(float* pv, const float* R, const float* rl2, const float* ru2,
                             const float* s_sat, float dR, int n) {
  const PressureColumn column{pv, R, rl2, ru2, s_sat, dR};
  surface_pressure<V, 1>(&column, n);
}

}  // namespace
}  // namespace tarvo
