#include "input/tracks/hindcast.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "input/calendar.hpp"
#include "input/input_error.hpp"
#include "input/cases/track.hpp"

namespace tarvo {

std::string date_hour(double hours) {
  int y = 0, m = 0, d = 0, h = 0;
  civil_from_hours(std::llround(hours), y, m, d, h);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d", y, m, d, h);
  return buf;
}

std::string date_time(double hours) {
  const long long minutes = std::llround(hours * 60.0);
  int y = 0, m = 0, d = 0, h = 0;
  civil_from_hours(minutes >= 0 ? minutes / 60 : -((-minutes + 59) / 60), y, m, d, h);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02lld", y, m, d, h, ((minutes % 60) + 60) % 60);
  return buf;
}

std::string safe_id(const std::string& id) {
  std::string s;
  for (const char c : id) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    s += alnum || c == '.' || c == '-' ? c : '_';
  }
  if (s.empty() || !((s[0] >= '0' && s[0] <= '9') || (s[0] >= 'a' && s[0] <= 'z') || (s[0] >= 'A' && s[0] <= 'Z')))
    s = "S" + s;
  return s;
}

bool whole_hour(double hours) {
  const double minutes = hours * 60.0;
  return std::fabs(minutes - 60.0 * std::round(hours)) < 0.5;
}

bool parse_start_rule(const std::string& text, StartRule& rule, std::string& why) {
  auto hours_of = [&](const std::string& s, int& h) {
    std::string n = s;
    if (!n.empty() && (n.back() == 'h' || n.back() == 'H')) n.pop_back();
    char* end = nullptr;
    const long v = std::strtol(n.c_str(), &end, 10);
    if (n.empty() || *end != '\0' || v < 0 || v > 1199) return false;
    h = static_cast<int>(v);
    return true;
  };
  if (text.rfind("every:", 0) == 0) {
    rule.kind = StartRule::Kind::every;
    if (hours_of(text.substr(6), rule.hours) && rule.hours > 0) return true;
  } else if (text.rfind("first+", 0) == 0) {
    rule.kind = StartRule::Kind::first_plus;
    if (hours_of(text.substr(6), rule.hours)) return true;
  } else if (text.size() == 10 && text.find_first_not_of("0123456789") == std::string::npos) {
    const int y = std::atoi(text.substr(0, 4).c_str()), m = std::atoi(text.substr(4, 2).c_str()),
              d = std::atoi(text.substr(6, 2).c_str()), h = std::atoi(text.substr(8, 2).c_str());
    if (m >= 1 && m <= 12 && d >= 1 && d <= days_in_month(m) + (m == 2 && leap_year(y) ? 1 : 0) && h <= 23) {
      rule.kind = StartRule::Kind::at;
      rule.at_hours = static_cast<double>(hours_from_civil(y, m, d, h));
      return true;
    }
  }
  why = "starts are every:6h (every 6 h of each storm), first+24h (once, 24 h after its first fix) or a time "
        "YYYYMMDDHH, not '" + text + "'";
  return false;
}

