#include "catalogue/PassReport.h"

size_t TPassReport::Count(TEntryState state) const {
  size_t n = 0;
  for (const TPassEntry& e : Entries) n += e.State == state ? 1 : 0;
  return n;
}

uint64_t TPassReport::StoredBytes() const {
  uint64_t bytes = 0;
  for (const TPassEntry& e : Entries) bytes += e.State == TEntryState::Stored ? e.Bytes : 0;
  return bytes;
}
