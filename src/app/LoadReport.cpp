#include "app/LoadReport.h"

#include "catalogue/uGameLib.h"
#include "formats/WIL.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

namespace {

// The check the file rules view makes, for a library the pass did not store.
std::string LibraryReason(const std::string& path, const std::string& password) {
  const TLibraryCheckResult check = CheckLibraryFile(path, password);
  switch (check.Kind) {
    case TLibraryCheck::Unreadable: return "无法读取: " + check.Error;
    case TLibraryCheck::NoLibrary: return "不是资源库文件";
    case TLibraryCheck::WrongPassword: return "密码错误";
    case TLibraryCheck::Usable: break;
  }
  return "无法读取";
}

TListedResource Look(const TGameLib& lib, const std::string& path, const std::string& key,
                     const std::string* password, TResourceList list) {
  TListedResource r{list, path, {}, FileSizeOf(path), {}};
  if (!FileExists(path)) {
    r.Reason = "文件不存在";
  } else if (list == TResourceList::Map || list == TResourceList::Wav) {
    const bool held = (list == TResourceList::Map ? lib.GetMap(key) : lib.GetWav(key)) != nullptr;
    if (!held) r.Reason = "无法读取";
  } else if (const auto held = lib.GetLib(key)) {
    if (list == TResourceList::Jpk) r.Hash = held->IndexesHash();
  } else {
    r.Reason = LibraryReason(path, password ? *password : std::string());
  }
  return r;
}

}  // namespace

std::vector<TListedResource> ListedResources(const TGameLib& lib, const TLoadLists& lists) {
  std::vector<TListedResource> out;
  const auto look = [&](const std::string& path, const std::string* password, TResourceList list) {
    if (path.empty()) return;  // not a resource
    out.push_back(Look(lib, path, AnsiFromUtf8(CatalogueKeyText(path, lists.SearchDir)), password, list));
  };
  for (const auto& [path, password] : lists.Jpk) look(path, &password, TResourceList::Jpk);
  for (const std::string& path : lists.Wzl) look(path, nullptr, TResourceList::Wzl);
  for (const std::string& path : lists.Maps) look(path, nullptr, TResourceList::Map);
  for (const std::string& path : lists.Wavs) look(path, nullptr, TResourceList::Wav);
  return out;
}

std::vector<std::string> NotLoadedLines(const std::vector<TListedResource>& resources) {
  std::vector<std::string> lines;
  size_t stored = 0;
  for (const TListedResource& r : resources) {
    if (r.Reason.empty()) {
      ++stored;
    } else {
      lines.push_back("未加载: " + r.Path + " (" + r.Reason + ")");
    }
  }
  lines.push_back("资源已加载 " + std::to_string(stored) + "/" + std::to_string(resources.size()));
  return lines;
}
