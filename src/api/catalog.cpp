// Catalog runs: the storms of a catalog file, a chunk at a time, on a pool of
// threads. Each finished chunk is kept as a part file beside the output, so
// that a run that dies can be resumed; the parts are joined into the one
// forecast file at the end, written whole or not at all, and the files for
// CLIMADA and ATCF are made from it.
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <thread>

#include "api/catalog.hpp"

#include "output/catalog_merge.hpp"
#include "output/track_catalog.hpp"

namespace tarvo {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t read_chunk = 256;  // storms read from a catalog at a time

std::string status_of(const Forecast& f) {
  if (f.status == Forecast::Status::finished) return "finished";
  char buf[128];
  std::snprintf(buf, sizeof buf, "stopped_early at %+.1f h (a negative squared radius at ring %d)",
                static_cast<double>(f.stop_hours), f.stop_ring);
  return buf;
}

void make_directory(const std::string& dir) {
  std::error_code error;
  fs::create_directories(dir, error);
  if (error || !fs::is_directory(dir)) throw InputError(dir, 0, "cannot create the folder: " + error.message());
}

// The storms of one chunk (each storm's members one after another when an
// ensemble is asked for: item i * members + k is storm i's member k),
// forecast on `threads` threads, each a stream of storms stepping together:
// a status each ("finished", "stopped_early ...", "failed: ...").
std::vector<std::string> forecast_chunk(const std::vector<CatalogStorm>& storms, std::size_t first,
                                        const std::string& in, const OceanGrids& grids, int threads,
                                        const EnsembleOptions& ensemble, std::vector<Forecast>& forecasts) {
  const std::size_t members = ensemble.members > 1 ? static_cast<std::size_t>(ensemble.members) : 1;
  const std::size_t items = storms.size() * members;
  forecasts.assign(items, Forecast());
  std::vector<std::string> status(items);
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    forecast_stream(
        [&](StormInputs& storm) {
          const std::size_t item = next.fetch_add(1);
          if (item >= items) return false;
          const std::size_t i = item / members;
          const int member = static_cast<int>(item % members);
          member_inputs(storms[i], member, ensemble, storm.track, storm.params);
          storm.grids = &grids;
          storm.name = in + ", storm " + std::to_string(first + i) + " (" + storms[i].sid + ")" +
                       (members > 1 ? ", member " + std::to_string(member) : "");
          storm.tag = item;
          return true;
        },
        [&](std::size_t i, Forecast&& f, const InputError* error) {
          if (error) {
            status[i] = std::string("failed: ") + error->what();
          } else {
            forecasts[i] = std::move(f);
            status[i] = status_of(forecasts[i]);
          }
        });
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < std::min<int>(threads, static_cast<int>(items)); ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  return status;
}

// Before any work: the a-decks a catalog's storms would be written to, two
// forecasts of one storm from one start time refused.
void check_adecks(const CatalogReader& reader, std::size_t begin, std::size_t end) {
  std::vector<AdeckEntry> entries;
  for (std::size_t first = begin; first < end; first += read_chunk) {
    const std::vector<CatalogStorm> storms = reader.read(first, std::min(read_chunk, end - first));
    for (std::size_t i = 0; i < storms.size(); ++i) {
      const StoredForecast f = stored_forecast(storms[i], first + i, {}, "");
      const std::string name = atcf_file_name(f);
      if (!name.empty()) entries.push_back({name, atcf_time(f.start_hours), f.sid, first + i});
    }
  }
  if (const std::string clash = adeck_clash(entries); !clash.empty()) throw InputError(reader.path(), 0, clash);
}

// What an ensemble run writes of itself.
EnsembleLayout layout_of(const EnsembleOptions& o) {
  EnsembleLayout l;
  if (o.members <= 1) return l;
  l.members = o.members;
  l.seed = o.seed;
  l.spreads = spreads_text(o.spreads);
  l.method = "member 0: the forecast as given; members 1.." + std::to_string(o.members - 1) +
             ": vpot, shear, t600 and rh600 after the start each offset by a normal deviate times a spread growing as "
             "the square root of the lead time (the spreads at 48 h), the positions after the start displaced by a "
             "normal deviate times the official track forecasts' error at each lead (NHC's 2023 cone), the intensity "
             "feedback gain times exp(a normal deviate times gain); one deviate a member and series, from the seed, "
             "the storm's sid and the member (docs/forecast.md)";
  return l;
}

// Storm i's forecast as stored, with its members' ensemble when there is one.
StoredForecast stored_member_forecast(const CatalogStorm& storm, std::size_t index, std::size_t i, std::size_t members,
                                      const EnsembleOptions& ensemble, std::vector<Forecast>& forecasts,
                                      const std::vector<std::string>& status) {
  const std::size_t base = i * members;
  StoredForecast f = stored_forecast(storm, index, forecasts[base].samples, status[base]);
  if (members <= 1) return f;
  EnsembleRows& e = f.ensemble;
  std::vector<MemberSeries> series(members);
  for (std::size_t k = 0; k < members; ++k) {
    Track track;
    ModelParams params;
    member_inputs(storm, static_cast<int>(k), ensemble, track, params);
    CatalogStorm member = storm;
    member.track = track;
    const StoredForecast m = stored_forecast(member, index, forecasts[base + k].samples, status[base + k]);
    series[k] = {m.rows.lead_h, m.rows.wind_kt, m.rows.pressure_hpa, m.rows.lat, m.rows.lon};
    e.wind_kt.push_back(m.rows.wind_kt);
    e.pressure_hpa.push_back(m.rows.pressure_hpa);
    e.lat.push_back(m.rows.lat);
    e.lon.push_back(m.rows.lon);
  }
  e.summary = summarize(series, f.rows.lead_h.empty() ? series.front().lead_h : f.rows.lead_h);
  return f;
}

// Why a part an earlier run kept cannot be taken up (empty: it can): it
// cannot be read, or it is not storms first .. first + count - 1 of this
// catalog, or not of this run's ensemble.
std::string unusable_part(const std::string& part, const CatalogReader& reader, std::size_t first, std::size_t count,
                          const EnsembleLayout& layout) {
  ForecastIndex kept;
  try {
    kept = read_forecast_index(part);
  } catch (const InputError& e) {
    return e.what();
  }
  const std::vector<std::string> sids = reader.sids(first, count);
  bool same = kept.catalog_storms == reader.storms() && kept.storm.size() == count;
  for (std::size_t i = 0; same && i < count; ++i)
    same = kept.storm[i] == static_cast<long long>(first + i) && kept.sid[i] == sids[i];
  if (!same)
    return "its storms are not storms " + std::to_string(first) + " to " + std::to_string(first + count - 1) + " of " +
           reader.path();
  if (kept.ensemble.members != layout.members ||
      (layout.members > 0 && (kept.ensemble.seed != layout.seed || kept.ensemble.spreads != layout.spreads)))
    return "it holds " + (kept.ensemble.members > 0 ? "an ensemble of " + std::to_string(kept.ensemble.members) +
                                                          " members (seed " + std::to_string(kept.ensemble.seed) +
                                                          ", spreads " + kept.ensemble.spreads + ")"
                                                    : std::string("no ensemble")) +
           ", not this run's";
  return "";
}

// The temporary files of a run that was killed (NAME.tmpPID, PID no longer
// running) beside `out` and in its parts folder: never under a final name,
// but no use to anyone.
void remove_left_behind(const std::string& out, const std::string& parts_dir) {
  auto stale = [](const std::string& name, const std::string& stem) {
    if (name.size() <= stem.size() + 4 || name.compare(0, stem.size() + 4, stem + ".tmp") != 0) return false;
    const std::string digits = name.substr(stem.size() + 4);
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9) return false;
    return ::kill(static_cast<pid_t>(std::stol(digits)), 0) != 0 && errno == ESRCH;
  };
  std::error_code error;
  const fs::path target(out);
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  for (const fs::directory_entry& e : fs::directory_iterator(dir, error))
    if (stale(e.path().filename().string(), target.filename().string())) fs::remove(e.path(), error);
  for (const fs::directory_entry& e : fs::directory_iterator(parts_dir, error)) {
    const std::string name = e.path().filename().string();
    const std::size_t tmp = name.find(".nc.tmp");
    if (tmp != std::string::npos && stale(name, name.substr(0, tmp + 3))) fs::remove(e.path(), error);
  }
}

