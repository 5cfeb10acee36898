// Hostile whole inputs: tarvo run on many mutations of a small case must end
// with status 0 or 2, never a signal or a hang; standard output holds nothing
// but progress lines; every failure names the file. Files written on other
// systems (CRLF line ends, tabs, a byte-order mark) read the same.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <regex>

#include "helpers.hpp"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

const char* const params_text = "0.5   wind smoothing\n0.5   distance smoothing\n0.5   field 6\n2.0   gain\n";

struct Outcome {
  int status;
  std::string out, err, track_out;
};

struct Hostile : ::testing::Test {
  static inline test::TempDir* base = nullptr;
  static inline std::string track_text;
  std::map<std::string, std::map<std::string, int>> tally;  // class -> outcome -> count
  int counter = 0;

  static void SetUpTestSuite() {
    base = new test::TempDir;
    test::write_uniform_data(*base / "data", -4000.0f, 50.0f, 20.0f);
    track_text = test::simple_track(-6, 6, 50.0f);
  }
  static void TearDownTestSuite() {
    delete base;
    base = nullptr;
  }

  // Runs tarvo on a case whose files are the base ones except `files`
  // (name -> content; a name ending in '/' becomes a directory). Names under
  // data/ replace single grid files.
  Outcome run_case(const std::map<std::string, std::string>& files) {
    const std::string dir = *base / ("case" + std::to_string(counter++));
    fs::create_directories(dir);
    std::map<std::string, std::string> all = {{"track.in", track_text}, {"params.in", params_text}};
    bool data_changed = false;
    for (const auto& [name, text] : files) {
      if (!name.empty() && name.back() == '/') all.erase(name.substr(0, name.size() - 1));
      all[name] = text;
      if (name.rfind("data/", 0) == 0) data_changed = true;
    }
    if (data_changed) {
      fs::create_directories(dir + "/data");
      for (const auto& entry : fs::directory_iterator(*base / "data"))
        if (!all.count("data/" + entry.path().filename().string()) &&
            !all.count("data/" + entry.path().filename().string() + "/"))
          fs::create_symlink(entry.path(), dir + "/data/" + entry.path().filename().string());
    } else {
      fs::create_directory_symlink(*base / "data", dir + "/data");
    }
    for (const auto& [name, text] : all) {
      if (!name.empty() && name.back() == '/')
        fs::create_directories(dir + "/" + name);
      else
        test::write_text(dir + "/" + name, text);
    }
    Outcome o;
    o.status = test::run_in(dir, "timeout 60 " + test::quoted(TARVO_BINARY), &o.out, &o.err);
    if (fs::is_regular_file(dir + "/track.out")) o.track_out = test::read_text(dir + "/track.out");
    fs::remove_all(dir);
    return o;
  }

  // The checks every run must pass; `file` is the file that was changed.
  void check(const std::string& kind, const std::string& file, const Outcome& o) {
    static const std::regex progress("(  Finished  [ 0-9.]{13}       hours\n)*");
    EXPECT_TRUE(o.status == 0 || o.status == 2) << kind << " " << file << ": status " << o.status << "\n" << o.err;
    EXPECT_TRUE(std::regex_match(o.out, progress)) << kind << ": " << o.out.substr(0, 200);
    std::string outcome;
    if (o.status == 0) {
      outcome = o.err.find("stopped early") != std::string::npos ? "stopped early"
                : o.err.empty()                                  ? "ok"
                                                                 : "ok with warnings";
      if (!o.err.empty() && o.err.find("stopped early") == std::string::npos) {
        EXPECT_NE(o.err.find("warning: track.in"), std::string::npos) << kind << ": " << o.err;
      }
    } else {
      outcome = "error";
      std::string shown = file;
      if (!shown.empty() && shown.back() == '/') shown.pop_back();
      EXPECT_EQ(o.err.rfind("tarvo: ", 0), 0u) << o.err;
      EXPECT_NE(o.err.find(shown), std::string::npos) << kind << " " << file << ": " << o.err;
    }
    ++tally[kind][outcome];
  }

  void TearDown() override {
    for (const auto& [kind, outcomes] : tally) {
      std::string line = kind + ":";
      int n = 0;
      for (const auto& [outcome, count] : outcomes) {
        line += " " + outcome + " " + std::to_string(count) + ",";
        n += count;
      }
      line.pop_back();
      std::printf("  %-22s %4d runs:%s\n", kind.c_str(), n, line.substr(kind.size() + 1).c_str());
    }
  }
};

TEST_F(Hostile, BaselineRuns) {
  const Outcome o = run_case({});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_FALSE(o.track_out.empty());
}

