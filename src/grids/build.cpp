#include "grids/build.hpp"

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>
#include <system_error>

#include "input/cases/ocean_grids.hpp"
#include "input/file_digest.hpp"
#include "input/input_error.hpp"
#include "input/text_file.hpp"
#include "output/format.hpp"
#include "output/grid_files.hpp"
#include "output/provenance.hpp"

namespace tarvo {

namespace {

namespace fs = std::filesystem;

constexpr float nanf_ = std::numeric_limits<float>::quiet_NaN();
// Values read from the elevation source at a time (rows times columns).
constexpr std::size_t block_values = std::size_t(4) << 20;

std::string base_name(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string two_digits(int m) { return (m < 10 ? "0" : "") + std::to_string(m); }

std::string number(double x, int digits = 4) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.*g", digits, x);
  return buf;
}

// A folder being written, removed unless kept.
struct WorkFolder {
  std::string path;
  bool keep = false;
  ~WorkFolder() {
    if (!keep && !path.empty()) {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  }
};

// The index of the cell of `a` (bounds in ascending order of index) that
// holds x; -1 when none does. Longitudes are taken modulo 360 into the
// axis's span.
int cell_holding(const std::vector<double>& lower, const std::vector<double>& upper, double x, bool longitude) {
  if (longitude) {
    const double base = lower.front();
    x = base + std::fmod(std::fmod(x - base, 360.0) + 360.0, 360.0);
  }
  const auto it = std::upper_bound(lower.begin(), lower.end(), x);
  if (it == lower.begin()) return -1;
  const std::size_t k = static_cast<std::size_t>(it - lower.begin()) - 1;
  if (x > upper[k] + 1e-9) return -1;
  return static_cast<int>(k);
}

// Bounds of an axis with its cells in ascending order of latitude.
void ascending(const CellAxis& a, std::vector<double>& lower, std::vector<double>& upper) {
  const std::size_t n = a.centre.size();
  lower.resize(n);
  upper.resize(n);
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t f = a.increasing ? k : n - 1 - k;
    lower[k] = a.lower[f];
    upper[k] = a.upper[f];
  }
}

// For each cell of the one-degree grid centred on half degrees (rows at
// latitude j - 89.5, columns at longitude k + 0.5), the source cell that
// holds its centre: [row] and [column] maps; InputError names the band
// the source does not cover.
void map_to_half_degree_cells(const CellAxis& lat, const CellAxis& lon, const std::string& path,
                              const std::string& variable, std::vector<int>& rows, std::vector<int>& cols) {
  std::vector<double> lo, hi;
  ascending(lat, lo, hi);
  rows.assign(clim_rows_n, -1);
  cols.assign(clim_cols_n, -1);
  for (int j = 0; j < clim_rows_n; ++j) rows[static_cast<std::size_t>(j)] = cell_holding(lo, hi, j - 89.5, false);
  for (int k = 0; k < clim_cols_n; ++k) cols[static_cast<std::size_t>(k)] = cell_holding(lon.lower, lon.upper, k + 0.5, true);
  const bool rows_ok = std::find(rows.begin(), rows.end(), -1) == rows.end();
  const bool cols_ok = std::find(cols.begin(), cols.end(), -1) == cols.end();
  if (!rows_ok || !cols_ok)
    throw InputError(path, 0, "variable " + variable + ": its grid does not cover the globe: " +
                                  (missing_band(lat, lon).empty() ? std::string("it misses cell centres of the one-degree grid")
                                                                  : "missing " + missing_band(lat, lon)));
}

struct Range {
  float lo = std::numeric_limits<float>::infinity(), hi = -std::numeric_limits<float>::infinity();
  void add(float v) {
    if (std::isnan(v)) return;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
};

void progress_line(std::FILE* progress, const std::string& text) {
  if (!progress) return;
  std::fprintf(progress, "%s\n", text.c_str());
  std::fflush(progress);
}

}  // namespace

std::string GridBuildReport::summary() const {
  std::size_t filled = 0, clamped = 0;
  for (const GridMonthReport& m : months) {
    filled += m.mld_filled + m.strat_filled;
    clamped += m.strat_clamped;
  }
  std::string s = "grids -> " + output + "/: bathsmooth2.dat, mix01..mix12, stratnorm01..stratnorm12, grids.json\n";
  s += "  elevation " + number(elevation_min, 6) + " .. " + number(elevation_max, 6) + " m, ocean " +
       number(100.0 * ocean_share, 3) + " % of the nodes\n";
  s += "  month  mixed layer (m)     gradient (K/100 m)   filled (mld, gradient)  gradients < 0 set to 0\n";
  for (int m = 1; m <= 12; ++m) {
    const GridMonthReport& r = months[static_cast<std::size_t>(m - 1)];
    char buf[200];
    std::snprintf(buf, sizeof buf, "  %5d  %7.1f .. %7.1f   %6.2f .. %6.2f      %6zu, %6zu          %zu\n", m,
                  static_cast<double>(r.mld_min), static_cast<double>(r.mld_max), static_cast<double>(r.strat_min),
                  static_cast<double>(r.strat_max), r.mld_filled, r.strat_filled, r.strat_clamped);
    s += buf;
  }
  s += "  " + std::to_string(filled) + " land, ice and missing cells filled from their neighbours; " +
       std::to_string(clamped) + " negative gradients set to 0\n";
  for (const std::string& n : notes) s += "  note: " + n + "\n";
  return s;
}

GridBuildReport build_grids(const GridBuildOptions& o, std::FILE* progress) {
  GridBuildReport report;
  if (o.output.empty()) throw InputError("tarvo-grids", 0, "no output folder given (-o DIR)");
  std::string out = o.output;
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  report.output = out;
  std::error_code ec;
  if (fs::exists(out, ec) && !o.force)
    throw InputError(out, 0, "exists already: give --force to replace it (it is replaced only once the new grids are whole)");
  const fs::path parent = fs::absolute(out, ec).parent_path();
  if (!fs::is_directory(parent, ec)) throw InputError(out, 0, "its parent folder " + parent.string() + " does not exist");
  const ColumnOptions& col = o.column;
  if (!(col.strat_depth_m > 0.0) || !(col.min_remaining_m >= 0.0) || !(col.threshold_k > 0.0) || !(col.reference_m >= 0.0) ||
      col.min_remaining_m > col.strat_depth_m)
    throw InputError("tarvo-grids", 0, "the options need a depth and threshold above 0 and a least remaining depth at most the depth");

  // The sources, every one checked before any work.
  progress_line(progress, "sources: opening " + std::to_string(1 + o.temperature.size() + o.mld.size()) + " files");
  auto source = std::make_unique<ElevationSource>(o.elevation, o.elevation_variable);
  ElevationSource& elevation = *source;
  if (const std::string band = missing_band(elevation.lat(), elevation.lon()); !band.empty())
    throw InputError(o.elevation, 0, "variable " + elevation.variable() + ": its grid does not cover the globe: missing " + band);
  // What the record says of it, kept when the file is closed after its pass.
  const std::string elevation_variable = elevation.variable(), elevation_units = elevation.units_note();
  const std::string elevation_grid = std::to_string(elevation.rows()) + " x " + std::to_string(elevation.cols());
  TemperatureSource temperature(o.temperature, o.temperature_variable);
  std::vector<int> t_rows, t_cols;
  map_to_half_degree_cells(temperature.lat(), temperature.lon(), o.temperature.front(), temperature.variable(), t_rows, t_cols);
  std::unique_ptr<MldSource> mld;
  std::vector<int> m_rows, m_cols;
  if (!o.mld.empty()) {
    mld = std::make_unique<MldSource>(o.mld, o.mld_variable);
    map_to_half_degree_cells(mld->lat(), mld->lon(), o.mld.front(), mld->variable(), m_rows, m_cols);
  }
  progress_line(progress, "sources: elevation " + elevation.variable() + " " + std::to_string(elevation.rows()) + " x " +
                              std::to_string(elevation.cols()) + ", temperature " + temperature.variable() + " on " +
                              std::to_string(temperature.depths().size()) + " levels" +
                              (mld ? ", mixed-layer depth " + mld->variable() : ""));

  WorkFolder work;
  work.path = out + ".tmp" + std::to_string(::getpid());
  fs::remove_all(work.path, ec);
  if (!fs::create_directory(work.path, ec)) throw InputError(work.path, 0, "cannot create the folder: " + ec.message());

  // ---- elevation: the box means, a block of rows and columns at a time.
  {
    BoxMeans boxes(elevation.lat(), elevation.lon());
    const std::size_t rows = elevation.rows(), cols = elevation.cols();
    const std::size_t cr = elevation.chunk_rows(), cc = elevation.chunk_cols();
    std::size_t band, width;
    if (cr > 0 && cc > 0) {
      band = cr * std::max<std::size_t>(1, block_values / std::max<std::size_t>(1, cr * cols));
      width = band * cols <= block_values ? cols : std::min(cols, cc * std::max<std::size_t>(1, block_values / (band * cc)));
    } else {
      band = std::max<std::size_t>(1, block_values / cols);
      width = std::min(cols, block_values);
    }
    std::vector<float> values;
    std::size_t missing = 0, next_report = 0;
    for (std::size_t first = 0; first < rows; first += band) {
      const std::size_t count = std::min(band, rows - first);
      for (std::size_t c0 = 0; c0 < cols; c0 += width) {
        const std::size_t nc = std::min(width, cols - c0);
        elevation.read(first, count, c0, nc, values);
        for (std::size_t r = 0; r < count; ++r)
          for (std::size_t c = 0; c < nc; ++c) {
            const float v = values[r * nc + c];
            if (std::isnan(v)) ++missing;
            else if (!std::isfinite(v))
              throw InputError(o.elevation, 0, "variable " + elevation.variable() + ": an infinite value at row " +
                                                   std::to_string(first + r) + ", column " + std::to_string(c0 + c));
          }
        boxes.add(first, count, c0, nc, values.data());
      }
      if (100 * (first + count) >= next_report * rows) {
        progress_line(progress, "elevation: " + std::to_string(100 * (first + count) / rows) + " % of " +
                                    std::to_string(rows) + " rows");
        next_report = 100 * (first + count) / rows / 10 * 10 + 10;
      }
    }
    std::vector<float> nodes = boxes.means();
    for (std::size_t k = 0; k < nodes.size(); ++k)
      if (std::isnan(nodes[k])) {
        const std::size_t jb = k / node_cols, ib = k % node_cols;
        throw InputError(o.elevation, 0, "variable " + elevation.variable() + ": no value in the box around latitude " +
                                             number(-90.0 + node_step * jb) + ", longitude " + number(node_step * ib) +
                                             " (" + std::to_string(boxes.empty_boxes()) + " such boxes)");
      }
    report.elevation_missing_cells = missing;
    Range range;
    std::size_t ocean = 0;
    for (float v : nodes) {
      range.add(v);
      ocean += v < 0.0f;
    }
    report.elevation_min = range.lo;
    report.elevation_max = range.hi;
    report.ocean_share = static_cast<double>(ocean) / static_cast<double>(nodes.size());
    if (elevation.units_note().rfind("no units", 0) == 0 && std::max(std::fabs(range.lo), std::fabs(range.hi)) < 20.0f)
      throw InputError(o.elevation, 0, "variable " + elevation.variable() + " has no units and its values lie within " +
                                           number(range.lo) + " .. " + number(range.hi) +
                                           ": not an elevation in metres (km?); give a file with units");
    write_file_whole(work.path + "/bathsmooth2.dat", elevation_grid_bytes(nodes.data()));
    if (missing > 0)
      report.notes.push_back(std::to_string(missing) + " cells of the elevation source have no value and were left out of their boxes");
  }
  // The elevation's file and buffers let go of before the months, and the
  // heap they grew given back: the build's peak is then the months', the
  // same whatever the elevation's resolution.
  source.reset();
  malloc_trim(0);

  // ---- the twelve months: mixed layer and gradient of each profile, placed and filled.
  const std::vector<double>& z = temperature.depths();
  const int levels = static_cast<int>(z.size());
  const std::size_t nlat = temperature.lat().centre.size(), nlon = temperature.lon().centre.size();
  std::vector<float> t3, m2, profile(static_cast<std::size_t>(levels));
  std::vector<float> cells_mld(clim_rows_n * clim_cols_n), cells_strat(cells_mld.size());
  std::vector<float> grid_mld(cells_mld.size()), grid_strat(cells_mld.size());
  const std::size_t mlon = mld ? mld->lon().centre.size() : 0;
  for (int month = 1; month <= 12; ++month) {
    GridMonthReport& r = report.months[static_cast<std::size_t>(month - 1)];
    temperature.read_month(month, t3);
    if (mld) mld->read_month(month, m2);
    const std::string& tpath = o.temperature[static_cast<std::size_t>(temperature.slot(month).file)];
    for (int j = 0; j < clim_rows_n; ++j)
      for (int k = 0; k < clim_cols_n; ++k) {
        const std::size_t cell = static_cast<std::size_t>(j) * clim_cols_n + static_cast<std::size_t>(k);
        const std::size_t si = static_cast<std::size_t>(t_rows[static_cast<std::size_t>(j)]);
        const std::size_t sk = static_cast<std::size_t>(t_cols[static_cast<std::size_t>(k)]);
        for (int l = 0; l < levels; ++l) profile[static_cast<std::size_t>(l)] = t3[(static_cast<std::size_t>(l) * nlat + si) * nlon + sk];
        const int n = valid_levels(profile.data(), levels);
        if (n < 0)
          throw InputError(tpath, 0, "variable " + temperature.variable() + ", month " + std::to_string(month) +
                                         ": the column at latitude " + number(j - 89.5) + ", longitude " + number(k + 0.5) +
                                         " has a level with a value below one without (or an infinite value): expected "
                                         "values from the surface down to the sea floor");
        cells_mld[cell] = cells_strat[cell] = nanf_;
        if (n == 0) continue;
        ++r.ocean_cells;
        const double own = mixed_layer_depth(z.data(), profile.data(), n, col);
        double h = own;
        if (mld) {
          const float given = m2[static_cast<std::size_t>(m_rows[static_cast<std::size_t>(j)]) * mlon +
                                 static_cast<std::size_t>(m_cols[static_cast<std::size_t>(k)])];
          cells_mld[cell] = given;
          if (std::isfinite(given)) h = given;
          else ++r.mld_from_temperature;
        } else {
          cells_mld[cell] = static_cast<float>(own);
        }
        bool clamped = false;
        const double g = stratification(z.data(), profile.data(), n, h, col, clamped);
        cells_strat[cell] = static_cast<float>(g);
        r.strat_clamped += clamped;
        r.strat_short += std::isfinite(g) && h + col.strat_depth_m > z[static_cast<std::size_t>(n - 1)];
      }
    if (r.ocean_cells == 0)
      throw InputError(tpath, 0, "variable " + temperature.variable() + ", month " + std::to_string(month) +
                                     ": no column has a value (all missing, or every first level missing)");
    place_on_model_grid(cells_mld.data(), grid_mld.data());
    place_on_model_grid(cells_strat.data(), grid_strat.data());
    r.mld_filled = fill_from_neighbours(grid_mld.data());
    r.strat_filled = fill_from_neighbours(grid_strat.data());
    Range a, b;
    for (std::size_t c = 0; c < grid_mld.size(); ++c) {
      if (std::isnan(grid_mld[c]) || std::isnan(grid_strat[c]))
        throw InputError(tpath, 0, "month " + std::to_string(month) + ": no cell has a " +
                                       (std::isnan(grid_mld[c]) ? "mixed-layer depth" : "temperature gradient") +
                                       " to fill the others from");
      a.add(grid_mld[c]);
      b.add(grid_strat[c]);
    }
    r.mld_min = a.lo;
    r.mld_max = a.hi;
    r.strat_min = b.lo;
    r.strat_max = b.hi;
    write_file_whole(work.path + "/mix" + two_digits(month), monthly_grid_text(grid_mld.data()));
    write_file_whole(work.path + "/stratnorm" + two_digits(month), monthly_grid_text(grid_strat.data()));
    progress_line(progress, "month " + std::to_string(month) + " of 12: " + std::to_string(r.ocean_cells) +
                                " profiles, " + std::to_string(r.mld_filled) + " + " + std::to_string(r.strat_filled) +
                                " cells filled");
  }
  std::size_t from_temperature = 0;
  for (const GridMonthReport& r : report.months) from_temperature += r.mld_from_temperature;
  if (mld && from_temperature > 0)
    report.notes.push_back(std::to_string(from_temperature) + " profiles (all months) where the given mixed-layer depth "
                           "has no value: the cell's depth filled from its neighbours, its gradient taken below the "
                           "profile's own mixed layer");

  // The files as the model reads them: any fault is found before the folder is in place.
  (void)read_climatology(work.path);

  // ---- the record.
  progress_line(progress, "sources: SHA-256 of " + std::to_string(1 + o.temperature.size() + o.mld.size()) + " files");
  Json j;
  j.open_object();
  j.open_object("tarvo").value("version", std::string(version())).value("history", history_line(o.command)).close();
  j.open_object("sources");
  {
    const FileDigest d = digest_of_file(o.elevation);
    j.open_object("elevation")
        .value("file", base_name(o.elevation))
        .value("path", o.elevation)
        .value("bytes", d.bytes)
        .value("sha256", d.sha256)
        .value("variable", elevation_variable)
        .value("grid", elevation_grid)
        .value("units", elevation_units)
        .value("cells_without_value", static_cast<long long>(report.elevation_missing_cells))
        .close();
  }
  j.open_object("temperature")
      .value("variable", temperature.variable())
      .value("standard_name", temperature.standard_name())
      .value("units", temperature.units())
      .value("grid", std::to_string(nlat) + " x " + std::to_string(nlon))
      .value("months", temperature.months_from());
  j.open_array("depths_m");
  for (double d : z) j.value("", d);
  j.close();
  j.open_array("files");
  for (std::size_t f = 0; f < o.temperature.size(); ++f) {
    const FileDigest d = digest_of_file(o.temperature[f]);
    j.open_object().value("file", base_name(o.temperature[f])).value("path", o.temperature[f]).value("bytes", d.bytes).value("sha256", d.sha256).close();
  }
  j.close().close();
  if (mld) {
    j.open_object("mixed_layer_depth")
        .value("variable", mld->variable())
        .value("units", mld->units_note())
        .value("land_mask_applied", mld->masked());
    j.open_array("files");
    for (const std::string& p : o.mld) {
      const FileDigest d = digest_of_file(p);
      j.open_object().value("file", base_name(p)).value("path", p).value("bytes", d.bytes).value("sha256", d.sha256).close();
    }
    j.close().close();
  }
  j.close();
  j.open_object("methods")
      .value("elevation", "each node (longitude 0.25 (ib - 1) E, latitude -90 + 0.25 (jb - 1)): the mean of the source "
                          "cells in the quarter-degree box centred on it, weighted by the cosine of their latitude "
                          "times their overlap with the box; half boxes at the poles; boxes wrap across 0/360")
      .value("mixed_layer_depth",
             mld ? "from the given climatology, at the source cell holding each one-degree cell's centre"
                 : "de Boyer Montegut et al. (2004), temperature criterion: the shallowest depth below the reference "
                   "depth where the temperature is the threshold colder than there, linear between levels; the deepest "
                   "valid level when it never is")
      .value("stratification", "the temperature gradient below the mixed layer in K per 100 m: 100 (T(h) - T(h + D)) / D, "
                               "T linear between levels; over what remains of the column when h + D passes its deepest "
                               "valid level (at least the least remaining depth), else missing; negative gradients set to 0")
      .value("placement", "row j at latitude j - 90.5, column i at longitude i E: the mean of the values of the two "
                          "one-degree cells centred at i - 0.5 and i + 0.5 (the one where the other is missing)")
      .value("fill", "land, ice and missing cells from their valid neighbours (eight, longitudes wrapping), pass after "
                     "pass, until none is left")
      .value("numbers", "the monthly grids with six significant digits")
      .close();
  j.open_object("options")
      .value("reference_depth_m", col.reference_m)
      .value("threshold_k", col.threshold_k)
      .value("strat_depth_m", col.strat_depth_m)
      .value("least_remaining_m", col.min_remaining_m)
      .close();
  j.open_object("elevation")
      .value("min_m", static_cast<double>(report.elevation_min))
      .value("max_m", static_cast<double>(report.elevation_max))
      .value("ocean_share", report.ocean_share)
      .close();
  j.open_array("months");
  for (int m = 1; m <= 12; ++m) {
    const GridMonthReport& r = report.months[static_cast<std::size_t>(m - 1)];
    j.open_object()
        .value("month", m)
        .value("profiles", static_cast<long long>(r.ocean_cells))
        .value("mld_filled", static_cast<long long>(r.mld_filled))
        .value("strat_filled", static_cast<long long>(r.strat_filled))
        .value("strat_clamped", static_cast<long long>(r.strat_clamped))
        .value("strat_short", static_cast<long long>(r.strat_short))
        .value("mld_from_temperature", static_cast<long long>(r.mld_from_temperature))
        .value("mld_min_m", static_cast<double>(r.mld_min))
        .value("mld_max_m", static_cast<double>(r.mld_max))
        .value("strat_min", static_cast<double>(r.strat_min))
        .value("strat_max", static_cast<double>(r.strat_max))
        .close();
  }
  j.close();
  j.open_array("notes");
  for (const std::string& n : report.notes) j.value("", n);
  j.close();
  j.close();
  report.json = j.text();
  write_file_whole(work.path + "/grids.json", report.json);

  // ---- in place: the old folder (with --force) set aside, the new one renamed in.
  const std::string old = out + ".old" + std::to_string(::getpid());
  const bool replacing = fs::exists(out, ec);
  if (replacing) {
    fs::rename(out, old, ec);
    if (ec) throw InputError(out, 0, "cannot set the existing folder aside: " + ec.message());
  }
  fs::rename(work.path, out, ec);
  if (ec) {
    std::error_code back;
    if (replacing) fs::rename(old, out, back);
    throw InputError(out, 0, "cannot rename the new grids into place: " + ec.message());
  }
  work.keep = true;
  if (replacing) fs::remove_all(old, ec);
  return report;
}

// --------------------------------------------------------------- check

std::string GridCheckReport::table() const {
  std::string s = "grids in " + folder + "/\n";
  s += "  elevation " + number(elevation.min, 6) + " .. " + number(elevation.max, 6) + " m (mean " +
       number(elevation.mean, 5) + "), ocean " + number(100.0 * ocean_share, 3) + " % of the nodes\n";
  s += "  month  mixed layer (m): min    mean     max   gradient (K/100 m): min   mean    max   gradient 0   filled (mld, gradient)\n";
  for (int m = 0; m < 12; ++m) {
    char buf[256];
    const std::string filled = mld_filled[static_cast<std::size_t>(m)] < 0
                                   ? "(no grids.json)"
                                   : std::to_string(mld_filled[static_cast<std::size_t>(m)]) + ", " +
                                         std::to_string(strat_filled[static_cast<std::size_t>(m)]);
    std::snprintf(buf, sizeof buf, "  %5d  %20.1f %7.1f %7.1f   %20.2f %6.2f %6.2f   %8.1f %%   %s\n", m + 1,
                  static_cast<double>(mld[static_cast<std::size_t>(m)].min), mld[static_cast<std::size_t>(m)].mean,
                  static_cast<double>(mld[static_cast<std::size_t>(m)].max),
                  static_cast<double>(strat[static_cast<std::size_t>(m)].min), strat[static_cast<std::size_t>(m)].mean,
                  static_cast<double>(strat[static_cast<std::size_t>(m)].max), 100.0 * clamped_share[static_cast<std::size_t>(m)],
                  filled.c_str());
    s += buf;
  }
  if (warnings.empty()) s += "  no implausible values\n";
  for (const std::string& w : warnings) s += "  warning: " + w + "\n";
  return s;
}

GridCheckReport check_grids(const std::string& folder) {
  GridCheckReport r;
  r.folder = folder;
  const OceanGrids g = read_climatology(folder);
  const std::size_t nodes = static_cast<std::size_t>(OceanGrids::elev_rows) * OceanGrids::elev_cols;
  auto field = [](const float* v, std::size_t n, GridFieldRange& out) {
    Range range;
    double sum = 0.0;
    std::size_t bad = 0;
    for (std::size_t k = 0; k < n; ++k) {
      if (!std::isfinite(v[k])) {
        ++bad;
        continue;
      }
      range.add(v[k]);
      sum += v[k];
    }
    out.min = range.lo;
    out.max = range.hi;
    out.mean = n > bad ? sum / static_cast<double>(n - bad) : 0.0;
    return bad;
  };
  if (const std::size_t bad = field(g.elev_grid.data(), nodes, r.elevation); bad > 0)
    r.warnings.push_back("elevation: " + std::to_string(bad) + " values that are not finite numbers");
  std::size_t ocean = 0, outside = 0;
  for (std::size_t k = 0; k < nodes; ++k) {
    ocean += g.elev_grid[k] < 0.0f;
    outside += g.elev_grid[k] < -11000.0f || g.elev_grid[k] > 9000.0f;
  }
  r.ocean_share = static_cast<double>(ocean) / static_cast<double>(nodes);
  if (outside > 0) r.warnings.push_back("elevation: " + std::to_string(outside) + " nodes outside -11000..9000 m");
  // The record of the build, when there is one: its counts of filled cells.
  r.mld_filled.fill(-1);
  r.strat_filled.fill(-1);
  std::string json;
  try {
    json = read_whole_file(folder + "/grids.json", folder + "/grids.json");
  } catch (const InputError&) {
  }
  for (std::size_t at = 0, m = 0; m < 12 && !json.empty(); ++m) {
    const std::size_t a = json.find("\"mld_filled\": ", at), b = json.find("\"strat_filled\": ", at);
    if (a == std::string::npos || b == std::string::npos) break;
    r.mld_filled[m] = std::atoll(json.c_str() + a + 14);
    r.strat_filled[m] = std::atoll(json.c_str() + b + 16);
    at = std::max(a, b) + 1;
  }
  const std::size_t cells = static_cast<std::size_t>(OceanGrids::clim_rows) * OceanGrids::clim_cols;
  for (int m = 1; m <= 12; ++m) {
    const float* mld = &g.mld_clim[OceanGrids::clim_index(m, 1, 1)];
    const float* strat = &g.strat_clim[OceanGrids::clim_index(m, 1, 1)];
    const std::size_t bad_mld = field(mld, cells, r.mld[static_cast<std::size_t>(m - 1)]);
    const std::size_t bad_strat = field(strat, cells, r.strat[static_cast<std::size_t>(m - 1)]);
    std::size_t deep = 0, steep = 0, negative = 0, zero = 0;
    for (std::size_t c = 0; c < cells; ++c) {
      deep += mld[c] > 1000.0f;
      negative += mld[c] <= 0.0f || strat[c] < 0.0f;
      steep += strat[c] > 30.0f;
      zero += strat[c] == 0.0f;
    }
    r.clamped_share[static_cast<std::size_t>(m - 1)] = static_cast<double>(zero) / static_cast<double>(cells);
    const std::string month = "month " + std::to_string(m) + ": ";
    if (bad_mld + bad_strat > 0)
      r.warnings.push_back(month + std::to_string(bad_mld + bad_strat) + " values that are not finite numbers");
    if (deep > 0) r.warnings.push_back(month + std::to_string(deep) + " cells with a mixed layer deeper than 1000 m");
    if (steep > 0) r.warnings.push_back(month + std::to_string(steep) + " cells with a gradient above 30 K per 100 m");
    if (negative > 0) r.warnings.push_back(month + std::to_string(negative) + " cells with a mixed layer of 0 m or less, or a negative gradient");
  }
  return r;
}

}  // namespace tarvo
