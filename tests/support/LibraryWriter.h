#include "formats/WIL.h"
// Writes WZL libraries (data file and WZX index) and JPK libraries of both versions from a
// description of their entries, with any mix of full, absent, empty, packed and corrupt entries:
// the fixtures of the tests and the fuzzer, and the libraries of the demo data generator.
// Free functions without shared state; safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One image of a library, written in the order given.
struct TLibImage {
  // When set, this value goes into the index and no entry is written: absent entries (below 16
  // for WZL, 20 for JPK) or positions beyond the file.
  std::optional<int32_t> Position;
  uint8_t BitMode = 8;  // WZL `BitMode` (5: 16 bits per pixel), JPK `BitCount`
  uint8_t Zip = 0;      // JPK only
  int16_t Width = 0;
  int16_t Height = 0;
  int16_t Px = 0;
  int16_t Py = 0;
  bool Alpha = false;   // JPK only
  bool Packed = false;  // WZL: `nZipSize` is the stored length; otherwise 0 (unpacked rows)
  std::string Data;     // the bytes stored after the entry header
  // Written as JPK `nSize` or packed WZL `nZipSize` instead of Data.size() (corrupt entries).
  std::optional<int64_t> StoredLength;
  uint8_t Filler = 0;  // written into the entry header's unused and alignment bytes
};

struct TLibDesc {
  std::string Title;                  // empty: "GameLib" / "GameLib v2.0" for JPK, "WZL" for WZL
  std::optional<uint8_t> TitleLen;    // stored title length instead of the title's (at most 40)
  std::optional<int64_t> ImageCount;  // header count instead of Images.size()
  std::vector<TLibImage> Images;
};

enum class TJpkVersion { V1, V2 };

struct TWzlFiles {
  std::string Wzl;
  std::string Wzx;
  std::vector<int32_t> Positions;  // index value of every image
};

struct TJpkFile {
  std::string Bytes;               // header enciphered with the password
  std::vector<int32_t> Positions;  // index value of every image
};

// The data file (header, entries) and the index file (head, one position per image).
TWzlFiles WzlLibraryBytes(const TLibDesc& desc);
// Header, entries, then the index. Version 2 index entries carry the MD5 of the entry's data.
// The header is left plain when the password is empty (nothing can encipher it).
TJpkFile JpkLibraryBytes(const TLibDesc& desc, TJpkVersion version, const std::string& sPassWord);
// Enciphers the first 80 bytes of a JPK file written in plain; `sPassWord` is UTF-8.
std::string EncipherJpkHeader(std::string plainFile, const std::string& sPassWord);

// Bytes of a WZL entry's unpacked rows: Height × WidthBytes(16 or 8, Width).
int64_t WzlUnpackedLength(const TLibImage& image);
// `n` reproducible bytes made from `seed`.
std::string PatternBytes(size_t n, uint32_t seed);

// A WZL entry of unpacked rows (`bitMode` 5: 16 bits per pixel) of reproducible bytes.
TLibImage UnpackedImage(int16_t width, int16_t height, uint8_t bitMode, uint32_t seed);
// A packed WZL entry, or a JPK entry: `length` reproducible bytes.
TLibImage PackedImage(int16_t width, int16_t height, size_t length, uint32_t seed);
// An index value with no entry written.
TLibImage ImageAt(int32_t position);

// Writes `WzlPath` and the index file beside it (same name, extension ".wzx"); returns the
// index file's path. Throws EInOutError.
std::string WriteWzlLibrary(const std::string& WzlPath, const TWzlFiles& files);
