// ATCF a-decks as forecast centres write them (CRLF, trailing ", ", wind
// radii repeating a TAU, lines without a position) and the forecast cycles
// made from them with a b-deck: the history up to each cycle, then the
// technique's positions with the wind observed at the cycle. Every malformed
// line named by its number.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "helpers.hpp"
#include "input/tracks/adeck.hpp"
#include "input/tracks/catalog.hpp"

namespace tarvo {
namespace {

const std::string fixtures = TARVO_FIXTURES;
std::string fixture(const std::string& name) { return fixtures + "/" + name; }
using test::failure;

double hours(int y, int m, int d, int h) { return static_cast<double>(hours_from_civil(y, m, d, h)); }

std::vector<BestTrack> bdeck() { return read_best_tracks(fixture("bdeck_cycles.dat"), BestTrackFormat::atcf, {}); }

TEST(Adeck, TechniquesCyclesAndTausAsTheDeckHasThem) {
  const Adeck deck = read_adeck(fixture("adeck_cycles.dat"));
  EXPECT_EQ(deck.techniques(), "CARQ, OFCL, AVNO");
  const AidForecast* ofcl = deck.find("OFCL", hours(2023, 8, 28, 6));
  ASSERT_NE(ofcl, nullptr);
  EXPECT_EQ(ofcl->basin, "al");
  EXPECT_EQ(ofcl->number, 9);
  // OFCL's TAUs, the 50-kt radii line at TAU 12 one fix with the 34-kt one.
  std::vector<int> taus;
  for (const AidFix& f : ofcl->fixes) taus.push_back(f.tau);
  EXPECT_EQ(taus, (std::vector<int>{0, 3, 12, 24, 36, 48, 60, 72, 96, 120}));
  EXPECT_FLOAT_EQ(ofcl->fixes[0].lat, 16.4f);
  EXPECT_FLOAT_EQ(ofcl->fixes[0].lon, -63.3f);
  const AidForecast* carq = deck.find("CARQ", hours(2023, 8, 28, 0));
  ASSERT_NE(carq, nullptr);
  EXPECT_EQ(carq->fixes.front().tau, -24);
  // AVNO's line at latitude and longitude 0 is left out, and said.
  EXPECT_EQ(deck.find("AVNO", hours(2023, 8, 28, 0))->fixes.back().tau, 24);
  ASSERT_EQ(deck.notes.size(), 1u);
  EXPECT_NE(deck.notes[0].find("1 lines at latitude and longitude 0 (no position) are left out, the first at line"),
            std::string::npos) << deck.notes[0];
  EXPECT_EQ(deck.find("OFCL", hours(2023, 8, 29, 0)), nullptr);
}

TEST(Adeck, MalformedLinesAreNamedByTheirNumber) {
  EXPECT_NE(failure([] { read_adeck(fixture("adeck_short.dat")); })
                .find("adeck_short.dat, line 2: expected an ATCF a-deck line of at least 8 comma-separated fields"),
            std::string::npos);
  EXPECT_NE(failure([] { read_adeck(fixture("adeck_bad_tau.dat")); }).find("adeck_bad_tau.dat, line 2: TAU '1200' is not hours of up to three digits"),
            std::string::npos);
  EXPECT_NE(failure([] { read_adeck(fixture("adeck_bad_time.dat")); })
                .find("adeck_bad_time.dat, line 2: the cycle '20230828' is not YYYYMMDDHH (ten digits)"),
            std::string::npos);
  EXPECT_NE(failure([] { read_adeck(fixture("adeck_bad_position.dat")); }).find("adeck_bad_position.dat, line 2: the position"),
            std::string::npos);
}

TEST(Adeck, EachCycleIsAStormOfTheBestTrackUpToItThenTheTechniquesPositions) {
  const Adeck deck = read_adeck(fixture("adeck_cycles.dat"));
  CycleOptions o;
  const HindcastSet set = forecast_cycles(bdeck(), deck, o, "adeck_cycles.dat");
  ASSERT_EQ(set.storms.size(), 3u);
  const CatalogStorm& c = set.storms[1];
  EXPECT_EQ(c.sid, "AL092023_2023082806");
  EXPECT_EQ(c.name, "IDALIA");
  EXPECT_EQ(c.reference_hours, hours(2023, 8, 28, 6));
  EXPECT_EQ(c.cyclone_number, 9);
  EXPECT_EQ(c.track.basin, "al");
  std::vector<int> h;
  for (const TrackRecord& r : c.track.records) h.push_back(r.hour);
  EXPECT_EQ(h, (std::vector<int>{-24, -18, -12, -6, 0, 3, 12, 24, 36, 48, 60, 72, 96, 120}));
  // Up to the cycle the best track's positions and winds; after it OFCL's
  // positions with the wind of the cycle (hour 42 of the made-up storm: 56 kt).
  EXPECT_FLOAT_EQ(c.track.records[0].lat, 15.4f);
  EXPECT_FLOAT_EQ(c.track.records[4].vmax_kt, 56.0f);
  EXPECT_FLOAT_EQ(c.track.records[5].lat, 16.4f);  // OFCL, 0.3 north of the best track (16.0 + 0.3, rounded)
  for (std::size_t k = 5; k < c.track.records.size(); ++k) EXPECT_FLOAT_EQ(c.track.records[k].vmax_kt, 56.0f);
  EXPECT_TRUE(std::isnan(c.track.records[0].vpot));  // the environment is left to fill
  // The synoptic times of the best track between the cycles that have no OFCL: none here.
  for (const std::string& n : set.notes) EXPECT_EQ(n.find("have no OFCL"), std::string::npos) << n;
}

TEST(Adeck, HistoryFromCarqOneCycleAndWhatCannotBeMadeNamed) {
  const Adeck deck = read_adeck(fixture("adeck_cycles.dat"));
  CycleOptions o;
  o.history_from_carq = true;
  o.cycle_hours = hours(2023, 8, 28, 0);
  HindcastSet set = forecast_cycles(bdeck(), deck, o, "a.dat");
  ASSERT_EQ(set.storms.size(), 1u);
  EXPECT_FLOAT_EQ(set.storms[0].track.records[0].lon, -61.1f);  // CARQ's TAU -24
  // AVNO: its forecast only to 24 h, its line at 36 h without a position left out.
  o.tech = "AVNO";
  o.history_from_carq = false;
  set = forecast_cycles(bdeck(), deck, o, "a.dat");
  EXPECT_EQ(set.storms[0].track.records.back().hour, 24);
  // A technique not in the deck, a cycle it has no forecast for, too little history.
  o.tech = "HWRF";
  EXPECT_NE(failure([&] { forecast_cycles(bdeck(), deck, o, "a.dat"); })
                .find("a.dat: the technique HWRF is not in the a-deck; its techniques: CARQ, OFCL, AVNO"),
            std::string::npos);
  o.tech = "OFCL";
  o.cycle_hours = hours(2023, 8, 29, 0);
  EXPECT_NE(failure([&] { forecast_cycles(bdeck(), deck, o, "a.dat"); })
                .find("OFCL has no forecast at 2023082900 (it has 3 cycles, 2023082800 to 2023082812)"),
            std::string::npos);
  o.cycle_hours = -1;
  o.history_h = 48;
  set = forecast_cycles(bdeck(), deck, o, "a.dat");
  EXPECT_EQ(set.storms.size(), 1u);  // only 2023082812 has 48 h of best track before it
  EXPECT_NE(set.notes[0].find("OFCL 2023082800: left out: its history reaches back 36 h; --history asks for 48"),
            std::string::npos) << set.notes[0];
}

TEST(Adeck, BestTrackLinesKeepTheSystemsKind) {
  const std::vector<BestTrack> t = bdeck();
  EXPECT_EQ(t[0].fixes.front().type, "TS");
  EXPECT_EQ(t[0].fixes.back().type, "EX");
}

}  // namespace
}  // namespace tarvo
