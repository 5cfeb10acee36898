// The ensemble of a forecast: member 0 is the storm as given; the other
// members' perturbations have the documented spreads, grow with the lead and
// leave the history alone, and are the same for the same seed; the
// statistics forecasters read (mean, quantiles, probability of rapid
// intensification) have their exact values on members built by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "ensemble/members.hpp"

namespace tarvo {
namespace {

CatalogStorm storm() {
  CatalogStorm s;
  s.sid = "AL012005_2005081600";
  s.params = {0.5f, 0.5f, 0.5f, 2.0f};
  for (int h = -24; h <= 120; h += 6) {
    TrackRecord r;
    r.hour = h;
    r.lat = 15.0f + 0.1f * static_cast<float>(h) / 6.0f;
    r.lon = -50.0f - 0.2f * static_cast<float>(h) / 6.0f;
    r.vmax_kt = 40.0f;
    r.vpot = 70.0f;
    r.f6 = 20.0f;
    r.t600 = 268.0f;
    r.rh600 = 60.0f;
    s.track.records.push_back(r);
  }
  return s;
}

bool same_bits(const Track& a, const Track& b) {
  if (a.records.size() != b.records.size()) return false;
  return std::memcmp(a.records.data(), b.records.data(), a.records.size() * sizeof(TrackRecord)) == 0;
}

TEST(Ensemble, MemberZeroIsTheStormBitForBit) {
  const CatalogStorm s = storm();
  EnsembleOptions o;
  o.members = 100;
  Track t;
  ModelParams p;
  member_inputs(s, 0, o, t, p);
  EXPECT_TRUE(same_bits(t, s.track));
  EXPECT_EQ(std::memcmp(&p, &s.params, sizeof p), 0);
}

TEST(Ensemble, TheSameSeedGivesTheSameMembersAndAnotherSeedOthers) {
  const CatalogStorm s = storm();
  EnsembleOptions o;
  o.members = 10;
  Track a, b, c;
  ModelParams pa, pb, pc;
  member_inputs(s, 7, o, a, pa);
  member_inputs(s, 7, o, b, pb);
  EXPECT_TRUE(same_bits(a, b));
  EXPECT_EQ(pa.nudge_gain, pb.nudge_gain);
  o.seed = 2;
  member_inputs(s, 7, o, c, pc);
  EXPECT_FALSE(same_bits(a, c));
  member_inputs(s, 8, EnsembleOptions{}, c, pc);
  EXPECT_FALSE(same_bits(a, c));
}

TEST(Ensemble, PerturbationsHaveTheirSpreadsGrowingFromTheStartAndLeaveTheHistory) {
  const CatalogStorm s = storm();
  EnsembleOptions o;
  o.members = 4001;
  const std::size_t at48 = 12, at12 = 6, at0 = 4;  // records at 48 h, 12 h and the start (0 h)
  double sum[5] = {}, sq[5] = {}, lat_sq = 0, gain_log_sq = 0;
  const int n = o.members - 1;
  for (int m = 1; m < o.members; ++m) {
    Track t;
    ModelParams p;
    member_inputs(s, m, o, t, p);
    for (std::size_t k = 0; k <= at0; ++k) ASSERT_EQ(std::memcmp(&t.records[k], &s.track.records[k], sizeof(TrackRecord)), 0);
    const TrackRecord &r = t.records[at48], &r0 = s.track.records[at48];
    const double d[5] = {r.vpot - r0.vpot, r.f6 - r0.f6, r.t600 - r0.t600, r.rh600 - r0.rh600, r.lon - r0.lon};
    for (int q = 0; q < 5; ++q) {
      sum[q] += d[q];
      sq[q] += d[q] * d[q];
    }
    lat_sq += (r.lat - r0.lat) * (r.lat - r0.lat);
    gain_log_sq += std::log(p.nudge_gain / s.params.nudge_gain) * std::log(p.nudge_gain / s.params.nudge_gain);
    // At 12 h the same deviate, half the 48 h spread (the square root of the lead).
    const double d12 = t.records[at12].t600 - s.track.records[at12].t600;
    EXPECT_NEAR(d12, 0.5 * (r.t600 - r0.t600), 1e-4);
  }
  auto sd = [&](int q) { return std::sqrt(sq[q] / n - (sum[q] / n) * (sum[q] / n)); };
  EXPECT_NEAR(sd(0), 3.0, 0.1);   // vpot, m/s
  EXPECT_NEAR(sd(1), 4.0, 0.25);  // shear, m/s (cut at 0 for a few members)
  EXPECT_NEAR(sd(2), 0.5, 0.02);  // t600, K
  EXPECT_NEAR(sd(3), 8.0, 0.3);   // rh600, %
  EXPECT_NEAR(std::sqrt(gain_log_sq / n), 0.3, 0.01);
  // The cone's radius at 48 h is 67 n mi: one standard deviation of each
  // component 67 / sqrt(2 ln 3) n mi, in degrees of latitude / 60.
  EXPECT_NEAR(track_sigma_nmi(48.0), 67.0 / std::sqrt(2.0 * std::log(3.0)), 1e-9);
  EXPECT_NEAR(std::sqrt(lat_sq / n), track_sigma_nmi(48.0) / 60.0, 0.03);
}

TEST(Ensemble, TheConeGivesTheTrackSpreadAtEachLead) {
  EXPECT_EQ(track_sigma_nmi(0.0), 0.0);
  EXPECT_NEAR(track_sigma_nmi(120.0) * std::sqrt(2.0 * std::log(3.0)), 205.0, 1e-9);
  EXPECT_NEAR(track_sigma_nmi(84.0) * std::sqrt(2.0 * std::log(3.0)), 122.0, 1e-9);   // between 99 and 145
  EXPECT_NEAR(track_sigma_nmi(240.0) * std::sqrt(2.0 * std::log(3.0)), 410.0, 1e-9);  // beyond 120 h: in proportion
}

TEST(Ensemble, SummaryQuantilesMeanAndRapidIntensificationExactly) {
  // Five members with winds at 0, 24 and 48 h; the fifth ends at 24 h.
  const std::vector<std::vector<float>> winds = {{40, 60, 90}, {40, 70, 100}, {40, 64, 70}, {40, 50, 60}, {40, 80}};
  std::vector<MemberSeries> members;
  for (const auto& w : winds) {
    MemberSeries m;
    for (std::size_t k = 0; k < w.size(); ++k) {
      m.lead_h.push_back(24.0f * static_cast<float>(k));
      m.wind_kt.push_back(w[k]);
      m.pressure_hpa.push_back(1000.0f - w[k]);
    }
    members.push_back(m);
  }
  members.push_back(MemberSeries{});  // a member without a forecast
  const EnsembleSummary s = summarize(members, {0.0f, 12.0f, 24.0f, 48.0f});
  EXPECT_EQ(s.members, 5);
  EXPECT_FLOAT_EQ(s.mean_wind_kt[2], 64.8f);          // (60 + 70 + 64 + 50 + 80) / 5
  EXPECT_FLOAT_EQ(s.mean_wind_kt[1], 52.4f);          // halfway: (50 + 55 + 52 + 45 + 60) / 5
  EXPECT_FLOAT_EQ(s.mean_pressure_hpa[2], 935.2f);
  // At 24 h, sorted 50 60 64 70 80: 10 % at 0.4 of the way from 50 to 60; the median 64; 90 % 0.6 from 70 to 80.
  EXPECT_FLOAT_EQ(s.wind_quantile_kt[0][2], 54.0f);
  EXPECT_FLOAT_EQ(s.wind_quantile_kt[1][2], 64.0f);
  EXPECT_FLOAT_EQ(s.wind_quantile_kt[2][2], 76.0f);
  // At 48 h, four members: 60 70 90 100.
  EXPECT_FLOAT_EQ(s.mean_wind_kt[3], 80.0f);
  EXPECT_FLOAT_EQ(s.wind_quantile_kt[1][3], 80.0f);
  // Rises in 24 h of 20 30 24 10 40 kt: 25 kt reached by 2 of 5, 30 kt by 2, 35 kt by 1;
  // in 48 h of 50 60 30 20 (the fifth has no 48 h): 45 kt by 2 of 4, 55 kt by 1.
  EXPECT_FLOAT_EQ(s.ri_probability[0], 0.4f);
  EXPECT_FLOAT_EQ(s.ri_probability[1], 0.4f);
  EXPECT_FLOAT_EQ(s.ri_probability[2], 0.2f);
  EXPECT_FLOAT_EQ(s.ri_probability[3], 0.5f);
  EXPECT_FLOAT_EQ(s.ri_probability[4], 0.25f);
  // No member reaches 48 h: no probability, not 0.
  const EnsembleSummary short_ = summarize({members[4]}, {0.0f, 24.0f});
  EXPECT_TRUE(std::isnan(short_.ri_probability[3]));
  EXPECT_FLOAT_EQ(short_.ri_probability[1], 1.0f);
}

TEST(Ensemble, SpreadsAreParsedOrNamed) {
  EnsembleSpreads s;
  std::string why;
  ASSERT_TRUE(parse_spreads("vpot=5,track=0", s, why)) << why;
  EXPECT_EQ(s.vpot_ms, 5.0);
  EXPECT_EQ(s.track_scale, 0.0);
  EXPECT_EQ(spreads_text(s), "vpot=5,shear=4,t600=0.5,rh600=8,gain=0.3,track=0");
  EXPECT_FALSE(parse_spreads("wind=3", s, why));
  EXPECT_NE(why.find("spread 'wind=3' is not one tarvo takes"), std::string::npos);
  EXPECT_FALSE(parse_spreads("vpot=-1", s, why));
  EXPECT_FALSE(parse_spreads("vpot=nan", s, why));
}

}  // namespace
}  // namespace tarvo
