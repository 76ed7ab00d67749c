#include "formats/Wzl.h"

#include <cstring>

#include "platform/FileSystem.h"
#include "platform/HUtil32.h"
#include "formats/MD5.h"

namespace {

std::optional<int64_t> WzlDataLength(const uint8_t* header) {
  TWzlImageInfo info;
  std::memcpy(&info, header, sizeof info);
  if (int32_t{info.nWidth} * int32_t{info.nHeight} == 0) return std::nullopt;
  if (info.nZipSize != 0) return int64_t{info.nZipSize};
  return int64_t{info.nHeight} * WidthBytes(info.BitMode == 5 ? 16 : 8, info.nWidth);
}

}  // namespace

void TTarn2Wzl::Initialize() {
  if (!BeginInitialize()) return;
  if (FFiles.Exists(FFileName)) {
    OpenDataFile();
    FImageMode = TImageMode::Tarn2Wzl;
    ReadRecord(0, &FHeader, sizeof FHeader);
    FImageCount = FHeader.ImageCount;
    // Installations copied from Windows have mixed-case names.
    const std::string dir = ExtractFilePath(FFileName);
    const std::string name = ExtractFileNameOnly(FFileName) + ".wzx";
    FIndexFileName = FindFileNoCase(FFiles, dir, name);
    if (FIndexFileName.empty()) FIndexFileName = dir + name;
    LoadIndex();
    AllocateCacheSlots();
  }
  FInitized = true;
}

void TTarn2Wzl::LoadIndex() {
  m_IndexList.clear();
  std::unique_ptr<TReadFile> index;
  if (FFiles.Exists(FIndexFileName)) {
    try {
      index = FFiles.Open(FIndexFileName);
    } catch (const EInOutError&) {
    }
  }
  if (!index) {
    // No index holds no entries.
    FImageCount = 0;
    return;
  }
  FImageCount = HeldImageCount(FHeader.ImageCount, sizeof(TWzlIndexHeader), index->Size(), 4);
  std::string raw(static_cast<size_t>(FImageCount) * 4, '\0');
  // Positions the file no longer holds stay 0: absent.
  index->ReadAt(sizeof(TWzlIndexHeader), raw.data(), raw.size());
  m_IndexList.resize(static_cast<size_t>(FImageCount));
  if (!raw.empty()) std::memcpy(m_IndexList.data(), raw.data(), raw.size());
  FIndexesHash = CheckBufferMd5(raw.data(), 0, static_cast<int32_t>(raw.size()));
}

std::optional<std::string> TTarn2Wzl::GetWClientHeader() const {
  if (!FFiles.Exists(FIndexFileName)) return std::nullopt;
  std::string index;
  ReadWholeFile(FFiles, FIndexFileName, index);
  return MakeHeaderBlock(&FHeader, sizeof FHeader, index);
}

const TWMImages::TEntryFormat* TTarn2Wzl::ClientFormat() const {
  static constexpr TEntryFormat kFormat{sizeof(TWzlImageInfo), offsetof(TWImage, WzlInfo), false,
                                        WzlDataLength};
  return &kFormat;
}
