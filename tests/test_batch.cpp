// tarvo-batch: the same bytes as tarvo, failures isolated, shares of the case
// list, verification against the observed track, and the plot.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "api/batch.hpp"
#include "helpers.hpp"
#include "output/verification.hpp"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

// Generated cases sharing one data directory, each run once by tarvo itself.
struct Cases {
  test::TempDir dir;
  std::vector<std::string> names;
  std::vector<std::string> expected;  // tarvo's track.out of each case
  Cases() {
    for (const std::string& path : test::generated_cases(dir, {11, 12, 13, 14, 15})) {
      const std::string name = fs::path(path).filename().string();
      if (test::run_in(path, test::quoted(TARVO_BINARY), nullptr, nullptr) != 0) return;
      expected.push_back(test::read_text(path + "/track.out"));
      fs::remove(path + "/track.out");
      names.push_back(name);
    }
  }
};
const Cases& cases() {
  static const Cases c;
  return c;
}

TEST(Batch, SameBytesAsTarvoWithSeveralThreadsAndABadCaseAmongThem) {
  const Cases& c = cases();
  ASSERT_EQ(c.names.size(), 5u);
  // A bad case sorts between the good ones.
  fs::create_directories(c.dir / "case12b");
  test::write_text(c.dir / "case12b/track.in", "no header\n");
  test::write_text(c.dir / "case12b/params.in", test::default_params);
  for (const int threads : {1, 2}) {
    std::string out, err;
    const int status = test::run_in(c.dir.str(),
                                    test::quoted(TARVO_BATCH) + " -j " + std::to_string(threads) +
                                        " --data world/data case11 case12 case12b case13 case14 case15",
                                    &out, &err);
    EXPECT_EQ(status, 2) << err;  // one case failed on its input
    for (std::size_t i = 0; i < c.names.size(); ++i) {
      EXPECT_EQ(test::read_text(c.dir / (c.names[i] + "/track.out")), c.expected[i]) << c.names[i];
      fs::remove(c.dir / (c.names[i] + "/track.out"));
    }
    EXPECT_NE(out.find("case12b  failed"), std::string::npos) << out;
    EXPECT_NE(out.find("case12b/track.in, line 2"), std::string::npos) << out;
    EXPECT_NE(out.find("6 cases: 5 ok, 0 stopped early, 1 failed"), std::string::npos) << out;
    EXPECT_NE(out.find("all cases  MAE"), std::string::npos) << out;
    EXPECT_NE(err.find("6/6 cases, 1 failed"), std::string::npos) << err;
  }
  fs::remove_all(c.dir / "case12b");
}

TEST(Batch, GridCacheLoadsOnceAndRepeatsItsError) {
  test::TempDir dir;
  test::write_uniform_data(dir / "data", -4000.0f, 50.0f, 20.0f);
  GridCache cache;
  const OceanGrids& a = cache.get(dir / "data");
  const OceanGrids& b = cache.get(dir / "data");
  EXPECT_EQ(&a, &b);
  for (int i = 0; i < 2; ++i) {
    try {
      cache.get(dir / "missing");
      ADD_FAILURE() << "no error";
    } catch (const InputError& e) {
      EXPECT_NE(std::string(e.what()).find("missing/bathsmooth2.dat: cannot open"), std::string::npos);
    }
  }
}

TEST(Batch, Shares) {
  const std::vector<std::string> all = {"a", "b", "c", "d", "e", "f", "g"};
  std::vector<std::string> joined;
  for (int k = 0; k < 3; ++k) {
    const auto share = select_shard(all, k, 3);
    EXPECT_GE(share.size(), 2u);
    EXPECT_LE(share.size(), 3u);
    joined.insert(joined.end(), share.begin(), share.end());
  }
  EXPECT_EQ(joined, all);
  EXPECT_TRUE(select_shard(all, 9, 10).size() <= 1u);
  int k = -1, n = -1;
  EXPECT_TRUE(parse_shard("2/5", k, n));
  EXPECT_EQ(k, 2);
  EXPECT_EQ(n, 5);
  for (const char* bad : {"5/5", "-1/3", "1/0", "1", "/3", "1/", "a/b", "1/3x"}) EXPECT_FALSE(parse_shard(bad, k, n)) << bad;
  setenv("SLURM_ARRAY_TASK_COUNT", "8", 1);
  setenv("SLURM_ARRAY_TASK_ID", "12", 1);
  setenv("SLURM_ARRAY_TASK_MIN", "10", 1);
  EXPECT_TRUE(shard_from_slurm(k, n));
  EXPECT_EQ(k, 2);
  EXPECT_EQ(n, 8);
  unsetenv("SLURM_ARRAY_TASK_MIN");
  setenv("SLURM_ARRAY_TASK_ID", "3", 1);
  EXPECT_TRUE(shard_from_slurm(k, n));
  EXPECT_EQ(k, 3);
  unsetenv("SLURM_ARRAY_TASK_COUNT");
  unsetenv("SLURM_ARRAY_TASK_ID");
  EXPECT_FALSE(shard_from_slurm(k, n));
}

