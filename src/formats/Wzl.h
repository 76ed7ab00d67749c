// Reader of a WZL image library: the data file (.wzl) and its index file (.wzx) beside it.
// Threads as for every library (formats/WIL.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "formats/WIL.h"

// Head of the data file.
struct TWzlHeader {
  uint8_t TitleLen;
  char sTitle[40];
  uint8_t Align[3];
  int32_t ImageCount;
  int32_t i1;
  int32_t i2;
  int32_t i3;
  int32_t i4;
};
static_assert(sizeof(TWzlHeader) == 64 && offsetof(TWzlHeader, ImageCount) == 44);

// Head of the index file; the entry positions (int32 each) follow it.
struct TWzlIndexHeader {
  uint8_t TitleLen;
  char sTitle[40];
  uint8_t Align[3];
  int32_t IndexCount;  // not used: the data file's ImageCount rules
};
static_assert(sizeof(TWzlIndexHeader) == 48 && offsetof(TWzlIndexHeader, IndexCount) == 44);

class TTarn2Wzl : public TWMImages {
 public:
  explicit TTarn2Wzl(const TFileSource& files = OsFiles()) : TWMImages(files) {}
  // A data file that does not exist leaves a library that serves nothing.
  void Initialize() override;
  // The block is 72 bytes plus the index file as it is on disk now; nothing without index file.
  // Throws EInOutError when the index file cannot be read.
  std::optional<std::string> GetWClientHeader() const override;

  const TWzlHeader& Header() const { return FHeader; }

 protected:
  void LoadIndex() override;
  const TEntryFormat* ClientFormat() const override;

 private:
  TWzlHeader FHeader{};
};