// A part renamed beside the forecast file, OUT.chunk-NNNNNNNNN.nc.damaged (a
// number added when that name is taken); where it went.
std::string set_aside(const std::string& part, const std::string& out) {
  const std::string base = out + "." + fs::path(part).filename().string() + ".damaged";
  std::string target = base;
  for (int k = 1; fs::exists(target); ++k) target = base + "." + std::to_string(k);
  std::error_code error;
  fs::rename(part, target, error);
  if (error)
    throw InputError(part, 0, "cannot be used and cannot be set aside as " + target + ": " + error.message() +
                                  " (move it away, then run again with --resume)");
  return target;
}

}  // namespace

std::vector<CatalogStorm> read_catalog(const std::string& path) {
  const CatalogReader reader(path);
  reader.check_sids();
  std::vector<CatalogStorm> storms;
  for (std::size_t first = 0; first < reader.storms(); first += read_chunk)
    for (CatalogStorm& s : reader.read(first, read_chunk)) storms.push_back(std::move(s));
  return storms;
}

long long hours_since_1970(int year, int month, int day, int hour) { return hours_from_civil(year, month, day, hour); }
void date_of_hours_since_1970(long long hours, int& year, int& month, int& day, int& hour) {
  civil_from_hours(hours, year, month, day, hour);
}

