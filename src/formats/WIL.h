// The image library base: library kinds, the records handed to game clients, the per-library lock,
// the debug file, and the factory that opens a library file by its name. A library reads its files
// through the file source it was made with, which must outlive it.
// Threads: one thread creates and initialises a library before publishing it; from then on any
// number of threads may call GetWClientHeader and GetWClientImage at once. Blocks and records
// returned by a library belong to the caller.
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/ReadFile.h"

// Records are copied to and from file and wire bytes as they stand in memory.
static_assert(std::endian::native == std::endian::little);

enum class TImageMode : uint8_t {
  Tarn2Wil = 0,  // library file never read
  Tarn2Wzl = 1,
  Tarn2Wis = 2,
  Tarn2Jpk = 3,
  Tarn2Jpkv2 = 4,
  TarnMap = 5,
  TarnWav = 6,
};

inline constexpr int32_t WClientVer = 220112;

// Bytes per bitmap row, rounded up to a multiple of 4.
int32_t WidthBytes(int32_t nBit, int32_t nWidth);

// First 8 bytes of every header block.
struct TWMUpdateHeader {
  int32_t nType;
  int32_t nVer;
};
static_assert(sizeof(TWMUpdateHeader) == 8);

// In TWImage only the checksum slot: bytes 0..3 carry the CRC-32 of the image bytes.
struct TWMImageInfo {
  int16_t nWidth;
  int16_t nHeight;
  int16_t px;
  int16_t py;
  uint32_t bits;  // a 32-bit pointer in the wire layout; always 0
};
static_assert(sizeof(TWMImageInfo) == 12);

// Stored header of one WZL entry; the entry's data follows it at once.
struct TWzlImageInfo {
  uint8_t BitMode;  // 5: 16 bits per pixel, anything else 8
  uint8_t unKnow1[3];
  int16_t nWidth;
  int16_t nHeight;
  int16_t wPx;
  int16_t wPy;
  uint32_t nZipSize;  // 0: unpacked rows; else the packed length
};
static_assert(sizeof(TWzlImageInfo) == 16);

// Stored header of one JPK entry; `nSize` data bytes follow it at once.
struct TJpkImageInfo {
  uint8_t BitCount;
  uint8_t Zip;
  int16_t nWidth;
  int16_t nHeight;
  int16_t Px;
  int16_t Py;
  uint8_t Align1[2];
  int32_t nSize;
  uint8_t boAlpha;
  uint8_t Align2[3];
};
static_assert(sizeof(TJpkImageInfo) == 20);

// The 64-byte record sent in front of an image's bytes. Three forms: absent entry (nType,
// nOffSet), empty image (plus the stored entry header), full record (plus nIndex, the CRC-32 in
// bytes 44..47 and nSize). Every other byte is zero.
struct TWImage {
  int32_t nType;
  int32_t nIndex;
  TWzlImageInfo WzlInfo;
  TJpkImageInfo JpkInfo;
  TWMImageInfo WilInfo;
  int32_t nOffSet;
  int32_t nSize;
};
static_assert(sizeof(TWImage) == 64);
static_assert(offsetof(TWImage, WzlInfo) == 8 && offsetof(TWImage, JpkInfo) == 24 &&
              offsetof(TWImage, WilInfo) == 44 && offsetof(TWImage, nOffSet) == 56 &&
              offsetof(TWImage, nSize) == 60);

// One per-image cache slot; no reader fills one, Finalize and ClearCache empty them.
struct TDXImage {
  int16_t npx = 0;
  int16_t npy = 0;
  std::unique_ptr<uint8_t[]> Buffer;
  int32_t nSize = 0;
};

// A named lock; every library's is named "TWMImages". Never taken recursively.
class TMyLock {
 public:
  explicit TMyLock(std::string strId) : m_id(std::move(strId)) {}
  void Enter() {
    m_waiting.fetch_add(1);
    m_crits.lock();
    m_waiting.fetch_sub(1);
  }
  // Takes the lock only when it is free and nobody waits for it: a taker that never waits (an event
  // loop) must not overtake, again and again, the threads that do.
  bool TryEnter() { return m_waiting.load() == 0 && m_crits.try_lock(); }
  void Leave() { m_crits.unlock(); }
  // So std::lock_guard can hold it.
  void lock() { Enter(); }
  void unlock() { Leave(); }
  bool try_lock() { return TryEnter(); }
  const std::string& Id() const { return m_id; }

 private:
  std::mutex m_crits;
  std::atomic<int> m_waiting{0};
  std::string m_id;
};

// Base of the WZL and JPK readers. Header, index and count are fixed once Initialize returns.
class TWMImages {
 public:
  explicit TWMImages(const TFileSource& files = OsFiles());
  virtual ~TWMImages();
  TWMImages(const TWMImages&) = delete;
  TWMImages& operator=(const TWMImages&) = delete;

  // Opens the library and loads its header and index; on an initialised library it runs Finalize
  // instead. Throws EInOutError for an empty file name or a file that cannot be opened.
  virtual void Initialize() {}
  // Empties the cache slots and closes the file; keeps header and index.
  virtual void Finalize();
  void ClearCache();

