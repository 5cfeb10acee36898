// track.out: calendar, fixed columns and the safe write; the progress line.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "helpers.hpp"
#include "input/input_error.hpp"
#include "input/calendar.hpp"
#include "output/format.hpp"

namespace tarvo {
namespace {

std::string date(DateHour d) {
  return std::to_string(d.month) + " " + std::to_string(d.day) + " " + std::to_string(d.hour);
}

TEST(Calendar, FirstSampleAndTwoHourSteps) {
  DateHour d = move_hours(9, 14, -6);
  EXPECT_EQ(date(d), "9 13 18");
  d = next_sample(d);
  EXPECT_EQ(date(d), "9 13 20");
  d = next_sample(next_sample(d));
  EXPECT_EQ(date(d), "9 14 0");
  EXPECT_EQ(date(move_hours(9, 14, -24)), "9 13 0");
  EXPECT_EQ(date(move_hours(9, 14, -1)), "9 13 23");
  EXPECT_EQ(date(move_hours(1, 1, -1)), "12 31 23");
  EXPECT_EQ(date(move_hours(3, 1, -25)), "2 27 23");
  EXPECT_EQ(date(move_hours(9, 14, 30)), "9 15 6");
}

TEST(Calendar, MonthAndYearEnds) {
  EXPECT_EQ(date(next_sample({9, 30, 22})), "10 1 0");
  EXPECT_EQ(date(next_sample({2, 28, 22})), "3 1 0");
  EXPECT_EQ(date(next_sample({12, 31, 22})), "1 1 0");
  EXPECT_EQ(date(next_sample({1, 31, 21})), "1 31 23");
}

TEST(Format, FixedFields) {
  EXPECT_EQ(fixed_field(359.5, 7, 3), "359.500");
  EXPECT_EQ(fixed_field(-15.8f, 7, 3), "-15.800");
  EXPECT_EQ(fixed_field(12345.6, 5, 1), "*****");
  EXPECT_EQ(fixed_field(999.94, 5, 1), "999.9");
  EXPECT_EQ(fixed_field(999.96, 5, 1), "*****");
  EXPECT_EQ(fixed_field(-0.0, 5, 1), " -0.0");
  EXPECT_EQ(fixed_field(-0.04, 5, 1), " -0.0");
  EXPECT_EQ(fixed_field(std::numeric_limits<double>::quiet_NaN(), 6, 1), "   NaN");
  EXPECT_EQ(fixed_field(std::numeric_limits<double>::infinity(), 6, 1), "   Inf");
  EXPECT_EQ(fixed_field(-std::numeric_limits<double>::infinity(), 7, 3), "   -Inf");
  EXPECT_EQ(fixed_field(std::numeric_limits<double>::infinity(), 9, 1), " Infinity");
  EXPECT_EQ(fixed_field(-std::numeric_limits<double>::infinity(), 3, 1), "***");
  EXPECT_EQ(integer_field(7, 3), "  7");
  EXPECT_EQ(integer_field(1234, 3), "***");
  EXPECT_EQ(significant_field(12.0, 13, 9), "   12.0000000");
  EXPECT_EQ(significant_field(108.0, 13, 9), "   108.000000");
  EXPECT_EQ(significant_field(1200.0, 13, 9), "   1200.00000");
}

const OceanGrids& grids() {
  static const OceanGrids g = test::uniform_grids(-4000.0f, 50.0f, 20.0f);
  return g;
}

TEST(TrackOutput, HeaderAndColumns) {
  tarvo::Run run(grids(), ".");
  run.start_month = 12;
  run.start_day = 31;
  run.start_hour = 18;
  run.t_first_hours = 2;
  EXPECT_EQ(run.track_output_text(),
            " month day time latitude longitude vmax(knots) Rm(km) Pmin(mb)\n");
  run.n_samples = 3;
  run.samp_lat[1] = -15.8f;
  run.samp_lon[1] = 359.5f;
  run.vmax_series[1] = 42.04f;
  run.rmw_series[1] = 53.85f;
  run.pmin_series[1] = 997.83f;
  run.samp_lat[2] = 5.0f;
  run.samp_lon[2] = 0.25f;
  run.vmax_series[2] = 123456.0f;
  run.rmw_series[2] = 7.0f;
  run.pmin_series[2] = 1001.0f;
  run.vmax_series[3] = std::numeric_limits<float>::quiet_NaN();
  const std::string text = run.track_output_text();
  const std::string expected =
      " month day time latitude longitude vmax(knots) Rm(km) Pmin(mb)\n"
      "   12  31  20   -15.800   359.500     42.0    107.7     997.8\n"
      "   12  31  22     5.000     0.250    *****     14.0    1001.0\n"
      "    1   1   0     0.000     0.000      NaN      0.0       0.0\n";
  EXPECT_EQ(text, expected);
  EXPECT_EQ(text.find('\n'), 62u);
}

TEST(TrackOutput, WrittenWholeOrNotAtAll) {
  test::TempDir dir;
  tarvo::Run run(grids(), dir.str());
  run.start_month = 9;
  run.start_day = 14;
  run.n_samples = 1;
  run.write_track_output();
  EXPECT_EQ(test::read_text(dir / "track.out"), run.track_output_text());
  // A directory in the way: an error naming the file, nothing left behind.
  std::filesystem::remove(dir / "track.out");
  std::filesystem::create_directory(dir / "track.out");
  try {
    run.write_track_output();
    FAIL() << "no error";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("track.out: cannot write"), std::string::npos) << e.what();
  }
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

}  // namespace
}  // namespace tarvo
