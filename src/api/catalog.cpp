// Catalog runs: the storms of a catalog file, a chunk at a time, on a pool of
// threads. Each finished chunk is kept as a part file beside the output, so
// that a run that dies can be resumed; the parts are joined into the one
// forecast file at the end, written whole or not at all.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <system_error>
#include <thread>

#include "api/catalog.hpp"

#include "api/tarvo.hpp"
#include "input/catalog.hpp"
#include "output/atcf_output.hpp"
#include "output/catalog_merge.hpp"
#include "output/catalog_output.hpp"
#include "output/climada_output.hpp"
#include "output/format.hpp"

namespace tarvo {

namespace fs = std::filesystem;

namespace {

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

// The storms of one chunk, forecast on `threads` threads, each a stream of
// storms stepping together: a status each ("finished", "stopped_early ...",
// "failed: ...").
std::vector<std::string> forecast_chunk(const std::vector<CatalogStorm>& storms, std::size_t first,
                                        const std::string& in, const OceanGrids& grids, int threads,
                                        std::vector<Forecast>& forecasts) {
  forecasts.assign(storms.size(), Forecast());
  std::vector<std::string> status(storms.size());
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    forecast_stream(
        [&](StormInputs& storm) {
          const std::size_t i = next.fetch_add(1);
          if (i >= storms.size()) return false;
          storm.track = storms[i].track;
          storm.params = storms[i].params;
          storm.grids = &grids;
          storm.name = in + ", storm " + std::to_string(first + i) + " (" + storms[i].sid + ")";
          storm.tag = i;
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
  for (int t = 1; t < std::min<int>(threads, static_cast<int>(storms.size())); ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  return status;
}

}  // namespace

CatalogSummary run_catalog(const std::string& in, const std::string& out, const OceanGrids& grids,
                           const CatalogOptions& options, const std::function<void(int, int, int)>& on_progress) {
  const CatalogReader reader(in);
  const std::vector<std::string> sids = reader.sids();  // every sid checked (unique, safe) before any work
  const std::size_t n = reader.storms();
  const auto k = static_cast<std::size_t>(options.shard_k), shares = static_cast<std::size_t>(options.shard_n);
  const std::size_t end = std::min(n * (k + 1) / shares, options.last);
  const std::size_t begin = std::min(std::max(n * k / shares, options.first), end);
  const std::size_t chunk = std::max<std::size_t>(options.chunk, 1);
  CatalogSummary summary;
  summary.storms = static_cast<int>(end - begin);

  const std::string parts_dir = out + ".parts";
  if (fs::exists(parts_dir) && !options.resume)
    throw InputError(parts_dir, 0, "holds the finished chunks of an earlier run into " + out +
                                       " that did not end: finish it with --resume, or remove the folder to start again");
  if (!options.atcf_dir.empty()) {
    std::map<std::string, std::size_t> taken;  // a-deck name -> storm
    for (std::size_t first = begin; first < end; first += chunk) {
      const std::vector<CatalogStorm> storms = reader.read(first, std::min(chunk, end - first));
      for (std::size_t i = 0; i < storms.size(); ++i) {
        const std::string name = atcf_file_name(storms[i]);
        const std::string where = "storm " + std::to_string(first + i) + " (" + storms[i].sid + ")";
        if (name.empty())
          throw InputError(in, 0, where + ": --atcf needs a two-letter basin and a cyclone_number from 1 to 99 "
                                          "for every storm");
        const auto [at, fresh] = taken.emplace(name, first + i);
        if (!fresh)
          throw InputError(in, 0, where + ": its a-deck " + name + " would replace that of storm " +
                                      std::to_string(at->second) + " (" + sids[at->second] +
                                      "): give them different cyclone numbers or years");
      }
    }
    make_directory(options.atcf_dir);
  }
  if (!options.climada_dir.empty()) make_directory(options.climada_dir);
  make_directory(parts_dir);

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
      const ForecastIndex kept = read_forecast_index(part);
      bool same = kept.catalog_storms == n && kept.storm.size() == count;
      for (std::size_t i = 0; same && i < count; ++i)
        same = kept.storm[i] == static_cast<long long>(first + i) && kept.sid[i] == sids[first + i];
      if (!same)
        throw InputError(part, 0, "is not a chunk of " + in + " (its storms differ): remove " + parts_dir +
                                      " to start again");
      for (std::size_t i = 0; i < count; ++i) tally(sids[first + i], kept.status[i]);
      summary.resumed += static_cast<int>(count);
      if (on_progress) on_progress(done, summary.failed, summary.storms);
      continue;
    }
    const std::vector<CatalogStorm> storms = reader.read(first, count);
    std::vector<Forecast> forecasts;
    const std::vector<std::string> status = forecast_chunk(storms, first, in, grids, options.threads, forecasts);
    CatalogWriter writer(part, count, n);
    for (std::size_t i = 0; i < count; ++i) {
      const std::vector<ForecastSample>& samples = forecasts[i].samples;
      writer.write(i, first + i, storms[i], samples, status[i]);
      if (!samples.empty() && (!options.climada_dir.empty() || !options.atcf_dir.empty())) {
        const ForecastRows rows = forecast_rows(storms[i], samples);
        if (!options.climada_dir.empty()) write_climada_track(options.climada_dir, storms[i], first + i, rows, status[i]);
        if (!options.atcf_dir.empty())
          write_file_whole(options.atcf_dir + "/" + atcf_file_name(storms[i]), atcf_text(storms[i], rows));
      }
      tally(storms[i].sid, status[i]);
    }
    writer.finish();  // the chunk is done only once its part is in place
    if (on_progress) on_progress(done, summary.failed, summary.storms);
  }
  if (parts.empty()) {
    CatalogWriter empty(out, 0, n);
    empty.finish();
  } else {
    merge_forecasts(parts, out, begin, end - begin);
  }
  std::error_code ignored;
  fs::remove_all(parts_dir, ignored);
  return summary;
}

}  // namespace tarvo
