#include "grids/ocean_methods.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

namespace tarvo {

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr float nanf_ = std::numeric_limits<float>::quiet_NaN();

std::string degrees(double x) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", std::round(x * 1000.0) / 1000.0);
  return buf;
}

}  // namespace

// ----------------------------------------------------------- elevation

BoxMeans::BoxMeans(const CellAxis& lat, const CellAxis& lon) {
  // Columns: each source cell's overlap with the nodes' boxes, wrapped into
  // [-step/2, 360 - step/2).
  const double half = 0.5 * node_step;
  col_first_.push_back(0);
  for (std::size_t k = 0; k < lon.centre.size(); ++k) {
    double lo = lon.lower[k], hi = lon.upper[k];
    const double shift = std::floor((lo + half) / 360.0) * 360.0;
    lo -= shift;
    hi -= shift;
    for (long node = static_cast<long>(std::floor((lo + half) / node_step)); node * node_step - half < hi; ++node) {
      const double box_lo = node * node_step - half, box_hi = box_lo + node_step;
      const double overlap = std::min(hi, box_hi) - std::max(lo, box_lo);
      if (overlap > 0.0) col_shares_.push_back({static_cast<int>(((node % node_cols) + node_cols) % node_cols), overlap});
    }
    col_first_.push_back(col_shares_.size());
  }
  // Rows: overlap in latitude (boxes clipped at the poles) times the cosine
  // of the source row's latitude.
  row_first_.push_back(0);
  for (std::size_t k = 0; k < lat.centre.size(); ++k) {
    const double lo = std::max(lat.lower[k], -90.0), hi = std::min(lat.upper[k], 90.0);
    const double c = std::cos(lat.centre[k] * pi / 180.0);
    for (long node = std::max(0L, static_cast<long>(std::floor((lo + 90.0 + half) / node_step)));
         node < node_rows && -90.0 + node * node_step - half < hi; ++node) {
      const double box_lo = std::max(-90.0, -90.0 + node * node_step - half);
      const double box_hi = std::min(90.0, -90.0 + node * node_step + half);
      const double overlap = std::min(hi, box_hi) - std::max(lo, box_lo);
      if (overlap > 0.0) row_shares_.push_back({static_cast<int>(node), overlap * std::max(c, 0.0)});
    }
    row_first_.push_back(row_shares_.size());
  }
  sum_.assign(static_cast<std::size_t>(node_rows) * node_cols, 0.0);
  weight_.assign(sum_.size(), 0.0);
  row_sum_.assign(node_cols, 0.0);
  row_weight_.assign(node_cols, 0.0);
}

void BoxMeans::add(std::size_t first, std::size_t count, std::size_t col0, std::size_t ncols, const float* values) {
  for (std::size_t r = 0; r < count; ++r) {
    const float* row = values + r * ncols;
    int lo_node = node_cols, hi_node = -1;
    for (std::size_t c = 0; c < ncols; ++c) {
      const float v = row[c];
      if (std::isnan(v)) continue;
      const std::size_t k = col0 + c;
      for (std::size_t e = col_first_[k]; e < col_first_[k + 1]; ++e) {
        const Share& s = col_shares_[e];
        row_sum_[static_cast<std::size_t>(s.node)] += static_cast<double>(v) * s.weight;
        row_weight_[static_cast<std::size_t>(s.node)] += s.weight;
        lo_node = std::min(lo_node, s.node);
        hi_node = std::max(hi_node, s.node);
      }
    }
    if (hi_node < 0) continue;
    const std::size_t k = first + r;
    for (std::size_t e = row_first_[k]; e < row_first_[k + 1]; ++e) {
      const Share& s = row_shares_[e];
      double* sum = &sum_[static_cast<std::size_t>(s.node) * node_cols];
      double* weight = &weight_[static_cast<std::size_t>(s.node) * node_cols];
      for (int n = lo_node; n <= hi_node; ++n) {
        sum[n] += s.weight * row_sum_[static_cast<std::size_t>(n)];
        weight[n] += s.weight * row_weight_[static_cast<std::size_t>(n)];
      }
    }
    for (int n = lo_node; n <= hi_node; ++n) row_sum_[static_cast<std::size_t>(n)] = row_weight_[static_cast<std::size_t>(n)] = 0.0;
  }
}

std::vector<float> BoxMeans::means() const {
  std::vector<float> out(sum_.size());
  for (std::size_t k = 0; k < sum_.size(); ++k)
    out[k] = weight_[k] > 0.0 ? static_cast<float>(sum_[k] / weight_[k]) : nanf_;
  return out;
}

std::size_t BoxMeans::empty_boxes() const {
  std::size_t n = 0;
  for (double w : weight_) n += !(w > 0.0);
  return n;
}

