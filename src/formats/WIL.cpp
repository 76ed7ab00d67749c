#include "formats/WIL.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>

#include "formats/CnCRC32.h"
#include "formats/Jpk.h"
#include "formats/Wzl.h"
#include "platform/AsciiText.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

namespace {

const char kDebugFile[] = "./GameImageDaebug.txt";

std::mutex& DebugFileLock() {
  static std::mutex lock;
  return lock;
}

std::atomic<bool> g_DebugFileOn{true};

}  // namespace

void SetDebugFileEnabled(bool on) { g_DebugFileOn.store(on, std::memory_order_relaxed); }

bool DebugFileEnabled() { return g_DebugFileOn.load(std::memory_order_relaxed); }

void Debug_View(const std::string& msg) {
  if (!DebugFileEnabled()) return;
  const std::string line = AnsiFromUtf8(NowDateTimeText() + " " + msg) + "\r\n";
  std::lock_guard guard(DebugFileLock());
  try {
    AppendFileBytes(kDebugFile, line);
  } catch (const EInOutError&) {
  }
}

TWMImages::TWMImages(const TFileSource& files) : FFiles(files), Lock(std::make_unique<TMyLock>("TWMImages")) {}

TWMImages::~TWMImages() = default;

// Freeing the slots and closing a read-only file cannot fail, so there is nothing to report.
void TWMImages::Finalize() {
  ClearCache();
  m_FileStream.reset();
  FDataFileSize = 0;
  FInitized = false;
}

void TWMImages::ClearCache() {
  for (TDXImage& slot : ImgArr) slot.Buffer.reset();
}

bool TWMImages::BeginInitialize() {
  if (FInitized) {
    Finalize();
    return false;
  }
  if (FFileName.empty()) throw EInOutError("FileName not assigned..");
  return true;
}

void TWMImages::OpenDataFile() {
  if (!m_FileStream) m_FileStream = FFiles.Open(FFileName);
  FDataFileSize = m_FileStream->Size();
}

std::optional<size_t> TWMImages::ReadRecord(uint64_t pos, void* buf, size_t len, bool noWait) const {
  std::memset(buf, 0, len);
  if (!m_FileStream) return 0;
  return noWait ? m_FileStream->ReadAtNoWait(pos, buf, len) : m_FileStream->ReadAt(pos, buf, len);
}

int32_t TWMImages::HeldImageCount(int64_t stored, uint64_t indexStart, uint64_t fileSize,
                                  uint32_t entrySize) {
  const uint64_t avail = fileSize > indexStart ? fileSize - indexStart : 0;
  const uint64_t held = std::min<uint64_t>(avail / entrySize, INT32_MAX / entrySize);
  if (stored >= 0 && static_cast<uint64_t>(stored) <= held) return static_cast<int32_t>(stored);
  Debug_View(FFileName + " TWMImages.LoadIndex " + std::to_string(stored) + " " +
             std::to_string(held));
  return static_cast<int32_t>(held);
}

void TWMImages::AllocateCacheSlots() {
  ImgArr.clear();
  ImgArr.resize(static_cast<size_t>(FImageCount));
}

std::string TWMImages::MakeHeaderBlock(const void* header, size_t headerSize,
                                       std::string_view index) const {
  const TWMUpdateHeader head{static_cast<int32_t>(FImageMode), WClientVer};
  std::string block;
  block.reserve(sizeof head + headerSize + index.size());
  block.append(reinterpret_cast<const char*>(&head), sizeof head);
  block.append(static_cast<const char*>(header), headerSize);
  block.append(index);
  return block;
}

void TWMImages::ReportCorruptEntry(int32_t nIndex, int32_t pos, int64_t len) {
  if (!DebugFileEnabled() || !FReportedEntries.insert(nIndex).second) return;
  Debug_View(FFileName + " TWMImages.GetWClientImage " + std::to_string(nIndex) + " " +
             std::to_string(pos) + " " + std::to_string(len));
}

std::optional<TWImage> TWMImages::GetWClientImage(std::string& Buffer, int32_t nIndex) {
  if (const TEntryFormat* f = ClientFormat()) return ReadClientImage(Buffer, nIndex, *f, nullptr);
  Buffer.clear();
  return std::nullopt;
}

std::optional<TWImage> TWMImages::GetWClientImageNoWait(std::string& Buffer, int32_t nIndex, bool& wouldWait) {
  wouldWait = false;
  if (const TEntryFormat* f = ClientFormat()) return ReadClientImage(Buffer, nIndex, *f, &wouldWait);
  Buffer.clear();
  return std::nullopt;
}