TEST_F(Hostile, FlippedBytes) {
  std::mt19937 rng(7);
  for (const std::string file : {"track.in", "params.in"}) {
    const std::string text = file == "track.in" ? track_text : std::string(params_text);
    for (int m = 0; m < 40; ++m) {
      std::string t = text;
      std::uniform_int_distribution<std::size_t> pos(0, t.size() - 1);
      for (int flips = 0; flips < 1 + m % 3; ++flips) t[pos(rng)] ^= static_cast<char>(1 << (rng() % 8));
      check("flipped bytes", file, run_case({{file, t}}));
    }
  }
}

TEST_F(Hostile, TruncatedFiles) {
  for (std::size_t at = 0; at < track_text.size(); at += 37) check("truncated", "track.in", run_case({{"track.in", track_text.substr(0, at)}}));
  for (std::size_t at = 0; at < std::strlen(params_text); at += 11)
    check("truncated", "params.in", run_case({{"params.in", std::string(params_text).substr(0, at)}}));
  const std::string grid = test::read_text(*base / "data/mix07");
  for (std::size_t at = 0; at < grid.size(); at += grid.size() / 5)
    check("truncated", "data/mix07", run_case({{"data/mix07", grid.substr(0, at)}}));
  check("truncated", "data/bathsmooth2.dat", run_case({{"data/bathsmooth2.dat", std::string(4000, '\0')}}));
}

TEST_F(Hostile, LinesDeletedOrDuplicated) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < track_text.size()) {
    const std::size_t end = track_text.find('\n', start);
    lines.push_back(track_text.substr(start, end - start + 1));
    start = end + 1;
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string deleted, duplicated;
    for (std::size_t j = 0; j < lines.size(); ++j) {
      if (j != i) deleted += lines[j];
      duplicated += lines[j];
      if (j == i) duplicated += lines[j];
    }
    check("line deleted", "track.in", run_case({{"track.in", deleted}}));
    check("line duplicated", "track.in", run_case({{"track.in", duplicated}}));
  }
}

TEST_F(Hostile, ExtremeNumbers) {
  const std::regex number("-?[0-9]+\\.?[0-9]*");
  for (const std::string value : {"1e39", "-1e39", "nan", "inf", "-inf", "1e30", "0", "-0.0", "1e-45"}) {
    // Every number of the record at 0 h, one at a time, and each value of params.in.
    const std::size_t line_start = track_text.find("\n0 ") + 1;
    const std::size_t line_end = track_text.find('\n', line_start);
    const std::string line = track_text.substr(line_start, line_end - line_start);
    auto it = std::sregex_iterator(line.begin(), line.end(), number);
    for (; it != std::sregex_iterator(); ++it) {
      std::string changed = line;
      changed.replace(static_cast<std::size_t>(it->position()), static_cast<std::size_t>(it->length()), value);
      check("extreme numbers", "track.in",
            run_case({{"track.in", track_text.substr(0, line_start) + changed + track_text.substr(line_end)}}));
    }
    for (int v = 0; v < 4; ++v) {
      std::string p;
      for (int k = 0; k < 4; ++k) p += (k == v ? value : "0.5") + "\n";
      check("extreme numbers", "params.in", run_case({{"params.in", p}}));
    }
  }
}

TEST_F(Hostile, EmptyFilesAndDirectories) {
  for (const std::string file : {"track.in", "params.in", "data/mix01", "data/stratnorm12", "data/bathsmooth2.dat"}) {
    check("empty file", file, run_case({{file, ""}}));
    check("directory for a file", file + "/", run_case({{file + "/", ""}}));
  }
  const Outcome o = run_case({{"track.out/", ""}});
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("track.out: cannot write"), std::string::npos) << o.err;
  ++tally["track.out a directory"]["error"];
}

TEST_F(Hostile, FilesFromOtherSystemsReadTheSame) {
  const Outcome plain = run_case({});
  ASSERT_EQ(plain.status, 0) << plain.err;
  const std::string baseline = plain.track_out;
  auto crlf = [](const std::string& t) { return std::regex_replace(t, std::regex("\n"), "\r\n"); };
  auto tabs = [](const std::string& t) { return std::regex_replace(t, std::regex(" "), "\t"); };
  const std::string bom = "\xEF\xBB\xBF";
  const std::map<std::string, std::map<std::string, std::string>> variants = {
      {"CRLF line ends", {{"track.in", crlf(track_text)}, {"params.in", crlf(params_text)}}},
      {"tabs between values", {{"track.in", tabs(track_text)}, {"params.in", tabs(params_text)}}},
      {"byte-order mark", {{"track.in", bom + track_text}, {"params.in", bom + params_text}}},
      {"CRLF in a grid", {{"data/mix03", crlf(test::read_text(*base / "data/mix03"))}}},
  };
  for (const auto& [kind, files] : variants) {
    const Outcome o = run_case(files);
    check(kind, files.begin()->first, o);
    EXPECT_EQ(o.status, 0) << kind << ": " << o.err;
    EXPECT_EQ(o.track_out, baseline) << kind;
  }
}

}  // namespace
}  // namespace tarvo
