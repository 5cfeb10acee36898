// tarvo-verify: forecasts against what was observed. Hindcasts of a catalog
// against its best track (--catalog, --forecasts): the mean absolute error
// and bias of the maximum wind by lead time, basin and overall, with the
// skill against persistence; or finished case directories against their
// track.in.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "api/batch.hpp"
#include "driver/python_plot.hpp"
#include "api/tarvo.hpp"
#include "api/tracks.hpp"

namespace {

const char* usage =
    "usage: tarvo-verify --catalog TRACKS.nc --forecasts OUT.nc [--csv FILE] [--plot FILE.png]\n"
    "       tarvo-verify --adeck ADECK --bdeck BDECK --techs TRVO,TRVI,OFCL,... [--ensemble OUT.nc...]\n"
    "                    [--csv FILE] [--reliability-csv FILE] [--plot FILE.png]\n"
    "       tarvo-verify [--csv FILE] CASE_DIR...\n"
    "       tarvo-verify --version\n"
    "  the maximum wind of hindcasts (tarvo-batch --catalog TRACKS.nc --out OUT.nc) against\n"
    "  the best track of the catalog at lead times 0 to 120 h: mean absolute error and bias\n"
    "  by basin and overall, homogeneous, with the skill against persistence; --plot draws\n"
    "  them against lead time (matplotlib). Or finished case directories (track.in, track.out).\n"
    "  --adeck: the a-deck's techniques against the b-deck as forecast centres verify them: a\n"
    "  homogeneous sample of tropical and subtropical cyclones at 0 to 120 h, the skill against\n"
    "  OCD5 (or persistence); with --ensemble, the reliability of its rapid intensification.\n";

int fail(const std::string& message) {
  std::fprintf(stderr, "tarvo-verify: %s\n", message.c_str());
  return 2;
}

// The plot, drawn by the tarvo package's Python (matplotlib) from the table.
int plot(const std::string& csv_text, const std::string& png) {
  char csv[] = "/tmp/tarvo-verify-XXXXXX";
  const int fd = mkstemp(csv);
  if (fd < 0) return fail("cannot write a temporary file for the plot");
  const bool written = write(fd, csv_text.data(), csv_text.size()) == static_cast<ssize_t>(csv_text.size());
  close(fd);
  if (!written) {
    unlink(csv);
    return fail("cannot write a temporary file for the plot");
  }
  const std::string why = tarvo::draw_with_python({"verification", csv, png});
  unlink(csv);
  return why.empty() ? 0 : fail(png + ": " + why);
}

}  // namespace

