#include "input/cases/ocean_grids.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <exception>
#include <system_error>
#include <thread>
#include <cmath>
#include <cstdlib>
#include <new>
#include <cstdio>
#include <cstring>
#include <limits>

#include "input/cases/free_format.hpp"
#include "input/input_error.hpp"
#include "input/text_file.hpp"

namespace tarvo {

GridArray::GridArray(std::size_t n) : size_(n) {
  constexpr std::size_t huge_page = 2u << 20;
  const std::size_t bytes = (n * sizeof(float) + huge_page - 1) / huge_page * huge_page;
  void* p = std::aligned_alloc(huge_page, bytes > 0 ? bytes : huge_page);
  if (!p) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  madvise(p, bytes, MADV_HUGEPAGE);
#endif
  data_.reset(static_cast<float*>(p));
}

void GridArray::Free::operator()(float* p) const { std::free(p); }

void GridArray::assign(std::size_t n, float value) {
  *this = GridArray(n);
  std::fill(data_.get(), data_.get() + n, value);
}

OceanGrids OceanGrids::uniform(float elev, float mld, float strat) {
  OceanGrids g;
  g.elev_grid.assign(static_cast<std::size_t>(elev_cols) * elev_rows, elev);
  const std::size_t n = static_cast<std::size_t>(months) * clim_rows * clim_cols;
  g.mld_clim.assign(n, mld);
  g.strat_clim.assign(n, strat);
  return g;
}

namespace {

GridArray read_elevation(const std::string& path, const std::string& shown) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw InputError(shown, 0, std::string("cannot open: ") + std::strerror(errno));
  GridArray grid(static_cast<std::size_t>(OceanGrids::elev_cols) * OceanGrids::elev_rows);
  // One direct-access record of raw little-endian 32-bit reals; a longer file
  // is read for its first record only.
  const std::size_t got = std::fread(grid.data(), 1, OceanGrids::elev_record_bytes, f);
  std::fclose(f);
  if (got != static_cast<std::size_t>(OceanGrids::elev_record_bytes))
    throw InputError(shown, 0,
                     "expected one record of " + std::to_string(OceanGrids::elev_record_bytes) +
                         " bytes (1440 x 721 32-bit reals), found " + std::to_string(got));
  return grid;
}

}  // namespace

void parse_monthly_grid(std::string_view text, int m, GridArray& out,
                        const std::string& shown_name) {
  FreeFormatReader reader(text);
  for (int j = 1; j <= OceanGrids::clim_rows; ++j) {
    auto status = reader.read_reals(&out[OceanGrids::clim_index(m, j, 1)], OceanGrids::clim_cols, "grid value");
    if (status == FreeFormatReader::Status::end_of_file)
      throw InputError(shown_name, reader.line(),
                       "end of file in row " + std::to_string(j) + " of 180 (360 values a row)");
    if (status == FreeFormatReader::Status::bad_value)
      throw InputError(shown_name, reader.line(),
                       reader.problem() + " in row " + std::to_string(j));
  }
}

OceanGrids read_climatology(const std::string& data_dir) {
  OceanGrids g;
  const std::string prefix = data_dir.empty() ? std::string() : data_dir + "/";
  const std::size_t n = static_cast<std::size_t>(OceanGrids::months) * OceanGrids::clim_rows *
                        OceanGrids::clim_cols;
  g.mld_clim = GridArray(n);
  g.strat_clim = GridArray(n);
  // The files in their order: the elevation grid, then mix01, stratnorm01,
  // mix02, ... Two workers take them in turn: the elevation grid, then a
  // month's two files together, scanned side by side, and the last month's
  // files one by one, so that the workers end close together. The first file
  // that failed, in file order, gives the error, as a reading one by one would.
  constexpr int n_files = 1 + 2 * OceanGrids::months;
  auto name_of = [&](int f) {
    if (f == 0) return prefix + "bathsmooth2.dat";
    char mm[12];
    std::snprintf(mm, sizeof mm, "%02d", (f + 1) / 2);
    return prefix + (f % 2 == 1 ? "mix" : "stratnorm") + mm;
  };
  struct Item {
    int first, files;
  };
  std::array<Item, OceanGrids::months + 2> items;
  items[0] = {0, 1};
  for (int m = 1; m < OceanGrids::months; ++m) items[m] = {2 * m - 1, 2};
  items[OceanGrids::months] = {n_files - 2, 1};
  items[OceanGrids::months + 1] = {n_files - 1, 1};
  std::array<std::exception_ptr, n_files> failed;
  std::atomic<std::size_t> next{0};
  auto worker = [&] {
    std::string text[2];  // reused from item to item
    for (std::size_t i; (i = next.fetch_add(1)) < items.size();) {
      const Item item = items[i];
      if (item.first == 0) {
        try {
          g.elev_grid = read_elevation(name_of(0), name_of(0));
        } catch (...) {
          failed[0] = std::current_exception();
        }
        continue;
      }
      bool read[2] = {false, false};
      float* out[2] = {nullptr, nullptr};
      for (int k = 0; k < item.files; ++k) {
        const int f = item.first + k;
        GridArray& grid = f % 2 == 1 ? g.mld_clim : g.strat_clim;
        out[k] = &grid[OceanGrids::clim_index((f + 1) / 2, 1, 1)];
        try {
          read_whole_file(name_of(f), name_of(f), text[k]);
          read[k] = true;
        } catch (...) {
          failed[f] = std::current_exception();
        }
      }
      // Plain numbers the quick way; anything else, and every message, the
      // full reader's.
      std::array<bool, 2> whole{false, false};
      if (read[0] && (item.files == 1 || read[1]))
        whole = read_plain_records(text[0], out[0], text[1], out[1], OceanGrids::clim_rows, OceanGrids::clim_cols);
      for (int k = 0; k < item.files; ++k) {
        const int f = item.first + k;
        if (!read[k] || whole[k]) continue;
        try {
          parse_monthly_grid(text[k], (f + 1) / 2, f % 2 == 1 ? g.mld_clim : g.strat_clim, name_of(f));
        } catch (...) {
          failed[f] = std::current_exception();
        }
      }
    }
  };
  std::thread helper;
  try {
    helper = std::thread(worker);
  } catch (const std::system_error&) {
    // No second thread to be had: one worker reads them all.
  }
  worker();
  if (helper.joinable()) helper.join();
  for (const std::exception_ptr& e : failed)
    if (e) std::rethrow_exception(e);
  return g;
}

