#pragma once
// Three-point smoothing kernels on 1-based series: x(i) = (1 - s) x(i) +
// 0.5 s (x(i-1) + x(i+1)) over i = first..last; the ends of the range stay.

namespace tarvo {

// Every new value from the values before the pass.
inline void smooth_pass_from_old(float* x, int first, int last, float s) {
  if (last < first) return;
  float prev = x[first - 1];  // old value at i - 1
  for (int i = first; i <= last; ++i) {
    const float old = x[i];
    x[i] = (1.0f - s) * old + 0.5f * s * (prev + x[i + 1]);
    prev = old;
  }
}

// In place: the new value at i uses the already updated value at i - 1.
inline void smooth_pass_in_place(float* x, int first, int last, float s) {
  for (int i = first; i <= last; ++i) x[i] = (1.0f - s) * x[i] + 0.5f * s * (x[i - 1] + x[i + 1]);
}

}  // namespace tarvo
