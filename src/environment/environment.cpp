#include "environment/environment.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <tuple>

#include "input/tracks/catalog.hpp"
#include "input/input_error.hpp"

namespace tarvo {

namespace {

constexpr float nanf = std::numeric_limits<float>::quiet_NaN();
constexpr double earth_radius_km = 6371.0;
constexpr double km_per_degree = earth_radius_km * M_PI / 180.0;
constexpr double radians_per_degree = M_PI / 180.0;
constexpr double kelvin = 273.15;
constexpr double epsilon = 287.04 / 461.5;  // ratio of the gas constants of dry air and water vapour
constexpr double least_annulus_share = 0.5; // of the annulus' weight with values, or the fix fails

// Saturation vapour pressure over water (hPa) at t_c degrees Celsius (Bolton 1980).
double saturation_vapour_pressure(double t_c) { return 6.112 * std::exp(17.67 * t_c / (243.5 + t_c)); }

// Where a pressure lies among a field's levels: two levels and the weight of
// the second (linear in the logarithm of pressure).
struct LevelPick {
  int i0 = 0, i1 = 0;
  double w1 = 0.0;
};

bool pick_level(const std::vector<double>& levels, double p, LevelPick& pick) {
  for (std::size_t k = 0; k < levels.size(); ++k)
    if (std::fabs(levels[k] - p) < 1e-6 * p) {
      pick = {static_cast<int>(k), static_cast<int>(k), 0.0};
      return true;
    }
  for (std::size_t k = 0; k + 1 < levels.size(); ++k)
    if (levels[k] > p && p > levels[k + 1]) {
      pick = {static_cast<int>(k), static_cast<int>(k + 1),
              std::log(levels[k] / p) / std::log(levels[k] / levels[k + 1])};
      return true;
    }
  return false;
}

std::string levels_text(const std::vector<double>& levels) {
  std::string s;
  for (double p : levels) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", p);
    s += (s.empty() ? "" : " ") + std::string(buf);
  }
  return s + " hPa";
}

// A point of a grid with its weight.
struct Weighted {
  std::size_t index;
  double weight;
};

std::string position_text(double lat, double lon) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f N %.2f E", lat, lon);
  return buf;
}

// Longitude `lon` in the grid's range: the equivalent within it (a global
// grid: from its first longitude on); false when none is.
bool grid_longitude(const FieldGrid& g, double lon, double& out) {
  if (g.global) {
    out = g.lon.front() + std::fmod(std::fmod(lon - g.lon.front(), 360.0) + 360.0, 360.0);
    return true;
  }
  for (const double shift : {0.0, 360.0, -360.0}) {
    const double x = lon + shift;
    if (x >= g.lon.front() - 1e-9 && x <= g.lon.back() + 1e-9) {
      out = x;
      return true;
    }
  }
  return false;
}

// The bilinear weights of a point: four grid points; false when the grid
// does not hold it.
bool bilinear(const FieldGrid& g, double lat, double lon, Weighted (&w)[4]) {
  const std::vector<double>& la = g.lat;
  const bool up = la.back() > la.front();
  const double lo_lat = up ? la.front() : la.back(), hi_lat = up ? la.back() : la.front();
  if (lat < lo_lat - 1e-9 || lat > hi_lat + 1e-9) return false;
  std::size_t i = 0;
  while (i + 2 < la.size() && (up ? la[i + 1] <= lat : la[i + 1] >= lat)) ++i;
  const double fy = std::clamp((lat - la[i]) / (la[i + 1] - la[i]), 0.0, 1.0);
  double x = 0.0;
  if (!grid_longitude(g, lon, x)) return false;
  const std::vector<double>& lo = g.lon;
  const std::size_t n = lo.size();
  std::size_t j = 0, j1 = 0;
  double fx = 0.0;
  if (x >= lo.back()) {
    if (!g.global) {
      j = n - 2;
      j1 = n - 1;
      fx = 1.0;
    } else {  // between the last longitude and the first, round the earth
      j = n - 1;
      j1 = 0;
      fx = (x - lo.back()) / (lo.front() + 360.0 - lo.back());
    }
  } else {
    while (j + 2 < n && lo[j + 1] <= x) ++j;
    j1 = j + 1;
    fx = std::clamp((x - lo[j]) / (lo[j1] - lo[j]), 0.0, 1.0);
  }
  w[0] = {i * n + j, (1.0 - fy) * (1.0 - fx)};
  w[1] = {i * n + j1, (1.0 - fy) * fx};
  w[2] = {(i + 1) * n + j, fy * (1.0 - fx)};
  w[3] = {(i + 1) * n + j1, fy * fx};
  return true;
}

