#include "input/free_format.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>

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

// A plain decimal, [-]digits[.digits][(e|E)[+|-]digits], from p on: the end of
// what it read, or null when the text there is not of that form or lies
// beyond the short way. The short way: the digits make an integer m of at
// most 2^24 and the power of ten q it is scaled by is at most 10 either way;
// m and 10^|q| are then exact floats, and the one rounding of m / 10^-q or
// m * 10^q is the correctly rounded value that from_chars gives.
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

// m 10^q, negated when `negative`: m at most 2^24 and |q| at most 10, so that
// the one rounding gives the correctly rounded value.
[[gnu::always_inline]] inline float plain_value(std::uint64_t m, int q, bool negative) {
  static constexpr float power_of_ten[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                           1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
  const float v = q < 0 ? static_cast<float>(m) / power_of_ten[-q] : static_cast<float>(m) * power_of_ten[q];
  return negative ? -v : v;
}

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

// The common short case of a plain decimal, [-]digits[.digits] of at most
// eight characters after the sign and followed by a blank or a line end, at
// p with sixteen characters readable: its end, or null for anything else
// (scan_plain_decimal's then). One word holds all its characters; the point
// taken out, one conversion makes all its digits a number.
[[gnu::always_inline]] inline const char* scan_short_decimal(const char* p, float& out) {
  const bool negative = *p == '-';
  const char* const s = p + negative;
  const std::uint64_t unsigned_word = word_at(p), signed_word = word_at(p + 1);  // both at once
  const std::uint64_t x = (negative ? signed_word : unsigned_word) ^ 0x3030303030303030ull;
  const std::uint64_t other = not_digits(x);
  const int point = other ? __builtin_ctzll(other) / 8 : 8;  // digits before the first other character
  std::uint64_t digits = x;
  int n = point, length = point, fraction = 0;
  if (point < 7 && s[point] == '.') {
    const std::uint64_t after = other & (~0ull << (8 * point + 8));
    length = after ? __builtin_ctzll(after) / 8 : 8;
    fraction = length - point - 1;
    n = length - 1;
    const std::uint64_t before = (1ull << (8 * point)) - 1;  // the bytes before the point
    digits = (x & before) | ((x >> 8) & ~before);
  }
  if (n == 0 || !separator[static_cast<unsigned char>(s[length])]) return nullptr;
  const std::uint64_t m = digits_value(digits, n);
  if (m > (1u << 24)) return nullptr;
  out = plain_value(m, -fraction, negative);
  return s + length;
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

// Where one text of read_plain_records stands.
struct PlainCursor {
  const char* p;
  const char* end;
  float* out;
  float* record_end;  // after the last value of the record being read
  float* last;        // after the last value of all
  std::size_t per_record;
  bool live = true;    // still reading
  bool whole = false;  // read whole

  PlainCursor(std::string_view text, float* o, std::size_t records, std::size_t n)
      : p(text.data()), end(text.data() + text.size()), out(o), record_end(o), last(o), per_record(n) {
    if (!o)
      live = false;  // no text to read
    else if (records == 0 || n == 0)
      live = false, whole = true;
    else
      record_end = o + n, last = o + records * n;
  }

  // One value, and after the last of a record the rest of its line.
  [[gnu::always_inline]] void step() {
    while (p < end && separator[static_cast<unsigned char>(*p)]) ++p;
    float v = 0.0f;
    const char* q = end - p >= 16 ? scan_short_decimal(p, v) : nullptr;
    if (!q) {
      q = p < end ? scan_plain_decimal(p, end, v) : nullptr;
      if (!q || (q < end && (!token_end[static_cast<unsigned char>(*q)] || *q == ',' || *q == '/'))) {
        live = false;  // something else: the full reader's
        return;
      }
    }
    *out++ = v;
    p = q;
    if (out != record_end) {
      p += p < end;  // past the separator that ended the number
      return;
    }
    while (p < end && *p != '\n') ++p;  // the rest of the record's last line
    if (p < end) ++p;
    record_end += per_record;
    if (out == last) live = false, whole = true;
  }
};

}  // namespace

std::array<bool, 2> read_plain_records(std::string_view a, float* out_a, std::string_view b, float* out_b,
                                       std::size_t records, std::size_t per_record) {
  PlainCursor x(a, out_a, records, per_record), y(b, out_b, records, per_record);
  while (x.live && y.live) {
    x.step();
    y.step();
  }
  while (x.live) x.step();
  while (y.live) y.step();
  return {x.whole, y.whole};
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
