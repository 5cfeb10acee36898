#pragma once
// Catalog runs: the storms of a catalog file (docs/catalog.md) forecast into
// one forecast file, a chunk of storms at a time, on a pool of threads, with
// the chunks kept until the end so that a run that dies can be resumed.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "input/ocean_grids.hpp"

namespace tarvo {

struct CatalogSummary {
  int storms = 0, stopped = 0, failed = 0;
  int resumed = 0;  // storms whose results an earlier run had kept
  std::vector<std::string> failures;  // "sid: reason"
};

struct CatalogOptions {
  int threads = 1;
  int shard_k = 0, shard_n = 1;  // the K-th of N shares of the storms
  std::size_t first = 0, last = static_cast<std::size_t>(-1);  // and of those only first .. last - 1
  std::size_t chunk = 256;       // storms in memory, and kept, at a time
  bool resume = false;           // keep the chunks an earlier run finished
  std::string climada_dir;       // when set: a CLIMADA track file per storm
  std::string atcf_dir;          // when set: an ATCF a-deck per storm
};

// The storms of catalog file `in` (a share of them) forecast into forecast
// file `out` (docs/catalog.md), a chunk of storms at a time; `out` is written
// whole or not at all. Finished chunks are kept in `out`.parts/ until the end,
// and options.resume takes them up after a run that did not end. A storm that
// fails is recorded in its status. on_progress(done, failed, total) after each
// chunk.
CatalogSummary run_catalog(const std::string& in, const std::string& out, const OceanGrids& grids,
                           const CatalogOptions& options, const std::function<void(int, int, int)>& on_progress);

}  // namespace tarvo