void write_catalog(const std::string& path, std::vector<CatalogStorm> storms, const std::string& command) {
  for (CatalogStorm& s : storms) {
    if (s.track.year == 0) s.track.year = s.year;
    if (s.year == 0) s.year = s.track.year;
    s.reference_hours = static_cast<double>(hours_from_civil(s.track.year, s.track.month, s.track.day, s.track.hour));
  }
  write_track_catalog(path, storms, command);
}

CatalogSummary run_catalog(const std::string& in, const std::string& out, const OceanGrids& grids,
                           const CatalogOptions& options, const std::function<void(int, int, int)>& on_progress) {
  const CatalogReader reader(in);
  reader.check_sids();  // every sid checked (unique, safe) before any work
  const std::size_t n = reader.storms();
  const auto k = static_cast<std::size_t>(options.shard_k), shares = static_cast<std::size_t>(options.shard_n);
  const std::size_t end = std::min(n * (k + 1) / shares, options.last);
  const std::size_t begin = std::min(std::max(n * k / shares, options.first), end);
  const std::size_t members = options.ensemble.members > 1 ? static_cast<std::size_t>(options.ensemble.members) : 1;
  // As many members at a time as storms would be without an ensemble.
  const std::size_t chunk = std::max<std::size_t>(options.chunk / members, 1);
  const EnsembleLayout layout = layout_of(options.ensemble);
  CatalogSummary summary;
  summary.storms = static_cast<int>(end - begin);

  const std::string parts_dir = out + ".parts";
  if (fs::exists(parts_dir) && !options.resume)
    throw InputError(parts_dir, 0, "holds the finished chunks of an earlier run into " + out +
                                       " that did not end: finish it with --resume, or remove the folder to start again");
  if (!options.outputs.atcf_dir.empty()) {
    if (shares > 1)
      throw InputError(options.outputs.atcf_dir, 0,
                       "a-decks hold every forecast of a storm, from every share: a share of " +
                           std::to_string(shares) +
                           " cannot write them. Run the shares without --atcf, then make them from the merged "
                           "file: tarvo-catalog merge PART.nc... -o ALL.nc --atcf DIR");
    check_adecks(reader, begin, end);
  }
  make_directory(parts_dir);
  if (options.resume) remove_left_behind(out, parts_dir);

  std::vector<std::string> parts;
  int done = 0;
  auto tally = [&](const std::string& sid, const std::string& status) {
    ++done;
    if (status.rfind("failed: ", 0) == 0) {
      ++summary.failed;
      summary.failures.push_back(sid + ": " + status.substr(8));
    } else if (status != "finished") {
      ++summary.stopped;
    }
  };
  for (std::size_t first = begin; first < end; first += chunk) {
    const std::size_t count = std::min(chunk, end - first);
    char name[32];
    std::snprintf(name, sizeof name, "/chunk-%09zu.nc", first);
    const std::string part = parts_dir + name;
    parts.push_back(part);
    if (options.resume && fs::exists(part)) {
      const std::string why = unusable_part(part, reader, first, count, layout);
      if (why.empty()) {
        const ForecastIndex kept = read_forecast_index(part);
        for (std::size_t i = 0; i < count; ++i) tally(kept.sid[i], kept.status[i]);
        summary.resumed += static_cast<int>(count);
        if (on_progress) on_progress(done, summary.failed, summary.storms);
        continue;
      }
      summary.set_aside.push_back(set_aside(part, out) + ": " + why);  // and its storms forecast again
    }
    const std::vector<CatalogStorm> storms = reader.read(first, count);
    std::vector<Forecast> forecasts;
    const std::vector<std::string> status =
        forecast_chunk(storms, first, in, grids, options.threads, options.ensemble, forecasts);
    CatalogWriter writer(part, count, n, options.command, layout);
    std::vector<StoredForecast> stored;
    stored.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      stored.push_back(stored_member_forecast(storms[i], first + i, i, members, options.ensemble, forecasts, status));
      tally(storms[i].sid, status[i * members]);
    }
    writer.write(0, stored);
    writer.finish();  // the chunk is done only once its part is in place
    if (on_progress) on_progress(done, summary.failed, summary.storms);
  }
  if (parts.empty()) {
    CatalogWriter empty(out, 0, n, options.command, layout);
    empty.finish();
  } else {
    merge_forecasts(parts, out, begin, end - begin, options.command);
  }
  std::error_code ignored;
  fs::remove_all(parts_dir, ignored);
  summary.outputs = write_forecast_outputs(out, options.outputs, options.command);
  return summary;
}

