#include "output/forecast_outputs.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>

#include "input/input_error.hpp"
#include "input/text_file.hpp"
#include "output/climada_output.hpp"
#include "output/format.hpp"

namespace tarvo {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t block_storms = 256;  // storms read at a time

void make_directory(const std::string& dir) {
  std::error_code error;
  fs::create_directories(dir, error);
  if (error || !fs::is_directory(dir)) throw InputError(dir, 0, "cannot create the folder: " + error.message());
}

// The a-decks of a run, each forecast's lines put aside in a folder of its
// own inside the a-deck folder, then joined into the a-decks there, each
// written whole, with the folder locked against another run joining at the
// same time.
class AdeckJoiner {
 public:
  explicit AdeckJoiner(const std::string& dir) : dir_(dir) {
    make_directory(dir);
    std::string pattern = dir + "/.tarvo-adecks-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw InputError(dir, 0, std::string("cannot write here: ") + std::strerror(errno));
    staging_ = pattern;
  }
  ~AdeckJoiner() {
    std::error_code ignored;
    fs::remove_all(staging_, ignored);
  }
  void add(const std::string& name, const std::string& lines) {
    std::ofstream out(staging_ + "/" + name, std::ios::app | std::ios::binary);
    out << lines;
    if (!out) throw InputError(dir_ + "/" + name, 0, "cannot put the a-deck's lines aside (is the disk full?)");
  }
  // Joins every a-deck put aside into the folder; the start times replaced.
  std::vector<std::string> finish(std::size_t& files) {
    const std::string lock_path = dir_ + "/.tarvo-adecks.lock";
    const int lock = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lock < 0) throw InputError(lock_path, 0, std::string("cannot open: ") + std::strerror(errno));
    struct Unlock {
      int fd;
      ~Unlock() { ::close(fd); }
    } unlock{lock};
    while (::flock(lock, LOCK_EX) != 0)
      if (errno != EINTR) throw InputError(lock_path, 0, std::string("cannot lock: ") + std::strerror(errno));
    std::vector<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(staging_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    std::vector<std::string> replaced;
    for (const std::string& name : names) {
      const std::string target = dir_ + "/" + name;
      std::string existing;
      if (fs::exists(target)) existing = read_whole_file(target, target);
      std::vector<std::string> starts;
      const std::string joined = join_adeck(existing, read_whole_file(staging_ + "/" + name, target), starts);
      write_file_whole(target, joined);
      for (const std::string& s : starts) replaced.push_back(name + " from " + s);
    }
    files = names.size();
    return replaced;
  }

 private:
  std::string dir_, staging_;
};

}  // namespace

std::string adeck_clash(std::vector<AdeckEntry> entries) {
  std::sort(entries.begin(), entries.end(), [](const AdeckEntry& a, const AdeckEntry& b) {
    return a.file != b.file ? a.file < b.file : a.start != b.start ? a.start < b.start : a.index < b.index;
  });
  for (std::size_t i = 1; i < entries.size(); ++i) {
    const AdeckEntry &a = entries[i - 1], &b = entries[i];
    if (a.file == b.file && a.start == b.start)
      return "storms " + std::to_string(a.index) + " (" + a.sid + ") and " + std::to_string(b.index) + " (" + b.sid +
             ") are both forecasts of " + a.file + " from " + a.start +
             ": an a-deck holds one forecast a start time (give them different cyclone numbers or years, or leave "
             "one out)";
  }
  return "";
}

ForecastOutputsSummary write_forecast_outputs(const std::string& path, const ForecastOutputs& outputs,
                                              const std::string& command) {
  ForecastOutputsSummary summary;
  if (!outputs.any()) return summary;
  const ForecastReader reader(path);
  const std::size_t n = reader.storms();
  // A look over every storm first: which have samples, and whether two
  // forecasts of one a-deck share a start time, before anything is written.
  std::vector<AdeckEntry> entries;
  bool climada_ids = false;  // tracks from CLIMADA's own: their id_no goes back as it came, a real number
  for (std::size_t first = 0; first < n; first += block_storms)
    for (const StoredForecast& f : reader.read_items(first, block_storms)) {
      climada_ids = climada_ids || std::isfinite(f.climada_id_no);
      if (f.status != "finished") {
        summary.left_out.push_back(f.sid + ": " + f.status);
        continue;
      }
      ++summary.tracks;
      if (outputs.atcf_dir.empty()) continue;
      const std::string name = atcf_file_name(f);
      if (name.empty()) {
        summary.unnumbered.push_back(f.sid);
        continue;
      }
      entries.push_back({name, atcf_time(f.start_hours), f.sid, f.index});
    }
  if (const std::string clash = adeck_clash(entries); !clash.empty()) throw InputError(path, 0, clash);

  if (!outputs.climada_dir.empty()) make_directory(outputs.climada_dir);
  std::unique_ptr<ClimadaTracksFile> climada;
  if (!outputs.climada_file.empty())
    climada = std::make_unique<ClimadaTracksFile>(outputs.climada_file, summary.tracks, command, climada_ids);
  std::unique_ptr<AdeckJoiner> adecks;
  if (!outputs.atcf_dir.empty()) adecks = std::make_unique<AdeckJoiner>(outputs.atcf_dir);
  for (std::size_t first = 0; first < n; first += block_storms)
    for (const StoredForecast& f : reader.read(first, block_storms)) {
      if (f.status != "finished" || f.rows.time.empty()) continue;
      if (!outputs.climada_dir.empty()) write_climada_track(outputs.climada_dir, f, command);
      if (climada) climada->add(f);
      const std::string name = adecks ? atcf_file_name(f) : std::string();
      if (name.empty()) continue;
      int left_out = 0;
      const std::string lines = atcf_lines(f, outputs.atcf, left_out);
      if (left_out > 0) {
        ++summary.past_max_tau;
        summary.most_hours_left_out = std::max(summary.most_hours_left_out, left_out);
      }
      if (lines.empty()) {
        ++summary.without_tau0;
        continue;
      }
      adecks->add(name, lines + ensemble_mean_lines(f, outputs.atcf));
      ++summary.adeck_forecasts;
    }
  if (climada) climada->finish();
  if (adecks) summary.replaced = adecks->finish(summary.adeck_files);
  return summary;
}

}  // namespace tarvo
