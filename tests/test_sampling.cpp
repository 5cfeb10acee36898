// The two-hourly samples of the track.
#include <gtest/gtest.h>

#include <cmath>

#include "helpers.hpp"
#include "input/input_error.hpp"

namespace tarvo {
namespace {

const OceanGrids& grids() {
  static const OceanGrids g = test::uniform_grids(-4000.0f, 50.0f, 20.0f);
  return g;
}

std::string track_with(const std::string& records) { return "title\n'al' 9 14 0\ncaption\n" + records; }

void sample(tarvo::Run& run, const std::string& records) {
  run.diagnostics = nullptr;
  run.parse_track(track_with(records), "track.in");
  run.parse_params("0\n0\n0\n1\n", "params.in");
  run.smooth_track();
  run.sample_track();
}

std::string sample_failure(const std::string& records) {
  tarvo::Run run(grids(), ".");
  try {
    sample(run, records);
  } catch (const InputError& e) {
    return e.what();
  }
  return "";
}

TEST(Sampling, TwoRecordsSixHoursApartGiveFourSamples) {
  tarvo::Run run(grids(), ".");
  sample(run, "-6 10.0 300.0 40 80 5 270 60\n0 11.2 298.8 52 86 8 273 66\n");
  ASSERT_EQ(run.n_samp, 4);
  EXPECT_EQ(run.samp_time[4], 21600.0f);
  EXPECT_EQ(run.samp_lat[1], 10.0f);
  EXPECT_FLOAT_EQ(run.samp_lat[2], 10.4f);
  EXPECT_FLOAT_EQ(run.samp_lon[3], 299.2f);
  EXPECT_EQ(run.samp_lat[4], 11.2f);        // the last fix exactly
  EXPECT_FLOAT_EQ(run.samp_vpot[2], 82.0f);
  EXPECT_FLOAT_EQ(run.samp_rh600[3], 64.0f);
  EXPECT_EQ(run.samp_mld[2], 50.0f);
  EXPECT_EQ(run.samp_elev[2], -4000.0f);
  EXPECT_EQ(run.samp_strat[2], 20.0f);
}

TEST(Sampling, SamplesOnFixTimesReturnTheFixValues) {
  tarvo::Run run(grids(), ".");
  sample(run, "-12 10.0 300.0 40 80 5 270 60\n-6 10.7 299.1 47 81 6 271 61\n0 11.1 298.3 55 83 7 272 62\n"
              "6 11.9 297.2 61 84 9 273 64\n");
  ASSERT_EQ(run.n_samp, 10);
  for (int r = 1; r <= 4; ++r) {
    const int k = 3 * (r - 1) + 1;
    EXPECT_EQ(run.samp_lat[k], run.track_lat[r]) << r;
    EXPECT_EQ(run.samp_lon[k], run.track_lon[r]) << r;
    EXPECT_EQ(run.samp_vobs[k], run.track_vobs[r]) << r;
    EXPECT_FLOAT_EQ(run.samp_dist[k], run.track_dist[r]) << r;  // (d x)/d may round
    EXPECT_EQ(run.samp_t600[k], run.track_t600[r]) << r;
  }
}

TEST(Sampling, NumberOfSamples) {
  tarvo::Run a(grids(), "."), b(grids(), ".");
  sample(a, "0 10 300 40 80 5 270 60\n72 12 290 40 80 5 270 60\n");
  EXPECT_EQ(a.n_samp, 37);
  sample(b, "0 10 300 40 80 5 270 60\n75 12 290 40 80 5 270 60\n");
  EXPECT_EQ(b.n_samp, 38);
}

TEST(Sampling, LongitudesStayNearTheMeridian) {
  tarvo::Run run(grids(), ".");
  sample(run, "-6 20.0 359.0 40 80 5 270 60\n0 20.0 1.0 40 80 5 270 60\n6 20.0 3.0 40 80 5 270 60\n");
  for (int k = 1; k <= run.n_samp; ++k) {
    EXPECT_TRUE(run.samp_lon[k] >= 358.9f || run.samp_lon[k] <= 3.1f) << k << " " << run.samp_lon[k];
    EXPECT_LT(run.samp_lon[k], 360.0f);
  }
  EXPECT_NEAR(run.samp_lon[2], 359.6667f, 1e-3f);
  EXPECT_NEAR(run.samp_lon[3], 0.3333f, 1e-3f);
  EXPECT_EQ(run.samp_lon[4], 1.0f);
}

TEST(Sampling, Rejections) {
  EXPECT_EQ(sample_failure("0 10 300 40 80 5 270 60\n1 10 300 40 80 5 270 60\n"),
            "track.in: the track lasts less than 2 h");
  EXPECT_EQ(sample_failure("0 10 300 40 80 5 270 60\n1200 10 300 40 80 5 270 60\n"),
            "track.in: the track lasts 1200 h or more (601 two-hourly samples; at most 600)");
  EXPECT_EQ(sample_failure("0 10 300 40 80 5 270 60\n1198 10 300 40 80 5 270 60\n"), "");
  const std::string north = sample_failure("-6 88.0 300 40 80 5 270 60\n0 90.0 300 40 80 5 270 60\n");
  EXPECT_NE(north.find("track.in: the track position at 0 h"), std::string::npos) << north;
  EXPECT_NE(north.find("outside the ocean grids"), std::string::npos);
  EXPECT_NE(sample_failure("-6 -89.0 300 40 80 5 270 60\n0 -89.9 300 40 80 5 270 60\n").find("at -2 h"),
            std::string::npos);
}

}  // namespace
}  // namespace tarvo
