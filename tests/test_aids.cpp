// tarvo's aids in an a-deck and their verification as forecast centres make
// it: the early (interpolated) version of the late forecast with its exact
// offsets, the deck joined with a cycle's new lines, and the homogeneous
// verification against the best track (tropical systems only, the baseline
// named, errors and skill by lead) on decks built by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "helpers.hpp"
#include "input/tracks/adeck.hpp"
#include "input/tracks/catalog.hpp"
#include "output/aid_verification.hpp"
#include "output/atcf_output.hpp"

namespace tarvo {
namespace {

using test::failure;

double hours(int y, int m, int d, int h) { return static_cast<double>(hours_from_civil(y, m, d, h)); }

// An a-deck line as a centre writes it (tenths of degrees, whole knots).
std::string line(const char* date, const char* tech, int tau, double lat, double lon, int wind) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "AL, 09, %s, 03, %s, %3d, %3ldN, %4ldW, %3d, 1000, XX,   0,    ,    0,    0,    0,    0,\n",
                date, tech, tau, std::lround(lat * 10), std::lround(-lon * 10), wind);
  return buf;
}

TEST(EarlyVersion, ThePreviousLateForecastShiftedSixHoursWithItsOffsets) {
  // TRVO of 06 UTC at TAU 0, 6, 12 and 126; TRVO of 12 UTC starts elsewhere, 5 kt stronger.
  std::string deck = line("2023082806", "TRVO", 0, 15.0, -50.0, 40) + line("2023082806", "TRVO", 6, 15.4, -50.8, 45) +
                     line("2023082806", "TRVO", 12, 15.8, -51.6, 50) + line("2023082806", "TRVO", 126, 20.0, -70.0, 100) +
                     line("2023082812", "TRVO", 0, 15.6, -51.0, 50) + line("2023082812", "TRVO", 12, 16.0, -52.0, 60) +
                     line("2023082812", "OFCL", 0, 15.0, -40.0, 20);
  const Adeck early = parse_adeck(early_lines(deck), "TRVI");
  ASSERT_EQ(early.forecasts.size(), 1u);  // the 06 UTC TRVO has none 6 h before it
  const AidForecast& f = early.forecasts[0];
  EXPECT_EQ(f.tech, "TRVI");
  EXPECT_EQ(f.cycle_hours, hours(2023, 8, 28, 12));
  ASSERT_EQ(f.fixes.size(), 3u);
  // TAU 0: the previous forecast at its TAU 6, moved to the current position and wind.
  EXPECT_EQ(f.fixes[0].tau, 0);
  EXPECT_FLOAT_EQ(f.fixes[0].lat, 15.6f);
  EXPECT_FLOAT_EQ(f.fixes[0].lon, -51.0f);
  EXPECT_FLOAT_EQ(f.fixes[0].vmax_kt, 50.0f);
  // TAU 6: its TAU 12 with the whole position offset (+0.2, -0.2) and 5 kt (1 - 6/120) = 4.75 kt.
  EXPECT_EQ(f.fixes[1].tau, 6);
  EXPECT_FLOAT_EQ(f.fixes[1].lat, 16.0f);
  EXPECT_FLOAT_EQ(f.fixes[1].lon, -51.8f);
  EXPECT_FLOAT_EQ(f.fixes[1].vmax_kt, 55.0f);  // 54.75, whole knots
  // TAU 120: the wind offset gone, the position's still there.
  EXPECT_EQ(f.fixes[2].tau, 120);
  EXPECT_FLOAT_EQ(f.fixes[2].lat, 20.2f);
  EXPECT_FLOAT_EQ(f.fixes[2].lon, -70.2f);
  EXPECT_FLOAT_EQ(f.fixes[2].vmax_kt, 100.0f);
  // A late forecast 12 h before is not the one before: no early version.
  EXPECT_EQ(early_lines(line("2023082800", "TRVO", 0, 15.0, -50.0, 40) + line("2023082800", "TRVO", 12, 15.0, -50.0, 40) +
                        line("2023082812", "TRVO", 0, 15.0, -50.0, 40)),
            "");
}

TEST(EarlyVersion, JoiningACyclesLinesReplacesItsOwnAndMakesTheEarlyVersionAgain) {
  const std::string existing = line("2023082806", "OFCL", 0, 15.0, -50.0, 40) + line("2023082806", "TRVO", 0, 15.0, -50.0, 40) +
                               line("2023082806", "TRVO", 12, 15.8, -51.6, 50) + line("2023082812", "TRVO", 0, 1.0, -1.0, 1) +
                               line("2023082812", "TRVI", 0, 1.0, -1.0, 1) + line("2023082812", "OFCL", 0, 15.6, -51.0, 45);
  const std::string added = line("2023082812", "TRVO", 0, 15.6, -51.0, 50) + line("2023082812", "TRVO", 12, 16.0, -52.0, 60);
  std::vector<std::string> replaced;
  const std::string joined = join_adeck(existing, added, replaced);
  EXPECT_EQ(replaced, (std::vector<std::string>{"2023082812"}));
  const Adeck deck = parse_adeck(joined, "joined");
  EXPECT_EQ(deck.techniques(), "OFCL, TRVO, TRVI");
  EXPECT_FLOAT_EQ(deck.find("TRVO", hours(2023, 8, 28, 12))->fixes[0].vmax_kt, 50.0f);
  const AidForecast* trvi = deck.find("TRVI", hours(2023, 8, 28, 12));
  ASSERT_NE(trvi, nullptr);
  // TAU 0 from the 06 UTC TRVO between its lines (at its 6 h), TAU 6 from its TAU 12.
  ASSERT_EQ(trvi->fixes.size(), 2u);
  EXPECT_FLOAT_EQ(trvi->fixes[0].vmax_kt, 50.0f);
  EXPECT_FLOAT_EQ(trvi->fixes[0].lat, 15.6f);
  EXPECT_FLOAT_EQ(trvi->fixes[1].vmax_kt, 55.0f);
  EXPECT_FLOAT_EQ(trvi->fixes[1].lat, 16.0f);
  // Sorted by start time, the OFCL of 12 UTC kept.
  EXPECT_LT(joined.find("2023082806"), joined.find("2023082812"));
  EXPECT_NE(deck.find("OFCL", hours(2023, 8, 28, 12)), nullptr);
}

