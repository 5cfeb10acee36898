// tarvo-verify: the modelled against the observed maximum wind of finished
// forecasts, by lead time after the start record, as a table and as CSV.
#include <cstdio>
#include <string>
#include <vector>

#include "api/batch.hpp"
#include "api/tarvo.hpp"

int main(int argc, char** argv) {
  std::vector<tarvo::CaseVerification> cases;
  std::string csv;
  int status = 0;
  for (int a = 1; a < argc; ++a) {
    const std::string arg = argv[a];
    if (arg == "--version") {
      std::fputs(tarvo::version_text("tarvo-verify").c_str(), stdout);
      return 0;
    }
    if (arg == "--csv" && a + 1 < argc) {
      csv = argv[++a];
      continue;
    }
    if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "usage: tarvo-verify [--csv FILE] CASE_DIR...\n");
      return 2;
    }
    try {
      cases.push_back(tarvo::verify_case(arg));
    } catch (const tarvo::InputError& e) {
      std::fprintf(stderr, "tarvo-verify: %s\n", e.what());
      status = 2;
    }
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: tarvo-verify [--csv FILE] CASE_DIR...\n");
    return 2;
  }
  std::fputs(tarvo::verification_table(cases).c_str(), stdout);
  if (!csv.empty()) {
    try {
      tarvo::write_text_file(csv, tarvo::verification_csv(cases));
    } catch (const tarvo::InputError& e) {
      std::fprintf(stderr, "tarvo-verify: %s\n", e.what());
      return 2;
    }
  }
  return status;
}
