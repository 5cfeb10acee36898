#include "model/run.hpp"

namespace tarvo {

Run::Run(const OceanGrids& g, std::string dir) : grids(g), case_dir(std::move(dir)) {}

}  // namespace tarvo
