#include "input/tracks/adeck.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <map>
#include <set>

#include "input/cases/track.hpp"
#include "input/input_error.hpp"
#include "input/text_file.hpp"
#include "input/tracks/catalog.hpp"
#include "input/tracks/text_fields.hpp"

namespace tarvo {

namespace {

constexpr float nan = std::numeric_limits<float>::quiet_NaN();

bool digits(const std::string& s, std::size_t lo, std::size_t hi) {
  if (s.size() < lo || s.size() > hi) return false;
  return std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// ATCF's latitude (tenths, N/S: "214N") or longitude ("851W").
bool atcf_coordinate(const std::string& s, std::size_t most_digits, char positive, char negative, double limit, double& v) {
  if (s.size() < 2 || !digits(s.substr(0, s.size() - 1), 1, most_digits)) return false;
  return coordinate(s, 0.1, positive, negative, limit, v);
}

}  // namespace

AidFix::AidFix() : vmax_kt(nan), mslp_hpa(nan) {}

std::string Adeck::techniques() const {
  std::set<std::string> seen;
  std::string out;
  for (const AidForecast& f : forecasts)
    if (seen.insert(f.tech).second) out += (out.empty() ? "" : ", ") + f.tech;
  return out.empty() ? "none" : out;
}

const AidForecast* Adeck::find(const std::string& tech, double cycle_hours) const {
  for (const AidForecast& f : forecasts)
    if (f.tech == tech && f.cycle_hours == cycle_hours) return &f;
  return nullptr;
}

Adeck parse_adeck(std::string_view text, const std::string& shown) {
  Adeck deck;
  std::map<std::pair<std::string, double>, std::size_t> index;
  std::size_t at_zero = 0;
  std::string first_zero;
  const std::vector<std::string_view> lines = lines_of(text);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (blank(lines[i])) continue;
    const std::vector<std::string> f = split_commas(lines[i]);
    auto fail = [&](const std::string& what) { throw InputError(shown, static_cast<int>(i + 1), what); };
    if (f.size() < 8)
      fail("expected an ATCF a-deck line of at least 8 comma-separated fields (BASIN, CY, YYYYMMDDHH, TECHNUM/MIN, TECH, "
           "TAU, LatN/S, LonE/W, VMAX, MSLP, ...); this one has " + std::to_string(f.size()));
    long number = 0, dtg = 0, tau = 0, vmax = 0, mslp = 0;
    double lat = 0.0, lon = 0.0;
    const std::string basin = tarvo_basin(f[0]);
    if (f[0].size() != 2 || basin.empty()) fail("BASIN '" + f[0] + "' is not a basin code of two letters tarvo knows: give " + basin_codes_accepted);
    if (!digits(f[1], 1, 2) || !whole(f[1], number)) fail("CY '" + f[1] + "' is not a cyclone number of one or two digits");
    if (!digits(f[2], 10, 10) || !whole(f[2], dtg)) fail("the cycle '" + f[2] + "' is not YYYYMMDDHH (ten digits)");
    if (f[4].empty() || f[4].size() > 4 ||
        !std::all_of(f[4].begin(), f[4].end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }))
      fail("TECH '" + f[4] + "' is not a technique of one to four letters and digits");
    const std::string tau_digits = !f[5].empty() && f[5][0] == '-' ? f[5].substr(1) : f[5];
    if (!digits(tau_digits, 1, 3) || !whole(f[5], tau)) fail("TAU '" + f[5] + "' is not hours of up to three digits");
    if (!atcf_coordinate(f[6], 3, 'N', 'S', 90.0, lat) || !atcf_coordinate(f[7], 4, 'E', 'W', 360.0, lon))
      fail("the position '" + f[6] + ", " + f[7] + "' is not in tenths of a degree with N/S and E/W (214N, 851W)");
    if (f.size() > 8 && !f[8].empty() && (!digits(f[8], 1, 3) || !whole(f[8], vmax)))
      fail("VMAX '" + f[8] + "' is not a whole number of knots (up to three digits)");
    if (f.size() > 9 && !f[9].empty() && (!digits(f[9], 1, 4) || !whole(f[9], mslp)))
      fail("MSLP '" + f[9] + "' is not a whole number of hPa (up to four digits)");
    const int y = static_cast<int>(dtg / 1000000), mo = static_cast<int>(dtg / 10000 % 100),
              d = static_cast<int>(dtg / 100 % 100), hh = static_cast<int>(dtg % 100);
    if (!real_date(y, mo, d) || hh > 23) fail("no such time: " + f[2]);
    if (lat == 0.0 && lon == 0.0) {
      if (at_zero++ == 0) first_zero = "line " + std::to_string(i + 1) + " (" + f[4] + " " + f[2] + " TAU " + f[5] + ")";
      continue;
    }
    const double cycle = static_cast<double>(hours_from_civil(y, mo, d, hh));
    const auto key = std::make_pair(f[4], cycle);
    auto it = index.find(key);
    if (it == index.end()) {
      AidForecast a;
      a.tech = f[4];
      a.cycle_hours = cycle;
      a.basin = basin;
      a.number = static_cast<int>(number);
      it = index.emplace(key, deck.forecasts.size()).first;
      deck.forecasts.push_back(std::move(a));
    }
    AidForecast& a = deck.forecasts[it->second];
    // Lines repeating a TAU (one a wind radius) are one fix: the first.
    if (std::any_of(a.fixes.begin(), a.fixes.end(), [&](const AidFix& x) { return x.tau == tau; })) continue;
    AidFix x;
    x.tau = static_cast<int>(tau);
    x.lat = static_cast<float>(lat);
    x.lon = static_cast<float>(lon);
    x.vmax_kt = vmax > 0 ? static_cast<float>(vmax) : nan;
    x.mslp_hpa = mslp > 0 ? static_cast<float>(mslp) : nan;
    x.line = static_cast<int>(i + 1);
    a.fixes.push_back(x);
  }
  for (AidForecast& a : deck.forecasts)
    std::stable_sort(a.fixes.begin(), a.fixes.end(), [](const AidFix& p, const AidFix& q) { return p.tau < q.tau; });
  if (at_zero > 0)
    deck.notes.push_back(shown + ": " + std::to_string(at_zero) +
                         " lines at latitude and longitude 0 (no position) are left out, the first at " + first_zero);
  return deck;
}

