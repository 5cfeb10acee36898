#include "input/cases/free_format.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace tarvo {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Blanks and line ends: what separates plain numbers.
constexpr std::array<bool, 256> separator = [] {
  std::array<bool, 256> t{};
  for (unsigned char c : {' ', '\t', '\r', '\n'}) t[c] = true;
  return t;
}();

// Characters that end an unquoted token: blanks, line ends, commas, slashes.
constexpr std::array<bool, 256> token_end = [] {
  std::array<bool, 256> t{};
  for (unsigned char c : {' ', '\t', '\r', '\n', ',', '/'}) t[c] = true;
  return t;
}();

std::string shown(std::string_view token) {
  constexpr std::size_t max_shown = 40;
  std::string s(token.substr(0, max_shown));
  if (token.size() > max_shown) s += "...";
  return "'" + s + "'";
}

}  // namespace

bool parse_integer(std::string_view token, int& out) {
  if (!token.empty() && token.front() == '+') token.remove_prefix(1);
  if (token.empty()) return false;
  const char* end = token.data() + token.size();
  auto [p, ec] = std::from_chars(token.data(), end, out);
  return ec == std::errc() && p == end;
}

namespace {

// Eight characters at p as a word, the first in the lowest byte.
[[gnu::always_inline]] inline std::uint64_t word_at(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// The number the digits of x make: their values 0..9, one a byte from the
// lowest, in its n lowest bytes (1 <= n <= 8); the bytes above are ignored.
[[gnu::always_inline]] inline std::uint64_t digits_value(std::uint64_t x, int n) {
  // The n digits moved to the top, zeros below them: the same number.
  std::uint64_t v = x << (8 * (8 - n));
  v = (v * 10) + (v >> 8);
  v = (((v & 0x000000FF000000FFull) * 0x000F424000000064ull) +
       (((v >> 16) & 0x000000FF000000FFull) * 0x0000271000000001ull)) >>
      32;
  return static_cast<std::uint32_t>(v);
}

// The bytes of x (a word of characters less '0' each) that are no digit: 0x80
// in each such byte. "At least 10" is found for each byte without a carry
// between bytes.
[[gnu::always_inline]] inline std::uint64_t not_digits(std::uint64_t x) {
  return (((x & 0x7F7F7F7F7F7F7F7Full) + 0x7676767676767676ull) | x) & 0x8080808080808080ull;
}

// How many of the characters of w (from its lowest byte) are digits before
// the first that is not, and in `value` what those digits make.
[[gnu::always_inline]] inline int leading_digits(std::uint64_t w, std::uint64_t& value) {
  const std::uint64_t x = w ^ 0x3030303030303030ull;
  const std::uint64_t other = not_digits(x);
  const int n = other ? __builtin_ctzll(other) / 8 : 8;
  value = n == 0 ? 0 : digits_value(x, n);
  return n;
}

constexpr float power_of_ten[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};

// How a number's digits m are scaled to m 10^q: divided by `divisor`, then
// multiplied by `factor`. One of them is 1, so that the scaling is one
// rounding: with m at most 2^24 and |q| at most 10, the correctly rounded
// value. A negation is exact.
struct Scale {
  float divisor, factor;
};
static_assert(sizeof(Scale) == 2 * sizeof(float), "scales are loaded as pairs of floats");

// The scales of m 10^q for q = -10 .. 10, positive then negative.
constexpr std::array<Scale, 42> scales = [] {
  std::array<Scale, 42> t{};
  for (int q = -10; q <= 10; ++q) {
    const Scale s{power_of_ten[q < 0 ? -q : 0], power_of_ten[q > 0 ? q : 0]};
    t[q + 10] = s;
    t[q + 31] = {s.divisor, -s.factor};
  }
  return t;
}();

// m 10^q, negated when `negative` (|q| at most 10).
[[gnu::always_inline]] inline float plain_value(std::uint64_t m, int q, bool negative) {
  const Scale s = scales[q + 10 + 21 * negative];
  return static_cast<float>(m) / s.divisor * s.factor;
}

// A plain decimal, [-]digits[.digits][(e|E)[+|-]digits], from p on: the end of
// what it read, or null when the text there is not of that form or lies
// beyond the short way. The short way: the digits make an integer m of at
// most 2^24 and the power of ten q it is scaled by is at most 10 either way;
// m and 10^|q| are then exact floats, and the one rounding of m / 10^-q or
// m * 10^q is the correctly rounded value that from_chars gives.
[[gnu::always_inline]] inline const char* scan_plain_decimal(const char* p, const char* end, float& out) {
  static constexpr std::uint64_t scale[] = {1, 10, 100, 1000, 10000, 100000, 1000000,
                                            10000000, 100000000};
  const bool negative = p < end && *p == '-';
  if (negative) ++p;
  std::uint64_t m = 0;
  int digits = 0, q = 0;
  if (end - p >= 17) {
    // Eight characters at a time: the digits before the point, then after it.
    digits = leading_digits(word_at(p), m);
    if (digits == 8) return nullptr;
    p += digits;
    if (*p == '.') {
      std::uint64_t f;
      const int n = leading_digits(word_at(p + 1), f);
      if (n == 8) return nullptr;
      m = m * scale[n] + f;
      digits += n;
      q = -n;
      p += 1 + n;
    }
  } else {
    for (; p < end && *p >= '0' && *p <= '9'; ++p, ++digits) {
      if (m > (1u << 24) / 10) return nullptr;
      m = m * 10 + static_cast<std::uint32_t>(*p - '0');
    }
    if (p < end && *p == '.') {
      for (++p; p < end && *p >= '0' && *p <= '9'; ++p, ++digits, --q) {
        if (m > (1u << 24) / 10) return nullptr;
        m = m * 10 + static_cast<std::uint32_t>(*p - '0');
      }
    }
  }
  if (digits == 0 || m > (1u << 24)) return nullptr;
  if (p < end && (*p == 'e' || *p == 'E')) {
    ++p;
    const bool minus = p < end && *p == '-';
    if (p < end && (*p == '-' || *p == '+')) ++p;
    int e = 0, e_digits = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p, ++e_digits) {
      if (e > 100) return nullptr;
      e = e * 10 + (*p - '0');
    }
    if (e_digits == 0) return nullptr;
    q += minus ? -e : e;
  }
  if (q < -10 || q > 10) return nullptr;
  out = plain_value(m, q, negative);
  return p;
}

// Of the sixteen characters at p, bit i for p[i]: the separators (blanks,
// tabs, carriage returns and line ends), the digits, the points, the letters
// e and E, and the minus signs.
struct CharacterBits {
  unsigned separators, digits, points, exponents, minus;
};

[[gnu::always_inline]] inline CharacterBits character_bits(const char* p) {
#ifdef __SSE2__
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i blank = _mm_set1_epi8(' ');
  const __m128i d = _mm_sub_epi8(v, _mm_set1_epi8('0'));
  auto bits = [](__m128i m) { return static_cast<unsigned>(_mm_movemask_epi8(m)); };
  const __m128i separators =
      _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, blank), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))),
                   _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\t')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\r'))));
  return {bits(separators),
          bits(_mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(9)), d)), bits(_mm_cmpeq_epi8(v, _mm_set1_epi8('.'))),
          bits(_mm_cmpeq_epi8(_mm_or_si128(v, blank), _mm_set1_epi8('e'))), bits(_mm_cmpeq_epi8(v, _mm_set1_epi8('-')))};
