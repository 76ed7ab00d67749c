#include "app/AdminResources.h"

#include "app/LoadReport.h"
#include "catalogue/uGameLib.h"
#include "formats/WIL.h"
#include "platform/CodePage.h"

namespace {

const char* ListName(TResourceList list) {
  switch (list) {
    case TResourceList::Jpk: return "jpk";
    case TResourceList::Wzl: return "wzl";
    case TResourceList::Map: return "map";
    case TResourceList::Wav: return "wav";
  }
  return "";
}

}  // namespace

std::vector<TResourceRow> ResourceRows(const TPassReport& report, const TGameLib& lib) {
  std::vector<TResourceRow> rows;
  rows.reserve(report.Entries.size());
  for (const TPassEntry& e : report.Entries) {
    TResourceRow row;
    row.List = ListName(e.List);
    row.Path = e.Path;
    row.Stored = e.State == TEntryState::Stored;
    if (!row.Stored) {
      row.State = NotLoadedReason(e);
      rows.push_back(std::move(row));
      continue;
    }
    row.Size = static_cast<int64_t>(e.Bytes);
    const std::string key = AnsiFromUtf8(e.Key);
    bool held = false;
    switch (e.List) {
      case TResourceList::Map: held = lib.GetMap(key) != nullptr; break;
      case TResourceList::Wav: held = lib.GetWav(key) != nullptr; break;
      case TResourceList::Jpk:
      case TResourceList::Wzl:
        if (const auto library = lib.GetLib(key)) {
          held = true;
          if (e.List == TResourceList::Jpk) row.Hash = library->IndexesHash();
        }
        break;
    }
    row.State = held ? "正常" : "已卸载";
    rows.push_back(std::move(row));
  }
  return rows;
}
