// Feeds mutated library files through the factory, the header block and every image record.
//
// Input: byte 0 holds flags (bit 0: JPK, else WZL; bit 1: open with a wrong password; bit 2: work
// mode off). WZL: a 32-bit little-endian split point, then the data file and the index file. JPK:
// the file with its 80-byte header in plain; the harness enciphers it, so mutations reach the
// header's fields instead of only breaking the cipher.
//
// LIBRARY_FUZZ_SEEDS=<dir> writes the seed corpus (made by the fixture writer) there and exits.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "formats/CnCRC32.h"
#include "formats/Jpk.h"
#include "support/LibraryWriter.h"
#include "formats/WIL.h"

namespace {

const std::string kPass = "fuzz";

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

TLibDesc SeedLibrary(bool jpk) {
  TLibDesc desc;
  desc.Images.push_back(PackedImage(4, 4, 24, 1));
  desc.Images.push_back(ImageAt(0));
  desc.Images.push_back(ImageAt(jpk ? 19 : 15));
  desc.Images.push_back(PackedImage(3, 0, 8, 2));
  desc.Images.push_back(UnpackedImage(3, 2, 5, 3));
  desc.Images.push_back(UnpackedImage(5, 3, 8, 4));
  desc.Images.push_back(PackedImage(2, 2, 6, 5));
  desc.Images.back().StoredLength = 600;
  return desc;
}

std::string Flagged(uint8_t flags, const std::string& body) { return std::string(1, static_cast<char>(flags)) + body; }

void WriteSeeds(const std::filesystem::path& dir) {
  std::filesystem::create_directories(dir);
  const TWzlFiles wzl = WzlLibraryBytes(SeedLibrary(false));
  std::string split(4, '\0');
  for (int i = 0; i < 4; ++i) split[static_cast<size_t>(i)] = static_cast<char>(wzl.Wzl.size() >> (8 * i));
  WriteBytes((dir / "wzl").string(), Flagged(0, split + wzl.Wzl + wzl.Wzx));
  WriteBytes((dir / "wzl-slots").string(), Flagged(4, split + wzl.Wzl + wzl.Wzx));
  // An empty password leaves the header plain, as the input format wants it.
  const std::string v1 = JpkLibraryBytes(SeedLibrary(true), TJpkVersion::V1, "").Bytes;
  const std::string v2 = JpkLibraryBytes(SeedLibrary(true), TJpkVersion::V2, "").Bytes;
  WriteBytes((dir / "jpk-v1").string(), Flagged(1, v1));
  WriteBytes((dir / "jpk-v2").string(), Flagged(1, v2));
  WriteBytes((dir / "jpk-v2-slots").string(), Flagged(5, v2));
  WriteBytes((dir / "jpk-wrong-password").string(), Flagged(3, v1));
}

// Where the library files of one run go: in memory when /dev/shm exists. Never the current
// directory, which libFuzzer uses for its corpus.
const std::string& FileBase() {
  static const std::string base = [] {
    const std::filesystem::path dir = std::filesystem::exists("/dev/shm")
                                          ? std::filesystem::path("/dev/shm")
                                          : std::filesystem::temp_directory_path();
    return (dir / ("library_fuzz-" + std::to_string(std::random_device{}()))).string();
  }();
  return base;
}

std::string WriteLibrary(const uint8_t* data, size_t size) {
  const uint8_t flags = data[0];
  const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (flags & 1) {
    WriteBytes(FileBase() + ".jpk", EncipherJpkHeader(body, kPass));
    return FileBase() + ".jpk";
  }
  uint32_t split = 0;
  if (body.size() >= 4) std::memcpy(&split, body.data(), 4);
  const std::string files = body.size() >= 4 ? body.substr(4) : std::string();
  split = files.empty() ? 0 : split % static_cast<uint32_t>(files.size() + 1);
  WriteBytes(FileBase() + ".wzl", files.substr(0, split));
  WriteBytes(FileBase() + ".wzx", files.substr(split));
  return FileBase() + ".wzl";
}

void RemoveFiles() {
  std::error_code ec;
  for (const char* ext : {".jpk", ".wzl", ".wzx"}) std::filesystem::remove(FileBase() + ext, ec);
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

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (const char* seeds = std::getenv("LIBRARY_FUZZ_SEEDS")) {
    WriteSeeds(seeds);
    std::exit(0);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  const std::string path = WriteLibrary(data, size);
  std::unique_ptr<TWMImages> lib = InitializeGameImage(path, (flags & 2) ? "wrong" : kPass, !(flags & 4));
  Check(lib != nullptr);
  Exercise(*lib);
  lib.reset();
  RemoveFiles();
  return 0;
}
