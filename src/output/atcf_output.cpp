#include "output/atcf_output.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <set>

#include "input/tracks/adeck.hpp"
#include "input/tracks/catalog.hpp"

namespace tarvo {

namespace {

constexpr const char* late_technique = "TRVO";
constexpr const char* early_technique = "TRVI";
constexpr int technique_number = 3;  // the objective-aid slot of model forecasts
// The interpolated aid's wind offset, full at TAU 0, none from this TAU on.
constexpr double early_offset_hours = 120.0;

// ATCF's ranges of its fields: a value outside its field's range would
// overflow the field's columns and shift every field after it.
constexpr long vmax_range[] = {0, 300};     // kt
constexpr long mslp_range[] = {1, 1100};    // hPa
constexpr long radius_range[] = {0, 999};   // nautical miles

long clamped(double v, const long (&range)[2]) {
  if (!std::isfinite(v)) return range[0];
  return std::clamp(std::lround(std::clamp(v, -1.0e6, 1.0e6)), range[0], range[1]);
}

// A linear step between two samples (longitudes the short way round).
double between(double a, double b, double w) { return a + w * (b - a); }
double between_lon(double a, double b, double w) {
  if (b - a > 180.0) b -= 360.0;
  if (a - b > 180.0) b += 360.0;
  return between(a, b, w);
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return s;
}

// The fields of an a-deck line, separated by commas (blanks around them kept).
std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> f;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = line.find(',', start);
    std::string s = line.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const std::size_t a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
    f.push_back(a == std::string::npos ? "" : s.substr(a, b - a + 1));
    if (comma == std::string::npos) return f;
    start = comma + 1;
  }
}

}  // namespace

std::string atcf_file_name(const StoredForecast& f) {
  if (f.basin.size() != 2 || f.cyclone_number < 1 || f.cyclone_number > 99 || f.year < 1 || f.year > 9999) return "";
  char buf[32];
  std::snprintf(buf, sizeof buf, "a%s%02d%04d.dat", f.basin.c_str(), f.cyclone_number, f.year);
  return buf;
}

std::string atcf_time(double hours) {
  int year, month, day, hour;
  civil_from_hours(static_cast<long long>(std::llround(hours)), year, month, day, hour);
  char date[32];
  std::snprintf(date, sizeof date, "%04d%02d%02d%02d", year, month, day, hour);
  return date;
}

// One line: its fields in ATCF's columns.
std::string line_of(const std::string& basin, int number, const std::string& date, const char* technique, int tau,
                    double lat, double lon, long vmax, long mslp, long rmw) {
  lon -= 360.0 * std::floor((lon + 180.0) / 360.0);  // -180 .. 180, west negative
  const long lat10 = std::lround(lat * 10.0), lon10 = std::lround(lon * 10.0);
  char line[200];
  std::snprintf(line, sizeof line,
                "%s, %02d, %s, %02d, %s, %3d, %3ld%c, %4ld%c, %3ld, %4ld, XX,   0,    ,    0,    0,    0,    0,"
                "    0,    0, %3ld,   0,   0,\n",
                basin.c_str(), number, date.c_str(), technique_number, technique, tau, std::min(std::labs(lat10), 900L),
                lat10 < 0 ? 'S' : 'N', std::min(std::labs(lon10), 1800L), lon10 < 0 ? 'W' : 'E', vmax, mslp, rmw);
  return line;
}

std::string atcf_lines(const StoredForecast& f, const AdeckOptions& options, int& hours_left_out, const char* technique) {
  hours_left_out = 0;
  const ForecastRows& r = f.rows;
  const std::size_t m = r.lead_h.size();
  if (m == 0 || r.lead_h[m - 1] < 0.0f) return "";
  const std::string basin = upper(f.basin), date = atcf_time(f.start_hours);
  const int max_tau = std::clamp(options.max_tau_h, 0, 999);
  const int step = std::max(1, options.step_h);
  const int last = static_cast<int>(r.lead_h[m - 1]);
  if (last > max_tau) hours_left_out = last - max_tau;
  std::string out;
  std::size_t k = 0;  // the sample at or before the TAU
  for (int tau = 0; tau <= std::min(max_tau, last); tau += step) {
    while (k + 1 < m && r.lead_h[k + 1] <= static_cast<float>(tau)) ++k;
    if (r.lead_h[k] > static_cast<float>(tau)) continue;  // before the first sample: none
    const std::size_t j = std::min(k + 1, m - 1);
    const double span = static_cast<double>(r.lead_h[j]) - static_cast<double>(r.lead_h[k]);
    const double w = span > 0.0 ? (tau - static_cast<double>(r.lead_h[k])) / span : 0.0;
    auto at = [&](const std::vector<float>& v) {
      return between(static_cast<double>(v[k]), static_cast<double>(v[j]), w);
    };
    const double lat = at(r.lat);
    const double lon = between_lon(static_cast<double>(r.lon[k]), static_cast<double>(r.lon[j]), w);
    out += line_of(basin, f.cyclone_number, date, technique, tau, lat, lon, clamped(at(r.wind_kt), vmax_range),
                   clamped(at(r.pressure_hpa), mslp_range), clamped(at(r.rmw_nmi), radius_range));
  }
  return out;
}