#else
  CharacterBits bits{0, 0, 0, 0, 0};
  for (int i = 0; i < 16; ++i) {
    const unsigned char c = static_cast<unsigned char>(p[i]);
    bits.separators |= static_cast<unsigned>(separator[c]) << i;
    bits.digits |= static_cast<unsigned>(c >= '0' && c <= '9') << i;
    bits.points |= static_cast<unsigned>(c == '.') << i;
    bits.exponents |= static_cast<unsigned>((c | 0x20) == 'e') << i;
    bits.minus |= static_cast<unsigned>(c == '-') << i;
  }
  return bits;
#endif
}

// What next_number found.
enum class Found { quick, other, none };

// The next token (run of characters between separators) from p on: its
// start t and length, and p after it; none when no token is left. The
// commonest case is `quick`: the token and the separators before it within
// sixteen characters with 32 readable, and the token a plain decimal
// [-]digits[.digits][(e|E)[+|-]digits] whose part between the sign and the
// exponent has at most eight characters and whose exponent has one or two
// digits. Its digits are then left in `digits`, the point taken out, as the
// eight digits (zeros first) that digits_value takes, and its scaling in
// `scale`; the digits are not yet tested against 2^24. One load finds the
// ends of the token, its digits, point and exponent, and no branch depends
// on the digits, so that the chain from one token to the next is short.
[[gnu::always_inline]] inline Found next_number(const char*& p, const char* end, const char*& t, unsigned& length,
                                                std::uint64_t& digits, Scale& scale) {
  if (end - p >= 32) {
    const CharacterBits bits = character_bits(p);
    const int lead = __builtin_ctz(~bits.separators);
    const int n_chars = __builtin_ctz((bits.separators | 0x10000u) >> lead);
    if (lead + n_chars < 16) {
      t = p + lead;
      length = static_cast<unsigned>(n_chars);
      p = t + n_chars;
      const bool negative = (bits.minus >> lead) & 1;
      const int from = lead + negative, chars = n_chars - negative;  // after the sign
      const int e = __builtin_ctz((bits.exponents >> from) | (1u << chars));  // characters before the exponent
      // Before the exponent: digits and at most one point, at most eight
      // characters and at least one digit.
      const unsigned mantissa = (1u << e) - 1;
      const unsigned points = (bits.points >> from) & mantissa;
      const int n = e - (points != 0);
      if (e > 8 || static_cast<unsigned>(n - 1) > 7u || (mantissa & ~((bits.digits | bits.points) >> from)) != 0 ||
          (points & (points - 1)) != 0)
        return Found::other;
      const int point = __builtin_ctz(points | (1u << e));  // e when there is none
      const char* const s = t + negative;
      const std::uint64_t x = word_at(s) ^ 0x3030303030303030ull;
      const std::uint64_t before = ((1ull << (4 * point)) << (4 * point)) - 1;  // the bytes below the point
      digits = ((x & before) | ((x >> 8) & ~before)) << (8 * (8 - n));
      int q = point - n;  // minus the digits after the point
      if (e != chars) {   // an exponent: a sign or none, then one or two digits
        std::uint64_t y = word_at(s + e + 1) ^ 0x3030303030303030ull;
        const unsigned first = y & 0xFF;
        const bool minus = first == ('-' ^ '0'), sign = minus || first == ('+' ^ '0');
        y >>= 8 * sign;
        const int count = chars - e - 1 - sign;
        if (count < 1 || count > 2 || (not_digits(y) & (0xFFFFull >> (16 - 8 * count)))) return Found::other;
        const int power = static_cast<int>(digits_value(y, count));
        q += minus ? -power : power;
        if (q < -10 || q > 10) return Found::other;
      }
      scale = scales[q + 10 + 21 * negative];
      return Found::quick;
    }
  }
  while (p < end && separator[static_cast<unsigned char>(*p)]) ++p;
  if (p == end) return Found::none;
  t = p;
  while (p < end && !separator[static_cast<unsigned char>(*p)]) ++p;
  length = static_cast<unsigned>(p - t);
  return Found::other;
}

