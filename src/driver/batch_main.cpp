// tarvo-batch: runs many forecasts in one process, each distinct grid set
// loaded once, the cases on a pool of threads; then a summary and the
// verification of the modelled against the observed maximum wind.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "api/batch.hpp"
#include "api/catalog.hpp"
#include "api/tarvo.hpp"

namespace {

const char* usage =
    "usage: tarvo-batch [-j N] [--data DIR] [--shard K/N] [--csv FILE] [--no-verify] CASE_DIR...\n"
    "       tarvo-batch [-j N] --data DIR [--shard K/N] --catalog IN.nc --out OUT.nc\n"
    "                   [--chunk N] [--resume] [--climada DIR] [--climada-hdf5 FILE]\n"
    "                   [--atcf DIR [--atcf-step H] [--atcf-max-tau H]]\n"
    "                   [--members N [--seed S] [--spread vpot=3,shear=4,...] [--ri-table FILE]]\n"
    "       tarvo-batch --version\n"
    "  runs tarvo in every CASE_DIR (each with params.in and track.in) and writes\n"
    "  its track.out there; grids come from DIR or from each case's data/.\n"
    "  --shard K/N runs the K-th (0-based) of N shares of the sorted cases; in a\n"
    "  Slurm job array the share comes from SLURM_ARRAY_TASK_ID/COUNT/MIN.\n"
    "  --catalog forecasts every storm of a catalog file (docs/catalog.md) into\n"
    "  OUT.nc, written whole or not at all; finished chunks (of N storms, default\n"
    "  256) wait in OUT.nc.parts/ and --resume finishes a run that died.\n"
    "  From OUT.nc, for the storms with samples: --climada DIR a CLIMADA track file\n"
    "  <sid>.nc each (TCTracks.from_netcdf), --climada-hdf5 FILE one file of them\n"
    "  all (TCTracks.from_hdf5), --atcf DIR the ATCF a-decks, every forecast of a\n"
    "  storm joined into its a-deck, a line every H hours (default 6) from TAU 0\n"
    "  to TAU H (default 240) (docs/atcf.md). A share writes no a-decks: make them\n"
    "  with tarvo-catalog merge ... --atcf DIR.\n"
    "  --members N runs an ensemble of each storm: member 0 the storm as given, the\n"
    "  others with its environment, positions and feedback gain perturbed (seed S,\n"
    "  spreads at 48 h: vpot=3 m/s, shear=4 m/s, t600=0.5 K, rh600=8 %, gain=0.3,\n"
    "  track=1 times NHC's cone; docs/forecast.md); OUT.nc gets each member, the\n"
    "  mean (TRVE in the a-decks), the 10/50/90 % quantiles and the probability of\n"
    "  rapid intensification, printed as a table (and written to --ri-table FILE).\n";

// A whole number option's value, or exit 2 saying what it takes.
long whole_number(const std::string& option, const std::string& v, long lo, long hi, const char* what) {
  char* end = nullptr;
  const long n = std::strtol(v.c_str(), &end, 10);
  if (v.empty() || *end != '\0' || n < lo || n > hi) {
    std::fprintf(stderr, "tarvo-batch: %s takes %s from %ld to %ld, not '%s'\n", option.c_str(), what, lo, hi,
                 v.c_str());
    std::exit(2);
  }
  return n;
}

std::string clock_text(double seconds) {
  const long s = std::lround(seconds);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  return buf;
}

// Progress on standard error: a bar redrawn in place on a terminal, a line
// every tenth of the work otherwise.
class ProgressBar {
 public:
  explicit ProgressBar(const char* what) : what_(what), tty_(isatty(fileno(stderr))) {}
  void show(int done, int failed, int total) {
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double left = done > 0 ? elapsed / done * (total - done) : 0.0;
    const int tenth = total > 0 ? done * 10 / total : 10;
    if (!tty_ && tenth == last_tenth_ && done != total) return;
    last_tenth_ = tenth;
    constexpr int width = 30;
    const int filled = total > 0 ? done * width / total : width;
    std::fprintf(stderr, "%s[%s%s] %d/%d %s, %d failed, %s left%s", tty_ ? "\r" : "",
                 std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(width - filled), '.').c_str(), done, total, what_, failed,
                 clock_text(left).c_str(), tty_ ? "" : "\n");
    std::fflush(stderr);
  }
  void close() {
    if (tty_) std::fputc('\n', stderr);
  }
  double seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  const char* what_;
  bool tty_;
  int last_tenth_ = 0;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

int run_catalog_main(const std::string& in, const std::string& out, const std::string& data_dir,
                     const tarvo::CatalogOptions& options, const std::string& ri_table) {
  try {
    const tarvo::OceanGrids grids = tarvo::load_grids(data_dir);
    ProgressBar bar("storms");
    const tarvo::CatalogSummary s = tarvo::run_catalog(
        in, out, grids, options, [&](int done, int failed, int total) { bar.show(done, failed, total); });
    bar.close();
    for (const std::string& f : s.failures) std::printf("failed  %s\n", f.c_str());
    for (const std::string& a : s.set_aside)
      std::printf("set aside  %s: its storms were forecast again\n", a.c_str());
    if (!s.set_aside.empty())
      std::printf("%zu parts of the run before could not be taken up and were set aside\n", s.set_aside.size());
    const int k = options.shard_k, n = options.shard_n;
    std::printf("%d storms%s: %d finished, %d stopped early, %d failed in %.2f s (%d threads%s) -> %s\n", s.storms,
                n > 1 ? (" (share " + std::to_string(k) + " of " + std::to_string(n) + ")").c_str() : "",
                s.storms - s.stopped - s.failed, s.stopped, s.failed, bar.seconds(), options.threads,
                s.resumed > 0 ? (", " + std::to_string(s.resumed) + " storms kept from the run before").c_str() : "",
                out.c_str());
    std::fputs(tarvo::outputs_report(options.outputs, s.outputs).c_str(), stdout);
    if (options.ensemble.members > 1) {
      const std::string table = tarvo::rapid_intensification_table(out);
      std::fputs(table.c_str(), stdout);
      if (!ri_table.empty()) tarvo::write_text_file(ri_table, table);
    }
    return s.failed > 0 ? 2 : 0;
  } catch (const tarvo::InputError& e) {
    std::fprintf(stderr, "tarvo-batch: %s\n", e.what());
    return 2;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "tarvo-batch: out of memory\n");
    return 2;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGXFSZ, SIG_IGN);  // a write past a size limit fails with a message
  tarvo::BatchOptions options;
  options.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::vector<std::string> cases;
  std::string csv, catalog_in, catalog_out;
  tarvo::ForecastOutputs outputs;
  bool verify = true, shard_given = false, resume = false, adeck_options = false, ensemble_options = false;
  tarvo::EnsembleOptions ensemble;
  std::string ri_table;
  long chunk = 256;
  int shard_k = 0, shard_n = 1;
  for (int a = 1; a < argc; ++a) {
    const std::string arg = argv[a];
    auto value = [&](const char* what) -> std::string {
      if (a + 1 >= argc) {
        std::fprintf(stderr, "tarvo-batch: %s needs a value\n%s", what, usage);
        std::exit(2);
      }
      return argv[++a];
    };
    if (arg == "-j") {
      const std::string v = value("-j");
      char* end = nullptr;
      const long j = std::strtol(v.c_str(), &end, 10);
      if (*end != '\0' || j < 1 || j > 4096) {
        std::fprintf(stderr, "tarvo-batch: -j takes a whole number from 1 to 4096, not '%s'\n", v.c_str());
        return 2;
      }
      options.threads = static_cast<int>(j);
    } else if (arg == "--data") {
      options.data_dir = value("--data");
    } else if (arg == "--shard") {
      const std::string v = value("--shard");
      if (!tarvo::parse_shard(v, shard_k, shard_n)) {
        std::fprintf(stderr, "tarvo-batch: --shard takes K/N with 0 <= K < N, not '%s'\n", v.c_str());
        return 2;
      }
      shard_given = true;
    } else if (arg == "--csv") {
      csv = value("--csv");
    } else if (arg == "--catalog") {
      catalog_in = value("--catalog");
    } else if (arg == "--out") {
      catalog_out = value("--out");
    } else if (arg == "--climada") {
      outputs.climada_dir = value("--climada");
    } else if (arg == "--climada-hdf5") {
      outputs.climada_file = value("--climada-hdf5");
    } else if (arg == "--atcf") {
      outputs.atcf_dir = value("--atcf");
    } else if (arg == "--atcf-step") {
      outputs.atcf.step_h = static_cast<int>(whole_number(arg, value("--atcf-step"), 1, 240, "hours"));
      adeck_options = true;
    } else if (arg == "--atcf-max-tau") {
      outputs.atcf.max_tau_h = static_cast<int>(whole_number(arg, value("--atcf-max-tau"), 0, 999, "hours"));
      adeck_options = true;
    } else if (arg == "--members") {
      ensemble.members = static_cast<int>(whole_number(arg, value("--members"), 1, 10000, "a number of members"));
    } else if (arg == "--seed") {
      ensemble.seed = static_cast<std::uint64_t>(whole_number(arg, value("--seed"), 0, 2147483647, "a seed"));
      ensemble_options = true;
    } else if (arg == "--spread") {
      std::string why;
      if (!tarvo::parse_spreads(value("--spread"), ensemble.spreads, why)) {
        std::fprintf(stderr, "tarvo-batch: %s\n", why.c_str());
        return 2;
      }
      ensemble_options = true;
    } else if (arg == "--ri-table") {
      ri_table = value("--ri-table");
      ensemble_options = true;
    } else if (arg == "--chunk") {
      chunk = whole_number(arg, value("--chunk"), 1, 1000000, "a number of storms");
    } else if (arg == "--resume") {
      resume = true;
    } else if (arg == "--no-verify") {
      verify = false;
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(usage, stdout);
      return 0;
    } else if (arg == "--version") {
      std::fputs(tarvo::version_text("tarvo-batch").c_str(), stdout);
      return 0;
    } else if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "tarvo-batch: unknown option '%s'\n%s", arg.c_str(), usage);
      return 2;
    } else {
      std::string dir = arg;
      while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
      cases.push_back(dir);
    }
  }
  if (ensemble_options && ensemble.members < 2) {
    std::fprintf(stderr, "tarvo-batch: --seed, --spread and --ri-table go with --members N (2 or more)\n%s", usage);
    return 2;
  }
  if (ensemble.members > 1 && catalog_in.empty()) {
    std::fprintf(stderr, "tarvo-batch: --members goes with --catalog IN.nc\n%s", usage);
    return 2;
  }
  if (adeck_options && outputs.atcf_dir.empty()) {
    std::fprintf(stderr, "tarvo-batch: --atcf-step and --atcf-max-tau go with --atcf DIR\n%s", usage);
    return 2;
  }
  if (!catalog_in.empty() || !catalog_out.empty() || resume || outputs.any()) {
    if (catalog_in.empty() || catalog_out.empty() || options.data_dir.empty() || !cases.empty()) {
      std::fprintf(stderr,
                   "tarvo-batch: --catalog IN.nc needs --out OUT.nc and --data DIR, and no case directories "
                   "(--resume, --climada, --climada-hdf5 and --atcf go with --catalog)\n%s",
                   usage);
      return 2;
    }
    if (!shard_given) tarvo::shard_from_slurm(shard_k, shard_n);
    tarvo::CatalogOptions run;
    run.threads = options.threads;
    run.shard_k = shard_k;
    run.shard_n = shard_n;
    run.resume = resume;
    run.chunk = static_cast<std::size_t>(chunk);
    run.outputs = outputs;
    run.command = tarvo::command_line(argc, argv);
    run.ensemble = ensemble;
    return run_catalog_main(catalog_in, catalog_out, options.data_dir, run, ri_table);
  }
  if (cases.empty()) {
    std::fputs(usage, stderr);
    return 2;
  }
  std::sort(cases.begin(), cases.end());
  cases.erase(std::unique(cases.begin(), cases.end()), cases.end());
  if (!shard_given) tarvo::shard_from_slurm(shard_k, shard_n);
  cases = tarvo::select_shard(cases, shard_k, shard_n);
  if (shard_n > 1)
    std::fprintf(stderr, "tarvo-batch: share %d of %d: %zu cases\n", shard_k, shard_n, cases.size());
  if (cases.empty()) return 0;

  ProgressBar bar("cases");
  const int total = static_cast<int>(cases.size());
  auto progress = [&](const tarvo::CaseResult&, int done, int failed) { bar.show(done, failed, total); };
  const std::vector<tarvo::CaseResult> results = tarvo::run_batch(cases, options, progress);
  bar.close();

  // Summary.
  std::size_t width = 4;
  for (const auto& r : results) width = std::max(width, r.dir.size());
  int failed = 0, stopped = 0;
  std::printf("%-*s  %-13s %10s %10s\n", static_cast<int>(width), "case", "status", "peak (kt)", "pmin (hPa)");
  for (const auto& r : results) {
    switch (r.status) {
      case tarvo::CaseResult::Status::ok:
        std::printf("%-*s  %-13s %10.1f %10.1f\n", static_cast<int>(width), r.dir.c_str(), "ok",
                    static_cast<double>(r.peak_wind), static_cast<double>(r.lowest_pressure));
        break;
      case tarvo::CaseResult::Status::stopped_early:
        ++stopped;
        std::printf("%-*s  %-13s %10s %10s  %s\n", static_cast<int>(width), r.dir.c_str(), "stopped early", "-",
                    "-", r.reason.c_str());
        break;
      case tarvo::CaseResult::Status::failed:
        ++failed;
        std::printf("%-*s  %-13s %10s %10s  %s\n", static_cast<int>(width), r.dir.c_str(), "failed", "-", "-",
                    r.reason.c_str());
        break;
    }
    if (!r.warnings.empty()) std::fprintf(stderr, "%s: %s", r.dir.c_str(), r.warnings.c_str());
  }
  const double elapsed = bar.seconds();
  std::printf("%d cases: %d ok, %d stopped early, %d failed in %.2f s (%d threads)\n", total,
              total - failed - stopped, stopped, failed, elapsed, std::min(options.threads, total));

  if (verify) {
    std::vector<tarvo::CaseVerification> checked;
    for (const auto& r : results) {
      if (r.status != tarvo::CaseResult::Status::ok) continue;
      try {
        checked.push_back(tarvo::verify_case(r.dir));
      } catch (const tarvo::InputError& e) {
        std::fprintf(stderr, "tarvo-batch: verification skipped: %s\n", e.what());
      }
    }
    if (!checked.empty()) {
      std::printf("\nmaximum wind, model minus observed (knots), by lead time after the start record\n%s",
                  tarvo::verification_table(checked).c_str());
      if (!csv.empty()) {
        try {
          tarvo::write_text_file(csv, tarvo::verification_csv(checked));
        } catch (const tarvo::InputError& e) {
          std::fprintf(stderr, "tarvo-batch: %s\n", e.what());
          return 2;
        }
      }
    }
  }
  return failed > 0 ? 2 : 0;
}
