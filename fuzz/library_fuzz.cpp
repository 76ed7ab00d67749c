// Feeds mutated library files through the factory, the header block and every image record. The
// files live in memory: no file is written per input.
//
// Input: byte 0 holds flags (bit 0: JPK, else WZL; bit 1: open with a wrong password; bit 2: work
// mode off). WZL: a 32-bit little-endian split point, then the data file and the index file. JPK:
// the file with its 80-byte header in plain; the harness enciphers it, so mutations reach the
// header's fields instead of only breaking the cipher. The index file's name is in upper case, so
// every WZL input takes the look-up that ignores case.
//
// Seeds: fuzz_seeds (fuzz/fuzz_seeds.cpp).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "FuzzSupport.h"
#include "formats/CnCRC32.h"
#include "formats/Jpk.h"
#include "formats/WIL.h"
#include "platform/ReadFile.h"
#include "support/LibraryWriter.h"

namespace {

const std::string kPass = "fuzz";

using fuzz::Check;

// The header cipher is a key stream laid over the bytes: the stream of the one password is made
// once instead of deriving the key again for every input.
std::string EncipherHeader(std::string plain) {
  static const std::string stream = EncipherJpkHeader(std::string(80, '\0'), kPass);
  for (size_t i = 0; i < std::min(plain.size(), stream.size()); ++i) plain[i] ^= stream[i];
  return plain;
}

// Each file is copied once, straight from the input: the copies were a good part of the time
// each input took.
std::string PutLibrary(TMemoryFiles& files, const uint8_t* data, size_t size) {
  const uint8_t flags = data[0];
  const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (flags & fuzz::kLibJpk) {
    files.Put("lib/a.jpk", EncipherHeader(std::string(body)));
    return "lib/a.jpk";
  }
  uint32_t split = 0;
  if (body.size() >= 4) std::memcpy(&split, body.data(), 4);
  const std::string_view both = body.size() >= 4 ? body.substr(4) : std::string_view();
  split = both.empty() ? 0 : split % static_cast<uint32_t>(both.size() + 1);
  files.Put("lib/a.wzl", std::string(both.substr(0, split)));
  files.Put("lib/A.WZX", std::string(both.substr(split)));
  return "lib/a.wzl";
}

// Every entry takes the same path, so a few at each end of the index reach all of it; reading
// every entry of a large index made each input cost thousands of features for no new coverage.
constexpr int32_t kEndEntries = 8;

void Exercise(TWMImages& lib) {
  if (std::optional<std::string> block = lib.GetWClientHeader()) Check(block->size() >= 8);
  std::string buffer;
  const int32_t count = lib.ImageCount();
  for (int32_t i = -1; i <= count; i = (i + 1 == kEndEntries && count > 2 * kEndEntries) ? count - kEndEntries : i + 1) {
    std::optional<TWImage> rec = lib.GetWClientImage(buffer, i);
    if (!rec) {
      Check(buffer.empty());
      continue;
    }
    Check(rec->nSize >= 0 && static_cast<size_t>(rec->nSize) == buffer.size());
    Check(buffer.size() <= lib.FileSize());
    uint32_t crc;
    std::memcpy(&crc, &rec->WilInfo, sizeof crc);
    if (rec->nIndex != 0 || !buffer.empty())
      Check(crc == CRC32Calc(0, buffer.data(), static_cast<uint32_t>(buffer.size())));
  }
}

}  // namespace

// Corrupt entries are the common case here: reporting each to the debug file would write a file
// per input and grow it without end.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetDebugFileEnabled(false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  TMemoryFiles files;
  const std::string path = PutLibrary(files, data, size);
  std::unique_ptr<TWMImages> lib =
      InitializeGameImage(path, (flags & fuzz::kLibWrongPassword) ? "wrong" : kPass, !(flags & fuzz::kLibSlots), files);
  Check(lib != nullptr);
  Check(lib->ImageMode() != TImageMode::Tarn2Wzl || lib->IndexFileName() == "lib/A.WZX");
  Exercise(*lib);
  return 0;
}
