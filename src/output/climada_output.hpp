#pragma once
// Forecasts as CLIMADA keeps tracks (TCTracks.data: one Dataset a track,
// dimension time, the per-track items as attributes), in CLIMADA's two file
// forms: a folder of one file a track (TCTracks.from_netcdf) and one file of
// many tracks (TCTracks.from_hdf5). Only storms with samples make tracks: a
// track without a time step breaks CLIMADA's readers and wind models.
#include <cstddef>
#include <string>
#include <vector>

#include "output/catalog_output.hpp"
#include "output/netcdf_file.hpp"

namespace tarvo {

// CLIMADA's (IBTrACS's) basin code of a sample: NA, EP (also for the central
// Pacific), WP, NI, SI, SP or SA, from tarvo's code; the southern hemisphere
// ("sh") is SP from 135 degrees east to 70 degrees west, SI elsewhere.
std::string climada_basin(const std::string& tarvo_basin, double lon_east);

// A track's longitudes as CLIMADA keeps them: in -180..180, except for a
// track that crosses 180 degrees, which stays continuous (0..360), as
// CLIMADA's IBTrACS reader leaves such tracks.
std::vector<double> climada_longitudes(const std::vector<float>& lon_east);

// A track's orig_event_flag and id_no in CLIMADA's files: those of the
// CLIMADA track it was made from, else 1 (a model's own track, as CLIMADA
// marks the tracks it reads) and the storm's place in its catalog plus one.
double climada_id_no(const StoredForecast& forecast);

// `dir`/<sid>.nc, the file TCTracks.write_netcdf writes for a track, written
// whole or not at all; what made it in its group "provenance" (the file's own
// attributes are the track's). InputError names the file.
void write_climada_track(const std::string& dir, const StoredForecast& forecast, const std::string& command);

// The file TCTracks.write_hdf5 writes: the tracks along a dimension storm,
// their time steps along step (padded), the per-track items as variables of
// storm, no attributes of the file's own (CLIMADA would copy them into every
// track: what made the file is in its group "provenance").
class ClimadaTracksFile {
 public:
  // `climada_ids`: id_no as reals (CLIMADA's ids of synthetic tracks are
  // 1.01, 1.02, ...), else whole numbers.
  ClimadaTracksFile(const std::string& path, std::size_t tracks, const std::string& command, bool climada_ids = false);
  void add(const StoredForecast& forecast);  // a storm with samples
  void finish();                             // without it no file is written

 private:
  // Tracks are written a block at a time, each variable in one write (HDF5
  // takes a megabyte for every write of strings), and the file opened again
  // now and then (its metadata cache let go of): memory flat in the tracks.
  void flush();
  NetcdfFile file_;
  std::size_t tracks_ = 0, row_ = 0, longest_ = 0, rows_since_open_ = 0;
  bool climada_ids_ = false;
  std::vector<StoredForecast> block_;
};

}  // namespace tarvo
