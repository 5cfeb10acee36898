// tarvo-catalog: catalog files (docs/catalog.md) made from case directories
// and back, forecast parts joined, catalogs checked.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "api/tarvo.hpp"
#include "input/catalog.hpp"
#include "output/catalog_merge.hpp"
#include "output/format.hpp"
#include "output/track_catalog.hpp"

namespace {

namespace fs = std::filesystem;

const char* usage =
    "usage: tarvo-catalog pack CASE_DIR... -o TRACKS.nc [--year YYYY]\n"
    "       tarvo-catalog unpack TRACKS.nc DIR\n"
    "       tarvo-catalog merge PART.nc... -o ALL.nc\n"
    "       tarvo-catalog check TRACKS.nc\n"
    "  pack      case directories (params.in, track.in) into one catalog; a storm's\n"
    "            sid is its directory's name, its reference time in year YYYY\n"
    "            (default 2001: track.in has no year, and tarvo's calendar no leap day)\n"
    "  unpack    a catalog into DIR/<sid>/ with params.in and track.in\n"
    "  merge     forecast files of shares of one catalog (tarvo-batch --shard) into\n"
    "            one, every storm exactly once, in catalog order\n"
    "  check     reads every storm of a catalog and says what is wrong\n";

constexpr std::size_t chunk_storms = 256;

int fail(const std::string& message) {
  std::fprintf(stderr, "tarvo-catalog: %s\n", message.c_str());
  return 2;
}

int pack(const std::vector<std::string>& dirs, const std::string& out, int year) {
  std::vector<tarvo::CatalogStorm> storms;
  std::map<std::string, std::string> seen;  // sid -> directory
  std::map<std::pair<std::string, int>, int> numbers;  // (basin, year) -> storms so far
  for (const std::string& dir : dirs) {
    tarvo::CatalogStorm s;
    s.sid = fs::path(dir).filename().string();
    if (!seen.emplace(s.sid, dir).second)
      return fail(dir + ": the same directory name (sid " + s.sid + ") as " + seen[s.sid] +
                  "; sids must be unique");
    s.name = s.sid;
    s.track = tarvo::read_track_file(dir + "/track.in", stderr);
    s.params = tarvo::read_params_file(dir + "/params.in");
    s.year = year;
    s.reference_hours = static_cast<double>(tarvo::hours_from_civil(year, s.track.month, s.track.day, s.track.hour));
    const int number = ++numbers[{s.track.basin, year}];
    s.cyclone_number = number <= 99 ? number : 0;  // ATCF numbers storms 1 to 99 a basin and year
    storms.push_back(std::move(s));
  }
  tarvo::write_track_catalog(out, storms);
  std::printf("%zu storms -> %s\n", storms.size(), out.c_str());
  return 0;
}

int unpack(const std::string& in, const std::string& dir) {
  const tarvo::CatalogReader reader(in);
  reader.sids();
  for (std::size_t first = 0; first < reader.storms(); first += chunk_storms)
    for (const tarvo::CatalogStorm& s : reader.read(first, chunk_storms)) {
      const std::string case_dir = dir + "/" + s.sid;
      std::error_code error;
      fs::create_directories(case_dir, error);
      if (error) return fail(case_dir + ": cannot create the folder: " + error.message());
      tarvo::write_file_whole(case_dir + "/track.in", tarvo::track_text(s.track));
      tarvo::write_file_whole(case_dir + "/params.in", tarvo::params_text(s.params));
    }
  std::printf("%zu storms -> %s/<sid>/\n", reader.storms(), dir.c_str());
  return 0;
}

int check(const std::string& in) {
  const tarvo::CatalogReader reader(in);
  reader.sids();
  std::size_t fewest = 0, most = 0, hours = 0;
  std::set<std::string> basins;
  for (std::size_t first = 0; first < reader.storms(); first += chunk_storms)
    for (const tarvo::CatalogStorm& s : reader.read(first, chunk_storms)) {
      const std::size_t m = s.track.records.size();
      fewest = most == 0 ? m : std::min(fewest, m);
      most = std::max(most, m);
      hours = std::max(hours, static_cast<std::size_t>(s.track.records.back().hour - s.track.records.front().hour));
      basins.insert(s.track.basin);
    }
  std::string list;
  for (const std::string& b : basins) list += (list.empty() ? "" : " ") + b;
  std::printf("%s: a catalog of %zu storms, %zu to %zu fixes, up to %zu h; basins %s: ok\n", in.c_str(),
              reader.storms(), fewest, most, hours, list.empty() ? "-" : list.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(usage, stderr);
    return 2;
  }
  const std::string command = argv[1];
  if (command == "-h" || command == "--help") {
    std::fputs(usage, stdout);
    return 0;
  }
  std::vector<std::string> args;
  std::string out;
  int year = 2001;
  for (int a = 2; a < argc; ++a) {
    const std::string arg = argv[a];
    if (arg == "-o" || arg == "--year") {
      if (a + 1 >= argc) return fail(arg + " needs a value\n" + usage);
      const std::string v = argv[++a];
      if (arg == "-o") {
        out = v;
      } else {
        char* end = nullptr;
        const long y = std::strtol(v.c_str(), &end, 10);
        if (v.empty() || *end != '\0' || y < 1 || y > 9999) return fail("--year takes a year from 1 to 9999, not '" + v + "'");
        year = static_cast<int>(y);
      }
    } else if (!arg.empty() && arg[0] == '-') {
      return fail("unknown option '" + arg + "'\n" + usage);
    } else {
      std::string dir = arg;
      while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
      args.push_back(dir);
    }
  }
  try {
    if (command == "pack" && !args.empty() && !out.empty()) return pack(args, out, year);
    if (command == "unpack" && args.size() == 2 && out.empty()) return unpack(args[0], args[1]);
    if (command == "merge" && !args.empty() && !out.empty()) {
      tarvo::merge_forecasts(args, out);
      std::printf("%zu parts -> %s\n", args.size(), out.c_str());
      return 0;
    }
    if (command == "check" && args.size() == 1 && out.empty()) return check(args[0]);
  } catch (const tarvo::InputError& e) {
    return fail(e.what());
  } catch (const std::bad_alloc&) {
    return fail("out of memory");
  }
  std::fputs(usage, stderr);
  return 2;
}
