#include "api/batch.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "api/tarvo.hpp"
#include "input/input_error.hpp"

namespace tarvo {

const OceanGrids& GridCache::get(const std::string& data_dir) {
  Entry* entry = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [dir, e] : entries_)
      if (dir == data_dir) entry = e.get();
    if (!entry) {
      entries_.emplace_back(data_dir, std::make_unique<Entry>());
      entry = entries_.back().second.get();
    }
  }
  std::call_once(entry->once, [&] {
    try {
      entry->grids = std::make_unique<OceanGrids>(load_grids(data_dir));
    } catch (const InputError& e) {
      entry->error = std::make_unique<InputError>(e);
    } catch (const std::bad_alloc&) {
      entry->error = std::make_unique<InputError>(data_dir, 0, "out of memory loading the grids");
    }
  });
  if (!entry->grids) throw *entry->error;
  return *entry->grids;
}

namespace {

// A case directory's inputs, the warnings of its track kept as text (also
// when a later record fails).
CaseDir read_case(const std::string& dir, std::string& warnings) {
  struct Log {
    std::string& out;
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* f = open_memstream(&text, &size);
    ~Log() {
      if (f) std::fclose(f);
      if (text) out.assign(text, size);
      std::free(text);
    }
  } log{warnings};
  return read_case_dir(dir, log.f);
}

CaseResult failed_case(const std::string& dir, std::string reason) {
  CaseResult r;
  r.dir = dir;
  r.status = CaseResult::Status::failed;
  r.reason = std::move(reason);
  return r;
}

// The result of a case's forecast, with its track.out written whole after a
// finished one.
CaseResult finish_case(const std::string& dir, const Forecast& f) {
  CaseResult r;
  r.dir = dir;
  try {
    write_case_track_out(dir, f);
  } catch (const InputError& e) {
    return failed_case(dir, e.what());
  }
  r.samples = static_cast<int>(f.samples.size());
  if (f.status == Forecast::Status::stopped_early) {
    r.status = CaseResult::Status::stopped_early;
    char buf[160];
    std::snprintf(buf, sizeof buf, "negative squared radius at ring %d, %+.1f h; no track.out",
                  f.stop_ring, static_cast<double>(f.stop_hours));
    r.reason = buf;
  } else {
    r.status = CaseResult::Status::ok;
    r.peak_wind = f.samples.empty() ? 0.0f : f.samples[0].vmax_kt;
    r.lowest_pressure = f.samples.empty() ? 0.0f : f.samples[0].pmin_hpa;
    for (const ForecastSample& s : f.samples) {
      r.peak_wind = std::max(r.peak_wind, s.vmax_kt);
      r.lowest_pressure = std::min(r.lowest_pressure, s.pmin_hpa);
    }
  }
  return r;
}

}  // namespace

std::vector<CaseResult> run_batch(const std::vector<std::string>& cases, const BatchOptions& options,
                                  const std::function<void(const CaseResult&, int, int)>& on_done) {
  std::vector<CaseResult> results(cases.size());
  // When each case was taken up, and the warnings of its track.
  std::vector<std::chrono::steady_clock::time_point> started(cases.size());
  std::vector<std::string> warnings(cases.size());
  GridCache cache;
  std::atomic<std::size_t> next{0};
  std::mutex report;
  int done = 0, failed = 0;
  auto finish = [&](std::size_t i, CaseResult r) {
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started[i]).count();
    r.warnings = std::move(warnings[i]);
    std::lock_guard<std::mutex> lock(report);
    results[i] = std::move(r);
    ++done;
    if (results[i].status == CaseResult::Status::failed) ++failed;
    if (on_done) on_done(results[i], done, failed);
  };
  // Each thread runs a stream of cases, several stepping together.
  auto worker = [&] {
    forecast_stream(
        [&](StormInputs& storm) {
          for (;;) {
            const std::size_t i = next++;
            if (i >= cases.size()) return false;
            started[i] = std::chrono::steady_clock::now();
            const std::string data = options.data_dir.empty() ? cases[i] + "/data" : options.data_dir;
            try {
              storm.grids = &cache.get(data);
              CaseDir c = read_case(cases[i], warnings[i]);
              storm.track = std::move(c.track);
              storm.params = c.params;
              storm.name = std::move(c.track_path);
              storm.tag = i;
              storm.rules = TrackRules::track_in;  // byte for byte what tarvo does in the directory
              return true;
            } catch (const InputError& e) {
              finish(i, failed_case(cases[i], e.what()));
            } catch (const std::bad_alloc&) {
              finish(i, failed_case(cases[i], "out of memory"));
            }
          }
        },
        [&](std::size_t i, Forecast&& f, const InputError* error) {
          finish(i, error ? failed_case(cases[i], error->what()) : finish_case(cases[i], f));
        });
  };
  const int n = std::max(1, std::min<int>(options.threads, static_cast<int>(cases.size())));
  std::vector<std::thread> pool;
  for (int t = 1; t < n; ++t) pool.emplace_back(worker);
  worker();
  for (auto& t : pool) t.join();
  return results;
}

std::vector<std::string> select_shard(const std::vector<std::string>& cases, int k, int n) {
  const std::size_t m = cases.size();
  const std::size_t first = m * static_cast<std::size_t>(k) / static_cast<std::size_t>(n);
  const std::size_t last = m * static_cast<std::size_t>(k + 1) / static_cast<std::size_t>(n);
  return {cases.begin() + static_cast<long>(first), cases.begin() + static_cast<long>(last)};
}

bool parse_shard(const std::string& text, int& k, int& n) {
  const auto slash = text.find('/');
  if (slash == std::string::npos) return false;
  char* end = nullptr;
  const long kk = std::strtol(text.c_str(), &end, 10);
  if (end != text.c_str() + slash || slash == 0) return false;
  const long nn = std::strtol(text.c_str() + slash + 1, &end, 10);
  if (*end != '\0' || slash + 1 == text.size()) return false;
  if (nn < 1 || kk < 0 || kk >= nn || nn > 1000000) return false;
  k = static_cast<int>(kk);
  n = static_cast<int>(nn);
  return true;
}

bool shard_from_slurm(int& k, int& n) {
  const char* count = std::getenv("SLURM_ARRAY_TASK_COUNT");
  const char* id = std::getenv("SLURM_ARRAY_TASK_ID");
  if (!count || !id) return false;
  const char* min = std::getenv("SLURM_ARRAY_TASK_MIN");
  const long c = std::strtol(count, nullptr, 10);
  const long i = std::strtol(id, nullptr, 10) - (min ? std::strtol(min, nullptr, 10) : 0);
  if (c < 1 || i < 0 || i >= c) return false;
  k = static_cast<int>(i);
  n = static_cast<int>(c);
  return true;
}

}  // namespace tarvo
