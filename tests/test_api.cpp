// The library API: forecasts from files or from values in memory give the
// bytes of the tarvo program; tracks written out read back bit for bit; bad
// values are InputErrors naming what is wrong.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <filesystem>
#include <memory>
#include <string>

#include "api/tarvo.hpp"
#include "helpers.hpp"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

struct Cases {
  test::TempDir dir;
  std::unique_ptr<OceanGrids> grids;
  std::vector<std::string> names;
  Cases() {
    for (const std::string& name : test::generated_cases(dir, {31, 32})) {
      if (test::run_in(name, test::quoted(TARVO_BINARY), nullptr, nullptr) != 0) return;
      names.push_back(name);
    }
    grids = std::make_unique<OceanGrids>(load_grids(dir / "world/data"));
  }
};
const Cases& cases() {
  static const Cases c;
  return c;
}

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(Api, ForecastFromFilesGivesTheBytesOfTarvo) {
  const Cases& c = cases();
  ASSERT_EQ(c.names.size(), 2u);
  for (const std::string& dir : c.names) {
    const Forecast f = forecast(read_track_file(dir + "/track.in"), read_params_file(dir + "/params.in"), *c.grids);
    EXPECT_EQ(f.status, Forecast::Status::finished);
    EXPECT_TRUE(f.warnings.empty());
    ASSERT_FALSE(f.samples.empty());
    EXPECT_EQ(track_out_text(f), test::read_text(dir + "/track.out")) << dir;
  }
}

TEST(Api, TrackTextReadsBackBitForBitAndForecastsAlike) {
  const Cases& c = cases();
  ASSERT_FALSE(c.names.empty());
  const Track t = read_track_file(c.names[0] + "/track.in");
  const Track back = parse_track(track_text(t), "written");
  EXPECT_EQ(back.basin, t.basin);
  EXPECT_EQ(back.month, t.month);
  EXPECT_EQ(back.day, t.day);
  EXPECT_EQ(back.hour, t.hour);
  ASSERT_EQ(back.records.size(), t.records.size());
  for (std::size_t i = 0; i < t.records.size(); ++i) {
    const TrackRecord &a = t.records[i], &b = back.records[i];
    EXPECT_EQ(a.hour, b.hour);
    for (auto m : {&TrackRecord::lat, &TrackRecord::lon, &TrackRecord::vmax_kt, &TrackRecord::vpot,
                   &TrackRecord::f6, &TrackRecord::t600, &TrackRecord::rh600})
      EXPECT_TRUE(same_bits(a.*m, b.*m)) << i;
  }
  // Values with every digit a float has, and a west longitude.
  Track odd = t;
  odd.records[0].lat = 12.3456789f;
  odd.records[0].lon = -61.0000038f;
  odd.records[0].vmax_kt = 1.0e-7f;
  const Track odd_back = parse_track(track_text(odd), "odd");
  EXPECT_TRUE(same_bits(odd_back.records[0].lat, odd.records[0].lat));
  EXPECT_TRUE(same_bits(odd_back.records[0].lon, odd.records[0].lon));
  EXPECT_TRUE(same_bits(odd_back.records[0].vmax_kt, odd.records[0].vmax_kt));
  const Params p = read_params_file(c.names[0] + "/params.in");
  EXPECT_EQ(track_out_text(forecast(back, p, *c.grids)), test::read_text(c.names[0] + "/track.out"));
}

