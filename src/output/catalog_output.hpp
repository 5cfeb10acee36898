#pragma once
// Forecasts of a catalog as one CF-NetCDF trajectory file with CLIMADA's
// variable names (docs/catalog.md), written to a temporary file beside its
// place and renamed over it only when complete.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "ensemble/members.hpp"
#include "input/tracks/catalog.hpp"
#include "output/netcdf_file.hpp"
#include "output/track_output.hpp"

namespace tarvo {

// One storm's forecast in the units of the forecast files, a value a sample.
struct ForecastRows {
  std::vector<double> time;                    // hours since 1970-01-01 00:00
  std::vector<float> lead_h;                   // hours from the forecast's start (the start record)
  std::vector<float> lat, lon;                 // degrees N, degrees E (0..360, as the samples have them)
  std::vector<float> wind_kt, pressure_hpa;    // maximum sustained wind, central pressure
  std::vector<float> environmental_hpa;        // 1005 hPa
  std::vector<float> rmw_nmi;                  // radius of maximum wind, nautical miles
  std::vector<float> time_step_h;              // 2 h
  int category = -1;                           // Saffir-Simpson, from the peak wind
};

// A forecast's ensemble as stored: each member's series (member 0 the
// forecast itself), and what is taken from them. Empty without an ensemble.
struct EnsembleRows {
  std::vector<std::vector<float>> wind_kt, pressure_hpa, lat, lon;  // [member][step] (written, not read back)
  EnsembleSummary summary;
};

// One storm of a forecast file with what describes it: what the outputs
// derived from forecast files (CLIMADA's files, ATCF a-decks) are made of.
struct StoredForecast {
  std::size_t index = 0;       // the storm's place in its catalog
  std::string sid, name, status;
  std::string basin;           // tarvo's code ("al", "ep", ...)
  int year = 0;                // the storm's year (that of its a-deck)
  int cyclone_number = 0;      // its number in its basin and year; 0 when it has none
  long long id_no = 0;
  // CLIMADA's orig_event_flag (1 an original event, 0 a synthetic one) and
  // id_no of the track it was made from (NaN: not one of CLIMADA's).
  int orig_event_flag = 1;
  double climada_id_no = std::numeric_limits<double>::quiet_NaN();
  double start_hours = 0;      // the forecast's start (lead 0), hours since 1970-01-01 00:00
  ModelParams params;
  ForecastRows rows;           // empty when the storm failed or stopped early
  EnsembleRows ensemble;       // its members, in a file of an ensemble
};

// What a forecast file of an ensemble says of it: its members (0: none) and
// how they were made (its attributes ensemble_method and ensemble_spreads).
struct EnsembleLayout {
  int members = 0;
  std::string method, spreads;
  std::uint64_t seed = 0;
};

// A storm's forecast as stored: its start is its track's start record (the
// last fix at or before 0 h).
StoredForecast stored_forecast(const CatalogStorm& storm, std::size_t index,
                               const std::vector<OutputSample>& samples, const std::string& status);

class CatalogWriter {
 public:
  // A file for `storms` storms of a catalog of `catalog_storms`, made by
  // `command` (its history); the step dimension grows to the longest.
  CatalogWriter(const std::string& path, std::size_t storms, std::size_t catalog_storms,
                const std::string& command, const EnsembleLayout& ensemble = {});

  // Forecasts of storms at rows first_row .. of this file, one write a
  // variable (HDF5 allocates a conversion buffer of a megabyte for every
  // write of strings: a write a storm cost thousands of fresh pages).
  void write(std::size_t first_row, const std::vector<StoredForecast>& forecasts);
  // Rows src_row .. src_row + count - 1 of the open forecast file `src`
  // (`src_steps` long), every variable as stored, to rows row .. of this one.
  void copy_rows(int src, const std::string& src_path, std::size_t src_steps, std::size_t src_row,
                 std::size_t row, std::size_t count);
  void finish();  // without it the file is not written

 private:
  int var(const char* name) const;
  void written(std::size_t rows);  // now and then the file opened again (NetcdfFile::reopen)
  void write_ensemble(std::size_t first_row, const std::vector<StoredForecast>& forecasts, std::size_t steps);
  NetcdfFile file_;
  int members_ = 0;
  std::size_t longest_ = 0, rows_since_open_ = 0;
  // Buffers of a block's values, kept from block to block.
  std::vector<float> floats_;
  std::vector<double> doubles_;
  std::vector<char> chars_;
};

// Reads a forecast file a block of storms at a time, in order.
class ForecastReader {
 public:
  explicit ForecastReader(const std::string& path);  // InputError when it is not a tarvo forecast file
  ~ForecastReader();
  ForecastReader(const ForecastReader&) = delete;
  ForecastReader& operator=(const ForecastReader&) = delete;
  std::size_t storms() const { return storms_; }
  // The file's ensemble (members 0 when it has none).
  const EnsembleLayout& ensemble() const { return ensemble_; }
  // Storms first .. first + count - 1 (fewer at the end).
  std::vector<StoredForecast> read(std::size_t first, std::size_t count) const;
  // Only the per-storm items (rows left empty): quick, for a look over every storm.
  std::vector<StoredForecast> read_items(std::size_t first, std::size_t count) const;

 private:
  std::vector<StoredForecast> read_blocks(std::size_t first, std::size_t count, bool rows) const;
  std::string path_;
  int ncid_ = -1;
  std::size_t storms_ = 0, steps_ = 0;
  EnsembleLayout ensemble_;
};

// A file's ensemble layout from its attributes and dimensions (members 0: none).
EnsembleLayout ensemble_layout_of(int ncid);

// Saffir-Simpson category of a peak wind in knots: -1 (depression) to 5.
int category_of(float peak_kt);

}  // namespace tarvo
