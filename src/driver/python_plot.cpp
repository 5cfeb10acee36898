#include "driver/python_plot.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace tarvo {

namespace {

// The folder of this program: the Python package built beside it is in python/.
std::string program_dir() {
  char path[PATH_MAX] = {};
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string p(path, static_cast<std::size_t>(n));
  return p.substr(0, p.find_last_of('/'));
}

}  // namespace

std::string draw_with_python(const std::vector<std::string>& args) {
  const std::string path = program_dir() + "/python";
  const char* old = std::getenv("PYTHONPATH");
  const std::string pythonpath = old && *old ? path + ":" + old : path;
  std::vector<std::string> words = {"python3", "-m", "tarvo.plots"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("PYTHONPATH", pythonpath.c_str(), 1);
    execv("/usr/bin/python3", argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid > 0) waitpid(pid, &status, 0);
  if (pid < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return "the picture could not be drawn (it needs /usr/bin/python3 with matplotlib, apt-get install "
           "python3-matplotlib, and the tarvo package built beside this program)";
  return "";
}

}  // namespace tarvo
