#include "settings/IPAddrFilter.h"

#include <utility>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Inet.h"
#include "platform/TextFile.h"
#include "settings/HUtil32.h"

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

bool ParseIPArea(const std::string& text, TIPArea& area) {
  std::string low;
  const std::string high = GetValidStr32(AnsiFromUtf8(text), low, "-");
  area.Low = ReverseIP(InetAddr(low));
  area.High = ReverseIP(InetAddr(high));
  if (area.Low == kNone || area.High == kNone) return false;
  if (area.Low > area.High) std::swap(area.Low, area.High);
  return true;
}

void LoadBlockIPList() {
  CreateEmptyFileIfMissing(g_sFileBlockIP);
  g_BlockIPList.clear();
  for (const std::string& line : ReadTextLines(g_sFileBlockIP)) {
    if (line.empty()) continue;
    const uint32_t value = InetAddr(AnsiFromUtf8(line));
    if (value != kNone) g_BlockIPList.push_back({line, static_cast<int32_t>(value)});
  }
}

void SaveBlockIPList() {
  SaveTexts(g_sFileBlockIP, g_BlockIPList, [](const TBlockIP& e) -> const std::string& { return e.sIP; });
}

void LoadBlockIPAreaList() {
  CreateEmptyFileIfMissing(g_sFileBlockIPArea);
  g_BlockIPAreaList.clear();
  for (const std::string& line : ReadTextLines(g_sFileBlockIPArea)) {
    TIPArea area{};
    if (line.empty() || !ParseIPArea(line, area)) continue;
    g_BlockIPAreaList.push_back({line, std::make_shared<TIPArea>(area)});
  }
}

void SaveBlockIPAreaList() {
  SaveTexts(g_sFileBlockIPArea, g_BlockIPAreaList,
            [](const TBlockIPArea& e) -> const std::string& { return e.sText; });
}
