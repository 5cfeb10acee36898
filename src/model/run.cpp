#include "model/run.hpp"

#include "input/text_file.hpp"

namespace tarvo {

Run::Run(const OceanGrids& g, std::string dir) : grids(g), case_dir(std::move(dir)) {}

void Run::read_params() {
  const std::string path = case_path(case_dir, "params.in");
  parse_params(read_whole_file(path, path), path);
}

void Run::read_track() {
  const std::string path = case_path(case_dir, "track.in");
  parse_track(read_whole_file(path, path), path);
}

void Run::sample_track() { CaseInputs::sample_track(grids, case_path(case_dir, "track.in")); }

// The phases of the step on the run's path.
void Run::step_forcing() { (this->*path->step_forcing)(); }
void Run::friction_and_mixing() { (this->*path->friction_and_mixing)(); }
void Run::solve_circulation() { (this->*path->solve_circulation)(); }
bool Run::update_rings() { return (this->*path->update_rings)(); }
bool Run::finish_step() { return (this->*path->finish_step)(); }
void Run::filter_and_rotate() { (this->*path->filter_and_rotate)(); }
bool Run::step() { return (this->*path->step)(); }
RunEnd Run::run_model() { return (this->*path->run_model)(); }
void Run::run_models(const RunFeed& feed, const StepPath& path) { path.run_models(feed); }

}  // namespace tarvo
