#pragma once
// What the CF conventions say of the files tarvo reads: times ("<unit> since
// <date>" in a calendar) and the units of the quantities it takes, with the
// aliases other tools write (knots, kt, m s**-1, ...). netCDF attributes read
// as text, and a variable's values unpacked (scale_factor, add_offset) with
// its missing values (_FillValue, missing_value) as NaN.
#include <cstddef>
#include <string>
#include <vector>

namespace tarvo {

// A time axis: values in its units, to hours since 1970-01-01 00:00 of the
// real (proleptic Gregorian) calendar.
class CfTimeAxis {
 public:
  // From a variable's `units` and `calendar` attributes; false, with `why`,
  // when they are not a CF time.
  bool parse(const std::string& units, const std::string& calendar, std::string& why);
  double hours_since_1970(double value) const;
  const std::string& calendar() const { return calendar_; }
  bool real_calendar() const { return kind_ == Kind::gregorian; }  // standard, gregorian, proleptic_gregorian

 private:
  enum class Kind { gregorian, fixed_365, fixed_366, fixed_360 };
  Kind kind_ = Kind::gregorian;
  double unit_hours_ = 1.0;
  int year_ = 1970, month_ = 1, day_ = 1;
  double hour_ = 0.0;  // of the reference day (minutes and seconds in it)
  std::string calendar_ = "standard";
};

// Multipliers to tarvo's units from a `units` attribute; false when the
// units are not of that quantity.
bool knots_per_unit(const std::string& units, double& factor);           // wind speed, to kt
bool metres_per_second_per_unit(const std::string& units, double& factor);  // wind speed, to m/s
bool hpa_per_unit(const std::string& units, double& factor);             // pressure, to hPa
// Temperature to kelvin: value * 1 + offset.
bool kelvin_offset_of_unit(const std::string& units, double& offset);
bool kg_per_kg_per_unit(const std::string& units, double& factor);       // specific humidity or mixing ratio
bool percent_per_unit(const std::string& units, double& factor);         // relative humidity, to %
bool degrees_unit(const std::string& units);                             // latitude or longitude

// HDF5, under netCDF-4, keeps the memory it frees on lists of its own, up
// to 37 MB by default, which a catalog read or written storm by storm fills:
// this bounds them to a few megabytes. Once per process; every reader and
// writer of NetCDF files calls it.
void bound_hdf5_free_lists();

// A chunk cache of `bytes` for every variable of an open file: files read,
// written or copied a block of storms at a time, once, keep memory flat
// however large they are (a chunk of 256 storms of five-day samples fits).
constexpr std::size_t streaming_chunk_cache_bytes = 256u << 10;
void small_chunk_caches(int ncid, std::size_t bytes = streaming_chunk_cache_bytes);

// A text attribute of a netCDF variable (NC_GLOBAL for the file's), or
// `absent` when it has none of text.
std::string nc_text_attribute(int ncid, int varid, const char* name, const std::string& absent = "");

// Variable `varid`'s values in the hyperslab start/count as doubles, its
// packing undone and its missing values NaN. Returns the netCDF status.
int nc_read_unpacked(int ncid, int varid, const std::size_t* start, const std::size_t* count, std::vector<double>& out);

// A variable's strings: NC_STRING, or NC_CHAR whose last dimension holds the
// characters; `rows` strings from `first` along its first dimension (or, with
// two dimensions before the characters, row-major over both).
int nc_read_strings(int ncid, int varid, std::size_t first, std::size_t rows, std::vector<std::string>& out);

}  // namespace tarvo
