#include "platform/Sha1.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <stdexcept>

namespace {

// The algorithm provider is opened once and shared: CNG's hash objects are per call.
BCRYPT_ALG_HANDLE Sha1Provider() {
  static const BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE h = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&h, BCRYPT_SHA1_ALGORITHM, nullptr, 0))) h = nullptr;
    return h;
  }();
  return provider;
}

}  // namespace

TSha1Digest Sha1Digest(std::string_view bytes) {
  TSha1Digest digest{};
  const BCRYPT_ALG_HANDLE provider = Sha1Provider();
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = provider && BCRYPT_SUCCESS(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0));
  // BCryptHashData takes a ULONG length: feed longer inputs in pieces.
  for (std::string_view rest = bytes; ok && !rest.empty();) {
    const ULONG n = static_cast<ULONG>(std::min<size_t>(rest.size(), 1u << 30));
    ok = BCRYPT_SUCCESS(BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(rest.data())), n, 0));
    rest.remove_prefix(n);
  }
  ok = ok && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
  if (hash) BCryptDestroyHash(hash);
  if (!ok) throw std::runtime_error("SHA-1 digest failed");
  return digest;
}
