#include "platform/Sha1.h"

#include <openssl/evp.h>

#include <stdexcept>

TSha1Digest Sha1Digest(std::string_view bytes) {
  TSha1Digest digest{};
  unsigned int len = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &len, EVP_sha1(), nullptr) != 1 || len != digest.size()) {
    throw std::runtime_error("SHA-1 digest failed");
  }
  return digest;
}
