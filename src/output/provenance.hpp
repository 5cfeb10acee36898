#pragma once
// What made a file: tarvo's version, the instruction-set path of the time
// step, and the command or call with its time. Every NetCDF file tarvo
// writes carries them, so that a forecast can be traced to the build that
// made it.
#include <string>
#include <string_view>

namespace tarvo {

// tarvo's version: "0.9.0", and "+g" and the commit when built from a git
// checkout (".dirty" when its tracked files differed from the commit).
std::string_view version();

// The CF attribute `source`: "tarvo <version>".
std::string source_text();

// The instruction-set path the time step runs on in this process.
std::string step_path_text();

// One line of the CF attribute `history`: the UTC time now, ISO 8601, then
// the command or call ("2026-12-09T01:02:03Z: tarvo-batch --catalog ...").
std::string history_line(std::string_view command);

// A command line as a shell would take it back: words with blanks or quotes
// quoted.
std::string command_line(int argc, const char* const* argv);

}  // namespace tarvo
