#pragma once
#include <string>

namespace tarvo {

// The whole content of a file; throws InputError naming `shown_name` when the
// file cannot be opened or read (a directory counts as unreadable).
std::string read_whole_file(const std::string& path, const std::string& shown_name);

// The same into `out`, reusing its storage (for reading many files in a row).
void read_whole_file(const std::string& path, const std::string& shown_name, std::string& out);

// The path of a file of a case directory, as used and as shown in messages.
inline std::string case_path(const std::string& case_dir, const std::string& name) {
  return case_dir.empty() || case_dir == "." ? name : case_dir + "/" + name;
}

}  // namespace tarvo
