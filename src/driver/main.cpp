// tarvo: forecasts the intensity of one tropical cyclone along a given track.
// Started without arguments in a case directory holding params.in, track.in
// and data/; writes track.out there. `tarvo --version` says which build it is.
#include <csignal>
#include <cstdio>
#include <cstring>

#include "api/tarvo.hpp"
#include "driver/run_case.hpp"

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::fputs(tarvo::version_text("tarvo").c_str(), stdout);
    return 0;
  }
  // A full disk or a file-size limit must fail the write with a message, not
  // kill the process.
  std::signal(SIGXFSZ, SIG_IGN);
  return tarvo::run_program(".", "data", stdout, stderr);
}
