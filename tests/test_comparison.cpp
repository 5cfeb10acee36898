// Two climates compared: quantiles between order statistics as numpy's
// "linear", the bootstrap the same for the same seed, a paired change with
// no spread when every storm changes alike, rapid intensification and
// landfall found where the series put them.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "risk/comparison.hpp"

namespace tarvo {
namespace {

TEST(Comparison, QuantilesLinearBetweenOrderStatistics) {
  const std::vector<double> v = {7, 1, 3, 5};  // sorted 1 3 5 7
  EXPECT_DOUBLE_EQ(quantile_of(v, 0.0), 1.0);
  EXPECT_DOUBLE_EQ(quantile_of(v, 0.5), 4.0);
  EXPECT_DOUBLE_EQ(quantile_of(v, 0.9), 6.4);   // at 2.7: 5 + 0.7 * 2
  EXPECT_DOUBLE_EQ(quantile_of(v, 1.0), 7.0);
  EXPECT_TRUE(std::isnan(quantile_of({}, 0.5)));
  EXPECT_EQ(category_index(33.9), 0);
  EXPECT_EQ(category_index(34.0), 1);
  EXPECT_EQ(category_index(137.0), 6);
}

StormSeries storm(double peak, double shift, bool land_at_36) {
  StormSeries s;
  for (int lead = -12; lead <= 48; lead += 6) {
    s.lead_h.push_back(static_cast<float>(lead));
    const double w = lead <= 0 ? 40.0 : lead >= 24 ? peak : 40.0 + (peak - 40.0) * lead / 24.0;
    s.wind_kt.push_back(static_cast<float>(w + shift));
    s.over_land.push_back(land_at_36 && lead >= 36);
  }
  return s;
}

TEST(Comparison, PairedChangesRapidIntensificationAndLandfall) {
  std::vector<StormSeries> a, b;
  for (int i = 0; i < 40; ++i) {
    a.push_back(storm(50.0 + i, 0.0, i % 4 == 0));
    b.push_back(storm(50.0 + i, 5.0, i % 4 == 0));
  }
  ComparisonOptions o;
  o.resamples = 200;
  const ClimateComparison c = compare_climates(a, b, o);
  EXPECT_EQ(c.storms, 40u);
  EXPECT_DOUBLE_EQ(c.lmi_mean.present, 69.5);
  EXPECT_DOUBLE_EQ(c.lmi_mean.change, 5.0);
  EXPECT_DOUBLE_EQ(c.lmi_mean.change_low, 5.0);
  EXPECT_DOUBLE_EQ(c.lmi_mean.change_high, 5.0);
  EXPECT_LT(c.lmi_mean.present_low, 69.5);
  EXPECT_GT(c.lmi_mean.present_high, 69.5);
  // A rise of 30 kt in 24 h: a peak of 70 kt or more, storms 20 to 39.
  EXPECT_DOUBLE_EQ(c.rapid_share.present, 0.5);
  EXPECT_DOUBLE_EQ(c.rapid_share.future, 0.5);
  // Landfall at 36 h for storms 0, 4, ..., 36: their peaks 50, 54, ..., 86.
  EXPECT_EQ(c.landfalls, 10u);
  EXPECT_DOUBLE_EQ(c.landfall_wind.present, 68.0);
  EXPECT_DOUBLE_EQ(c.landfall_wind.change, 5.0);
  EXPECT_DOUBLE_EQ(c.landfall_hurricane_share.present, 0.6);  // 66, 70, ..., 86 of the ten
  // The same seed, the same intervals; another seed, others.
  const ClimateComparison again = compare_climates(a, b, o);
  EXPECT_EQ(again.lmi_quantile[2].present_low, c.lmi_quantile[2].present_low);
  o.seed = 2;
  const ClimateComparison other = compare_climates(a, b, o);
  EXPECT_NE(other.lmi_mean.present_low, c.lmi_mean.present_low);
}

TEST(Comparison, AStormStartingOverLandMakesNoLandfall) {
  StormSeries s = storm(80.0, 0.0, false);
  for (std::size_t k = 0; k < s.over_land.size(); ++k) s.over_land[k] = true;
  const ClimateComparison c = compare_climates({s}, {s}, ComparisonOptions{});
  EXPECT_EQ(c.landfalls, 0u);
  EXPECT_TRUE(std::isnan(c.landfall_wind.present));
}

}  // namespace
}  // namespace tarvo
