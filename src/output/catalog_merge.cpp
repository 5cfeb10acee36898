#include "output/catalog_merge.hpp"

#include <netcdf.h>

#include <algorithm>
#include <memory>

#include "input/cf.hpp"
#include "input/input_error.hpp"
#include "output/catalog_output.hpp"

namespace tarvo {

namespace {

constexpr std::size_t block_rows = 256;  // rows copied at a time

// An open forecast file, closed when it goes.
struct OpenFile {
  int id = -1;
  explicit OpenFile(const std::string& path) {
    const int status = nc_open(path.c_str(), NC_NOWRITE, &id);
    if (status != NC_NOERR) {
      id = -1;
      throw InputError(path, 0, std::string("not a readable NetCDF file: ") + nc_strerror(status));
    }
  }
  ~OpenFile() {
    if (id >= 0) nc_close(id);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
};

std::vector<std::string> strings(int ncid, int var, std::size_t n, const std::string& path, const char* name) {
  std::vector<char*> raw(n, nullptr);
  std::vector<std::string> out;
  if (n == 0) return out;
  const std::size_t start[] = {0}, count[] = {n};
  const int status = nc_get_vara_string(ncid, var, start, count, raw.data());
  if (status != NC_NOERR) throw InputError(path, 0, std::string("variable ") + name + ": " + nc_strerror(status));
  for (char* s : raw) out.emplace_back(s ? s : "");
  nc_free_string(n, raw.data());
  return out;
}

// The file's index; its sids and statuses only `with_text`.
ForecastIndex index_of(int ncid, const std::string& path, bool with_text) {
  ForecastIndex f;
  long long whole = -1;
  nc_type type;
  std::size_t len = 0;
  if (nc_inq_att(ncid, NC_GLOBAL, "catalog_storms", &type, &len) != NC_NOERR || len != 1 ||
      nc_get_att_longlong(ncid, NC_GLOBAL, "catalog_storms", &whole) != NC_NOERR || whole < 0)
    throw InputError(path, 0, "not a tarvo forecast file (no global attribute catalog_storms)");
  f.catalog_storms = static_cast<std::size_t>(whole);
  int storm_dim, step_dim;
  std::size_t rows = 0;
  if (nc_inq_dimid(ncid, "storm", &storm_dim) != NC_NOERR || nc_inq_dimid(ncid, "step", &step_dim) != NC_NOERR)
    throw InputError(path, 0, "not a tarvo forecast file (dimensions storm and step are expected)");
  nc_inq_dimlen(ncid, storm_dim, &rows);
  nc_inq_dimlen(ncid, step_dim, &f.steps);
  int storm, sid, status;
  if (nc_inq_varid(ncid, "storm", &storm) != NC_NOERR || nc_inq_varid(ncid, "sid", &sid) != NC_NOERR ||
      nc_inq_varid(ncid, "status", &status) != NC_NOERR)
    throw InputError(path, 0, "not a tarvo forecast file (variables storm, sid and status are expected)");
  f.storm.resize(rows);
  const std::size_t start[] = {0}, count[] = {rows};
  if (rows > 0 && nc_get_vara_longlong(ncid, storm, start, count, f.storm.data()) != NC_NOERR)
    throw InputError(path, 0, "variable storm cannot be read");
  for (std::size_t r = 0; r < rows; ++r)
    if (f.storm[r] < 0 || static_cast<std::size_t>(f.storm[r]) >= f.catalog_storms)
      throw InputError(path, 0, "variable storm, row " + std::to_string(r) + ": index " + std::to_string(f.storm[r]) +
                                    " is outside the catalog of " + std::to_string(f.catalog_storms) + " storms");
  if (with_text) {
    f.sid = strings(ncid, sid, rows, path, "sid");
    f.status = strings(ncid, status, rows, path, "status");
  }
  return f;
}

// The sid of row `row` of a forecast file, for a message.
std::string sid_at(const std::string& path, std::size_t row) {
  const OpenFile file(path);
  return index_of(file.id, path, true).sid.at(row);
}

}  // namespace

ForecastIndex read_forecast_index(const std::string& path) {
  const OpenFile file(path);
  ForecastIndex f = index_of(file.id, path, true);
  f.ensemble = ensemble_layout_of(file.id);
  return f;
}

void merge_forecasts(const std::vector<std::string>& parts, const std::string& out, const std::string& command) {
  if (parts.empty()) throw InputError(out, 0, "no parts to merge");
  std::size_t whole = 0;
  {
    const OpenFile file(parts.front());
    whole = index_of(file.id, parts.front(), false).catalog_storms;
  }
  merge_forecasts(parts, out, 0, whole, command);
}

void merge_forecasts(const std::vector<std::string>& parts, const std::string& out, std::size_t first,
                     std::size_t count, const std::string& command) {
  if (parts.empty()) throw InputError(out, 0, "no parts to merge");
  // Each part's rows as runs of consecutive storms (a part of a share or a
  // chunk is one run): memory grows with the parts, not with the storms.
  struct Run {
    std::size_t storm, part, row, length;
  };
  std::vector<Run> runs;
  std::vector<std::size_t> steps(parts.size());
  std::size_t whole = 0;
  EnsembleLayout ensemble;
  for (std::size_t p = 0; p < parts.size(); ++p) {
    ForecastIndex index;
    {
      const OpenFile file(parts[p]);
      index = index_of(file.id, parts[p], false);
      const EnsembleLayout e = ensemble_layout_of(file.id);
      if (p == 0) ensemble = e;
      else if (e.members != ensemble.members || e.spreads != ensemble.spreads || e.seed != ensemble.seed)
        throw InputError(parts[p], 0, "a part of an ensemble of " + std::to_string(e.members) + " members (seed " +
                                          std::to_string(e.seed) + "), but " + parts.front() + " is of one of " +
                                          std::to_string(ensemble.members) + " (seed " + std::to_string(ensemble.seed) +
                                          "): parts of one run are merged");
    }
    if (p == 0) whole = index.catalog_storms;
    if (index.catalog_storms != whole)
      throw InputError(parts[p], 0, "a part of a catalog of " + std::to_string(index.catalog_storms) +
                                        " storms, but " + parts.front() + " is of one of " + std::to_string(whole));
    steps[p] = index.steps;
    for (std::size_t r = 0; r < index.storm.size(); ++r) {
      const std::size_t storm = static_cast<std::size_t>(index.storm[r]);
      if (storm < first || storm >= first + count)
        throw InputError(parts[p], 0, "storm " + std::to_string(storm) + " (" + sid_at(parts[p], r) +
                                          ") is outside storms " + std::to_string(first) + " to " +
                                          std::to_string(first + count - 1) + " being merged");
      if (!runs.empty() && runs.back().part == p && runs.back().storm + runs.back().length == storm &&
          runs.back().row + runs.back().length == r)
        ++runs.back().length;
      else
        runs.push_back({storm, p, r, 1});
    }
  }
  if (first + count > whole) throw InputError(out, 0, "storms beyond the catalog of " + std::to_string(whole));
  // In catalog order, every storm once.
  std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) {
    return a.storm != b.storm ? a.storm < b.storm : a.part < b.part;
  });
  std::size_t next = first;  // the first storm not yet placed
  for (std::size_t k = 0; k < runs.size(); ++k) {
    const Run& run = runs[k];
    if (run.storm > next) {
      const std::size_t last = run.storm - 1;
      throw InputError(out, 0, (next == last ? "storm " + std::to_string(next) + " is"
                                             : "storms " + std::to_string(next) + " to " + std::to_string(last) + " are") +
                                   " in none of the " + std::to_string(parts.size()) + " parts (of a catalog of " +
                                   std::to_string(whole) + " storms)");
    }
    if (run.storm < next) {
      // Storm `next - 1` or an earlier one is also in an earlier run: name the first twice-placed storm.
      const Run& other = runs[k - 1];
      const std::size_t storm = run.storm;
      std::size_t earlier_part = other.part;
      for (std::size_t e = k; e-- > 0;)
        if (runs[e].storm <= storm && storm < runs[e].storm + runs[e].length) {
          earlier_part = runs[e].part;
          break;
        }
      const std::string& here = parts[run.part];
      throw InputError(here, 0, "storm " + std::to_string(storm) + " (" + sid_at(here, run.row) + ") is " +
                                    (parts[earlier_part] == here ? "in this file twice (is it given twice?)"
                                                                 : "also in " + parts[earlier_part]));
    }
    next = run.storm + run.length;
  }
  if (next < first + count) {
    const std::size_t last = first + count - 1;
    throw InputError(out, 0, (next == last ? "storm " + std::to_string(next) + " is"
                                           : "storms " + std::to_string(next) + " to " + std::to_string(last) + " are") +
                                 " in none of the " + std::to_string(parts.size()) + " parts (of a catalog of " +
                                 std::to_string(whole) + " storms)");
  }
  CatalogWriter writer(out, count, whole, command, ensemble);
  // Each run a block of rows at a time; one part open at a time, and opened
  // again every 4096 rows: HDF5 keeps the heap of every string it has read
  // in the file's metadata cache until the file is closed.
  constexpr std::size_t reopen_after = 4096;
  std::unique_ptr<OpenFile> open;
  std::size_t open_part = parts.size(), rows_since_open = 0;
  for (const Run& run : runs) {
    for (std::size_t done = 0; done < run.length; done += block_rows) {
      if (run.part != open_part || rows_since_open >= reopen_after) {
        open.reset();
        open = std::make_unique<OpenFile>(parts[run.part]);
        small_chunk_caches(open->id);  // the rows are read in order, once
        open_part = run.part;
        rows_since_open = 0;
      }
      const std::size_t k = std::min(block_rows, run.length - done);
      rows_since_open += k;
      writer.copy_rows(open->id, parts[run.part], steps[run.part], run.row + done, run.storm - first + done, k);
    }
  }
  writer.finish();
}

}  // namespace tarvo
