#pragma once
// The run sequence of one forecast on the model's own state (Run), for the
// tools that look inside a run: the tracer, the benchmarks and the tests. The
// programs and the Python package go through the library API instead.
#include "model/run.hpp"

namespace tarvo {

// The input stage from the case directory's files, the set-up and the
// initialisation. Throws InputError on an input failure.
inline void prepare_case(Run& run) {
  run.read_track();
  run.read_params();
  run.smooth_track();
  run.sample_track();
  run.set_up();
  run.init_run();
}

// The time loop, then track.out unless the model stopped early.
inline RunEnd run_and_write(Run& run) {
  const RunEnd end = run.run_model();
  if (end == RunEnd::finished) run.write_track_output();
  return end;
}

inline RunEnd run_case(Run& run) {
  prepare_case(run);
  return run_and_write(run);
}

}  // namespace tarvo
