#pragma once
// GRIB editions 1 and 2 through ecCodes (its C API): the messages of a file
// indexed from their headers (nothing decoded), and one message's values
// decoded when they are wanted, in latitude and longitude order whatever the
// message's scanning. Regular latitude-longitude grids only.
#include <string>
#include <vector>

namespace tarvo {

struct GribGrid {
  long ni = 0, nj = 0;                    // points along a parallel, along a meridian
  double lat_first = 0, lat_last = 0;     // degrees, as the message gives them
  double lon_first = 0, lon_last = 0;
  bool i_negative = false, j_positive = false, j_consecutive = false, alternating = false;
  bool operator==(const GribGrid& o) const;
  // The latitudes from south to north and the longitudes from west to east.
  std::vector<double> lats() const;
  std::vector<double> lons() const;
};

struct GribMessage {
  int file = 0;            // the file's place in the list given
  long offset = 0;         // bytes from the file's start
  int number = 0;          // 1-based, in its file (for messages)
  int edition = 0;
  std::string short_name;  // ecCodes' shortName: t, q, r, u, v, msl, prmsl, mslet, sst, lsm, ci, ...
  std::string level_type;  // typeOfLevel: isobaricInhPa, surface, meanSea, ...
  long level = 0;          // hPa on isobaricInhPa
  double valid_hours = 0;  // its valid time (analysis time plus step), hours since 1970-01-01 00:00
  GribGrid grid;
};

// Whether the file starts as a GRIB message does.
bool is_grib_file(const std::string& path);

// Every message of the file, from its headers. InputError names the file and
// the message: not GRIB, a grid other than a regular latitude-longitude
// one, an unknown template, a message that cannot be read.
std::vector<GribMessage> index_grib_file(const std::string& path, int file);

// The values of the message at `offset` of `path`, [latitude from the
// south][longitude from the west] as `grid` orders them; missing values NaN.
// `scratch` takes the values in the message's order (kept between calls: a
// 0.25-degree field is 8 MB).
void decode_grib_message(const std::string& path, const GribMessage& message, std::vector<double>& out,
                         std::vector<double>& scratch);

}  // namespace tarvo
