#pragma once
// The ocean column at an along-track distance, interpolated between the
// two-hourly samples (model units).
#include "model/lanes.hpp"

namespace tarvo {
namespace {

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
// search steps forward or back, which for a ring's distance from one step to
// the next, or along the rings, is a step or two. The answer never depends on
// the hint.
inline int sample_beyond(const SampleColumns& s, float x, int hint = 0) {
  if (s.n < 2) return s.n + 1;
  if (!s.sorted) {
    for (int k = 2; k <= s.n; ++k)
      if (s.dist[k] > x) return k;
    return s.n + 1;
  }
  int lo = 2, hi = s.n + 1;  // the answer lies in [lo, hi]
  if (hint >= 2 && hint <= s.n + 1) {
    if (!(s.dist[hint - 1] > x)) {
      // Samples before the hint do not exceed x: step forward a little.
      lo = hint;
      for (int steps = 0; steps < 4; ++steps) {
        if (lo > s.n || s.dist[lo] > x) return lo;
        ++lo;
      }
    } else {
      // Sample hint-1 exceeds x already: the answer is it or before it.
      int c = hint - 1;
      for (int steps = 0; steps < 4; ++steps) {
        if (c <= 2) return 2;
        if (!(s.dist[c - 1] > x)) return c;
        --c;
      }
      hi = c;
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

template <class V>
struct OceanColumnsOf {
  V mld, strat, elev;
};

// The column a distance x along the track: linear in x between the samples
// around it, the last sample's values at or beyond the second-to-last sample,
// extrapolated from samples 1 and 2 before the first. `found` is
// sample_beyond's answer for x (per lane for a vector of distances).
template <class V>
inline OceanColumnsOf<V> ocean_columns_at(const SampleColumns& s, V x, IndexOf<V> found) {
  const IndexOf<V> k = select(found > s.n, s.n, found);
  const IndexOf<V> g = select(k < 1, 1, k);  // in bounds also for fewer than two samples
  const V a = gather<V>(s.dist, g) - x;
  const V b = x - gather<V>(s.dist, g - 1);
  const V d = gather<V>(s.dist, g) - gather<V>(s.dist, g - 1);
  auto at = [&](const float* v) {
    return select(k < s.n, (a * gather<V>(v, g - 1) + b * gather<V>(v, g)) / d, v[s.n]);
  };
  return {at(s.mld), at(s.strat), at(s.elev)};
}

// The same for one distance; `hint` as for sample_beyond, and it receives
// this look-up's interval.
inline OceanColumn ocean_column_at(const SampleColumns& s, float x, int& hint) {
  hint = sample_beyond(s, x, hint);
  const OceanColumnsOf<float> c = ocean_columns_at<float>(s, x, hint);
  return {c.mld, c.strat, c.elev};
}

inline OceanColumn ocean_column_at(const SampleColumns& s, float x) {
  int hint = 0;
  return ocean_column_at(s, x, hint);
}

}  // namespace
}  // namespace tarvo
