#include "input/fields/grib.hpp"

#include <eccodes.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <functional>
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

namespace {

// The first "GRIB" at or after `from`, or -1 (ecCodes too passes over bytes
// between messages).
long find_message(std::FILE* f, long from) {
  char buf[65536];
  for (long at = from;;) {
    if (std::fseek(f, at, SEEK_SET) != 0) return -1;
    const std::size_t got = std::fread(buf, 1, sizeof buf, f);
    if (got < 4) return -1;
    for (std::size_t k = 0; k + 4 <= got; ++k)
      if (std::memcmp(buf + k, "GRIB", 4) == 0) return at + static_cast<long>(k);
    at += static_cast<long>(got) - 3;
  }
}

std::uint64_t big_endian(const unsigned char* b, int n) {
  std::uint64_t v = 0;
  for (int k = 0; k < n; ++k) v = v << 8 | b[k];
  return v;
}

// A GRIB2 message's sections up to its data representation (5), read from
// the file without its bitmap and data (six of the seven sections' bytes of
// a 0.25-degree field are data): ecCodes reads every key tarvo indexes from
// them.
void grib2_header(std::FILE* f, long at, std::uint64_t total, std::vector<unsigned char>& header,
                  const std::function<void(const std::string&)>& fail) {
  header.resize(16);
  if (std::fseek(f, at, SEEK_SET) != 0 || std::fread(header.data(), 1, 16, f) != 16) fail("cannot be read");
  for (std::uint64_t offset = 16;;) {
    unsigned char head[5];
    if (offset + 4 > total || std::fread(head, 1, 5, f) != 5) fail("ends before its data section");
    if (std::memcmp(head, "7777", 4) == 0) fail("ends before its data section");
    const std::uint64_t length = big_endian(head, 4);
    if (length < 5 || offset + length > total || head[4] < 1 || head[4] > 7)
      fail("section " + std::to_string(head[4]) + " at byte " + std::to_string(offset) +
           " has a length that does not fit the message (a damaged file?)");
    if (head[4] >= 6) return;
    const std::size_t old = header.size();
    header.resize(old + length);
    std::memcpy(header.data() + old, head, 5);
    if (std::fread(header.data() + old + 5, 1, length - 5, f) != length - 5) fail("ends in its section " + std::to_string(head[4]));
    offset += length;
  }
}

}  // namespace

std::vector<GribMessage> index_grib_file(const std::string& path, int file) {
  File f(path);
  if (!f.f) throw InputError(path, 0, "cannot be read");
  std::fseek(f.f, 0, SEEK_END);
  const long size = std::ftell(f.f);
  std::vector<GribMessage> out;
  std::vector<unsigned char> header;
  long at = 0;
  for (int number = 1;; ++number) {
    at = find_message(f.f, at);
    if (at < 0) break;
    auto fail = [&](const std::string& what) {
      throw InputError(path, 0, "GRIB message " + std::to_string(number) + ": " + what);
    };
    unsigned char lead[16] = {};
    std::fseek(f.f, at, SEEK_SET);
    const std::size_t got = std::fread(lead, 1, sizeof lead, f.f);
    Handle h;
    std::uint64_t total = 0;
    if (got >= 8 && lead[7] == 2) {
      total = got == 16 ? big_endian(lead + 8, 8) : 0;
      if (total < 16 + 4 || static_cast<std::uint64_t>(size - at) < total)
        fail("cannot be read: the file ends in the middle of it (a truncated or damaged file?)");
      unsigned char tail[4] = {};
      std::fseek(f.f, at + static_cast<long>(total) - 4, SEEK_SET);
      if (std::fread(tail, 1, 4, f.f) != 4 || std::memcmp(tail, "7777", 4) != 0)
        fail("does not end with 7777 where its length says (a damaged file?)");
      grib2_header(f.f, at, total, header, fail);
      h.h = codes_handle_new_from_partial_message(nullptr, header.data(), header.size());
      if (!h.h) fail("its header cannot be read by ecCodes (a damaged file?)");
    } else if (got >= 8 && lead[7] == 1) {
      int err = 0;
      std::fseek(f.f, at, SEEK_SET);
      h.h = codes_handle_new_from_file(nullptr, f.f, PRODUCT_GRIB, &err);
      if (!h.h)
        fail(err == CODES_SUCCESS || err == CODES_END_OF_FILE
                 ? std::string("cannot be read: the file ends in the middle of it (a truncated or damaged file?)")
                 : std::string("cannot be read: ") + codes_get_error_message(err) + " (a truncated or damaged file?)");
      long length = 0;
      if (!long_key(h.h, "totalLength", length) || length <= 0) fail("its length cannot be read");
      total = static_cast<std::uint64_t>(length);
    } else {
      fail(got < 8 ? std::string("cannot be read: the file ends in the middle of it (a truncated or damaged file?)")
                   : "is of GRIB edition " + std::to_string(lead[7]) + ": tarvo reads editions 1 and 2");
    }
    GribMessage m;
    m.file = file;
    m.number = number;
    m.offset = at;
    m.edition = lead[7];
    at += static_cast<long>(total);
    long edition = m.edition, date = 0, time = 0;
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
    }
    out.push_back(m);
  }
  if (out.empty()) throw InputError(path, 0, "holds no GRIB message");
  return out;
}

void decode_grib_message(const std::string& path, const GribMessage& m, std::vector<double>& out,
                         std::vector<double>& raw) {
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
  raw.resize(n);
  std::size_t len = n;
  if (const int s = codes_get_double_array(h.h, "values", raw.data(), &len); s != CODES_SUCCESS)
    fail(std::string("its values cannot be decoded: ") + codes_get_error_message(s));
  double missing = 9999.0;
  long bitmap = 0;
  double_key(h.h, "missingValue", missing);
  long_key(h.h, "bitmapPresent", bitmap);
  if (bitmap != 0)
    for (double& v : raw)
      if (v == missing) v = std::numeric_limits<double>::quiet_NaN();
  out.resize(n);
  // Into south-to-north rows of west-to-east points: a row (or, with
  // consecutive points along a meridian, a column) at a time.
  const std::size_t ni = static_cast<std::size_t>(g.ni), nj = static_cast<std::size_t>(g.nj);
  const double* in = raw.data();
  if (!g.j_consecutive) {
    for (std::size_t j = 0; j < nj; ++j, in += ni) {
      double* row = out.data() + (g.j_positive ? j : nj - 1 - j) * ni;
      if (g.i_negative != (g.alternating && j % 2 == 1)) std::reverse_copy(in, in + ni, row);
      else std::copy(in, in + ni, row);
    }
  } else {
    for (std::size_t i = 0; i < ni; ++i, in += nj) {
      const std::size_t col = g.i_negative ? ni - 1 - i : i;
      for (std::size_t j = 0; j < nj; ++j) out[(g.j_positive ? j : nj - 1 - j) * ni + col] = in[j];
    }
  }
}

}  // namespace tarvo