std::optional<TWImage> TWMImages::ReadClientImage(std::string& Buffer, int32_t nIndex,
                                                  const TEntryFormat& f, bool* wouldWait) {
  Buffer.clear();
  std::unique_lock guard(*Lock, std::defer_lock);
  if (!wouldWait) {
    guard.lock();
  } else if (!guard.try_lock()) {
    *wouldWait = true;
    return std::nullopt;
  }
  // The caller that may wait reads again and reports what is corrupt.
  auto giveUp = [&]() -> std::optional<TWImage> {
    Buffer.clear();
    *wouldWait = true;
    return std::nullopt;
  };
  if (nIndex < 0 || static_cast<size_t>(nIndex) >= m_IndexList.size()) return std::nullopt;
  const int32_t pos = m_IndexList[static_cast<size_t>(nIndex)];
  TWImage rec{};
  rec.nType = static_cast<int32_t>(FImageMode);
  if (pos < static_cast<int32_t>(f.HeaderSize)) {
    if (f.AbsentKeepsPos) rec.nOffSet = pos;
    return rec;
  }
  uint8_t header[std::max(sizeof(TWzlImageInfo), sizeof(TJpkImageInfo))];
  const std::optional<size_t> got = ReadRecord(static_cast<uint64_t>(pos), header, f.HeaderSize, wouldWait != nullptr);
  if (!got) return giveUp();
  if (*got != f.HeaderSize) {
    // The file ends inside the entry header (it shrank after it was opened): no record, never
    // one made of zero bytes the file does not hold.
    if (wouldWait) return giveUp();
    ReportCorruptEntry(nIndex, pos, -1);
    return std::nullopt;
  }
  rec.nOffSet = pos;
  std::memcpy(reinterpret_cast<uint8_t*>(&rec) + f.InfoOffset, header, f.HeaderSize);
  const std::optional<int64_t> len = f.DataLength(header);
  if (!len) return rec;
  // A length the file cannot hold is a corrupt entry: never allocate or read for it.
  const uint64_t dataPos = static_cast<uint64_t>(pos) + f.HeaderSize;
  if (*len < 0 || *len > INT32_MAX || dataPos + static_cast<uint64_t>(*len) > FDataFileSize) {
    if (wouldWait) return giveUp();
    ReportCorruptEntry(nIndex, pos, *len);
    return std::nullopt;
  }
  Buffer.resize(static_cast<size_t>(*len));
  const std::optional<size_t> read = wouldWait ? m_FileStream->ReadAtNoWait(dataPos, Buffer.data(), Buffer.size())
                                               : m_FileStream->ReadAt(dataPos, Buffer.data(), Buffer.size());
  if (!read) return giveUp();
  if (*read != Buffer.size()) {
    // The file shrank after it was opened.
    if (wouldWait) return giveUp();
    Buffer.clear();
    ReportCorruptEntry(nIndex, pos, *len);
    return std::nullopt;
  }
  guard.unlock();  // the checksum is of the caller's copy
  const uint32_t crc = CRC32Calc(0, Buffer.data(), static_cast<uint32_t>(Buffer.size()));
  std::memcpy(&rec.WilInfo, &crc, sizeof crc);
  rec.nIndex = nIndex;
  rec.nSize = static_cast<int32_t>(*len);
  return rec;
}

std::unique_ptr<TWMImages> InitializeGameImage(const std::string& FileName,
                                               const std::string& sPassWord, bool WorkMode,
                                               const TFileSource& files) {
  enum class TKind { None, Jpk, Wzl };
  TKind kind = TKind::None;
  std::string name = FileName;
  if (files.Exists(FileName)) {
    // Containment, so ".JPKX" counts as JPK.
    const std::string ext = UpperCaseAscii(ExtractFileExt(FileName));
    if (ext.find("JPK") != std::string::npos) {
      kind = TKind::Jpk;
    } else if (ext.find("WZL") != std::string::npos) {
      kind = TKind::Wzl;
    }
  } else if (files.Exists(FileName + ".JPK")) {
    kind = TKind::Jpk;
    name += ".JPK";
  } else if (files.Exists(FileName + ".WZL")) {
    kind = TKind::Wzl;
    name += ".WZL";
  }
  std::unique_ptr<TWMImages> lib;
  if (kind == TKind::Jpk) {
    auto jpk = std::make_unique<TJpkLib>(files);
    jpk->SetPassWord(sPassWord);
    lib = std::move(jpk);
  } else if (kind == TKind::Wzl) {
    lib = std::make_unique<TTarn2Wzl>(files);
  } else {
    return nullptr;
  }
  lib->SetWorkMode(WorkMode);
  lib->SetFileName(name);
  lib->Initialize();
  return lib;
}

int32_t WidthBytes(int32_t nBit, int32_t nWidth) {
  const uint32_t bits = static_cast<uint32_t>(nWidth) * static_cast<uint32_t>(nBit) + 31u;
  return static_cast<int32_t>((bits >> 5) << 2);
}

TLibraryCheckResult CheckLibraryFile(const std::string& FileName, const std::string& sPassWord,
                                     const TFileSource& files) {
  std::unique_ptr<TWMImages> lib;
  try {
    lib = InitializeGameImage(FileName, sPassWord, true, files);
  } catch (const EInOutError& e) {
    return {TLibraryCheck::Unreadable, e.what()};
  }
  if (!lib) return {TLibraryCheck::NoLibrary, {}};
  const auto* jpk = dynamic_cast<const TJpkLib*>(lib.get());
  if (jpk && !jpk->PasswordOk()) return {TLibraryCheck::WrongPassword, {}};
  return {TLibraryCheck::Usable, {}};
}
