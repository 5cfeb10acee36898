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
  int last = 0;        // the last index the arrays hold (0: not known)
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

// Sample values p[index] lane by lane, as gathered from memory.
struct GatheredSamples {
  template <class V>
  V at(const float* p, IndexOf<V> index) const {
    return gather<V>(p, index);
  }
};

// The same from one window of a vector's width of neighbouring samples,
// base + 0 .. base + lanes - 1, held in a register.
struct WindowOfSamples {
  int base;
  template <class V>
  V at(const float* p, IndexOf<V> index) const {
    return permute<V>(load<V>(p + base), index - base);
  }
};

// The column a distance x along the track: linear in x between the samples
// around it, the last sample's values at or beyond the second-to-last sample,
// extrapolated from samples 1 and 2 before the first. `found` is
// sample_beyond's answer for x (per lane for a vector of distances); `samples`
// fetches the sample values around it.
template <class V, class Samples = GatheredSamples>
inline OceanColumnsOf<V> ocean_columns_at(const SampleColumns& s, V x, IndexOf<V> found,
                                          Samples samples = {}) {
  const IndexOf<V> k = select(found > s.n, s.n, found);
  const IndexOf<V> g = select(k < 1, 1, k);  // in bounds also for fewer than two samples
  auto sample = [&](const float* v, IndexOf<V> i) { return samples.template at<V>(v, i); };
  const V a = sample(s.dist, g) - x;
  const V b = x - sample(s.dist, g - 1);
  const V d = sample(s.dist, g) - sample(s.dist, g - 1);
  auto at = [&](const float* v) {
    return select(k < s.n, (a * sample(v, g - 1) + b * sample(v, g)) / d, v[s.n]);
  };
  return {at(s.mld), at(s.strat), at(s.elev)};
}

// The columns at the distances x of neighbouring rings, each lane's interval
// searched on from `hint` (that ring's interval the step before, updated).
// A ring's distance moves little from one step to the next: when every
// lane's interval is still its hint and all of them lie within one vector's
// width of samples, the check and the interpolation read that window from
// registers; otherwise each lane searches alone. Same answer either way.
template <class V>
inline OceanColumnsOf<V> ocean_columns_near(const SampleColumns& s, V x, int* hint) {
  constexpr int w = width_of<V>;
  if constexpr (w >= 8) {
    int lo = hint[0], hi = hint[0];
    for (int l = 1; l < w; ++l) {
      lo = min_of(hint[l], lo);
      hi = max_of(hint[l], hi);
    }
    // The window holds samples base .. base + w - 1: every hint and the one
    // before it, and sample n - 1 for a lane beyond the last.
    const int base = min_of(lo, s.n) - 1;
    if (s.sorted && s.n >= 2 && lo >= 2 && hi <= s.n + 1 && hi - base < w && base + w - 1 <= s.last) {
      const WindowOfSamples window{base};
      const IndexOf<V> h = load_indices<V>(hint);
      // The interval holds when the sample before it does not exceed x (or
      // it is the first) and its own does (or none does).
      const auto held = ((h == 2) | !(window.at<V>(s.dist, h - 1) > x)) &
                        ((h == s.n + 1) | (window.at<V>(s.dist, h) > x));
      if (all_lanes(held)) return ocean_columns_at<V>(s, x, h, window);
    }
  }
  for (int l = 0; l < w; ++l) {
    float xl;
    if constexpr (w == 1)
      xl = x;
    else
      xl = x[l];
    hint[l] = sample_beyond(s, xl, hint[l]);
  }
  return ocean_columns_at<V>(s, x, load_indices<V>(hint));
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
