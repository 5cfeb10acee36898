#pragma once
// The potential intensity of a tropical cyclone: the greatest surface wind
// its environment can sustain, with the central pressure that goes with it
// (Bister and Emanuel 2002), computed as the field computes it: the
// algorithm documented step by step by Gilford (2021), "pyPI (v1.3):
// Tropical Cyclone Potential Intensity Calculations in Python", Geosci.
// Model Dev. 14, 2351-2369. Double precision throughout, as that algorithm
// has it.
//
// A column is given from the surface up: pressure levels (hPa) decreasing,
// temperature (degrees Celsius) and water-vapour mixing ratio (g/kg) at
// each, with the sea-surface temperature (degrees Celsius) and the
// sea-level pressure (hPa).
#include <cstddef>

namespace tarvo {

struct PotentialIntensityOptions {
  double ckcd = 0.9;              // ratio of the exchange coefficients of enthalpy and momentum, Ck/Cd
  double ascent = 0.0;            // buoyancy of lifted parcels: 0 reversible ascent, 1 pseudo-adiabatic
  bool dissipative_heating = true;
  double wind_reduction = 0.8;    // from the gradient wind to the 10-m wind
  double ptop_hpa = 50.0;         // levels above it (and the level nearest it) are ignored
  bool missing_fails = true;      // a missing temperature anywhere: flag 3; otherwise only above the lowest valid level
  // The lifted parcel's temperature found level by level as the published
  // algorithm iterates for it (from the environment's temperature, damped
  // first steps), rather than from the nearest known temperature: the same
  // root within 0.001 K, about three times slower.
  bool published_iterations = false;
  // Where a lifted parcel's CAPE is integrated from. The published code
  // starts at the column's first level whatever the parcel's pressure (its
  // comment speaks of "the lowest level at or above the parcel", but its
  // loop always sets that index to the first level); the field's potential
  // intensities come from that code, so it is the default. False: from the
  // lowest level at or above the parcel's pressure, as the comment reads
  // (about 0.1 to 0.9 m/s less).
  bool parcel_from_first_level = true;
};

// What the algorithm's flag says of a column.
enum PotentialIntensityFlag : int {
  pi_no_result = 0,         // sea too cold (5 C or less) or missing, a temperature not in Celsius, or no convergence
  pi_ok = 1,
  pi_cape_not_converged = 2,
  pi_missing_values = 3,    // missing values in the profile
};

struct PotentialIntensity {
  double vmax_ms = 0;      // potential intensity, 10-m wind, m/s
  double pmin_hpa = 0;     // minimum central pressure, hPa
  double t0_k = 0;         // outflow temperature, K
  double otl_hpa = 0;      // outflow level (level of neutral buoyancy), hPa
  int flag = pi_no_result; // the others are NaN unless pi_ok
};

// Most levels a column may have.
inline constexpr int pi_max_levels = 256;

PotentialIntensity potential_intensity(double sst_c, double msl_hpa, const double* p_hpa, const double* t_c,
                                       const double* r_gkg, int levels, const PotentialIntensityOptions& options);

// Columns one after another: column k's levels at [k * levels, (k + 1) * levels).
void potential_intensity_columns(std::size_t columns, const double* sst_c, const double* msl_hpa, const double* p_hpa,
                                 const double* t_c, const double* r_gkg, int levels,
                                 const PotentialIntensityOptions& options, PotentialIntensity* out);

}  // namespace tarvo
