#pragma once
#include <cstdio>

namespace tarvo {

// The progress line for a threshold of simulated hours, 37 characters:
// "  Finished     12.0000000       hours" (nine significant digits, 13 columns).
void write_progress_line(std::FILE* out, float hours);

}  // namespace tarvo