std::string ensemble_mean_lines(const StoredForecast& f, const AdeckOptions& options) {
  const EnsembleSummary& e = f.ensemble.summary;
  if (e.members == 0 || e.mean_wind_kt.size() != f.rows.lead_h.size()) return "";
  StoredForecast mean = f;
  mean.rows.wind_kt = e.mean_wind_kt;
  mean.rows.pressure_hpa = e.mean_pressure_hpa;
  int left_out = 0;
  return atcf_lines(mean, options, left_out, "TRVE");
}

std::string early_lines(const std::string& text) {
  // The TRVO lines only: whatever else a deck holds is not read here.
  std::string late;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const std::vector<std::string> f = fields(line);
    if (f.size() > 4 && f[4] == late_technique) late += line + "\n";
    start = end + 1;
  }
  const Adeck deck = parse_adeck(late, "TRVO lines");
  std::string out;
  for (const AidForecast& now : deck.forecasts) {
    const AidForecast* before = deck.find(late_technique, now.cycle_hours - 6.0);
    if (!before || now.fixes.empty() || now.fixes.front().tau != 0) continue;
    // The previous forecast at a TAU, linear between its lines.
    auto sample = [&](double tau, float AidFix::*value) {
      const std::vector<AidFix>& x = before->fixes;
      for (std::size_t k = 1; k < x.size(); ++k)
        if (x[k].tau >= tau && x[k - 1].tau <= tau) {
          const double w = x[k].tau == x[k - 1].tau ? 0.0 : (tau - x[k - 1].tau) / (x[k].tau - x[k - 1].tau);
          return static_cast<double>(x[k - 1].*value) + w * (static_cast<double>(x[k].*value) - x[k - 1].*value);
        }
      return std::numeric_limits<double>::quiet_NaN();
    };
    const AidFix& zero = now.fixes.front();
    const double d_lat = zero.lat - sample(6.0, &AidFix::lat), d_lon = zero.lon - sample(6.0, &AidFix::lon);
    const double d_wind = zero.vmax_kt - sample(6.0, &AidFix::vmax_kt);
    if (!std::isfinite(d_lat) || !std::isfinite(d_wind)) continue;
    const std::string basin = upper(now.basin), date = atcf_time(now.cycle_hours);
    // TAU 0 always (the previous forecast at its 6 h, which may fall between
    // its lines), then each of its lines from 6 h on.
    std::vector<int> taus = {0};
    for (const AidFix& x : before->fixes)
      if (x.tau - 6 > 0) taus.push_back(x.tau - 6);
    for (const int tau : taus) {
      const double weight = std::max(0.0, 1.0 - tau / early_offset_hours);
      out += line_of(basin, now.number, date, early_technique, tau, sample(tau + 6.0, &AidFix::lat) + d_lat,
                     sample(tau + 6.0, &AidFix::lon) + d_lon,
                     clamped(sample(tau + 6.0, &AidFix::vmax_kt) + d_wind * weight, vmax_range), 0, 0);
    }
  }
  return out;
}

std::string join_adeck(const std::string& existing, const std::string& added, std::vector<std::string>& replaced) {
  struct Line {
    std::string date, text;
  };
  auto lines_of = [](const std::string& text) {
    std::vector<Line> lines;
    for (std::size_t start = 0; start < text.size();) {
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) {
        const std::vector<std::string> f = fields(line);
        lines.push_back({f.size() > 2 ? f[2] : std::string(), line});
      }
      start = end + 1;
    }
    return lines;
  };
  auto technique_of = [](const Line& l) {
    const std::vector<std::string> f = fields(l.text);
    return f.size() > 4 ? f[4] : std::string();
  };
  const std::vector<Line> fresh = lines_of(added);
  std::set<std::pair<std::string, std::string>> starts;  // technique, start
  for (const Line& l : fresh) starts.insert({technique_of(l), l.date});
  std::vector<Line> joined;
  std::set<std::string> dropped;
  for (Line& l : lines_of(existing)) {
    const std::string t = technique_of(l);
    if (t == early_technique) continue;  // made again below
    if (starts.count({t, l.date})) {
      if (t == late_technique) dropped.insert(l.date);
      continue;
    }
    joined.push_back(std::move(l));
  }
  replaced.assign(dropped.begin(), dropped.end());
  joined.insert(joined.end(), fresh.begin(), fresh.end());
  std::string text;
  for (const Line& l : joined) text += l.text + "\n";
  for (Line& l : lines_of(early_lines(text))) joined.push_back(std::move(l));
  std::stable_sort(joined.begin(), joined.end(), [](const Line& a, const Line& b) { return a.date < b.date; });
  std::string out;
  for (const Line& l : joined) out += l.text + "\n";
  return out;
}

}  // namespace tarvo