// The numbers of four words of digits (as next_number gives them), scaled,
// into out[0..3]: false when a number is above 2^24. Eight digits make a
// number by two digits, then four, then eight.
[[gnu::always_inline]] inline bool four_plain_values(const std::uint64_t* digits, const Scale* scale, float* out) {
#ifdef __SSE2__
  const __m128i zero = _mm_setzero_si128();
  const __m128i by_10 = _mm_set1_epi32(0x0001000A), by_100 = _mm_set1_epi32(0x00010064),
                by_10000 = _mm_set1_epi32(0x00012710);  // (10, 1), (100, 1), (10000, 1) as 16-bit pairs
  auto pairs = [&](__m128i w) {
    return _mm_packs_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(w, zero), by_10),
                           _mm_madd_epi16(_mm_unpackhi_epi8(w, zero), by_10));
  };
  const __m128i w01 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(digits));
  const __m128i w23 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(digits + 2));
  const __m128i fours = _mm_packs_epi32(_mm_madd_epi16(pairs(w01), by_100), _mm_madd_epi16(pairs(w23), by_100));
  const __m128i m = _mm_madd_epi16(fours, by_10000);
  if (_mm_movemask_epi8(_mm_cmpgt_epi32(m, _mm_set1_epi32(1 << 24))) != 0) return false;
  const __m128 s01 = _mm_loadu_ps(reinterpret_cast<const float*>(scale)),
               s23 = _mm_loadu_ps(reinterpret_cast<const float*>(scale + 2));
  const __m128 divisor = _mm_shuffle_ps(s01, s23, _MM_SHUFFLE(2, 0, 2, 0));
  const __m128 factor = _mm_shuffle_ps(s01, s23, _MM_SHUFFLE(3, 1, 3, 1));
  _mm_storeu_ps(out, _mm_mul_ps(_mm_div_ps(_mm_cvtepi32_ps(m), divisor), factor));
