// The free-format reader shared by every text input.
#include <gtest/gtest.h>

#include <array>
#include <charconv>
#include <cstdio>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "input/cases/free_format.hpp"

namespace tarvo {
namespace {

using R = FreeFormatReader;
using Status = R::Status;

TEST(FreeFormat, ValuesSeparatedByBlanksCommasTabsAndLineEnds) {
  R r("1, 2.5\t3e1\r\n  4 ,5\n");
  int a = 0;
  float b = 0, c = 0, d = 0, e = 0;
  ASSERT_EQ(r.read({R::integer(a, "a"), R::real(b, "b"), R::real(c, "c"), R::real(d, "d"),
                    R::real(e, "e")}),
            Status::ok);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2.5f);
  EXPECT_EQ(c, 30.0f);
  EXPECT_EQ(d, 4.0f);
  EXPECT_EQ(e, 5.0f);
}

TEST(FreeFormat, EachReadStartsOnANewLineAndSkipsTheRestOfItsLastLine) {
  R r("1 2 3 ignored words\n4\n");
  float a = 0, b = 0;
  ASSERT_EQ(r.read({R::real(a, "a")}), Status::ok);
  ASSERT_EQ(r.read({R::real(b, "b")}), Status::ok);
  EXPECT_EQ(a, 1.0f);
  EXPECT_EQ(b, 4.0f);
}

TEST(FreeFormat, ContinuesOverLinesUntilTheListIsFull) {
  R r("\n\n1\n\n2 3\n9\n");
  float v[3] = {};
  ASSERT_EQ(r.read({R::real(v[0], "a"), R::real(v[1], "b"), R::real(v[2], "c")}), Status::ok);
  EXPECT_EQ(v[2], 3.0f);
  float next = 0;
  ASSERT_EQ(r.read({R::real(next, "n")}), Status::ok);
  EXPECT_EQ(next, 9.0f);
}

TEST(FreeFormat, RepeatCountsAndNullValues) {
  R r("2*7.5 3* 1*4,,6\n");
  float v[8] = {0, 0, -1, -1, -1, 0, -2, 0};
  R::Item items[8];
  for (int i = 0; i < 8; ++i) items[i] = R::real(v[i], "v");
  ASSERT_EQ(r.read(items, 8), Status::ok);
  EXPECT_EQ(v[0], 7.5f);
  EXPECT_EQ(v[1], 7.5f);
  EXPECT_EQ(v[2], -1.0f);  // 3* : three null values
  EXPECT_EQ(v[3], -1.0f);
  EXPECT_EQ(v[4], -1.0f);
  EXPECT_EQ(v[5], 4.0f);
  EXPECT_EQ(v[6], -2.0f);  // ,, : a null value
  EXPECT_EQ(v[7], 6.0f);
}

TEST(FreeFormat, SlashEndsTheReadAndLeavesTheRestUnchanged) {
  R r("1 2 / 3 4\n5\n");
  float v[4] = {0, 0, 8, 9};
  ASSERT_EQ(r.read({R::real(v[0], "a"), R::real(v[1], "b"), R::real(v[2], "c"), R::real(v[3], "d")}),
            Status::ok);
  EXPECT_EQ(v[1], 2.0f);
  EXPECT_EQ(v[2], 8.0f);
  EXPECT_EQ(v[3], 9.0f);
  float next = 0;
  ASSERT_EQ(r.read({R::real(next, "n")}), Status::ok);
  EXPECT_EQ(next, 5.0f);
}

TEST(FreeFormat, CharacterItemsQuotedOrNotKeepTheirFirstCharacters) {
  char a[2], b[2], c[2], d[3];
  R r("'ep' \"cp\" al 'x''y'\n");
  ASSERT_EQ(r.read({R::chars(a, 2, "a"), R::chars(b, 2, "b"), R::chars(c, 2, "c"),
                    R::chars(d, 3, "d")}),
            Status::ok);
  EXPECT_EQ(std::string(a, 2), "ep");
  EXPECT_EQ(std::string(b, 2), "cp");
  EXPECT_EQ(std::string(c, 2), "al");
  EXPECT_EQ(std::string(d, 3), "x'y");
  R longer("'atlantic' w\n");
  char e[2], f[2];
  ASSERT_EQ(longer.read({R::chars(e, 2, "e"), R::chars(f, 2, "f")}), Status::ok);
  EXPECT_EQ(std::string(e, 2), "at");
  EXPECT_EQ(std::string(f, 2), "w ");  // blank-padded
}

TEST(FreeFormat, RealForms) {
  float v = 0;
  for (const char* s : {"1.5E+01", "1.5e1", "1.5D+01", "1.5d1", "15", "+15.", "15.0000"}) {
    ASSERT_TRUE(parse_real(s, v)) << s;
    EXPECT_EQ(v, 15.0f) << s;
  }
  ASSERT_TRUE(parse_real(".888", v));
  EXPECT_EQ(v, 0.888f);
  ASSERT_TRUE(parse_real("-0.1", v));
  EXPECT_EQ(v, -0.1f);  // correctly rounded to float
  for (const char* s : {"", "abc", "1.5x", "1e", "--1", "1,5", "1e39", "0x10"})
    EXPECT_FALSE(parse_real(s, v)) << s;
}

// Plain decimals take a short way to their float; it must be the correctly
// rounded value from_chars gives, bit for bit, at the limits of that way too
// (2^24, ten decimals, leading and trailing zeros, a lone point, signs).
TEST(FreeFormat, PlainDecimalsReadAsFromCharsReadsThem) {
  std::vector<std::string> tokens = {"0", "-0", "0.", ".5", "-.5", "5.", ".", "-", "1.2.3", "--1",
                                     "16777216", "16777217", "167772.16", "1677721.7", "0.0000000001",
                                     "0.00000000001", "1.0000000000", "-12.34567890", "007.50",
                                     "99999999", "3.4028235", "1e5", "12a", "1.149E+01", "1E10", "1e11",
                                     "16777216e10", "1e-10", "1e-11", "5E", "5e+", "1e999", "-0e0"};
  std::uint64_t state = 42;
  auto next = [&] { return state = state * 6364136223846793005ull + 1442695040888963407ull; };
  for (int i = 0; i < 100000; ++i) {
    std::string t = next() % 4 == 0 ? "-" : "";
    const int before = static_cast<int>(next() % 9), after = static_cast<int>(next() % 12);
    for (int d = 0; d < before; ++d) t += static_cast<char>('0' + next() % 10);
    if (next() % 5 != 0) t += '.';
    for (int d = 0; d < after; ++d) t += static_cast<char>('0' + next() % 10);
    if (next() % 3 == 0) {
      t += "eE"[next() % 2];
      t += std::string("+- ").substr(next() % 3, 1);
      for (int d = static_cast<int>(next() % 3); d > 0; --d) t += static_cast<char>('0' + next() % 10);
      if (t.back() == ' ') t.pop_back();
    }
    tokens.push_back(t);
  }
  for (const std::string& t : tokens) {
    float fast = 0.0f, slow = 0.0f;
    const bool ok = parse_real(t, fast);
    const auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), slow, std::chars_format::general);
    const bool slow_ok = ec == std::errc() && p == t.data() + t.size();
    ASSERT_EQ(ok, slow_ok) << t;
    if (ok) {
      std::uint32_t a, b;
      std::memcpy(&a, &fast, 4);
      std::memcpy(&b, &slow, 4);
      ASSERT_EQ(a, b) << t;
    }
  }
}

