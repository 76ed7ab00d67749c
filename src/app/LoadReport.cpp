#include "app/LoadReport.h"


#include "catalogue/uGameLib.h"
#include "formats/WIL.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

namespace {

enum TList { kJpk, kWzl, kMap, kWav };

bool Held(const TGameLib& lib, const std::string& key, int list) {
  switch (list) {
    case kMap: return lib.GetMap(key) != nullptr;
    case kWav: return lib.GetWav(key) != nullptr;
    default: return lib.GetLib(key) != nullptr;
  }
}

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

// Empty when the resource is held.
std::string NotLoadedReason(const TGameLib& lib, const std::string& path, const std::string& key,
                            const std::string* password, int list) {
  if (!FileExists(path)) return "文件不存在";
  if (Held(lib, key, list)) return {};
  if (list == kMap || list == kWav) return "无法读取";
  return LibraryReason(path, password ? *password : std::string());
}

}  // namespace

std::vector<std::string> NotLoadedLines(const TGameLib& lib, const TLoadLists& lists) {
  std::vector<std::string> lines;
  size_t listed = 0, stored = 0;
  const auto look = [&](const std::string& path, const std::string* password, int list) {
    if (path.empty()) return;
    ++listed;
    const std::string key = AnsiFromUtf8(CatalogueKeyText(path, lists.SearchDir));
    const std::string reason = NotLoadedReason(lib, path, key, password, list);
    if (reason.empty()) {
      ++stored;
    } else {
      lines.push_back("未加载: " + path + " (" + reason + ")");
    }
  };
  for (const auto& [path, password] : lists.Jpk) look(path, &password, kJpk);
  for (const std::string& path : lists.Wzl) look(path, nullptr, kWzl);
  for (const std::string& path : lists.Maps) look(path, nullptr, kMap);
  for (const std::string& path : lists.Wavs) look(path, nullptr, kWav);
  lines.push_back("资源已加载 " + std::to_string(stored) + "/" + std::to_string(listed));
  return lines;
}
