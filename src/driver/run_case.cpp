#include "driver/run_case.hpp"

#include "api/tarvo.hpp"

namespace tarvo {

int run_program(const std::string& case_dir, const std::string& data_dir, std::FILE* out,
                std::FILE* err) {
  if (const std::string problem = step_path_problem(); !problem.empty()) {
    std::fprintf(err, "tarvo: %s\n", problem.c_str());
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
