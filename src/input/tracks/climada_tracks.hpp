#pragma once
// CLIMADA's track files (TCTracks), as its writers make them:
// - the one file of TCTracks.write_hdf5 (CLIMADA 4 and later): the tracks
//   along a dimension storm, their time steps along step (padded with NaN,
//   basins with ""), time a variable of (storm, step), the per-track items
//   (sid, name, orig_event_flag, id_no, max_sustained_wind_unit, ...) as
//   variables of storm, no attributes of its own;
// - the file of CLIMADA 3's write_hdf5: a group a track, track0, track1, ...;
// - a file of TCTracks.write_netcdf (one track: dimension time; coordinates
//   time, lat, lon; the per-track items as attributes), or a folder of them.
// Winds in the unit each track names (kn, m/s, km/h, mph), pressures in
// theirs (mb, hPa, Pa); basins CLIMADA's codes (those of IBTrACS) a time
// step; orig_event_flag and id_no kept (a synthetic track stays synthetic).
#include <functional>
#include <string>
#include <vector>

#include "input/tracks/best_track.hpp"

namespace tarvo {

// Whether `path` is one of CLIMADA's track files, or a folder of them.
bool is_climada_tracks(const std::string& path);

// Every track (of the selection). InputError names the file and the track
// (its sid) of every fault: no max_sustained_wind_unit, a unit that is not
// one, times that do not increase, a basin code tarvo does not know.
std::vector<BestTrack> read_climada_tracks(const std::string& path, const BestTrackSelection& selection);
// The same, each track handed to `take` as it is read (a block of storms of
// the file in memory at a time).
void read_climada_tracks(const std::string& path, const BestTrackSelection& selection,
                         const std::function<void(BestTrack&&)>& take);

}  // namespace tarvo
