// track.in: title line, header (basin code and reference date), caption line,
// then up to 200 records of eight free-format fields each.
#include <cmath>
#include <cstdio>

#include "input/free_format.hpp"
#include "input/input_error.hpp"
#include "input/smoothing.hpp"
#include "input/text_file.hpp"
#include "input/case_inputs.hpp"
#include "input/calendar.hpp"

namespace tarvo {

namespace {

constexpr float metres_per_degree = 111351.92f;  // m per degree of latitude
constexpr float radians_per_degree = 0.017453279f;
constexpr float knots_to_m_per_h = 1852.0f;     // m per nautical mile
constexpr float hours_per_second = 0.00027777778f;
constexpr int max_record_hours = 100000;         // keeps time in seconds within an int

}  // namespace

void CaseInputs::parse_track(std::string_view text, const std::string& shown) {
  using Status = FreeFormatReader::Status;
  FreeFormatReader reader(text);

  if (reader.skip_line() != Status::ok)
    throw InputError(shown, reader.line(), "end of file; expected the title line");
  char code[2] = {' ', ' '};
  switch (reader.read({FreeFormatReader::chars(code, 2, "basin code"),
                       FreeFormatReader::integer(start_month, "reference month"),
                       FreeFormatReader::integer(start_day, "reference day"),
                       FreeFormatReader::integer(start_hour, "reference hour")})) {
    case Status::ok:
      break;
    case Status::end_of_file:
      throw InputError(shown, reader.line(),
                       "end of file; expected the header (basin code, month, day, hour)");
    case Status::bad_value:
      throw InputError(shown, reader.line(), reader.problem() + " in the header");
  }
  const int header_line = reader.line();
  basin[0] = code[0];
  basin[1] = code[1];
  if (start_month < 1 || start_month > 12)
    throw InputError(shown, header_line,
                     "reference month " + std::to_string(start_month) + " is not in 1..12");
  if (start_day < 1 || start_day > days_in_month(start_month))
    throw InputError(shown, header_line,
                     "reference day " + std::to_string(start_day) + " is not a day of month " +
                         std::to_string(start_month));
  if (start_hour < 0 || start_hour > 23)
    throw InputError(shown, header_line,
                     "reference hour " + std::to_string(start_hour) + " is not in 0..23");
  if (reader.skip_line() != Status::ok)
    throw InputError(shown, reader.line(), "end of file; expected the caption line");

  // The read variables persist from record to record: a record ended early by
  // a slash keeps the previous record's values in its remaining fields.
  int hours = 0;
  float lat = 0, lon = 0, wind = 0, vpot_in = 0, f6 = 0, t600 = 0, rh600 = 0;
  int time_prev_s = 0;
  n_track = 0;
  i_start = 0;
  for (int attempt = 1; attempt <= track_capacity; ++attempt) {
    const Status status = reader.read({FreeFormatReader::integer(hours, "time in hours"),
                                       FreeFormatReader::real(lat, "latitude"),
                                       FreeFormatReader::real(lon, "longitude"),
                                       FreeFormatReader::real(wind, "maximum wind"),
                                       FreeFormatReader::real(vpot_in, "potential intensity"),
                                       FreeFormatReader::real(f6, "field 6"),
                                       FreeFormatReader::real(t600, "temperature"),
                                       FreeFormatReader::real(rh600, "relative humidity")});
    if (status == Status::end_of_file) break;
    const int line = reader.line();
    if (status == Status::bad_value) {
      if (attempt == 1)
        throw InputError(shown, line, "the first record is unreadable: " + reader.problem());
      if (diagnostics)
        std::fprintf(diagnostics, "tarvo: warning: %s, line %d: record skipped: %s\n",
                     shown.c_str(), line, reader.problem().c_str());
      continue;
    }
    const std::string record = "record " + std::to_string(n_track + 1);
    if (hours < -max_record_hours || hours > max_record_hours)
      throw InputError(shown, line, record + ": time " + std::to_string(hours) + " h is out of range");
    if (!(lon >= -360.0f && lon <= 360.0f))
      throw InputError(shown, line, record + ": longitude is not within -360..360");
    if (attempt == 1) t_first_hours = hours;
    const int time_s = hours * 3600;
    if (n_track > 0 && time_s <= time_prev_s)
      throw InputError(shown, line,
                       record + ": time " + std::to_string(hours) +
                           " h does not follow the previous record's time");
    if (lon < 0.0f) lon = lon + 360.0f;
    const int n = ++n_track;
    if (time_s <= 0) i_start = n;
    if (n > 1) {
      const float dy = (lat - track_lat[n - 1]) * metres_per_degree;
      // Across the 0/360 meridian the storm moves the short way round.
      float dlon = lon - track_lon[n - 1];
      if (dlon > 180.0f)
        dlon = dlon - 360.0f;
      else if (dlon < -180.0f)
        dlon = dlon + 360.0f;
      const float dx = metres_per_degree * std::cos(lat * radians_per_degree) * dlon;
      track_dist[n] = std::sqrt(dx * dx + dy * dy) + track_dist[n - 1];
      track_time[n] = static_cast<float>(time_s - time_prev_s) + track_time[n - 1];
    } else {
      track_dist[n] = 0.0f;
      track_time[n] = 0.0f;
    }
    track_vobs[n] = wind * knots_to_m_per_h * hours_per_second;
    track_lat[n] = lat;
    track_lon[n] = lon;
    track_vpot[n] = vpot_in;
    track_f6[n] = f6;
    track_t600[n] = t600;
    track_rh600[n] = rh600;
    time_prev_s = time_s;
  }
  if (n_track == 0) throw InputError(shown, reader.line(), "no track records");
  if (i_start == 0)
    throw InputError(shown, reader.line(),
                     "no record at or before 0 h (the forecast starts at the last one)");
}

void CaseInputs::smooth_track() {
  const float s1 = smooth_vobs;
  // Observed wind up to the start record: two passes from the old values.
  for (int pass = 0; pass < 2; ++pass) smooth_pass_from_old(track_vobs.data(), 2, i_start - 1, s1);
  // Start record: pulled towards the straight-line extrapolation of the two
  // records before it (nothing to extrapolate from when it is the first).
  if (i_start >= 2) {
    const int j = i_start == 2 ? 1 : i_start - 2;
    track_vobs[i_start] = s1 * (2.0f * track_vobs[i_start - 1] - track_vobs[j]) +
                          (1.0f - s1) * track_vobs[i_start];
  }
  for (int pass = 0; pass < 4; ++pass)
    smooth_pass_in_place(track_dist.data(), 2, n_track - 1, smooth_dist);
  smooth_pass_from_old(track_f6.data(), 2, n_track - 1, smooth_f6);
}

}  // namespace tarvo
