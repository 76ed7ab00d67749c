// The browser console's resource view: every entry of the last complete load pass's report as the
// file rules view words its state, with what the catalogue holds of it now. Any thread; reads the
// catalogue under its own locks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/PassReport.h"

class TGameLib;

struct TResourceRow {
  const char* List = "";  // "jpk", "wzl", "map", "wav"
  std::string Path;       // as listed (UTF-8)
  std::string State;      // "正常", "已卸载" (stored, since emptied), or why it was not stored
  bool Stored = false;    // the pass stored it
  int64_t Size = -1;      // bytes stored (a library's file, a map's or wav's stream); -1 when not stored
  std::string Hash;       // a held JPK library's index hash, else empty
};

// The rows of `report` against the catalogue `lib` as it stands.
std::vector<TResourceRow> ResourceRows(const TPassReport& report, const TGameLib& lib);