#else
  for (int i = 0; i < 4; ++i) {
    const std::uint64_t m = digits_value(digits[i], 8);
    if (m > (1u << 24)) return false;
    out[i] = static_cast<float>(m) / scale[i].divisor * scale[i].factor;
  }
#endif
  return true;
}

bool parse_plain_decimal(std::string_view token, float& out) {
  const char* end = token.data() + token.size();
  return scan_plain_decimal(token.data(), end, out) == end;
}

}  // namespace

bool parse_real(std::string_view token, float& out) {
  if (!token.empty() && token.front() == '+') token.remove_prefix(1);
  if (parse_plain_decimal(token, out)) return true;
  if (token.empty() || token.front() == '+') return false;
  const char* end = token.data() + token.size();
  auto [p, ec] = std::from_chars(token.data(), end, out, std::chars_format::general);
  if (ec == std::errc() && p == end) return true;
  if (ec != std::errc() || (*p != 'd' && *p != 'D')) return false;
  // An exponent written with D: read again with E.
  char buf[64];
  if (token.size() >= sizeof buf) return false;
  std::size_t n = 0;
  for (char c : token) buf[n++] = (c == 'd' || c == 'D') ? 'e' : c;
  auto [q, ec2] = std::from_chars(buf, buf + n, out, std::chars_format::general);
  return ec2 == std::errc() && q == buf + n;
}

namespace {

// One text of read_plain_records, read sixteen values at a time.
class PlainText {
 public:
  PlainText(std::string_view text, float* out, std::size_t records, std::size_t per_record)
      : p_(text.data()),
        end_(text.data() + text.size()),
        out_(out),
        records_(records),
        per_record_(per_record),
        left_(per_record) {
    if (!out)
      live_ = false;  // no text
    else if (records == 0 || per_record == 0)
      live_ = false, whole_ = true;
  }

  bool live() const { return live_; }
  bool whole() const { return whole_; }

