// tarvo-catalog: catalog files (docs/catalog.md) made from case directories
// and back, forecast parts joined, files for CLIMADA and ATCF made from
// forecast files, catalogs checked.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "api/catalog.hpp"
#include "api/tarvo.hpp"

namespace {

namespace fs = std::filesystem;

const char* usage =
    "usage: tarvo-catalog pack CASE_DIR... -o TRACKS.nc [--year YYYY]\n"
    "       tarvo-catalog unpack TRACKS.nc DIR\n"
    "       tarvo-catalog merge PART.nc... -o ALL.nc [OUTPUTS]\n"
    "       tarvo-catalog export FORECASTS.nc OUTPUTS\n"
    "       tarvo-catalog check TRACKS.nc\n"
    "       tarvo-catalog --version\n"
    "  pack      case directories (params.in, track.in) into one catalog; a storm's\n"
    "            sid is its directory's name, its reference time in year YYYY\n"
    "            (default 2001: track.in has no year, and tarvo's calendar no leap day)\n"
    "  unpack    a catalog into DIR/<sid>/ with params.in and track.in\n"
    "  merge     forecast files of shares of one catalog (tarvo-batch --shard) into\n"
    "            one, every storm exactly once, in catalog order\n"
    "  export    the files for CLIMADA and ATCF made from a forecast file\n"
    "  check     reads every storm of a catalog and says what is wrong\n"
    "  OUTPUTS: --climada DIR (a CLIMADA track file <sid>.nc a storm), --climada-hdf5\n"
    "  FILE (one file of all, for TCTracks.from_hdf5), --atcf DIR (a-decks, every\n"
    "  forecast of a storm joined into its one file) with --atcf-step H (default 6)\n"
    "  and --atcf-max-tau H (default 240)\n";

constexpr std::size_t chunk_storms = 256;

int fail(const std::string& message) {
  std::fprintf(stderr, "tarvo-catalog: %s\n", message.c_str());
  return 2;
}

int pack(const std::vector<std::string>& dirs, const std::string& out, int year, const std::string& command) {
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
    const int number = ++numbers[{s.track.basin, year}];
    s.cyclone_number = number <= 99 ? number : 0;  // ATCF numbers storms 1 to 99 a basin and year
    storms.push_back(std::move(s));
  }
  const std::size_t n = storms.size();
  tarvo::write_catalog(out, std::move(storms), command);
  std::printf("%zu storms -> %s\n", n, out.c_str());
  return 0;
}

int unpack(const std::string& in, const std::string& dir) {
  const tarvo::CatalogReader reader(in);
  reader.sids();
  for (std::size_t first = 0; first < reader.storms(); first += chunk_storms) {
    const std::vector<tarvo::CatalogStorm> storms = reader.read(first, chunk_storms);
    for (std::size_t i = 0; i < storms.size(); ++i) {
      const tarvo::CatalogStorm& s = storms[i];
      const std::string case_dir = dir + "/" + s.sid;
      const std::string text = tarvo::track_text(s.track, in + ", storm " + std::to_string(first + i) + " (" + s.sid + ")");
      std::error_code error;
      fs::create_directories(case_dir, error);
      if (error) return fail(case_dir + ": cannot create the folder: " + error.message());
      tarvo::write_text_file(case_dir + "/track.in", text);
      tarvo::write_text_file(case_dir + "/params.in", tarvo::params_text(s.params));
    }
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
  if (command == "--version") {
    std::fputs(tarvo::version_text("tarvo-catalog").c_str(), stdout);
    return 0;
  }
  std::vector<std::string> args;
  std::string out;
  int year = 2001;
  tarvo::ForecastOutputs outputs;
  bool adeck_options = false;
  for (int a = 2; a < argc; ++a) {
    const std::string arg = argv[a];
    if (arg == "-o" || arg == "--year" || arg == "--climada" || arg == "--climada-hdf5" || arg == "--atcf" ||
        arg == "--atcf-step" || arg == "--atcf-max-tau") {
      if (a + 1 >= argc) return fail(arg + " needs a value\n" + usage);
      const std::string v = argv[++a];
      auto number = [&](long lo, long hi, const char* what, long& n) {
        char* end = nullptr;
        n = std::strtol(v.c_str(), &end, 10);
        return !v.empty() && *end == '\0' && n >= lo && n <= hi ? std::string()
                                                                 : arg + " takes " + what + " from " + std::to_string(lo) +
                                                                       " to " + std::to_string(hi) + ", not '" + v + "'";
      };
      long n = 0;
      if (arg == "-o") {
        out = v;
      } else if (arg == "--year") {
        if (const std::string bad = number(1, 9999, "a year", n); !bad.empty()) return fail(bad);
        year = static_cast<int>(n);
      } else if (arg == "--climada") {
        outputs.climada_dir = v;
      } else if (arg == "--climada-hdf5") {
        outputs.climada_file = v;
      } else if (arg == "--atcf") {
        outputs.atcf_dir = v;
      } else {
        if (const std::string bad = number(arg == "--atcf-step" ? 1 : 0, arg == "--atcf-step" ? 240 : 999, "hours", n);
            !bad.empty())
          return fail(bad);
        (arg == "--atcf-step" ? outputs.atcf.step_h : outputs.atcf.max_tau_h) = static_cast<int>(n);
        adeck_options = true;
      }
    } else if (!arg.empty() && arg[0] == '-') {
      return fail("unknown option '" + arg + "'\n" + usage);
    } else {
      std::string dir = arg;
      while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
      args.push_back(dir);
    }
  }
  if (adeck_options && outputs.atcf_dir.empty()) return fail("--atcf-step and --atcf-max-tau go with --atcf DIR");
  const bool with_outputs = command == "merge" || command == "export";
  if (outputs.any() && !with_outputs) return fail("--climada, --climada-hdf5 and --atcf go with merge and export");
  const std::string history = tarvo::command_line(argc, argv);
  try {
    if (command == "pack" && !args.empty() && !out.empty()) return pack(args, out, year, history);
    if (command == "unpack" && args.size() == 2 && out.empty()) return unpack(args[0], args[1]);
    if (command == "merge" && !args.empty() && !out.empty()) {
      const tarvo::ForecastOutputsSummary s = tarvo::merge_forecast_files(args, out, outputs, history);
      std::printf("%zu parts -> %s\n%s", args.size(), out.c_str(), tarvo::outputs_report(outputs, s).c_str());
      return 0;
    }
    if (command == "export" && args.size() == 1 && out.empty() && outputs.any()) {
      const tarvo::ForecastOutputsSummary s = tarvo::export_forecasts(args[0], outputs, history);
      std::fputs(tarvo::outputs_report(outputs, s).c_str(), stdout);
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