TEST(FreeFormat, IntegerRejectsRealsAndText) {
  int v = 0;
  ASSERT_TRUE(parse_integer("-42", v));
  EXPECT_EQ(v, -42);
  ASSERT_TRUE(parse_integer("+7", v));
  EXPECT_EQ(v, 7);
  for (const char* s : {"12.5", "abc", "1e3", "", "99999999999"}) EXPECT_FALSE(parse_integer(s, v)) << s;
}

TEST(FreeFormat, EndOfFileIsNotABadValue) {
  R r("1 2\n");
  float v[3];
  EXPECT_EQ(r.read({R::real(v[0], "a"), R::real(v[1], "b"), R::real(v[2], "c")}),
            Status::end_of_file);
  R empty("");
  EXPECT_EQ(empty.read({R::real(v[0], "a")}), Status::end_of_file);
  EXPECT_EQ(empty.skip_line(), Status::end_of_file);
}

TEST(FreeFormat, BadValueReportsItsLineAndTheNextReadStartsOnTheNextLine) {
  R r("1\n2 abc 3\n4\n");
  float a = 0, b = 0, c = 0;
  int i = 0;
  ASSERT_EQ(r.read({R::real(a, "a")}), Status::ok);
  ASSERT_EQ(r.read({R::real(b, "b"), R::real(c, "c"), R::real(c, "c")}), Status::bad_value);
  EXPECT_EQ(r.line(), 2);
  EXPECT_NE(r.problem().find("abc"), std::string::npos);
  ASSERT_EQ(r.read({R::integer(i, "i")}), Status::ok);
  EXPECT_EQ(i, 4);
  R q("12.5\n");
  EXPECT_EQ(q.read({R::integer(i, "time")}), Status::bad_value);
  EXPECT_NE(q.problem().find("integer"), std::string::npos);
}

