#pragma once
// Numerical kernels of the time step. Each takes 1-based ring arrays (ring 1 at
// the centre) and sizes, works in model units and touches nothing else. The
// per-ring ones are templates over the value type V of the ring loops (see
// model/lanes.hpp): a float, or a vector of neighbouring rings starting at j.
#include <cmath>

#include "model/lanes.hpp"

namespace tarvo {
namespace {

// Radial mixing of angular momentum at one level for ring j:
// -(|G+| G+ r(j+1/2)^4 - |G-| G- r(j-1/2)^4) dR_coef / (R_j dR), with G the
// radial gradient of R^2/r^2 across the ring's outer and inner edges.
//   R, R2  potential radius and its square; r2, r  squared radius and radius.
template <class V = float>
inline V momentum_mixing(int j, const float* R, const float* R2, const float* r2, const float* r,
                         float dR, float dR_coef) {
  const auto at = [j](const float* p, int d) { return load<V>(p + j + d); };
  const V g_plus = (at(R2, 1) / at(r2, 1) - at(R2, 0) / at(r2, 0)) / (at(r, 1) - at(r, 0));
  // Ring 2 has no inner edge gradient of its own: it takes its outer one over r(2).
  const V g_inner = (at(R2, 0) / at(r2, 0) - at(R2, -1) / at(r2, -1)) / (at(r, 0) - at(r, -1));
  const float g_first = (R2[3] / r2[3] - R2[2] / r2[2]) / r[2];
  const V g_minus = select(ring_index<V>(j) > 2, g_inner, g_first);
  const V rp = 0.5f * (at(r, 1) + at(r, 0));
  const V rm = 0.5f * (at(r, 0) + at(r, -1));
  const V rp4 = (rp * rp) * (rp * rp);
  const V rm4 = (rm * rm) * (rm * rm);
  return -(abs_of(g_plus) * g_plus * rp4 - abs_of(g_minus) * g_minus * rm4) * dR_coef /
         (at(R, 0) * dR);
}

inline constexpr int max_sweeps = 1000;
inline constexpr float sweep_tolerance = 1e-05f;

// Gauss-Seidel sweeps from the outer boundary inward for
//   (1/diag_inv(j)) P(j) = c_out(j) P(j+1) + c_in(j) P(j-1) + rhs(j),  j = 2..last,
// with P(1) = solution(1) and the outer value P(last+1) = bc_weight P(last) + bc_add.
// `solution` holds the start (the previous solution) and receives the result;
// `sweep` holds the sweep in progress (its element last+1 is the boundary value,
// and element last the previous sweep's, carried from call to call).
// Stops when the largest change is below the tolerance or after max_sweeps;
// returns the number of sweeps.
// The largest change is a value only, so lanes of V (last - 1 rings, a multiple
// of its width) find it in any order.
template <class V = float>
inline int gauss_seidel_inward(float* solution, float* sweep, const float* c_in,
                               const float* c_out, const float* rhs, const float* diag_inv,
                               int last, float bc_weight, float bc_add) {
  int n = 0;
  for (;;) {
    ++n;
    sweep[last + 1] = bc_weight * sweep[last] + bc_add;
    float outer = sweep[last + 1];  // P(j+1) of this sweep, kept in a register
    for (int j = last; j >= 2; --j) {
      outer = (c_in[j] * solution[j - 1] + c_out[j] * outer + rhs[j]) * diag_inv[j];
      sweep[j] = outer;
    }
    V largest = splat<V>(0.0f);
    for_rings<V>(2, last, [&](int j) {
      const V d = abs_of(load<V>(sweep + j) - load<V>(solution + j));
      largest = max_of(d, largest);
      store(solution + j, load<V>(sweep + j));
    });
    float lanes_of_largest[width_of<V>];
    store(lanes_of_largest, largest);
    float change = 0.0f;
    for (const float d : lanes_of_largest) change = max_of(d, change);
    if (change < sweep_tolerance || n >= max_sweeps) return n;
  }
}

// Surface-pressure variable of rings 1..n, integrated outward from ring 2 from
// the lower- and upper-level squared radii and the saturation entropy, with its
// area mean over the lower level (out to ring n-1) removed; rings 1 and n
// repeat rings 2 and n-1.
// The outward integration is sequential; its per-ring terms are not and are
// formed first, for rings 2..n-1 (n - 2 of them, a multiple of V's lanes).
template <class V = float>
inline void surface_pressure(float* pv, const float* R, const float* rl2, const float* ru2,
                             const float* s_sat, float dR, int n) {
  constexpr int cap = 128;  // rings at most
  float E[cap + 2], lift[cap + 1], inner[cap + 1], outer[cap + 1], area[cap + 1];
  if (n > cap) return;
  auto energy = [&](int j) {
    const V Rj = load<V>(R + j);
    const V r2 = Rj * Rj;
    const V l2 = load<V>(rl2 + j);
    return 0.0625f * ((r2 * r2) / l2 + l2);
  };
  E[1] = 0.0f;  // E(1) = 0
  for_rings<V>(2, n - 1, [&](int j) { store(E + j, energy(j)); });
  E[n] = 0.0f;  // reached only by ring n-1's outer term, which the integration never uses
  for_rings<V>(2, n - 1, [&](int j) {
    const V Rj = load<V>(R + j);
    const V R3 = (Rj * Rj) * Rj;
    const V e_prev = load<V>(E + j - 1), e_j = load<V>(E + j), e_next = load<V>(E + j + 1);
    store(lift + j, 0.5f * dR * R3 / load<V>(ru2 + j));
    store(inner + j, select(ring_index<V>(j) > 2, e_prev + e_j + load<V>(s_sat + j), e_j + s_sat[2]));
    store(outer + j, e_j + e_next + load<V>(s_sat + j + 1));
    store(area + j, load<V>(rl2 + j + 1) - load<V>(rl2 + j));
  });
  pv[2] = 0.0f;
  float S = 0.0f, p = 0.0f;  // p: pv(j), kept in a register
  for (int j = 2; j <= n - 2; ++j) {
    p = p + lift[j] + inner[j] - outer[j];
    pv[j + 1] = p;
    S = S + area[j] * p;
  }
  const float mean = S / rl2[n - 1];
  for_rings<V>(2, n - 1, [&](int j) { store(pv + j, load<V>(pv + j) - mean); });
  pv[1] = pv[2];
  pv[n] = pv[n - 1];
}

}  // namespace
}  // namespace tarvo