// A stream of storms gives each the forecast it gets alone, bit for bit, and
// ends every storm exactly once: a storm without grids and one whose track
// leaves the grids fail alone, named, while the others go on.
TEST(Api, StreamGivesEachStormItsOwnForecastAndFailsBadOnesAlone) {
  const Cases& c = cases();
  ASSERT_EQ(c.names.size(), 2u);
  std::vector<Track> tracks;
  for (const std::string& dir : c.names) tracks.push_back(read_track_file(dir + "/track.in"));
  const Params params = read_params_file(c.names[0] + "/params.in");
  Track polar = tracks[0];
  for (auto& r : polar.records) r.lat = 89.9f;
  constexpr std::size_t n = 7;  // tags 0..6; 2 has no grids, 5 is polar
  std::size_t given = 0;
  std::vector<int> ended(n, 0);
  std::vector<Forecast> got(n);
  std::vector<std::string> errors(n);
  forecast_stream(
      [&](StormInputs& storm) {
        if (given == n) return false;
        storm.tag = given++;
        storm.track = storm.tag == 5 ? polar : tracks[storm.tag % 2];
        storm.params = params;
        storm.grids = storm.tag == 2 ? nullptr : c.grids.get();
        storm.name = "storm" + std::to_string(storm.tag);
        return true;
      },
      [&](std::size_t tag, Forecast&& f, const InputError* error) {
        ASSERT_LT(tag, n);
        ++ended[tag];
        got[tag] = std::move(f);
        if (error) errors[tag] = error->what();
      });
  for (std::size_t i = 0; i < n; ++i) {
    EXPECT_EQ(ended[i], 1) << i;
    if (i == 2 || i == 5) {
      EXPECT_NE(errors[i].find("storm" + std::to_string(i)), std::string::npos) << errors[i];
      EXPECT_TRUE(got[i].samples.empty());
      continue;
    }
    EXPECT_EQ(errors[i], "") << i;
    EXPECT_EQ(track_out_text(got[i]), test::read_text(c.names[i % 2] + "/track.out")) << i;
  }
}

TEST(Api, BadValuesInMemoryNameWhatIsWrong) {
  const Cases& c = cases();
  ASSERT_FALSE(c.names.empty());
  Track good = read_track_file(c.names[0] + "/track.in");
  good.lines.clear();  // a track made in memory: no lines to name
  good.header_line = good.end_line = 0;
  const Params p = read_params_file(c.names[0] + "/params.in");
  auto failure = [&](Track t) -> std::string {
    try {
      forecast(t, p, *c.grids, nullptr, "storm 7");
    } catch (const InputError& e) {
      EXPECT_EQ(e.file(), "storm 7");
      return e.what();
    }
    return "no error";
  };
  Track t = good;
  t.month = 13;
  EXPECT_EQ(failure(t), "storm 7: reference month 13 is not in 1..12");
  t = good;
  t.basin = "abc";
  EXPECT_EQ(failure(t), std::string("storm 7: the basin code 'abc' is not one tarvo knows: give ") +
                           basin_codes_accepted);
  t = good;
  t.records[1].hour = t.records[0].hour;
  EXPECT_NE(failure(t).find("record 2: time"), std::string::npos);
  t = good;
  t.records[2].lon = 400.0f;
  EXPECT_EQ(failure(t), "storm 7: record 3: longitude is not within -360..360");
  t = good;
  for (TrackRecord& r : t.records) r.hour += 100000;
  EXPECT_NE(failure(t).find("out of range"), std::string::npos);
  t = good;
  t.records.clear();
  EXPECT_EQ(failure(t), "storm 7: no track records");
  t = good;
  t.records.resize(201, t.records.back());
  EXPECT_EQ(failure(t), "storm 7: 201 track records; at most 200");
  EXPECT_THROW(parse_params("0.5\n0.5\n", "p"), InputError);
}

