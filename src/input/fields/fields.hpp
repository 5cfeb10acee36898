#pragma once
// Gridded fields of the environment: CF-NetCDF files of analyses,
// reanalyses or climate models on pressure levels and at the surface, one
// file a variable or several in one, several files of a period together;
// and GRIB files (editions 1 and 2: GFS, ERA5 as the Copernicus data store
// delivers it) read through ecCodes, a file a forecast step or all in one.
// ERA5's names and units (t, q, r, u, v, sst, msl; pressure_level or level
// in hPa; valid_time or time; latitude, longitude) and CMIP's (ta, hus, hur,
// ua, va, tos, psl; plev in Pa; lat, lon) are recognised, and any variable
// by its standard_name; units come from the attributes. Any regular (or
// Gaussian) latitude-longitude grid, latitudes either way, longitudes
// 0..360 or -180..180, the dimensions in any order.
//
// Values come a slice at a time (one level of one variable at one time) in
// tarvo's units (K, kg/kg, %, m/s, hPa), missing values NaN, from a cache of
// bounded size.
#include <cstddef>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "input/fields/grib.hpp"

namespace tarvo {

enum class Field { temperature, specific_humidity, mixing_ratio, relative_humidity, u_wind, v_wind, sst, msl };
inline constexpr int field_count = 8;
// "temperature (t, ta)" and the like, for messages.
const char* field_description(Field field);

struct FieldGrid {
  std::vector<double> lat, lon;  // degrees, as in the file (latitudes either way, longitudes increasing)
  bool global = false;           // the longitudes go round the earth
};

// Where a time falls among a field's times: slices i0 and i1 and the weight
// of i1.
struct TimeWeights {
  int i0 = 0, i1 = 0;
  double w1 = 0.0;
};

// How monthly fields are taken in time: as they are (a monthly series for
// the tracks' own months, or one year of 12 months as a climatology), or as
// a 12-month climatology whatever the tracks' years (a synthetic track's year
// means nothing to a reanalysis): each calendar month the mean of its months
// over the years first_year .. last_year (0: every year of the files).
struct FieldTimeOptions {
  bool climatology = false;
  int first_year = 0, last_year = 0;
};

class FieldSet {
 public:
  // Opens the files and finds their variables, grids, levels and times;
  // InputError names the file and the variable of every fault.
  explicit FieldSet(const std::vector<std::string>& paths, std::size_t cache_bytes = std::size_t(1) << 30,
                    const FieldTimeOptions& times = {});
  ~FieldSet();
  FieldSet(const FieldSet&) = delete;
  FieldSet& operator=(const FieldSet&) = delete;

  bool has(Field f) const;
  const FieldGrid& grid(Field f) const;
  // Pressure levels (hPa) from the surface up; empty for a surface field.
  const std::vector<double>& levels(Field f) const;
  // The field's name and file, for messages: "t in era5_pl.nc".
  std::string where(Field f) const;
  // The weights of the times around `hours` (hours since 1970); false, with
  // `why`, when it lies outside the field's period.
  bool time_weights(Field f, double hours, TimeWeights& weights, std::string& why) const;
  // How the field's times are taken: "6-hourly analyses ...", "monthly means ...".
  std::string time_kind(Field f) const;
  // One level of a field at one time, [lat][lon] in the order of grid().
  std::shared_ptr<const std::vector<float>> slice(Field f, int level, int time);
  // Lets go of the cached slices of times before those around `hours` (a
  // reader going forward in time needs them no more; a climatology's months
  // are kept).
  void release_before(double hours);
  // The files and variables, for a record of what made an environment.
  std::string describe() const;

 private:
  struct Variable;
  struct File;
  std::vector<std::unique_ptr<File>> files_;
  std::unique_ptr<Variable> vars_[field_count];
  // The cache: slices by (field, level, time), most recently used first.
  struct Key {
    int field, level, time;
    bool operator<(const Key& o) const {
      return field != o.field ? field < o.field : level != o.level ? level < o.level : time < o.time;
    }
  };
  using Slice = std::shared_ptr<std::vector<float>>;
  std::list<std::pair<Key, Slice>> cache_;
  std::map<Key, std::list<std::pair<Key, Slice>>::iterator> index_;
  std::size_t cache_bytes_ = 0, cached_ = 0;
  // Slices let go of, kept to be filled again (reading forward in time, the
  // heap neither shrinks nor grows at every new time); the values as read.
  std::vector<Slice> spare_;
  std::vector<double> raw_, scratch_;  // a slice as read, and as a GRIB message orders it
  // GRIB files' messages, indexed (their values decoded a slice at a time).
  std::vector<GribMessage> grib_messages_;
  void add_grib_fields();
  Slice fresh_slice(std::size_t n);
  std::shared_ptr<const std::vector<float>> remember(const Key& key, Slice out);
  std::shared_ptr<const std::vector<float>> grib_slice(Field f, const Key& key, int level, int time);
  // A calendar month's mean over the years of a climatology made by averaging.
  std::shared_ptr<const std::vector<float>> month_mean(Field f, const Key& key, int level, int month);
  void take_as_climatology(Variable& v, const FieldTimeOptions& times);
  static std::string kind_text(const Variable& v);
};

}  // namespace tarvo
