#include "support/LibraryFixture.h"

#include <zlib.h>

namespace {

void PutLE(std::string& out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i));
}

}  // namespace

std::string AbsentRecordBytes(int32_t nType, int32_t nOffSet) {
  std::string out(64, '\0');
  PutLE(out, 0, static_cast<uint32_t>(nType));
  PutLE(out, 56, static_cast<uint32_t>(nOffSet));
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
  PutLE(out, 4, static_cast<uint32_t>(nIndex));
  PutLE(out, 44, ClientCrc(data));
  PutLE(out, 60, static_cast<uint32_t>(data.size()));
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
