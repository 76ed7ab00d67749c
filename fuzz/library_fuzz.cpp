// Feeds mutated library files through the factory, the header block and every image record.
//
// Input: byte 0 holds flags (bit 0: JPK, else WZL; bit 1: open with a wrong password; bit 2: work
// mode off). WZL: a 32-bit little-endian split point, then the data file and the index file. JPK:
// the file with its 80-byte header in plain; the harness enciphers it, so mutations reach the
// header's fields instead of only breaking the cipher.
//
// Seeds: fuzz_seeds (fuzz/fuzz_seeds.cpp).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "FuzzSupport.h"
#include "formats/CnCRC32.h"
#include "formats/Jpk.h"
#include "support/LibraryWriter.h"
#include "formats/WIL.h"

namespace {

const std::string kPass = "fuzz";

using fuzz::Check;

std::string WriteLibrary(const uint8_t* data, size_t size) {
  const uint8_t flags = data[0];
  const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (flags & fuzz::kLibJpk) {
    fuzz::WriteBytes("lib.jpk", EncipherJpkHeader(body, kPass));
    return "lib.jpk";
  }
  uint32_t split = 0;
  if (body.size() >= 4) std::memcpy(&split, body.data(), 4);
  const std::string files = body.size() >= 4 ? body.substr(4) : std::string();
  split = files.empty() ? 0 : split % static_cast<uint32_t>(files.size() + 1);
  fuzz::WriteBytes("lib.wzl", files.substr(0, split));
  fuzz::WriteBytes("lib.wzx", files.substr(split));
  return "lib.wzl";
}

void RemoveFiles() {
  std::error_code ec;
  for (const char* name : {"lib.jpk", "lib.wzl", "lib.wzx"}) std::filesystem::remove(name, ec);
  // Corrupt entries are reported once per library; keep the debug file from growing run after run.
  std::filesystem::remove("GameImageDaebug.txt", ec);
}

void Exercise(TWMImages& lib) {
  if (std::optional<std::string> block = lib.GetWClientHeader()) Check(block->size() >= 8);
  std::string buffer;
  for (int32_t i = -1; i <= lib.ImageCount(); ++i) {
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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  fuzz::TInScratchDir here;
  const std::string path = WriteLibrary(data, size);
  std::unique_ptr<TWMImages> lib = InitializeGameImage(path, (flags & fuzz::kLibWrongPassword) ? "wrong" : kPass, !(flags & fuzz::kLibSlots));
  Check(lib != nullptr);
  Exercise(*lib);
  lib.reset();
  RemoveFiles();
  return 0;
}
