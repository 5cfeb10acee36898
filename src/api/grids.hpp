#pragma once
// The ocean grids of data/ built from public data sets, and the check of a
// data/ folder (grids/build.hpp: GridBuildOptions, GridBuildReport,
// ColumnOptions, build_grids, GridCheckReport, check_grids).
//
//   tarvo::GridBuildOptions o;
//   o.elevation = "ETOPO_2022_v1_60s_N90W180_surface.nc";
//   o.temperature = {"woa23_decav91C0_t01_01.nc", ..., "woa23_decav91C0_t12_01.nc"};
//   o.output = "data";
//   const tarvo::GridBuildReport r = tarvo::build_grids(o, stderr);   // data/ whole, or an InputError
#include "grids/build.hpp"
