#pragma once
// Many forecasts in one process: each distinct grid set is loaded once and
// shared read-only, the cases run on a pool of threads, one failing case never
// stops the others. With them, the verification of finished case directories
// (output/verification.hpp: verify_case, verification_table and _csv are part
// of the API).
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "input/input_error.hpp"
#include "input/cases/ocean_grids.hpp"
#include "output/verification.hpp"

namespace tarvo {

// Grid sets by data directory, each loaded once on first use (thread-safe).
class GridCache {
 public:
  // The grids of `data_dir`; throws the loading error (InputError) again for
  // every caller when they could not be loaded.
  const OceanGrids& get(const std::string& data_dir);

 private:
  struct Entry {
    std::once_flag once;
    std::unique_ptr<OceanGrids> grids;
    std::unique_ptr<InputError> error;
  };
  std::mutex mutex_;
  std::vector<std::pair<std::string, std::unique_ptr<Entry>>> entries_;
};

struct CaseResult {
  enum class Status { ok, stopped_early, failed };
  std::string dir;
  Status status = Status::failed;
  std::string reason;         // why it failed or stopped
  std::string warnings;       // skipped track records
  float peak_wind = 0.0f;     // knots
  float lowest_pressure = 0;  // hPa
  int samples = 0;
  double seconds = 0;
};

struct BatchOptions {
  std::string data_dir;  // empty: each case's own data/
  int threads = 1;
};

// Runs every case; `on_done(result, done, failed)` is called (serialised)
// after each case. Results come back in the order of `cases`.
std::vector<CaseResult> run_batch(const std::vector<std::string>& cases, const BatchOptions& options,
                                  const std::function<void(const CaseResult&, int, int)>& on_done);

// The K-th (0-based) of N nearly equal contiguous shares of `cases`.
std::vector<std::string> select_shard(const std::vector<std::string>& cases, int k, int n);

// "K/N" with 0 <= K < N; false when malformed.
bool parse_shard(const std::string& text, int& k, int& n);

// The shard from a Slurm job array (SLURM_ARRAY_TASK_COUNT, SLURM_ARRAY_TASK_ID,
// SLURM_ARRAY_TASK_MIN, the last 0 when unset); false when not in a job array.
bool shard_from_slurm(int& k, int& n);

}  // namespace tarvo
