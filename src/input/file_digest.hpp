#pragma once
// What identifies an input file in a record of what was made from it: its
// size and SHA-256 (OpenSSL's).
#include <cstdint>
#include <string>

namespace tarvo {

struct FileDigest {
  std::uint64_t bytes = 0;
  std::string sha256;  // 64 hexadecimal digits
};

// Reads the file once; InputError names it when it cannot be read.
FileDigest digest_of_file(const std::string& path);

}  // namespace tarvo