// The grid points between inner and outer km of a point, weighted by the
// cosine of their latitude (their area); false, with `why`, when the grid
// does not reach that far.
bool annulus(const FieldGrid& g, double lat, double lon, double inner, double outer, std::vector<Weighted>& points,
             std::string& why) {
  points.clear();
  const double reach = outer / km_per_degree;
  const double lo_lat = std::min(g.lat.front(), g.lat.back()), hi_lat = std::max(g.lat.front(), g.lat.back());
  if ((lat - reach < lo_lat - 1e-9 && lat - reach > -90.0) || (lat + reach > hi_lat + 1e-9 && lat + reach < 90.0)) {
    why = "its latitudes (" + std::to_string(lo_lat) + " to " + std::to_string(hi_lat) + ") do not reach " +
          std::to_string(static_cast<int>(outer)) + " km around " + position_text(lat, lon);
    return false;
  }
  const double phi = lat * radians_per_degree, cos_phi = std::cos(phi);
  const std::size_t nlon = g.lon.size();
  double x = lon;
  grid_longitude(g, lon, x);
  for (std::size_t i = 0; i < g.lat.size(); ++i) {
    if (std::fabs(g.lat[i] - lat) > reach) continue;
    const double phi_i = g.lat[i] * radians_per_degree;
    const double cos_i = std::cos(phi_i);
    const double a = std::sin(0.5 * (phi_i - phi));
    auto take = [&](std::size_t j) {
      const double b = std::sin(0.5 * (g.lon[j] - x) * radians_per_degree);
      const double h = a * a + cos_phi * cos_i * b * b;
      const double d = 2.0 * earth_radius_km * std::asin(std::min(1.0, std::sqrt(h)));
      if (d >= inner && d <= outer) points.push_back({i * nlon + j, std::max(cos_i, 0.0)});
    };
    // The longitudes within reach on this row: on a circle of latitude a
    // degree of longitude is shorter by the cosine.
    const double cos_min = std::min(std::fabs(cos_phi), std::fabs(cos_i));
    const double span = cos_min > 1e-6 ? reach / cos_min : 360.0;
    if (span >= 180.0) {
      for (std::size_t j = 0; j < nlon; ++j) take(j);
      continue;
    }
    constexpr double shifts[] = {0.0, -360.0, 360.0};
    for (int k = 0; k < (g.global ? 3 : 1); ++k) {
      const double shift = shifts[k];
      const auto lo_it = std::lower_bound(g.lon.begin(), g.lon.end(), x - span + shift);
      const auto hi_it = std::upper_bound(g.lon.begin(), g.lon.end(), x + span + shift);
      for (auto it = lo_it; it < hi_it; ++it) take(static_cast<std::size_t>(it - g.lon.begin()));
    }
  }
  if (!g.global) {
    // The annulus must not run off the grid's sides.
    const double cos_lat = std::cos(phi);
    const double span = cos_lat > 1e-6 ? std::min(180.0, reach / cos_lat) : 180.0;
    double x = 0.0;
    if (!grid_longitude(g, lon, x) || x - span < g.lon.front() - 1e-9 || x + span > g.lon.back() + 1e-9) {
      why = "its longitudes (" + std::to_string(g.lon.front()) + " to " + std::to_string(g.lon.back()) +
            ") do not reach " + std::to_string(static_cast<int>(outer)) + " km around " + position_text(lat, lon);
      return false;
    }
  }
  if (points.empty()) {
    why = "no grid point lies " + std::to_string(static_cast<int>(inner)) + " to " +
          std::to_string(static_cast<int>(outer)) + " km from " + position_text(lat, lon);
    return false;
  }
  return true;
}

