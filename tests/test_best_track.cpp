// Best tracks as the agencies write them: HURDAT2 and ATCF b-decks read
// from small files in their real layouts (tests/fixtures), every malformed
// line named by its number. (IBTrACS and CF trajectory files, NetCDF, are
// written and read back by the Python tests.)
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "helpers.hpp"
#include "input/tracks/best_track.hpp"
#include "input/tracks/catalog.hpp"
#include "input/input_error.hpp"

namespace tarvo {
namespace {

const std::string fixtures = TARVO_FIXTURES;

std::string fixture(const std::string& name) { return fixtures + "/" + name; }

using test::failure;

double hours(int y, int m, int d, int h, int minutes = 0) {
  return static_cast<double>(hours_from_civil(y, m, d, h)) + minutes / 60.0;
}

std::vector<BestTrack> read(const std::string& name, BestTrackFormat format, const BestTrackSelection& s = {}) {
  return read_best_tracks(fixture(name), format, s);
}

TEST(BestTrackTimes, DatesAreTheYearsOneTo9999AndNothingBeyondIsConverted) {
  EXPECT_TRUE(hours_are_a_date(hours(1, 1, 1, 0)));
  EXPECT_FALSE(hours_are_a_date(hours(1, 1, 1, 0) - 1.0));
  EXPECT_TRUE(hours_are_a_date(hours(9999, 12, 31, 23)));
  EXPECT_FALSE(hours_are_a_date(hours(9999, 12, 31, 23) + 1.0));
  EXPECT_FALSE(hours_are_a_date(INFINITY));
  EXPECT_FALSE(hours_are_a_date(NAN));
  EXPECT_FALSE(hours_are_a_date(1.0e300));
  EXPECT_EQ(hour_text(hours(9999, 12, 31, 23)), "9999-12-31 23:00");
  EXPECT_EQ(hour_text(hours(1, 1, 1, 0)), "0001-01-01 00:00");
  EXPECT_NE(hour_text(1.0e300).find("not a date"), std::string::npos);
}

TEST(Hurdat2, StormsTheirFixesAndWhatEachLineSays) {
  const std::vector<BestTrack> t = read("hurdat2_good.txt", BestTrackFormat::hurdat2);
  ASSERT_EQ(t.size(), 2u);
  const BestTrack& k = t[0];
  EXPECT_EQ(k.sid, "AL122005");
  EXPECT_EQ(k.name, "KATRINA");
  EXPECT_EQ(k.basin, "al");
  EXPECT_EQ(k.cyclone_number, 12);
  EXPECT_EQ(k.year, 2005);
  ASSERT_EQ(k.fixes.size(), 8u);
  EXPECT_EQ(k.fixes[0].hours, hours(2005, 8, 23, 18));
  EXPECT_EQ(k.fixes[0].lat, 23.1f);
  EXPECT_EQ(k.fixes[0].lon, -75.1f);  // west negative
  EXPECT_EQ(k.fixes[0].wind_kt, 30.0f);
  EXPECT_EQ(k.fixes[0].pressure_hpa, 1008.0f);
  EXPECT_EQ(k.fixes[0].line, 2);
  // The landfall: off the synoptic hours, its record identifier kept.
  EXPECT_EQ(k.fixes[6].hours, hours(2005, 8, 25, 22, 30));
  EXPECT_EQ(k.fixes[6].record, 'L');
  EXPECT_EQ(k.fixes[5].record, ' ');
  // The eastern Pacific: its own basin; -99 and -999 are values not given.
  const BestTrack& d = t[1];
  EXPECT_EQ(d.basin, "ep");
  EXPECT_EQ(d.name, "DANIEL");
  EXPECT_EQ(d.fixes[0].lon, -103.9f);
  EXPECT_TRUE(std::isnan(d.fixes[1].wind_kt));
  EXPECT_TRUE(std::isnan(d.fixes[1].pressure_hpa));
  EXPECT_EQ(d.fixes[2].line, 13);
}

TEST(Hurdat2, ASelectionTakesTheStormsAsked) {
  BestTrackSelection s;
  s.basin = "ep";
  EXPECT_EQ(read("hurdat2_good.txt", BestTrackFormat::hurdat2, s).at(0).sid, "EP092006");
  s = {};
  s.season = 2005;
  EXPECT_EQ(read("hurdat2_good.txt", BestTrackFormat::hurdat2, s).size(), 1u);
  s = {};
  s.storm = "AL992005";
  EXPECT_TRUE(read("hurdat2_good.txt", BestTrackFormat::hurdat2, s).empty());
}

TEST(Hurdat2, MalformedLinesAreNamedByNumber) {
  EXPECT_EQ(failure([] { read("hurdat2_bad_latitude.txt", BestTrackFormat::hurdat2); }),
            fixture("hurdat2_bad_latitude.txt") +
                ", line 4: expected a HURDAT2 fix of AL122005 (YYYYMMDD, HHMM, record identifier, status, latitude as "
                "28.0N, longitude as 94.8W, wind (kt), pressure (hPa), ...), not '20050824, 0600,  , TD, 23.8X,  76.2W,"
                "  30, 1007,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,'");
  EXPECT_EQ(failure([] { read("hurdat2_short.txt", BestTrackFormat::hurdat2); }),
            fixture("hurdat2_short.txt") + ", line 1: the header of AL122005 announces 12 fixes; the file ends after 8");
  EXPECT_EQ(failure([] { read("hurdat2_bad_date.txt", BestTrackFormat::hurdat2); }),
            fixture("hurdat2_bad_date.txt") + ", line 3: no such date and time: 20050231 0000");
  // A fix line where a header is expected, and a header of an unknown basin.
  EXPECT_NE(failure([] { parse_hurdat2("20050823, 1800,  , TD, 23.1N,  75.1W,  30, 1008,\n", "h.txt"); })
                .find("h.txt, line 1: expected a HURDAT2 header"),
            std::string::npos);
  EXPECT_EQ(failure([] { parse_hurdat2("XX012005, A, 1,\n20050823, 1800,  , TD, 23.1N, 75.1W, 30, 1008,\n", "h.txt"); }),
            "h.txt, line 1: 'XX' (of storm XX012005) is not a basin code tarvo knows: give ATCF's al, ep, cp, wp, io, "
            "sh, sl (in any case) or IBTrACS's NA, EP, WP, NI, SI, SP, SA");
  // Times that go back, and 29 February of a year that has none.
  const std::string back = "AL012005, A, 2,\n20050823, 1800,  , TD, 23.1N, 75.1W, 30, 1008,\n"
                           "20050823, 1200,  , TD, 23.1N, 75.1W, 30, 1008,\n";
  EXPECT_EQ(failure([&] { parse_hurdat2(back, "h.txt"); }),
            "h.txt, line 3: the fixes of AL012005 do not follow one another in time");
  EXPECT_EQ(failure([] { parse_hurdat2("AL012005, A, 1,\n20050229, 1800,  , TD, 23.1N, 75.1W, 30, 1008,\n", "h.txt"); }),
            "h.txt, line 2: no such date and time: 20050229 1800");
  EXPECT_EQ(parse_hurdat2("AL012004, A, 1,\n20040229, 1800,  , TD, 23.1N, 75.1W, 30, 1008,\n", "h.txt").size(), 1u);
  // Windows line ends and a byte-order mark are taken as they come.
  EXPECT_EQ(parse_hurdat2("\xEF\xBB\xBF" "AL012005, A, 1,\r\n20050823, 1800,  , TD, 23.1N, 75.1W, 30, 1008,\r\n", "h.txt")
                .at(0).fixes.size(),
            1u);
}

TEST(AtcfBdeck, OneFixATimeFromTheBestLines) {
  const std::vector<BestTrack> t = read("bdeck_good.dat", BestTrackFormat::atcf);
  ASSERT_EQ(t.size(), 1u);
  const BestTrack& k = t[0];
  EXPECT_EQ(k.sid, "AL122005");
  EXPECT_EQ(k.basin, "al");
  EXPECT_EQ(k.cyclone_number, 12);
  EXPECT_EQ(k.year, 2005);
  EXPECT_EQ(k.name, "KATRINA");  // the name it was given, not the depression's number word
  // Ten lines: a CARQ line left out, three wind radii at 18 h one fix.
  ASSERT_EQ(k.fixes.size(), 7u);
  EXPECT_EQ(k.fixes[1].hours, hours(2005, 8, 24, 0));
  EXPECT_EQ(k.fixes[1].line, 3);
  EXPECT_EQ(k.fixes[0].lat, 23.1f);
  EXPECT_EQ(k.fixes[0].lon, -75.1f);
  EXPECT_EQ(k.fixes[4].hours, hours(2005, 8, 25, 18));
  EXPECT_EQ(k.fixes[4].wind_kt, 70.0f);
  EXPECT_EQ(k.fixes[4].pressure_hpa, 985.0f);
  // The minutes of a landfall.
  EXPECT_EQ(k.fixes[5].hours, hours(2005, 8, 25, 22, 30));
  EXPECT_EQ(k.fixes[6].line, 10);
}

TEST(AtcfBdeck, AStormIntoTheNewYearKeepsItsId) {
  const std::string deck =
      "SH, 05, 2005123118,   , BEST,   0, 150S, 1500E,  45,  990, TS,\n"
      "SH, 05, 2006010100,   , BEST,   0, 152S, 1495E,  50,  985, TS,\n";
  const std::vector<BestTrack> t = parse_atcf_bdeck(deck, "bsh052006.dat");
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].sid, "SH052005");
  EXPECT_EQ(t[0].basin, "sh");
  EXPECT_EQ(t[0].fixes[1].lat, -15.2f);
  EXPECT_EQ(t[0].fixes[1].lon, 149.5f);
  EXPECT_TRUE(std::isnan(parse_atcf_bdeck("AL, 01, 2005060100,   , BEST,   0, 150N,  600W,   0,    0, DB,\n", "b")
                             .at(0).fixes[0].wind_kt));
}