Adeck read_adeck(const std::string& path) { return parse_adeck(read_whole_file(path, path), path); }

bool parse_cycles(const std::string& text, double& cycle_hours, std::string& why) {
  if (text == "all") {
    cycle_hours = -1;
    return true;
  }
  StartRule rule;
  if (text.size() == 10 && parse_start_rule(text, rule, why) && rule.kind == StartRule::Kind::at) {
    cycle_hours = rule.at_hours;
    return true;
  }
  why = "--cycles is all or a cycle YYYYMMDDHH, not '" + text + "'";
  return false;
}

HindcastSet forecast_cycles(const std::vector<BestTrack>& best, const Adeck& adeck, const CycleOptions& options,
                            const std::string& shown) {
  HindcastSet set;
  std::vector<const AidForecast*> cycles;
  for (const AidForecast& a : adeck.forecasts)
    if (a.tech == options.tech) cycles.push_back(&a);
  if (cycles.empty())
    throw InputError(shown, 0, "the technique " + options.tech + " is not in the a-deck; its techniques: " + adeck.techniques());
  std::stable_sort(cycles.begin(), cycles.end(),
                   [](const AidForecast* a, const AidForecast* b) { return a->cycle_hours < b->cycle_hours; });
  const bool one = options.cycle_hours >= 0;
  if (one) {
    const AidForecast* asked = adeck.find(options.tech, options.cycle_hours);
    if (!asked)
      throw InputError(shown, 0, options.tech + " has no forecast at " + date_hour(options.cycle_hours) + " (it has " +
                                     std::to_string(cycles.size()) + " cycles, " + date_hour(cycles.front()->cycle_hours) +
                                     " to " + date_hour(cycles.back()->cycle_hours) + ")");
    cycles = {asked};
  }
  auto storm_of = [&](const AidForecast& a) -> const BestTrack* {
    for (const BestTrack& t : best)
      if (t.basin == a.basin && t.cyclone_number == a.number && !t.fixes.empty() &&
          a.cycle_hours >= t.fixes.front().hours - 24.0 && a.cycle_hours <= t.fixes.back().hours + 24.0)
        return &t;
    return nullptr;
  };
  auto skip = [&](const AidForecast& a, const std::string& why) {
    if (one) throw InputError(shown, 0, options.tech + " " + date_hour(a.cycle_hours) + ": " + why);
    set.notes.push_back(options.tech + " " + date_hour(a.cycle_hours) + ": left out: " + why);
  };
  for (const AidForecast* cycle : cycles) {
    const AidForecast& a = *cycle;
    const BestTrack* t = storm_of(a);
    if (!t) {
      skip(a, "no best track of " + a.basin + " " + std::to_string(a.number) + " around that time in the b-deck");
      continue;
    }
    // The history: the best track's fixes with winds on the hour, or CARQ's.
    std::vector<TrackRecord> history;
    if (options.history_from_carq) {
      const AidForecast* carq = adeck.find("CARQ", a.cycle_hours);
      if (!carq) {
        skip(a, "no CARQ lines at the cycle for its history (--history-from carq)");
        continue;
      }
      for (const AidFix& x : carq->fixes)
        if (x.tau <= 0 && x.tau >= -options.history_h && std::isfinite(x.vmax_kt)) {
          TrackRecord r;
          r.hour = x.tau;
          r.lat = x.lat;
          r.lon = x.lon;
          r.vmax_kt = x.vmax_kt;
          history.push_back(r);
        }
    } else {
      for (const BestFix& f : t->fixes) {
        const double h = f.hours - a.cycle_hours;
        if (h > 0.0 || h < -options.history_h - 1e-6 || !std::isfinite(f.wind_kt) || !whole_hour(f.hours)) continue;
        TrackRecord r;
        r.hour = static_cast<int>(std::llround(h));
        r.lat = f.lat;
        r.lon = f.lon;
        r.vmax_kt = f.wind_kt;
        history.push_back(r);
      }
    }
    if (history.empty() || history.back().hour != 0) {
      // No fix at the cycle in the history: the technique's own TAU 0, where it gives a wind.
      const auto zero = std::find_if(a.fixes.begin(), a.fixes.end(), [](const AidFix& x) { return x.tau == 0; });
      if (zero == a.fixes.end() || !std::isfinite(zero->vmax_kt)) {
        skip(a, std::string("no fix with a wind at the cycle (") +
                    (options.history_from_carq ? "CARQ" : "best track") + " nor " + options.tech + " TAU 0)");
        continue;
      }
      TrackRecord r;
      r.lat = zero->lat;
      r.lon = zero->lon;
      r.vmax_kt = zero->vmax_kt;
      history.push_back(r);
    }
    if (history.front().hour > -options.history_h) {
      skip(a, "its history reaches back " + std::to_string(-history.front().hour) + " h; --history asks for " +
                  std::to_string(options.history_h) + " (give a smaller --history)");
      continue;
    }
    CatalogStorm c;
    c.sid = safe_id(t->sid) + "_" + date_hour(a.cycle_hours);
    c.name = t->name.empty() ? t->sid : t->name;
    c.year = t->year;
    c.cyclone_number = a.number;
    c.params = options.params;
    c.reference_hours = a.cycle_hours;
    int y = 0;
    civil_from_hours(std::llround(a.cycle_hours), y, c.track.month, c.track.day, c.track.hour);
    c.track.year = y;
    c.track.basin = a.basin;
    c.track.records = history;
    // The forecast positions, with the wind observed at the cycle.
    const float observed = history.back().vmax_kt;
    std::size_t cut = 0;
    for (const AidFix& x : a.fixes) {
      if (x.tau <= 0) continue;
      if (c.track.records.size() == max_fixes || x.tau - c.track.records.front().hour > max_track_hours) {
        ++cut;
        continue;
      }
      TrackRecord r;
      r.hour = x.tau;
      r.lat = x.lat;
      r.lon = x.lon;
      r.vmax_kt = observed;
      c.track.records.push_back(r);
    }
    if (c.track.records.back().hour == 0) {
      skip(a, options.tech + " gives no position after TAU 0");
      continue;
    }
    for (TrackRecord& r : c.track.records) r.vpot = r.f6 = r.t600 = r.rh600 = nan;
    if (cut > 0)
      set.notes.push_back(c.sid + ": " + std::to_string(cut) + " TAUs at its end are left out: a forecast takes at most "
                                                                "200 fixes and less than 1200 h");
    set.storms.push_back(std::move(c));
  }
  // Synoptic times of the storm inside the cycles' span with no forecast of the technique.
  if (!one && !cycles.empty()) {
    std::string without;
    std::size_t count = 0;
    for (const BestTrack& t : best)
      for (const BestFix& f : t.fixes) {
        const long long h = std::llround(f.hours);
        if (!whole_hour(f.hours) || h % 6 != 0 || f.hours < cycles.front()->cycle_hours || f.hours > cycles.back()->cycle_hours)
          continue;
        bool found = false;
        for (const AidForecast* c : cycles) found = found || (c->cycle_hours == f.hours && c->basin == t.basin && c->number == t.cyclone_number);
        if (!found && count++ < 8) without += (without.empty() ? "" : ", ") + date_hour(f.hours);
      }
    if (count > 0)
      set.notes.push_back(std::to_string(count) + " synoptic times of the best track between the first and last " +
                          options.tech + " cycle have no " + options.tech + " forecast: " + without +
                          (count > 8 ? ", ..." : ""));
  }
  return set;
}

}  // namespace tarvo
