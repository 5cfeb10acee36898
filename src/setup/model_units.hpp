#pragma once

namespace tarvo {

// Converts samples 1..n (1-based arrays) from SI units to model units:
// distance / length_scale, time / time_scale (in double, rounded), mixed-layer
// depth and elevation x depth_factor, stratification x 0.01 x 12.5 and field 6
// (a speed) x time_scale / length_scale (in double, rounded). Iterations are
// independent; `parallel` spreads them over threads in contiguous blocks with
// bit-identical results.
void samples_to_model_units(float* dist, float* time, float* mld, float* elev, float* strat,
                            float* f6, int n, float length_scale, double time_scale,
                            float depth_factor, bool parallel);

}  // namespace tarvo
