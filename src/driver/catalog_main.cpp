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
#include "api/tracks.hpp"

namespace {

namespace fs = std::filesystem;

const char* usage =
    "usage: tarvo-catalog pack CASE_DIR... -o TRACKS.nc [--year YYYY]\n"
    "       tarvo-catalog unpack TRACKS.nc DIR\n"
    "       tarvo-catalog merge PART.nc... -o ALL.nc [OUTPUTS]\n"
    "       tarvo-catalog export FORECASTS.nc OUTPUTS\n"
    "       tarvo-catalog check TRACKS.nc\n"
    "       tarvo-catalog import FILE... [--format ibtracs|hurdat2|atcf|cf|climada|storm|csv] [--columns MAP]\n"
    "                     [--basin NA] [--season YYYY]\n"
    "                     [--storm SID] [--wind usa|wmo] [--starts RULE] [--history H] [--min-lead H]\n"
    "                     [--max-lead H] [--params FILE] [--env FIELDS.nc... [--env-options K=V,...]]\n"
    "                     -o TRACKS.nc\n"
    "       tarvo-catalog env TRACKS.nc --env FIELDS.nc... [--env-options K=V,...]\n"
    "                     [--climatology [--period 1991-2020]] -o TRACKS-ENV.nc\n"
    "       tarvo-catalog --version\n"
    "  pack      case directories (params.in, track.in) into one catalog; a storm's\n"
    "            sid is its directory's name, its reference time in year YYYY\n"
    "            (default 2001: track.in has no year, and tarvo's calendar no leap day)\n"
    "  unpack    a catalog into DIR/<sid>/ with params.in and track.in\n"
    "  merge     forecast files of shares of one catalog (tarvo-batch --shard) into\n"
    "            one, every storm exactly once, in catalog order\n"
    "  export    the files for CLIMADA and ATCF made from a forecast file\n"
    "  check     reads every storm of a catalog and says what is wrong\n"
    "  import    best tracks (IBTrACS NetCDF, HURDAT2, ATCF b-decks, CF trajectories) or\n"
    "            synthetic ones (CLIMADA's write_hdf5 file or write_netcdf folder, STORM's\n"
    "            text, a CSV with --columns sid=C,time=C,lat=C,lon=C,vmax=C,unit=kt, docs/risk.md) to a\n"
    "            catalog: the forecast starts of each storm (--starts every:6h for\n"
    "            hindcasts, first+24h (the default) once, or YYYYMMDDHH), each with --history\n"
    "            h of track before (24) and up to --max-lead h after (120; 0: to its end);\n"
    "            with --env, the environment along the tracks from gridded fields (NetCDF or GRIB)\n"
    "            forecast cycles: BDECK --track-from ADECK [--tech OFCL] [--cycles all|YYYYMMDDHH]\n"
    "            [--history-from bdeck|carq]: a storm a cycle, the best track up to it, the\n"
    "            technique's positions after it\n"
    "  env       the environment of a catalog's storms from gridded fields (ERA5 or CMIP\n"
    "            names: t/ta, q/hus or r/hur, u/ua, v/va on pressure levels, sst/tos, msl/psl)\n"
    "            --env-options: ckcd=0.9, ascent=reversible|pseudo, dissipative=yes|no,\n"
    "            reduction=0.8, ptop=50, missing=fail|skip, parcel=first|above,\n"
    "            annulus=200-800, shear=200-850, mid=600; --climatology takes monthly\n"
    "            fields as a 12-month climatology whatever the tracks' years (synthetic\n"
    "            tracks), --period 1991-2020 each month the mean of those years\n"
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
  reader.check_sids();
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

void print_notes(const std::vector<std::string>& notes, std::size_t shown = 10) {
  for (std::size_t i = 0; i < notes.size() && i < shown; ++i) std::printf("  %s\n", notes[i].c_str());
  if (notes.size() > shown) std::printf("  ... and %zu more like these\n", notes.size() - shown);
}

void print_environment(const tarvo::EnvironmentReport& r) {
  std::printf("environment: %zu fixes: %zu with the potential intensity of their column, %zu filled in time from the "
              "nearest fixes with one (over land or sea ice)",
              r.computed + r.filled, r.computed, r.filled);
  if (!r.without_pi.empty()) std::printf("; %zu storms left out, no fix over the sea", r.without_pi.size());
  std::printf("\n");
  print_notes(r.notes, 3);
}

int check(const std::string& in) {
  const tarvo::CatalogReader reader(in);
  reader.check_sids();
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
  std::vector<std::string> args, env_files;
  std::string out;
  int year = 2001;
  tarvo::ForecastOutputs outputs;
  tarvo::ImportOptions import;
  bool adeck_options = false, import_options = false, env_options = false;
  const std::string history = tarvo::command_line(argc, argv);
  for (int a = 2; a < argc; ++a) {
    const std::string arg = argv[a];
    if (arg == "--env") {  // the field files: every word up to the next option
      while (a + 1 < argc && argv[a + 1][0] != '-') env_files.push_back(argv[++a]);
      if (env_files.empty()) return fail("--env needs one or more field files");
      continue;
    }
    if (arg == "--climatology") {  // monthly fields for any year (their years averaged: --period)
      import.environment.times.climatology = true;
      env_options = true;
      continue;
    }
    if (arg == "--period") {
      if (a + 1 >= argc) return fail("--period needs the years: --period 1991-2020");
      const std::string v = argv[++a];
      std::string why;
      if (!tarvo::parse_environment_options("climatology=" + v, import.environment, why) || v == "yes" || v == "no")
        return fail("--period takes the years to average, as 1991-2020, not '" + v + "'");
      env_options = true;
      continue;
    }
    if (arg == "--format" || arg == "--basin" || arg == "--season" || arg == "--storm" || arg == "--wind" ||
        arg == "--starts" || arg == "--history" || arg == "--min-lead" || arg == "--max-lead" || arg == "--params" ||
        arg == "--env-options" || arg == "--track-from" || arg == "--tech" || arg == "--cycles" ||
        arg == "--history-from" || arg == "--columns") {
      if (a + 1 >= argc) return fail(arg + " needs a value\n" + usage);
      const std::string v = argv[++a];
      auto hours = [&](int& h, int lo) {
        char* end = nullptr;
        const long n = std::strtol(v.c_str(), &end, 10);
        if (v.empty() || *end != '\0' || n < lo || n > 1199) return false;
        h = static_cast<int>(n);
        return true;
      };
      std::string why;
      if (arg == "--env-options") {
        if (!tarvo::parse_environment_options(v, import.environment, why)) return fail(why);
        env_options = true;
        continue;
      }
      import_options = true;
      if (arg == "--track-from") {
        import.adeck = v;
      } else if (arg == "--tech") {
        import.cycles.tech = v;
      } else if (arg == "--cycles") {
        if (!tarvo::parse_cycles(v, import.cycles.cycle_hours, why)) return fail(why);
      } else if (arg == "--history-from") {
        if (v != "carq" && v != "bdeck") return fail("--history-from is bdeck (the best track) or carq, not '" + v + "'");
        import.cycles.history_from_carq = v == "carq";
      } else if (arg == "--format") {
        tarvo::BestTrackFormat f;
        if (!tarvo::parse_best_track_format(v, f))
          return fail("--format is ibtracs, hurdat2, atcf, cf, climada, storm or csv, not '" + v + "'");
        import.format = v;
      } else if (arg == "--columns") {
        import.selection.columns = v;
      } else if (arg == "--basin") {
        import.selection.basin = tarvo::tarvo_basin(v);
        if (import.selection.basin.empty())
          return fail("--basin '" + v + "' is not a basin code tarvo knows: give " + tarvo::basin_codes_accepted);
        import.hindcast.basin = import.selection.basin;
      } else if (arg == "--season") {
        char* end = nullptr;
        const long y = std::strtol(v.c_str(), &end, 10);
        if (v.empty() || *end != '\0' || y < 1 || y > 9999) return fail("--season takes a year, not '" + v + "'");
        import.selection.season = static_cast<int>(y);
      } else if (arg == "--storm") {
        import.selection.storm = v;
      } else if (arg == "--wind") {
        if (v != "usa" && v != "wmo") return fail("--wind is usa (IBTrACS usa_wind, 1-minute) or wmo, not '" + v + "'");
        import.selection.wind = v;
      } else if (arg == "--starts") {
        if (!tarvo::parse_start_rule(v, import.hindcast.starts, why)) return fail(why);
      } else if (arg == "--history") {
        if (!hours(import.hindcast.history_h, 0)) return fail("--history takes hours from 0 to 1199, not '" + v + "'");
      } else if (arg == "--min-lead") {
        if (!hours(import.hindcast.min_lead_h, 0)) return fail("--min-lead takes hours from 0 to 1199, not '" + v + "'");
      } else if (arg == "--max-lead") {
        if (!hours(import.hindcast.max_lead_h, 0)) return fail("--max-lead takes hours from 0 to 1199, not '" + v + "'");
      } else if (arg == "--params") {
        try {
          import.hindcast.params = tarvo::read_params_file(v);
        } catch (const tarvo::InputError& e) {
          return fail(e.what());
        }
      }
      continue;
    }
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
  if (import_options && command != "import")
    return fail("--format, --basin, --season, --storm, --wind, --starts, --history, --min-lead, --max-lead, --params, "
                "--track-from, --tech, --cycles and --history-from go with import");
  if ((!env_files.empty() || env_options) && command != "import" && command != "env")
    return fail("--env, --env-options, --climatology and --period go with import and env");
  if (env_options && env_files.empty()) return fail("--env-options, --climatology and --period go with --env FIELDS.nc...");
  try {
    if (command == "import" && !args.empty() && !out.empty()) {
      import.files = args;
      import.field_files = env_files;
      const tarvo::ImportSummary s = tarvo::import_catalog(import, out, history);
      std::printf("%zu storms, %zu forecast starts -> %s\n", s.tracks, s.storms, out.c_str());
      print_notes(s.notes);
      if (!env_files.empty()) print_environment(s.environment);
      else if (!s.with_environment)
        std::printf("the catalog has no environment yet: fill it with tarvo-catalog env %s --env FIELDS.nc... -o ...\n",
                    out.c_str());
      return 0;
    }
    if (command == "env" && args.size() == 1 && !out.empty()) {
      if (env_files.empty()) return fail("env needs --env FIELDS.nc...");
      const tarvo::EnvironmentReport r = tarvo::environment_catalog(args[0], env_files, import.environment, out, history);
      print_environment(r);
      std::printf("-> %s\n", out.c_str());
      return 0;
    }
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
