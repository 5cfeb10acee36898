// The gridded ocean data: reading and evaluating at a storm position.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

#include "helpers.hpp"
#include "input/input_error.hpp"
#include "input/cases/ocean_grids.hpp"

namespace tarvo {
namespace {

// Deep water everywhere; mixed-layer depth 10 m times the month number.
OceanGrids monthly_grids() {
  OceanGrids g = test::uniform_grids(-5000.0f, 0.0f, 1.0f);
  for (int m = 1; m <= 12; ++m)
    for (int j = 1; j <= 180; ++j)
      for (int i = 1; i <= 360; ++i) g.mld_clim[OceanGrids::clim_index(m, j, i)] = 10.0f * m;
  return g;
}

TEST(OceanAt, MonthWeights) {
  const OceanGrids g = monthly_grids();
  EXPECT_FLOAT_EQ(ocean_at(g, 10.2f, 100.3f, 6, 15).mld, 60.0f);  // day 15: the month alone
  const float w14 = 29.0f * 0.033333335f;
  EXPECT_FLOAT_EQ(ocean_at(g, 10.2f, 100.3f, 6, 14).mld, w14 * 60.0f + (1.0f - w14) * 50.0f);
  const float w31 = 16.0f * 0.033333335f;
  EXPECT_FLOAT_EQ(ocean_at(g, 10.2f, 100.3f, 6, 31).mld, (1.0f - w31) * 60.0f + w31 * 70.0f);
  EXPECT_NEAR(ocean_at(g, 10.2f, 100.3f, 12, 20).mld, 120.0f * 25 / 30 + 10.0f * 5 / 30, 1e-3f);
  EXPECT_NEAR(ocean_at(g, 10.2f, 100.3f, 1, 5).mld, 10.0f * 20 / 30 + 120.0f * 10 / 30, 1e-3f);
}

TEST(OceanAt, GridPointItselfWhenTheWeightsAreZero) {
  OceanGrids g = test::uniform_grids(-5000.0f, 0.0f, 0.0f);
  for (int m = 1; m <= 12; ++m)
    for (int j = 1; j <= 180; ++j)
      for (int i = 1; i <= 360; ++i) {
        g.mld_clim[OceanGrids::clim_index(m, j, i)] = 100.0f + j + 0.001f * i;
        g.strat_clim[OceanGrids::clim_index(m, j, i)] = static_cast<float>(i);
      }
  const float lat = 91.0f - 90.501f;  // row 91 exactly
  const OceanPoint p = ocean_at(g, lat, 100.0f, 3, 15);
  EXPECT_EQ(p.mld, 100.0f + 91 + 0.001f * 100);
  EXPECT_EQ(p.strat, 100.0f);
  EXPECT_EQ(p.elev, -5000.0f);
}

TEST(OceanAt, ColumnsAcrossTheMeridian) {
  OceanGrids g = test::uniform_grids(-5000.0f, 0.0f, 0.0f);
  for (int m = 1; m <= 12; ++m)
    for (int j = 1; j <= 180; ++j)
      for (int i = 1; i <= 360; ++i) g.strat_clim[OceanGrids::clim_index(m, j, i)] = static_cast<float>(i);
  // 359.6 lies between columns 359 and 360; 0.4 between columns 360 and 1.
  EXPECT_NEAR(ocean_at(g, 20.0f, 359.6f, 7, 15).strat, 0.4f * 359 + 0.6f * 360, 0.01f);
  EXPECT_NEAR(ocean_at(g, 20.0f, 0.4f, 7, 15).strat, 0.6f * 360 + 0.4f * 1, 0.01f);
}

TEST(OceanAt, ElevationColumnPastTheLastWrapsToTheFirst) {
  OceanGrids g = test::uniform_grids(0.0f, 50.0f, 1.0f);
  for (int jb = 1; jb <= 721; ++jb)
    for (int ib = 1; ib <= 1440; ++ib) g.elev_grid[(jb - 1) * 1440 + (ib - 1)] = -1000.0f - ib;
  // Within 0.01 degree of 360: columns 1 and 2, weighted by the fractional part.
  const OceanPoint p = ocean_at(g, 0.0f, 359.995f, 7, 15);
  EXPECT_NEAR(p.elev, -1001.98f, 0.01f);
  EXPECT_NEAR(ocean_at(g, 0.0f, 360.0f, 7, 15).elev, -1001.0f, 1e-3f);
}

TEST(OceanAt, MixedLayerLimitedByTheWaterDepthAndTwentyMetres) {
  EXPECT_EQ(ocean_at(test::uniform_grids(250.0f, 60.0f, 1.0f), 10.3f, 40.2f, 7, 15).mld, 20.0f);
  EXPECT_EQ(ocean_at(test::uniform_grids(-15.0f, 60.0f, 1.0f), 10.3f, 40.2f, 7, 15).mld, 20.0f);
  EXPECT_EQ(ocean_at(test::uniform_grids(-35.0f, 60.0f, 1.0f), 10.3f, 40.2f, 7, 15).mld, 35.0f);
  EXPECT_EQ(ocean_at(test::uniform_grids(-4000.0f, 10.0f, 1.0f), 10.3f, 40.2f, 7, 15).mld, 20.0f);
}

TEST(OceanAt, RowsOutsideTheGridsAreNeverRead) {
  EXPECT_TRUE(ocean_at_in_range(89.4f, 10.0f));
  EXPECT_TRUE(ocean_at_in_range(-89.5f, 10.0f));
  EXPECT_FALSE(ocean_at_in_range(89.5f, 10.0f));
  EXPECT_FALSE(ocean_at_in_range(-89.6f, 10.0f));
  EXPECT_FALSE(ocean_at_in_range(90.0f, 10.0f));
  EXPECT_FALSE(ocean_at_in_range(10.0f, 361.5f));
  EXPECT_FALSE(ocean_at_in_range(std::numeric_limits<float>::quiet_NaN(), 10.0f));
  const OceanGrids g = test::uniform_grids(-100.0f, 50.0f, 1.0f);
  EXPECT_TRUE(std::isnan(ocean_at(g, 90.0f, 10.0f, 7, 15).mld));
  EXPECT_TRUE(std::isnan(ocean_at(g, 10.0f, 10.0f, 13, 15).mld));
}

std::string load_failure(const std::string& dir) {
  try {
    read_climatology(dir);
  } catch (const InputError& e) {
    return e.what();
  }
  return "";
}

TEST(ReadClimatology, ReadsGridsWrittenWithRepeatCounts) {
  test::TempDir dir;
  test::write_uniform_data(dir / "data", -3000.0f, 42.0f, 7.0f);
  const OceanGrids g = read_climatology(dir / "data");
  EXPECT_EQ(g.mld(12, 180, 360), 42.0f);
  EXPECT_EQ(g.strat(1, 1, 1), 7.0f);
  EXPECT_EQ(g.elev(721, 1440), -3000.0f);
}

// A month's grid of plain numbers, ten a line; the value at row j, column i
// as written.
std::string plain_grid(int m, int salt) {
  std::string text;
  char value[32];
  for (int j = 1; j <= 180; ++j)
    for (int i = 1; i <= 360; ++i) {
      std::snprintf(value, sizeof value, "%.3f", m * 100 + salt + j * 0.5 + i * 0.001);
      text += value;
      text += i % 10 == 0 ? "\n" : "  ";
    }
  return text;
}

// Grids of plain numbers, a month's two files scanned side by side, give the
// values of one file read alone by the full reader, which also reads, in the
// same month, a file of repeat counts; a bad value among plain numbers is
// reported with its file, line and row, as the full reader reports it.
TEST(ReadClimatology, PlainGridsReadSideBySideAsOneFileAloneAndTheirErrorsNamed) {
  test::TempDir dir;
  const std::string data = dir / "data";
  test::write_uniform_data(data, -3000.0f, 42.0f, 7.0f);
  for (int m = 1; m <= 12; ++m) {
    char mm[8];
    std::snprintf(mm, sizeof mm, "%02d", m);
    test::write_text(data + "/mix" + mm, plain_grid(m, 0));
    if (m != 3) test::write_text(data + "/stratnorm" + mm, plain_grid(m, 50));  // 3: repeat counts
  }
  const OceanGrids g = read_climatology(data);
  GridArray full(static_cast<std::size_t>(OceanGrids::months) * 180 * 360);
  for (int m = 1; m <= 12; ++m) {
    parse_monthly_grid(plain_grid(m, 0), m, full, "mix");
    for (int j = 1; j <= 180; j += 7)
      for (int i = 1; i <= 360; i += 3)
        ASSERT_EQ(g.mld(m, j, i), full[OceanGrids::clim_index(m, j, i)]) << m << " " << j << " " << i;
    parse_monthly_grid(plain_grid(m, 50), m, full, "strat");
    for (int j = 1; j <= 180; j += 7)
      for (int i = 1; i <= 360; i += 3)
        ASSERT_EQ(g.strat(m, j, i), m == 3 ? 7.0f : full[OceanGrids::clim_index(m, j, i)]) << m;
  }
  EXPECT_EQ(g.mld(12, 180, 360), 1290.36f);
  std::string bad = plain_grid(5, 0);
  std::size_t at = 0;  // the start of row 100, line 99 * 36 + 1
  for (int line = 1; line < 99 * 36 + 1; ++line) at = bad.find('\n', at) + 1;
  bad.replace(at, 1, "x");
  test::write_text(data + "/mix05", bad);
  const std::string message = load_failure(data);
  EXPECT_EQ(message.rfind(data + "/mix05, line 3565: expected a number (grid value), found 'x", 0), 0u) << message;
  EXPECT_NE(message.find("in row 100"), std::string::npos) << message;
}

TEST(ReadClimatology, FailuresNameTheFileAndLine) {
  test::TempDir dir;
  const std::string data = dir / "data";
  EXPECT_NE(load_failure(data).find("bathsmooth2.dat: cannot open"), std::string::npos);
  test::write_uniform_data(data, -3000.0f, 42.0f, 7.0f);
  std::filesystem::resize_file(data + "/bathsmooth2.dat", 4152956);
  EXPECT_NE(load_failure(data).find("expected one record of 4152960 bytes"), std::string::npos);
  test::write_uniform_data(data, -3000.0f, 42.0f, 7.0f);
  std::filesystem::remove(data + "/stratnorm05");
  EXPECT_NE(load_failure(data).find("stratnorm05: cannot open"), std::string::npos);
  test::write_uniform_data(data, -3000.0f, 42.0f, 7.0f);
  std::string text;
  for (int j = 0; j < 180; ++j) text += j == 99 ? "12 x3 4\n" : "360*1.0\n";
  test::write_text(data + "/mix03", text);
  EXPECT_EQ(load_failure(data),
            data + "/mix03, line 100: expected a number (grid value), found 'x3' in row 100");
  test::write_text(data + "/mix03", "360*1.0\n360*1.0\n");
  EXPECT_EQ(load_failure(data),
            data + "/mix03, line 3: end of file in row 3 of 180 (360 values a row)");
  // A longer elevation file is read for its first record.
  test::write_uniform_data(data, -3000.0f, 42.0f, 7.0f);
  {
    std::FILE* f = std::fopen((data + "/bathsmooth2.dat").c_str(), "ab");
    std::fputs("extra", f);
    std::fclose(f);
  }
  EXPECT_EQ(load_failure(data), "");
}

}  // namespace
}  // namespace tarvo
