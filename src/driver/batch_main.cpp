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
#include <string>
#include <thread>
#include <vector>

#include "driver/batch.hpp"
#include "output/format.hpp"
#include "output/verification.hpp"

namespace {

const char* usage =
    "usage: tarvo-batch [-j N] [--data DIR] [--shard K/N] [--csv FILE] [--no-verify] CASE_DIR...\n"
    "  runs tarvo in every CASE_DIR (each with params.in and track.in) and writes\n"
    "  its track.out there; grids come from DIR or from each case's data/.\n"
    "  --shard K/N runs the K-th (0-based) of N shares of the sorted cases; in a\n"
    "  Slurm job array the share comes from SLURM_ARRAY_TASK_ID/COUNT/MIN.\n";

std::string clock_text(double seconds) {
  const long s = std::lround(seconds);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  return buf;
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGXFSZ, SIG_IGN);  // a write past a size limit fails with a message
  tarvo::BatchOptions options;
  options.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::vector<std::string> cases;
  std::string csv;
  bool verify = true, shard_given = false;
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
    } else if (arg == "--no-verify") {
      verify = false;
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(usage, stdout);
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

  // Progress on standard error: a bar redrawn in place on a terminal, a line
  // every tenth of the cases otherwise.
  const bool tty = isatty(fileno(stderr));
  const auto start = std::chrono::steady_clock::now();
  const int total = static_cast<int>(cases.size());
  int last_tenth = 0;
  auto progress = [&](const tarvo::CaseResult&, int done, int failed) {
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double left = elapsed / done * (total - done);
    const int tenth = done * 10 / total;
    if (!tty && tenth == last_tenth && done != total) return;
    last_tenth = tenth;
    constexpr int width = 30;
    const int filled = done * width / total;
    std::fprintf(stderr, "%s[%s%s] %d/%d cases, %d failed, %s left%s", tty ? "\r" : "",
                 std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(width - filled), '.').c_str(), done, total, failed,
                 clock_text(left).c_str(), tty ? "" : "\n");
    std::fflush(stderr);
  };
  const std::vector<tarvo::CaseResult> results = tarvo::run_batch(cases, options, progress);
  if (tty) std::fputc('\n', stderr);

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
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
          tarvo::write_file_whole(csv, tarvo::verification_csv(checked));
        } catch (const tarvo::InputError& e) {
          std::fprintf(stderr, "tarvo-batch: %s\n", e.what());
          return 2;
        }
      }
    }
  }
  return failed > 0 ? 2 : 0;
}
