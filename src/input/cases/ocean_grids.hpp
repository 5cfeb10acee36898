#pragma once
// The gridded ocean data: a quarter-degree elevation grid and twelve monthly
// one-degree climatologies each of mixed-layer depth and stratification.
// Read once, never changed: many runs may share one load.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace tarvo {

// A fixed block of floats for a grid, not cleared on allocation (every value
// is read from the files) and backed by huge pages where the system allows,
// which keeps the first touch of 14 MB cheap.
class GridArray {
 public:
  GridArray() = default;
  explicit GridArray(std::size_t n);
  void assign(std::size_t n, float value);
  float& operator[](std::size_t i) { return data_[i]; }
  const float& operator[](std::size_t i) const { return data_[i]; }
  float* data() { return data_.get(); }
  const float* data() const { return data_.get(); }
  std::size_t size() const { return size_; }

 private:
  struct Free {
    void operator()(float* p) const;
  };
  std::unique_ptr<float[], Free> data_;
  std::size_t size_ = 0;
};

class OceanGrids {
 public:
  static constexpr int elev_cols = 1440;  // longitude (ib - 1) * 0.25 deg E
  static constexpr int elev_rows = 721;   // latitude -90 + (jb - 1) * 0.25 deg
  static constexpr int clim_rows = 180;   // latitude j - 90.501 deg
  static constexpr int clim_cols = 360;   // longitude i deg E
  static constexpr int months = 12;
  static constexpr long elev_record_bytes = 4L * elev_cols * elev_rows;  // 4152960

  // Surface elevation in m (negative over the ocean), 1-based indices.
  float elev(int jb, int ib) const { return elev_grid[(jb - 1) * elev_cols + (ib - 1)]; }
  // Mixed-layer depth (m) and stratification (file units), 1-based month, row, column.
  float mld(int m, int j, int i) const { return mld_clim[clim_index(m, j, i)]; }
  float strat(int m, int j, int i) const { return strat_clim[clim_index(m, j, i)]; }

  // Month, then row, then column: a monthly file fills one contiguous block,
  // row by row, as it is read.
  static std::size_t clim_index(int m, int j, int i) {
    return (static_cast<std::size_t>(m - 1) * clim_rows + static_cast<std::size_t>(j - 1)) * clim_cols +
           static_cast<std::size_t>(i - 1);
  }

  // Grids holding one value everywhere (every month): a flat world for tests.
  static OceanGrids uniform(float elev, float mld, float strat);

  GridArray elev_grid;   // elev_rows x elev_cols, column fastest
  GridArray mld_clim;    // months x clim_rows x clim_cols, column fastest
  GridArray strat_clim;  // same layout
};

// Reads `<data_dir>/bathsmooth2.dat` and `<data_dir>/mixMM`, `<data_dir>/stratnormMM`
// (MM = 01..12). Throws InputError naming the file and line on any failure.
OceanGrids read_climatology(const std::string& data_dir);

// Parses one monthly text grid (180 reads of 360 values) into `out` at month m.
// `shown_name` names the file in messages.
void parse_monthly_grid(std::string_view text, int m, GridArray& out,
                        const std::string& shown_name);

struct OceanPoint {
  float elev;   // m, negative over the ocean
  float mld;    // m, at least 20
  float strat;  // file units
};

// True when the grid cells around (lat, lon) lie inside both grids.
bool ocean_at_in_range(float lat, float lon);

// Elevation, mixed-layer depth and stratification at (lat deg N, lon deg E in
// 0..360) for the reference date (month 1..12, day of month). Bilinear in space,
// linear between mid-month values (day 15 of 30-day months). Outside the grids
// (see ocean_at_in_range) every value is NaN.
OceanPoint ocean_at(const OceanGrids& grids, float lat, float lon, int month, int day);

}  // namespace tarvo
