// Shared by the library tests, the stress test, the benchmark and the fuzzer: a scratch directory
// that is the current directory while it lives (the debug file is written there), and the 64
// record bytes a client must receive, built from the wire layout rather than from the reader.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "formats/WIL.h"

class TScratchDir {
 public:
  // Under /dev/shm when it exists, so the files stay in memory.
  explicit TScratchDir(bool enter = true);
  ~TScratchDir();
  TScratchDir(const TScratchDir&) = delete;
  TScratchDir& operator=(const TScratchDir&) = delete;
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  // What the debug file holds ("" when there is none).
  std::string DebugText() const;

 private:
  std::filesystem::path dir_;
  std::filesystem::path old_;
};

// The three forms of the record. `stored` is the entry header as stored in the library file:
// 16 bytes go to the WZL field, 20 to the JPK field.
std::string AbsentRecordBytes(int32_t nType, int32_t nOffSet);
std::string EmptyRecordBytes(int32_t nType, std::string_view stored, int32_t nOffSet);
std::string FullRecordBytes(int32_t nType, int32_t nIndex, std::string_view stored,
                            std::string_view data, int32_t nOffSet);
std::string RecordBytes(const TWImage& rec);
// The CRC clients get: CRC-32, or 0xFFFFFFFF for no bytes.
uint32_t ClientCrc(std::string_view data);