std::string rapid_intensification_table(const std::string& forecast_file) {
  const ForecastReader reader(forecast_file);
  std::string out = "probability of rapid intensification (share of members, %): a rise of at least\n";
  char buf[256];
  std::snprintf(buf, sizeof buf, "%-24s %-10s %7s", "sid", "start", "members");
  out += buf;
  for (const RapidIntensification& t : ri_thresholds) {
    std::snprintf(buf, sizeof buf, " %2d kt/%2d h", t.kt, t.hours);
    out += buf;
  }
  out += "\n";
  for (std::size_t first = 0; first < reader.storms(); first += read_chunk)
    for (const StoredForecast& f : reader.read_items(first, read_chunk)) {
      std::snprintf(buf, sizeof buf, "%-24s %-10s %7d", f.sid.c_str(), atcf_time(f.start_hours).c_str(),
                    f.ensemble.summary.members);
      out += buf;
      for (const float p : f.ensemble.summary.ri_probability) {
        if (std::isnan(p)) std::snprintf(buf, sizeof buf, " %10s", "-");
        else std::snprintf(buf, sizeof buf, " %10.0f", 100.0 * static_cast<double>(p));
        out += buf;
      }
      out += "\n";
    }
  return out;
}

std::string outputs_report(const ForecastOutputs& outputs, const ForecastOutputsSummary& s) {
  if (!outputs.any()) return "";
  auto some = [](const std::vector<std::string>& items) {
    std::string text;
    const std::size_t shown = std::min<std::size_t>(items.size(), 5);
    for (std::size_t i = 0; i < shown; ++i) text += (i ? "; " : "") + items[i];
    if (items.size() > shown) text += "; and " + std::to_string(items.size() - shown) + " more";
    return text;
  };
  std::string out;
  if (!outputs.climada_dir.empty() || !outputs.climada_file.empty()) {
    out += "CLIMADA: " + std::to_string(s.tracks) + " tracks";
    if (!outputs.climada_dir.empty()) out += " -> " + outputs.climada_dir + "/<sid>.nc";
    if (!outputs.climada_file.empty()) out += std::string(outputs.climada_dir.empty() ? " -> " : " and ") + outputs.climada_file;
    out += "\n";
  }
  if (!s.left_out.empty())
    out += "  " + std::to_string(s.left_out.size()) + " storms without samples are left out of the " +
           (outputs.climada_dir.empty() && outputs.climada_file.empty() ? "a-decks" : "CLIMADA files and a-decks") +
           " (their status is in the forecast file): " + some(s.left_out) + "\n";
  if (!outputs.atcf_dir.empty()) {
    out += "a-decks: " + std::to_string(s.adeck_forecasts) + " forecasts joined into " + std::to_string(s.adeck_files) +
           " a-decks in " + outputs.atcf_dir + " (TAU 0 to " + std::to_string(outputs.atcf.max_tau_h) + " every " +
           std::to_string(outputs.atcf.step_h) + " h)\n";
    if (s.past_max_tau > 0)
      out += "  " + std::to_string(s.past_max_tau) + " forecasts run past TAU " + std::to_string(outputs.atcf.max_tau_h) +
             ": up to " + std::to_string(s.most_hours_left_out) +
             " h of each are left out of the a-decks (they are in the forecast file)\n";
    if (s.without_tau0 > 0)
      out += "  " + std::to_string(s.without_tau0) +
             " forecasts have no sample from their start on (the track ends there): no a-deck lines\n";
    if (!s.unnumbered.empty())
      out += "  warning: " + std::to_string(s.unnumbered.size()) +
             " storms have no cyclone number and are left out of the a-decks (give the catalog a cyclone_number "
             "for each storm): " + some(s.unnumbered) + "\n";
    if (!s.replaced.empty())
      out += "  replaced TRVO forecasts an earlier run had written: " + some(s.replaced) + "\n";
  }
  return out;
}

ForecastOutputsSummary merge_forecast_files(const std::vector<std::string>& parts, const std::string& out,
                                            const ForecastOutputs& outputs, const std::string& command) {
  merge_forecasts(parts, out, command);
  return write_forecast_outputs(out, outputs, command);
}

ForecastOutputsSummary export_forecasts(const std::string& forecast_file, const ForecastOutputs& outputs,
                                        const std::string& command) {
  return write_forecast_outputs(forecast_file, outputs, command);
}

}  // namespace tarvo
