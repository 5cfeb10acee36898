#include "output/track_catalog.hpp"

#include "input/input_error.hpp"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace tarvo {

TrackCatalogWriter::TrackCatalogWriter(const std::string& path, std::size_t storms, const std::string& command,
                                       const TrackCatalogExtras& extras)
    : file_(path), vpot_source_(extras.vpot_source) {
  const int storm = file_.dimension("storm", storms), step = file_.dimension("step", NC_UNLIMITED);
  file_.text(NC_GLOBAL, "featureType", "trajectory");
  file_.text(NC_GLOBAL, "Conventions", "CF-1.8");
  file_.text(NC_GLOBAL, "title", "tarvo track catalog");
  file_.provenance(command);
  for (const auto& [name, value] : extras.attributes) file_.text(NC_GLOBAL, name.c_str(), value);
  const std::size_t chunk[] = {std::min<std::size_t>(storms > 0 ? storms : 1, 256), 64};
  auto per_fix = [&](const char* name, nc_type type, const char* units) {
    const int id = file_.variable(name, type, {storm, step}, units);
    file_.check(nc_def_var_chunking(file_.id(), id, NC_CHUNKED, chunk), name);
    return id;
  };
  file_.variable("storm", NC_INT, {storm});
  file_.variable("step", NC_INT, {step});
  file_.text(file_.variable("sid", NC_STRING, {storm}), "cf_role", "trajectory_id");
  file_.variable("name", NC_STRING, {storm});
  file_.variable("basin", NC_STRING, {storm});
  file_.variable("year", NC_INT, {storm});
  file_.variable("cyclone_number", NC_INT, {storm});
  file_.text(file_.variable("reference_time", NC_DOUBLE, {storm}, catalog_time_units), "calendar", "standard");
  file_.text(per_fix("time", NC_DOUBLE, catalog_time_units), "calendar", "standard");
  for (const CatalogFixField& f : catalog_fix_fields) {
    const int id = per_fix(f.name, NC_FLOAT, f.units);
    if (f.member != &TrackRecord::lat && f.member != &TrackRecord::lon) file_.text(id, "coordinates", "time lat lon");
  }
  for (const CatalogParam& p : catalog_params) file_.variable(p.name, NC_FLOAT, {storm}, "1");
  if (vpot_source_) {
    const int id = per_fix("vpot_source", NC_BYTE, nullptr);
    const signed char none = 0, values[] = {1, 2};
    file_.check(nc_def_var_fill(file_.id(), id, NC_FILL, &none), "vpot_source");
    file_.check(nc_put_att_schar(file_.id(), id, "flag_values", NC_BYTE, 2, values), "vpot_source");
    file_.text(id, "flag_meanings", "column_at_the_fix filled_in_time");
    file_.text(id, "long_name", "where each fix's potential intensity came from");
    file_.text(id, "coordinates", "time lat lon");
  }
  file_.check(nc_enddef(file_.id()), "definitions");
}

void TrackCatalogWriter::write(std::size_t row, const CatalogStorm& storm) {
  const int ncid = file_.id();
  const std::size_t one[] = {row}, count1[] = {1};
  const int index = static_cast<int>(row);
  file_.check(nc_put_vara_int(ncid, file_.var("storm"), one, count1, &index), "storm");
  const std::string basin = storm.track.basin.substr(0, storm.track.basin.find_last_not_of(' ') + 1);
  for (auto [v, value] : {std::pair{"sid", &storm.sid}, {"name", &storm.name}, {"basin", &basin}}) {
    const char* p = value->c_str();
    file_.check(nc_put_vara_string(ncid, file_.var(v), one, count1, &p), v);
  }
  file_.check(nc_put_vara_int(ncid, file_.var("year"), one, count1, &storm.year), "year");
  file_.check(nc_put_vara_int(ncid, file_.var("cyclone_number"), one, count1, &storm.cyclone_number),
              "cyclone_number");
  file_.check(nc_put_vara_double(ncid, file_.var("reference_time"), one, count1, &storm.reference_hours),
              "reference_time");
  for (const CatalogParam& p : catalog_params)
    file_.check(nc_put_vara_float(ncid, file_.var(p.name), one, count1, &(storm.params.*(p.member))), p.name);
  const std::vector<TrackRecord>& records = storm.track.records;
  const std::size_t m = records.size();
  if (m == 0) return;
  longest_ = std::max(longest_, m);
  const std::size_t start[] = {row, 0}, count[] = {1, m};
  std::vector<double> time(m);
  for (std::size_t k = 0; k < m; ++k) time[k] = storm.reference_hours + records[k].hour;
  file_.check(nc_put_vara_double(ncid, file_.var("time"), start, count, time.data()), "time");
  std::vector<float> values(m);
  for (const CatalogFixField& f : catalog_fix_fields) {
    for (std::size_t k = 0; k < m; ++k) values[k] = records[k].*(f.member);
    file_.check(nc_put_vara_float(ncid, file_.var(f.name), start, count, values.data()), f.name);
  }
  if (vpot_source_ && storm.vpot_source.size() == m)
    file_.check(nc_put_vara_schar(ncid, file_.var("vpot_source"), start, count, storm.vpot_source.data()), "vpot_source");
}

void TrackCatalogWriter::finish() {
  file_.put_index("step", longest_);
  file_.finish();
}

void write_track_catalog(const std::string& path, const std::vector<CatalogStorm>& storms,
                         const std::string& command, const TrackCatalogExtras& extras) {
  const std::string staged = path + ".checking";
  {
    TrackCatalogWriter writer(staged, storms.size(), command, extras);
    for (std::size_t i = 0; i < storms.size(); ++i) writer.write(i, storms[i]);
    writer.finish();
  }
  try {
    CatalogReader reader(staged);
    if (!extras.environment_required) reader.allow_missing_environment();
    reader.sids();
    constexpr std::size_t chunk = 256;
    for (std::size_t first = 0; first < reader.storms(); first += chunk) reader.read(first, chunk);
  } catch (const InputError& e) {
    std::remove(staged.c_str());
    // The message names the staged file: name the file being written instead.
    std::string what = e.what();
    if (what.rfind(staged, 0) == 0) what = what.substr(staged.size());
    while (!what.empty() && (what[0] == ':' || what[0] == ' ')) what.erase(0, 1);
    throw InputError(path, 0, what);
  }
  if (std::rename(staged.c_str(), path.c_str()) != 0) {
    std::remove(staged.c_str());
    throw InputError(path, 0, "cannot rename the finished file into place");
  }
}

}  // namespace tarvo
