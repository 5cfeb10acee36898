#pragma once
// The rows of track.out: date and hour, position, maximum wind, radius of
// maximum wind (as track.out shows it) and central pressure every two hours.
#include <string>
#include <vector>

#include "model/run.hpp"

namespace tarvo {

struct OutputSample {
  int month = 0, day = 0, hour = 0;  // date and hour (a calendar without leap days)
  float lat = 0, lon = 0;            // degrees N, degrees E (0..360)
  float vmax_kt = 0;                 // maximum wind, kt
  float rmw_km = 0;                  // radius of maximum wind, km, as track.out shows it
  float pmin_hpa = 0;                // central pressure, hPa
  float vobs_kt = 0;                 // the observed wind interpolated to the sample, kt
};

// The samples of a finished run.
std::vector<OutputSample> output_samples(const Run& run);

// track.out's bytes for those rows.
std::string track_out_text(const std::vector<OutputSample>& rows);

}  // namespace tarvo