// The a-deck's techniques against its b-deck.
int verify_aids_main(const std::string& adeck, const std::string& bdeck, const std::string& techs_text,
                     const std::vector<std::string>& ensemble, const std::string& csv, const std::string& reliability,
                     const std::string& png) {
  std::vector<std::string> techs;
  for (std::size_t start = 0; start <= techs_text.size();) {
    const std::size_t comma = techs_text.find(',', start);
    const std::string t = techs_text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (!t.empty()) techs.push_back(t);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (techs.empty()) return fail("--techs names the techniques to verify: TRVO,TRVI,OFCL,...");
  try {
    const tarvo::AidVerification v = tarvo::verify_aid_files(adeck, bdeck, techs, ensemble);
    std::fputs(tarvo::aid_table(v).c_str(), stdout);
    if (!csv.empty()) tarvo::write_text_file(csv, tarvo::aid_csv(v));
    if (!reliability.empty()) {
      if (ensemble.empty()) return fail("--reliability-csv goes with --ensemble OUT.nc...");
      tarvo::write_text_file(reliability, tarvo::reliability_csv(v));
    }
    if (!png.empty()) {
      char errors[] = "/tmp/tarvo-verify-XXXXXX", rel[] = "/tmp/tarvo-verify-XXXXXX";
      const int a = mkstemp(errors), b = mkstemp(rel);
      if (a < 0 || b < 0) return fail("cannot write a temporary file for the plot");
      const std::string e_text = tarvo::aid_csv(v), r_text = tarvo::reliability_csv(v);
      const bool written = write(a, e_text.data(), e_text.size()) == static_cast<ssize_t>(e_text.size()) &&
                           write(b, r_text.data(), r_text.size()) == static_cast<ssize_t>(r_text.size());
      close(a);
      close(b);
      const std::string why = written ? tarvo::draw_with_python({"aids", errors, rel, png}) : "cannot write a temporary file";
      unlink(errors);
      unlink(rel);
      if (!why.empty()) return fail(png + ": " + why);
      std::printf("plot -> %s\n", png.c_str());
    }
    return 0;
  } catch (const tarvo::InputError& e) {
    return fail(e.what());
  }
}

int main(int argc, char** argv) {
  std::vector<std::string> dirs, ensemble;
  std::string csv, catalog, forecasts, png, adeck, bdeck, techs, reliability;
  for (int a = 1; a < argc; ++a) {
    const std::string arg = argv[a];
    if (arg == "--version") {
      std::fputs(tarvo::version_text("tarvo-verify").c_str(), stdout);
      return 0;
    }
    if (arg == "-h" || arg == "--help") {
      std::fputs(usage, stdout);
      return 0;
    }
    if (arg == "--csv" || arg == "--catalog" || arg == "--forecasts" || arg == "--plot" || arg == "--adeck" ||
        arg == "--bdeck" || arg == "--techs" || arg == "--reliability-csv") {
      if (a + 1 >= argc) return fail(arg + " needs a value\n" + usage);
      (arg == "--csv" ? csv : arg == "--catalog" ? catalog : arg == "--forecasts" ? forecasts : arg == "--plot" ? png
       : arg == "--adeck" ? adeck : arg == "--bdeck" ? bdeck : arg == "--techs" ? techs : reliability) = argv[++a];
      continue;
    }
    if (arg == "--ensemble") {  // its forecast files: every word up to the next option
      while (a + 1 < argc && argv[a + 1][0] != '-') ensemble.push_back(argv[++a]);
      if (ensemble.empty()) return fail("--ensemble needs one or more forecast files");
      continue;
    }
    if (!arg.empty() && arg[0] == '-') return fail("unknown option '" + arg + "'\n" + usage);
    dirs.push_back(arg);
  }
  if (!adeck.empty() || !bdeck.empty() || !techs.empty() || !ensemble.empty()) {
    if (adeck.empty() || bdeck.empty() || techs.empty() || !dirs.empty() || !catalog.empty())
      return fail(std::string("--adeck, --bdeck and --techs go together (with --ensemble), without --catalog or "
                              "case directories\n") + usage);
    return verify_aids_main(adeck, bdeck, techs, ensemble, csv, reliability, png);
  }
  if (!catalog.empty() || !forecasts.empty()) {
    if (catalog.empty() || forecasts.empty() || !dirs.empty())
      return fail(std::string("--catalog and --forecasts go together, without case directories\n") + usage);
    try {
      const tarvo::HindcastVerification v = tarvo::verify_hindcasts(catalog, forecasts);
      std::fputs(tarvo::hindcast_table(v).c_str(), stdout);
      if (!csv.empty()) tarvo::write_text_file(csv, tarvo::hindcast_csv(v));
      if (!png.empty()) {
        if (const int status = plot(tarvo::hindcast_csv(v), png); status != 0) return status;
        std::printf("plot -> %s\n", png.c_str());
      }
      return 0;
    } catch (const tarvo::InputError& e) {
      return fail(e.what());
    }
  }
  if (!png.empty()) return fail("--plot goes with --catalog and --forecasts");
  if (dirs.empty()) {
    std::fputs(usage, stderr);
    return 2;
  }
  std::vector<tarvo::CaseVerification> cases;
  int status = 0;
  for (const std::string& dir : dirs) {
    try {
      cases.push_back(tarvo::verify_case(dir));
    } catch (const tarvo::InputError& e) {
      std::fprintf(stderr, "tarvo-verify: %s\n", e.what());
      status = 2;
    }
  }
  std::fputs(tarvo::verification_table(cases).c_str(), stdout);
  if (!csv.empty()) {
    try {
      tarvo::write_text_file(csv, tarvo::verification_csv(cases));
    } catch (const tarvo::InputError& e) {
      return fail(e.what());
    }
  }
  return status;
}
