#pragma once
// The tarvo program in a case directory, on the library API.
#include <cstdio>
#include <string>

namespace tarvo {

// The whole program in directory `case_dir` with the grids of `data_dir`:
// returns the exit status (0, or 2 after an error message on `err`).
int run_program(const std::string& case_dir, const std::string& data_dir, std::FILE* out,
                std::FILE* err);

}  // namespace tarvo
