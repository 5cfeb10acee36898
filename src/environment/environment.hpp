#pragma once
// The environment along tracks, from gridded fields (input/fields/fields.hpp): at
// every fix, the potential intensity of the column there
// (environment/potential_intensity.hpp), the wind shear between two levels
// and the temperature and relative humidity of a middle level, each averaged
// over an annulus around the storm, the standard of statistical intensity
// models. Fields are interpolated linearly in time (monthly means between
// mid-months) and bilinearly in space.
#include <string>
#include <vector>

#include "environment/potential_intensity.hpp"
#include "input/tracks/catalog.hpp"
#include "input/fields/fields.hpp"

namespace tarvo {

struct EnvironmentOptions {
  PotentialIntensityOptions pi;
  double inner_km = 200.0, outer_km = 800.0;          // the annulus around the storm's centre
  double shear_top_hpa = 200.0, shear_bottom_hpa = 850.0;
  double mid_hpa = 600.0;                             // the level of t600 and rh600
  FieldTimeOptions times;                             // monthly fields as a climatology, of a period
};

// "ckcd=0.8,ascent=pseudo,annulus=100-600,...": the options it names
// changed; false, with `why`, when one is not known or not a value it takes.
// Names: ckcd, ascent (reversible|pseudo), dissipative (yes|no), reduction,
// ptop (hPa), missing (fail|skip), parcel (first|above: where a lifted
// parcel's CAPE starts), annulus (km-km), shear (hPa-hPa), mid (hPa),
// climatology (yes|no, or the years YYYY-YYYY to average: monthly fields
// as a 12-month climatology whatever the tracks' years).
bool parse_environment_options(const std::string& text, EnvironmentOptions& options, std::string& why);
// The options as that text, every one of them.
std::string environment_options_text(const EnvironmentOptions& options);

// What was found at one fix.
struct FixEnvironment {
  float vpot, shear, t600, rh600;   // what the track takes: m/s, m/s, K, %
  float sst_c, msl_hpa;             // at the fix (sst NaN over land)
  float pi_vmax, pi_pmin, t0, otl;  // the column's potential intensity: m/s, hPa, K, hPa (NaN where none)
  int pi_flag;                      // the algorithm's flag (PotentialIntensityFlag)
  int vpot_source;                  // 1 the column at the fix; 2 filled in time
  FixEnvironment();
};

struct EnvironmentReport {
  std::size_t storms = 0, fixes = 0, computed = 0, filled = 0;
  std::vector<std::size_t> without_pi;  // storms none of whose fixes has a potential intensity (when not an error)
  std::string fields;               // the files and variables (FieldSet::describe)
  std::string method;               // how, with every option
  std::vector<std::string> notes;   // per storm, what was filled and why
};

// The environment of every fix of every storm, written into the storms'
// records (vpot, shear, t600, rh600) and vpot_source; the details a fix
// into `details` when given. A fix with no potential intensity (over land,
// sea ice or a sea of 5 C or less, or where the algorithm does not converge)
// takes it in time from the nearest fixes that have one. A storm none of
// whose fixes has one (all over land) is an error, or with
// `allow_without_pi` listed in the report (its records left as they were).
// InputError names `shown`, the storm, the fix and the field: a field
// missing, a grid that does not cover a fix, times outside the fields'
// period, a column with missing values.
EnvironmentReport fill_environment(std::vector<CatalogStorm>& storms, FieldSet& fields,
                                   const EnvironmentOptions& options, const std::string& shown,
                                   std::vector<std::vector<FixEnvironment>>* details = nullptr,
                                   bool allow_without_pi = false);

}  // namespace tarvo