bool ocean_at_in_range(float lat, float lon) {
  const float y = lat + 90.501f;                  // one-degree rows j and j + 1
  const float yb = (lat + 90.0f) * 4.0f + 1.0f;   // quarter-degree rows jb and jb + 1
  const float xb = (lon + 0.01f) * 4.0f + 1.0f;   // quarter-degree column ib
  return y >= 1.0f && y < 180.0f && yb >= 1.0f && yb < 721.0f && lon > -1.0f && lon < 361.0f &&
         xb >= 1.0f && xb < 1442.0f;
}

OceanPoint ocean_at(const OceanGrids& g, float lat, float lon, int month, int day) {
  constexpr float nan = std::numeric_limits<float>::quiet_NaN();
  if (!ocean_at_in_range(lat, lon) || month < 1 || month > 12) return {nan, nan, nan};

  // Month weights: mid-month values lie on day 15 of 30-day months.
  int m1 = month, m2;
  float c1, c2;
  if (day >= 15) {
    const float w = static_cast<float>(day - 15) * 0.033333335f;
    c1 = 1.0f - w;
    c2 = w;
    m2 = month == 12 ? 1 : month + 1;
  } else {
    const float w = static_cast<float>(day + 15) * 0.033333335f;
    c1 = w;
    c2 = 1.0f - w;
    m2 = month == 1 ? 12 : month - 1;
  }

  // One-degree cell.
  const int j = static_cast<int>(lat + 90.501f);
  const float fy = (lat + 90.501f) - static_cast<float>(j);
  int i = static_cast<int>(lon);
  if (lon < 1.0f) i = 360;
  const int i2 = i + 1 > 360 ? i + 1 - 360 : i + 1;
  const float fx = (lon + 180.0f) - static_cast<float>(static_cast<int>(lon + 180.0f));

  auto blend = [&](const GridArray& a, int jj, int ii) {
    const std::size_t k1 = OceanGrids::clim_index(m1, jj, ii);
    const std::size_t k2 = OceanGrids::clim_index(m2, jj, ii);
    return c1 * a[k1] + c2 * a[k2];
  };
  auto bilinear = [&](const GridArray& a) {
    return (1.0f - fy) * (1.0f - fx) * blend(a, j, i) + (1.0f - fy) * fx * blend(a, j, i2) +
           fy * (1.0f - fx) * blend(a, j + 1, i) + fy * fx * blend(a, j + 1, i2);
  };
  const float mld_clim = bilinear(g.mld_clim);
  const float strat = bilinear(g.strat_clim);

  // Quarter-degree cell of the elevation grid; the 0.01 degree offset enters
  // the column index only.
  const float yb = (lat + 90.0f) * 4.0f + 1.0f;
  const int jb = static_cast<int>(yb);
  const float gy = yb - static_cast<float>(jb);
  int ib = static_cast<int>((lon + 0.01f) * 4.0f + 1.0f);
  if (ib > OceanGrids::elev_cols) ib -= OceanGrids::elev_cols;
  const int ib2 = ib + 1 > OceanGrids::elev_cols ? ib + 1 - OceanGrids::elev_cols : ib + 1;
  const float xg = (lon + 360.0f) * 4.0f + 1.0f;
  const float gx = xg - static_cast<float>(static_cast<int>(xg));
  const float e = (1.0f - gy) * (1.0f - gx) * g.elev(jb, ib) + (1.0f - gy) * gx * g.elev(jb, ib2) +
                  gy * (1.0f - gx) * g.elev(jb + 1, ib) + gy * gx * g.elev(jb + 1, ib2);

  // Never deeper than the water, never shallower than 20 m.
  const float capped = -e < mld_clim ? -e : mld_clim;
  const float mld = capped > 20.0f ? capped : 20.0f;
  return {e, mld, strat};
}

}  // namespace tarvo