TEST(Verification, LeadTimesInterpolatedAndBeyondTheTrackLeftOut) {
  // Records at -6, 0, 30 h: observed 40, 60, 90 kt; the start record is at 0 h.
  const std::string track =
      "t\n'al' 9 14 0\nc\n-6 10 300 40 80 5 270 60\n0 10 300 60 80 5 270 60\n30 10 300 90 80 5 270 60\n";
  std::string out = " month day time latitude longitude vmax(knots) Rm(km) Pmin(mb)\n";
  char line[80];
  for (int k = 0; k < 19; ++k) {  // -6 .. 30 h every 2 h: model 50 + k kt
    std::snprintf(line, sizeof line, "    9  13  18    10.000   300.000  %7.1f     50.0    1000.0\n", 50.0 + k);
    out += line;
  }
  const CaseVerification v = verify_texts("c", track, out);
  ASSERT_TRUE(v.error[0].has_value());
  EXPECT_NEAR(*v.error[0], (50.0 + 3) - 60.0, 1e-3);        // 0 h is line 4
  EXPECT_NEAR(*v.error[1], (50.0 + 9) - (60.0 + 12.0), 1e-3);  // 12 h: observed 60 + 30 x 12/30
  EXPECT_NEAR(*v.error[2], (50.0 + 15) - (60.0 + 24.0), 1e-3);
  for (std::size_t l = 3; l < lead_hours.size(); ++l) EXPECT_FALSE(v.error[l].has_value()) << lead_hours[l];
  const std::string table = verification_table({v, v});
  EXPECT_NE(table.find("all cases  MAE        7.0    13.0    19.0       -"), std::string::npos) << table;
  const std::string csv = verification_csv({v});
  EXPECT_NE(csv.find("\"c\",12,1,13.000,-13.000\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find("ALL,24,1,19.000,-19.000\n"), std::string::npos) << csv;
}

TEST(Plot, DrawsAPictureOfTheExpectedSize) {
  const std::string python = std::string("PYTHONPATH='") + TARVO_PYTHONPATH + "' /usr/bin/python3 ";
  if (std::system((python + "-c 'import matplotlib, tarvo' 2> /dev/null").c_str()) != 0)
    GTEST_SKIP() << "matplotlib or the tarvo package is not there";
  const Cases& c = cases();
  ASSERT_FALSE(c.names.empty());
  test::write_text(c.dir / "case11/track.out", c.expected[0]);
  const std::string png = c.dir / "picture.png";
  const std::string cmd = python + "'" + TARVO_SOURCE + "/scripts/plot_case.py' '" +
                          (c.dir / "case11") + "' '" + png + "' > /dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::string bytes = test::read_text(png);
  ASSERT_GT(bytes.size(), 10000u);
  ASSERT_EQ(bytes.substr(1, 3), "PNG");
  auto be32 = [&](std::size_t at) {
    return (static_cast<unsigned char>(bytes[at]) << 24) | (static_cast<unsigned char>(bytes[at + 1]) << 16) |
           (static_cast<unsigned char>(bytes[at + 2]) << 8) | static_cast<unsigned char>(bytes[at + 3]);
  };
  EXPECT_EQ(be32(16), 1200);  // width
  EXPECT_EQ(be32(20), 500);   // height
}

}  // namespace
}  // namespace tarvo
