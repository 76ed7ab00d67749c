#include "formats/Jpk.h"

#include <algorithm>
#include <cstring>

#include "formats/MD5.h"
#include "formats/uEncodeJpk.h"
#include "platform/CodePage.h"

namespace {

std::optional<int64_t> JpkDataLength(const uint8_t* header) {
  TJpkImageInfo info;
  std::memcpy(&info, header, sizeof info);
  if (int32_t{info.nWidth} * int32_t{info.nHeight} == 0) return std::nullopt;
  return int64_t{info.nSize};
}

}  // namespace

const std::string g_sDefaultPassWord = "vW9#k2Lq7";

TJpkLib::TJpkLib(const TFileSource& files) : TWMImages(files), FsPassWord(g_sDefaultPassWord) { FImageMode = TImageMode::Tarn2Jpk; }

void TJpkLib::Initialize() {
  if (!BeginInitialize()) return;
  if (!FFiles.Exists(FFileName)) return;
  OpenDataFile();
  uint8_t raw[sizeof(TJpkHeader)];
  ReadRecord(0, raw, sizeof raw);
  const std::optional<std::string> plain = DecodeDcpBuf(AnsiFromUtf8(FsPassWord), raw, sizeof raw);
  if (!plain) return;  // an empty password opens nothing
  std::memcpy(&FHeader, plain->data(), sizeof FHeader);
  // A wrong password deciphers to noise, whose length byte can exceed the field.
  const std::string_view title(FHeader.Title, std::min<size_t>(FHeader.TitleLen, sizeof FHeader.Title));
  if (title.find(ANSTRv2) != std::string_view::npos) {
    FImageMode = TImageMode::Tarn2Jpkv2;
  } else if (title.find(ANSTR) != std::string_view::npos) {
    FImageMode = TImageMode::Tarn2Jpk;
  } else {
    return;
  }
  FboPasswordOk = true;
  FImageCount = static_cast<int32_t>(FHeader.ImageCount);
  LoadIndex();
  if (!FWorkMode) AllocateCacheSlots();
  FInitized = true;
}

void TJpkLib::LoadIndex() {
  m_IndexList.clear();
  FListStream.clear();
  FHashTable.Clear();
  if (FImageMode == TImageMode::Tarn2Jpkv2) FIndexLength = 20;
  FImageCount = HeldImageCount(FImageCount, FHeader.IndexOffSet, FileSize(),
                               static_cast<uint32_t>(FIndexLength));
  const size_t InSize = static_cast<size_t>(FIndexLength) * static_cast<size_t>(FImageCount);
  if (InSize == 0) return;
  FListStream.resize(InSize);
  ReadRecord(FHeader.IndexOffSet, FListStream.data(), InSize);
  const bool hashed = FImageMode == TImageMode::Tarn2Jpkv2;
  m_IndexList.reserve(static_cast<size_t>(FImageCount));
  if (hashed) FHashTable.Reserve(static_cast<size_t>(FImageCount), static_cast<size_t>(FImageCount) * sizeof(MD5Text));
  MD5Text text;
  for (size_t at = 0; at < InSize; at += static_cast<size_t>(FIndexLength)) {
    TIndexHash entry{};
    std::memcpy(&entry, FListStream.data() + at, static_cast<size_t>(FIndexLength));
    if (hashed) {
      MD5Digest digest;
      std::memcpy(digest.data(), entry.HashDigest, digest.size());
      MD5PrintTo(digest, text);
      FHashTable.AddObject(std::string_view(text.data(), text.size()), entry.Position);
    }
    m_IndexList.push_back(static_cast<int32_t>(entry.Position));
  }
  FIndexesHash = CheckBufferMd5(FListStream.data(), 0, static_cast<int32_t>(InSize));
}

std::optional<std::string> TJpkLib::GetWClientHeader() const {
  return MakeHeaderBlock(&FHeader, sizeof FHeader, FListStream);
}

const TWMImages::TEntryFormat* TJpkLib::ClientFormat() const {
  static constexpr TEntryFormat kFormat{sizeof(TJpkImageInfo), offsetof(TWImage, JpkInfo), true,
                                        JpkDataLength};
  return &kFormat;
}