TEST(FreeFormat, GridRowsOfReals) {
  std::string text;
  for (int k = 0; k < 36; ++k) text += "1 2 3 4 5 6 7 8 9 10\n";
  text += "trailing\n";
  R r(text);
  float row[360];
  ASSERT_EQ(r.read_reals(row, 360, "grid value"), Status::ok);
  EXPECT_EQ(row[359], 10.0f);
  EXPECT_EQ(r.read_reals(row, 1, "grid value"), Status::bad_value);
  EXPECT_EQ(r.line(), 37);
}

// Records read by FreeFormatReader::read_reals, one after another: all the
// values, or nothing when a read fails.
std::vector<float> read_records(const std::string& text, std::size_t records, std::size_t n) {
  std::vector<float> v(records * n);
  R r(text);
  for (std::size_t k = 0; k < records; ++k)
    if (r.read_reals(v.data() + k * n, n, "grid value") != Status::ok) return {};
  return v;
}

// Two texts scanned side by side read what the full reader reads, bit for
// bit, whenever they say they read the text whole; they decline every text
// with anything but plain numbers before its last value, and the other text
// goes on alone.
TEST(FreeFormat, PlainRecordsSideBySideReadWhatReadRealsReads) {
  constexpr std::size_t records = 3, n = 7;
  auto plain_of = [](const std::string& a, const std::string& b) {
    std::vector<float> x(records * n), y(records * n);
    const auto whole = read_plain_records(a, x.data(), b, y.data(), records, n);
    return std::pair{whole[0] ? x : std::vector<float>{}, whole[1] ? y : std::vector<float>{}};
  };
  const std::string good =
      "1 -2.5 3.25e1 4\t5.125\r\n  6 7 trailing text, / 1*2\n"
      "0.001  -0  12345678 1.5E-3\n.5 1. 11 12\n"
      "-0.000 14 15 16 17 18 19";  // no line end after the last value
  const std::vector<std::string> declined = {
      "1,2 3 4 5 6 7\n" + good,                 // a comma
      "1 2 3 / 4 5 6 7\n" + good,               // a slash
      "3*1 4 5 6 7\n" + good,                   // a repeat count
      "\xEF\xBB\xBF" + good,                     // a byte-order mark
      "1 2 3 '4' 5 6 7\n" + good,               // a quoted value
      "1 2 3 +4 5 6 7\n" + good,                // a plus sign
      "1 2 3 4.0d0 5 6 7\n" + good,             // a D exponent
      "1 2 3 3.14159265358979 5 6 7\n" + good,  // more digits than the quick way takes
      "1 2 3 123456789 5 6 7\n" + good,         // nine digits in a row, too
      "1 2 3 1.2.3 5 6 7\n" + good,             // two points
      "1 2 3 --4 5 6 7\n" + good,               // two signs
      "1 2 3 16777217 5 6 7\n" + good,          // eight digits above 2^24
      "1 2 3 1E+11 5 6 7\n" + good,             // a power of ten beyond 10^10
      "1 2 3 4.5e+100 5 6 7\n" + good,          // an exponent of three digits
      "1 2 3 4\f5 6 7\n" + good,                // a control character
      "1 2 3 4e 5 6 7\n" + good,                // an exponent without digits
      good.substr(0, good.size() - 3),          // too few values
  };
  const auto [g1, g2] = plain_of(good, good);
  ASSERT_FALSE(g1.empty());
  const std::vector<float> full = read_records(good, records, n);
  EXPECT_EQ(std::memcmp(g1.data(), full.data(), g1.size() * sizeof(float)), 0);
  EXPECT_EQ(g1, g2);
  std::vector<float> alone(records * n);  // one text alone: no output for the other
  EXPECT_EQ(read_plain_records(good, alone.data(), "", nullptr, records, n), (std::array<bool, 2>{true, false}));
  EXPECT_EQ(alone, g1);
  for (const std::string& text : declined) {
    const auto [a, b] = plain_of(text, good);
    EXPECT_TRUE(a.empty()) << text;
    EXPECT_EQ(b, g1) << "the other text goes on alone";
    const auto [c, d] = plain_of(good, text);
    EXPECT_EQ(c, g1);
    EXPECT_TRUE(d.empty()) << text;
  }
  // Random plain texts with every separator: read whole, and the same bits.
  std::uint32_t seed = 7;
  auto next = [&] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
  const char* separators[] = {" ", "  ", "   ", "\t", "\n", "\r\n", " \n ", "                  "};
  for (int trial = 0; trial < 300; ++trial) {
    std::string text[2];
    for (std::string& t : text) {
      for (std::size_t k = 0; k < records * n; ++k) {
        // Up to 4 digits before the point and 3 after, a sign, an exponent.
        char value[40];
        const unsigned whole = next() % 10000, fraction = next() % 1000, form = next() % 4;
        const int exponent = static_cast<int>(next() % 11) - 5;
        const char* sign = next() % 3 == 0 ? "-" : "";
        if (form == 0)
          std::snprintf(value, sizeof value, "%s%u", sign, whole);
        else if (form == 1)
          std::snprintf(value, sizeof value, "%s%u.%03u", sign, whole, fraction);
        else if (form == 2)
          std::snprintf(value, sizeof value, "%s%u.%u", sign, whole % 10, fraction);
        else
          std::snprintf(value, sizeof value, "%s%u.%03uE%+03d", sign, whole % 10, fraction, exponent);
        t += value;
        t += (k + 1) % n == 0 ? "\n" : separators[next() % 8];
      }
    }
    const auto [a, b] = plain_of(text[0], text[1]);
    for (int i = 0; i < 2; ++i) {
      const std::vector<float>& got = i == 0 ? a : b;
      const std::vector<float> want = read_records(text[i], records, n);
      ASSERT_EQ(got.size(), want.size()) << text[i];
      EXPECT_EQ(std::memcmp(got.data(), want.data(), got.size() * sizeof(float)), 0) << text[i];
    }
  }
}

