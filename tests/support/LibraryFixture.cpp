#include "support/LibraryFixture.h"
#include "support/FixtureBytes.h"

#include <zlib.h>


std::string AbsentRecordBytes(int32_t nType, int32_t nOffSet) {
  std::string out(64, '\0');
  PutLE(out, 0, static_cast<uint32_t>(nType), 4);
  PutLE(out, 56, static_cast<uint32_t>(nOffSet), 4);
  return out;
}

std::string EmptyRecordBytes(int32_t nType, std::string_view stored, int32_t nOffSet) {
  std::string out = AbsentRecordBytes(nType, nOffSet);
  stored.copy(out.data() + (stored.size() == 16 ? 8 : 24), stored.size());
  return out;
}

std::string FullRecordBytes(int32_t nType, int32_t nIndex, std::string_view stored,
                            std::string_view data, int32_t nOffSet) {
  std::string out = EmptyRecordBytes(nType, stored, nOffSet);
  PutLE(out, 4, static_cast<uint32_t>(nIndex), 4);
  PutLE(out, 44, ClientCrc(data), 4);
  PutLE(out, 60, static_cast<uint32_t>(data.size()), 4);
  return out;
}

std::string RecordBytes(const TWImage& rec) {
  return std::string(reinterpret_cast<const char*>(&rec), sizeof rec);
}

uint32_t ClientCrc(std::string_view data) {
  if (data.empty()) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}
