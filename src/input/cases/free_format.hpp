#pragma once
// Free-format ("list-directed") reading of the text inputs.
//
// A read fills a list of items. It starts at the beginning of a line, takes
// values separated by blanks, tabs, carriage returns, commas or line ends,
// continues over further lines until the list is full and then skips the rest
// of its last line. `r*v` stands for r copies of v and `r*` for r null values;
// a comma right after another separator is a null value; a null value leaves
// its item unchanged. A slash ends the read early and leaves the remaining
// items unchanged. Character items may be quoted ('..' or "..") or not.
#include <array>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace tarvo {

class FreeFormatReader {
 public:
  enum class Status { ok, end_of_file, bad_value };

  // One item of a read list: where the value goes and of what kind it is.
  struct Item {
    enum class Kind { integer, real, chars };
    Kind kind;
    void* target;
    std::size_t length;  // characters, for Kind::chars
    const char* name;    // what the item is, for messages
  };
  static Item integer(int& v, const char* name) { return {Item::Kind::integer, &v, 0, name}; }
  static Item real(float& v, const char* name) { return {Item::Kind::real, &v, 0, name}; }
  static Item chars(char* v, std::size_t n, const char* name) {
    return {Item::Kind::chars, v, n, name};
  }

  // A leading UTF-8 byte-order mark is skipped.
  explicit FreeFormatReader(std::string_view text) : text_(text) {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
  }

  // One read of the given list.
  Status read(std::initializer_list<Item> items) { return read(items.begin(), items.size()); }
  Status read(const Item* items, std::size_t n);

  // One read of n reals into out[0..n-1] (a grid row).
  Status read_reals(float* out, std::size_t n, const char* name);

  // Skips one line (a read with an empty list); end_of_file when none is left.
  Status skip_line();

  // Line (1-based) where the last read failed or ended.
  int line() const { return fail_line_; }
  // What went wrong in the last failed read.
  const std::string& problem() const { return problem_; }
  // True when nothing but blanks is left.
  bool at_end() const;

 private:
  // Reads n items through store(index, token, quoted); with `reals`, plain
  // numbers go straight to reals[index] on the way.
  template <class Store>
  Status read_list(std::size_t n, Store&& store, float* reals = nullptr);
  void skip_rest_of_line();

  std::string_view text_;
  std::size_t pos_ = 0;
  int line_ = 1;
  int fail_line_ = 0;
  std::string problem_;
};

// The quick way through two texts of plain numbers (grids): `records` reads
// of `per_record` reals each, one record after another, into out[0 ..
// records * per_record - 1], as FreeFormatReader::read_reals reads them. The
// two texts are scanned side by side, so that one text's chain of loads and
// tests runs while the other's waits. True for each text read whole this
// way; a text holding anything else before its last value (a comma, a slash,
// a repeat count, a quoted value, a byte-order mark, a number of another
// form, too few values) gets false and unspecified values: read it with
// FreeFormatReader, which gives the same values and the messages. A null
// output stands for no text at all (false): one text read alone.
std::array<bool, 2> read_plain_records(std::string_view a, float* out_a, std::string_view b, float* out_b,
                                       std::size_t records, std::size_t per_record);

// Parses a whole token as a value; false when the token is not one.
bool parse_integer(std::string_view token, int& out);
bool parse_real(std::string_view token, float& out);

}  // namespace tarvo
