// tarvo._core: the library API for Python. Tracks travel as plain values and
// numpy arrays; the package's Python modules build Track objects and xarray
// Datasets around them. Forecasts run with the GIL released, many of them on
// C++ threads.
#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "api/catalog.hpp"
#include "api/grids.hpp"
#include "api/risk.hpp"
#include "api/tarvo.hpp"
#include "api/tracks.hpp"

namespace py = pybind11;
using tarvo::Track;

namespace {

using Floats = py::array_t<float, py::array::c_style | py::array::forcecast>;
using Ints = py::array_t<int, py::array::c_style | py::array::forcecast>;

struct Grids {
  std::shared_ptr<const tarvo::OceanGrids> grids;
  std::string data_dir;
};

// A Track from the package's fields (lengths already checked in Python).
Track make_track(const std::string& basin, int month, int day, int hour, int year, const Ints& hours,
                 const Floats& lat, const Floats& lon, const Floats& vmax, const Floats& vpot,
                 const Floats& shear, const Floats& t600, const Floats& rh600) {
  Track t;
  t.basin = basin;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.year = year;
  const py::ssize_t n = hours.size();
  for (const py::array* a : {static_cast<const py::array*>(&lat), static_cast<const py::array*>(&lon),
                             static_cast<const py::array*>(&vmax), static_cast<const py::array*>(&vpot),
                             static_cast<const py::array*>(&shear), static_cast<const py::array*>(&t600),
                             static_cast<const py::array*>(&rh600)})
    if (a->size() != n) throw tarvo::InputError("track", 0, "the track's arrays differ in length");
  t.records.resize(static_cast<std::size_t>(n));
  for (py::ssize_t i = 0; i < n; ++i) {
    tarvo::TrackRecord& r = t.records[static_cast<std::size_t>(i)];
    r.hour = hours.data()[i];
    r.lat = lat.data()[i];
    r.lon = lon.data()[i];
    r.vmax_kt = vmax.data()[i];
    r.vpot = vpot.data()[i];
    r.f6 = shear.data()[i];
    r.t600 = t600.data()[i];
    r.rh600 = rh600.data()[i];
  }
  return t;
}

py::dict track_fields(const Track& t) {
  const auto n = static_cast<py::ssize_t>(t.records.size());
  Ints hours(n);
  Floats lat(n), lon(n), vmax(n), vpot(n), shear(n), t600(n), rh600(n);
  for (py::ssize_t i = 0; i < n; ++i) {
    const tarvo::TrackRecord& r = t.records[static_cast<std::size_t>(i)];
    hours.mutable_data()[i] = r.hour;
    lat.mutable_data()[i] = r.lat;
    lon.mutable_data()[i] = r.lon;
    vmax.mutable_data()[i] = r.vmax_kt;
    vpot.mutable_data()[i] = r.vpot;
    shear.mutable_data()[i] = r.f6;
    t600.mutable_data()[i] = r.t600;
    rh600.mutable_data()[i] = r.rh600;
  }
  py::dict d;
  d["basin"] = t.basin;
  d["month"] = t.month;
  d["day"] = t.day;
  d["hour"] = t.hour;
  d["year"] = t.year;
  d["hours"] = hours;
  d["lat"] = lat;
  d["lon"] = lon;
  d["vmax_kt"] = vmax;
  d["vpot"] = vpot;
  d["shear"] = shear;
  d["t600"] = t600;
  d["rh600"] = rh600;
  return d;
}

// A forecast as plain values (no Python objects: built without the GIL).
struct Result {
  bool failed = false;
  std::string error, error_path;
  int error_line = 0;
  tarvo::Forecast forecast;
};

Result failed_result(const tarvo::InputError& e) {
  Result r;
  r.failed = true;
  r.error = e.what();
  r.error_path = e.file();
  r.error_line = e.line();
  return r;
}

py::dict result_fields(const Result& r) {
  py::dict d;
  if (r.failed) {
    d["status"] = "failed";
    d["error"] = r.error;
    d["error_path"] = r.error_path;
    d["error_line"] = r.error_line;
    return d;
  }
  const tarvo::Forecast& f = r.forecast;
  d["status"] = f.status == tarvo::Forecast::Status::finished ? "finished" : "stopped_early";
  d["stop_hours"] = f.stop_hours;
  d["stop_ring"] = f.stop_ring;
  d["warnings"] = f.warnings;
  d["first_hour"] = f.first_hour;
  const auto n = static_cast<py::ssize_t>(f.samples.size());
  Ints month(n), day(n), hour(n);
  Floats lat(n), lon(n), vmax(n), rmw(n), pmin(n), vobs(n);
  for (py::ssize_t i = 0; i < n; ++i) {
    const tarvo::ForecastSample& s = f.samples[static_cast<std::size_t>(i)];
    month.mutable_data()[i] = s.month;
    day.mutable_data()[i] = s.day;
    hour.mutable_data()[i] = s.hour;
    lat.mutable_data()[i] = s.lat;
    lon.mutable_data()[i] = s.lon;
    vmax.mutable_data()[i] = s.vmax_kt;
    rmw.mutable_data()[i] = s.rmw_km;
    pmin.mutable_data()[i] = s.pmin_hpa;
    vobs.mutable_data()[i] = s.vobs_kt;
  }
  d["month"] = month;
  d["day"] = day;
  d["hour"] = hour;
  d["lat"] = lat;
  d["lon"] = lon;
  d["vmax"] = vmax;
  d["rmw"] = rmw;
  d["pmin"] = pmin;
  d["vobs"] = vobs;
  d["track_out"] = tarvo::track_out_text(f);
  return d;
}

tarvo::Params make_params(const py::tuple& p) {
  tarvo::Params q;
  q.smooth_vobs = p[0].cast<float>();
  q.smooth_dist = p[1].cast<float>();
  q.smooth_f6 = p[2].cast<float>();
  q.nudge_gain = p[3].cast<float>();
  return q;
}

// A track from a dict of track_fields' keys.
Track track_of(const py::dict& d) {
  return make_track(d["basin"].cast<std::string>(), d["month"].cast<int>(), d["day"].cast<int>(),
                    d["hour"].cast<int>(), d["year"].cast<int>(), d["hours"].cast<Ints>(), d["lat"].cast<Floats>(),
                    d["lon"].cast<Floats>(), d["vmax_kt"].cast<Floats>(), d["vpot"].cast<Floats>(),
                    d["shear"].cast<Floats>(), d["t600"].cast<Floats>(), d["rh600"].cast<Floats>());
}

tarvo::ForecastOutputs outputs_of(const std::string& climada_dir, const std::string& climada_file,
                                  const std::string& atcf_dir, int atcf_step, int atcf_max_tau) {
  tarvo::ForecastOutputs o;
  o.climada_dir = climada_dir;
  o.climada_file = climada_file;
  o.atcf_dir = atcf_dir;
  o.atcf.step_h = atcf_step;
  o.atcf.max_tau_h = atcf_max_tau;
  return o;
}

py::dict outputs_summary(const tarvo::ForecastOutputs& o, const tarvo::ForecastOutputsSummary& s) {
  py::dict d;
  d["tracks"] = s.tracks;
  d["left_out"] = s.left_out;
  d["adeck_files"] = s.adeck_files;
  d["adeck_forecasts"] = s.adeck_forecasts;
  d["unnumbered"] = s.unnumbered;
  d["past_max_tau"] = s.past_max_tau;
  d["most_hours_left_out"] = s.most_hours_left_out;
  d["without_tau0"] = s.without_tau0;
  d["replaced"] = s.replaced;
  d["report"] = tarvo::outputs_report(o, s);
  return d;
}

// Thrown through a catalog run to end it when the progress callback raised.
struct Interrupted {};

using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;

tarvo::EnvironmentOptions environment_options(const std::string& text) {
  tarvo::EnvironmentOptions o;
  std::string why;
  if (!tarvo::parse_environment_options(text, o, why)) throw tarvo::InputError("environment options", 0, why);
  return o;
}

py::dict best_track_fields(const tarvo::BestTrack& t) {
  const auto n = static_cast<py::ssize_t>(t.fixes.size());
  Doubles hours(n);
  Floats lat(n), lon(n), wind(n), pressure(n), vpot(n), shear(n), t600(n), rh600(n);
  py::list basins;
  std::string records;
  for (py::ssize_t i = 0; i < n; ++i) {
    const tarvo::BestFix& f = t.fixes[static_cast<std::size_t>(i)];
    records += f.record;
    hours.mutable_data()[i] = f.hours;
    lat.mutable_data()[i] = f.lat;
    lon.mutable_data()[i] = f.lon;
    wind.mutable_data()[i] = f.wind_kt;
    pressure.mutable_data()[i] = f.pressure_hpa;
    vpot.mutable_data()[i] = f.vpot;
    shear.mutable_data()[i] = f.shear;
    t600.mutable_data()[i] = f.t600;
    rh600.mutable_data()[i] = f.rh600;
    basins.append(f.basin);
  }
  py::dict d;
  d["sid"] = t.sid;
  d["name"] = t.name;
  d["basin"] = t.basin;
  d["year"] = t.year;
  d["cyclone_number"] = t.cyclone_number;
  d["wind_source"] = t.wind_source;
  d["orig_event_flag"] = t.orig_event_flag;
  d["climada_id_no"] = t.climada_id_no;
  d["hours"] = hours;
  d["lat"] = lat;
  d["lon"] = lon;
  d["wind"] = wind;
  d["pressure"] = pressure;
  d["vpot"] = vpot;
  d["shear"] = shear;
  d["t600"] = t600;
  d["rh600"] = rh600;
  d["fix_basin"] = basins;
  d["record"] = records;
  return d;
}

tarvo::BestTrack best_track_of(const py::dict& d) {
  tarvo::BestTrack t;
  t.sid = d["sid"].cast<std::string>();
  t.name = d["name"].cast<std::string>();
  t.basin = d["basin"].cast<std::string>();
  t.year = d["year"].cast<int>();
  t.cyclone_number = d["cyclone_number"].cast<int>();
  t.wind_source = d["wind_source"].cast<std::string>();
  if (d.contains("orig_event_flag")) t.orig_event_flag = d["orig_event_flag"].cast<int>();
  if (d.contains("climada_id_no")) t.climada_id_no = d["climada_id_no"].cast<double>();
  const Doubles hours = d["hours"].cast<Doubles>();
  const Floats lat = d["lat"].cast<Floats>(), lon = d["lon"].cast<Floats>(), wind = d["wind"].cast<Floats>(),
               pressure = d["pressure"].cast<Floats>();
  const py::ssize_t n = hours.size();
  if (lat.size() != n || lon.size() != n || wind.size() != n || pressure.size() != n)
    throw tarvo::InputError(t.sid, 0, "the track's arrays differ in length");
  // Optional per fix: the record identifier, the basin and the environment.
  const std::string records = d.contains("record") ? d["record"].cast<std::string>() : std::string();
  const std::vector<std::string> basins =
      d.contains("fix_basin") ? d["fix_basin"].cast<std::vector<std::string>>() : std::vector<std::string>();
  struct Optional {
    const char* key;
    float tarvo::BestFix::*member;
    Floats values;
  };
  Optional env[] = {{"vpot", &tarvo::BestFix::vpot, {}}, {"shear", &tarvo::BestFix::shear, {}},
                    {"t600", &tarvo::BestFix::t600, {}}, {"rh600", &tarvo::BestFix::rh600, {}}};
  for (Optional& e : env)
    if (d.contains(e.key)) {
      e.values = d[e.key].cast<Floats>();
      if (e.values.size() != n) throw tarvo::InputError(t.sid, 0, std::string("the track's ") + e.key + " differs in length");
    }
  for (py::ssize_t i = 0; i < n; ++i) {
    tarvo::BestFix f;
    const auto k = static_cast<std::size_t>(i);
    f.hours = hours.data()[i];
    f.lat = lat.data()[i];
    f.lon = lon.data()[i];
    f.wind_kt = wind.data()[i];
    f.pressure_hpa = pressure.data()[i];
    if (k < records.size()) f.record = records[k];
    f.basin = k < basins.size() && !basins[k].empty() ? tarvo::tarvo_basin(basins[k]) : t.basin;
    if (f.basin.empty()) f.basin = t.basin;
    for (const Optional& e : env)
      if (e.values.size() == n) f.*(e.member) = e.values.data()[i];
    t.fixes.push_back(f);
  }
  return t;
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "tarvo's C++ library: tracks, parameters, grids and forecasts.";

  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const tarvo::InputError& e) {
      py::object cls = py::module_::import("tarvo._errors").attr("InputError");
      py::object err = cls(e.what(), e.file(), e.line() > 0 ? py::object(py::int_(e.line())) : py::none());
      PyErr_SetObject(cls.ptr(), err.ptr());
    }
  });

  py::class_<Grids, std::shared_ptr<Grids>>(m, "Grids")
      .def_property_readonly("data_dir", [](const Grids& g) { return g.data_dir; });

  m.def("load_grids", [](const std::string& dir) {
    auto g = std::make_shared<Grids>();
    g->data_dir = dir;
    {
      py::gil_scoped_release free;
      g->grids = std::make_shared<const tarvo::OceanGrids>(tarvo::load_grids(dir));
    }
    return g;
  });

  m.def("parse_track", [](const std::string& text, const std::string& name) {
    const Track t = tarvo::parse_track(text, name);
    py::dict d = track_fields(t);
    py::list skipped;
    for (const auto& [line, why] : t.skipped)
      skipped.append(name + ", line " + std::to_string(line) + ": record skipped: " + why);
    d["skipped"] = skipped;
    return d;
  });

  // Checks a track as the library takes it; returns its basin code as tarvo keeps it.
  m.def("check_track", [](const std::string& basin, int month, int day, int hour, int year, const Ints& hours,
                          const Floats& lat, const Floats& lon, const Floats& vmax, const Floats& vpot,
                          const Floats& shear, const Floats& t600, const Floats& rh600, const std::string& name) {
    Track t = make_track(basin, month, day, hour, year, hours, lat, lon, vmax, vpot, shear, t600, rh600);
    tarvo::check_track(t, name);
    return t.basin;
  });

  m.def("track_text", [](const std::string& basin, int month, int day, int hour, int year, const Ints& hours,
                         const Floats& lat, const Floats& lon, const Floats& vmax, const Floats& vpot,
                         const Floats& shear, const Floats& t600, const Floats& rh600, const std::string& name) {
    return tarvo::track_text(make_track(basin, month, day, hour, year, hours, lat, lon, vmax, vpot, shear, t600, rh600),
                             name);
  });

  m.def("version", [] { return std::string(tarvo::version()); });
  m.def("tarvo_basin", [](const std::string& code) { return tarvo::tarvo_basin(code); });
  m.def("knots_per_unit", [](const std::string& unit) {
    return tarvo::knots_per_wind_unit(unit);
  });
  m.def("step_path", [] { return tarvo::step_path_name(); });
  m.def("history_line", [](const std::string& call) { return tarvo::history_line(call); });

  m.def("parse_params", [](const std::string& text, const std::string& name) {
    const tarvo::Params p = tarvo::parse_params(text, name);
    return py::make_tuple(p.smooth_vobs, p.smooth_dist, p.smooth_f6, p.nudge_gain);
  });

  m.def("read_text", [](const std::string& path) { return tarvo::read_text_file(path); });
  m.def("guard_hdf5_shutdown", [] { tarvo::guard_hdf5_shutdown(); });
  m.def("write_text_whole", [](const std::string& path, const std::string& text) {
    tarvo::write_text_file(path, text);
  });

  // tracks: a list of track_fields-like dicts; params: a list of 4-tuples, one a track.
  m.def(
      "forecast_many",
      [](const py::list& tracks, const py::list& params, const Grids& grids, int threads,
         const std::function<void(int, int)>& progress) {
        const std::size_t n = tracks.size();
        std::vector<Track> ts(n);
        std::vector<tarvo::Params> ps(n);
        std::vector<std::string> names(n);
        for (std::size_t i = 0; i < n; ++i) {
          const py::dict d = tracks[i].cast<py::dict>();
          ts[i] = track_of(d);
          names[i] = d["name"].cast<std::string>();
          ps[i] = make_params(params[i].cast<py::tuple>());
        }
        std::vector<Result> results(n);
        std::atomic<std::size_t> next{0};
        std::atomic<int> done{0}, failed{0};
        std::atomic<bool> stop{false};
        std::exception_ptr interrupted;
        std::mutex mutex;
        std::condition_variable finished;
        const tarvo::OceanGrids& g = *grids.grids;
        const int workers = std::max(1, std::min<int>(threads, static_cast<int>(std::max<std::size_t>(n, 1))));
        {
          py::gil_scoped_release free;
          std::vector<std::thread> pool;
          // Each thread streams storms, several stepping together.
          auto work = [&] {
            tarvo::forecast_stream(
                [&](tarvo::StormInputs& storm) {
                  const std::size_t i = stop ? n : next.fetch_add(1);
                  if (i >= n) return false;
                  storm.track = ts[i];
                  storm.params = ps[i];
                  storm.grids = &g;
                  storm.name = names[i];
                  storm.tag = i;
                  return true;
                },
                [&](std::size_t i, tarvo::Forecast&& f, const tarvo::InputError* error) {
                  results[i] = error ? failed_result(*error) : Result{false, {}, {}, 0, std::move(f)};
                  if (results[i].failed) ++failed;
                  ++done;
                  finished.notify_one();
                });
          };
          for (int w = 0; w < workers; ++w) pool.emplace_back(work);
          // Progress from the calling thread, with the GIL, a few times a second.
          for (;;) {
            std::unique_lock<std::mutex> lock(mutex);
            const bool all = finished.wait_for(lock, std::chrono::milliseconds(200),
                                               [&] { return done.load() == static_cast<int>(n); });
            lock.unlock();
            if (progress && !stop) {
              py::gil_scoped_acquire with;
              try {
                progress(done.load(), failed.load());
              } catch (...) {  // an interrupt, or a fault of the callback: stop after the storms running
                interrupted = std::current_exception();
                stop = true;
              }
            }
            if (all || stop) break;
          }
          for (std::thread& t : pool) t.join();
        }
        if (interrupted) std::rethrow_exception(interrupted);
        py::list out;
        for (const Result& r : results) out.append(result_fields(r));
        return out;
      },
      py::arg("tracks"), py::arg("params"), py::arg("grids"), py::arg("threads"), py::arg("progress") = nullptr);

  // Catalog files, through the same reader and writers as the programs.
  m.def("read_catalog", [](const std::string& path) {
    std::vector<tarvo::CatalogStorm> storms;
    {
      py::gil_scoped_release free;
      storms = tarvo::read_catalog(path);
    }
    py::list out;
    for (const tarvo::CatalogStorm& s : storms) {
      py::dict d = track_fields(s.track);
      d["sid"] = s.sid;
      d["name"] = s.name;
      d["storm_year"] = s.year;
      d["cyclone_number"] = s.cyclone_number;
      d["params"] = py::make_tuple(s.params.smooth_vobs, s.params.smooth_dist, s.params.smooth_f6, s.params.nudge_gain);
      out.append(d);
    }
    return out;
  });

  // storms: dicts of track_fields' keys with sid, name, year, cyclone_number and params.
  m.def("write_catalog", [](const std::string& path, const py::list& storms, const std::string& command) {
    std::vector<tarvo::CatalogStorm> all(storms.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
      const py::dict d = storms[i].cast<py::dict>();
      tarvo::CatalogStorm& s = all[i];
      s.track = track_of(d);
      s.sid = d["sid"].cast<std::string>();
      s.name = d["name"].cast<std::string>();
      s.year = s.track.year;
      s.cyclone_number = d["cyclone_number"].cast<int>();
      s.params = make_params(d["params"].cast<py::tuple>());
    }
    py::gil_scoped_release free;
    tarvo::write_catalog(path, std::move(all), command);
  });

  // Storms first .. last - 1 of catalog `in` forecast into forecast file `out`;
  // progress(done, failed, total) after each chunk. Returns (storms, stopped, failed).
  m.def(
      "forecast_catalog_file",
      [](const std::string& in, const std::string& out, const Grids& grids, int threads, std::size_t first,
         std::size_t last, const std::function<void(int, int, int)>& progress, const std::string& command, int members,
         std::uint64_t seed, const std::string& spreads) {
        tarvo::CatalogOptions options;
        options.threads = std::max(1, threads);
        options.first = first;
        options.last = last;
        options.command = command;
        options.ensemble.members = members;
        options.ensemble.seed = seed;
        std::string why;
        if (!spreads.empty() && !tarvo::parse_spreads(spreads, options.ensemble.spreads, why))
          throw tarvo::InputError("spreads", 0, why);
        std::exception_ptr interrupted;
        tarvo::CatalogSummary s;
        try {
          py::gil_scoped_release free;
          s = tarvo::run_catalog(in, out, *grids.grids, options, [&](int done, int failed, int total) {
            if (!progress) return;
            py::gil_scoped_acquire with;
            try {
              progress(done, failed, total);
            } catch (...) {
              interrupted = std::current_exception();
              throw Interrupted{};
            }
          });
        } catch (const Interrupted&) {
          std::rethrow_exception(interrupted);
        }
        return py::make_tuple(s.storms, s.stopped, s.failed);
      },
      py::arg("catalog"), py::arg("out"), py::arg("grids"), py::arg("threads"), py::arg("first"), py::arg("last"),
      py::arg("progress") = nullptr, py::arg("command") = "", py::arg("members") = 0, py::arg("seed") = 1,
      py::arg("spreads") = "");

  m.def("export_forecasts", [](const std::string& path, const std::string& climada_dir, const std::string& climada_file,
                               const std::string& atcf_dir, int atcf_step, int atcf_max_tau, const std::string& command) {
    const tarvo::ForecastOutputs o = outputs_of(climada_dir, climada_file, atcf_dir, atcf_step, atcf_max_tau);
    tarvo::ForecastOutputsSummary s;
    {
      py::gil_scoped_release free;
      s = tarvo::export_forecasts(path, o, command);
    }
    return outputs_summary(o, s);
  });

  m.def("category_of", [](float peak_kt) { return tarvo::category_of(peak_kt); });

  // Two climates' forecasts of one catalog compared: a dict of the numbers.
  m.def("compare_forecast_files", [](const std::string& present, const std::string& future, const std::string& catalog,
                                     const std::string& data, int resamples, std::uint64_t seed) {
    tarvo::ComparisonInputs in{present, future, catalog, data};
    tarvo::ComparisonOptions o;
    o.resamples = resamples;
    o.seed = seed;
    std::vector<std::string> notes;
    tarvo::ClimateComparison c;
    {
      py::gil_scoped_release free;
      c = tarvo::compare_forecast_files(in, o, notes);
    }
    auto paired = [](const tarvo::Paired& p) {
      py::dict d;
      for (auto [k, v] : {std::pair{"present", p.present}, {"future", p.future}, {"change", p.change},
                          {"present_low", p.present_low}, {"present_high", p.present_high},
                          {"future_low", p.future_low}, {"future_high", p.future_high},
                          {"change_low", p.change_low}, {"change_high", p.change_high}})
        d[k] = v;
      return d;
    };
    py::dict d;
    d["storms"] = c.storms;
    d["quantiles"] = c.quantiles;
    py::list q;
    for (const tarvo::Paired& p : c.lmi_quantile) q.append(paired(p));
    d["lmi_quantile"] = q;
    d["lmi_mean"] = paired(c.lmi_mean);
    d["category_present"] = std::vector<int>(c.category_present.begin(), c.category_present.end());
    d["category_future"] = std::vector<int>(c.category_future.begin(), c.category_future.end());
    d["thresholds_kt"] = c.thresholds_kt;
    d["exceedance_present"] = c.exceedance_present;
    d["exceedance_future"] = c.exceedance_future;
    d["landfalls"] = c.landfalls;
    d["landfall_wind"] = paired(c.landfall_wind);
    d["landfall_hurricane_share"] = paired(c.landfall_hurricane_share);
    d["rapid_share"] = paired(c.rapid_share);
    d["confidence"] = o.confidence;
    d["csv"] = tarvo::comparison_csv(c);
    d["notes"] = notes;
    return d;
  });

  // ---- real storms in ----

  m.def("read_tracks", [](const std::string& path, const std::string& format, const std::string& basin, int season,
                          const std::string& storm, const std::string& wind, const std::string& columns) {
    tarvo::BestTrackSelection sel;
    sel.basin = basin;
    sel.season = season;
    sel.storm = storm;
    sel.wind = wind;
    sel.columns = columns;
    std::vector<tarvo::BestTrack> tracks;
    {
      py::gil_scoped_release free;
      tracks = tarvo::read_tracks(path, format, sel);
    }
    py::list out;
    for (const tarvo::BestTrack& t : tracks) out.append(best_track_fields(t));
    return out;
  });

  // Best tracks (dicts of read_tracks) to a catalog file of their starts; returns the notes.
  m.def("write_hindcast_catalog", [](const py::list& tracks, const std::string& starts, int history, int min_lead,
                                     int max_lead, const py::tuple& params, const std::string& basin,
                                     const std::string& out, const std::string& command) {
    std::vector<tarvo::BestTrack> ts;
    for (const py::handle& h : tracks) ts.push_back(best_track_of(h.cast<py::dict>()));
    tarvo::HindcastOptions o;
    std::string why;
    if (!tarvo::parse_start_rule(starts, o.starts, why)) throw tarvo::InputError("starts", 0, why);
    o.history_h = history;
    o.min_lead_h = min_lead;
    o.max_lead_h = max_lead;
    o.params = make_params(params);
    o.basin = basin;
    py::gil_scoped_release free;
    return tarvo::write_hindcast_catalog(ts, o, out, command);
  });

  // The environment of catalog `in` into `out`; returns the report and, a storm, its fixes' details.
  m.def("environment_catalog", [](const std::string& in, const std::vector<std::string>& fields,
                                  const std::string& options, const std::string& out, const std::string& command) {
    const tarvo::EnvironmentOptions o = environment_options(options);
    std::vector<std::vector<tarvo::FixEnvironment>> details;
    tarvo::EnvironmentReport r;
    {
      py::gil_scoped_release free;
      r = tarvo::environment_catalog(in, fields, o, out, command, &details);
    }
    py::list storms;
    for (const auto& fixes : details) {
      const auto n = static_cast<py::ssize_t>(fixes.size());
      Floats vpot(n), shear(n), t600(n), rh600(n), sst(n), msl(n), pi_vmax(n), pi_pmin(n), t0(n), otl(n);
      Ints flag(n), source(n);
      for (py::ssize_t i = 0; i < n; ++i) {
        const tarvo::FixEnvironment& e = fixes[static_cast<std::size_t>(i)];
        vpot.mutable_data()[i] = e.vpot;
        shear.mutable_data()[i] = e.shear;
        t600.mutable_data()[i] = e.t600;
        rh600.mutable_data()[i] = e.rh600;
        sst.mutable_data()[i] = e.sst_c;
        msl.mutable_data()[i] = e.msl_hpa;
        pi_vmax.mutable_data()[i] = e.pi_vmax;
        pi_pmin.mutable_data()[i] = e.pi_pmin;
        t0.mutable_data()[i] = e.t0;
        otl.mutable_data()[i] = e.otl;
        flag.mutable_data()[i] = e.pi_flag;
        source.mutable_data()[i] = e.vpot_source;
      }
      py::dict d;
      d["vpot"] = vpot;
      d["shear"] = shear;
      d["t600"] = t600;
      d["rh600"] = rh600;
      d["sst"] = sst;
      d["msl"] = msl;
      d["pi_vmax"] = pi_vmax;
      d["pi_pmin"] = pi_pmin;
      d["t0"] = t0;
      d["otl"] = otl;
      d["pi_flag"] = flag;
      d["vpot_source"] = source;
      storms.append(d);
    }
    py::dict report;
    report["fixes"] = r.fixes;
    report["computed"] = r.computed;
    report["filled"] = r.filled;
    report["notes"] = r.notes;
    report["fields"] = r.fields;
    report["method"] = r.method;
    report["options"] = tarvo::environment_options_text(o);
    return py::make_tuple(report, storms);
  });

  // Columns of levels along the last axis: vmax (m/s), pmin (hPa), flag, t0 (K), otl (hPa).
  m.def("potential_intensity", [](const Doubles& sst_c, const Doubles& msl_hpa, const Doubles& p_hpa, const Doubles& t_c,
                                  const Doubles& r_gkg, const std::string& options) {
    const tarvo::EnvironmentOptions o = environment_options(options);
    const py::ssize_t columns = sst_c.size(), levels = p_hpa.size();
    if (msl_hpa.size() != columns || t_c.size() != columns * levels || r_gkg.size() != columns * levels)
      throw tarvo::InputError("potential_intensity", 0, "the arrays do not have one column of levels a point");
    if (levels < 1 || levels > tarvo::pi_max_levels)
      throw tarvo::InputError("potential_intensity", 0, "a column has 1 to " + std::to_string(tarvo::pi_max_levels) + " levels");
    std::vector<tarvo::PotentialIntensity> out(static_cast<std::size_t>(columns));
    {
      py::gil_scoped_release free;
      tarvo::potential_intensity_columns(static_cast<std::size_t>(columns), sst_c.data(), msl_hpa.data(), p_hpa.data(),
                                         t_c.data(), r_gkg.data(), static_cast<int>(levels), o.pi, out.data());
    }
    Doubles vmax(columns), pmin(columns), t0(columns), otl(columns);
    Ints flag(columns);
    for (py::ssize_t k = 0; k < columns; ++k) {
      const tarvo::PotentialIntensity& r = out[static_cast<std::size_t>(k)];
      vmax.mutable_data()[k] = r.vmax_ms;
      pmin.mutable_data()[k] = r.pmin_hpa;
      t0.mutable_data()[k] = r.t0_k;
      otl.mutable_data()[k] = r.otl_hpa;
      flag.mutable_data()[k] = r.flag;
    }
    return py::make_tuple(vmax, pmin, flag, t0, otl);
  });

  m.def("verify_hindcasts", [](const std::string& catalog, const std::string& forecasts) {
    tarvo::HindcastVerification v;
    {
      py::gil_scoped_release free;
      v = tarvo::verify_hindcasts(catalog, forecasts);
    }
    const auto nb = static_cast<py::ssize_t>(v.basins.size()), nl = static_cast<py::ssize_t>(tarvo::hindcast_lead_count);
    Ints n({nb, nl});
    Doubles mae({nb, nl}), bias({nb, nl}), persistence({nb, nl}), skill({nb, nl});
    for (py::ssize_t b = 0; b < nb; ++b)
      for (py::ssize_t l = 0; l < nl; ++l) {
        const tarvo::HindcastCell& c = v.cells[static_cast<std::size_t>(b)][static_cast<std::size_t>(l)];
        n.mutable_at(b, l) = c.n;
        mae.mutable_at(b, l) = c.mae;
        bias.mutable_at(b, l) = c.bias;
        persistence.mutable_at(b, l) = c.persistence_mae;
        skill.mutable_at(b, l) = c.skill;
      }
    py::dict d;
    d["basins"] = v.basins;
    d["leads"] = std::vector<int>(std::begin(tarvo::hindcast_leads), std::end(tarvo::hindcast_leads));
    d["n"] = n;
    d["mae"] = mae;
    d["bias"] = bias;
    d["persistence_mae"] = persistence;
    d["skill"] = skill;
    d["forecasts"] = v.forecasts;
    d["without_result"] = v.without_result;
    d["unmatched"] = v.unmatched;
    d["table"] = tarvo::hindcast_table(v);
    d["csv"] = tarvo::hindcast_csv(v);
    return d;
  });

  m.def("import_catalog", [](const std::vector<std::string>& files, const std::string& format, const std::string& basin,
                             int season, const std::string& storm, const std::string& wind, const std::string& starts,
                             int history, int min_lead, int max_lead, const py::tuple& params,
                             const std::vector<std::string>& fields, const std::string& options, const std::string& out,
                             const std::string& command) {
    tarvo::ImportOptions o;
    o.files = files;
    o.format = format;
    o.selection.basin = basin;
    o.selection.season = season;
    o.selection.storm = storm;
    o.selection.wind = wind;
    std::string why;
    if (!tarvo::parse_start_rule(starts, o.hindcast.starts, why)) throw tarvo::InputError("starts", 0, why);
    o.hindcast.history_h = history;
    o.hindcast.min_lead_h = min_lead;
    o.hindcast.max_lead_h = max_lead;
    o.hindcast.params = make_params(params);
    o.hindcast.basin = basin;
    o.field_files = fields;
    o.environment = environment_options(options);
    tarvo::ImportSummary s;
    {
      py::gil_scoped_release free;
      s = tarvo::import_catalog(o, out, command);
    }
    py::dict d;
    d["tracks"] = s.tracks;
    d["storms"] = s.storms;
    d["notes"] = s.notes;
    d["with_environment"] = s.with_environment;
    return d;
  });

  m.def("build_grids", [](const std::string& elevation, const std::vector<std::string>& temperature,
                          const std::vector<std::string>& mld, const std::string& output, double strat_depth,
                          double least_remaining, double mld_threshold, double mld_reference,
                          const std::string& elevation_variable, const std::string& temperature_variable,
                          const std::string& mld_variable, bool force, bool progress, const std::string& command) {
    tarvo::GridBuildOptions o;
    o.elevation = elevation;
    o.temperature = temperature;
    o.mld = mld;
    o.output = output;
    o.column.strat_depth_m = strat_depth;
    o.column.min_remaining_m = least_remaining;
    o.column.threshold_k = mld_threshold;
    o.column.reference_m = mld_reference;
    o.elevation_variable = elevation_variable;
    o.temperature_variable = temperature_variable;
    o.mld_variable = mld_variable;
    o.force = force;
    o.command = command;
    tarvo::GridBuildReport r;
    {
      py::gil_scoped_release free;
      r = tarvo::build_grids(o, progress ? stderr : nullptr);
    }
    py::dict d;
    d["json"] = r.json;
    d["summary"] = r.summary();
    return d;
  });
  m.def("check_grids", [](const std::string& folder) {
    tarvo::GridCheckReport r;
    {
      py::gil_scoped_release free;
      r = tarvo::check_grids(folder);
    }
    py::dict d;
    d["table"] = r.table();
    d["warnings"] = r.warnings;
    d["ocean_share"] = r.ocean_share;
    d["elevation"] = py::make_tuple(r.elevation.min, r.elevation.max, r.elevation.mean);
    py::list months;
    for (int m = 0; m < 12; ++m) {
      py::dict x;
      x["mld"] = py::make_tuple(r.mld[m].min, r.mld[m].max, r.mld[m].mean);
      x["strat"] = py::make_tuple(r.strat[m].min, r.strat[m].max, r.strat[m].mean);
      x["zero_gradient_share"] = r.clamped_share[m];
      x["mld_filled"] = r.mld_filled[m];
      x["strat_filled"] = r.strat_filled[m];
      months.append(x);
    }
    d["months"] = months;
    return d;
  });

  // CLIMADA's conventions for a track: its basin codes (one a sample) and its longitudes.
  m.def("climada_basins", [](const std::string& basin, const Floats& lon) {
    py::list out;
    for (py::ssize_t i = 0; i < lon.size(); ++i) out.append(tarvo::climada_basin(basin, static_cast<double>(lon.data()[i])));
    return out;
  });
  m.def("climada_longitudes", [](const Floats& lon) {
    const std::vector<double> v = tarvo::climada_longitudes(std::vector<float>(lon.data(), lon.data() + lon.size()));
    return py::array_t<double>(static_cast<py::ssize_t>(v.size()), v.data());
  });
}
