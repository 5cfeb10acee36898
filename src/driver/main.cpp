// tarvo: forecasts the intensity of one tropical cyclone along a given track.
// Started without arguments in a case directory holding params.in, track.in
// and data/; writes track.out there.
#include <csignal>
#include <cstdio>

#include "driver/run_case.hpp"

int main() {
  // A full disk or a file-size limit must fail the write with a message, not
  // kill the process.
  std::signal(SIGXFSZ, SIG_IGN);
  return tarvo::run_program(".", "data", stdout, stderr);
}