// Every interface of the library refuses a value that is not finite, naming
// the field, the fix and the storm: one NaN changes the whole forecast.
TEST(Api, ValuesThatAreNotFiniteAreRefusedNamingFieldFixAndStorm) {
  const Cases& c = cases();
  ASSERT_FALSE(c.names.empty());
  Track good = read_track_file(c.names[0] + "/track.in");
  good.lines.clear();
  const Params p = read_params_file(c.names[0] + "/params.in");
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  const std::pair<float TrackRecord::*, const char*> fields[] = {
      {&TrackRecord::vmax_kt, "vmax_kt (observed maximum wind, kt) is NaN"},
      {&TrackRecord::vpot, "vpot (potential intensity, m/s) is NaN"},
      {&TrackRecord::f6, "shear (environmental wind shear, m/s) is NaN"},
      {&TrackRecord::t600, "t600 (temperature at 600 hPa, K) is NaN"},
      {&TrackRecord::rh600, "rh600 (relative humidity at 600 hPa, percent) is NaN"}};
  for (const auto& [member, words] : fields) {
    Track t = good;
    t.records[3].*member = nan;
    try {
      forecast(t, p, *c.grids, nullptr, "storm 7");
      ADD_FAILURE() << words;
    } catch (const InputError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("storm 7: fix 4 (" + std::to_string(t.records[3].hour) + " h): " + words, 0), 0u)
          << e.what();
    }
  }
  Track t = good;
  t.records[0].t600 = -inf;
  std::string error;
  forecast_stream(
      [&, given = false](StormInputs& storm) mutable {
        if (given) return false;
        storm.track = t;
        storm.params = p;
        storm.grids = c.grids.get();
        storm.name = "streamed";
        return given = true;
      },
      [&](std::size_t, Forecast&&, const InputError* e) { error = e ? e->what() : "no error"; });
  EXPECT_NE(error.find("streamed: fix 1 ("), std::string::npos) << error;
  EXPECT_NE(error.find("t600 (temperature at 600 hPa, K) is -infinity"), std::string::npos) << error;
  Params q = p;
  q.nudge_gain = nan;
  EXPECT_THROW(forecast(good, q, *c.grids), InputError);
  // track.in as the program reads it keeps its rules: the value is used, with a warning.
  t = good;
  t.records[3].vpot = nan;
  const Forecast f = forecast(t, p, *c.grids, nullptr, "track.in", TrackRules::track_in);
  ASSERT_EQ(f.warnings.size(), 1u);
  EXPECT_NE(f.warnings[0].find("record 4: vpot (potential intensity, m/s) is NaN"), std::string::npos);
}

TEST(Api, BasinCodesAreNormalisedAndEasternPacificOnesSelectItsCoefficients) {
  const Cases& c = cases();
  ASSERT_FALSE(c.names.empty());
  const Track good = read_track_file(c.names[0] + "/track.in");
  const Params p = read_params_file(c.names[0] + "/params.in");
  auto text_with = [&](const char* code, TrackRules rules) {
    Track t = good;
    t.basin = code;
    return track_out_text(forecast(t, p, *c.grids, nullptr, "t", rules));
  };
  const std::string ep = text_with("ep", TrackRules::library), al = text_with("al", TrackRules::library);
  EXPECT_NE(ep, al);
  for (const char* code : {"EP", "Ep", "eP"}) {
    EXPECT_EQ(text_with(code, TrackRules::library), ep) << code;
    EXPECT_EQ(text_with(code, TrackRules::track_in), al) << code;  // track.in's exact comparison
  }
  EXPECT_EQ(text_with("NA", TrackRules::library), al);
  for (const auto& [code, kept] : {std::pair{"AL", "al"}, {"ep", "ep"}, {"CP", "cp"}, {"wp", "wp"}, {"IO", "io"},
                                   {"sh", "sh"}, {"SL", "sl"}, {"NA", "al"}, {"EP", "ep"}, {"WP", "wp"},
                                   {"NI", "io"}, {"SI", "sh"}, {"SP", "sh"}, {"SA", "sl"}, {" al", "al"}})
    EXPECT_EQ(tarvo_basin(code), kept) << code;
  for (const char* code : {"", "a", "xx", "MM", "ep1", "e p"}) EXPECT_EQ(tarvo_basin(code), "") << code;
}

TEST(Api, SkippedRecordsBecomeWarnings) {
  const Cases& c = cases();
  ASSERT_FALSE(c.names.empty());
  std::string text = test::read_text(c.names[0] + "/track.in");
  const std::size_t third = text.find('\n', text.find('\n', text.find('\n') + 1) + 1) + 1;
  const std::size_t end = text.find('\n', third);
  text.insert(end + 1, "24 x 1 1 1 1 1 1\n");
  const Track t = parse_track(text, "track.in");
  ASSERT_EQ(t.skipped.size(), 1u);
  const Forecast f = forecast(t, read_params_file(c.names[0] + "/params.in"), *c.grids, nullptr, "track.in");
  ASSERT_EQ(f.warnings.size(), 1u);
  EXPECT_NE(f.warnings[0].find("track.in, line 5: record skipped"), std::string::npos) << f.warnings[0];
}

}  // namespace
}  // namespace tarvo
