#pragma once
// The run sequence of one forecast, from its inputs to track.out.
#include <cstdio>
#include <string>

#include "input/ocean_grids.hpp"
#include "model/run.hpp"

namespace tarvo {

// Steps after the grids: track.in, params.in, smoothing, sampling, set-up,
// initialisation, the time loop and (after a normal end) track.out.
// Throws InputError on an input or output failure.
RunEnd run_case(Run& run);

// The input stage, the set-up and the initialisation.
void prepare_case(Run& run);
// The time loop, then track.out unless the model stopped early.
RunEnd run_and_write(Run& run);

// The whole program in directory `case_dir` with the grids of `data_dir`:
// returns the exit status (0, or 2 after an error message on `err`).
int run_program(const std::string& case_dir, const std::string& data_dir, std::FILE* out,
                std::FILE* err);

}  // namespace tarvo
