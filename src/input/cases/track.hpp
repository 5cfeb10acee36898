#pragma once
// track.in as written: the basin code and the reference date of track time 0,
// and up to 200 records (hours from the reference time, position, observed
// wind in knots, potential intensity and field 6 in m/s, T600 in K, RH600 in
// percent). Reading it keeps where each record stood, so that later checks
// name the file's lines.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvo {

struct TrackRecord {
  int hour = 0;           // h from the reference time
  float lat = 0, lon = 0;  // degrees N, degrees E (west may be negative)
  float vmax_kt = 0;      // observed maximum wind, kt
  float vpot = 0;         // potential intensity, m/s
  float f6 = 0;           // field 6 (vertical shear), m/s
  float t600 = 0;         // temperature at 600 hPa, K
  float rh600 = 0;        // relative humidity at 600 hPa, percent
};

struct Track {
  std::string basin = "  ";  // two characters, blank-padded
  int month = 0, day = 0, hour = 0;  // the reference time (track time 0)
  // Its year, where one is known (a catalog, a best track, a caller); 0 when
  // not (track.in has none). Only a track with a leap year may start on
  // 29 February: the model's calendar labels have no leap day.
  int year = 0;
  std::vector<TrackRecord> records;
  // From a text: the line of each record, of the header and where reading
  // ended, and the records skipped as unreadable (line, message). Empty or 0
  // for a track made in memory.
  std::vector<int> lines;
  int header_line = 0, end_line = 0;
  std::vector<std::pair<int, std::string>> skipped;
};

// Reads track.in from its text (`shown` names it in messages). Throws
// InputError naming the line on a missing or bad header, a missing caption
// line or an unreadable first record; an unreadable later record is skipped
// (see Track::skipped). The records' own checks come when a run loads them.
Track read_track_text(std::string_view text, const std::string& shown);

// The header's checks: month 1..12, a day of that month (29 February only
// with a leap year), hour 0..23.
void check_track_header(const Track& track, const std::string& shown);

// A track.in that reads back to the same values, bit for bit. A track that
// starts on 29 February cannot be written (track.in has no year, and its
// reader takes no 29 February): InputError naming `shown`.
std::string track_text(const Track& track, const std::string& shown = "track");

// A basin code as tarvo keeps it: ATCF's two letters in lower case ("al",
// "ep", "cp", "wp", "io", "sh", "sl"), from those in any case or from
// IBTrACS's ("NA", "EP", "WP", "NI", "SI", "SP", "SA"). Empty when the code
// is none of them. Only "ep" selects the eastern-Pacific coefficients.
std::string tarvo_basin(std::string_view code);

// The list of codes tarvo_basin takes, for messages.
extern const char* const basin_codes_accepted;

// A track as every interface of the library takes it (the Python package,
// the C++ API, catalogs; not track.in read by the tarvo program): its basin
// normalised by tarvo_basin, and every value of every fix finite. InputError
// names `shown` (the storm), the fix and the field, and says what to do.
void check_library_track(Track& track, const std::string& shown);

}  // namespace tarvo
