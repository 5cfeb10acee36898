#include "output/atcf_output.hpp"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace tarvo {

namespace {

constexpr const char* technique = "TRVO";
constexpr int technique_number = 3;  // the objective-aid slot of model forecasts

std::string basin_code(const CatalogStorm& storm) {
  std::string b = storm.track.basin.substr(0, storm.track.basin.find_last_not_of(' ') + 1);
  if (b.size() != 2 || !std::isalpha(static_cast<unsigned char>(b[0])) ||
      !std::isalpha(static_cast<unsigned char>(b[1])))
    return "";
  return b;
}

// Whole units (0 for a value that is not a number, which no forecast gives).
long whole(double v) { return std::isfinite(v) && std::fabs(v) < 1e6 ? std::lround(v) : 0; }
int tenths(float degrees) { return static_cast<int>(whole(static_cast<double>(degrees) * 10.0)); }

}  // namespace

std::string atcf_file_name(const CatalogStorm& storm) {
  std::string basin = basin_code(storm);
  if (basin.empty() || storm.cyclone_number < 1 || storm.cyclone_number > 99 || storm.year < 0 ||
      storm.year > 9999)
    return "";
  for (char& c : basin) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  char buf[32];
  std::snprintf(buf, sizeof buf, "a%s%02d%04d.dat", basin.c_str(), storm.cyclone_number, storm.year);
  return buf;
}

std::string atcf_text(const CatalogStorm& storm, const ForecastRows& rows) {
  std::string basin = basin_code(storm);
  for (char& c : basin) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::vector<TrackRecord>& records = storm.track.records;
  if (records.empty()) return "";
  int start_hour = records[0].hour;  // the start record: the last fix at or before 0 h
  for (const TrackRecord& r : records)
    if (r.hour <= 0) start_hour = r.hour;
  int year, month, day, hour;
  civil_from_hours(static_cast<long long>(storm.reference_hours) + start_hour, year, month, day, hour);
  char date[16];
  std::snprintf(date, sizeof date, "%04d%02d%02d%02d", year, month, day, hour);
  std::string out;
  for (std::size_t k = 0; k < rows.time.size(); ++k) {
    const int tau = records[0].hour + 2 * static_cast<int>(k) - start_hour;
    if (tau < 0) continue;
    const int lat = tenths(rows.lat[k]);
    const float east = rows.lon[k] > 180.0f ? rows.lon[k] - 360.0f : rows.lon[k];
    const int lon = tenths(east);
    char line[160];
    std::snprintf(line, sizeof line,
                  "%s, %02d, %s, %02d, %s, %3d, %3d%c, %4d%c, %3ld, %4ld, XX,   0,    ,    0,    0,    0,    0,"
                  "    0,    0, %3ld\n",
                  basin.c_str(), storm.cyclone_number, date, technique_number, technique, tau, std::abs(lat),
                  lat < 0 ? 'S' : 'N', std::abs(lon), lon < 0 ? 'W' : 'E', whole(rows.wind_kt[k]),
                  whole(rows.pressure_hpa[k]), whole(rows.rmw_nmi[k]));
    out += line;
  }
  return out;
}

}  // namespace tarvo
