#include "output/track_catalog.hpp"

#include "input/cf.hpp"
#include "input/input_error.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace tarvo {

TrackCatalogWriter::TrackCatalogWriter(const std::string& path, std::size_t storms, const std::string& command,
                                       const TrackCatalogExtras& extras)
    : file_(path), vpot_source_(extras.vpot_source), origin_(extras.origin) {
  const bool known = storms != storms_not_known;
  const int storm = file_.dimension("storm", known ? storms : NC_UNLIMITED), step = file_.dimension("step", NC_UNLIMITED);
  file_.text(NC_GLOBAL, "featureType", "trajectory");
  file_.text(NC_GLOBAL, "Conventions", "CF-1.8");
  file_.text(NC_GLOBAL, "title", "tarvo track catalog");
  file_.provenance(command);
  for (const auto& [name, value] : extras.attributes) file_.text(NC_GLOBAL, name.c_str(), value);
  const std::size_t chunk[] = {known ? std::min<std::size_t>(storms > 0 ? storms : 1, 256) : 256, 64};
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
  if (origin_) {
    const int flag = file_.variable("orig_event_flag", NC_BYTE, {storm});
    const signed char values[] = {-1, 0, 1};
    file_.check(nc_put_att_schar(file_.id(), flag, "flag_values", NC_BYTE, 3, values), "orig_event_flag");
    file_.text(flag, "flag_meanings", "not_given synthetic original");
    file_.text(flag, "long_name", "CLIMADA's orig_event_flag of the track");
    file_.text(file_.variable("climada_id_no", NC_DOUBLE, {storm}), "long_name", "CLIMADA's id_no of the track");
  }
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

void TrackCatalogWriter::write(const std::vector<CatalogStorm>& storms, std::size_t first, std::size_t count) {
  write_at(first, storms, first, count);
}

void TrackCatalogWriter::attribute(const std::string& name, const std::string& value) {
  file_.text(NC_GLOBAL, name.c_str(), value);
}

void TrackCatalogWriter::write_at(std::size_t row, const std::vector<CatalogStorm>& storms, std::size_t first,
                                  std::size_t count) {
  if (count == 0) return;
  const int ncid = file_.id();
  const std::size_t start1[] = {row}, count1[] = {count};
  const CatalogStorm* block = storms.data() + first;
  std::vector<int> ints(count);
  for (std::size_t i = 0; i < count; ++i) ints[i] = static_cast<int>(row + i);
  file_.check(nc_put_vara_int(ncid, file_.var("storm"), start1, count1, ints.data()), "storm");
  std::vector<std::string> basins(count);
  for (std::size_t i = 0; i < count; ++i)
    basins[i] = block[i].track.basin.substr(0, block[i].track.basin.find_last_not_of(' ') + 1);
  std::vector<const char*> texts(count);
  auto put_strings = [&](const char* v, auto text_of) {
    for (std::size_t i = 0; i < count; ++i) texts[i] = text_of(i);
    file_.check(nc_put_vara_string(ncid, file_.var(v), start1, count1, texts.data()), v);
  };
  put_strings("sid", [&](std::size_t i) { return block[i].sid.c_str(); });
  put_strings("name", [&](std::size_t i) { return block[i].name.c_str(); });
  put_strings("basin", [&](std::size_t i) { return basins[i].c_str(); });
  for (std::size_t i = 0; i < count; ++i) ints[i] = block[i].year;
  file_.check(nc_put_vara_int(ncid, file_.var("year"), start1, count1, ints.data()), "year");
  for (std::size_t i = 0; i < count; ++i) ints[i] = block[i].cyclone_number;
  file_.check(nc_put_vara_int(ncid, file_.var("cyclone_number"), start1, count1, ints.data()), "cyclone_number");
  std::vector<double> doubles(count);
  for (std::size_t i = 0; i < count; ++i) doubles[i] = block[i].reference_hours;
  file_.check(nc_put_vara_double(ncid, file_.var("reference_time"), start1, count1, doubles.data()), "reference_time");
  if (origin_) {
    std::vector<signed char> flags(count);
    for (std::size_t i = 0; i < count; ++i) {
      flags[i] = static_cast<signed char>(block[i].orig_event_flag);
      doubles[i] = block[i].climada_id_no;
    }
    file_.check(nc_put_vara_schar(ncid, file_.var("orig_event_flag"), start1, count1, flags.data()), "orig_event_flag");
    file_.check(nc_put_vara_double(ncid, file_.var("climada_id_no"), start1, count1, doubles.data()), "climada_id_no");
  }
  std::vector<float> floats(count);
  for (const CatalogParam& p : catalog_params) {
    for (std::size_t i = 0; i < count; ++i) floats[i] = block[i].params.*(p.member);
    file_.check(nc_put_vara_float(ncid, file_.var(p.name), start1, count1, floats.data()), p.name);
  }
  // Per fix: the block's rows as long as its longest, the rest the fill values.
  std::size_t m = 0;
  for (std::size_t i = 0; i < count; ++i) m = std::max(m, block[i].track.records.size());
  if (m == 0) return;
  longest_ = std::max(longest_, m);
  const std::size_t start[] = {row, 0}, counts[] = {count, m};
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  doubles.assign(count * m, nan);
  for (std::size_t i = 0; i < count; ++i)
    for (std::size_t k = 0; k < block[i].track.records.size(); ++k)
      doubles[i * m + k] = block[i].reference_hours + block[i].track.records[k].hour;
  file_.check(nc_put_vara_double(ncid, file_.var("time"), start, counts, doubles.data()), "time");
  for (const CatalogFixField& f : catalog_fix_fields) {
    floats.assign(count * m, static_cast<float>(nan));
    for (std::size_t i = 0; i < count; ++i)
      for (std::size_t k = 0; k < block[i].track.records.size(); ++k) floats[i * m + k] = block[i].track.records[k].*(f.member);
    file_.check(nc_put_vara_float(ncid, file_.var(f.name), start, counts, floats.data()), f.name);
  }
  if (vpot_source_) {
    std::vector<signed char> source(count * m, 0);
    for (std::size_t i = 0; i < count; ++i)
      if (block[i].vpot_source.size() == block[i].track.records.size())
        std::copy(block[i].vpot_source.begin(), block[i].vpot_source.end(), source.begin() + static_cast<long>(i * m));
    file_.check(nc_put_vara_schar(ncid, file_.var("vpot_source"), start, counts, source.data()), "vpot_source");
  }
  // HDF5 keeps the strings written in its metadata cache: let go of them now and then.
  rows_since_open_ += count;
  if (rows_since_open_ >= 4096) {
    file_.reopen(streaming_chunk_cache_bytes);
    rows_since_open_ = 0;
  }
}

void TrackCatalogWriter::finish() {
  file_.put_index("step", longest_);
  file_.finish();
}

namespace {

// A staged catalog read back with every check of a catalog, then renamed to
// `path`; InputError (naming `path`) and no file left when a check fails.
void check_and_place(const std::string& staged, const std::string& path, bool environment_required) {
  try {
    CatalogReader reader(staged);
    if (!environment_required) reader.allow_missing_environment();
    reader.check_sids();
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

}  // namespace

TrackCatalogStream::TrackCatalogStream(const std::string& path, const std::string& command,
                                       const TrackCatalogExtras& extras)
    : path_(path), staged_(path + ".checking"),
      writer_(std::make_unique<TrackCatalogWriter>(staged_, storms_not_known, command, extras)) {}

TrackCatalogStream::~TrackCatalogStream() {
  if (!writer_) return;
  writer_.reset();  // the file given up
  std::remove(staged_.c_str());
}

void TrackCatalogStream::add(const std::vector<CatalogStorm>& storms) {
  constexpr std::size_t block = 256;
  for (std::size_t first = 0; first < storms.size(); first += block) {
    const std::size_t count = std::min(block, storms.size() - first);
    writer_->write_at(written_, storms, first, count);
    written_ += count;
  }
}

void TrackCatalogStream::attribute(const std::string& name, const std::string& value) { writer_->attribute(name, value); }

void TrackCatalogStream::finish(bool environment_required) {
  writer_->finish();
  writer_.reset();
  check_and_place(staged_, path_, environment_required);
}

void write_track_catalog(const std::string& path, const std::vector<CatalogStorm>& storms,
                         const std::string& command, const TrackCatalogExtras& given) {
  const std::string staged = path + ".checking";
  TrackCatalogExtras extras = given;
  for (const CatalogStorm& s : storms)
    extras.origin = extras.origin || s.orig_event_flag >= 0 || std::isfinite(s.climada_id_no);
  {
    TrackCatalogWriter writer(staged, storms.size(), command, extras);
    constexpr std::size_t block = 256;
    for (std::size_t first = 0; first < storms.size(); first += block)
      writer.write(storms, first, std::min(block, storms.size() - first));
    writer.finish();
  }
  check_and_place(staged, path, extras.environment_required);
}

}  // namespace tarvo
