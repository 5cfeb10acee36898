#pragma once
// Catalogs of many storms (docs/catalog.md): the track catalog files, their
// forecasts into one forecast file a chunk of storms at a time on a pool of
// threads (the chunks kept until the end, so that a run that dies can be
// resumed), forecast files of shares joined, and the files made from
// forecast files for CLIMADA and ATCF.
//
// From the layers below, these are part of the API: CatalogStorm and
// CatalogReader (input/tracks/catalog.hpp), ForecastOutputs and its summary
// (output/forecast_outputs.hpp), category_of (output/catalog_output.hpp),
// climada_basin and climada_longitudes (output/climada_output.hpp);
// EnsembleOptions, EnsembleSpreads, parse_spreads, ri_thresholds
// (ensemble/members.hpp).
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "api/tarvo.hpp"
#include "input/tracks/catalog.hpp"
#include "output/catalog_output.hpp"
#include "output/climada_output.hpp"
#include "output/forecast_outputs.hpp"

namespace tarvo {

// Every storm of a catalog file, each checked (InputError names the file,
// the variable and the storm).
std::vector<CatalogStorm> read_catalog(const std::string& path);

// The storms as a catalog file, written whole or not at all and read back
// with every check of a catalog first; `command` made it (its history). A
// storm's reference time comes from its track's year (CatalogStorm::year when
// the track has none), month, day and hour.
void write_catalog(const std::string& path, std::vector<CatalogStorm> storms, const std::string& command);

// The hours since 1970-01-01 00:00 of a date and hour (proleptic Gregorian),
// and back.
long long hours_since_1970(int year, int month, int day, int hour);
void date_of_hours_since_1970(long long hours, int& year, int& month, int& day, int& hour);

struct CatalogSummary {
  int storms = 0, stopped = 0, failed = 0;
  int resumed = 0;  // storms whose results an earlier run had kept
  // Parts an earlier run had kept that could not be taken (unreadable, or
  // not this catalog's or this run's): "where they were set aside: why";
  // their storms were forecast again.
  std::vector<std::string> set_aside;
  std::vector<std::string> failures;  // "sid: reason"
  ForecastOutputsSummary outputs;     // what went into the CLIMADA files and a-decks
};

struct CatalogOptions {
  int threads = 1;
  int shard_k = 0, shard_n = 1;  // the K-th of N shares of the storms
  std::size_t first = 0, last = static_cast<std::size_t>(-1);  // and of those only first .. last - 1
  std::size_t chunk = 256;       // storms in memory, and kept, at a time
  bool resume = false;           // keep the chunks an earlier run finished
  ForecastOutputs outputs;       // files for CLIMADA and a-decks, made from the finished forecast file
  std::string command;           // what asked for the run: the files' history
  EnsembleOptions ensemble;      // members > 1: an ensemble of each storm (member 0 the storm as given)
};

// The storms of catalog file `in` (a share of them) forecast into forecast
// file `out` (docs/catalog.md), a chunk of storms at a time; `out` is written
// whole or not at all. Finished chunks are kept in `out`.parts/ until the end,
// and options.resume takes them up after a run that did not end. A storm that
// fails is recorded in its status. on_progress(done, failed, total) after each
// chunk. A kept part that cannot be taken is renamed beside `out`
// (OUT.chunk-NNNNNNNNN.nc.damaged) and its storms forecast again. A-decks
// join the forecasts of every share of a storm, so a share
// cannot write them: InputError says to make them when the shares are merged.
CatalogSummary run_catalog(const std::string& in, const std::string& out, const OceanGrids& grids,
                           const CatalogOptions& options, const std::function<void(int, int, int)>& on_progress);

// Forecast files that each hold part of one catalog's storms (the shares of
// a job array) joined into `out`, every storm exactly once, in catalog order,
// whole or not at all; then the outputs asked for, made from it.
ForecastOutputsSummary merge_forecast_files(const std::vector<std::string>& parts, const std::string& out,
                                            const ForecastOutputs& outputs, const std::string& command);

// What a summary says of the outputs made: a few lines, empty when none
// were asked for.
std::string outputs_report(const ForecastOutputs& outputs, const ForecastOutputsSummary& summary);

// The probability of rapid intensification of each forecast of an ensemble's
// forecast file, a line a forecast: "sid  start  members  P(25 kt/24 h) ...".
std::string rapid_intensification_table(const std::string& forecast_file);

// The outputs asked for, made from a finished forecast file.
ForecastOutputsSummary export_forecasts(const std::string& forecast_file, const ForecastOutputs& outputs,
                                        const std::string& command);

}  // namespace tarvo
