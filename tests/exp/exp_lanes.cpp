// exp_of over an array, in the lanes of one instruction-set path (compiled
// once per path with TARVO_PATH and TARVO_LANES, as the time step is).
#include <cstddef>
#include <cstring>

#include "setup/exp.hpp"

#define TARVO_JOIN2(a, b) a##b
#define TARVO_JOIN(a, b) TARVO_JOIN2(a, b)

namespace {
#if TARVO_LANES == 1
using V = float;
#else
typedef float V __attribute__((vector_size(TARVO_LANES * 4)));
#endif
}  // namespace

// out[i] = e^x[i], n a multiple of the lanes.
void TARVO_JOIN(exp_lanes_, TARVO_PATH)(const float* x, float* out, std::size_t n) {
  for (std::size_t i = 0; i < n; i += TARVO_LANES) {
    V v;
    std::memcpy(&v, x + i, sizeof v);
    const V y = tarvo::exp_of<V>(v);
    std::memcpy(out + i, &y, sizeof y);
  }
}