// A field at a time and level: the two times' slices, each of the level
// pick's two levels (a time or level of weight 0 is not read: its slice is
// the other's, never looked at).
struct Sampled {
  std::shared_ptr<const std::vector<float>> s[2][2];  // [time][level]
  double w_time = 0.0, w_level = 0.0;
  double at(std::size_t index) const {
    auto level = [&](int t) {
      const double a = (*s[t][0])[index], b = (*s[t][1])[index];
      return w_level == 0.0 ? a : a + w_level * (b - a);
    };
    const double a = level(0);
    return w_time == 0.0 ? a : a + w_time * (level(1) - a);
  }
};

Sampled sample(FieldSet& fields, Field f, const TimeWeights& t, const LevelPick& l) {
  Sampled out;
  const int times[2] = {t.i0, t.i1}, levels[2] = {l.i0, l.i1};
  for (int a = 0; a < 2; ++a)
    for (int b = 0; b < 2; ++b)
      out.s[a][b] = (a == 1 && t.w1 == 0.0)   ? out.s[0][b]
                    : (b == 1 && l.w1 == 0.0) ? out.s[a][0]
                                              : fields.slice(f, levels[b], times[a]);
  out.w_time = t.w1;
  out.w_level = l.w1;
  return out;
}

}  // namespace

FixEnvironment::FixEnvironment()
    : vpot(nanf), shear(nanf), t600(nanf), rh600(nanf), sst_c(nanf), msl_hpa(nanf), pi_vmax(nanf), pi_pmin(nanf),
      t0(nanf), otl(nanf), pi_flag(pi_no_result), vpot_source(0) {}

bool parse_environment_options(const std::string& text, EnvironmentOptions& o, std::string& why) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    const std::string item = text.substr(start, end - start);
    start = end + 1;
    if (item.empty()) continue;
    const std::size_t eq = item.find('=');
    const std::string key = item.substr(0, eq), value = eq == std::string::npos ? "" : item.substr(eq + 1);
    auto number = [&](double& out, double lo, double hi) {
      char* e = nullptr;
      const double v = std::strtod(value.c_str(), &e);
      if (value.empty() || *e != '\0' || !(v >= lo && v <= hi)) return false;
      out = v;
      return true;
    };
    auto pair = [&](double& a, double& b, double lo, double hi) {
      const std::size_t dash = value.find('-');
      if (dash == std::string::npos) return false;
      char* e = nullptr;
      const double x = std::strtod(value.substr(0, dash).c_str(), &e);
      if (*e != '\0') return false;
      const double y = std::strtod(value.substr(dash + 1).c_str(), &e);
      if (*e != '\0' || !(x >= lo && x <= hi && y >= lo && y <= hi)) return false;
      a = x;
      b = y;
      return true;
    };
    bool ok = true;
    if (key == "ckcd") ok = number(o.pi.ckcd, 0.0, 10.0);
    else if (key == "reduction") ok = number(o.pi.wind_reduction, 0.0, 1.0);
    else if (key == "ptop") ok = number(o.pi.ptop_hpa, 0.0, 1100.0);
    else if (key == "mid") ok = number(o.mid_hpa, 1.0, 1100.0);
    else if (key == "climatology" && (value == "yes" || value == "no")) o.times = {value == "yes", 0, 0};
    else if (key == "climatology") {
      double a = 0, b = 0;
      ok = pair(a, b, 1.0, 9999.0) && a == std::floor(a) && b == std::floor(b) && a <= b;
      if (ok) o.times = {true, static_cast<int>(a), static_cast<int>(b)};
    }
    else if (key == "ascent" && (value == "reversible" || value == "pseudo")) o.pi.ascent = value == "pseudo" ? 1.0 : 0.0;
    else if (key == "dissipative" && (value == "yes" || value == "no")) o.pi.dissipative_heating = value == "yes";
    else if (key == "missing" && (value == "fail" || value == "skip")) o.pi.missing_fails = value == "fail";
    else if (key == "parcel" && (value == "first" || value == "above")) o.pi.parcel_from_first_level = value == "first";
    else if (key == "annulus") ok = pair(o.inner_km, o.outer_km, 0.0, 5000.0) && o.inner_km < o.outer_km;
    else if (key == "shear") ok = pair(o.shear_top_hpa, o.shear_bottom_hpa, 1.0, 1100.0) && o.shear_top_hpa < o.shear_bottom_hpa;
    else ok = false;
    if (!ok) {
      why = "environment option '" + item +
            "' is not one tarvo takes: ckcd=0.9, ascent=reversible|pseudo, dissipative=yes|no, reduction=0.8, "
            "ptop=50, missing=fail|skip, parcel=first|above, annulus=200-800 (km), shear=200-850 (hPa), mid=600 (hPa), "
            "climatology=yes|no|1991-2020";
      return false;
    }
  }
  return true;
}

