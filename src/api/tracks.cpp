// Real storms in: best tracks to catalogs, with their environment.
#include "api/tracks.hpp"

#include <cmath>

#include "input/cf.hpp"
#include "output/provenance.hpp"
#include "output/track_catalog.hpp"

namespace tarvo {

namespace {

constexpr std::size_t read_chunk = 256;

bool has_environment(const std::vector<CatalogStorm>& storms) {
  for (const CatalogStorm& s : storms)
    for (const TrackRecord& r : s.track.records)
      if (!std::isfinite(r.vpot) || !std::isfinite(r.f6) || !std::isfinite(r.t600) || !std::isfinite(r.rh600))
        return false;
  return true;
}

// Storms none of whose fixes lies over the sea have no potential intensity
// to give: they are left out (with their details), and said.
void leave_out_without_pi(std::vector<CatalogStorm>& storms, EnvironmentReport& report,
                          std::vector<std::vector<FixEnvironment>>* details, std::vector<std::string>& notes) {
  for (auto it = report.without_pi.rbegin(); it != report.without_pi.rend(); ++it) {
    notes.push_back(storms[*it].sid + ": left out: none of its fixes lies over the sea (no potential intensity to "
                                      "give it)");
    storms.erase(storms.begin() + static_cast<long>(*it));
    if (details && *it < details->size()) details->erase(details->begin() + static_cast<long>(*it));
  }
}

}  // namespace

double knots_per_wind_unit(const std::string& unit) {
  double factor = 0.0;
  return knots_per_unit(unit, factor) ? factor : 0.0;
}

std::vector<BestTrack> read_tracks(const std::string& path, const std::string& format,
                                   const BestTrackSelection& selection) {
  BestTrackFormat f = BestTrackFormat::cf;
  if (format.empty()) f = detect_best_track_format(path);
  else if (!parse_best_track_format(format, f))
    throw InputError(path, 0, "the format is ibtracs, hurdat2, atcf, cf, climada, storm or csv, not '" + format + "'");
  return read_best_tracks(path, f, selection);
}

std::vector<std::pair<std::string, std::string>> environment_attributes(const EnvironmentReport& report) {
  return {{"environment_fields", report.fields},
          {"environment_method", report.method},
          {"environment_source", source_text() + ", " + history_line("the environment computed")}};
}

EnvironmentReport fill_storm_environment(std::vector<CatalogStorm>& storms, const std::vector<std::string>& field_files,
                                         const EnvironmentOptions& options,
                                         std::vector<std::vector<FixEnvironment>>* details, bool allow_without_pi) {
  FieldSet fields(field_files, std::size_t(1) << 30, options.times);
  std::string shown;
  for (const std::string& f : field_files) shown += (shown.empty() ? "" : " ") + f;
  return fill_environment(storms, fields, options, shown, details, allow_without_pi);
}

namespace {

BestTrackFormat format_of(const std::string& path, const std::string& format) {
  BestTrackFormat f = BestTrackFormat::cf;
  if (format.empty()) return detect_best_track_format(path);
  if (!parse_best_track_format(format, f))
    throw InputError(path, 0, "the format is ibtracs, hurdat2, atcf, cf, climada, storm or csv, not '" + format + "'");
  return f;
}

// What the environments of a set's chunks add up to.
void add_report(EnvironmentReport& total, EnvironmentReport&& part) {
  total.storms += part.storms;
  total.fixes += part.fixes;
  total.computed += part.computed;
  total.filled += part.filled;
  if (total.fields.empty()) total.fields = std::move(part.fields);
  if (total.method.empty()) total.method = std::move(part.method);
  for (std::string& n : part.notes) total.notes.push_back(std::move(n));
}

// A catalog's provenance of its tracks.
void track_attributes(TrackCatalogStream& stream, const std::string& sources, const std::string& winds,
                      const std::string& positions) {
  stream.attribute("tracks_source", sources);
  stream.attribute("tracks_wind", winds);
  stream.attribute("tracks_positions", positions);
}

// Forecast cycles along an a-deck's technique: a storm's few tracks, whole.
ImportSummary import_cycles(const ImportOptions& options, const std::string& out, const std::string& command) {
  ImportSummary summary;
  std::vector<BestTrack> tracks;
  std::string sources;
  for (const std::string& path : options.files) {
    std::vector<BestTrack> read = read_tracks(path, options.format, options.selection);
    sources += (sources.empty() ? "" : "; ") + path;
    for (BestTrack& t : read) tracks.push_back(std::move(t));
  }
  if (tracks.empty())
    throw InputError(sources.empty() ? "import" : sources, 0,
                     "no storm of the files is selected (season, basin, storm): nothing to import");
  summary.tracks = tracks.size();
  const Adeck adeck = read_adeck(options.adeck);
  CycleOptions c = options.cycles;
  c.history_h = options.hindcast.history_h;
  c.params = options.hindcast.params;
  HindcastSet set = forecast_cycles(tracks, adeck, c, options.adeck);
  for (const std::string& n : adeck.notes) set.notes.insert(set.notes.begin(), n);
  sources += "; " + options.adeck;
  summary.notes = std::move(set.notes);
  if (set.storms.empty())
    throw InputError(options.adeck, 0,
                     "no forecast cycle of " + options.cycles.tech + " could be made (see the notes: " +
                         (summary.notes.empty() ? std::string("none") : summary.notes.front()) + ")");
  TrackCatalogExtras extras;
  std::string winds;
  for (const BestTrack& t : tracks)
    if (winds.find(t.wind_source) == std::string::npos) winds += (winds.empty() ? "" : "; ") + t.wind_source;
  extras.attributes.push_back({"tracks_source", sources});
  extras.attributes.push_back({"tracks_wind", winds});
  extras.attributes.push_back({"tracks_positions", "forecast:" + options.cycles.tech});
  extras.attributes.push_back(
      {"tracks_history", std::string(options.cycles.history_from_carq ? "CARQ's" : "the best track's") +
                             " fixes up to each cycle; after it the wind observed at the cycle (a forecast knows no "
                             "later one)"});
  if (!options.field_files.empty()) {
    summary.environment = fill_storm_environment(set.storms, options.field_files, options.environment, nullptr, true);
    leave_out_without_pi(set.storms, summary.environment, nullptr, summary.notes);
    if (set.storms.empty()) throw InputError(sources, 0, "no forecast start has a fix over the sea");
    summary.with_environment = true;
    for (auto& a : environment_attributes(summary.environment)) extras.attributes.push_back(a);
    extras.vpot_source = true;
  } else {
    summary.with_environment = has_environment(set.storms);
    extras.environment_required = summary.with_environment;
  }
  summary.storms = set.storms.size();
  write_track_catalog(out, set.storms, command, extras);
  return summary;
}

}  // namespace

ImportSummary import_catalog(const ImportOptions& options, const std::string& out, const std::string& command) {
  if (!options.adeck.empty()) return import_cycles(options, out, command);
  // Best tracks and synthetic sets: their starts a chunk of tracks at a time
  // (CLIMADA's and STORM's sets of 10^5 tracks and more in the memory of a
  // chunk), each chunk's environment and then the chunk written; the other
  // formats' tracks together, as one chunk.
  constexpr std::size_t chunk = 4096;
  ImportSummary summary;
  std::string sources;
  std::vector<BestTrackFormat> formats;
  TrackCatalogExtras extras;
  for (const std::string& path : options.files) {
    formats.push_back(format_of(path, options.format));
    sources += (sources.empty() ? "" : "; ") + path;
    extras.origin = extras.origin || formats.back() == BestTrackFormat::climada;
  }
  extras.vpot_source = !options.field_files.empty();
  std::unique_ptr<FieldSet> fields;
  std::string shown_fields;
  for (const std::string& f : options.field_files) shown_fields += (shown_fields.empty() ? "" : " ") + f;
  if (!options.field_files.empty())
    fields = std::make_unique<FieldSet>(options.field_files, std::size_t(1) << 30, options.environment.times);
  TrackCatalogStream stream(out, command, extras);
  CycloneNumbers numbers;
  std::string winds;
  bool environment_everywhere = true;
  auto take = [&](std::vector<BestTrack>& tracks, bool streamed) {
    summary.tracks += tracks.size();
    for (const BestTrack& t : tracks)
      if (winds.find(t.wind_source) == std::string::npos) winds += (winds.empty() ? "" : "; ") + t.wind_source;
    HindcastSet set = hindcast_starts(tracks, options.hindcast, sources, streamed ? &numbers : nullptr);
    for (std::string& n : set.notes) summary.notes.push_back(std::move(n));
    if (fields) {
      EnvironmentReport r =
          fill_environment(set.storms, *fields, options.environment, shown_fields, nullptr, true);
      leave_out_without_pi(set.storms, r, nullptr, summary.notes);
      add_report(summary.environment, std::move(r));
    } else {
      environment_everywhere = environment_everywhere && has_environment(set.storms);
    }
    stream.add(set.storms);
  };
  std::vector<BestTrack> whole;
  for (std::size_t k = 0; k < options.files.size(); ++k) {
    if (formats[k] == BestTrackFormat::climada || formats[k] == BestTrackFormat::storm)
      read_best_tracks_in_chunks(options.files[k], formats[k], options.selection, chunk,
                                 [&](std::vector<BestTrack>& tracks) { take(tracks, true); });
    else
      for (BestTrack& t : read_best_tracks(options.files[k], formats[k], options.selection)) whole.push_back(std::move(t));
  }
  if (!whole.empty()) take(whole, summary.tracks > 0);
  if (summary.tracks == 0)
    throw InputError(sources.empty() ? "import" : sources, 0,
                     "no storm of the files is selected (season, basin, storm): nothing to import");
  if (stream.storms() == 0)
    throw InputError(sources, 0,
                     fields ? std::string("no forecast start has a fix over the sea")
                            : "no forecast start in the " + std::to_string(summary.tracks) +
                                  " storms selected (see the starts, --history and --min-lead)");
  track_attributes(stream, sources, winds, "the best track's own after each start (a perfect-track hindcast)");
  if (fields) {
    for (auto& [name, value] : environment_attributes(summary.environment)) stream.attribute(name, value);
    summary.with_environment = true;
  } else {
    summary.with_environment = environment_everywhere;
  }
  summary.storms = stream.storms();
  stream.finish(summary.with_environment);
  return summary;
}

std::vector<std::string> write_hindcast_catalog(const std::vector<BestTrack>& tracks, const HindcastOptions& options,
                                                const std::string& out, const std::string& command) {
  HindcastSet set = hindcast_starts(tracks, options, "tracks");
  TrackCatalogExtras extras;
  extras.environment_required = has_environment(set.storms);
  extras.attributes.push_back({"tracks_positions", "the best track's own after each start (a perfect-track hindcast)"});
  write_track_catalog(out, set.storms, command, extras);
  return set.notes;
}

EnvironmentReport environment_catalog(const std::string& in, const std::vector<std::string>& field_files,
                                      const EnvironmentOptions& options, const std::string& out,
                                      const std::string& command, std::vector<std::vector<FixEnvironment>>* details) {
  if (!details) {
    // A chunk of storms at a time: a catalog of any size in the memory of a chunk.
    constexpr std::size_t chunk = 4096;
    std::string shown;
    for (const std::string& f : field_files) shown += (shown.empty() ? "" : " ") + f;
    FieldSet fields(field_files, std::size_t(1) << 30, options.times);
    CatalogReader reader(in);
    reader.allow_missing_environment();
    reader.check_sids();
    TrackCatalogExtras extras;
    extras.vpot_source = true;
    extras.origin = reader.has_origin();
    TrackCatalogStream stream(out, command, extras);
    EnvironmentReport report;
    for (std::size_t first = 0; first < reader.storms(); first += chunk) {
      std::vector<CatalogStorm> storms;
      for (std::size_t at = first; at < std::min(first + chunk, reader.storms()); at += read_chunk)
        for (CatalogStorm& s : reader.read(at, std::min(read_chunk, first + chunk - at))) storms.push_back(std::move(s));
      EnvironmentReport part = fill_environment(storms, fields, options, shown, nullptr, true);
      leave_out_without_pi(storms, part, nullptr, part.notes);
      add_report(report, std::move(part));
      stream.add(storms);
    }
    if (stream.storms() == 0)
      throw InputError(shown, 0, "no storm of " + in + " has a fix over the sea (no potential intensity to give it)");
    for (auto& [name, value] : environment_attributes(report)) stream.attribute(name, value);
    stream.finish(true);
    return report;
  }
  std::vector<CatalogStorm> storms;
  {
    CatalogReader reader(in);
    reader.allow_missing_environment();
    reader.check_sids();
    for (std::size_t first = 0; first < reader.storms(); first += read_chunk)
      for (CatalogStorm& s : reader.read(first, read_chunk)) storms.push_back(std::move(s));
  }
  EnvironmentReport report = fill_storm_environment(storms, field_files, options, details, true);
  if (report.without_pi.size() == storms.size()) {
    std::string shown;
    for (const std::string& f : field_files) shown += (shown.empty() ? "" : " ") + f;
    throw InputError(shown, 0, "no storm of " + in + " has a fix over the sea (no potential intensity to give it)");
  }
  leave_out_without_pi(storms, report, details, report.notes);
  TrackCatalogExtras extras;
  extras.attributes = environment_attributes(report);
  extras.vpot_source = true;
  write_track_catalog(out, storms, command, extras);
  return report;
}

AidVerification verify_aid_files(const std::string& adeck, const std::string& bdeck, const std::vector<std::string>& techs,
                                 const std::vector<std::string>& ensemble_files) {
  const std::vector<BestTrack> best = read_best_tracks(bdeck, BestTrackFormat::atcf, {});
  return verify_aids(read_adeck(adeck), best, techs, ensemble_files, adeck);
}

}  // namespace tarvo
