// Reader of a JPK image library: one file whose 80-byte header is enciphered with the library's
// password, with a plain index and plain entries. Threads as for every library (formats/WIL.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "formats/WIL.h"
#include "formats/HashList.h"

// The password of a JPK library the operator has given none, 9 characters.
extern const std::string g_sDefaultPassWord;

// The header as deciphered.
struct TJpkHeader {
  uint8_t TitleLen;  // capacity 40
  char Title[40];
  uint8_t Align1[3];
  uint32_t Size;
  uint32_t ImageCount;
  uint32_t IndexOffSet;
  double CreateDate;
  uint8_t PassWordLen;  // capacity 8
  char PassWord[8];
  uint8_t Align2[7];
};
static_assert(sizeof(TJpkHeader) == 80 && offsetof(TJpkHeader, ImageCount) == 48 &&
              offsetof(TJpkHeader, CreateDate) == 56 && offsetof(TJpkHeader, PassWordLen) == 64);

// One index entry of a version-2 library.
struct TIndexHash {
  uint32_t Position;
  uint8_t HashDigest[16];
};
static_assert(sizeof(TIndexHash) == 20);

// Title words: the right password deciphers a title holding one of them.
inline constexpr std::string_view ANSTR = "GameLib";
inline constexpr std::string_view ANSTRv2 = "GameLib v2.0";

class TJpkLib : public TWMImages {
 public:
  explicit TJpkLib(const TFileSource& files = OsFiles());
  // A wrong or empty password leaves PasswordOk() false and the library uninitialised.
  void Initialize() override;
  // 88 bytes plus the raw index.
  std::optional<std::string> GetWClientHeader() const override;

  const std::string& PassWord() const { return FsPassWord; }
  void SetPassWord(std::string value) { FsPassWord = std::move(value); }
  bool PasswordOk() const { return FboPasswordOk; }
  const TJpkHeader& Header() const { return FHeader; }
  int32_t IndexLength() const { return FIndexLength; }
  // Version 2: the MD5 text of each entry's digest, with the entry's position.
  const THStringList2& HashTable() const { return FHashTable; }

 protected:
  void LoadIndex() override;
  const TEntryFormat* ClientFormat() const override;

 private:
  int32_t FIndexLength = 4;
  std::string FsPassWord;
  bool FboPasswordOk = false;
  TJpkHeader FHeader{};
  std::string FListStream;  // the raw index bytes as read
  THStringList2 FHashTable;
};
