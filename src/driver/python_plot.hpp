#pragma once
// Pictures are drawn by the tarvo Python package's matplotlib code
// (python/tarvo/plots.py), built beside the programs in python/.
#include <string>
#include <vector>

namespace tarvo {

// Runs /usr/bin/python3 -m tarvo.plots ARGS... with that package first on
// PYTHONPATH; "" when it drew, else why not (with what to install).
std::string draw_with_python(const std::vector<std::string>& args);

}  // namespace tarvo
