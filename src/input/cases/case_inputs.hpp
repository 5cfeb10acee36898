#pragma once
// The inputs of one forecast as the model takes them: the run parameters of
// params.in, the records of track.in (in m, s and m/s from the first record
// on, with the along-track distance) and the two-hourly samples of the track
// with the ocean data under them. Plain data with fixed capacities, and the
// readers that fill them.
#include <array>
#include <cstdio>
#include <string>
#include <string_view>

#include "input/cases/ocean_grids.hpp"
#include "input/cases/track.hpp"

namespace tarvo {

inline constexpr int track_capacity = 200;
inline constexpr int sample_capacity = 600;

// 1-based arrays: element 0 is never used and stays 0.
using TrackArray = std::array<float, track_capacity + 1>;
using SampleArray = std::array<float, sample_capacity + 1>;

struct ModelParams {
  float smooth_vobs = 0.0f;
  float smooth_dist = 0.0f;
  float smooth_f6 = 0.0f;
  float nudge_gain = 0.0f;
};

// A params.in that reads back to the same values, bit for bit.
std::string params_text(const ModelParams& params);

struct TrackRecords {
  char basin[2] = {' ', ' '};
  int start_month = 0, start_day = 0, start_hour = 0;
  int t_first_hours = 0;
  int n_track = 0;
  int i_start = 0;
  TrackArray track_lat{}, track_lon{}, track_vobs{}, track_time{}, track_dist{}, track_vpot{},
      track_f6{}, track_t600{}, track_rh600{};
};

struct SampleSeries {
  int n_samp = 0;
  SampleArray samp_time{}, samp_dist{}, samp_lat{}, samp_lon{}, samp_vobs{}, samp_vpot{},
      samp_f6{}, samp_t600{}, samp_rh600{}, samp_elev{}, samp_mld{}, samp_strat{};
  bool samp_dist_sorted = true;  // samp_dist never decreases: look-ups may bisect
  bool samp_time_sorted = true;  // samp_time never decreases: the clock's look-up may start late
};

struct CaseInputs : ModelParams, TrackRecords, SampleSeries {
  // params.in and track.in from their text (`shown` names the file in
  // messages); InputError names the file and line of a fault.
  void parse_params(std::string_view text, const std::string& shown);
  void parse_track(std::string_view text, const std::string& shown);
  // The records of a track read or made elsewhere, checked and converted.
  void load_track(const Track& track, const std::string& shown);
  // The smoothing of the observed wind, the distance and field 6.
  void smooth_track();
  // The two-hourly samples with the ocean under them (`shown` names track.in).
  void sample_track(const OceanGrids& grids, const std::string& shown);

  // Where warnings on skipped track records go (standard error by default).
  std::FILE* diagnostics = stderr;
};

}  // namespace tarvo
