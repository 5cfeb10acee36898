#pragma once
// The public data sets the ocean grids are built from, read as their
// publishers give them:
//   - surface elevation: ETOPO 2022 (z(lat, lon), float, cell-centred),
//     GEBCO (elevation(lat, lon), int16), or any CF grid of elevation or of
//     depth (a depth, positive down, is turned into elevation);
//   - sea temperature on depth levels: the World Ocean Atlas monthly files
//     (t_an(time, depth, lat, lon), the month in the file name), or any CF
//     file of sea_water_temperature or sea_water_potential_temperature
//     (a climate model's thetao climatology), twelve months in one file or
//     one a file;
//   - mixed-layer depth: de Boyer Montegut's climatology (mld_dr003 or mld,
//     with its mask), Holte et al.'s Argo climatology (mld_da_mean,
//     mld_dt_mean over iMONTH, iLAT, iLON) or WOA18's M_an.
// Every fault is an InputError naming the file and the variable, and what
// was expected. Values come in m and degrees Celsius, missing ones NaN.
#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace tarvo {

// Cells of a latitude or longitude axis: centres as in the file, and the
// bounds halfway between neighbours (the outer ones mirrored), degrees.
struct CellAxis {
  std::vector<double> centre, lower, upper;
  bool increasing = true;
};

// One NetCDF file open for reading (closed with it).
class NetcdfSource {
 public:
  explicit NetcdfSource(const std::string& path);
  ~NetcdfSource();
  NetcdfSource(const NetcdfSource&) = delete;
  NetcdfSource& operator=(const NetcdfSource&) = delete;
  int id() const { return ncid_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int ncid_ = -1;
};

// The dimensions of a gridded variable and what they are.
struct GridLayout {
  int varid = -1;
  std::string name;
  int ndims = 0;
  std::vector<std::size_t> length;
  int lat_pos = -1, lon_pos = -1, depth_pos = -1, time_pos = -1;
  CellAxis lat, lon;
  std::vector<double> depth_m;     // as in the file, in metres (positive down)
  std::vector<int> time_month;     // month 1..12 of each time, 0 when it cannot be told
};

// ------------------------------------------------------------- elevation

class ElevationSource {
 public:
  // `variable` names the variable when the file has several candidates.
  explicit ElevationSource(const std::string& path, const std::string& variable = "");
  const std::string& path() const { return file_.path(); }
  const std::string& variable() const { return layout_.name; }
  const CellAxis& lat() const { return layout_.lat; }
  const CellAxis& lon() const { return layout_.lon; }
  std::size_t rows() const { return layout_.lat.centre.size(); }
  std::size_t cols() const { return layout_.lon.centre.size(); }
  // How the values were taken: "m", "depth (positive down) turned into elevation", ...
  const std::string& units_note() const { return units_note_; }
  // The rows and columns of one chunk of the file (0: not chunked).
  std::size_t chunk_rows() const { return chunk_rows_; }
  std::size_t chunk_cols() const { return chunk_cols_; }
  // Rows first..first+count-1 and columns col0..col0+ncols-1 in the file's
  // order, elevation in m, missing NaN, row by row.
  void read(std::size_t first, std::size_t count, std::size_t col0, std::size_t ncols, std::vector<float>& out);

 private:
  NetcdfSource file_;
  GridLayout layout_;
  double sign_ = 1.0, factor_ = 1.0;
  std::string units_note_;
  std::size_t chunk_rows_ = 0, chunk_cols_ = 0;
  // Missing values and packing, as the attributes say (compared as read).
  double fill_, missing_, scale_ = 1.0, offset_ = 0.0, lo_, hi_;
};

// ------------------------------------------------ monthly climatologies

// Where each month's field is: file and time index.
struct MonthSlot {
  int file = -1;
  std::size_t time = 0;
};

// Sea temperature on depth levels, one field a month.
class TemperatureSource {
 public:
  explicit TemperatureSource(const std::vector<std::string>& paths, const std::string& variable = "");
  ~TemperatureSource();
  const std::vector<std::string>& paths() const { return paths_; }
  const std::string& variable() const { return layout_.name; }
  const std::string& standard_name() const { return standard_name_; }
  const std::string& units() const { return units_; }
  const CellAxis& lat() const { return layout_.lat; }
  const CellAxis& lon() const { return layout_.lon; }
  // Depths of the levels (m), increasing.
  const std::vector<double>& depths() const { return depths_; }
  // How the months were told ("from the file names (WOA)", "from the time axis").
  const std::string& months_from() const { return months_from_; }
  // Month m (1..12): [level][lat][lon] in the order of depths(), lat() and
  // lon(), degrees Celsius, missing NaN.
  void read_month(int month, std::vector<float>& out);
  const MonthSlot& slot(int month) const { return slots_[static_cast<std::size_t>(month - 1)]; }

 private:
  std::vector<std::string> paths_;
  std::vector<int> ncids_;
  GridLayout layout_;
  std::string standard_name_, units_, months_from_;
  std::vector<double> depths_;
  std::vector<int> level_order_;  // file level of each depth
  double offset_ = 0.0;           // to degrees Celsius
  std::array<MonthSlot, 12> slots_{};
  std::vector<double> raw_;
};

// Mixed-layer depth, one field a month.
class MldSource {
 public:
  explicit MldSource(const std::vector<std::string>& paths, const std::string& variable = "");
  ~MldSource();
  const std::vector<std::string>& paths() const { return paths_; }
  const std::string& variable() const { return layout_.name; }
  const std::string& units_note() const { return units_note_; }
  const CellAxis& lat() const { return layout_.lat; }
  const CellAxis& lon() const { return layout_.lon; }
  // Whether a land mask of the file was applied (de Boyer Montegut's `mask`).
  bool masked() const { return mask_varid_ >= 0; }
  // Month m (1..12): [lat][lon] in the order of lat() and lon(), m, missing NaN.
  void read_month(int month, std::vector<float>& out);

 private:
  std::vector<std::string> paths_;
  std::vector<int> ncids_;
  GridLayout layout_;
  std::string units_note_;
  double factor_ = 1.0;
  int mask_varid_ = -1;
  std::array<MonthSlot, 12> slots_{};
  std::vector<double> raw_, mask_;
};

// The month of a World Ocean Atlas file name ("woa23_decav91C0_t07_01.nc":
// 7); 0 when the name is not of that form, -1 for WOA's annual (00) or
// seasonal (13..16) periods.
int woa_month_of_name(const std::string& path);

// The month of each time of a CF time axis (1..12), 0 where it cannot be
// told (units that are not "<unit> since <date>", months since, ...).
std::vector<int> months_of_times(int ncid, int varid, std::size_t n);

}  // namespace tarvo
