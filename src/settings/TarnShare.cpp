#include "settings/TarnShare.h"

#include "formats/MD5.h"
#include "platform/AsciiText.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/TextFile.h"
#include "settings/HUtil32.h"
#include "settings/IPAddrFilter.h"

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
std::string g_sWClientUrl;
const std::string g_sDefaultPassWord = "vW9#k2Lq7";
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

std::atomic<uint64_t> g_nDataMemory{0};
std::atomic<uint64_t> g_nDataRead{0};
std::atomic<uint64_t> g_nDataSend{0};
std::atomic<uint64_t> g_nDataSec{0};
std::atomic<uint64_t> g_nDataRead404{0};

std::shared_ptr<TGameLib> g_GameLib;
std::shared_ptr<TNuvoHttpServer> g_NuvoClientServer;
std::atomic<bool> g_boStart{false};

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
    g_sWClientUrl.clear();
    g_JpkList.Clear();
    g_WzlList.clear();
    g_MapList.clear();
    g_WavList.clear();
    g_IPaddrList.clear();
  }
  g_ErrorList.Drain();
  for (auto* counter : {&g_nDataMemory, &g_nDataRead, &g_nDataSend, &g_nDataSec, &g_nDataRead404}) {
    *counter = 0;
  }
  g_GameLib.reset();
  g_NuvoClientServer.reset();
  g_boStart = false;
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
TIniFile ReadConfigFile() {
  try {
    return TIniFile(g_sConfigFile);
  } catch (const EInOutError&) {
    return TIniFile(std::string());
  }
}

}  // namespace

void LoadConfig() {
  const TIniFile ini = ReadConfigFile();
  std::lock_guard<std::mutex> lock(g_ConfigLock);
  g_sTitle = ini.ReadString(kSetup, "Title", g_sTitle);
  uint16_t port = g_nServerPort;
  ParsePortValue(ini.ReadString(kSetup, "Port", std::to_string(port)), port);
  g_nServerPort = port;
  g_sSearchDir = ini.ReadString(kSetup, "SearchDir", g_sSearchDir);
  g_sWClientDir = ini.ReadString(kSetup, "WClientDir", g_sWClientDir);
  // A missing key keeps the password's bytes exactly, even ones with no UTF-8 form.
  if (ini.ValueExists(kSetup, "WClientPass")) {
    g_sWClientPass = AnsiFromUtf8(ini.ReadString(kSetup, "WClientPass", {}));
  }
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

void LoadJpkList() {
  if (!FileExists(g_sFileJpk)) return;
  std::vector<TNameValue> pairs;
  TNameValue pair;
  for (const std::string& line : ReadTextLines(g_sFileJpk)) {
    if (ParseJpkListLine(line, pair)) pairs.push_back(pair);
  }
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
  switch (nType) {
    case 0: return {&g_WzlList, &g_sFileWzl};
    case 1: return {&g_MapList, &g_sFileMap};
    case 2: return {&g_WavList, &g_sFileWav};
    default: return {nullptr, nullptr};
  }
}

}  // namespace

void LoadLibList(uint8_t nType) {
  const TLibListFile lib = LibListOf(nType);
  if (lib.List == nullptr) return;
  std::vector<std::string> lines;
  if (FileExists(*lib.FileName)) lines = ReadTextLines(*lib.FileName);
  std::lock_guard<std::mutex> lock(g_ConfigLock);
  lib.List->swap(lines);
}

void SaveLibList(uint8_t nType) {
  const TLibListFile lib = LibListOf(nType);
  if (lib.List == nullptr || lib.List->empty()) return;
  WriteTextLines(*lib.FileName, *lib.List);
}

// ---- Request token ----

namespace {

// The whole key acts through one byte.
uint8_t TokenKeyByte(const std::array<uint8_t, 16>& k) {
  const uint8_t param1 = k[4] ^ k[2] ^ (k[3] & k[1]);
  const uint8_t param2 = k[6] ^ k[5] ^ (k[7] & k[8]);
  return param1 ^ param2;
}

}  // namespace

std::string SimpleDeStringMsg(std::string_view Src, const std::array<uint8_t, 16>& KeyBytes) {
  std::string result;
  if (Src.empty()) return result;
  const uint8_t key = TokenKeyByte(KeyBytes);
  result.resize(Src.size() / 2);
  for (size_t i = 0; i < result.size(); ++i) {
    const int pair = 16 * HexDigitValue(Src[2 * i]) + HexDigitValue(Src[2 * i + 1]);
    result[i] = static_cast<char>(static_cast<uint8_t>(pair - 3) ^ key);
  }
  return result;
}

std::string SimpleEnStringMsg(std::string_view Plain, const std::array<uint8_t, 16>& KeyBytes) {
  static const char kHex[] = "0123456789ABCDEF";
  const uint8_t key = TokenKeyByte(KeyBytes);
  std::string token;
  token.reserve(Plain.size() * 2);
  for (char c : Plain) {
    const uint8_t v = static_cast<uint8_t>((static_cast<uint8_t>(c) ^ key) + 3);
    token += kHex[v >> 4];
    token += kHex[v & 15];
  }
  return token;
}

// ---- Checksum helpers ----

int32_t WidthBytes(int32_t nBit, int32_t nWidth) {
  const uint32_t bits = static_cast<uint32_t>(nWidth) * static_cast<uint32_t>(nBit) + 31u;
  return static_cast<int32_t>((bits >> 5) << 2);
}

std::string CheckBufferMd5(const void* Input, int32_t nStartPos, int32_t nCheckSize) {
  if (Input == nullptr || nStartPos < 0 || nCheckSize < 0) return {};
  return MD5Print(MD5Input(static_cast<const uint8_t*>(Input) + nStartPos,
                           static_cast<uint32_t>(nCheckSize)));
}
