#include "driver/batch.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "api/tarvo.hpp"
#include "driver/run_case.hpp"
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

CaseResult run_one_case(const std::string& dir, const OceanGrids& grids) {
  CaseResult r;
  r.dir = dir;
  const auto start = std::chrono::steady_clock::now();
  char* log = nullptr;
  std::size_t log_size = 0;
  std::FILE* diagnostics = open_memstream(&log, &log_size);
  try {
    const Forecast f = run_case_dir(dir, grids, nullptr, diagnostics);
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
  } catch (const InputError& e) {
    r.status = CaseResult::Status::failed;
    r.reason = e.what();
  } catch (const std::bad_alloc&) {
    r.status = CaseResult::Status::failed;
    r.reason = "out of memory";
  }
  if (diagnostics) {
    std::fclose(diagnostics);
    if (log) r.warnings.assign(log, log_size);
    std::free(log);
  }
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return r;
}

std::vector<CaseResult> run_batch(const std::vector<std::string>& cases, const BatchOptions& options,
                                  const std::function<void(const CaseResult&, int, int)>& on_done) {
  std::vector<CaseResult> results(cases.size());
  GridCache cache;
  std::atomic<std::size_t> next{0};
  std::mutex report;
  int done = 0, failed = 0;
  auto worker = [&] {
    for (;;) {
      const std::size_t i = next++;
      if (i >= cases.size()) return;
      const std::string data = options.data_dir.empty() ? cases[i] + "/data" : options.data_dir;
      CaseResult r;
      try {
        r = run_one_case(cases[i], cache.get(data));
      } catch (const InputError& e) {
        r.dir = cases[i];
        r.status = CaseResult::Status::failed;
        r.reason = e.what();
      }
      std::lock_guard<std::mutex> lock(report);
      results[i] = std::move(r);
      ++done;
      if (results[i].status == CaseResult::Status::failed) ++failed;
      if (on_done) on_done(results[i], done, failed);
    }
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
