// track.in: title line, header (basin code and reference date), caption line,
// then up to 200 records of eight free-format fields each.
#include <cmath>
#include <cstdio>
#include <limits>

#include "input/cases/free_format.hpp"
#include "input/input_error.hpp"
#include "input/cases/smoothing.hpp"
#include "input/text_file.hpp"
#include "input/cases/track.hpp"
#include "input/cases/case_inputs.hpp"
#include "input/calendar.hpp"

namespace tarvo {

namespace {

constexpr float metres_per_degree = 111351.92f;  // m per degree of latitude
constexpr float radians_per_degree = 0.017453279f;
constexpr float knots_to_m_per_h = 1852.0f;     // m per nautical mile
constexpr float hours_per_second = 0.00027777778f;
constexpr int max_record_hours = 100000;         // keeps time in seconds within an int

// Codes taken for each of tarvo's basins (compared without regard to case).
struct BasinAlias {
  const char* code;
  const char* tarvo;
};
constexpr BasinAlias basin_aliases[] = {
    {"al", "al"}, {"ep", "ep"}, {"cp", "cp"}, {"wp", "wp"}, {"io", "io"}, {"sh", "sh"}, {"sl", "sl"},  // ATCF
    {"na", "al"}, {"ni", "io"}, {"si", "sh"}, {"sp", "sh"}, {"sa", "sl"}};                            // IBTrACS

// The values of a fix as the library names them, for messages.
struct FixValue {
  float TrackRecord::*member;
  const char* name;
  const char* what;
};
constexpr FixValue fix_values[] = {{&TrackRecord::lat, "lat", "latitude, degrees north"},
                                   {&TrackRecord::lon, "lon", "longitude, degrees east"},
                                   {&TrackRecord::vmax_kt, "vmax_kt", "observed maximum wind, kt"},
                                   {&TrackRecord::vpot, "vpot", "potential intensity, m/s"},
                                   {&TrackRecord::f6, "shear", "environmental wind shear, m/s"},
                                   {&TrackRecord::t600, "t600", "temperature at 600 hPa, K"},
                                   {&TrackRecord::rh600, "rh600", "relative humidity at 600 hPa, percent"}};

std::string number_text(float v) {
  if (std::isnan(v)) return "NaN";
  return v < 0.0f ? "-infinity" : "infinity";
}

}  // namespace

const char* const basin_codes_accepted =
    "ATCF's al, ep, cp, wp, io, sh, sl (in any case) or IBTrACS's NA, EP, WP, NI, SI, SP, SA";

std::string tarvo_basin(std::string_view code) {
  while (!code.empty() && code.back() == ' ') code.remove_suffix(1);
  while (!code.empty() && code.front() == ' ') code.remove_prefix(1);
  if (code.size() != 2) return {};
  const char lower[2] = {static_cast<char>(code[0] >= 'A' && code[0] <= 'Z' ? code[0] - 'A' + 'a' : code[0]),
                         static_cast<char>(code[1] >= 'A' && code[1] <= 'Z' ? code[1] - 'A' + 'a' : code[1])};
  for (const BasinAlias& a : basin_aliases)
    if (a.code[0] == lower[0] && a.code[1] == lower[1]) return a.tarvo;
  return {};
}

void check_library_track(Track& track, const std::string& shown) {
  const std::string basin = tarvo_basin(track.basin);
  if (basin.empty())
    throw InputError(shown, track.header_line,
                     "the basin code '" + track.basin + "' is not one tarvo knows: give " + basin_codes_accepted);
  track.basin = basin;
  for (std::size_t k = 0; k < track.records.size(); ++k) {
    const TrackRecord& r = track.records[k];
    for (const FixValue& f : fix_values) {
      const float v = r.*(f.member);
      if (std::isfinite(v)) continue;
      const int line = k < track.lines.size() ? track.lines[k] : 0;
      throw InputError(shown, line,
                       "fix " + std::to_string(k + 1) + " (" + std::to_string(r.hour) + " h): " + f.name + " (" +
                           f.what + ") is " + number_text(v) +
                           "; every value of a fix must be a finite number: fill it in (the environment "
                           "along a track: tarvo-catalog env) or leave the fix out");
    }
  }
}

Track read_track_text(std::string_view text, const std::string& shown) {
  using Status = FreeFormatReader::Status;
  FreeFormatReader reader(text);
  Track track;

  if (reader.skip_line() != Status::ok)
    throw InputError(shown, reader.line(), "end of file; expected the title line");
  char code[2] = {' ', ' '};
  switch (reader.read({FreeFormatReader::chars(code, 2, "basin code"),
                       FreeFormatReader::integer(track.month, "reference month"),
                       FreeFormatReader::integer(track.day, "reference day"),
                       FreeFormatReader::integer(track.hour, "reference hour")})) {
    case Status::ok:
      break;
    case Status::end_of_file:
      throw InputError(shown, reader.line(),
                       "end of file; expected the header (basin code, month, day, hour)");
    case Status::bad_value:
      throw InputError(shown, reader.line(), reader.problem() + " in the header");
  }
  track.header_line = reader.line();
  track.basin.assign(code, 2);
  check_track_header(track, shown);
  if (reader.skip_line() != Status::ok)
    throw InputError(shown, reader.line(), "end of file; expected the caption line");

  // The read variables persist from record to record: a record ended early by
  // a slash keeps the previous record's values in its remaining fields.
  TrackRecord r;
  for (int attempt = 1; attempt <= track_capacity; ++attempt) {
    const Status status = reader.read({FreeFormatReader::integer(r.hour, "time in hours"),
                                       FreeFormatReader::real(r.lat, "latitude"),
                                       FreeFormatReader::real(r.lon, "longitude"),
                                       FreeFormatReader::real(r.vmax_kt, "maximum wind"),
                                       FreeFormatReader::real(r.vpot, "potential intensity"),
                                       FreeFormatReader::real(r.f6, "field 6"),
                                       FreeFormatReader::real(r.t600, "temperature"),
                                       FreeFormatReader::real(r.rh600, "relative humidity")});
    if (status == Status::end_of_file) break;
    const int line = reader.line();
    if (status == Status::bad_value) {
      if (attempt == 1)
        throw InputError(shown, line, "the first record is unreadable: " + reader.problem());
      track.skipped.emplace_back(line, reader.problem());
      continue;
    }
    track.records.push_back(r);
    track.lines.push_back(line);
  }
  track.end_line = reader.line();
  return track;
}

void check_track_header(const Track& track, const std::string& shown) {
  const int line = track.header_line;
  if (track.basin.size() != 2)
    throw InputError(shown, line, "the basin code '" + track.basin + "' is not two characters");
  if (track.month < 1 || track.month > 12)
    throw InputError(shown, line, "reference month " + std::to_string(track.month) + " is not in 1..12");
  const bool leap_day = track.month == 2 && track.day == 29;
  if (leap_day && track.year != 0 && !leap_year(track.year))
    throw InputError(shown, line, "reference day 29 February of " + std::to_string(track.year) +
                                      ", which is not a leap year");
  if (leap_day && track.year == 0)
    throw InputError(shown, line,
                     "reference day 29 is not a day of month 2 without a year (tarvo's calendar has no leap "
                     "day): give the track's year, or start it on another day");
  if (track.day < 1 || (track.day > days_in_month(track.month) && !leap_day))
    throw InputError(shown, line,
                     "reference day " + std::to_string(track.day) + " is not a day of month " +
                         std::to_string(track.month));
  if (track.hour < 0 || track.hour > 23)
    throw InputError(shown, line, "reference hour " + std::to_string(track.hour) + " is not in 0..23");
}

std::string track_text(const Track& track, const std::string& shown) {
  if (track.month == 2 && track.day == 29)
    throw InputError(shown, 0,
                     "starts on 29 February, which track.in cannot hold (it has no year, and the tarvo "
                     "program reads no 29 February): forecast it from a catalog or from memory");
  std::string text = "track written by tarvo\n'" + track.basin + "' " + std::to_string(track.month) + " " +
                     std::to_string(track.day) + " " + std::to_string(track.hour) + "\n" +
                     " hour lat lon vmax(kt) vpot(m/s) shear(m/s) T600(K) RH600(%)\n";
  char buf[160];
  for (const TrackRecord& r : track.records) {
    // Nine significant digits read back to the same float.
    std::snprintf(buf, sizeof buf, "%d %.9g %.9g %.9g %.9g %.9g %.9g %.9g\n", r.hour,
                  static_cast<double>(r.lat), static_cast<double>(r.lon), static_cast<double>(r.vmax_kt),
                  static_cast<double>(r.vpot), static_cast<double>(r.f6), static_cast<double>(r.t600),
                  static_cast<double>(r.rh600));
    text += buf;
  }
  return text;
}

void CaseInputs::parse_track(std::string_view text, const std::string& shown) {
  load_track(read_track_text(text, shown), shown);
}

void CaseInputs::load_track(const Track& track, const std::string& shown) {
  check_track_header(track, shown);
  basin[0] = track.basin[0];
  basin[1] = track.basin[1];
  // track.in's code is compared exactly: one that means the eastern Pacific
  // in another case runs with the Atlantic coefficients, as its rules say.
  if (diagnostics && tarvo_basin(track.basin) == "ep" && track.basin != "ep")
    std::fprintf(diagnostics,
                 "tarvo: warning: %s%s: basin code '%s' is not 'ep' as written: the forecast runs with the "
                 "Atlantic coefficients; write 'ep' for the eastern-Pacific ones\n",
                 shown.c_str(), track.header_line > 0 ? (", line " + std::to_string(track.header_line)).c_str() : "",
                 track.basin.c_str());
  start_month = track.month;
  start_day = track.day;
  start_hour = track.hour;
  if (track.records.size() > static_cast<std::size_t>(track_capacity))
    throw InputError(shown, 0,
                     std::to_string(track.records.size()) + " track records; at most " +
                         std::to_string(track_capacity));
  // Warnings on skipped records come in the order of the file, each before the
  // checks of the records after it.
  std::size_t next_skipped = 0;
  auto warn_before = [&](int line) {
    for (; next_skipped < track.skipped.size() && track.skipped[next_skipped].first < line; ++next_skipped)
      if (diagnostics)
        std::fprintf(diagnostics, "tarvo: warning: %s, line %d: record skipped: %s\n", shown.c_str(),
                     track.skipped[next_skipped].first, track.skipped[next_skipped].second.c_str());
  };
  int time_prev_s = 0;
  n_track = 0;
  i_start = 0;
  for (std::size_t k = 0; k < track.records.size(); ++k) {
    const TrackRecord& rec = track.records[k];
    const int line = k < track.lines.size() ? track.lines[k] : 0;
    warn_before(line);
    const int hours = rec.hour;
    const float lat = rec.lat;
    float lon = rec.lon;
    const std::string record = "record " + std::to_string(n_track + 1);
    if (hours < -max_record_hours || hours > max_record_hours)
      throw InputError(shown, line, record + ": time " + std::to_string(hours) + " h is out of range");
    if (!(lon >= -360.0f && lon <= 360.0f))
      throw InputError(shown, line, record + ": longitude is not within -360..360");
    if (diagnostics)
      for (const FixValue& f : fix_values) {
        const float v = rec.*(f.member);
        if (std::isfinite(v) || f.member == &TrackRecord::lat || f.member == &TrackRecord::lon) continue;
        std::fprintf(diagnostics,
                     "tarvo: warning: %s%s: %s: %s (%s) is %s, not a finite number; the forecast uses it as "
                     "read, and its values may be meaningless from here on\n",
                     shown.c_str(), line > 0 ? (", line " + std::to_string(line)).c_str() : "", record.c_str(),
                     f.name, f.what, number_text(v).c_str());
      }
    if (k == 0) t_first_hours = hours;
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
    track_vobs[n] = rec.vmax_kt * knots_to_m_per_h * hours_per_second;
    track_lat[n] = lat;
    track_lon[n] = lon;
    track_vpot[n] = rec.vpot;
    track_f6[n] = rec.f6;
    track_t600[n] = rec.t600;
    track_rh600[n] = rec.rh600;
    time_prev_s = time_s;
  }
  warn_before(std::numeric_limits<int>::max());
  if (n_track == 0) throw InputError(shown, track.end_line, "no track records");
  if (i_start == 0)
    throw InputError(shown, track.end_line,
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
