// params.in, track.in and the smoothing of the track.
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

std::string track_with(const std::string& records, const std::string& header = "'al' 9 14 0") {
  return "title\n" + header + "\ncaption\n" + records;
}

using test::failure;

TEST(Params, ValuesWithCommentsAndBlankLines) {
  tarvo::Run run(grids(), ".");
  run.parse_params(".888     smoothing weight\n\n0.864 x, y\n0.867 / z\n2.117E+00 gain\n", "params.in");
  EXPECT_EQ(run.smooth_vobs, 0.888f);
  EXPECT_EQ(run.smooth_dist, 0.864f);
  EXPECT_EQ(run.smooth_f6, 0.867f);
  EXPECT_EQ(run.nudge_gain, 2.117f);
}

TEST(Params, MissingOrMalformedValuesNameTheFileAndLine) {
  tarvo::Run run(grids(), ".");
  EXPECT_EQ(failure([&] { run.parse_params("1\n2\n3\n", "params.in"); }),
            "params.in, line 4: end of file; expected a number (intensity feedback gain)");
  const std::string bad = failure([&] { run.parse_params("1\nabc\n3\n4\n", "params.in"); });
  EXPECT_NE(bad.find("params.in, line 2: expected a number"), std::string::npos) << bad;
}

TEST(Track, HeaderRecordsAndUnits) {
  tarvo::Run run(grids(), ".");
  run.diagnostics = nullptr;
  run.parse_track(track_with("-12 10.0 -75.0 50 80 5 270 60\n"
                             "-6 10.5 285.5 55 81 6 271 61\n"
                             "0 11.0 286.0 60 82 7 272 62\n"
                             "6 11.5 286.5 65 83 8 273 63\n"),
                  "track.in");
  EXPECT_EQ(std::string(run.basin, 2), "al");
  EXPECT_EQ(run.start_month, 9);
  EXPECT_EQ(run.start_day, 14);
  EXPECT_EQ(run.t_first_hours, -12);
  EXPECT_EQ(run.n_track, 4);
  EXPECT_EQ(run.i_start, 3);                 // the last record at or before 0 h
  EXPECT_EQ(run.track_lon[1], 285.0f);       // -75 wrapped
  EXPECT_EQ(run.track_time[2], 21600.0f);    // seconds since the first record
  EXPECT_EQ(run.track_time[4], 64800.0f);
  EXPECT_EQ(run.track_vobs[1], 50.0f * 1852.0f * 0.00027777778f);  // knots to m/s
  EXPECT_NEAR(run.track_vobs[1], 25.72f, 0.01f);
  EXPECT_EQ(run.track_rh600[4], 63.0f);
  // Distance: 0.5 degrees of latitude and longitude at 10.5 N.
  const float dy = 0.5f * 111351.92f;
  const float dx = 111351.92f * std::cos(10.5f * 0.017453279f) * 0.5f;
  EXPECT_EQ(run.track_dist[1], 0.0f);
  EXPECT_EQ(run.track_dist[2], std::sqrt(dx * dx + dy * dy));
}

TEST(Track, SkippedLinesSplitRecordsAndSlashes) {
  tarvo::Run run(grids(), ".");
  run.diagnostics = nullptr;
  run.parse_track(track_with("-12 10.0 300.0 50 80 5 270 60\n"
                             "-9 bad 300.0 50 80 5 270 60\n"      // skipped
                             "-6 10.5 299.5 55 81 6 271\n61\n"    // eighth value on the next line
                             "0 11.0 299.0 60 /\n"                 // fields 5..8 as before
                             "6,11.5,298.5,2*65,8,273,63\n"),
                  "track.in");
  ASSERT_EQ(run.n_track, 4);
  EXPECT_EQ(run.track_rh600[2], 61.0f);
  EXPECT_EQ(run.track_lat[3], 11.0f);
  EXPECT_EQ(run.track_vpot[3], 81.0f);
  EXPECT_EQ(run.track_rh600[3], 61.0f);
  EXPECT_EQ(run.track_vpot[4], 65.0f);
  EXPECT_EQ(run.track_f6[4], 8.0f);
}

TEST(Track, SkippedRecordIsReportedWithItsLine) {
  test::TempDir dir;
  std::FILE* log = std::fopen((dir / "log").c_str(), "w+");
  tarvo::Run run(grids(), ".");
  run.diagnostics = log;
  run.parse_track(track_with("-6 10 300 50 80 5 270 60\nx 1 2 3 4 5 6 7\n0 10 300 50 80 5 270 60\n"),
                  "track.in");
  std::fclose(log);
  EXPECT_EQ(run.n_track, 2);
  EXPECT_NE(test::read_text(dir / "log").find("track.in, line 5: record skipped"), std::string::npos);
}