TEST(AtcfBdeck, MalformedLinesAreNamedByNumber) {
  EXPECT_EQ(failure([] { read("bdeck_bad_basin.dat", BestTrackFormat::atcf); }),
            fixture("bdeck_bad_basin.dat") +
                ", line 4: 'XX' is not a basin code tarvo knows: give ATCF's al, ep, cp, wp, io, sh, sl (in any case) "
                "or IBTrACS's NA, EP, WP, NI, SI, SP, SA");
  EXPECT_EQ(failure([] { read("bdeck_bad_position.dat", BestTrackFormat::atcf); }),
            fixture("bdeck_bad_position.dat") +
                ", line 5: the position '245Q, 765W' is not in tenths of a degree with N/S and E/W (150N, 590W)");
  EXPECT_EQ(failure([] { read("bdeck_backwards.dat", BestTrackFormat::atcf); }),
            fixture("bdeck_backwards.dat") + ", line 6: the lines of AL122005 do not follow one another in time");
  EXPECT_EQ(failure([] { parse_atcf_bdeck("AL, 12, 20050823\n", "b.dat"); }),
            "b.dat, line 1: expected an ATCF line (basin, number, YYYYMMDDHH, minutes, technique, TAU, latitude, "
            "longitude, ...)");
  EXPECT_EQ(failure([] { parse_atcf_bdeck("AL, 12, 2005022918,   , BEST,   0, 231N,  751W,  30, 1008,\n", "b.dat"); }),
            "b.dat, line 1: no such time: 2005022918");
  EXPECT_EQ(failure([] { parse_atcf_bdeck("AL, 12, 2005082318, 75, BEST,   0, 231N,  751W,  30, 1008,\n", "b.dat"); }),
            "b.dat, line 1: the minutes '75' of a best-track line are not 0 to 59");
  EXPECT_EQ(failure([] { parse_atcf_bdeck("AL, 12, 2005082318,   , BEST,   0, 231N,  751W,  3O, 1008,\n", "b.dat"); }),
            "b.dat, line 1: VMAX '3O' is not a whole number of knots");
  EXPECT_EQ(failure([] { parse_atcf_bdeck("AL, 12, 2005082318,   , BEST,   0, 931N,  751W,  30, 1008,\n", "b.dat"); }),
            "b.dat, line 1: the position '931N, 751W' is not in tenths of a degree with N/S and E/W (150N, 590W)");
}

TEST(BestTrackFormat, TheFormatIsTakenFromTheFile) {
  EXPECT_EQ(detect_best_track_format(fixture("hurdat2_good.txt")), BestTrackFormat::hurdat2);
  EXPECT_EQ(detect_best_track_format(fixture("bdeck_good.dat")), BestTrackFormat::atcf);
  EXPECT_EQ(failure([] { detect_best_track_format(fixture("params_good.in")); }),
            fixture("params_good.in") +
                ": neither NetCDF nor a HURDAT2, ATCF or STORM text: give --format "
                "ibtracs|hurdat2|atcf|cf|climada|storm, or --format csv with --columns");
  EXPECT_NE(failure([] { detect_best_track_format(fixture("no_such_file")); }).find("cannot open"), std::string::npos);
  BestTrackFormat f;
  EXPECT_TRUE(parse_best_track_format("bdeck", f) && f == BestTrackFormat::atcf);
  EXPECT_FALSE(parse_best_track_format("hurdat", f));
}

}  // namespace
}  // namespace tarvo