  // Up to sixteen values of the record being read, and after its last value
  // the rest of its line. The common ones leave digits and scales, made
  // values four at a time; any other kind is read on its own and put in
  // place after them.
  [[gnu::always_inline]] void step() {
    constexpr int batch = 16;
    alignas(16) std::uint64_t digits[batch];
    alignas(16) Scale scale[batch];
    float values[batch], other[batch];
    unsigned others = 0;  // bit k: value k is other[k]
    const int count = static_cast<int>(std::min<std::size_t>(batch, left_));
    const char* t = p_;
    unsigned length = 0;
    for (int k = 0; k < count; ++k) {
      const Found found = next_number(p_, end_, t, length, digits[k], scale[k]);
      if (found == Found::quick) continue;
      if (found == Found::none) return fail();  // too few values
      float v = 0.0f;
      if (scan_plain_decimal(t, t + length, v) != t + length) return fail();  // the full reader's
      other[k] = v;
      others |= 1u << k;
      digits[k] = 0;
      scale[k] = scales[10];
    }
    for (int k = count; k < batch; ++k) digits[k] = 0, scale[k] = scales[10];
    float* const to = count == batch ? out_ : values;
    for (int k = 0; k < batch; k += 4)
      if (!four_plain_values(digits + k, scale + k, to + k)) return fail();  // more digits than the quick way takes
    if (to == values) std::copy(values, values + count, out_);
    for (; others; others &= others - 1) out_[__builtin_ctz(others)] = other[__builtin_ctz(others)];
    out_ += count;
    left_ -= static_cast<std::size_t>(count);
    if (left_ > 0) return;
    // The record's last value: the rest of its line.
    left_ = per_record_;
    if (--records_ == 0) {
      live_ = false, whole_ = true;
      return;
    }
    const void* line_end = std::memchr(t + length, '\n', static_cast<std::size_t>(end_ - (t + length)));
    if (!line_end) return fail();  // too few values
    p_ = static_cast<const char*>(line_end) + 1;
  }

 private:
  void fail() { live_ = false; }

  const char* p_;
  const char* end_;
  float* out_;
  std::size_t records_, per_record_;
  std::size_t left_;  // values of the record still to read
  bool live_ = true, whole_ = false;
};

}  // namespace

std::array<bool, 2> read_plain_records(std::string_view a, float* out_a, std::string_view b, float* out_b,
                                       std::size_t records, std::size_t per_record) {
  PlainText x(a, out_a, records, per_record), y(b, out_b, records, per_record);
  while (x.live() && y.live()) {
    x.step();
    y.step();
  }
  while (x.live()) x.step();
  while (y.live()) y.step();
  return {x.whole(), y.whole()};
}

bool FreeFormatReader::at_end() const {
  for (std::size_t i = pos_; i < text_.size(); ++i)
    if (!is_blank(text_[i]) && text_[i] != '\n') return false;
  return true;
}

void FreeFormatReader::skip_rest_of_line() {
  while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
  if (pos_ < text_.size()) {
    ++pos_;
    ++line_;
  }
}

FreeFormatReader::Status FreeFormatReader::skip_line() {
  if (pos_ >= text_.size()) {
    fail_line_ = line_;
    problem_ = "end of file";
    return Status::end_of_file;
  }
  skip_rest_of_line();
  return Status::ok;
}

