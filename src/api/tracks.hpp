#pragma once
// Real storms in: best tracks read as users have them, the forecast starts
// of each (hindcasts, or one start for a risk study), the environment along
// every track from gridded fields, and the verification of hindcasts.
//
// From the layers below, these are part of the API: BestTrack, BestFix,
// BestTrackFormat, BestTrackSelection (input/tracks/best_track.hpp); Adeck,
// AidForecast, CycleOptions, parse_cycles (input/tracks/adeck.hpp); StartRule,
// HindcastOptions, HindcastSet (input/tracks/hindcast.hpp); FieldSet
// (input/fields/fields.hpp); EnvironmentOptions, FixEnvironment, EnvironmentReport
// (environment/environment.hpp); potential_intensity and its options and
// result (environment/potential_intensity.hpp); HindcastVerification and its
// table and CSV (output/hindcast_verification.hpp).
#include <string>
#include <vector>

#include "api/catalog.hpp"
#include "environment/environment.hpp"
#include "environment/potential_intensity.hpp"
#include "input/tracks/adeck.hpp"
#include "input/tracks/best_track.hpp"
#include "input/fields/fields.hpp"
#include "input/tracks/hindcast.hpp"
#include "output/aid_verification.hpp"
#include "output/hindcast_verification.hpp"

namespace tarvo {

// The best tracks of a file; `format` empty: found from the file.
// Knots per unit of a wind speed's name ("kn", "m/s", "km/h", "mph", ...);
// 0 when it is not one.
double knots_per_wind_unit(const std::string& unit);

std::vector<BestTrack> read_tracks(const std::string& path, const std::string& format,
                                   const BestTrackSelection& selection);

// What an import does: the best-track files, which storms, their starts, and
// (when fields are given) their environment.
struct ImportOptions {
  std::vector<std::string> files;
  std::string format;                    // empty: found from each file
  BestTrackSelection selection;
  HindcastOptions hindcast;
  std::vector<std::string> field_files;  // the environment's; empty: none (unless the tracks carry one)
  EnvironmentOptions environment;
  // Forecast cycles: the track from this a-deck's technique (cycles.tech)
  // after each cycle, the files the best track (b-deck) up to it; empty: starts
  // along the best track (hindcast).
  std::string adeck;
  CycleOptions cycles;
};

struct ImportSummary {
  std::size_t tracks = 0, storms = 0;     // best tracks read; catalog storms (starts) written
  std::vector<std::string> notes;         // what was left out, and why
  bool with_environment = false;
  EnvironmentReport environment;
};

// Best tracks to a catalog file (docs/catalog.md), written whole or not at
// all, with what made it in its attributes; `command` its history. Without
// fields, and unless the tracks carry their environment, the catalog's
// environment is left to fill (tarvo-catalog env): it cannot be forecast yet.
ImportSummary import_catalog(const ImportOptions& options, const std::string& out, const std::string& command);

// The environment of every storm of catalog `in` (it may have none yet) from
// the fields, into catalog `out`. A storm none of whose fixes lies over the
// sea is left out (said in the report's notes); none left is an error.
EnvironmentReport environment_catalog(const std::string& in, const std::vector<std::string>& field_files,
                                      const EnvironmentOptions& options, const std::string& out,
                                      const std::string& command,
                                      std::vector<std::vector<FixEnvironment>>* details = nullptr);

// The forecast starts of best tracks in memory as a catalog file (its
// environment may be missing yet); the notes of what was left out.
std::vector<std::string> write_hindcast_catalog(const std::vector<BestTrack>& tracks, const HindcastOptions& options,
                                                const std::string& out, const std::string& command);

// The same for storms in memory.
EnvironmentReport fill_storm_environment(std::vector<CatalogStorm>& storms, const std::vector<std::string>& field_files,
                                         const EnvironmentOptions& options,
                                         std::vector<std::vector<FixEnvironment>>* details, bool allow_without_pi = false);

// Forecast aids of an a-deck against its b-deck, as forecast centres verify
// them (output/aid_verification.hpp), with the reliability of an ensemble's
// rapid intensification from its forecast files when given.
AidVerification verify_aid_files(const std::string& adeck, const std::string& bdeck, const std::vector<std::string>& techs,
                                 const std::vector<std::string>& ensemble_files);

// The attributes a catalog keeps of what made its environment.
std::vector<std::pair<std::string, std::string>> environment_attributes(const EnvironmentReport& report);

}  // namespace tarvo
