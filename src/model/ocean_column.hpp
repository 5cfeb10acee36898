#pragma once
// The ocean column at an along-track distance, interpolated between the
// two-hourly samples (model units).

namespace tarvo {

// Read-only view of the sampled ocean data, 1-based arrays of n samples.
struct SampleColumns {
  int n;
  const float* dist;   // along-track distance
  const float* mld;    // mixed-layer depth
  const float* strat;  // stratification
  const float* elev;   // surface elevation
  bool sorted;         // dist never decreases: the interval may be found by bisection
};

struct OceanColumn {
  float mld, strat, elev;
};

// Index k of the first sample in 2..n whose distance exceeds x, or n + 1 when
// none does. `hint` is a previous answer for a nearby x (0: none); from it the
// search steps forward, which for increasing x along the rings is a step or two.
inline int sample_beyond(const SampleColumns& s, float x, int hint = 0) {
  if (s.n < 2) return s.n + 1;
  if (!s.sorted) {
    for (int k = 2; k <= s.n; ++k)
      if (s.dist[k] > x) return k;
    return s.n + 1;
  }
  int lo = 2, hi = s.n + 1;  // the answer lies in [lo, hi]
  if (hint >= 2 && hint <= s.n + 1 && !(s.dist[hint - 1] > x)) {
    // Samples before the hint do not exceed x: step forward a little.
    lo = hint;
    for (int steps = 0; steps < 4; ++steps) {
      if (lo > s.n || s.dist[lo] > x) return lo;
      ++lo;
    }
  }
  while (lo < hi) {
    const int mid = (lo + hi) / 2;
    if (s.dist[mid] > x)
      hi = mid;
    else
      lo = mid + 1;
  }
  return lo;
}

// Index of the first sample in 2..n whose distance exceeds x, or n when none does.
inline int first_sample_beyond(const SampleColumns& s, float x) {
  const int k = sample_beyond(s, x);
  return k > s.n ? s.n : k;
}

// The column a distance x along the track: linear in x between the samples
// around it, the last sample's values at or beyond the second-to-last sample,
// extrapolated from samples 1 and 2 before the first. `hint` as for sample_beyond;
// it receives this look-up's interval.
inline OceanColumn ocean_column_at(const SampleColumns& s, float x, int& hint) {
  const int found = sample_beyond(s, x, hint);
  hint = found;
  const int k = found > s.n ? s.n : found;
  if (k < s.n) {
    const float a = s.dist[k] - x;
    const float b = x - s.dist[k - 1];
    const float d = s.dist[k] - s.dist[k - 1];
    return {(a * s.mld[k - 1] + b * s.mld[k]) / d, (a * s.strat[k - 1] + b * s.strat[k]) / d,
            (a * s.elev[k - 1] + b * s.elev[k]) / d};
  }
  return {s.mld[s.n], s.strat[s.n], s.elev[s.n]};
}

inline OceanColumn ocean_column_at(const SampleColumns& s, float x) {
  int hint = 0;
  return ocean_column_at(s, x, hint);
}

}  // namespace tarvo
