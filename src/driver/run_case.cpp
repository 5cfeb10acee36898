#include "driver/run_case.hpp"

#include <memory>

#include "api/tarvo.hpp"
#include "input/input_error.hpp"
#include "output/progress.hpp"

namespace tarvo {

void prepare_case(Run& run) {
  run.read_track();
  run.read_params();
  run.smooth_track();
  run.sample_track();
  run.set_up();
  run.init_run();
}

RunEnd run_and_write(Run& run) {
  const RunEnd end = run.run_model();
  if (end == RunEnd::finished) run.write_track_output();
  return end;
}

RunEnd run_case(Run& run) {
  prepare_case(run);
  return run_and_write(run);
}

int run_program(const std::string& case_dir, const std::string& data_dir, std::FILE* out,
                std::FILE* err) {
  if (const std::string_view problem = step_path_request_problem(); !problem.empty()) {
    std::fprintf(err, "tarvo: %.*s\n", static_cast<int>(problem.size()), problem.data());
    return 2;
  }
  try {
    const OceanGrids grids = load_grids(data_dir);
    const Forecast f = run_case_dir(case_dir, grids, out, err);
    if (f.status == Forecast::Status::stopped_early) {
      std::fprintf(err,
                   "tarvo: the model stopped early at %+.1f h (a negative squared radius at ring "
                   "%d); no track.out was written\n",
                   static_cast<double>(f.stop_hours), f.stop_ring);
    }
    return 0;
  } catch (const InputError& e) {
    std::fprintf(err, "tarvo: %s\n", e.what());
    return 2;
  } catch (const std::bad_alloc&) {
    std::fprintf(err, "tarvo: out of memory\n");
    return 2;
  }
}

}  // namespace tarvo