template <class Store>
FreeFormatReader::Status FreeFormatReader::read_list(std::size_t n, Store&& store, float* reals) {
  bool after_value = false;  // a value was read and its separator is not yet consumed
  std::size_t idx = 0;
  const std::size_t size = text_.size();
  while (idx < n) {
    // Skip blanks and line ends.
    while (pos_ < size) {
      char c = text_[pos_];
      if (is_blank(c)) {
        ++pos_;
      } else if (c == '\n') {
        ++pos_;
        ++line_;
      } else {
        break;
      }
    }
    if (pos_ >= size) {
      fail_line_ = line_;
      problem_ = "end of file";
      return Status::end_of_file;
    }
    char c = text_[pos_];
    if (c == '/') {
      fail_line_ = line_;
      skip_rest_of_line();
      return Status::ok;
    }
    if (c == ',') {
      ++pos_;
      if (after_value)
        after_value = false;
      else
        ++idx;  // null value: item unchanged
      continue;
    }
    // The common case, a plain number: straight to its end, and for a list
    // of reals read on the way to its value.
    if (reals) {
      float v;
      const char* q = scan_plain_decimal(text_.data() + pos_, text_.data() + size, v);
      if (q && (q == text_.data() + size || token_end[static_cast<unsigned char>(*q)])) {
        reals[idx++] = v;
        pos_ = static_cast<std::size_t>(q - text_.data());
        after_value = true;
        continue;
      }
    }
    if ((c >= '0' && c <= '9') || c == '-' || c == '.' || c == '+') {
      std::size_t q = pos_ + 1;
      bool star = false;
      while (q < size && !token_end[static_cast<unsigned char>(text_[q])]) star |= text_[q++] == '*';
      if (!star) {
        const std::string_view token = text_.substr(pos_, q - pos_);
        pos_ = q;
        if (!store(idx, token, false)) {
          fail_line_ = line_;
          skip_rest_of_line();
          return Status::bad_value;
        }
        ++idx;
        after_value = true;
        continue;
      }
    }
    // A token: up to a blank, comma, slash or line end; quotes may hold any of them.
    bool quoted = false;
    std::size_t value_start = pos_;
    // A repeat count r* before the value.
    std::size_t repeat = 1;
    {
      std::size_t q = pos_;
      while (q < size && text_[q] >= '0' && text_[q] <= '9') ++q;
      if (q > pos_ && q < size && text_[q] == '*') {
        int r = 0;
        if (!parse_integer(text_.substr(pos_, q - pos_), r) || r <= 0) {
          fail_line_ = line_;
          problem_ = "bad repeat count " + shown(text_.substr(pos_, q - pos_));
          skip_rest_of_line();
          return Status::bad_value;
        }
        repeat = static_cast<std::size_t>(r);
        value_start = q + 1;
      }
    }
    pos_ = value_start;
    std::string_view token;
    std::string unquoted;
    if (pos_ < size && (text_[pos_] == '\'' || text_[pos_] == '"')) {
      const char quote = text_[pos_];
      quoted = true;
      ++pos_;
      bool closed = false;
      while (pos_ < size && text_[pos_] != '\n') {
        if (text_[pos_] == quote) {
          if (pos_ + 1 < size && text_[pos_ + 1] == quote) {
            unquoted += quote;
            pos_ += 2;
            continue;
          }
          ++pos_;
          closed = true;
          break;
        }
        unquoted += text_[pos_++];
      }
      if (!closed) {
        fail_line_ = line_;
        problem_ = "unterminated quoted text";
        skip_rest_of_line();
        return Status::bad_value;
      }
      token = unquoted;
    } else {
      std::size_t q = pos_;
      while (q < size && !is_blank(text_[q]) && text_[q] != '\n' && text_[q] != ',' &&
             text_[q] != '/')
        ++q;
      token = text_.substr(pos_, q - pos_);
      pos_ = q;
    }
    const bool null_value = !quoted && token.empty();  // "r*" alone
    for (std::size_t r = 0; r < repeat && idx < n; ++r, ++idx) {
      if (null_value) continue;
      if (!store(idx, token, quoted)) {
        fail_line_ = line_;
        skip_rest_of_line();
        return Status::bad_value;
      }
    }
    after_value = true;
  }
  fail_line_ = line_;
  skip_rest_of_line();
  return Status::ok;
}

FreeFormatReader::Status FreeFormatReader::read(const Item* items, std::size_t n) {
  return read_list(n, [&](std::size_t i, std::string_view token, bool quoted) {
    const Item& item = items[i];
    switch (item.kind) {
      case Item::Kind::integer:
        if (!quoted && parse_integer(token, *static_cast<int*>(item.target))) return true;
        problem_ = std::string("expected an integer (") + item.name + "), found " + shown(token);
        return false;
      case Item::Kind::real:
        if (!quoted && parse_real(token, *static_cast<float*>(item.target))) return true;
        problem_ = std::string("expected a number (") + item.name + "), found " + shown(token);
        return false;
      case Item::Kind::chars: {
        char* out = static_cast<char*>(item.target);
        const std::size_t k = std::min(item.length, token.size());
        std::memcpy(out, token.data(), k);
        std::memset(out + k, ' ', item.length - k);
        return true;
      }
    }
    return false;
  });
}

FreeFormatReader::Status FreeFormatReader::read_reals(float* out, std::size_t n, const char* name) {
  return read_list(n, [&](std::size_t i, std::string_view token, bool quoted) {
    if (!quoted && parse_real(token, out[i])) return true;
    problem_ = std::string("expected a number (") + name + "), found " + shown(token);
    return false;
  }, out);
}

}  // namespace tarvo
