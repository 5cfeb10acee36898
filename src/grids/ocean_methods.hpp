#pragma once
// How the ocean grids are made from the public data sets: the elevation of
// each quarter-degree node as the area-weighted mean of the source cells in
// its box, the mixed-layer depth of a temperature profile, the temperature
// gradient below it, the placement on the model's one-degree grid and the
// filling of land and missing cells. Each a pure function of its inputs.
#include <cstddef>
#include <vector>

#include "input/fields/ocean_sources.hpp"

namespace tarvo {

// ---------------------------------------------------------- elevation

// The quarter-degree grid of elevation nodes: column ib = 0..1439 at
// longitude 0.25 ib degrees east, row jb = 0..720 at latitude -90 + 0.25 jb;
// each node's box is the quarter degree centred on it (half a box at the
// poles), wrapping across 0/360.
inline constexpr int node_cols = 1440, node_rows = 721;
inline constexpr double node_step = 0.25;

// Adds source cells into the nodes' box means, a block of rows at a time,
// in any order; weights are the cosine of the cell's latitude times its
// overlap with the box (degrees of latitude times degrees of longitude).
class BoxMeans {
 public:
  // The source's cells (lat and lon bounds, degrees).
  BoxMeans(const CellAxis& lat, const CellAxis& lon);
  // Rows first..first+count-1 and columns col0..col0+ncols-1 (the source's
  // indices) of values, row by row; NaN is skipped.
  void add(std::size_t first, std::size_t count, std::size_t col0, std::size_t ncols, const float* values);
  // The means, [jb][ib] row by row from the south; NaN where a box had no value.
  std::vector<float> means() const;
  // Nodes whose box held no value.
  std::size_t empty_boxes() const;

 private:
  struct Share {
    int node;
    double weight;
  };
  std::vector<std::size_t> col_first_;  // each source column's shares: col_first_[k] .. col_first_[k + 1]
  std::vector<Share> col_shares_;
  std::vector<std::size_t> row_first_;
  std::vector<Share> row_shares_;       // with the cosine of the row's latitude
  std::vector<double> sum_, weight_;    // node_rows x node_cols
  std::vector<double> row_sum_, row_weight_;
};

// Where a cell-centred source grid fails to reach round the globe: "" when it
// covers it, else the band that is missing ("latitudes -90..-60").
std::string missing_band(const CellAxis& lat, const CellAxis& lon);

// ------------------------------------------------- one ocean column

struct ColumnOptions {
  double reference_m = 10.0;     // the mixed layer's reference depth
  double threshold_k = 0.2;      // how much colder than at the reference its base is
  double strat_depth_m = 100.0;  // the depth D below the mixed layer the gradient is taken over
  double min_remaining_m = 20.0; // less water than this below the mixed layer: no gradient
};

// The number of valid levels from the surface down (the column ends at the
// first missing one, below which all are missing); -1 when a level below a
// missing one has a value (a gap in the column, or a column that does not
// start at the surface) or a value is infinite.
int valid_levels(const float* t, int n);

// Temperature at depth z (m) linear between the levels z[0..n-1] (valid
// ones), held beyond the ends.
double temperature_at(const double* z, const float* t, int n, double z_at);

// Mixed-layer depth (m) of a column of n valid levels: the shallowest depth
// below the reference where the temperature is threshold colder than at the
// reference, linear between levels; the deepest level when it never is.
double mixed_layer_depth(const double* z, const float* t, int n, const ColumnOptions& o);

// The temperature gradient below a mixed layer of depth h, K per 100 m:
// 100 (T(h) - T(h + D)) / D, over what remains of the column when h + D
// passes its deepest level (if at least min_remaining_m), else NaN. A
// negative gradient is 0, and `clamped` says so.
double stratification(const double* z, const float* t, int n, double h, const ColumnOptions& o, bool& clamped);

// --------------------------------------------- the one-degree grids

inline constexpr int clim_rows_n = 180, clim_cols_n = 360;

// The model's grid from values in cells centred on half degrees ([180][360],
// row j at latitude j - 89.5, column k at longitude k + 0.5 east): row j
// at latitude j - 89.5, column i (0-based; the model's i + 1) at longitude
// i + 1, the mean of the two cells centred at i + 0.5 and i + 1.5 (one when
// the other is missing).
void place_on_model_grid(const float* cells, float* grid);

// Fills the missing (NaN) cells of a [180][360] grid from their valid
// neighbours, pass after pass (each cell with valid neighbours takes their
// mean; longitudes wrap) until none is left. Returns how many it filled;
// a grid with no valid cell is left as it is (and returns 0).
std::size_t fill_from_neighbours(float* grid);

}  // namespace tarvo
