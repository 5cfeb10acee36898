#pragma once
// The instruction-set paths of the time step. The step is compiled once per
// path (model/time_step.cpp with that path's lane count and -m flags); one
// binary carries them all and picks, at run time, the fastest this CPU runs.
// Every path gives identical bits.
#include <span>
#include <string_view>

namespace tarvo {

class Run;
enum class RunEnd;
struct RunFeed;

struct StepPath {
  const char* name;  // "scalar", "sse", "avx2", "avx512"
  int lanes;         // rings a vector holds
  void (Run::*step_forcing)();
  void (Run::*friction_and_mixing)();
  void (Run::*solve_circulation)();
  bool (Run::*update_rings)();
  bool (Run::*finish_step)();
  void (Run::*filter_and_rotate)();
  bool (Run::*step)();
  RunEnd (Run::*run_model)();
  void (*run_models)(const RunFeed& feed);
};

// Every path this CPU can run, narrowest first.
std::span<const StepPath* const> supported_step_paths();

// The path named `name` ("scalar", "sse", "avx2", "avx512"), or null when
// there is none of that name or this CPU cannot run it.
const StepPath* find_step_path(std::string_view name);

// The path runs use unless told otherwise: the one named by the environment
// variable TARVO_SIMD when it names a supported path, otherwise the fastest
// supported one. Chosen once per process.
const StepPath& default_step_path();

// What TARVO_SIMD asks for, when set: empty when it is unset or usable,
// otherwise a message saying what it may be.
std::string_view step_path_request_problem();

}  // namespace tarvo
