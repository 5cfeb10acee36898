#pragma once
#include <cstdio>

#include "model/run.hpp"

namespace tarvo {

// The progress line for a threshold of simulated hours, 37 characters:
// "  Finished     12.0000000       hours" (nine significant digits, 13 columns).
void write_progress_line(std::FILE* out, float hours);

// A progress sink that writes those lines to `out` (null: nowhere).
ProgressSink progress_lines(std::FILE* out);

}  // namespace tarvo
