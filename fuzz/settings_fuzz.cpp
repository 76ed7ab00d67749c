// The settings file and the four resource list files as the program reads them at start, from
// arbitrary bytes. Input: Config.ini, JpkList.txt, WzlList.txt, MapList.txt and WavList.txt cut at
// the separator line of FuzzSupport.h; an empty part is a missing file.
//
// Checks: no entry or setting holds a line break; JPK pairs are whole, hold no delimiter and have
// names unique without regard to case; settings saved and read again come back unchanged where the
// code page can hold them.
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "platform/CodePage.h"
#include "settings/TarnShare.h"

namespace {

using fuzz::Check;

const char* const kFiles[] = {"Config.ini", "JpkList.txt", "WzlList.txt", "MapList.txt", "WavList.txt"};

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

bool Representable(const std::string& utf8) { return Utf8FromAnsi(AnsiFromUtf8(utf8)) == utf8; }

struct TSettings {
  std::string Title, SearchDir, WClientDir, WClientPass;
  uint16_t Port = 0;
};

TSettings Current() {
  return {g_sTitle, g_sSearchDir, g_sWClientDir, g_sWClientPass, g_nServerPort.load()};
}

void CheckLists() {
  for (size_t i = 0; i < g_JpkList.Count(); ++i) {
    const TNameValue& p = g_JpkList[i];
    Check(!p.Name.empty() && !p.Value.empty());
    Check(p.Name.find_first_of("|\t\r\n") == std::string::npos);
    Check(p.Value.find_first_of("|\t\r\n") == std::string::npos);
    Check(g_JpkList.IndexOfName(p.Name) == static_cast<int>(i));
  }
  for (const std::vector<std::string>* list : {&g_WzlList, &g_MapList, &g_WavList}) {
    for (const std::string& line : *list) Check(!HasLineBreak(line));
  }
}

// A value the code page can hold survives a save and a new start; the port always does.
void CheckSavedAgain(const TSettings& before) {
  SaveConfig();
  InitSharedState();
  LoadConfig();
  const TSettings after = Current();
  Check(after.Port == before.Port);
  if (Representable(before.Title)) Check(after.Title == before.Title);
  if (Representable(before.SearchDir)) Check(after.SearchDir == before.SearchDir);
  if (Representable(before.WClientDir)) Check(after.WClientDir == before.WClientDir);
  if (Representable(Utf8FromAnsi(before.WClientPass))) Check(after.WClientPass == before.WClientPass);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string_view> files =
      fuzz::SplitFiles(std::string_view(reinterpret_cast<const char*>(data), size), std::size(kFiles));
  fuzz::TInScratchDir here;
  for (size_t i = 0; i < files.size(); ++i) {
    if (!files[i].empty()) {
      fuzz::WriteBytes(kFiles[i], files[i]);
    } else {
      ::unlink(kFiles[i]);
    }
  }
  InitSharedState();
  LoadConfig();
  LoadJpkList();
  for (uint8_t kind = 0; kind < 3; ++kind) LoadLibList(kind);

  CheckLists();
  const TSettings loaded = Current();
  for (const std::string* s : {&loaded.Title, &loaded.SearchDir, &loaded.WClientDir, &loaded.WClientPass})
    Check(!HasLineBreak(*s));
  CheckSavedAgain(loaded);
  return 0;
}
