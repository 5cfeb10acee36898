// tarvo-batch --catalog: the storms of a catalog file, a chunk at a time, on
// a pool of threads, into one forecast file written whole or not at all.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "api/tarvo.hpp"
#include "driver/batch.hpp"
#include "input/catalog.hpp"
#include "output/catalog_output.hpp"

namespace tarvo {

namespace {

constexpr std::size_t chunk_storms = 256;  // storms in memory at a time

std::string status_of(const Forecast& f) {
  if (f.status == Forecast::Status::finished) return "finished";
  char buf[128];
  std::snprintf(buf, sizeof buf, "stopped_early at %+.1f h (a negative squared radius at ring %d)",
                static_cast<double>(f.stop_hours), f.stop_ring);
  return buf;
}

}  // namespace

CatalogSummary run_catalog(const std::string& in, const std::string& out, const OceanGrids& grids,
                           int threads, int shard_k, int shard_n,
                           const std::function<void(int, int, int)>& on_progress) {
  const CatalogReader reader(in);
  reader.sids();  // every sid checked (unique, safe) before any work
  const std::size_t n = reader.storms();
  const std::size_t begin = n * static_cast<std::size_t>(shard_k) / static_cast<std::size_t>(shard_n);
  const std::size_t end = n * static_cast<std::size_t>(shard_k + 1) / static_cast<std::size_t>(shard_n);
  CatalogSummary summary;
  summary.storms = static_cast<int>(end - begin);
  CatalogWriter writer(out, end - begin);
  for (std::size_t first = begin; first < end; first += chunk_storms) {
    const std::vector<CatalogStorm> storms = reader.read(first, std::min(chunk_storms, end - first));
    std::vector<Forecast> forecasts(storms.size());
    std::vector<std::string> errors(storms.size());
    std::atomic<std::size_t> next{0};
    auto work = [&] {
      for (std::size_t i; (i = next.fetch_add(1)) < storms.size();) {
        try {
          forecasts[i] = forecast(storms[i].track, storms[i].params, grids, nullptr, in + ", storm " +
                                  std::to_string(first + i) + " (" + storms[i].sid + ")");
        } catch (const InputError& e) {
          errors[i] = e.what();
        } catch (const std::bad_alloc&) {
          errors[i] = "out of memory";
        }
      }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < std::min<int>(threads, static_cast<int>(storms.size())); ++t) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();
    for (std::size_t i = 0; i < storms.size(); ++i) {
      const bool failed = !errors[i].empty();
      const Forecast& f = forecasts[i];
      writer.write(first + i - begin, first + i, storms[i], failed ? std::vector<ForecastSample>() : f.samples,
                   failed ? "failed: " + errors[i] : status_of(f));
      if (failed) {
        ++summary.failed;
        summary.failures.push_back(storms[i].sid + ": " + errors[i]);
      } else if (f.status == Forecast::Status::stopped_early) {
        ++summary.stopped;
      }
    }
    if (on_progress) on_progress(static_cast<int>(first + storms.size() - begin), summary.failed, summary.storms);
  }
  writer.finish();
  return summary;
}

}  // namespace tarvo
