#pragma once
// The tarvo library: a track and its parameters in, a forecast out, from text
// files or from values in memory, byte for byte what the tarvo program
// writes. No hidden state: the grids are loaded once and shared, read-only,
// by any number of forecasts on any number of threads.
//
//   const tarvo::OceanGrids grids = tarvo::load_grids("data");
//   const tarvo::Forecast f = tarvo::forecast(tarvo::read_track_file("track.in"),
//                                             tarvo::read_params_file("params.in"), grids);
//   std::string text = tarvo::track_out_text(f);      // the bytes of track.out
//
// Every fault of an input ends in tarvo::InputError, naming the file (or the
// name given) and the line where one applies.
//
// From the layers below, these are part of the API: Track, TrackRecord,
// track_text and tarvo_basin (input/cases/track.hpp), InputError, OceanGrids,
// OutputSample and ProgressSink, and what made a file (output/provenance.hpp:
// version, history_line, command_line).
#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "input/cases/case_inputs.hpp"
#include "input/input_error.hpp"
#include "input/cases/ocean_grids.hpp"
#include "input/cases/track.hpp"
#include "model/run.hpp"
#include "output/provenance.hpp"
#include "output/track_output.hpp"

namespace tarvo {

// The four run parameters of params.in: smoothing weights of the observed
// wind, the along-track distance and field 6, and the intensity feedback gain.
using Params = ModelParams;

// The rules a track is taken by. The library's (the default, and every
// interface but the tarvo program's own reading of track.in): the basin code
// normalised (tarvo_basin: "EP", "ep", IBTrACS's "EP" all select the eastern
// Pacific; an unknown code is an InputError), and every value of every fix a
// finite number. track.in's, as the tarvo program reads it: the basin
// compared exactly with "ep" and values used as read, with a warning for a
// code that means "ep" in another case and for each value that is not finite.
enum class TrackRules { library, track_in };

// track.in from its text or its file, with every check of a run's input
// stage (so a track that reads here also forecasts). `name` names it in
// messages; the warnings on records skipped as unreadable go to `warnings`
// (when given) in the file's order, as the checks reach them.
Track parse_track(std::string_view text, const std::string& name, std::FILE* warnings = nullptr,
                  TrackRules rules = TrackRules::library);
Track read_track_file(const std::string& path, std::FILE* warnings = nullptr,
                      TrackRules rules = TrackRules::library);

// A track made in memory, checked as a run would take it under the library's
// rules: its basin normalised in place; InputError names `name`.
void check_track(Track& track, const std::string& name);

Params parse_params(std::string_view text, const std::string& name);
Params read_params_file(const std::string& path);

// The elevation grid and the monthly climatologies of `data_dir`.
OceanGrids load_grids(const std::string& data_dir);

// A whole text file (InputError names it when it cannot be read).
std::string read_text_file(const std::string& path);
// A text file written whole or not at all (a temporary file beside it,
// renamed over it when complete); InputError names it.
void write_text_file(const std::string& path, const std::string& text);
// After a NetCDF-4 file written by another library (netCDF4-python) failed:
// HDF5 1.10 may keep a file whose close failed, its memory freed, and close
// it again at the process's exit. This ends the process at its exit before
// HDF5's shutdown (its output flushed, its exit status kept).
void guard_hdf5_shutdown();

// The instruction-set path the time step runs on in this process ("avx512",
// "avx2", "sse", "scalar"), and what TARVO_SIMD asks for that this CPU cannot
// do (empty when nothing).
std::string step_path_name();
std::string step_path_problem();

// What `program --version` prints: "tarvo-batch (tarvo 0.9.0+g...), time
// step on avx512", and a line end.
std::string version_text(const std::string& program);

using ForecastSample = OutputSample;

struct Forecast {
  enum class Status { finished, stopped_early };
  Status status = Status::finished;
  // Where a negative squared radius stopped the model (hours from the
  // reference time, ring): no samples then.
  float stop_hours = 0;
  int stop_ring = 0;
  std::vector<std::string> warnings;  // one a line, as tarvo writes them on standard error
  std::vector<ForecastSample> samples;  // every 2 h from the first record to the last
  int first_hour = 0;                  // hours of the first sample from the reference time
};

// The forecast of one storm. `name` names the track in messages; progress
// goes to `progress` (nowhere by default).
Forecast forecast(const Track& track, const Params& params, const OceanGrids& grids,
                  ProgressSink progress = nullptr, const std::string& name = "track",
                  TrackRules rules = TrackRules::library);

// One storm of a stream of forecasts: its inputs, the grids it runs on, its
// name in messages, and a tag of the caller's to know its forecast by.
struct StormInputs {
  Track track;
  Params params;
  const OceanGrids* grids = nullptr;
  std::string name = "track";
  std::size_t tag = 0;
  TrackRules rules = TrackRules::library;
};

// Forecasts storm after storm on this thread, several stepping together (the
// sequential parts of their steps side by side), each one equal to
// forecast()'s bit for bit; this is how many storms run fastest.
//   next(storm): fills in the next storm; false when there are no more.
//   done(tag, forecast, error): each storm as it ends, in the order they end:
//     its forecast, or, when its inputs failed, the error (forecast empty).
void forecast_stream(const std::function<bool(StormInputs& storm)>& next,
                     const std::function<void(std::size_t tag, Forecast&& forecast,
                                              const InputError* error)>& done);

// The bytes of the forecast's track.out (a stopped forecast has none: empty).
std::string track_out_text(const Forecast& forecast);

// A case directory's inputs as the tarvo program takes them (track.in's
// rules): track.in (its warnings to `warnings`, when given, as they arise)
// and params.in.
struct CaseDir {
  std::string track_path;
  Track track;
  Params params;
};
CaseDir read_case_dir(const std::string& case_dir, std::FILE* warnings);

// track.out of a finished forecast, written into `case_dir` whole or not at
// all; a stopped forecast writes none.
void write_case_track_out(const std::string& case_dir, const Forecast& forecast);

// What the tarvo program does in `case_dir` (params.in, track.in; track.out
// written there whole or not at all after a finished forecast), with the
// grids given: progress lines to `progress` (null: none), warnings to
// `warnings` as they arise.
Forecast run_case_dir(const std::string& case_dir, const OceanGrids& grids, std::FILE* progress,
                      std::FILE* warnings);

}  // namespace tarvo
