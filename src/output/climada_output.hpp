#pragma once
// One storm's forecast as the per-storm file CLIMADA keeps for a track
// (TCTracks.from_netcdf reads a folder of them): dimension time, CLIMADA's
// variable names, the per-storm items as global attributes.
#include <cstddef>
#include <string>

#include "input/catalog.hpp"
#include "output/catalog_output.hpp"

namespace tarvo {

// Writes `dir`/<sid>.nc whole or not at all; InputError names the file.
void write_climada_track(const std::string& dir, const CatalogStorm& storm, std::size_t index,
                         const ForecastRows& rows, const std::string& status);

}  // namespace tarvo
