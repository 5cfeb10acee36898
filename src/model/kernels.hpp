#pragma once
// Numerical kernels of the time step. Each takes 1-based ring arrays (ring 1 at
// the centre) and sizes, works in model units and touches nothing else.
#include <cmath>

namespace tarvo {

// Radial mixing of angular momentum at one level for ring j:
// -(|G+| G+ r(j+1/2)^4 - |G-| G- r(j-1/2)^4) dR_coef / (R_j dR), with G the
// radial gradient of R^2/r^2 across the ring's outer and inner edges.
//   R, R2  potential radius and its square; r2, r  squared radius and radius.
inline float momentum_mixing(int j, const float* R, const float* R2, const float* r2,
                             const float* r, float dR, float dR_coef) {
  const float g_plus = (R2[j + 1] / r2[j + 1] - R2[j] / r2[j]) / (r[j + 1] - r[j]);
  const float g_minus = j > 2 ? (R2[j] / r2[j] - R2[j - 1] / r2[j - 1]) / (r[j] - r[j - 1])
                              : (R2[3] / r2[3] - R2[2] / r2[2]) / r[2];
  const float rp = 0.5f * (r[j + 1] + r[j]);
  const float rm = 0.5f * (r[j] + r[j - 1]);
  const float rp4 = (rp * rp) * (rp * rp);
  const float rm4 = (rm * rm) * (rm * rm);
  return -(std::fabs(g_plus) * g_plus * rp4 - std::fabs(g_minus) * g_minus * rm4) * dR_coef /
         (R[j] * dR);
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
inline int gauss_seidel_inward(float* solution, float* sweep, const float* c_in,
                               const float* c_out, const float* rhs, const float* diag_inv,
                               int last, float bc_weight, float bc_add) {
  int n = 0;
  for (;;) {
    ++n;
    sweep[last + 1] = bc_weight * sweep[last] + bc_add;
    for (int j = last; j >= 2; --j)
      sweep[j] = (c_in[j] * solution[j - 1] + c_out[j] * sweep[j + 1] + rhs[j]) * diag_inv[j];
    float change = 0.0f;
    for (int j = 2; j <= last; ++j) {
      const float d = std::fabs(sweep[j] - solution[j]);
      if (d > change) change = d;
      solution[j] = sweep[j];
    }
    if (change < sweep_tolerance || n >= max_sweeps) return n;
  }
}

// Surface-pressure variable of rings 1..n, integrated outward from ring 2 from
// the lower- and upper-level squared radii and the saturation entropy, with its
// area mean over the lower level (out to ring n-1) removed; rings 1 and n
// repeat rings 2 and n-1.
inline void surface_pressure(float* pv, const float* R, const float* rl2, const float* ru2,
                             const float* s_sat, float dR, int n) {
  auto E = [&](int j) {
    const float r2 = R[j] * R[j];
    return 0.0625f * ((r2 * r2) / rl2[j] + rl2[j]);
  };
  pv[2] = 0.0f;
  float S = 0.0f;
  float e_prev = 0.0f;  // E(j-1), with E(1) = 0
  float e_j = E(2);
  for (int j = 2; j <= n - 2; ++j) {
    const float e_next = E(j + 1);
    const float L = j == 2 ? e_j + s_sat[2] : e_prev + e_j + s_sat[j];
    const float R3 = (R[j] * R[j]) * R[j];
    pv[j + 1] = pv[j] + 0.5f * dR * R3 / ru2[j] + L - (e_j + e_next + s_sat[j + 1]);
    S = S + (rl2[j + 1] - rl2[j]) * pv[j + 1];
    e_prev = e_j;
    e_j = e_next;
  }
  const float mean = S / rl2[n - 1];
  for (int j = 2; j <= n - 1; ++j) pv[j] = pv[j] - mean;
  pv[1] = pv[2];
  pv[n] = pv[n - 1];
}

}  // namespace tarvo
