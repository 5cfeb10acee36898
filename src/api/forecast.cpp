#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "api/tarvo.hpp"
#include "output/netcdf_file.hpp"
#include "input/text_file.hpp"
#include "output/format.hpp"
#include "output/progress.hpp"

namespace tarvo {

namespace {

// The lines written to a memory stream while `work` runs with it.
template <class Work>
std::vector<std::string> lines_written(Work&& work) {
  char* log = nullptr;
  std::size_t size = 0;
  std::FILE* f = open_memstream(&log, &size);
  struct Close {
    std::FILE*& f;
    char*& log;
    ~Close() {
      if (f) std::fclose(f);
      std::free(log);
    }
  } close{f, log};
  work(f);
  std::vector<std::string> lines;
  if (!f) return lines;
  std::fclose(f);
  f = nullptr;
  std::string text(log ? log : "", size);
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace

Track parse_track(std::string_view text, const std::string& name, std::FILE* warnings, TrackRules rules) {
  Track track = read_track_text(text, name);
  if (rules == TrackRules::library) check_library_track(track, name);
  auto check = std::make_unique<CaseInputs>();
  check->diagnostics = warnings;
  check->load_track(track, name);
  return track;
}

Track read_track_file(const std::string& path, std::FILE* warnings, TrackRules rules) {
  return parse_track(read_whole_file(path, path), path, warnings, rules);
}

void check_track(Track& track, const std::string& name) {
  check_library_track(track, name);
  auto check = std::make_unique<CaseInputs>();
  check->diagnostics = nullptr;
  check->load_track(track, name);
}

Params parse_params(std::string_view text, const std::string& name) {
  CaseInputs inputs;
  inputs.parse_params(text, name);
  return static_cast<const ModelParams&>(inputs);
}

Params read_params_file(const std::string& path) { return parse_params(read_whole_file(path, path), path); }

OceanGrids load_grids(const std::string& data_dir) { return read_climatology(data_dir); }

std::string read_text_file(const std::string& path) { return read_whole_file(path, path); }

void write_text_file(const std::string& path, const std::string& text) { write_file_whole(path, text); }
void guard_hdf5_shutdown() { keep_hdf5_from_closing_again(); }

std::string step_path_name() { return default_step_path().name; }

std::string step_path_problem() { return std::string(step_path_request_problem()); }

std::string version_text(const std::string& program) {
  return program + " (tarvo " + std::string(version()) + "), time step on " + step_path_name() + "\n";
}

namespace {

// A run of the storm ready to step: inputs, sampling, set-up and
// initialisation done; the warnings they gave go to `warnings`.
std::unique_ptr<Run> prepared_run(const Track& given, const Params& params, const OceanGrids& grids,
                                  ProgressSink progress, const std::string& name, TrackRules rules,
                                  std::vector<std::string>& warnings) {
  Track checked;
  const Track* track = &given;
  if (rules == TrackRules::library) {
    checked = given;
    check_library_track(checked, name);
    track = &checked;
    for (const auto& [what, value] : {std::pair{"smooth_vobs", params.smooth_vobs}, {"smooth_dist", params.smooth_dist},
                                      {"smooth_f6", params.smooth_f6}, {"nudge_gain", params.nudge_gain}})
      if (!std::isfinite(value))
        throw InputError(name, 0, std::string("run parameter ") + what + " is not a finite number");
  }
  auto run = std::make_unique<Run>(grids, std::string());
  run->progress = progress;
  warnings = lines_written([&](std::FILE* diagnostics) {
    run->diagnostics = diagnostics;
    static_cast<ModelParams&>(*run) = params;
    run->load_track(*track, name);
    run->smooth_track();
    run->CaseInputs::sample_track(grids, name);
    run->set_up();
    run->init_run();
    run->diagnostics = nullptr;
  });
  return run;
}

// The forecast of a run that ended as `end`.
Forecast forecast_of(const Run& run, RunEnd end, std::vector<std::string> warnings) {
  Forecast result;
  result.warnings = std::move(warnings);
  if (end == RunEnd::negative_radius) {
    result.status = Forecast::Status::stopped_early;
    result.stop_hours = run.stop_hours;
    result.stop_ring = run.stop_ring;
  } else {
    result.samples = output_samples(run);
  }
  result.first_hour = run.t_first_hours;
  return result;
}

}  // namespace

Forecast forecast(const Track& track, const Params& params, const OceanGrids& grids,
                  ProgressSink progress, const std::string& name, TrackRules rules) {
  std::vector<std::string> warnings;
  const std::unique_ptr<Run> run = prepared_run(track, params, grids, progress, name, rules, warnings);
  const RunEnd end = run->run_model();
  return forecast_of(*run, end, std::move(warnings));
}

void forecast_stream(const std::function<bool(StormInputs&)>& next,
                     const std::function<void(std::size_t, Forecast&&, const InputError*)>& done) {
  struct InFlight {
    std::unique_ptr<Run> run;
    std::size_t tag;
    std::vector<std::string> warnings;
  };
  struct Stream {
    const std::function<bool(StormInputs&)>& next;
    const std::function<void(std::size_t, Forecast&&, const InputError*)>& done;
    std::vector<InFlight> in_flight;
  } stream{next, done, {}};
  stream.in_flight.reserve(storm_lanes);
  const RunFeed feed{
      [](void* context) -> Run* {
        Stream& s = *static_cast<Stream*>(context);
        for (;;) {
          StormInputs storm;
          if (!s.next(storm)) return nullptr;
          if (!storm.grids) {
            const InputError e(storm.name, 0, "no grids given for this storm");
            s.done(storm.tag, Forecast{}, &e);
            continue;
          }
          InFlight f{nullptr, storm.tag, {}};
          try {
            f.run = prepared_run(storm.track, storm.params, *storm.grids, nullptr, storm.name, storm.rules,
                                 f.warnings);
          } catch (const InputError& e) {
            s.done(storm.tag, Forecast{}, &e);
            continue;
          } catch (const std::bad_alloc&) {
            const InputError e(storm.name, 0, "out of memory");
            s.done(storm.tag, Forecast{}, &e);
            continue;
          }
          s.in_flight.push_back(std::move(f));
          return s.in_flight.back().run.get();
        }
      },
      [](void* context, Run* run, RunEnd end) {
        Stream& s = *static_cast<Stream*>(context);
        auto it = s.in_flight.begin();
        while (it->run.get() != run) ++it;
        InFlight f = std::move(*it);
        s.in_flight.erase(it);
        s.done(f.tag, forecast_of(*f.run, end, std::move(f.warnings)), nullptr);
      },
      &stream};
  Run::run_models(feed);
}

std::string track_out_text(const Forecast& f) {
  return f.status == Forecast::Status::finished ? track_out_text(f.samples) : std::string();
}

CaseDir read_case_dir(const std::string& case_dir, std::FILE* warnings) {
  CaseDir c;
  c.track_path = case_path(case_dir, "track.in");
  c.track = read_track_file(c.track_path, warnings, TrackRules::track_in);  // its warnings shown here, in order
  c.params = read_params_file(case_path(case_dir, "params.in"));
  return c;
}

void write_case_track_out(const std::string& case_dir, const Forecast& f) {
  if (f.status == Forecast::Status::finished)
    write_file_whole(case_path(case_dir, "track.out"), track_out_text(f));
}

Forecast run_case_dir(const std::string& case_dir, const OceanGrids& grids, std::FILE* progress,
                      std::FILE* warnings) {
  const CaseDir c = read_case_dir(case_dir, warnings);
  Forecast f = forecast(c.track, c.params, grids, progress_lines(progress), c.track_path, TrackRules::track_in);
  write_case_track_out(case_dir, f);
  return f;
}

}  // namespace tarvo
