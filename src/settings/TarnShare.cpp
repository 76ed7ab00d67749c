#include "settings/TarnShare.h"

#include "platform/AsciiText.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/TextFile.h"
#include "platform/HUtil32.h"
#include "settings/IPAddrFilter.h"
#include "settings/ResourceList.h"

namespace {

const char kInitialTitle[] = "Varrow微端";
constexpr uint16_t kInitialPort = 8800;
const char kInitialWClientDir[] = "Resources";
const char kInitialWClientPass[] = "418K7_p2593";
constexpr uint16_t kInitialBandwidth = 100;

const char kSetup[] = "Setup";

}  // namespace

std::string g_sTitle = kInitialTitle;
std::atomic<uint16_t> g_nServerPort{kInitialPort};
std::string g_sSearchDir;
std::string g_sWClientDir = kInitialWClientDir;
std::string g_sWClientPass = kInitialWClientPass;
std::atomic<uint16_t> g_nMaxBandwidth{kInitialBandwidth};
std::mutex g_ConfigLock;

std::string g_ResBaseDir;
std::string g_ResHumanDir;
std::string g_ResWeaponDIr;
std::string g_ResDataDir;
std::string g_ResMapDir;
std::string g_ResWavDir;
std::string g_MyDir;
const std::string g_sConfigFile = "./Config.ini";
const std::string g_sFileJpk = "./JpkList.txt";
const std::string g_sFileWzl = "./WzlList.txt";
const std::string g_sFileMap = "./MapList.txt";
const std::string g_sFileWav = "./WavList.txt";

TNameValueList g_JpkList;
std::vector<std::string> g_WzlList;
std::vector<std::string> g_MapList;
std::vector<std::string> g_WavList;
std::unordered_map<int32_t, std::time_t> g_IPaddrList;
TLogQueue g_ErrorList;


namespace {

// The derived directories start out set, like every other variable.
const bool g_ResDirsSet = (SetResDirs(kInitialWClientDir), true);

}  // namespace

void SetResDirs(const std::string& sResDir) {
  g_ResBaseDir = sResDir + "/";
  g_ResHumanDir = sResDir + "/Graphics/Human/";
  g_ResWeaponDIr = sResDir + "/Graphics/Weapon/";
  g_ResDataDir = sResDir + "/Data/";
  g_ResMapDir = sResDir + "/Map/";
  g_ResWavDir = sResDir + "/Wav/";
}

// ---- TNameValueList ----

int TNameValueList::IndexOfName(const std::string& name) const {
  const auto it = index_.find(LowerCaseAscii(name));
  return it == index_.end() ? -1 : static_cast<int>(it->second);
}

void TNameValueList::SetValue(const std::string& name, const std::string& value) {
  const auto [it, added] = index_.try_emplace(LowerCaseAscii(name), items_.size());
  if (added) {
    items_.push_back({name, value});
  } else {
    items_[it->second].Value = value;
  }
}

void TNameValueList::Delete(size_t index) {
  if (index >= items_.size()) return;
  index_.erase(LowerCaseAscii(items_[index].Name));
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
  for (size_t i = index; i < items_.size(); ++i) index_[LowerCaseAscii(items_[i].Name)] = i;
}

// ---- Log queue ----

void TLogQueue::Append(std::string line) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(std::move(line));
  }
  ready_.notify_all();
}

std::vector<std::string> TLogQueue::Drain() {
  std::vector<std::string> out;
  std::lock_guard<std::mutex> lock(mutex_);
  out.swap(lines_);
  return out;
}

std::vector<std::string> TLogQueue::WaitDrain(std::chrono::milliseconds timeout) {
  std::vector<std::string> out;
  std::unique_lock<std::mutex> lock(mutex_);
  ready_.wait_for(lock, timeout, [this] { return !lines_.empty(); });
  out.swap(lines_);
  return out;
}

void MainOutMessage(const std::string& sMsg) {
  g_ErrorList.Append("[" + NowDateTimeText() + "] " + sMsg);
}

void InitSharedState() {
  {
    std::lock_guard<std::mutex> lock(g_ConfigLock);
    g_sTitle = kInitialTitle;
    g_nServerPort = kInitialPort;
    g_sSearchDir.clear();
    g_sWClientDir = kInitialWClientDir;
    g_sWClientPass = kInitialWClientPass;
    g_nMaxBandwidth = kInitialBandwidth;
    SetResDirs(kInitialWClientDir);
    g_MyDir.clear();
    g_JpkList.Clear();
    g_WzlList.clear();
    g_MapList.clear();
    g_WavList.clear();
    g_IPaddrList.clear();
  }
  g_ErrorList.Drain();
  ClearBlockIPLists();
}

// ---- Config.ini ----

bool ParsePortValue(std::string_view text, uint16_t& port) {
  int64_t value = 0;
  if (text.size() > 2 && StartsWithTextAscii(text, "0x")) {
    // Only digits may follow the prefix: no sign, no second prefix.
    const std::string_view digits = text.substr(2);
    if (digits.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos) return false;
    if (!TryStrToInt64(text, value)) return false;
  } else if (text.find_first_of("xX") != std::string_view::npos || !TryStrToInt64(text, value)) {
    return false;
  }
  port = static_cast<uint16_t>(static_cast<uint64_t>(value));
  return true;
}

