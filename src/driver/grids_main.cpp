// tarvo-grids: the ocean grids of data/ from public data sets, and a look at
// a data/ folder before it is trusted.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "api/grids.hpp"
#include "api/tarvo.hpp"
#include "driver/python_plot.hpp"

namespace {

const char* usage =
    "usage: tarvo-grids build --elevation FILE --temperature FILE... [--mld FILE...] -o DIR [options]\n"
    "       tarvo-grids check DIR [--plot OUT_DIR] [--month M]\n"
    "       tarvo-grids --version\n"
    "  build   writes DIR/bathsmooth2.dat, mix01..mix12, stratnorm01..stratnorm12 and grids.json\n"
    "          (whole or not at all) from\n"
    "            --elevation  ETOPO 2022 (z), GEBCO (elevation) or any CF grid of elevation or depth\n"
    "            --temperature the twelve World Ocean Atlas monthly files (woa23_<period>_tMM_01.nc),\n"
    "                         or a CF file (or twelve) of sea_water_temperature or\n"
    "                         sea_water_potential_temperature on depth levels (a model's thetao)\n"
    "            --mld        a mixed-layer depth climatology (de Boyer Montegut's mld_dr003, Holte et\n"
    "                         al.'s mld_da_mean, WOA18's M_an); without it, from the temperatures\n"
    "          options: --strat-depth M (100: the depth below the mixed layer the gradient is taken\n"
    "          over, K per 100 m), --least-remaining M (20), --mld-threshold K (0.2), --mld-reference M\n"
    "          (10), --elevation-variable, --temperature-variable, --mld-variable NAME, --force\n"
    "          (replace DIR), --quiet (no progress)\n"
    "  check   the ranges of each grid a month, the share of ocean, filled and zero-gradient cells, and\n"
    "          warnings of implausible values; --plot draws maps of month --month (default 9) into OUT_DIR\n";

int fail(const std::string& message) {
  std::fprintf(stderr, "tarvo-grids: %s\n", message.c_str());
  return 2;
}

bool positive_number(const std::string& v, double& out) {
  char* end = nullptr;
  out = std::strtod(v.c_str(), &end);
  return !v.empty() && *end == '\0' && out >= 0.0 && out < 1e5;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "--version") {
    std::fputs(tarvo::version_text("tarvo-grids").c_str(), stdout);
    return 0;
  }
  if (argc < 2 || std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help") {
    std::fputs(usage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::string command = argv[1];
  tarvo::GridBuildOptions o;
  o.command = tarvo::command_line(argc, argv);
  std::vector<std::string> args;
  std::vector<std::string>* list = nullptr;  // the option taking several files
  std::string plot_dir;
  int month = 9;
  bool quiet = false;
  for (int a = 2; a < argc; ++a) {
    const std::string arg = argv[a];
    if (arg == "--temperature" || arg == "--mld") {
      list = arg == "--temperature" ? &o.temperature : &o.mld;
      continue;
    }
    if (arg == "--force" || arg == "--quiet") {
      (arg == "--force" ? o.force : quiet) = true;
      list = nullptr;
      continue;
    }
    if (arg == "--elevation" || arg == "-o" || arg == "--strat-depth" || arg == "--least-remaining" ||
        arg == "--mld-threshold" || arg == "--mld-reference" || arg == "--elevation-variable" ||
        arg == "--temperature-variable" || arg == "--mld-variable" || arg == "--plot" || arg == "--month") {
      list = nullptr;
      if (a + 1 >= argc) return fail(arg + " needs a value\n" + usage);
      const std::string v = argv[++a];
      double x = 0.0;
      if (arg == "--elevation") o.elevation = v;
      else if (arg == "-o") o.output = v;
      else if (arg == "--elevation-variable") o.elevation_variable = v;
      else if (arg == "--temperature-variable") o.temperature_variable = v;
      else if (arg == "--mld-variable") o.mld_variable = v;
      else if (arg == "--plot") plot_dir = v;
      else if (arg == "--month") {
        if (!positive_number(v, x) || x < 1 || x > 12 || x != static_cast<int>(x)) return fail("--month takes 1..12, not '" + v + "'");
        month = static_cast<int>(x);
      } else {
        if (!positive_number(v, x)) return fail(arg + " takes a number of 0 or more, not '" + v + "'");
        if (arg == "--strat-depth") o.column.strat_depth_m = x;
        else if (arg == "--least-remaining") o.column.min_remaining_m = x;
        else if (arg == "--mld-threshold") o.column.threshold_k = x;
        else o.column.reference_m = x;
      }
      continue;
    }
    if (!arg.empty() && arg[0] == '-') return fail("unknown option '" + arg + "'\n" + usage);
    if (list) list->push_back(arg);
    else args.push_back(arg);
  }
  try {
    if (command == "build") {
      if (!args.empty()) return fail("build takes no words but its options: '" + args.front() + "'\n" + usage);
      if (o.elevation.empty() || o.temperature.empty() || o.output.empty())
        return fail(std::string("build needs --elevation, --temperature and -o\n") + usage);
      const tarvo::GridBuildReport r = tarvo::build_grids(o, quiet ? nullptr : stderr);
      std::fputs(r.summary().c_str(), stdout);
      return 0;
    }
    if (command == "check") {
      if (args.size() != 1) return fail(std::string("check takes one folder\n") + usage);
      const tarvo::GridCheckReport r = tarvo::check_grids(args[0]);
      std::fputs(r.table().c_str(), stdout);
      if (!plot_dir.empty()) {
        const std::string why = tarvo::draw_with_python({"grids", args[0], plot_dir, std::to_string(month)});
        if (!why.empty()) return fail(plot_dir + ": " + why);
        std::printf("maps of month %d -> %s/\n", month, plot_dir.c_str());
      }
      return 0;
    }
  } catch (const tarvo::InputError& e) {
    return fail(e.what());
  } catch (const std::bad_alloc&) {
    return fail("out of memory");
  }
  return fail("unknown command '" + command + "'\n" + usage);
}
