#pragma once
// The files made from a forecast file for the tools users pair tarvo with:
// CLIMADA's track files (a folder of one a track, or one file of all) and
// ATCF a-decks. They are made from the finished forecast file, whichever way
// it came about (one run, a resumed run, shares merged), so that nothing a
// piece of the work wrote is lost or written twice.
#include <cstddef>
#include <string>
#include <vector>

#include "output/atcf_output.hpp"

namespace tarvo {

struct ForecastOutputs {
  std::string climada_dir;   // one CLIMADA track file a storm (TCTracks.from_netcdf)
  std::string climada_file;  // one file of every track (TCTracks.from_hdf5)
  std::string atcf_dir;      // a-decks, each forecast joined into its storm's
  AdeckOptions atcf;
  bool any() const { return !climada_dir.empty() || !climada_file.empty() || !atcf_dir.empty(); }
};

struct ForecastOutputsSummary {
  std::size_t tracks = 0;              // storms with samples, written for CLIMADA and ATCF
  std::vector<std::string> left_out;   // "sid: status" of storms without samples
  std::size_t adeck_files = 0, adeck_forecasts = 0;
  std::vector<std::string> unnumbered; // sids left out of the a-decks: no cyclone number
  std::size_t past_max_tau = 0;        // forecasts that ran past the last TAU written
  int most_hours_left_out = 0;         // of any of them
  std::size_t without_tau0 = 0;        // forecasts with no sample from their start on
  std::vector<std::string> replaced;   // "aal052005.dat from 2005082600": TRVO forecasts there before, replaced
};

// Two forecasts of one a-deck from one start time would mix their lines:
// the storms, for a message (empty when there are none).
struct AdeckEntry {
  std::string file, start, sid;
  std::size_t index = 0;
};
std::string adeck_clash(std::vector<AdeckEntry> entries);

// Every storm of forecast file `path` into the outputs asked for; `command`
// is what made them (their history). InputError names the file and the
// storms when two forecasts of one storm start at the same time.
ForecastOutputsSummary write_forecast_outputs(const std::string& path, const ForecastOutputs& outputs,
                                              const std::string& command);

}  // namespace tarvo
