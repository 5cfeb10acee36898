// The program end to end: a generated case, failures and the early stop.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <vector>

#include "driver/run_case.hpp"
#include "tools/case_run.hpp"
#include "helpers.hpp"

namespace tarvo {
namespace {

std::uint64_t fnv1a(const std::string& s) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  return h;
}

struct Row {
  int month, day, hour;
  float lat, lon, vmax, rmw, pmin;
};

std::vector<Row> rows(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  std::vector<Row> out;
  while (std::getline(in, line)) {
    Row r{};
    std::istringstream l(line);
    l >> r.month >> r.day >> r.hour >> r.lat >> r.lon >> r.vmax >> r.rmw >> r.pmin;
    out.push_back(r);
  }
  return out;
}

// One generated demo case, made and run once for all tests here.
struct Demo {
  test::TempDir dir;
  int status = -1;
  std::string out, err, track_out;
  Demo() {
    const std::string cmd = std::string("'") + TARVO_SYNTH + "' --seed 3 '" + dir.str() + "'";
    if (std::system(cmd.c_str()) != 0) return;
    status = test::run_in(dir.str(), test::quoted(TARVO_BINARY), &out, &err);
    track_out = test::read_text(dir / "track.out");
  }
};
const Demo& demo() {
  static const Demo d;
  return d;
}

TEST(EndToEnd, GeneratedCase) {
  const Demo& d = demo();
  ASSERT_EQ(d.status, 0) << d.err;
  EXPECT_EQ(d.err, "");
  // Standard output: nothing but the progress lines, one for each 12 hours.
  std::istringstream out(d.out);
  std::string line;
  int lines = 0;
  while (std::getline(out, line)) {
    ++lines;
    char expected[64];
    std::snprintf(expected, sizeof expected, "  Finished  %13.*f       hours", lines * 12 >= 100 ? 6 : 7,
                  lines * 12.0);
    EXPECT_EQ(line, expected);
  }
  EXPECT_GE(lines, 10);
  // One line a sample; physically sensible values.
  const std::vector<Row> r = rows(d.track_out);
  ASSERT_GT(r.size(), 50u);
  // Every two hours from the first to the last record, both included.
  std::istringstream track(test::read_text(d.dir / "track.in"));
  int first = 1, last = 0, hours;
  for (int i = 0; i < 3; ++i) std::getline(track, line);
  while (std::getline(track, line) && std::istringstream(line) >> hours) {
    if (first > last) first = hours;
    last = hours;
  }
  EXPECT_EQ(r.size(), static_cast<std::size_t>((last - first) / 2 + 1));
  EXPECT_EQ(lines, (last - first) / 12);
  for (const Row& x : r) {
    EXPECT_TRUE(std::isfinite(x.vmax) && x.vmax > 0.0f && x.vmax < 250.0f) << x.vmax;
    EXPECT_TRUE(x.rmw > 1.0f && x.rmw < 1000.0f) << x.rmw;
    EXPECT_TRUE(x.pmin > 850.0f && x.pmin < 1015.0f) << x.pmin;
  }
  // Guards the exact bytes against unintended changes.
  EXPECT_EQ(fnv1a(d.track_out), 7103302578956138367ull) << d.track_out;
}

TEST(EndToEnd, FollowsTheObservedIntensityBeforeTheStartRecord) {
  const Demo& d = demo();
  ASSERT_EQ(d.status, 0);
  const std::string track = test::read_text(d.dir / "track.in");
  std::istringstream in(track);
  std::string line;
  for (int i = 0; i < 3; ++i) std::getline(in, line);
  const std::vector<Row> r = rows(d.track_out);
  int first = 0, compared = 0;
  while (std::getline(in, line)) {
    int hours;
    float lat, lon, wind;
    std::istringstream l(line);
    l >> hours >> lat >> lon >> wind;
    if (compared == 0 && first == 0) first = hours;
    const std::size_t k = static_cast<std::size_t>((hours - first) / 2);
    if (hours < -6 || hours > 0 || k >= r.size()) continue;
    EXPECT_NEAR(r[k].vmax, wind, 15.0f) << hours;
    ++compared;
  }
  EXPECT_GT(compared, 0);
}

TEST(EndToEnd, MissingGridsEndTheRunBeforeTheTrackIsRead) {
  test::TempDir dir;
  std::string out, err;
  EXPECT_EQ(test::run_in(dir.str(), test::quoted(TARVO_BINARY), &out, &err), 2);
  EXPECT_EQ(out, "");
  EXPECT_NE(err.find("data/bathsmooth2.dat: cannot open"), std::string::npos) << err;
}

TEST(EndToEnd, InputErrorsNameTheFile) {
  test::TempDir dir;
  test::write_uniform_data(dir / "data", -4000.0f, 50.0f, 20.0f);
  test::write_text(dir / "track.in", test::simple_track(-12, 24));
  test::write_text(dir / "params.in", "0.5\n0.5\nabc\n1\n");
  std::string out, err;
  EXPECT_EQ(test::run_in(dir.str(), test::quoted(TARVO_BINARY), &out, &err), 2);
  EXPECT_EQ(err, "tarvo: params.in, line 3: expected a number (smoothing weight of field 6), found 'abc'\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "track.out"));
}

TEST(EndToEnd, EarlyStopOfTheProgramLeavesAnExistingTrackOutUntouched) {
  // An absurd potential intensity at the start record drives a ring through the centre.
  test::TempDir dir;
  test::write_uniform_data(dir / "data", -4000.0f, 50.0f, 20.0f);
  std::string track = test::simple_track(-6, 6, 50.0f);
  const std::size_t at = track.find("\n0 ") + 1;
  const std::size_t vpot = track.find(" 75.0 ", at);
  track.replace(vpot, 6, " 1e30 ");
  test::write_text(dir / "track.in", track);
  test::write_text(dir / "params.in", test::default_params);
  test::write_text(dir / "track.out", "an earlier result\n");
  std::string out, err;
  EXPECT_EQ(test::run_in(dir.str(), test::quoted(TARVO_BINARY), &out, &err), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err,
            "tarvo: the model stopped early at +1.7 h (a negative squared radius at ring 2); no track.out "
            "was written\n");
  EXPECT_EQ(test::read_text(dir / "track.out"), "an earlier result\n");
}

TEST(EndToEnd, TwoRunsGiveTheSameBytes) {
  const Demo& d = demo();
  ASSERT_EQ(d.status, 0);
  std::string out;
  ASSERT_EQ(test::run_in(d.dir.str(), test::quoted(TARVO_BINARY), &out, nullptr), 0);
  EXPECT_EQ(out, d.out);
  EXPECT_EQ(test::read_text(d.dir / "track.out"), d.track_out);
}

TEST(EndToEnd, AFullDiskFailsTheWriteAndKeepsTheOldResult) {
  const Demo& d = demo();
  ASSERT_EQ(d.status, 0);
  test::TempDir dir;
  std::filesystem::create_directory_symlink(d.dir / "data", dir / "data");
  std::filesystem::copy_file(d.dir / "track.in", dir / "track.in");
  std::filesystem::copy_file(d.dir / "params.in", dir / "params.in");
  test::write_text(dir / "track.out", "an earlier result\n");
  std::string out, err;
  // A file-size limit of 1 KiB: track.out (about 5 KB) cannot be written.
  EXPECT_EQ(test::run_in(dir.str(), "ulimit -f 1 && " + test::quoted(TARVO_BINARY), &out, &err), 2);
  EXPECT_NE(err.find("tarvo: track.out: cannot write: File too large"), std::string::npos) << err;
  EXPECT_EQ(test::read_text(dir / "track.out"), "an earlier result\n");
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) files += e.path().filename() != ".stdout" &&
                                                                              e.path().filename() != ".stderr";
  EXPECT_EQ(files, 4);  // data, track.in, params.in, track.out: no temporary left behind
}

TEST(EndToEnd, EarlyStopLeavesAnExistingTrackOutUntouched) {
  test::TempDir dir;
  test::write_uniform_data(dir / "data", -4000.0f, 50.0f, 20.0f);
  test::write_text(dir / "track.in", test::simple_track(-12, 24));
  test::write_text(dir / "params.in", test::default_params);
  test::write_text(dir / "track.out", "an earlier result\n");
  const OceanGrids grids = read_climatology(dir / "data");
  auto run = std::make_unique<tarvo::Run>(grids, dir.str());
  run->progress = nullptr;
  prepare_case(*run);
  run->rsq_lower_old[6] = -1.0f;  // a ring pushed through the centre
  EXPECT_EQ(run_and_write(*run), RunEnd::negative_radius);
  EXPECT_EQ(test::read_text(dir / "track.out"), "an earlier result\n");
  // The same case without the fault writes its result.
  auto good = std::make_unique<tarvo::Run>(grids, dir.str());
  good->progress = nullptr;
  EXPECT_EQ(run_case(*good), RunEnd::finished);
  EXPECT_NE(test::read_text(dir / "track.out"), "an earlier result\n");
}

}  // namespace
}  // namespace tarvo
