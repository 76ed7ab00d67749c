// What a load pass left out: one line per listed resource the catalogue does not hold, with its
// path and the reason in the file rules view's words, then the count stored of listed. Written by
// the headless program after each complete pass; on the loader thread, reading only the catalogue
// and the lists that pass read. The same rows, with sizes and index hashes, feed the browser
// console's resource view.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TGameLib;
struct TLoadLists;

enum class TResourceList { Jpk, Wzl, Map, Wav };

// One listed resource after a pass.
struct TListedResource {
  TResourceList List = TResourceList::Jpk;
  std::string Path;    // as listed (UTF-8)
  std::string Reason;  // empty when the catalogue holds it; else as NotLoadedLines gives it
  int64_t Size = -1;   // the file's size in bytes; -1 when it cannot be examined
  std::string Hash;    // a held library's index hash (the index table's), else empty
};

// Every non-empty line of the four lists, in list order (JPK, WZL, maps, wavs).
std::vector<TListedResource> ListedResources(const TGameLib& lib, const TLoadLists& lists);

// "未加载: <path> (<reason>)" per listed resource not held, in list order, the reason being
// "文件不存在", "密码错误", "不是资源库文件" or "无法读取" (with the error when there is one); then
// "资源已加载 <stored>/<listed>".
std::vector<std::string> NotLoadedLines(const std::vector<TListedResource>& resources);
