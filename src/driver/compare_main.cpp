// tarvo-compare: the forecasts of one catalog's storms under two climates,
// compared as risk analysts look at them (docs/risk.md).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "api/risk.hpp"
#include "api/tarvo.hpp"
#include "driver/python_plot.hpp"

namespace {

const char* usage =
    "usage: tarvo-compare PRESENT.nc FUTURE.nc --catalog TRACKS.nc [--data DIR] [--labels A,B]\n"
    "                     [--csv FILE] [--plot FILE.png] [--resamples N]\n"
    "       tarvo-compare --version\n"
    "  the forecasts of the same storms (tarvo-batch --catalog TRACKS.nc) under two\n"
    "  environments: the quantiles of their lifetime maximum intensity with bootstrap\n"
    "  intervals (90 %, N resamples of the storms, default 1000), the storms of each\n"
    "  Saffir-Simpson category, the exceedance curve of the lifetime maximum wind, the\n"
    "  wind at landfall (the first sample over land after sea, by the elevation of the\n"
    "  ocean grids in DIR) and the share of storms that intensify rapidly (30 kt in 24 h);\n"
    "  every change paired storm by storm. --plot draws the exceedance curves and the\n"
    "  categories side by side (matplotlib).\n";

int fail(const std::string& message) {
  std::fprintf(stderr, "tarvo-compare: %s\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  tarvo::ComparisonInputs in;
  tarvo::ComparisonOptions options;
  std::string csv, png, labels = "present,future";
  for (int a = 1; a < argc; ++a) {
    const std::string arg = argv[a];
    if (arg == "-h" || arg == "--help") {
      std::fputs(usage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::fputs(tarvo::version_text("tarvo-compare").c_str(), stdout);
      return 0;
    }
    if (arg == "--catalog" || arg == "--data" || arg == "--csv" || arg == "--plot" || arg == "--labels" ||
        arg == "--resamples") {
      if (a + 1 >= argc) return fail(arg + " needs a value\n" + usage);
      const std::string v = argv[++a];
      if (arg == "--catalog") in.catalog = v;
      else if (arg == "--data") in.data_dir = v;
      else if (arg == "--csv") csv = v;
      else if (arg == "--plot") png = v;
      else if (arg == "--labels") labels = v;
      else {
        char* end = nullptr;
        const long n = std::strtol(v.c_str(), &end, 10);
        if (v.empty() || *end != '\0' || n < 0 || n > 100000) return fail("--resamples takes 0 to 100000, not '" + v + "'");
        options.resamples = static_cast<int>(n);
      }
      continue;
    }
    if (!arg.empty() && arg[0] == '-') return fail("unknown option " + arg + "\n" + usage);
    files.push_back(arg);
  }
  if (files.size() != 2) return fail("two forecast files are compared: PRESENT.nc FUTURE.nc\n" + std::string(usage));
  if (in.catalog.empty()) return fail("--catalog TRACKS.nc: the catalog both forecasts were made from\n" + std::string(usage));
  const std::size_t comma = labels.find(',');
  if (comma == std::string::npos || comma == 0 || comma + 1 == labels.size())
    return fail("--labels takes two names, as present,future");
  const std::string label_a = labels.substr(0, comma), label_b = labels.substr(comma + 1);
  in.present = files[0];
  in.future = files[1];
  try {
    std::vector<std::string> notes;
    const tarvo::ClimateComparison c = tarvo::compare_forecast_files(in, options, notes);
    std::fputs(tarvo::comparison_table(c, label_a, label_b).c_str(), stdout);
    for (const std::string& n : notes) std::printf("note: %s\n", n.c_str());
    const std::string table = tarvo::comparison_csv(c);
    if (!csv.empty()) tarvo::write_text_file(csv, table);
    if (!png.empty()) {
      char tmp[] = "/tmp/tarvo-compare-XXXXXX";
      const int fd = mkstemp(tmp);
      if (fd < 0) return fail("cannot write a temporary file for the plot");
      const bool written = write(fd, table.data(), table.size()) == static_cast<ssize_t>(table.size());
      close(fd);
      const std::string why = written ? tarvo::draw_with_python({"compare", tmp, png, label_a, label_b})
                                      : std::string("cannot write a temporary file for the plot");
      unlink(tmp);
      if (!why.empty()) return fail(png + ": " + why);
      std::printf("picture: %s\n", png.c_str());
    }
  } catch (const tarvo::InputError& e) {
    return fail(e.what());
  }
  return 0;
}
