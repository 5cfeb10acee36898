// Forecast starts from best tracks: which fixes start a forecast, the window
// of fixes each takes, the ids, and every fix left out said.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "input/tracks/best_track.hpp"
#include "input/tracks/catalog.hpp"
#include "input/tracks/hindcast.hpp"
#include "input/input_error.hpp"
#include "helpers.hpp"

namespace tarvo {
namespace {

constexpr float nan = std::numeric_limits<float>::quiet_NaN();

using test::failure;

// A storm of the Atlantic with fixes every `step` hours for `count` fixes from
// `y-m-d h`, its wind rising 5 kt a fix from 30 kt.
BestTrack storm(const std::string& sid, int count, int step = 6, int y = 2005, int m = 8, int d = 23, int h = 18) {
  BestTrack t;
  t.sid = sid;
  t.name = "KATRINA";
  t.basin = "al";
  t.year = y;
  t.cyclone_number = 12;
  t.wind_source = "HURDAT2 (1-minute)";
  const double first = static_cast<double>(hours_from_civil(y, m, d, h));
  for (int k = 0; k < count; ++k) {
    BestFix f;
    f.hours = first + k * step;
    f.lat = 23.0f + 0.3f * static_cast<float>(k);
    f.lon = -75.0f - 0.5f * static_cast<float>(k);
    f.wind_kt = 30.0f + 5.0f * static_cast<float>(k);
    f.basin = "al";
    t.fixes.push_back(f);
  }
  return t;
}

HindcastOptions every(int hours) {
  HindcastOptions o;
  std::string why;
  EXPECT_TRUE(parse_start_rule("every:" + std::to_string(hours) + "h", o.starts, why)) << why;
  return o;
}

TEST(StartRule, TheThreeKindsAndWhatIsNotOne) {
  StartRule r;
  std::string why;
  ASSERT_TRUE(parse_start_rule("every:6h", r, why));
  EXPECT_EQ(r.kind, StartRule::Kind::every);
  EXPECT_EQ(r.hours, 6);
  ASSERT_TRUE(parse_start_rule("first+24h", r, why));
  EXPECT_EQ(r.kind, StartRule::Kind::first_plus);
  EXPECT_EQ(r.hours, 24);
  ASSERT_TRUE(parse_start_rule("2005082600", r, why));
  EXPECT_EQ(r.kind, StartRule::Kind::at);
  EXPECT_EQ(r.at_hours, static_cast<double>(hours_from_civil(2005, 8, 26, 0)));
  for (const char* bad : {"every:0h", "every:", "every:-6h", "first+x", "2005023100", "2005082624", "20050826", "daily"}) {
    EXPECT_FALSE(parse_start_rule(bad, r, why)) << bad;
    EXPECT_NE(why.find(std::string("not '") + bad + "'"), std::string::npos) << why;
  }
}

TEST(Hindcast, EverySixHoursFromTheFirstWithItsHistoryToTheLastWithItsLead) {
  // 12 fixes, 23 Aug 18 h to 26 Aug 12 h; 24 h of history, at least 12 h after.
  const HindcastSet set = hindcast_starts({storm("AL122005", 12)}, every(6), "besttrack.txt");
  ASSERT_EQ(set.storms.size(), 6u);  // 24 Aug 18 h to 26 Aug 0 h
  const CatalogStorm& first = set.storms.front();
  EXPECT_EQ(first.sid, "AL122005_2005082418");
  EXPECT_EQ(set.storms.back().sid, "AL122005_2005082600");
  EXPECT_EQ(first.name, "KATRINA");
  EXPECT_EQ(first.year, 2005);
  EXPECT_EQ(first.cyclone_number, 12);
  EXPECT_EQ(first.reference_hours, static_cast<double>(hours_from_civil(2005, 8, 24, 18)));
  EXPECT_EQ(first.track.month, 8);
  EXPECT_EQ(first.track.day, 24);
  EXPECT_EQ(first.track.hour, 18);
  EXPECT_EQ(first.track.year, 2005);
  EXPECT_EQ(first.track.basin, "al");
  // Its window: the 24 h before it and everything after (less than 120 h here).
  ASSERT_EQ(first.track.records.size(), 12u);
  EXPECT_EQ(first.track.records.front().hour, -24);
  EXPECT_EQ(first.track.records.back().hour, 42);
  EXPECT_EQ(first.track.records[4].vmax_kt, 50.0f);  // the observed wind at the start
  EXPECT_TRUE(std::isnan(first.track.records[0].vpot));  // no environment in a best track
  // The last start has its 12 h of lead; the one after it would not.
  EXPECT_EQ(set.storms.back().track.records.back().hour, 12);
  EXPECT_TRUE(set.notes.empty());
}

TEST(Hindcast, WindowsEndAfterTheLongestLeadAndWithinTheModelsLimits) {
  HindcastOptions o = every(24);
  o.history_h = 0;
  o.max_lead_h = 120;
  HindcastSet set = hindcast_starts({storm("AL122005", 60)}, o, "b");  // 354 h of track
  ASSERT_FALSE(set.storms.empty());
  EXPECT_EQ(set.storms.front().track.records.back().hour, 120);
  // No limit on the lead: a 300-fix hourly track is cut at 200 fixes, and said.
  o.max_lead_h = 0;
  o.starts.kind = StartRule::Kind::first_plus;
  o.starts.hours = 0;
  set = hindcast_starts({storm("AL122005", 300, 1)}, o, "b");
  ASSERT_EQ(set.storms.size(), 1u);
  EXPECT_EQ(set.storms[0].track.records.size(), 200u);
  ASSERT_EQ(set.notes.size(), 1u);
  EXPECT_EQ(set.notes[0], "AL122005_2005082318: 100 fixes at its end are left out: a forecast takes at most 200 "
                          "fixes and less than 1200 h");
  // A track of more than 1200 h: cut before 1200 h.
  set = hindcast_starts({storm("AL122005", 120, 12)}, o, "b");
  EXPECT_LT(set.storms[0].track.records.back().hour - set.storms[0].track.records.front().hour, 1200);
}

TEST(Hindcast, FixesOffTheHourAndWithoutAWindAreLeftOutAndSaid) {
  BestTrack t = storm("AL122005", 12);
  BestFix landfall = t.fixes[6];
  landfall.hours += 4.5;  // 22:30
  landfall.record = 'L';
  t.fixes.insert(t.fixes.begin() + 7, landfall);
  t.fixes[2].wind_kt = nan;
  t.fixes[3].wind_kt = nan;
  const HindcastSet set = hindcast_starts({t}, every(6), "b");
  ASSERT_EQ(set.notes.size(), 2u);
  EXPECT_EQ(set.notes[0], "AL122005: 2 of 13 fixes have no wind (HURDAT2 (1-minute)) and are left out");
  EXPECT_EQ(set.notes[1], "AL122005: 1 fixes off the hour are left out (the first 2005-08-25 10:30 (landfall)): the "
                          "model takes whole hours");
  for (const CatalogStorm& s : set.storms)
    for (const TrackRecord& r : s.track.records) EXPECT_FALSE(std::isnan(r.vmax_kt));
}

TEST(Hindcast, OneStartAtATimeOrAfterTheFirstFix) {
  HindcastOptions o;
  std::string why;
  ASSERT_TRUE(parse_start_rule("2005082518", o.starts, why));
  HindcastSet set = hindcast_starts({storm("AL122005", 12)}, o, "b");
  ASSERT_EQ(set.storms.size(), 1u);
  EXPECT_EQ(set.storms[0].sid, "AL122005_2005082518");
  ASSERT_TRUE(parse_start_rule("first+24h", o.starts, why));
  set = hindcast_starts({storm("AL122005", 12)}, o, "b");
  EXPECT_EQ(set.storms.at(0).sid, "AL122005_2005082418");
}

TEST(Hindcast, WhatCannotGiveAForecastIsNamed) {
  HindcastOptions o;
  std::string why;
  // A start with too little history before it.
  ASSERT_TRUE(parse_start_rule("2005082400", o.starts, why));
  EXPECT_EQ(failure([&] { hindcast_starts({storm("AL122005", 12)}, o, "besttrack.txt"); }),
            "besttrack.txt: storm AL122005 (KATRINA): the start 2005082400 has 6 h of track before it; --history asks "
            "for 24 (give a smaller --history, or a later start)");
  // A start off the track.
  ASSERT_TRUE(parse_start_rule("2005090100", o.starts, why));
  EXPECT_EQ(failure([&] { hindcast_starts({storm("AL122005", 12)}, o, "besttrack.txt"); }),
            "besttrack.txt: storm AL122005 (KATRINA): has no fix with a wind at 2005090100 (its fixes with winds: "
            "2005082318 to 2005082612)");
  // The last fix: nothing after it to forecast.
  ASSERT_TRUE(parse_start_rule("2005082612", o.starts, why));
  EXPECT_NE(failure([&] { hindcast_starts({storm("AL122005", 12)}, o, "b"); }).find("nothing to forecast"),
            std::string::npos);
  // A storm with no usable winds.
  BestTrack windless = storm("AL122005", 8);
  for (BestFix& f : windless.fixes) f.wind_kt = nan;
  EXPECT_EQ(failure([&] { hindcast_starts({windless}, every(6), "b"); }),
            "b: storm AL122005 (KATRINA): no fix on the hour with a wind: nothing to forecast from");
  // Among several storms, the windless one is left out and said.
  const HindcastSet set = hindcast_starts({windless, storm("AL132005", 12)}, every(6), "b");
  EXPECT_EQ(set.storms.size(), 6u);
  EXPECT_EQ(set.notes.back(), "AL122005: left out: no fix on the hour with a wind");
  // No basin: the file gives none and none is given.
  BestTrack nowhere = storm("X1", 12);
  nowhere.basin.clear();
  EXPECT_EQ(failure([&] { hindcast_starts({nowhere}, every(6), "t.nc"); }),
            "t.nc: storm X1 (KATRINA): its basin is not given: give --basin (ATCF's al, ep, cp, wp, io, sh, sl (in any "
            "case) or IBTrACS's NA, EP, WP, NI, SI, SP, SA)");
}

TEST(Hindcast, StormsWithoutANumberAreNumberedAfterTheirBasinsHighest) {
  BestTrack a = storm("2005235N23285", 12), b = storm("2005236N10260", 12), c = storm("AL122005", 12);
  a.cyclone_number = b.cyclone_number = 0;
  a.sid = "2005235N23285";
  HindcastOptions o = every(6);
  const HindcastSet set = hindcast_starts({a, b, c}, o, "b");
  ASSERT_EQ(set.storms.size(), 18u);
  EXPECT_EQ(set.storms[0].cyclone_number, 13);
  EXPECT_EQ(set.storms[6].cyclone_number, 14);
  EXPECT_EQ(set.storms[12].cyclone_number, 12);
  // An id that is no file name is made one.
  BestTrack odd = storm("al/12 2005", 12);
  EXPECT_EQ(hindcast_starts({odd}, o, "b").storms[0].sid, "al_12_2005_2005082418");
}

}  // namespace
}  // namespace tarvo
