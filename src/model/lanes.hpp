#pragma once
// Lane arithmetic for the ring loops. A ring loop body is written once, as a
// template over its value type V: a float (one ring at a time) or a GCC
// vector of floats (that many neighbouring rings at a time). Lane-wise
// + - * / and sqrt are IEEE operations, so a vector gives each ring the bits
// the float gives it; a select keeps the scalar comparison: max_of(a, b) is
// `a > b ? a : b` lane by lane, ties and NaN included.
//
// The time step is compiled once per instruction-set path with TARVO_LANES
// (1, 4, 8 or 16) and that path's -m flags (see CMakeLists.txt). Everything
// here has internal linkage, so no machine code of one path is ever shared
// with another through the linker.
#include <immintrin.h>

#include <cmath>
#include <cstring>
#include <type_traits>

#ifndef TARVO_LANES
#define TARVO_LANES 1
#endif

namespace tarvo {
namespace {

// Rings one value of the path's type holds.
inline constexpr int lanes = TARVO_LANES;

// (Sizes written out: a vector type whose size depends on a template
// parameter would mangle alike for every width.)
template <int W>
struct LaneTypes;
template <>
struct LaneTypes<1> {
  using floats = float;
  using doubles = double;
};
template <>
struct LaneTypes<4> {
  typedef float floats __attribute__((vector_size(16)));
  typedef double doubles __attribute__((vector_size(32)));
};
template <>
struct LaneTypes<8> {
  typedef float floats __attribute__((vector_size(32)));
  typedef double doubles __attribute__((vector_size(64)));
};
template <>
struct LaneTypes<16> {
  typedef float floats __attribute__((vector_size(64)));
  typedef double doubles __attribute__((vector_size(128)));
};

// The value type of this path's ring loops.
using Floats = LaneTypes<lanes>::floats;

template <class V>
inline constexpr int width_of = sizeof(V) / sizeof(float);
template <class V>
inline constexpr bool is_vector = !std::is_same_v<V, float>;
// Comparison results: bool for a float, a vector of 0 / -1 ints otherwise.
template <class V>
using MaskOf = decltype(V{} > V{});
// Ring numbers and sample indices: an int, or a vector of ints.
template <class V>
using IndexOf = std::conditional_t<is_vector<V>, MaskOf<V>, int>;
template <class V>
using DoublesOf = typename LaneTypes<width_of<V>>::doubles;

template <class V>
inline V load(const float* p) {
  if constexpr (is_vector<V>) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
  } else {
    return *p;
  }
}

template <class V>
inline void store(float* p, V v) {
  if constexpr (is_vector<V>)
    std::memcpy(p, &v, sizeof v);
  else
    *p = v;
}

template <class V>
inline IndexOf<V> load_indices(const int* p) {
  if constexpr (is_vector<V>) {
    IndexOf<V> v;
    std::memcpy(&v, p, sizeof v);
    return v;
  } else {
    return *p;
  }
}

template <class V>
inline V splat(float x) {
  if constexpr (is_vector<V>) {
    V v;
    for (int l = 0; l < width_of<V>; ++l) v[l] = x;
    return v;
  } else {
    return x;
  }
}

// Ring numbers j, j + 1, ... of the lanes.
template <class V>
inline IndexOf<V> ring_index(int j) {
  if constexpr (is_vector<V>) {
    IndexOf<V> v;
    for (int l = 0; l < width_of<V>; ++l) v[l] = j + l;
    return v;
  } else {
    return j;
  }
}

// p[index] lane by lane.
template <class V>
inline V gather(const float* p, IndexOf<V> index) {
  if constexpr (is_vector<V>) {
    V v;
    for (int l = 0; l < width_of<V>; ++l) v[l] = p[index[l]];
    return v;
  } else {
    return p[index];
  }
}

// w[index] lane by lane, for indices 0 .. lanes - 1: a register permute.
template <class V>
inline V permute(V w, IndexOf<V> index) {
  if constexpr (is_vector<V>) {
#if defined(__clang__)
    V v;
    for (int l = 0; l < width_of<V>; ++l) v[l] = w[index[l]];
    return v;
#else
    return __builtin_shuffle(w, index);
#endif
  } else {
    return w;
  }
}

// Whether every lane of a comparison holds.
template <class M>
inline bool all_lanes(M m) {
  if constexpr (std::is_same_v<M, bool>) {
    return m;
  } else {
    constexpr int w = sizeof(M) / sizeof(int);
#if defined(__AVX512F__)
    if constexpr (w == 16) return _mm512_test_epi32_mask((__m512i)m, (__m512i)m) == 0xFFFF;
#endif
#if defined(__AVX__)
    if constexpr (w == 8) return _mm256_movemask_ps((__m256)m) == 0xFF;
#endif
    if constexpr (w == 4) return _mm_movemask_ps((__m128)m) == 0xF;
    int all = -1;
    for (int l = 0; l < w; ++l) all &= m[l];
    return all != 0;
  }
}

// Whether any lane of a comparison holds.
template <class M>
inline bool any_lane(M m) {
  if constexpr (std::is_same_v<M, bool>)
    return m;
  else
    return !all_lanes(m == 0);
}

// The first operand only where strictly greater (smaller): ties and NaN give
// the second. Either operand may be a float, the other a vector.
template <class A, class B>
inline auto max_of(A a, B b) {
  return a > b ? a : b;
}
template <class A, class B>
inline auto min_of(A a, B b) {
  return a < b ? a : b;
}
// a where m holds, else b (m from a comparison; masks combine with & and |).
template <class M, class A, class B>
inline auto select(M m, A a, B b) {
  return m ? a : b;
}

template <class V>
inline V sqrt_of(V x) {
  if constexpr (width_of<V> == 1)
    return std::sqrt(x);
  else if constexpr (width_of<V> == 4)
    return _mm_sqrt_ps(x);
#if defined(__AVX__)
  else if constexpr (width_of<V> == 8)
    return _mm256_sqrt_ps(x);
#endif
#if defined(__AVX512F__)
  else if constexpr (width_of<V> == 16)
#if defined(__clang__)
    return _mm512_sqrt_ps(x);
#else  // _mm512_sqrt_ps, without the undefined pass-through operand GCC 12 warns of
    return __builtin_ia32_sqrtps512_mask(x, x, static_cast<__mmask16>(-1), _MM_FROUND_CUR_DIRECTION);
#endif
#endif
  else
    static_assert(width_of<V> == 1, "no square root for this vector on this path");
}

// |x|: the sign bit cleared, as fabs does.
template <class V>
inline V abs_of(V x) {
  if constexpr (is_vector<V>)
    return (V)((IndexOf<V>)x & 0x7fffffff);
  else
    return std::fabs(x);
}

// Float to double and back (round to nearest), lane by lane.
template <class V>
inline DoublesOf<V> wide(V x) {
  if constexpr (is_vector<V>)
    return __builtin_convertvector(x, DoublesOf<V>);
  else
    return static_cast<double>(x);
}
template <class D>
inline auto narrow(D x) {
  if constexpr (std::is_same_v<D, double>)
    return static_cast<float>(x);
  else
    return __builtin_convertvector(x, typename LaneTypes<sizeof(D) / sizeof(double)>::floats);
}

// body(j) for j = first, first + lanes, ... up to last; the count of rings
// must be a multiple of the lanes (rings 2..49: 48 of them).
template <class V, class Body>
inline void for_rings(int first, int last, Body&& body) {
  for (int j = first; j <= last; j += width_of<V>) body(j);
}

}  // namespace
}  // namespace tarvo