// A best track of storm AL09 2023: 6-hourly from 28 August 00 UTC, the wind
// rising 1 kt every 6 h from 40 kt; a hurricane except where `kind` says.
BestTrack best(const std::vector<std::pair<int, const char*>>& kind = {}) {
  BestTrack t;
  t.sid = "AL092023";
  t.basin = "al";
  t.cyclone_number = 9;
  t.year = 2023;
  for (int k = 0; k <= 40; ++k) {
    BestFix f;
    f.hours = hours(2023, 8, 28, 0) + 6.0 * k;
    f.lat = 15.0f;
    f.lon = -50.0f;
    f.wind_kt = 40.0f + static_cast<float>(k);
    f.type = "HU";
    for (const auto& [at, what] : kind)
      if (at == k) f.type = what;
    t.fixes.push_back(f);
  }
  return t;
}

// An aid at a cycle (k six-hour steps after the track's start): the best
// track's wind plus `error` at TAUs 0 to 120 every 12 h.
AidForecast aid(const char* tech, int k, float error) {
  AidForecast a;
  a.tech = tech;
  a.cycle_hours = hours(2023, 8, 28, 0) + 6.0 * k;
  a.basin = "al";
  a.number = 9;
  for (int tau = 0; tau <= 120; tau += 12) {
    AidFix f;
    f.tau = tau;
    f.vmax_kt = 40.0f + static_cast<float>(k + tau / 6) + error;
    a.fixes.push_back(f);
  }
  return a;
}

TEST(AidVerification, AHomogeneousSampleOfTropicalTimesAgainstPersistence) {
  Adeck deck;
  deck.forecasts = {aid("TRVO", 0, 5.0f), aid("TRVO", 4, 5.0f), aid("OFCL", 0, -10.0f), aid("TRVO", 8, 1.0f),
                    aid("OFCL", 8, 1.0f)};
  // The cycle at step 8 starts as a low: left out; at step 4 + 72 h (step 16) the storm is extratropical.
  const AidVerification v = verify_aids(deck, {best({{8, "LO"}, {12, "EX"}})}, {"TRVO", "OFCL"}, {}, "deck");
  EXPECT_EQ(v.baseline, "persistence");
  EXPECT_EQ(v.cycles, 3);
  ASSERT_EQ(v.notes.size(), 1u);
  EXPECT_NE(v.notes[0].find("1 cycles left out"), std::string::npos);
  // Only the cycle at step 0 has both techniques (step 4 has TRVO alone).
  for (int l = 0; l < aid_lead_count; ++l) {
    const int lead = aid_leads[l];
    const bool verifies = lead != 48 && lead != 72;  // steps 8 (LO) and 12 (EX) are not tropical
    const AidCell& trvo = v.cells[0][static_cast<std::size_t>(l)];
    const AidCell& ofcl = v.cells[1][static_cast<std::size_t>(l)];
    const AidCell& base = v.baseline_cells[static_cast<std::size_t>(l)];
    ASSERT_EQ(trvo.n, verifies ? 1 : 0) << lead;
    EXPECT_EQ(ofcl.n, trvo.n);
    EXPECT_EQ(base.n, trvo.n);
    if (!verifies) continue;
    EXPECT_DOUBLE_EQ(trvo.mae, 5.0);
    EXPECT_DOUBLE_EQ(trvo.bias, 5.0);
    EXPECT_DOUBLE_EQ(ofcl.bias, -10.0);
    // Persistence holds 40 kt while the storm gains 1 kt in 6 h.
    EXPECT_DOUBLE_EQ(base.bias, -lead / 6.0);
    if (lead == 0) {
      EXPECT_TRUE(std::isnan(trvo.skill));
    } else {
      EXPECT_DOUBLE_EQ(trvo.skill, 100.0 * (1.0 - 5.0 / (lead / 6.0)));
    }
  }
}

TEST(AidVerification, OCD5IsTheBaselineWhereTheDeckHasItAndAMissingTechniqueIsNamed) {
  Adeck deck;
  deck.forecasts = {aid("TRVO", 0, 4.0f), aid("OCD5", 0, -8.0f)};
  const AidVerification v = verify_aids(deck, {best()}, {"TRVO"}, {}, "aal092023.dat");
  EXPECT_EQ(v.baseline, "OCD5");
  EXPECT_DOUBLE_EQ(v.cells[0][2].mae, 4.0);
  EXPECT_DOUBLE_EQ(v.baseline_cells[2].mae, 8.0);
  EXPECT_DOUBLE_EQ(v.cells[0][2].skill, 50.0);
  EXPECT_NE(aid_csv(v).find("TRVO,24,1,4.0000,4.0000,50.00,OCD5\n"), std::string::npos) << aid_csv(v);
  EXPECT_NE(failure([&] { verify_aids(deck, {best()}, {"TRVO", "HWRF"}, {}, "aal092023.dat"); })
                .find("aal092023.dat: the technique HWRF is not in the a-deck; its techniques: TRVO, OCD5"),
            std::string::npos);
}

}  // namespace
}  // namespace tarvo