TEST(Track, DistanceTakesTheShortWayAcrossTheMeridian) {
  tarvo::Run run(grids(), ".");
  run.parse_track(track_with("-6 20.0 3.0 50 80 5 270 60\n0 20.0 357.0 50 80 5 270 60\n"), "track.in");
  const float dx = 111351.92f * std::cos(20.0f * 0.017453279f) * -6.0f;
  EXPECT_EQ(run.track_dist[2], std::sqrt(dx * dx));
  EXPECT_LT(run.track_dist[2], 700000.0f);  // 6 degrees, not 354
}

TEST(Track, Rejections) {
  tarvo::Run run(grids(), ".");
  run.diagnostics = nullptr;
  const std::string rec = "0 10 300 50 80 5 270 60\n";
  auto reject = [&](const std::string& text) {
    return failure([&] { run.parse_track(text, "track.in"); });
  };
  EXPECT_EQ(reject(track_with("6 10 300 50 80 5 270 60\n")),
            "track.in, line 5: no record at or before 0 h (the forecast starts at the last one)");
  EXPECT_NE(reject(track_with("0 10 300 50 80 5 270 60\n0 10 300 50 80 5 270 60\n"))
                .find("track.in, line 5: record 2: time 0 h does not follow"),
            std::string::npos);
  EXPECT_NE(reject(track_with("x 10 300 50 80 5 270 60\n" + rec)).find("line 4: the first record is unreadable"),
            std::string::npos);
  EXPECT_NE(reject(track_with(rec, "'al' 13 1 0")).find("line 2: reference month 13"), std::string::npos);
  EXPECT_NE(reject(track_with(rec, "'al' 2 29 0")).find("reference day 29 is not a day of month 2"),
            std::string::npos);
  EXPECT_NE(reject(track_with("0 10 400 50 80 5 270 60\n")).find("longitude"), std::string::npos);
  EXPECT_NE(reject(track_with("0 10 nan 50 80 5 270 60\n")).find("longitude"), std::string::npos);
  EXPECT_NE(reject("title\n'al' 9 14\n").find("line 3: end of file; expected the header"), std::string::npos);
  EXPECT_NE(reject(track_with("", "'al' 9 14")).find("expected an integer (reference hour), found 'caption'"),
            std::string::npos);
  EXPECT_NE(reject("title only\n").find("track.in, line 2"), std::string::npos);
  EXPECT_EQ(reject(track_with("")), "track.in, line 4: no track records");
}

TEST(Smoothing, ZeroWeightsLeaveTheSeriesAsRead) {
  tarvo::Run run(grids(), ".");
  run.parse_track(test::simple_track(-24, 24, 60.0f), "track.in");
  run.parse_params("0\n0\n0\n1\n", "params.in");
  const auto vobs = run.track_vobs, dist = run.track_dist, f6 = run.track_f6;
  run.smooth_track();
  EXPECT_EQ(run.track_vobs, vobs);
  EXPECT_EQ(run.track_dist, dist);
  EXPECT_EQ(run.track_f6, f6);
}

TEST(Smoothing, PassesFromOldValuesAndInPlace) {
  tarvo::Run run(grids(), ".");
  run.parse_track(track_with("-18 10 300 10 80 1 270 60\n-12 10 300 40 80 5 270 60\n"
                             "-6 10 300 20 80 2 270 60\n0 10 300 30 80 8 270 60\n"
                             "6 10 300 30 80 4 270 60\n"),
                  "track.in");
  run.parse_params("0.5\n0.5\n0.5\n1\n", "params.in");
  auto k = [](float knots) { return knots * 1852.0f * 0.00027777778f; };
  float v[6] = {0, k(10), k(40), k(20), k(30), k(30)};
  float f[6] = {0, 1, 5, 2, 8, 4};
  run.smooth_track();
  // Wind: two passes over records 2..3 from the old values, then the start record.
  for (int pass = 0; pass < 2; ++pass) {
    const float a = 0.5f * v[2] + 0.25f * (v[1] + v[3]);
    const float b = 0.5f * v[3] + 0.25f * (v[2] + v[4]);
    v[2] = a;
    v[3] = b;
  }
  EXPECT_EQ(run.track_vobs[2], v[2]);
  EXPECT_EQ(run.track_vobs[3], v[3]);
  EXPECT_EQ(run.track_vobs[4], 0.5f * (2.0f * v[3] - v[2]) + 0.5f * v[4]);
  EXPECT_EQ(run.track_vobs[5], v[5]);  // after the start record: unchanged
  // Field 6: one pass from the old values.
  EXPECT_EQ(run.track_f6[2], 0.5f * f[2] + 0.25f * (f[1] + f[3]));
  EXPECT_EQ(run.track_f6[3], 0.5f * f[3] + 0.25f * (f[2] + f[4]));
  EXPECT_EQ(run.track_f6[4], 0.5f * f[4] + 0.25f * (f[3] + f[5]));
}