HindcastSet hindcast_starts(const std::vector<BestTrack>& tracks, const HindcastOptions& options,
                            const std::string& shown, CycloneNumbers* numbers) {
  HindcastSet set;
  // Cyclone numbers: each storm without one gets the next after the highest of its basin and year.
  CycloneNumbers own;
  std::map<std::pair<std::string, int>, int>& highest = (numbers ? *numbers : own).highest;
  for (const BestTrack& t : tracks)
    if (t.cyclone_number > 0) {
      int& h = highest[{t.basin.empty() ? options.basin : t.basin, t.year}];
      h = std::max(h, t.cyclone_number);
    }
  const bool one_storm = tracks.size() == 1 && !numbers;
  for (const BestTrack& t : tracks) {
    const std::string who = "storm " + t.sid + (t.name.empty() ? "" : " (" + t.name + ")");
    auto fail = [&](const std::string& what) { throw InputError(shown, 0, who + ": " + what); };
    std::string basin = t.basin.empty() ? options.basin : t.basin;
    if (basin.empty()) fail("its basin is not given: give --basin (" + std::string(basin_codes_accepted) + ")");
    int number = t.cyclone_number;
    if (number <= 0) {
      int& h = highest[{basin, t.year}];
      number = h < 99 ? ++h : 0;
    }
    // The fixes a forecast can take: on whole hours, with a wind.
    std::vector<const BestFix*> usable;
    std::size_t off_hour = 0, windless = 0;
    std::string first_off;
    for (const BestFix& f : t.fixes) {
      if (!std::isfinite(f.wind_kt)) {
        ++windless;
        continue;
      }
      if (!whole_hour(f.hours)) {
        if (off_hour++ == 0) first_off = date_time(f.hours) + (f.record == 'L' ? " (landfall)" : "");
        continue;
      }
      usable.push_back(&f);
    }
    if (windless > 0)
      set.notes.push_back(t.sid + ": " + std::to_string(windless) + " of " + std::to_string(t.fixes.size()) +
                          " fixes have no wind (" + t.wind_source + ") and are left out");
    if (off_hour > 0)
      set.notes.push_back(t.sid + ": " + std::to_string(off_hour) + " fixes off the hour are left out (the first " +
                          first_off + "): the model takes whole hours");
    if (usable.empty()) {
      if (one_storm) fail("no fix on the hour with a wind: nothing to forecast from");
      set.notes.push_back(t.sid + ": left out: no fix on the hour with a wind");
      continue;
    }
    const double first = usable.front()->hours, last = usable.back()->hours;
    auto at_hour = [&](double h) -> const BestFix* {
      for (const BestFix* f : usable)
        if (std::llround(f->hours) == std::llround(h)) return f;
      return nullptr;
    };
    // The starts.
    std::vector<const BestFix*> starts;
    const StartRule& rule = options.starts;
    if (rule.kind == StartRule::Kind::every) {
      for (const BestFix* f : usable) {
        const long long h = std::llround(f->hours);
        if (h % rule.hours != 0) continue;
        if (f->hours - first < options.history_h || last - f->hours < std::max(options.min_lead_h, 1)) continue;
        starts.push_back(f);
      }
      if (starts.empty())
        set.notes.push_back(t.sid + ": no start: no fix on a multiple of " + std::to_string(rule.hours) + " h with " +
                            std::to_string(options.history_h) + " h of track before it and " +
                            std::to_string(std::max(options.min_lead_h, 1)) + " h after it");
    } else {
      const double want = rule.kind == StartRule::Kind::at ? rule.at_hours : first + rule.hours;
      const BestFix* f = nullptr;
      if (rule.kind == StartRule::Kind::at) {
        f = at_hour(want);
        if (!f) {
          if (one_storm)
            fail("has no fix with a wind at " + date_hour(want) + " (its fixes with winds: " + date_hour(first) + " to " +
                 date_hour(last) + ")");
          set.notes.push_back(t.sid + ": left out: no fix with a wind at " + date_hour(want));
          continue;
        }
      } else {
        for (const BestFix* g : usable)
          if (g->hours >= want - 1e-6) {
            f = g;
            break;
          }
        if (!f) {
          if (one_storm) fail("its track with winds ends before " + date_hour(want) + ": no start " + std::to_string(rule.hours) + " h after its first fix");
          set.notes.push_back(t.sid + ": left out: its track ends before " + std::to_string(rule.hours) + " h after its first fix");
          continue;
        }
      }
      if (f->hours - first < options.history_h)
        fail("the start " + date_hour(f->hours) + " has " + std::to_string(std::llround(f->hours - first)) +
             " h of track before it; --history asks for " + std::to_string(options.history_h) +
             " (give a smaller --history, or a later start)");
      if (!(last > f->hours)) fail("no track after the start " + date_hour(f->hours) + ": nothing to forecast");
      starts.push_back(f);
    }
    for (const BestFix* s : starts) {
      CatalogStorm c;
      const std::string start = date_hour(s->hours);
      c.sid = safe_id(t.sid) + "_" + start;
      c.name = t.name.empty() ? t.sid : t.name;
      c.year = t.year;
      c.cyclone_number = number;
      c.orig_event_flag = t.orig_event_flag;
      c.climada_id_no = t.climada_id_no;
      c.params = options.params;
      c.reference_hours = static_cast<double>(std::llround(s->hours));
      int y = 0;
      civil_from_hours(std::llround(s->hours), y, c.track.month, c.track.day, c.track.hour);
      c.track.year = y;
      c.track.basin = s->basin.empty() ? basin : s->basin;
      const double from = s->hours - options.history_h - 1e-6;
      const double to = options.max_lead_h > 0 ? s->hours + options.max_lead_h + 1e-6 : last + 1.0;
      std::size_t cut = 0;
      for (const BestFix* f : usable) {
        if (f->hours < from || f->hours > to) continue;
        const long long hour = std::llround(f->hours) - std::llround(s->hours);
        if (c.track.records.size() == max_fixes ||
            (!c.track.records.empty() && hour - c.track.records.front().hour > max_track_hours)) {
          ++cut;
          continue;
        }
        TrackRecord r;
        r.hour = static_cast<int>(hour);
        r.lat = f->lat;
        r.lon = f->lon;
        r.vmax_kt = f->wind_kt;
        r.vpot = f->vpot;
        r.f6 = f->shear;
        r.t600 = f->t600;
        r.rh600 = f->rh600;
        c.track.records.push_back(r);
      }
      if (cut > 0)
        set.notes.push_back(c.sid + ": " + std::to_string(cut) +
                            " fixes at its end are left out: a forecast takes at most 200 fixes and less than 1200 h");
      set.storms.push_back(std::move(c));
    }
  }
  return set;
}

}  // namespace tarvo
