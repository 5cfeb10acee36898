// The two-hourly samples of the track, with the ocean data at each sample.
#include "input/input_error.hpp"
#include "input/text_file.hpp"
#include "input/cases/case_inputs.hpp"
#include "input/cases/ocean_grids.hpp"

namespace tarvo {

namespace {
constexpr float sample_seconds = 7200.0f;           // s between samples
constexpr float per_sample_second = 0.00013888889f;  // 1 / 7200 s, as stored
constexpr float time_tolerance = 1.0f;              // s
}  // namespace

void CaseInputs::sample_track(const OceanGrids& grids, const std::string& shown) {
  n_samp = static_cast<int>((track_time[n_track] + time_tolerance) * per_sample_second + 1.0f);
  if (n_samp > sample_capacity)
    throw InputError(shown, 0,
                     "the track lasts 1200 h or more (" + std::to_string(n_samp) +
                         " two-hourly samples; at most 600)");
  if (n_samp < 2) throw InputError(shown, 0, "the track lasts less than 2 h");

  for (int k = 1; k <= n_samp; ++k) {
    const float t = static_cast<float>(k - 1) * sample_seconds;
    samp_time[k] = t;
    // The interval that starts at the last fix at or before t (1 s tolerance).
    int i = n_track;
    for (int r = 2; r <= n_track; ++r) {
      if (track_time[r] > t + time_tolerance) {
        i = r;
        break;
      }
    }
    const float t0 = track_time[i - 1], t1 = track_time[i];
    auto interp = [&](const TrackArray& x) {
      return ((t1 - t) * x[i - 1] + (t - t0) * x[i]) / (t1 - t0);
    };
    samp_dist[k] = interp(track_dist);
    samp_vobs[k] = interp(track_vobs);
    samp_lat[k] = interp(track_lat);
    // Longitude the short way round the 0/360 meridian.
    const float a = track_lon[i - 1];
    float b = track_lon[i];
    bool shifted = false;
    if (b - a > 180.0f) {
      b = b - 360.0f;
      shifted = true;
    } else if (b - a < -180.0f) {
      b = b + 360.0f;
      shifted = true;
    }
    float lon = ((t1 - t) * a + (t - t0) * b) / (t1 - t0);
    if (shifted) {
      if (lon < 0.0f)
        lon = lon + 360.0f;
      else if (lon >= 360.0f)
        lon = lon - 360.0f;
    }
    samp_lon[k] = lon;
    samp_vpot[k] = interp(track_vpot);
    samp_f6[k] = interp(track_f6);
    samp_t600[k] = interp(track_t600);
    samp_rh600[k] = interp(track_rh600);

    if (!ocean_at_in_range(samp_lat[k], samp_lon[k]))
      throw InputError(shown, 0,
                       "the track position at " + std::to_string(t_first_hours + 2 * (k - 1)) +
                           " h (latitude " + std::to_string(samp_lat[k]) + ", longitude " +
                           std::to_string(samp_lon[k]) +
                           ") lies outside the ocean grids (latitudes -89.5 to 89.499)");
    const OceanPoint o = ocean_at(grids, samp_lat[k], samp_lon[k], start_month, start_day);
    samp_elev[k] = o.elev;
    samp_mld[k] = o.mld;
    samp_strat[k] = o.strat;
  }
}

}  // namespace tarvo
