#include "input/fields/grib.hpp"

#include <eccodes.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "input/input_error.hpp"
#include "input/tracks/catalog.hpp"

namespace tarvo {

namespace {

struct File {
  std::FILE* f = nullptr;
  explicit File(const std::string& path) : f(std::fopen(path.c_str(), "rb")) {}
  ~File() {
    if (f) std::fclose(f);
  }
};

struct Handle {
  codes_handle* h = nullptr;
  ~Handle() {
    if (h) codes_handle_delete(h);
  }
};

std::string text_key(codes_handle* h, const char* key) {
  char buf[256] = {};
  std::size_t len = sizeof buf;
  if (codes_get_string(h, key, buf, &len) != CODES_SUCCESS) return "";
  return buf;
}

bool long_key(codes_handle* h, const char* key, long& out) { return codes_get_long(h, key, &out) == CODES_SUCCESS; }
bool double_key(codes_handle* h, const char* key, double& out) { return codes_get_double(h, key, &out) == CODES_SUCCESS; }

std::vector<double> axis(double first, double last, long n) {
  std::vector<double> v(static_cast<std::size_t>(n));
  const double step = n > 1 ? (last - first) / static_cast<double>(n - 1) : 0.0;
  for (long k = 0; k < n; ++k) v[static_cast<std::size_t>(k)] = first + step * static_cast<double>(k);
  return v;
}

}  // namespace

bool GribGrid::operator==(const GribGrid& o) const {
  auto near = [](double a, double b) { return std::fabs(a - b) < 1e-6; };
  return ni == o.ni && nj == o.nj && near(lat_first, o.lat_first) && near(lat_last, o.lat_last) &&
         near(lon_first, o.lon_first) && near(lon_last, o.lon_last) && i_negative == o.i_negative &&
         j_positive == o.j_positive && j_consecutive == o.j_consecutive && alternating == o.alternating;
}

std::vector<double> GribGrid::lats() const {
  return axis(std::min(lat_first, lat_last), std::max(lat_first, lat_last), nj);
}

std::vector<double> GribGrid::lons() const {
  // From west to east: the first longitude of an eastward scan (the last of
  // a westward one), the span eastward from it.
  const double west = i_negative ? lon_last : lon_first;
  double east = i_negative ? lon_first : lon_last;
  while (east < west) east += 360.0;
  return axis(west, east, ni);
}

bool is_grib_file(const std::string& path) {
  File f(path);
  char magic[4] = {};
  return f.f && std::fread(magic, 1, 4, f.f) == 4 && std::memcmp(magic, "GRIB", 4) == 0;
}

std::vector<GribMessage> index_grib_file(const std::string& path, int file) {
  File f(path);
  if (!f.f) throw InputError(path, 0, "cannot be read");
  std::vector<GribMessage> out;
  long end = 0;  // of the last whole message
  for (int number = 1;; ++number) {
    int err = 0;
    Handle h;
    h.h = codes_handle_new_from_file(nullptr, f.f, PRODUCT_GRIB, &err);
    if (!h.h) {
      if (err == CODES_SUCCESS || err == CODES_END_OF_FILE) {
        // ecCodes passes over what is not a whole message at the end: a
        // message cut short there is a damaged file, not the file's end.
        std::string rest;
        char buf[4096];
        std::fseek(f.f, end, SEEK_SET);
        for (std::size_t got; (got = std::fread(buf, 1, sizeof buf, f.f)) > 0;) rest.append(buf, got);
        if (rest.find("GRIB") != std::string::npos)
          throw InputError(path, 0, "GRIB message " + std::to_string(number) + " cannot be read: the file ends in the "
                                    "middle of it (a truncated or damaged file?)");
        break;
      }
      throw InputError(path, 0, "GRIB message " + std::to_string(number) + " cannot be read: " + codes_get_error_message(err) +
                                    " (a truncated or damaged file?)");
    }
    long total = 0;
    long_key(h.h, "totalLength", total);
    auto fail = [&](const std::string& what) {
      throw InputError(path, 0, "GRIB message " + std::to_string(number) + ": " + what);
    };
    GribMessage m;
    m.file = file;
    m.number = number;
    long offset = 0, edition = 0, date = 0, time = 0;
    if (!long_key(h.h, "offset", offset) || !long_key(h.h, "edition", edition)) fail("has no offset or edition");
    m.offset = offset;
    end = offset + total;
    m.edition = static_cast<int>(edition);
    m.short_name = text_key(h.h, "shortName");
    m.level_type = text_key(h.h, "typeOfLevel");
    long_key(h.h, "level", m.level);
    const std::string grid_type = text_key(h.h, "gridType");
    if (grid_type.empty() || grid_type == "unknown")
      fail("its grid is of a template ecCodes does not know (GRIB" + std::to_string(edition) + " grid definition " +
           std::to_string([&] {
             long t = -1;
             long_key(h.h, edition == 2 ? "gridDefinitionTemplateNumber" : "dataRepresentationType", t);
             return t;
           }()) +
           "): tarvo reads regular latitude-longitude grids");
    if (edition == 2) {
      long product = -1;
      if (!long_key(h.h, "productDefinitionTemplateNumber", product) || text_key(h.h, "productDefinitionTemplateNumber").empty())
        fail("its product definition template is unknown");
      long representation = -1;
      if (long_key(h.h, "dataRepresentationTemplateNumber", representation) && text_key(h.h, "packingType").empty())
        fail("its data representation template " + std::to_string(representation) + " is unknown to ecCodes");
    }
    if (!long_key(h.h, "validityDate", date) || !long_key(h.h, "validityTime", time))
      fail("its valid time (analysis time plus step) cannot be read");
    const int y = static_cast<int>(date / 10000), mo = static_cast<int>(date / 100 % 100), d = static_cast<int>(date % 100);
    if (y < 1 || mo < 1 || mo > 12 || d < 1 || d > 31 || time < 0 || time >= 2400 || time % 100 >= 60)
      fail("its valid time " + std::to_string(date) + " " + std::to_string(time) + " is not a date and time");
    m.valid_hours = static_cast<double>(hours_from_civil(y, mo, d, static_cast<int>(time / 100))) + (time % 100) / 60.0;
    // Only the fields an environment takes need a grid tarvo reads.
    static const char* const wanted[] = {"t", "q", "r", "u", "v", "msl", "prmsl", "mslet", "sst", "lsm", "ci"};
    bool want = false;
    for (const char* w : wanted) want = want || m.short_name == w;
    if (want) {
      if (grid_type != "regular_ll")
        fail("shortName " + m.short_name + ": its grid is " + grid_type +
             ": tarvo reads regular latitude-longitude grids (regular_ll); regrid it first (cdo remapbil,r360x181)");
      long ni = 0, nj = 0, ineg = 0, jpos = 0, jcons = 0, alt = 0;
      if (!long_key(h.h, "Ni", ni) || !long_key(h.h, "Nj", nj) || ni < 2 || nj < 2)
        fail("shortName " + m.short_name + ": its grid's points (Ni, Nj) cannot be read");
      long_key(h.h, "iScansNegatively", ineg);
      long_key(h.h, "jScansPositively", jpos);
      long_key(h.h, "jPointsAreConsecutive", jcons);
      long_key(h.h, "alternativeRowScanning", alt);
      GribGrid& g = m.grid;
      g.ni = ni;
      g.nj = nj;
      g.i_negative = ineg != 0;
      g.j_positive = jpos != 0;
      g.j_consecutive = jcons != 0;
      g.alternating = alt != 0;
      if (!double_key(h.h, "latitudeOfFirstGridPointInDegrees", g.lat_first) ||
          !double_key(h.h, "latitudeOfLastGridPointInDegrees", g.lat_last) ||
          !double_key(h.h, "longitudeOfFirstGridPointInDegrees", g.lon_first) ||
          !double_key(h.h, "longitudeOfLastGridPointInDegrees", g.lon_last))
        fail("shortName " + m.short_name + ": the corners of its grid cannot be read");
      long missing = 0;
      long_key(h.h, "numberOfMissing", missing);
      m.has_missing = missing > 0;
    }
    out.push_back(m);
  }
  if (out.empty()) throw InputError(path, 0, "holds no GRIB message");
  return out;
}

void decode_grib_message(const std::string& path, const GribMessage& m, std::vector<double>& out) {
  File f(path);
  if (!f.f || std::fseek(f.f, m.offset, SEEK_SET) != 0) throw InputError(path, 0, "cannot be read again");
  int err = 0;
  Handle h;
  h.h = codes_handle_new_from_file(nullptr, f.f, PRODUCT_GRIB, &err);
  auto fail = [&](const std::string& what) {
    throw InputError(path, 0, "GRIB message " + std::to_string(m.number) + " (" + m.short_name + "): " + what);
  };
  if (!h.h) fail(std::string("cannot be read: ") + codes_get_error_message(err));
  const GribGrid& g = m.grid;
  const std::size_t n = static_cast<std::size_t>(g.ni) * static_cast<std::size_t>(g.nj);
  std::size_t size = 0;
  if (codes_get_size(h.h, "values", &size) != CODES_SUCCESS || size != n)
    fail("holds " + std::to_string(size) + " values, not Ni x Nj = " + std::to_string(n));
  std::vector<double> raw(n);
  std::size_t len = n;
  if (const int s = codes_get_double_array(h.h, "values", raw.data(), &len); s != CODES_SUCCESS)
    fail(std::string("its values cannot be decoded: ") + codes_get_error_message(s));
  double missing = 9999.0;
  long bitmap = 0;
  double_key(h.h, "missingValue", missing);
  long_key(h.h, "bitmapPresent", bitmap);
  out.resize(n);
  const std::size_t ni = static_cast<std::size_t>(g.ni), nj = static_cast<std::size_t>(g.nj);
  for (std::size_t k = 0; k < n; ++k) {
    // The point's row and column in the message's scanning order.
    std::size_t i, j;
    if (g.j_consecutive) {
      i = k / nj;
      j = k % nj;
    } else {
      j = k / ni;
      i = k % ni;
      if (g.alternating && j % 2 == 1) i = ni - 1 - i;
    }
    // Into south-to-north rows of west-to-east points.
    const std::size_t row = g.j_positive ? j : nj - 1 - j;
    const std::size_t col = g.i_negative ? ni - 1 - i : i;
    const double v = raw[k];
    out[row * ni + col] = bitmap != 0 && v == missing ? std::numeric_limits<double>::quiet_NaN() : v;
  }
}

}  // namespace tarvo