// Records longer than a batch of sixteen values and not a multiple of it,
// each ending inside a line with more values after it: the rest of that
// line is passed over, and every value is the full reader's, sign of zero
// and the largest digits the quick way takes included.
TEST(FreeFormat, PlainRecordsOfOddLengthsSkipTheRestOfTheirLastLine) {
  constexpr std::size_t records = 4, n = 37;
  const char* forms[] = {"16777216", "-0", "0.0", "85", "-2.5e-1", "1.1504e+01", "9.999E+9", ".5", "5.", "-12.125"};
  std::string text;
  for (std::size_t r = 0; r < records; ++r) {
    for (std::size_t k = 0; k < n; ++k) {
      text += forms[(r * n + k) % 10];
      text += (k + 1) % 9 == 0 ? "\n" : "  ";
    }
    text += " 777 888 -1e5 skipped\n";  // after the record's last value, on its line
  }
  std::vector<float> quick(records * n);
  EXPECT_EQ(read_plain_records(text, quick.data(), "", nullptr, records, n), (std::array<bool, 2>{true, false}));
  const std::vector<float> full = read_records(text, records, n);
  ASSERT_EQ(full.size(), quick.size());
  EXPECT_EQ(std::memcmp(quick.data(), full.data(), quick.size() * sizeof(float)), 0);
  EXPECT_EQ(quick[0], 16777216.0f);
  EXPECT_TRUE(std::signbit(quick[1]) && quick[1] == 0.0f);
  EXPECT_EQ(quick[n], full[n]);  // the second record starts on the line after the skipped values
  EXPECT_NE(quick[n], 777.0f);
}

}  // namespace
}  // namespace tarvo
