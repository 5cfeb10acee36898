// tarvo: forecasts the intensity of one tropical cyclone along a given track.
// Started without arguments in a case directory holding params.in, track.in
// and data/; writes track.out there.
#include <cstdio>

#include "driver/run_case.hpp"

int main() { return tarvo::run_program(".", "data", stdout, stderr); }