  // The header block (TWMUpdateHeader, the library's header, its index), or nothing. No lock.
  virtual std::optional<std::string> GetWClientHeader() const { return std::nullopt; }
  // The record of image `nIndex`, or nothing; `Buffer` receives the image bytes of a full record
  // and is empty otherwise. Serialised per library. Throws EInOutError when the file cannot be read.
  std::optional<TWImage> GetWClientImage(std::string& Buffer, int32_t nIndex);
  // The same read when it needs no wait: `wouldWait` turns true, and nothing comes back, when
  // another reader holds the library, a read would wait for the disk, or an entry is corrupt (its
  // report writes a file); GetWClientImage then gives the answer.
  std::optional<TWImage> GetWClientImageNoWait(std::string& Buffer, int32_t nIndex, bool& wouldWait);

  TImageMode ImageMode() const { return FImageMode; }
  // Images served: the header's count, or the index entries the file holds when it holds fewer.
  int32_t ImageCount() const { return FImageCount; }
  const std::string& FileName() const { return FFileName; }
  void SetFileName(std::string value) { FFileName = std::move(value); }
  const std::string& IndexFileName() const { return FIndexFileName; }
  // MD5 text of the raw index entries; empty until an index is loaded.
  const std::string& IndexesHash() const { return FIndexesHash; }
  bool Initized() const { return FInitized; }
  // Library files are opened read-only either way; without work mode a JPK library keeps slots.
  bool WorkMode() const { return FWorkMode; }
  void SetWorkMode(bool value) { FWorkMode = value; }
  // Size of the open library file, 0 when none is open.
  uint64_t FileSize() const { return FDataFileSize; }
  size_t CacheSlotCount() const { return ImgArr.size(); }

 protected:
  // How a reader's entries are stored.
  struct TEntryFormat {
    uint32_t HeaderSize;   // 16 or 20; positions below it mean "no entry"
    size_t InfoOffset;     // where the stored header goes in the record (WzlInfo or JpkInfo)
    bool AbsentKeepsPos;   // whether the absent-entry record carries the position
    // Data length after the header; nothing when width × height is 0 (an empty image).
    std::optional<int64_t> (*DataLength)(const uint8_t* header);
  };

  virtual void LoadIndex() = 0;
  // How this reader's entries are stored; none for a kind without client records.
  virtual const TEntryFormat* ClientFormat() const { return nullptr; }

  // First steps of every Initialize: false when it ran Finalize instead. Throws on an empty name.
  bool BeginInitialize();
  void OpenDataFile();
  // Reads up to `len` bytes at `pos` into a zero-filled `buf`; returns the number read, nothing
  // when `noWait` and the read would wait.
  std::optional<size_t> ReadRecord(uint64_t pos, void* buf, size_t len, bool noWait = false) const;
  // The stored image count, or the whole entries of `entrySize` bytes that `fileSize` holds from
  // `indexStart` on when the stored count is negative or larger (reported once).
  int32_t HeldImageCount(int64_t stored, uint64_t indexStart, uint64_t fileSize, uint32_t entrySize);
  void AllocateCacheSlots();
  // TWMUpdateHeader, then the library's own header, then its index bytes.
  std::string MakeHeaderBlock(const void* header, size_t headerSize, std::string_view index) const;
  // With `wouldWait` set, never waits (see GetWClientImageNoWait).
  std::optional<TWImage> ReadClientImage(std::string& Buffer, int32_t nIndex, const TEntryFormat& f,
                                         bool* wouldWait);

  const TFileSource& FFiles;
  TImageMode FImageMode = TImageMode::Tarn2Wil;
  std::unique_ptr<TMyLock> Lock;
  std::string FFileName;
  std::string FIndexFileName;
  std::string FIndexesHash;
  int32_t FImageCount = 0;
  bool FInitized = false;
  std::vector<TDXImage> ImgArr;
  std::vector<int32_t> m_IndexList;
  std::unique_ptr<TReadFile> m_FileStream;
  bool FWorkMode = false;

 private:
  void ReportCorruptEntry(int32_t nIndex, int32_t pos, int64_t len);

  uint64_t FDataFileSize = 0;                 // fixed when the file is opened
  std::unordered_set<int32_t> FReportedEntries;  // under Lock
};

// Appends "<date time> <msg>" to ./GameImageDaebug.txt in code page 936. Safe from any thread;
// a failure to write is swallowed (the debug file must never break serving).
void Debug_View(const std::string& msg);

// Turns the debug file off (or on again) for the whole process; on from the start. For programs
// that open libraries by the million and want no file written (the fuzz targets).
void SetDebugFileEnabled(bool on);
bool DebugFileEnabled();

// Opens the library file `FileName` (or FileName + ".JPK", then + ".WZL" when it does not exist)
// in `files` with the reader its extension names. Nothing when no such file exists or its extension
// names neither kind. A JPK library comes back even when its password is wrong: check PasswordOk().
// Throws EInOutError when the file cannot be opened; no object is left then.
std::unique_ptr<TWMImages> InitializeGameImage(const std::string& FileName,
                                               const std::string& sPassWord, bool WorkMode,
                                               const TFileSource& files = OsFiles());

// What opening a listed library for a check finds; Error holds the text of a failed open.
enum class TLibraryCheck { Usable, NoLibrary, WrongPassword, Unreadable };
struct TLibraryCheckResult {
  TLibraryCheck Kind;
  std::string Error;
};
// Opens and releases the library as a load pass would. Any thread. Errors other than a failed open
// (an allocation sized by a damaged file) are raised.
TLibraryCheckResult CheckLibraryFile(const std::string& FileName, const std::string& sPassWord,
                                     const TFileSource& files = OsFiles());
