#include "settings/IPAddrFilter.h"

#include <utility>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Inet.h"
#include "platform/TextFile.h"
#include "platform/HUtil32.h"

std::vector<TBlockIP> g_BlockIPList;
std::vector<TBlockIP> g_TempBlockIPList;
std::vector<TBlockIPArea> g_BlockIPAreaList;

const std::string g_sFileBlockIP = "./BlockIPList.txt";
const std::string g_sFileBlockIPArea = "./BlockIPAreaList.txt";

namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;

template <typename List, typename Text>
void SaveTexts(const std::string& file, const List& list, Text text) {
  std::vector<std::string> lines;
  for (const auto& entry : list) {
    if (!text(entry).empty()) lines.push_back(text(entry));
  }
  WriteTextLines(file, lines);
}

}  // namespace

uint32_t ReverseIP(uint32_t dwIP) {
  return (dwIP >> 24) | ((dwIP >> 8) & 0xFF00u) | ((dwIP << 8) & 0xFF0000u) | (dwIP << 24);
}

TIPAreaError CheckIPArea(const std::string& text, TIPArea& area) {
  std::string low;
  const std::string high = GetValidStr32(AnsiFromUtf8(text), low, "-");
  area.Low = ReverseIP(InetAddr(low));
  area.High = ReverseIP(InetAddr(high));
  if (area.Low == kNone) return TIPAreaError::Low;
  if (area.High == kNone) return TIPAreaError::High;
  if (area.Low > area.High) std::swap(area.Low, area.High);
  return TIPAreaError::None;
}

bool ParseIPArea(const std::string& text, TIPArea& area) {
  return CheckIPArea(text, area) == TIPAreaError::None;
}

void ClearBlockIPLists() {
  g_BlockIPList.clear();
  g_TempBlockIPList.clear();
  g_BlockIPAreaList.clear();
}

// Both loaders read the whole file before they touch the list, so a failed read keeps it.
void LoadBlockIPList() {
  CreateEmptyFileIfMissing(g_sFileBlockIP);
  std::vector<TBlockIP> list;
  for (std::string& line : ReadTextLines(g_sFileBlockIP)) {
    if (line.empty()) continue;
    const uint32_t value = InetAddr(AnsiFromUtf8(line));
    if (value != kNone) list.push_back({std::move(line), static_cast<int32_t>(value)});
  }
  g_BlockIPList = std::move(list);
}

void SaveBlockIPList() {
  SaveTexts(g_sFileBlockIP, g_BlockIPList, [](const TBlockIP& e) -> const std::string& { return e.sIP; });
}

void LoadBlockIPAreaList() {
  CreateEmptyFileIfMissing(g_sFileBlockIPArea);
  std::vector<TBlockIPArea> list;
  for (std::string& line : ReadTextLines(g_sFileBlockIPArea)) {
    TIPArea area{};
    if (line.empty() || !ParseIPArea(line, area)) continue;
    list.push_back({std::move(line), std::make_shared<TIPArea>(area)});
  }
  g_BlockIPAreaList = std::move(list);
}

void SaveBlockIPAreaList() {
  SaveTexts(g_sFileBlockIPArea, g_BlockIPAreaList,
            [](const TBlockIPArea& e) -> const std::string& { return e.sText; });
}
