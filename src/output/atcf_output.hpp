#pragma once
// One storm's forecast as an ATCF a-deck (the text files forecast centres
// exchange and MET-TC pairs with best tracks): a line every two hours from the
// start record on, technique TRVO.
#include <string>
#include <vector>

#include "input/catalog.hpp"
#include "output/catalog_output.hpp"

namespace tarvo {

// a<basin><cyclone number><year>.dat, e.g. "aep052001.dat"; empty when the
// storm has no cyclone number from 1 to 99 or no two-letter basin.
std::string atcf_file_name(const CatalogStorm& storm);

// The a-deck's lines for the forecast `rows` of `storm`.
std::string atcf_text(const CatalogStorm& storm, const ForecastRows& rows);

}  // namespace tarvo