std::string environment_options_text(const EnvironmentOptions& o) {
  char buf[256];
  std::snprintf(buf, sizeof buf,
                "ckcd=%g,ascent=%s,dissipative=%s,reduction=%g,ptop=%g,missing=%s,parcel=%s,annulus=%g-%g,shear=%g-%g,"
                "mid=%g",
                o.pi.ckcd, o.pi.ascent == 0.0 ? "reversible" : "pseudo", o.pi.dissipative_heating ? "yes" : "no",
                o.pi.wind_reduction, o.pi.ptop_hpa, o.pi.missing_fails ? "fail" : "skip",
                o.pi.parcel_from_first_level ? "first" : "above", o.inner_km, o.outer_km,
                o.shear_top_hpa, o.shear_bottom_hpa, o.mid_hpa);
  std::string text = buf;
  if (o.times.climatology)
    text += o.times.first_year != 0
                ? ",climatology=" + std::to_string(o.times.first_year) + "-" + std::to_string(o.times.last_year)
                : std::string(",climatology=yes");
  return text;
}

EnvironmentReport fill_environment(std::vector<CatalogStorm>& storms, FieldSet& fields, const EnvironmentOptions& options,
                                   const std::string& shown, std::vector<std::vector<FixEnvironment>>* details,
                                   bool allow_without_pi) {
  EnvironmentReport report;
  // The fields it needs: a humidity of three kinds, specific humidity first.
  const Field humidity = fields.has(Field::specific_humidity) ? Field::specific_humidity
                         : fields.has(Field::mixing_ratio)    ? Field::mixing_ratio
                                                              : Field::relative_humidity;
  std::string missing;
  for (const Field f : {Field::temperature, humidity, Field::u_wind, Field::v_wind, Field::sst, Field::msl}) {
    if (fields.has(f)) continue;
    missing += missing.empty() ? "" : "; ";
    missing += f == humidity ? "a humidity: " + std::string(field_description(Field::specific_humidity)) + ", " +
                                   field_description(Field::mixing_ratio) + " or " +
                                   field_description(Field::relative_humidity)
                             : std::string(field_description(f));
  }
  if (!missing.empty()) throw InputError(shown, 0, "the environment fields lack " + missing);
  report.fields = fields.describe();
  report.method =
      "potential intensity of the column at the fix (bilinear in space, linear in time) by Bister and Emanuel (2002) as "
      "documented for pyPI v1.3 (Gilford 2021); where it has none (land, sea ice, a sea of 5 C or less, no convergence) "
      "filled linearly in time from the nearest fixes with one; shear: the difference of the " +
      std::to_string(static_cast<int>(options.shear_top_hpa)) + " and " +
      std::to_string(static_cast<int>(options.shear_bottom_hpa)) + " hPa winds, each averaged over " +
      std::to_string(static_cast<int>(options.inner_km)) + "-" + std::to_string(static_cast<int>(options.outer_km)) +
      " km from the centre; t600, rh600: temperature and relative humidity at " +
      std::to_string(static_cast<int>(options.mid_hpa)) +
      " hPa averaged over the same annulus; relative humidity over water (Bolton 1980); options " +
      environment_options_text(options);

  // Levels: the temperature's, the humidity at each; the shear's and the middle level's.
  // The column goes up to its top, the level nearest ptop (the first of two as
  // near): the levels above it take no part in the potential intensity, and
  // are not read (half of a global model's levels lie above 50 hPa).
  const std::vector<double>& t_levels = fields.levels(Field::temperature);
  std::size_t column_levels = t_levels.empty() ? 0 : 1;
  for (std::size_t k = 1; k < t_levels.size(); ++k)
    if (std::fabs(t_levels[k] - options.pi.ptop_hpa) < std::fabs(t_levels[column_levels - 1] - options.pi.ptop_hpa))
      column_levels = k + 1;
  if (static_cast<int>(column_levels) > pi_max_levels)
    throw InputError(shown, 0, fields.where(Field::temperature) + " has more than " + std::to_string(pi_max_levels) +
                                   " levels below ptop");
  auto pick = [&](Field f, double p) {
    LevelPick l;
    if (!pick_level(fields.levels(f), p, l))
      throw InputError(shown, 0, fields.where(f) + " has no level at or around " + std::to_string(p) + " hPa (its levels: " +
                                     levels_text(fields.levels(f)) + ")");
    return l;
  };
  std::vector<LevelPick> h_at_t(column_levels);
  for (std::size_t k = 0; k < column_levels; ++k) h_at_t[k] = pick(humidity, t_levels[k]);
  const LevelPick u_top = pick(Field::u_wind, options.shear_top_hpa), u_bottom = pick(Field::u_wind, options.shear_bottom_hpa),
                  v_top = pick(Field::v_wind, options.shear_top_hpa), v_bottom = pick(Field::v_wind, options.shear_bottom_hpa),
                  t_mid = pick(Field::temperature, options.mid_hpa), h_mid = pick(humidity, options.mid_hpa);
  const LevelPick surface{0, 0, 0.0};

  // Every fix, in time order: the fields' slices are read once.
  struct Work {
    std::size_t storm, fix;
    double hours;
  };
  std::vector<Work> work;
  std::vector<std::vector<FixEnvironment>> found(storms.size());
  for (std::size_t s = 0; s < storms.size(); ++s) {
    found[s].resize(storms[s].track.records.size());
    for (std::size_t k = 0; k < storms[s].track.records.size(); ++k)
      work.push_back({s, k, storms[s].reference_hours + storms[s].track.records[k].hour});
  }
  std::stable_sort(work.begin(), work.end(), [](const Work& a, const Work& b) { return a.hours < b.hours; });
  report.storms = storms.size();
  report.fixes = work.size();

  std::vector<Weighted> ring, ring_mid;
  double p_col[pi_max_levels], t_col[pi_max_levels], r_col[pi_max_levels];
  // A fix at the time and place of one found before (the forecast starts of
  // one storm share their fixes) takes what was found there.
  std::map<std::tuple<double, float, float>, const FixEnvironment*> done;
  for (const Work& w : work) {
    const CatalogStorm& storm = storms[w.storm];
    const TrackRecord& rec = storm.track.records[w.fix];
    const std::tuple<double, float, float> place{w.hours, rec.lat, rec.lon};
    if (const auto seen = done.find(place); seen != done.end()) {
      found[w.storm][w.fix] = *seen->second;
      continue;
    }
    if (!done.empty() && std::get<0>(done.begin()->first) < w.hours) {  // earlier times come no more
      done.clear();
      fields.release_before(w.hours);
    }
    done.emplace(place, &found[w.storm][w.fix]);
    const std::string who = "storm " + std::to_string(w.storm) + " (" + storm.sid + "), fix " +
                            std::to_string(w.fix + 1) + " (" + hour_text(w.hours) + ", " + position_text(rec.lat, rec.lon) + ")";
    auto fail = [&](const std::string& what) { throw InputError(shown, 0, who + ": " + what); };
    auto when = [&](Field f) {
      TimeWeights t;
      std::string why;
      if (!fields.time_weights(f, w.hours, t, why)) fail(why);
      return t;
    };
    auto corners = [&](Field f, Weighted (&c)[4]) {
      if (!bilinear(fields.grid(f), rec.lat, rec.lon, c)) fail("the grid of " + fields.where(f) + " does not cover the fix");
    };
    FixEnvironment& e = found[w.storm][w.fix];
    // The column at the fix.
    Weighted c[4];
    corners(Field::sst, c);
    const Sampled sst = sample(fields, Field::sst, when(Field::sst), surface);
    double sst_sum = 0.0, sst_weight = 0.0;
    for (const Weighted& p : c) {
      const double v = sst.at(p.index);
      if (std::isfinite(v) && p.weight > 0.0) {
        sst_sum += p.weight * v;
        sst_weight += p.weight;
      }
    }
    const double sst_c = sst_weight > 0.0 ? sst_sum / sst_weight - kelvin : std::numeric_limits<double>::quiet_NaN();
    corners(Field::msl, c);
    const Sampled msl = sample(fields, Field::msl, when(Field::msl), surface);
    double msl_hpa = 0.0;
    for (const Weighted& p : c) msl_hpa += p.weight * msl.at(p.index);
    if (!std::isfinite(msl_hpa)) fail(fields.where(Field::msl) + " has a missing value at the fix");
    e.sst_c = static_cast<float>(sst_c);
    e.msl_hpa = static_cast<float>(msl_hpa);
    if (std::isfinite(sst_c)) {
      Weighted ct[4], ch[4];
      corners(Field::temperature, ct);
      corners(humidity, ch);
      const TimeWeights tt = when(Field::temperature), th = when(humidity);
      const int n = static_cast<int>(column_levels);
      for (int k = 0; k < n; ++k) {
        const Sampled tk = sample(fields, Field::temperature, tt, LevelPick{k, k, 0.0});
        const Sampled hk = sample(fields, humidity, th, h_at_t[static_cast<std::size_t>(k)]);
        double t_k = 0.0, h_k = 0.0;
        for (const Weighted& p : ct) t_k += p.weight * tk.at(p.index);
        for (const Weighted& p : ch) h_k += p.weight * hk.at(p.index);
        const double p = t_levels[static_cast<std::size_t>(k)];
        p_col[k] = p;
        t_col[k] = t_k - kelvin;
        double r = 0.0;  // kg/kg
        if (humidity == Field::specific_humidity) r = h_k / (1.0 - h_k);
        else if (humidity == Field::mixing_ratio) r = h_k;
        else {
          const double vapour = 0.01 * h_k * saturation_vapour_pressure(t_k - kelvin);
          r = epsilon * vapour / (p - vapour);
        }
        r_col[k] = 1000.0 * r;
      }
      const PotentialIntensity pi = potential_intensity(sst_c, msl_hpa, p_col, t_col, r_col, n, options.pi);
      e.pi_flag = pi.flag;
      if (pi.flag == pi_missing_values)
        fail("the column of " + fields.where(Field::temperature) + " has missing values (a level below the ground?); "
             "--env-options missing=skip takes the levels above the lowest one with values");
      if (pi.flag == pi_ok) {
        e.pi_vmax = static_cast<float>(pi.vmax_ms);
        e.pi_pmin = static_cast<float>(pi.pmin_hpa);
        e.t0 = static_cast<float>(pi.t0_k);
        e.otl = static_cast<float>(pi.otl_hpa);
      }
    }
    // The annulus: shear, and the middle level's temperature and humidity.
    std::string why;
    if (!annulus(fields.grid(Field::u_wind), rec.lat, rec.lon, options.inner_km, options.outer_km, ring, why))
      fail("the grid of " + fields.where(Field::u_wind) + ": " + why);
    auto mean = [&](const Sampled& a, const std::vector<Weighted>& points, const char* what) {
      double sum = 0.0, weight = 0.0, all = 0.0;
      for (const Weighted& p : points) {
        all += p.weight;
        const double v = a.at(p.index);
        if (!std::isfinite(v)) continue;
        sum += p.weight * v;
        weight += p.weight;
      }
      if (!(weight >= least_annulus_share * all))
        fail(std::string("fewer than half of the annulus' points have a value of ") + what);
      return sum / weight;
    };
    const TimeWeights tu = when(Field::u_wind), tv = when(Field::v_wind);
    const bool same_grid = fields.grid(Field::v_wind).lat == fields.grid(Field::u_wind).lat &&
                           fields.grid(Field::v_wind).lon == fields.grid(Field::u_wind).lon;
    std::vector<Weighted> ring_v;
    if (!same_grid && !annulus(fields.grid(Field::v_wind), rec.lat, rec.lon, options.inner_km, options.outer_km, ring_v, why))
      fail("the grid of " + fields.where(Field::v_wind) + ": " + why);
    const std::vector<Weighted>& rv = same_grid ? ring : ring_v;
    const double du = mean(sample(fields, Field::u_wind, tu, u_top), ring, "the eastward wind") -
                      mean(sample(fields, Field::u_wind, tu, u_bottom), ring, "the eastward wind");
    const double dv = mean(sample(fields, Field::v_wind, tv, v_top), rv, "the northward wind") -
                      mean(sample(fields, Field::v_wind, tv, v_bottom), rv, "the northward wind");
    e.shear = static_cast<float>(std::sqrt(du * du + dv * dv));
    if (!annulus(fields.grid(Field::temperature), rec.lat, rec.lon, options.inner_km, options.outer_km, ring_mid, why))
      fail("the grid of " + fields.where(Field::temperature) + ": " + why);
    const Sampled tm = sample(fields, Field::temperature, when(Field::temperature), t_mid);
    e.t600 = static_cast<float>(mean(tm, ring_mid, "the temperature"));
    // Relative humidity point by point (the humidity's grid must be the temperature's).
    const Sampled hm = sample(fields, humidity, when(humidity), h_mid);
    const FieldGrid& hg = fields.grid(humidity);
    if (hg.lat != fields.grid(Field::temperature).lat || hg.lon != fields.grid(Field::temperature).lon)
      fail(fields.where(humidity) + " is not on the grid of " + fields.where(Field::temperature));
    double rh_sum = 0.0, rh_weight = 0.0, all = 0.0;
    for (const Weighted& p : ring_mid) {
      all += p.weight;
      const double t = tm.at(p.index), h = hm.at(p.index);
      if (!std::isfinite(t) || !std::isfinite(h)) continue;
      double rh = h;
      if (humidity != Field::relative_humidity) {
        const double r = humidity == Field::specific_humidity ? h / (1.0 - h) : h;
        const double vapour = r * options.mid_hpa / (epsilon + r);
        rh = 100.0 * vapour / saturation_vapour_pressure(t - kelvin);
      }
      rh_sum += p.weight * rh;
      rh_weight += p.weight;
    }
    if (!(rh_weight >= least_annulus_share * all)) fail("fewer than half of the annulus' points have a relative humidity");
    e.rh600 = static_cast<float>(rh_sum / rh_weight);
  }

  // Each storm's potential intensity where the columns have one, filled in
  // time where they have none.
  for (std::size_t s = 0; s < storms.size(); ++s) {
    CatalogStorm& storm = storms[s];
    std::vector<FixEnvironment>& f = found[s];
    std::vector<TrackRecord>& rec = storm.track.records;
    std::vector<std::size_t> with;
    for (std::size_t k = 0; k < f.size(); ++k)
      if (f[k].pi_flag == pi_ok) with.push_back(k);
    if (with.empty() && !f.empty()) {
      if (allow_without_pi) {
        report.without_pi.push_back(s);
        continue;
      }
      throw InputError(shown, 0, "storm " + std::to_string(s) + " (" + storm.sid +
                                     "): no fix has a potential intensity (over land or sea ice, or no convergence, "
                                     "everywhere): its environment cannot be given");
    }
    std::size_t filled = 0;
    for (std::size_t k = 0; k < f.size(); ++k) {
      if (f[k].pi_flag == pi_ok) {
        f[k].vpot = f[k].pi_vmax;
        f[k].vpot_source = 1;
        continue;
      }
      // The nearest fixes in time with one, before and after; at an end the nearest.
      const auto after = std::upper_bound(with.begin(), with.end(), k);
      if (after == with.begin()) f[k].vpot = f[*after].pi_vmax;
      else if (after == with.end()) f[k].vpot = f[*(after - 1)].pi_vmax;
      else {
        const std::size_t a = *(after - 1), b = *after;
        const double w1 = static_cast<double>(rec[k].hour - rec[a].hour) / static_cast<double>(rec[b].hour - rec[a].hour);
        f[k].vpot = static_cast<float>(f[a].pi_vmax + w1 * (f[b].pi_vmax - f[a].pi_vmax));
      }
      f[k].vpot_source = 2;
      ++filled;
    }
    storm.vpot_source.assign(f.size(), 0);
    for (std::size_t k = 0; k < f.size(); ++k) {
      rec[k].vpot = f[k].vpot;
      rec[k].f6 = f[k].shear;
      rec[k].t600 = f[k].t600;
      rec[k].rh600 = f[k].rh600;
      storm.vpot_source[k] = static_cast<signed char>(f[k].vpot_source);
    }
    report.computed += f.size() - filled;
    report.filled += filled;
    if (filled > 0)
      report.notes.push_back(storm.sid + ": " + std::to_string(filled) + " of " + std::to_string(f.size()) +
                             " fixes have no potential intensity of their own (land, sea ice or no convergence): "
                             "filled in time from the nearest fixes with one");
  }
  if (details) *details = std::move(found);
  return report;
}

}  // namespace tarvo