namespace {

// The settings file as read; one that exists but cannot be read reads like a missing one.
TIniFile ReadableIni(const std::string& fileName) {
  try {
    return TIniFile(fileName);
  } catch (const EInOutError&) {
    return TIniFile(std::string());
  }
}

// Overwrites the values whose keys the file has.
void ReadSetup(const TIniFile& ini, TSetupValues& v) {
  v.Title = ini.ReadString(kSetup, "Title", v.Title);
  ParsePortValue(ini.ReadString(kSetup, "Port", std::to_string(v.Port)), v.Port);
  v.SearchDir = ini.ReadString(kSetup, "SearchDir", v.SearchDir);
  v.WClientDir = ini.ReadString(kSetup, "WClientDir", v.WClientDir);
  // A missing key keeps the password's bytes exactly, even ones with no UTF-8 form.
  if (ini.ValueExists(kSetup, "WClientPass")) {
    v.WClientPass = AnsiFromUtf8(ini.ReadString(kSetup, "WClientPass", {}));
  }
}

}  // namespace

void LoadConfig() {
  const TIniFile ini = ReadableIni(g_sConfigFile);
  std::lock_guard<std::mutex> lock(g_ConfigLock);
  TSetupValues v{g_sTitle, g_nServerPort.load(), g_sSearchDir, g_sWClientDir, g_sWClientPass};
  ReadSetup(ini, v);
  g_sTitle = v.Title;
  g_nServerPort = v.Port;
  g_sSearchDir = v.SearchDir;
  g_sWClientDir = v.WClientDir;
  g_sWClientPass = v.WClientPass;
}

TSetupValues ReadConfigFile(const std::string& fileName) {
  TSetupValues v{kInitialTitle, kInitialPort, {}, kInitialWClientDir, kInitialWClientPass};
  ReadSetup(ReadableIni(fileName), v);
  return v;
}

namespace {

// The settings file with its other lines, to be updated; a file that exists but cannot be read
// is a failed write.
TIniFile OpenConfigForUpdate() {
  try {
    return TIniFile(g_sConfigFile);
  } catch (const EInOutError&) {
    throw EInOutError("Unable to write to " + g_sConfigFile);
  }
}

}  // namespace

void SaveConfig() {
  TIniFile ini = OpenConfigForUpdate();
  ini.WriteString(kSetup, "Title", g_sTitle);
  ini.WriteString(kSetup, "Port", std::to_string(g_nServerPort.load()));
  ini.WriteString(kSetup, "SearchDir", g_sSearchDir);
  ini.WriteString(kSetup, "WClientDir", g_sWClientDir);
  ini.WriteString(kSetup, "WClientPass", Utf8FromAnsi(g_sWClientPass));
  ini.UpdateFile();
}

// ---- Resource list files ----

bool ParseJpkListLine(const std::string& line, TNameValue& pair) {
  if (line.empty() || line[0] == ';') return false;
  // Cut as code-page bytes: a double-byte character whose second byte is "|" is cut there.
  std::string name;
  std::string password;
  const std::string rest = GetValidStr32(AnsiFromUtf8(line), name, "|\t");
  GetValidStr32(rest, password, "|\t");
  if (name.empty() || password.empty()) return false;
  pair.Name = Utf8FromAnsi(name);
  pair.Value = Utf8FromAnsi(password);
  return true;
}

std::vector<TNameValue> ReadJpkListFile(const std::string& fileName) {
  std::vector<TNameValue> pairs;
  if (!FileExists(fileName)) return pairs;
  TNameValue pair;
  for (const std::string& line : ReadTextLines(fileName)) {
    if (ParseJpkListLine(line, pair)) pairs.push_back(pair);
  }
  return pairs;
}

std::vector<std::string> ReadLibListFile(const std::string& fileName) {
  return FileExists(fileName) ? ReadTextLines(fileName) : std::vector<std::string>();
}

void LoadJpkList() {
  if (!FileExists(g_sFileJpk)) return;
  const std::vector<TNameValue> pairs = ReadJpkListFile(g_sFileJpk);
  std::lock_guard<std::mutex> lock(g_ConfigLock);
  for (const TNameValue& p : pairs) g_JpkList.SetValue(p.Name, p.Value);
}

void SaveJpkList() {
  std::vector<std::string> lines;
  lines.reserve(g_JpkList.Count());
  for (const TNameValue& p : g_JpkList.Items()) lines.push_back(p.Name + "|" + p.Value);
  WriteTextLines(g_sFileJpk, lines);
}

namespace {

struct TLibListFile {
  std::vector<std::string>* List;
  const std::string* FileName;
};

// The list and file of a kind number; List is null for an unknown kind.
TLibListFile LibListOf(uint8_t nType) {
  if (nType > LibListType(TResourceList::Wav)) return {nullptr, nullptr};
  switch (LibListOfType(nType)) {
    case TResourceList::Wzl: return {&g_WzlList, &g_sFileWzl};
    case TResourceList::Map: return {&g_MapList, &g_sFileMap};
    case TResourceList::Wav: return {&g_WavList, &g_sFileWav};
    case TResourceList::Jpk: break;
  }
  return {nullptr, nullptr};
}

}  // namespace

void LoadLibList(uint8_t nType) {
  const TLibListFile lib = LibListOf(nType);
  if (lib.List == nullptr) return;
  std::vector<std::string> lines = ReadLibListFile(*lib.FileName);
  std::lock_guard<std::mutex> lock(g_ConfigLock);
  lib.List->swap(lines);
}

void SaveLibList(uint8_t nType) {
  const TLibListFile lib = LibListOf(nType);
  if (lib.List == nullptr || lib.List->empty()) return;
  WriteTextLines(*lib.FileName, *lib.List);
}
