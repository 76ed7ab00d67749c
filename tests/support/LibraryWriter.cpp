// Built from the byte layouts with explicit offsets, not from the readers' records, so a fault in
// a record shows up in the tests instead of being mirrored by the fixtures.
#include "support/LibraryWriter.h"

#include <algorithm>
#include <cstring>

#include "formats/MD5.h"
#include "formats/uEncodeJpk.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/HUtil32.h"
#include "support/FixtureBytes.h"

namespace {

// Length byte and up to 40 characters at offset 0, as both formats store their titles.
void PutTitle(std::string& out, const TLibDesc& desc, const std::string& fallback) {
  const std::string& title = desc.Title.empty() ? fallback : desc.Title;
  const size_t n = std::min<size_t>(title.size(), 40);
  out[0] = static_cast<char>(desc.TitleLen.value_or(static_cast<uint8_t>(n)));
  title.copy(out.data() + 1, n);
}

int64_t StoredLength(const TLibImage& image) {
  return image.StoredLength.value_or(static_cast<int64_t>(image.Data.size()));
}

// 16-byte WZL entry header.
std::string WzlEntryHeader(const TLibImage& image) {
  std::string h(16, static_cast<char>(image.Filler));
  PutLE(h, 0, image.BitMode, 1);
  PutLE(h, 4, static_cast<uint16_t>(image.Width), 2);
  PutLE(h, 6, static_cast<uint16_t>(image.Height), 2);
  PutLE(h, 8, static_cast<uint16_t>(image.Px), 2);
  PutLE(h, 10, static_cast<uint16_t>(image.Py), 2);
  PutLE(h, 12, image.Packed ? static_cast<uint32_t>(StoredLength(image)) : 0u, 4);
  return h;
}

// 20-byte JPK entry header.
std::string JpkEntryHeader(const TLibImage& image) {
  std::string h(20, static_cast<char>(image.Filler));
  PutLE(h, 0, image.BitMode, 1);
  PutLE(h, 1, image.Zip, 1);
  PutLE(h, 2, static_cast<uint16_t>(image.Width), 2);
  PutLE(h, 4, static_cast<uint16_t>(image.Height), 2);
  PutLE(h, 6, static_cast<uint16_t>(image.Px), 2);
  PutLE(h, 8, static_cast<uint16_t>(image.Py), 2);
  PutLE(h, 12, static_cast<uint32_t>(StoredLength(image)), 4);
  PutLE(h, 16, image.Alpha ? 1 : 0, 1);
  return h;
}

// Appends every placed entry to `file`; returns the index value of every image.
template <typename MakeHeader>
std::vector<int32_t> AppendEntries(std::string& file, const TLibDesc& desc, MakeHeader header) {
  std::vector<int32_t> positions;
  for (const TLibImage& image : desc.Images) {
    if (image.Position) {
      positions.push_back(*image.Position);
      continue;
    }
    positions.push_back(static_cast<int32_t>(file.size()));
    file += header(image);
    file += image.Data;
  }
  return positions;
}

int64_t HeaderCount(const TLibDesc& desc) {
  return desc.ImageCount.value_or(static_cast<int64_t>(desc.Images.size()));
}

}  // namespace

int64_t WzlUnpackedLength(const TLibImage& image) {
  return int64_t{image.Height} * WidthBytes(image.BitMode == 5 ? 16 : 8, image.Width);
}

std::string PatternBytes(size_t n, uint32_t seed) {
  std::string bytes(n, '\0');
  TXorShift32 rnd(seed * 2654435761u + 0x9E3779B9u);
  for (char& c : bytes) c = static_cast<char>(rnd.Next());
  return bytes;
}

TLibImage UnpackedImage(int16_t width, int16_t height, uint8_t bitMode, uint32_t seed) {
  TLibImage image;
  image.Width = width;
  image.Height = height;
  image.BitMode = bitMode;
  image.Data = PatternBytes(static_cast<size_t>(std::max<int64_t>(WzlUnpackedLength(image), 0)), seed);
  return image;
}

TLibImage PackedImage(int16_t width, int16_t height, size_t length, uint32_t seed) {
  TLibImage image;
  image.Width = width;
  image.Height = height;
  image.Packed = true;
  image.Data = PatternBytes(length, seed);
  return image;
}

TLibImage ImageAt(int32_t position) {
  TLibImage image;
  image.Position = position;
  return image;
}

TWzlFiles WzlLibraryBytes(const TLibDesc& desc) {
  TWzlFiles files;
  files.Wzl.assign(64, '\0');
  PutTitle(files.Wzl, desc, "WZL");
  PutLE(files.Wzl, 44, static_cast<uint32_t>(HeaderCount(desc)), 4);
  files.Positions = AppendEntries(files.Wzl, desc, WzlEntryHeader);

  files.Wzx.assign(48 + 4 * files.Positions.size(), '\0');
  PutTitle(files.Wzx, desc, "WZL");
  PutLE(files.Wzx, 44, files.Positions.size(), 4);
  for (size_t i = 0; i < files.Positions.size(); ++i)
    PutLE(files.Wzx, 48 + 4 * i, static_cast<uint32_t>(files.Positions[i]), 4);
  return files;
}

TJpkFile JpkLibraryBytes(const TLibDesc& desc, TJpkVersion version, const std::string& sPassWord) {
  const bool v2 = version == TJpkVersion::V2;
  TJpkFile jpk;
  std::string& file = jpk.Bytes;
  file.assign(80, '\0');
  PutTitle(file, desc, v2 ? "GameLib v2.0" : "GameLib");
  jpk.Positions = AppendEntries(file, desc, JpkEntryHeader);

  const size_t indexOffSet = file.size();
  const size_t entrySize = v2 ? 20 : 4;
  file.resize(indexOffSet + entrySize * jpk.Positions.size(), '\0');
  for (size_t i = 0; i < jpk.Positions.size(); ++i) {
    const size_t at = indexOffSet + entrySize * i;
    PutLE(file, at, static_cast<uint32_t>(jpk.Positions[i]), 4);
    if (v2) {
      const MD5Digest d = MD5String(desc.Images[i].Data);
      std::memcpy(file.data() + at + 4, d.data(), d.size());
    }
  }
  PutLE(file, 44, file.size(), 4);  // Size
  PutLE(file, 48, static_cast<uint32_t>(HeaderCount(desc)), 4);
  PutLE(file, 52, indexOffSet, 4);
  const double createDate = 45000.5;  // a date as days since 1899-12-30
  uint64_t dateBits;
  std::memcpy(&dateBits, &createDate, sizeof dateBits);
  PutLE(file, 56, dateBits, 8);
  jpk.Bytes = EncipherJpkHeader(std::move(jpk.Bytes), sPassWord);
  return jpk;
}

std::string EncipherJpkHeader(std::string plainFile, const std::string& sPassWord) {
  const size_t n = std::min<size_t>(plainFile.size(), 80);
  std::string head(80, '\0');
  plainFile.copy(head.data(), n);
  if (std::optional<std::string> enciphered = DecodeDcpBuf(AnsiFromUtf8(sPassWord), head.data(), 80))
    enciphered->copy(plainFile.data(), n);
  return plainFile;
}

std::string WriteWzlLibrary(const std::string& WzlPath, const TWzlFiles& files) {
  const std::string wzxPath = ExtractFilePath(WzlPath) + ExtractFileNameOnly(WzlPath) + ".wzx";
  WriteFileAtomic(WzlPath, files.Wzl);
  WriteFileAtomic(wzxPath, files.Wzx);
  return wzxPath;
}