TEST(Smoothing, StartRecordRules) {
  tarvo::Run run(grids(), ".");
  run.parse_track(track_with("-6 10 300 40 80 5 270 60\n0 10 300 60 80 5 270 60\n6 10 300 70 80 5 270 60\n"),
                  "track.in");
  run.parse_params("0.25\n0\n0\n1\n", "params.in");
  const float v1 = run.track_vobs[1], v2 = run.track_vobs[2];
  run.smooth_track();
  EXPECT_EQ(run.i_start, 2);
  EXPECT_EQ(run.track_vobs[1], v1);
  EXPECT_EQ(run.track_vobs[2], 0.25f * (2.0f * v1 - v1) + 0.75f * v2);

  tarvo::Run first(grids(), ".");
  first.parse_track(track_with("0 10 300 40 80 5 270 60\n6 10 300 60 80 5 270 60\n"), "track.in");
  first.parse_params("0.25\n0\n0\n1\n", "params.in");
  const float w1 = first.track_vobs[1];
  first.smooth_track();
  EXPECT_EQ(first.i_start, 1);
  EXPECT_EQ(first.track_vobs[1], w1);
}

}  // namespace
}  // namespace tarvo

namespace tarvo {
namespace {

std::string fixture(const std::string& name) { return test::read_text(std::string(TARVO_FIXTURES) + "/" + name); }

std::string fixture_failure(const std::string& track, const std::string& params = fixture("params_good.in")) {
  const OceanGrids no_grids;
  auto run = std::make_unique<tarvo::Run>(no_grids, ".");
  run->diagnostics = nullptr;
  try {
    run->parse_params(params, "params.in");
    run->parse_track(track, "track.in");
  } catch (const InputError& e) {
    return e.what();
  }
  return "";
}

TEST(Fixtures, GoodInputsWithFreeFormatCorners) {
  EXPECT_EQ(fixture_failure(fixture("track_corners.in")), "");
  const OceanGrids no_grids;
  auto run = std::make_unique<tarvo::Run>(no_grids, ".");
  run->parse_track(fixture("track_corners.in"), "track.in");
  EXPECT_EQ(std::string(run->basin, 2), "ep");
  EXPECT_EQ(run->n_track, 5);
  EXPECT_EQ(run->i_start, 3);
  EXPECT_EQ(run->track_lon[1], 255.0f);
  EXPECT_EQ(run->track_vpot[2], 45.5f);     // 2*45.5
  EXPECT_EQ(run->track_rh600[3], 62.0f);    // continued on the next line
  EXPECT_EQ(run->track_vpot[4], 81.0f);     // kept after the slash
  EXPECT_EQ(run->track_f6[5], 1.5f);        // D exponent
}

TEST(Fixtures, MalformedInputsNameTheFileAndLine) {
  const std::string good = fixture("params_good.in");
  EXPECT_EQ(fixture_failure(fixture("track_short_header.in")),
            "track.in, line 3: end of file; expected the header (basin code, month, day, hour)");
  EXPECT_EQ(fixture_failure(fixture("track_bad_month.in")), "track.in, line 2: reference month 13 is not in 1..12");
  EXPECT_EQ(fixture_failure(fixture("track_no_start.in")),
            "track.in, line 6: no record at or before 0 h (the forecast starts at the last one)");
  EXPECT_EQ(fixture_failure(fixture("track_times_repeat.in")),
            "track.in, line 5: record 2: time -6 h does not follow the previous record's time");
  EXPECT_EQ(fixture_failure(fixture("track_first_unreadable.in")),
            "track.in, line 4: the first record is unreadable: expected a number (maximum wind), found 'fifty'");
  EXPECT_EQ(fixture_failure(fixture("track_corners.in"), fixture("params_short.in")),
            "params.in, line 3: end of file; expected a number (smoothing weight of field 6)");
  EXPECT_EQ(fixture_failure(fixture("track_corners.in"), fixture("params_text.in")),
            "params.in, line 3: expected a number (smoothing weight of field 6), found 'half'");
}

}  // namespace
}  // namespace tarvo
