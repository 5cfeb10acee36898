#pragma once
// e^x in single precision, for a float and lane by lane for GCC vectors of
// 4, 8 or 16 floats, with the bits of glibc's expf as its generic x86-64
// build (__expf_sse2) computes them: every float input, the special cases
// too. glibc picks its FMA build instead on CPUs with FMA and AVX2, and the
// two differ on exactly two inputs: 0x4202422f (32.564632) and 0xc27c65d9
// (-63.099461), where the FMA build gives the next float up (0x56fc9f1c,
// 0x11fa2993) and the generic build the correctly rounded value (0x56fc9f1b,
// 0x11fa2992). This function gives the generic build's bits on every machine
// and path (tests/exp_check.cpp compares it with glibc over every float).
//
// The method (glibc's, in double precision, without fused multiply-add):
// x / ln 2 = (k + r) / 32 with k whole and |r| <= 1/2; e^x = 2^(k/32) 2^(r/32),
// 2^(k/32) from a table of 2^(i/32) (the exponent of k / 32 added to its
// bits) and 2^(r/32) from a cubic in r, rounded to float once at the end.
//
// Everything here has internal linkage: each instruction-set path compiles
// its own copy.
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace tarvo {
namespace {
namespace exp_detail {

// bits(2^(i/32)) - (i << 47): 2^(i/32) correctly rounded to double, its
// exponent bits to be added back from k.
inline constexpr std::uint64_t table[32] = {
    0x3ff0000000000000, 0x3fefd9b0d3158574, 0x3fefb5586cf9890f, 0x3fef9301d0125b51, 0x3fef72b83c7d517b,
    0x3fef54873168b9aa, 0x3fef387a6e756238, 0x3fef1e9df51fdee1, 0x3fef06fe0a31b715, 0x3feef1a7373aa9cb,
    0x3feedea64c123422, 0x3feece086061892d, 0x3feebfdad5362a27, 0x3feeb42b569d4f82, 0x3feeab07dd485429,
    0x3feea47eb03a5585, 0x3feea09e667f3bcd, 0x3fee9f75e8ec5f74, 0x3feea11473eb0187, 0x3feea589994cce13,
    0x3feeace5422aa0db, 0x3feeb737b0cdc5e5, 0x3feec49182a3f090, 0x3feed503b23e255d, 0x3feee89f995ad3ad,
    0x3feeff76f2fb5e47, 0x3fef199bdd85529c, 0x3fef3720dcef9069, 0x3fef5818dcfba487, 0x3fef7c97337b9b5f,
    0x3fefa4afa2a490da, 0x3fefd0765b6e4540,
};
inline constexpr double inv_ln2_32 = 0x1.71547652b82fep+0 * 32;  // 32 / ln 2
inline constexpr double round_shift = 0x1.8p+52;                  // adding it rounds to a whole number
// 2^(r/32) ~ c0 r^3 + c1 r^2 + c2 r + 1 for |r| <= 1/2.
inline constexpr double c0 = 0x1.c6af84b912394p-5 / 32 / 32 / 32;
inline constexpr double c1 = 0x1.ebfce50fac4f3p-3 / 32 / 32;
inline constexpr double c2 = 0x1.62e42ff0c52d6p-1 / 32;
// The top 12 bits of 88.0f: from |x| >= 88 (and for inf and NaN) the special cases are looked at.
inline constexpr std::uint32_t top_88 = 0x42b;

template <class To, class From>
inline To bit_cast(From x) {
  static_assert(sizeof(To) == sizeof(From));
  To y;
  std::memcpy(&y, &x, sizeof y);
  return y;
}

// The value types of a float value type V: its doubles and their bits.
template <class V>
struct Wide;
template <>
struct Wide<float> {
  using doubles = double;
  using bits = std::uint64_t;
};
template <int N>
struct WideOf;
template <>
struct WideOf<4> {
  typedef double doubles __attribute__((vector_size(32)));
  typedef std::uint64_t bits __attribute__((vector_size(32)));
  typedef std::uint32_t float_bits __attribute__((vector_size(16)));
};
template <>
struct WideOf<8> {
  typedef double doubles __attribute__((vector_size(64)));
  typedef std::uint64_t bits __attribute__((vector_size(64)));
  typedef std::uint32_t float_bits __attribute__((vector_size(32)));
};
template <>
struct WideOf<16> {
  typedef double doubles __attribute__((vector_size(128)));
  typedef std::uint64_t bits __attribute__((vector_size(128)));
  typedef std::uint32_t float_bits __attribute__((vector_size(64)));
};
template <class V>
struct Wide : WideOf<sizeof(V) / sizeof(float)> {};

// The special cases, for |x| >= 88, inf and NaN, as glibc has them.
inline float special(float x) {
  const std::uint32_t ux = bit_cast<std::uint32_t>(x);
  if (ux == 0xff800000u) return 0.0f;                                    // e^-inf
  if ((ux >> 20 & 0x7ff) >= 0x7f8) return x + x;                          // inf, NaN
  if (x > 0x1.62e42ep6f) return 0x1p97f * 0x1p97f;                        // overflow: inf
  if (x < -0x1.9fe368p6f) return 0x1p-95f * 0x1p-95f;                     // underflow: 0
  return 0.0f;  // not reached: the rest take the general formula
}

inline bool is_special(float x) {
  return (bit_cast<std::uint32_t>(x) >> 20 & 0x7ff) >= top_88 &&
         !(x <= 0x1.62e42ep6f && x >= -0x1.9fe368p6f);
}

// Whether any lane has |x| >= 88, inf or NaN.
template <class V>
inline bool any_large(V x) {
  if constexpr (std::is_same_v<V, float>) {
    return (bit_cast<std::uint32_t>(x) >> 20 & 0x7ff) >= top_88;
  } else {
    using U32 = typename Wide<V>::float_bits;
    const U32 top = bit_cast<U32>(x) >> 20 & 0x7ff;
    const U32 large = (U32)(top >= top_88);
    std::uint32_t any = 0;
    for (int l = 0; l < static_cast<int>(sizeof(V) / sizeof(float)); ++l) any |= large[l];
    return any != 0;
  }
}

}  // namespace exp_detail

template <class V>
inline V exp_of(V x);

namespace exp_detail {

// Lanes of which one at least has |x| >= 88, inf or NaN, lane by lane: rare,
// and kept out of the hot code.
template <class V>
[[gnu::noinline, gnu::cold]] V exp_lane_by_lane(V x) {
  V y;
  for (int l = 0; l < static_cast<int>(sizeof(V) / sizeof(float)); ++l) {
    if constexpr (std::is_same_v<V, float>) y = is_special(x) ? special(x) : exp_of<float>(x);
    else y[l] = is_special(x[l]) ? special(x[l]) : exp_of<float>(x[l]);
  }
  return y;
}

}  // namespace exp_detail

// e^x for a float or lane by lane (V a float or a GCC vector of floats).
template <class V>
inline V exp_of(V x) {
  using namespace exp_detail;
  using D = typename Wide<V>::doubles;
  using U = typename Wide<V>::bits;
  constexpr bool vector = !std::is_same_v<V, float>;
  constexpr int n = sizeof(V) / sizeof(float);
  // |x| >= 88, inf and NaN: the special cases where they apply.
  if (__builtin_expect(any_large(x), 0)) {
    if constexpr (vector) {
      return exp_lane_by_lane(x);
    } else {
      if (is_special(x)) return special(x);
    }
  }
  D xd;
  if constexpr (vector) xd = __builtin_convertvector(x, D);
  else xd = static_cast<double>(x);
  const D z = inv_ln2_32 * xd;
  D kd = z + round_shift;  // k + 2^52 + 2^51: k in the low bits
  const U ki = bit_cast<U>(kd);
  kd = kd - round_shift;
  const D r = z - kd;
  U t;
  if constexpr (vector) {
    for (int l = 0; l < n; ++l) t[l] = table[ki[l] % 32];
  } else {
    t = table[ki % 32];
  }
  t = t + (ki << 47);
  const D s = bit_cast<D>(t);
  const D p = c0 * r + c1;
  const D r2 = r * r;
  D y = c2 * r + 1.0;
  y = p * r2 + y;
  y = y * s;
  if constexpr (vector) return __builtin_convertvector(y, V);
  else return static_cast<float>(y);
}

inline float exp_float(float x) { return exp_of<float>(x); }

}  // namespace
}  // namespace tarvo
