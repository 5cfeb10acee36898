#include "input/file_digest.hpp"

#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "input/input_error.hpp"

namespace tarvo {

FileDigest digest_of_file(const std::string& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!f) throw InputError(path, 0, std::string("cannot be read: ") + std::strerror(errno));
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1)
    throw InputError(path, 0, "cannot start a SHA-256 digest");
  FileDigest out;
  std::vector<unsigned char> buffer(std::size_t(1) << 20);
  for (;;) {
    const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), f.get());
    if (n > 0) EVP_DigestUpdate(ctx.get(), buffer.data(), n);
    out.bytes += n;
    if (n < buffer.size()) break;
  }
  if (std::ferror(f.get())) throw InputError(path, 0, "cannot be read to its end");
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_DigestFinal_ex(ctx.get(), digest, &len);
  static const char hex[] = "0123456789abcdef";
  for (unsigned int k = 0; k < len; ++k) {
    out.sha256 += hex[digest[k] >> 4];
    out.sha256 += hex[digest[k] & 15];
  }
  return out;
}

}  // namespace tarvo