std::string missing_band(const CellAxis& lat, const CellAxis& lon) {
  const double tolerance = 1e-6;
  const double south = lat.increasing ? lat.lower.front() : lat.lower.back();
  const double north = lat.increasing ? lat.upper.back() : lat.upper.front();
  std::string band;
  if (south > -90.0 + tolerance) band = "latitudes -90.." + degrees(south);
  if (north < 90.0 - tolerance) band += (band.empty() ? "" : " and ") + std::string("latitudes ") + degrees(north) + "..90";
  const double span = lon.upper.back() - lon.lower.front();
  if (span < 360.0 - tolerance)
    band += (band.empty() ? "" : " and ") + std::string("longitudes ") + degrees(lon.upper.back()) + ".." +
            degrees(lon.lower.front() + 360.0) + " (east)";
  return band;
}

// ------------------------------------------------------------ a column

int valid_levels(const float* t, int n) {
  int k = 0;
  while (k < n && std::isfinite(t[k])) ++k;
  for (int j = k; j < n; ++j)
    if (!std::isnan(t[j])) return -1;
  return k;
}

double temperature_at(const double* z, const float* t, int n, double z_at) {
  if (z_at <= z[0]) return t[0];
  for (int k = 1; k < n; ++k)
    if (z_at <= z[k]) {
      const double w = (z_at - z[k - 1]) / (z[k] - z[k - 1]);
      return (1.0 - w) * t[k - 1] + w * t[k];
    }
  return t[n - 1];
}

double mixed_layer_depth(const double* z, const float* t, int n, const ColumnOptions& o) {
  if (n <= 0) return std::numeric_limits<double>::quiet_NaN();
  if (z[n - 1] <= o.reference_m) return z[n - 1];
  const double t_ref = temperature_at(z, t, n, o.reference_m);
  const double target = t_ref - o.threshold_k;
  double z_prev = o.reference_m, t_prev = t_ref;
  for (int k = 0; k < n; ++k) {
    if (z[k] <= o.reference_m) continue;
    if (t[k] <= target) return z_prev + (target - t_prev) * (z[k] - z_prev) / (t[k] - t_prev);
    z_prev = z[k];
    t_prev = t[k];
  }
  return z[n - 1];
}

double stratification(const double* z, const float* t, int n, double h, const ColumnOptions& o, bool& clamped) {
  clamped = false;
  if (n <= 0 || !std::isfinite(h)) return std::numeric_limits<double>::quiet_NaN();
  const double bottom = z[n - 1];
  double d = o.strat_depth_m;
  if (h + d > bottom) d = bottom - h;
  if (!(d >= o.min_remaining_m)) return std::numeric_limits<double>::quiet_NaN();
  const double g = 100.0 * (temperature_at(z, t, n, h) - temperature_at(z, t, n, h + d)) / d;
  if (g < 0.0) {
    clamped = true;
    return 0.0;
  }
  return g;
}

// ----------------------------------------------------- one-degree grids

void place_on_model_grid(const float* cells, float* grid) {
  for (int j = 0; j < clim_rows_n; ++j)
    for (int i = 0; i < clim_cols_n; ++i) {
      const float a = cells[j * clim_cols_n + i], b = cells[j * clim_cols_n + (i + 1) % clim_cols_n];
      grid[j * clim_cols_n + i] = std::isnan(a) ? b : std::isnan(b) ? a : 0.5f * (a + b);
    }
}

std::size_t fill_from_neighbours(float* grid) {
  const std::size_t n = static_cast<std::size_t>(clim_rows_n) * clim_cols_n;
  std::vector<float> next(grid, grid + n);
  std::size_t filled = 0, valid = 0;
  for (std::size_t k = 0; k < n; ++k) valid += !std::isnan(grid[k]);
  if (valid == 0) return 0;
  for (;;) {
    std::size_t this_pass = 0;
    for (int j = 0; j < clim_rows_n; ++j)
      for (int i = 0; i < clim_cols_n; ++i) {
        const std::size_t at = static_cast<std::size_t>(j) * clim_cols_n + static_cast<std::size_t>(i);
        if (!std::isnan(grid[at])) continue;
        double sum = 0.0;
        int count = 0;
        for (int dj = -1; dj <= 1; ++dj)
          for (int di = -1; di <= 1; ++di) {
            const int jj = j + dj;
            if ((dj == 0 && di == 0) || jj < 0 || jj >= clim_rows_n) continue;
            const int ii = (i + di + clim_cols_n) % clim_cols_n;
            const float v = grid[static_cast<std::size_t>(jj) * clim_cols_n + static_cast<std::size_t>(ii)];
            if (!std::isnan(v)) {
              sum += v;
              ++count;
            }
          }
        if (count > 0) {
          next[at] = static_cast<float>(sum / count);
          ++this_pass;
        }
      }
    if (this_pass == 0) break;
    std::copy(next.begin(), next.end(), grid);
    filled += this_pass;
  }
  return filled;
}

}  // namespace tarvo
